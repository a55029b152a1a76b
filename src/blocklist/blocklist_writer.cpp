#include "blocklist/blocklist_writer.h"

#include <algorithm>

namespace bw {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

std::size_t linesOf(const BanTable::Bucket& bucket) {
    return std::max(BanTable::kNominalSlots, bucket.size());
}

// IPv6 entries follow the IPv4 slots, in their own order.
void appendIpv6Entries(const BanTable& table, std::string& out) {
    for (std::size_t slot = 0; slot < table.size6(); ++slot)
        out.append(table.at6(slot).text).append(kLineEnd);
}

// Lines the load could not read follow the entries: they ban nothing, and the
// next load reports them again, but the user's text is not lost.
void appendUnreadLines(const BanTable& table, std::string& out) {
    for (std::string_view line : table.unreadLines()) out.append(line).append(kLineEnd);
}

}  // namespace

std::string formatEverySlot(const BanTable& table) {
    std::size_t size = 0;
    for (int b = 0; b < BanTable::kBuckets; ++b) {
        size += linesOf(table.bucket(b)) * kLineEnd.size();
        for (BanEntry e : table.bucket(b)) size += e.text.size();
    }
    std::string out;
    out.reserve(size);
    for (int b = 0; b < BanTable::kBuckets; ++b) {
        const BanTable::Bucket bucket = table.bucket(b);
        for (BanEntry e : bucket) out.append(e.text).append(kLineEnd);
        for (std::size_t free = bucket.size(); free < linesOf(bucket); ++free) out.append(kLineEnd);
    }
    appendIpv6Entries(table, out);
    appendUnreadLines(table, out);
    return out;
}

std::string formatStoredOnly(const BanTable& table) {
    std::size_t size = 0;
    for (int b = 0; b < BanTable::kBuckets; ++b) {
        for (BanEntry e : table.bucket(b)) size += e.text.size() + kLineEnd.size();
    }
    std::string out;
    out.reserve(size);
    for (int b = 0; b < BanTable::kBuckets; ++b) {
        for (BanEntry e : table.bucket(b)) {
            if (e.text.size() >= 2)
                out.append(e.text).append(kLineEnd);
        }
    }
    appendIpv6Entries(table, out);
    appendUnreadLines(table, out);
    return out;
}

}  // namespace bw
