#include "blocklist/ban_table.h"

#include <algorithm>
#include <tuple>

namespace bw {

namespace {

// The matching rule's own bounds: address > start - 1 and address < end + 1.
template <class E>
double lowBound(const E& e) {
    return e.start - 1;
}
template <class E>
double highBound(const E& e) {
    return e.end + 1;
}

// Whether the text lies inside the bytes, compared as addresses so that
// unrelated storage never counts.
bool liesIn(std::string_view text, std::string_view bytes) {
    auto first = reinterpret_cast<std::uintptr_t>(text.data());
    auto begin = reinterpret_cast<std::uintptr_t>(bytes.data());
    return !bytes.empty() && first >= begin && first + text.size() <= begin + bytes.size();
}

constexpr int kLoopbackBucket = 127;

bool isLoopback(double address) {
    return address >= 2130706432.0 && address < 2147483648.0;  // 127.0.0.0 to 127.255.255.255
}

}  // namespace

void BanTable::clear() {
    for (auto& b : buckets_) std::vector<Slot>().swap(b);
    size_ = 0;
    std::string().swap(fileBytes_);
    std::string().swap(addedText_);
    std::vector<KeptText>().swap(unreadLines_);
    index_.clear();
    indexedFirstRow_.fill(0);
    recent_.clear();
    indexCurrent_ = true;
    std::vector<Slot6>().swap(v6Slots_);
    v6ByFirst_.clear();
    v6ReachUpTo_.clear();
    v6IndexCurrent_ = true;
}

std::string_view BanTable::holdFileBytes(std::string bytes) {
    clear();
    fileBytes_ = std::move(bytes);
    return fileBytes_;
}

void BanTable::keepUnreadLine(std::string_view line) {
    unreadLines_.push_back({keep(line), static_cast<std::uint32_t>(line.size())});
}

std::vector<std::string_view> BanTable::unreadLines() const {
    std::vector<std::string_view> lines;
    lines.reserve(unreadLines_.size());
    for (KeptText kept : unreadLines_) lines.push_back(textAt(kept.at, kept.size));
    return lines;
}

void BanTable::reserve(const std::array<std::size_t, kBuckets>& entriesPerBucket) {
    for (int b = 0; b < kBuckets; ++b) buckets_[b].reserve(entriesPerBucket[b]);
}

std::uint32_t BanTable::keep(std::string_view text) {
    if (liesIn(text, fileBytes_)) {
        auto offset = static_cast<std::size_t>(text.data() - fileBytes_.data());
        if (offset + text.size() < kAddedBlock)
            return static_cast<std::uint32_t>(offset);
    }
    auto at = static_cast<std::uint32_t>(addedText_.size());
    addedText_.append(text);
    return at | kAddedBlock;
}

void BanTable::append(int bucket, const BanEntry& entry) {
    // An entry read from this table may show the added block, which growing moves.
    if (liesIn(entry.text, addedText_) || liesIn(entry.name, addedText_)) {
        const std::string text(entry.text);
        const std::string name(entry.name);
        append(bucket, {text, name, entry.start, entry.end});
        return;
    }
    Slot slot;
    slot.start = entry.start;
    slot.end = entry.end;
    slot.textAt = keep(entry.text);
    slot.textSize = static_cast<std::uint32_t>(entry.text.size());
    slot.nameSize = static_cast<std::uint32_t>(entry.name.size());
    // A name is nearly always the start of its own line: no second copy then.
    slot.nameAt = keepName(entry.name, slot.textAt, slot.textSize);
    buckets_[bucket].push_back(slot);
    ++size_;
    noteAppended({bucket, buckets_[bucket].size() - 1});
}

// A name is nearly always the start of its own line: no second copy then.
std::uint32_t BanTable::keepName(std::string_view name, std::uint32_t at, std::uint32_t size) {
    const std::string_view stored = textAt(at, size);
    return stored.substr(0, name.size()) == name ? at : keep(name);
}

void BanTable::append6(const BanEntry6& entry) {
    if (liesIn(entry.text, addedText_) || liesIn(entry.name, addedText_)) {
        const std::string text(entry.text);
        const std::string name(entry.name);
        append6({text, name, entry.first, entry.last});
        return;
    }
    Slot6 slot;
    slot.first = entry.first;
    slot.last = entry.last;
    slot.textAt = keep(entry.text);
    slot.textSize = static_cast<std::uint32_t>(entry.text.size());
    slot.nameSize = static_cast<std::uint32_t>(entry.name.size());
    slot.nameAt = keepName(entry.name, slot.textAt, slot.textSize);
    v6Slots_.push_back(slot);
    v6IndexCurrent_ = false;
}

bool BanTable::bucketHolds(int bucket, double start, double end) const {
    return std::any_of(buckets_[bucket].begin(), buckets_[bucket].end(),
                       [&](const Slot& e) { return e.start == start && e.end == end; });
}

void BanTable::remove(EntryRef ref) {
    if (ref.bucket == kIpv6Bucket) {
        v6Slots_.erase(v6Slots_.begin() + static_cast<std::ptrdiff_t>(ref.slot));
        v6IndexCurrent_ = false;
        return;
    }
    auto& b = buckets_[ref.bucket];
    b.erase(b.begin() + static_cast<std::ptrdiff_t>(ref.slot));
    --size_;
    forgetIndex();
}

EntryRef BanTable::refAtRow(std::size_t row) const {
    for (int b = 0; b < kBuckets; ++b) {
        if (row < buckets_[b].size())
            return {b, row};
        row -= buckets_[b].size();
    }
    if (row < v6Slots_.size())
        return {kIpv6Bucket, row};
    return {kBuckets, 0};
}

bool BanTable::holds(EntryRef ref) const {
    if (ref.bucket == kIpv6Bucket)
        return ref.slot < v6Slots_.size();
    return ref.bucket >= 0 && ref.bucket < kBuckets && ref.slot < buckets_[ref.bucket].size();
}

void BanTable::forgetIndex() {
    indexCurrent_ = false;
    recent_.clear();
}

// Few appends are cheaper to check one by one than to rebuild for; past the
// limit a rebuild pays for itself.
std::size_t BanTable::recentLimit() const {
    return 64 + size_ / 256;
}

void BanTable::noteAppended(EntryRef ref) {
    if (!indexCurrent_)
        return;
    if (recent_.size() >= recentLimit()) {
        forgetIndex();
        return;
    }
    const Slot& e = buckets_[ref.bucket][ref.slot];
    recent_.push_back({lowBound(e), highBound(e), ref});
}

void BanTable::buildIndex() const {
    std::vector<RangeIndex::Interval> intervals;
    intervals.reserve(size_);
    std::uint32_t row = 0;
    for (int b = 0; b < kBuckets; ++b) {
        indexedFirstRow_[b] = row;
        for (const Slot& e : buckets_[b]) intervals.push_back({lowBound(e), highBound(e), row++});
    }
    indexedFirstRow_[kBuckets] = row;
    index_.build(std::move(intervals));
    recent_.clear();
    indexCurrent_ = true;
}

EntryRef BanTable::refOfIndexedRow(std::uint32_t row) const {
    auto after = std::upper_bound(indexedFirstRow_.begin(), indexedFirstRow_.end(), row);
    int bucket = static_cast<int>(after - indexedFirstRow_.begin()) - 1;
    return {bucket, row - indexedFirstRow_[bucket]};
}

void BanTable::findMatches(double address, std::vector<EntryRef>& out) const {
    out.clear();
    if (!(address > 0))
        return;
    if (!indexCurrent_)
        buildIndex();

    // Rows number the indexed entries in table order, so sorted rows are table order.
    rowScratch_.clear();
    index_.stab(address, rowScratch_);
    std::sort(rowScratch_.begin(), rowScratch_.end());
    for (std::uint32_t row : rowScratch_) out.push_back(refOfIndexedRow(row));

    // Recent appends come after every indexed entry of their own bucket.
    for (const Recent& r : recent_) {
        if (address > r.lo && address < r.hi)
            out.push_back(r.ref);
    }
    if (!recent_.empty())
        std::sort(out.begin(), out.end());
    if (isLoopback(address))
        std::erase_if(out, [](EntryRef hit) { return hit.bucket != kLoopbackBucket; });
}

void BanTable::buildIndex6() const {
    v6ByFirst_.resize(v6Slots_.size());
    for (std::uint32_t i = 0; i < v6ByFirst_.size(); ++i) v6ByFirst_[i] = {v6Slots_[i].first, i};
    // The first bounds sit beside their slots, so the search reads one array.
    std::sort(v6ByFirst_.begin(), v6ByFirst_.end(), [](const Indexed6& a, const Indexed6& b) {
        return std::tie(a.first, a.slot) < std::tie(b.first, b.slot);
    });
    v6ReachUpTo_.resize(v6ByFirst_.size());
    Ipv6Number reach{};
    for (std::size_t i = 0; i < v6ByFirst_.size(); ++i) {
        reach = std::max(reach, v6Slots_[v6ByFirst_[i].slot].last);
        v6ReachUpTo_[i] = reach;
    }
    v6IndexCurrent_ = true;
}

void BanTable::findMatches6(Ipv6Number address, std::vector<EntryRef>& out) const {
    out.clear();
    if (!v6IndexCurrent_)
        buildIndex6();
    constexpr Ipv6Number kLoopback{0, 1};
    auto after =
        std::upper_bound(v6ByFirst_.begin(), v6ByFirst_.end(), address,
                         [](const Ipv6Number& a, const Indexed6& e) { return a < e.first; });
    for (auto i = static_cast<std::size_t>(after - v6ByFirst_.begin()); i > 0; --i) {
        if (v6ReachUpTo_[i - 1] < address)
            break;
        const Indexed6& e = v6ByFirst_[i - 1];
        const Slot6& s = v6Slots_[e.slot];
        if (s.last >= address && (address != kLoopback || s.first == kLoopback))
            out.push_back({kIpv6Bucket, e.slot});
    }
    std::sort(out.begin(), out.end());
}

void BanTable::findMatches(const IpAddress& address, std::vector<EntryRef>& out) const {
    if (address.isV4())
        findMatches(static_cast<double>(address.v4()), out);
    else
        findMatches6(address.v6(), out);
}

}  // namespace bw
