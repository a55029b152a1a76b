#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "blocklist/range_index.h"
#include "platform/ip_address.h"

namespace bw {

// One banned range as the table shows it: the blocklist line as received, its
// profile name and its inclusive bounds as address values. The texts are views
// into the table's own storage and stay valid until the table next changes.
struct BanEntry {
    std::string_view text;
    std::string_view name;
    double start = 0;
    double end = 0;
};

// One banned IPv6 range: its line, its profile name and its inclusive bounds.
struct BanEntry6 {
    std::string_view text;
    std::string_view name;
    Ipv6Number first;
    Ipv6Number last;
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
//
// A real-world list holds hundreds of thousands of short lines, so the table
// keeps the loaded file's bytes whole and lets each entry refer to its line
// there; entries added later keep their text in a second, small block.
class BanTable {
    // What a bucket holds per entry: the bounds and where its texts lie.
    struct Slot {
        double start = 0;
        double end = 0;
        std::uint32_t textAt = 0;  // kAddedBlock set: in the added block
        std::uint32_t textSize = 0;
        std::uint32_t nameAt = 0;
        std::uint32_t nameSize = 0;
    };

    struct Slot6 {
        Ipv6Number first;
        Ipv6Number last;
        std::uint32_t textAt = 0;
        std::uint32_t textSize = 0;
        std::uint32_t nameAt = 0;
        std::uint32_t nameSize = 0;
    };

public:
    static constexpr int kBuckets = 256;
    // The bucket of an EntryRef to an IPv6 entry: beside the 256 IPv4 buckets
    // (and past kBuckets, which refAtRow gives for no row at all).
    static constexpr int kIpv6Bucket = kBuckets + 1;
    // The slots per bucket of the file layout; buckets may hold more.
    static constexpr std::size_t kNominalSlots = 1025;

    // The entries of one bucket in table order, read as BanEntry values.
    class Bucket {
    public:
        class Iterator {
        public:
            using iterator_category = std::forward_iterator_tag;
            using value_type = BanEntry;
            using difference_type = std::ptrdiff_t;
            using pointer = void;
            using reference = BanEntry;

            Iterator() = default;
            Iterator(const BanTable* table, const Slot* slot) : table_(table), slot_(slot) {}
            BanEntry operator*() const { return table_->entryOf(*slot_); }
            Iterator& operator++() {
                ++slot_;
                return *this;
            }
            Iterator operator++(int) {
                Iterator before = *this;
                ++slot_;
                return before;
            }
            friend bool operator==(const Iterator&, const Iterator&) = default;

        private:
            const BanTable* table_ = nullptr;
            const Slot* slot_ = nullptr;
        };

        Bucket(const BanTable& table, const std::vector<Slot>& bucketSlots)
            : table_(&table), slots_(&bucketSlots) {}
        std::size_t size() const { return slots_->size(); }
        bool empty() const { return slots_->empty(); }
        BanEntry operator[](std::size_t slot) const { return table_->entryOf((*slots_)[slot]); }
        Iterator begin() const { return {table_, slots_->data()}; }
        Iterator end() const { return {table_, slots_->data() + slots_->size()}; }

    private:
        const BanTable* table_;
        const std::vector<Slot>* slots_;
    };

    void clear();
    // Takes the bytes of a file being loaded; it empties the table first. An
    // entry appended afterwards whose texts lie inside these bytes refers to
    // them instead of copying. Returns a view of the bytes as held.
    std::string_view holdFileBytes(std::string bytes);
    // The loaded file's bytes as held: an entry whose text lies in them came
    // from that file, at the line its text starts on.
    std::string_view fileBytes() const { return fileBytes_; }
    // Room for this many entries in each bucket, so a load grows nothing.
    void reserve(const std::array<std::size_t, kBuckets>& entriesPerBucket);
    // Stores the entry at the end of its bucket; texts that do not lie in the
    // held file bytes are copied.
    void append(int bucket, const BanEntry& entry);
    // Stores an IPv6 entry after the others, at {kIpv6Bucket, size6() - 1}.
    void append6(const BanEntry6& entry);
    // Removes the entry and closes the gap in its bucket.
    void remove(EntryRef ref);

    // A line of the loaded file that is no entry: it bans nothing, but a rewrite
    // of the file keeps it, so a typo in the user's list is never lost with it.
    void keepUnreadLine(std::string_view line);
    std::vector<std::string_view> unreadLines() const;

