#include "program/check_answer.h"

#include "blocklist/ban_table.h"
#include "guard/address_check.h"
#include "guard/list_table.h"
#include "maintenance/check_places.h"
#include "maintenance/list_keeper.h"

namespace bw {

namespace {

// The ranges view lists the table in table order, one row per entry, the
// IPv6 entries after the IPv4 ones.
std::size_t rowOf(const BanTable& table, EntryRef ref) {
    if (ref.bucket == BanTable::kIpv6Bucket)
        return table.size() + ref.slot + 1;
    std::size_t row = ref.slot;
    for (int b = 0; b < ref.bucket; ++b) row += table.bucket(b).size();
    return row + 1;
}

void placeOwnRows(CheckResult& result, const BanTable& table) {
    for (CheckedEntry& entry : result.entries) {
        if (entry.own)
            entry.where =
                "row " + std::to_string(rowOf(table, entry.ref)) + " of IP Ranges/Blocklist";
    }
}

}  // namespace

std::string checkAnswer(const BanTable& table, const ListTable& listTable, const ListKeeper& lists,
                        bool blocking, std::string_view asked) {
    const CheckQuery query = parseCheckQuery(asked);
    if (query.kind == CheckQuery::Kind::Ipv6) {
        return query.text +
               " is an IPv6 range: type one IPv6 address, such as 2001:db8::7, to check it.\n";
    }
    if (query.kind == CheckQuery::Kind::Address6) {
        CheckResult result = checkAddress6(table, listTable, query.address6);
        placeOwnRows(result, table);
        placeListEntries(result, listTable, lists);
        std::string answer = checkReport(query.text, result);
        if (result.banned > 0 && !blocking)
            answer +=
                "\"Block banned IPs.\" is off: nothing is refused until it is ticked again.\n";
        return answer;
    }
    if (query.kind == CheckQuery::Kind::NotAnAddress) {
        return "'" + query.text +
               "' is not an IPv4 address or range: type 203.0.113.7, "
               "203.0.113.0-203.0.113.255 or 203.0.113.0/24.\n";
    }
    CheckResult result = checkAddresses(table, listTable, {query.span});
    placeOwnRows(result, table);
    placeListEntries(result, listTable, lists);
    std::string answer = checkReport(query.text, result);
    if (result.banned > 0 && !blocking)
        answer += "\"Block banned IPs.\" is off: nothing is refused until it is ticked again.\n";
    return answer;
}

}  // namespace bw
