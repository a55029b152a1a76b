#include "blocklist/ban_table.h"

namespace bw {

void BanTable::clear() {
    for (auto& b : buckets_) b.clear();
    size_ = 0;
}

void BanTable::append(int bucket, BanEntry entry) {
    buckets_[bucket].push_back(std::move(entry));
    ++size_;
}

void BanTable::remove(EntryRef ref) {
    auto& b = buckets_[ref.bucket];
    b.erase(b.begin() + static_cast<std::ptrdiff_t>(ref.slot));
    --size_;
}

EntryRef BanTable::refAtRow(std::size_t row) const {
    for (int b = 0; b < kBuckets; ++b) {
        if (row < buckets_[b].size()) return {b, row};
        row -= buckets_[b].size();
    }
    return {kBuckets, 0};
}

// Plain scan of the whole table; the indexed lookup replaces it.
void BanTable::findMatches(double address, std::vector<EntryRef>& out) const {
    out.clear();
    for (int b = 0; b < kBuckets; ++b) {
        for (std::size_t s = 0; s < buckets_[b].size(); ++s) {
            const BanEntry& e = buckets_[b][s];
            if (address > e.start - 1 && address < e.end + 1 && address > 0) out.push_back({b, s});
        }
    }
}

}  // namespace bw