    Bucket bucket(int b) const { return {*this, buckets_[b]}; }
    // Whether the bucket holds an entry with exactly these bounds.
    bool bucketHolds(int bucket, double start, double end) const;
    // An IPv6 entry's ref gives its texts, with both bounds 0.
    BanEntry at(EntryRef ref) const {
        if (ref.bucket == kIpv6Bucket) {
            const BanEntry6 e = at6(ref.slot);
            return {e.text, e.name, 0, 0};
        }
        return entryOf(buckets_[ref.bucket][ref.slot]);
    }
    // The IPv4 entries: what the rows and the address counts are made of.
    std::size_t size() const { return size_; }
    // The IPv6 entries, in the order they were loaded or added.
    std::size_t size6() const { return v6Slots_.size(); }
    BanEntry6 at6(std::size_t slot) const {
        const Slot6& s = v6Slots_[slot];
        return {textAt(s.textAt, s.textSize), textAt(s.nameAt, s.nameSize), s.first, s.last};
    }

    // The rows of the list: the IPv4 entries in table order, then the IPv6
    // ones in the order they were loaded or added.
    std::size_t rows() const { return size_ + v6Slots_.size(); }
    // The entry shown at a row; {kBuckets, 0} past the last row.
    EntryRef refAtRow(std::size_t row) const;
    // Whether ref names an entry the table holds now.
    bool holds(EntryRef ref) const;

    // Every entry whose range holds the address, in table order, each once: an
    // entry matches when address > start - 1, address < end + 1 and address > 0.
    // A range is found from every first part it covers, not only from its own
    // bucket, with one exception: loopback addresses (127.x.x.x) are only banned
    // by entries filed under 127, so a broad range in a list never cuts the
    // machine off from its own services.
    void findMatches(double address, std::vector<EntryRef>& out) const;
    // Every IPv6 entry holding the address, in table order, as {kIpv6Bucket,
    // slot}. Loopback (::1) is only banned by entries that start at it, as
    // 127.x.x.x is only by entries filed under 127.
    void findMatches6(Ipv6Number address, std::vector<EntryRef>& out) const;
    // Either family: an IPv4 address through findMatches.
    void findMatches(const IpAddress& address, std::vector<EntryRef>& out) const;

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
    void buildIndex6() const;
    std::uint32_t keepName(std::string_view name, std::uint32_t textAt, std::uint32_t textSize);
    void noteAppended(EntryRef ref);
    std::size_t recentLimit() const;
    EntryRef refOfIndexedRow(std::uint32_t row) const;

    // Offsets of the added block carry this bit; each block holds under 2 GiB.
    static constexpr std::uint32_t kAddedBlock = 0x80000000u;

    BanEntry entryOf(const Slot& slot) const {
        return {textAt(slot.textAt, slot.textSize), textAt(slot.nameAt, slot.nameSize), slot.start,
                slot.end};
    }
    std::string_view textAt(std::uint32_t at, std::uint32_t size) const {
        return (at & kAddedBlock) ? std::string_view(addedText_).substr(at & ~kAddedBlock, size)
                                  : std::string_view(fileBytes_).substr(at, size);
    }
    // Where a text is kept: in the file bytes when it lies there, else copied.
    std::uint32_t keep(std::string_view text);

    std::array<std::vector<Slot>, kBuckets> buckets_;
    std::size_t size_ = 0;
    std::string fileBytes_;
    std::string addedText_;
    struct KeptText {
        std::uint32_t at = 0;
        std::uint32_t size = 0;
    };
    std::vector<KeptText> unreadLines_;

    // The index covers the table as it was at build time; later appends sit in
    // recent_ until there are too many of them. Removals shift slots, so they
    // drop the index, which is rebuilt at the next lookup.
    mutable RangeIndex index_;
    mutable std::array<std::uint32_t, kBuckets + 1> indexedFirstRow_{};
    mutable std::vector<Recent> recent_;
    mutable bool indexCurrent_ = true;
    mutable std::vector<std::uint32_t> rowScratch_;

    // IPv6 entries in their own order; the index sorts their slots by first
    // bound, with the highest last bound up to each, so a lookup walks back only
    // over entries that may reach the address. Changes drop it.
    std::vector<Slot6> v6Slots_;
    struct Indexed6 {
        Ipv6Number first;
        std::uint32_t slot = 0;
    };
    mutable std::vector<Indexed6> v6ByFirst_;
    mutable std::vector<Ipv6Number> v6ReachUpTo_;
    mutable bool v6IndexCurrent_ = true;
};

}  // namespace bw
