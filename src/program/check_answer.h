#pragma once

#include <string>
#include <string_view>

namespace bw {

class BanTable;
class ListTable;
class ListKeeper;

// The window's answer to "Check an address": the check --check makes, on the
// table and lists the running guard holds now, with the own list's entries
// named by their row of the IP Ranges/Blocklist view.
std::string checkAnswer(const BanTable& table, const ListTable& listTable, const ListKeeper& lists,
                        bool blocking, std::string_view asked);

}  // namespace bw
