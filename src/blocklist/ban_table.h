#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "blocklist/range_index.h"

namespace bw {

// One banned range: the blocklist line as received, its profile name and its
// inclusive bounds as address values.
struct BanEntry {
    std::string text;
    std::string name;
    double start = 0;
    double end = 0;
};

// Position of an entry in table order: bucket, then slot within the bucket.
struct EntryRef {
    int bucket = 0;
    std::size_t slot = 0;
    friend bool operator==(const EntryRef&, const EntryRef&) = default;
    friend auto operator<=>(const EntryRef&, const EntryRef&) = default;
};

// The in-memory blocklist: 256 buckets keyed by the first part of an entry's
// start address, each holding its entries in the order they were loaded or
// added. Buckets grow as needed: nothing handed to the table is ever dropped.
class BanTable {
public:
    static constexpr int kBuckets = 256;
    // The slots per bucket of the file layout; buckets may hold more.
    static constexpr std::size_t kNominalSlots = 1025;

    void clear();
    void append(int bucket, BanEntry entry);
    // Removes the entry and closes the gap in its bucket.
    void remove(EntryRef ref);

    const std::vector<BanEntry>& bucket(int b) const { return buckets_[b]; }
    const BanEntry& at(EntryRef ref) const { return buckets_[ref.bucket][ref.slot]; }
    std::size_t size() const { return size_; }

    // The entry shown at a row of the list (rows follow table order).
    EntryRef refAtRow(std::size_t row) const;

    // Every entry whose range holds the address, in table order, each once: an
    // entry matches when address > start - 1, address < end + 1 and address > 0.
    // A range is found from every first part it covers, not only from its own
    // bucket, with one exception: loopback addresses (127.x.x.x) are only banned
    // by entries filed under 127, so a broad range in a list never cuts the
    // machine off from its own services.
    void findMatches(double address, std::vector<EntryRef>& out) const;

    // Builds the lookup index now instead of at the next findMatches, e.g. right
    // after a bulk load.
    void buildIndex() const;

private:
    // An entry appended since the index was built, checked one by one.
    struct Recent {
        double lo = 0;
        double hi = 0;
        EntryRef ref;
    };

    void forgetIndex();
    void noteAppended(EntryRef ref);
    std::size_t recentLimit() const;
    EntryRef refOfIndexedRow(std::uint32_t row) const;

    std::array<std::vector<BanEntry>, kBuckets> buckets_;
    std::size_t size_ = 0;

    // The index covers the table as it was at build time; later appends sit in
    // recent_ until there are too many of them. Removals shift slots, so they
    // drop the index, which is rebuilt at the next lookup.
    mutable RangeIndex index_;
    mutable std::array<std::uint32_t, kBuckets + 1> indexedFirstRow_{};
    mutable std::vector<Recent> recent_;
    mutable bool indexCurrent_ = true;
    mutable std::vector<std::uint32_t> rowScratch_;
};

}  // namespace bw
