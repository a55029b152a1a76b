#include "blocklist/ban_table.h"

#include <algorithm>

namespace bw {

namespace {

// The matching rule's own bounds: address > start - 1 and address < end + 1.
double lowBound(const BanEntry& e) {
    return e.start - 1;
}
double highBound(const BanEntry& e) {
    return e.end + 1;
}

constexpr int kLoopbackBucket = 127;

bool isLoopback(double address) {
    return address >= 2130706432.0 && address < 2147483648.0;  // 127.0.0.0 to 127.255.255.255
}

}  // namespace

void BanTable::clear() {
    for (auto& b : buckets_) b.clear();
    size_ = 0;
    index_.clear();
    indexedFirstRow_.fill(0);
    recent_.clear();
    indexCurrent_ = true;
}

void BanTable::append(int bucket, BanEntry entry) {
    buckets_[bucket].push_back(std::move(entry));
    ++size_;
    noteAppended({bucket, buckets_[bucket].size() - 1});
}

void BanTable::remove(EntryRef ref) {
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
    return {kBuckets, 0};
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
    const BanEntry& e = at(ref);
    recent_.push_back({lowBound(e), highBound(e), ref});
}

void BanTable::buildIndex() const {
    std::vector<RangeIndex::Interval> intervals;
    intervals.reserve(size_);
    std::uint32_t row = 0;
    for (int b = 0; b < kBuckets; ++b) {
        indexedFirstRow_[b] = row;
        for (const BanEntry& e : buckets_[b])
            intervals.push_back({lowBound(e), highBound(e), row++});
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

}  // namespace bw
