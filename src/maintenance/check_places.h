#pragma once

#include <filesystem>
#include <string>

#include "blocklist/ban_table.h"
#include "guard/address_check.h"
#include "guard/list_table.h"

namespace bw {

class ListKeeper;

// Says where each entry a check names stands, so that the user can find
// it: the own list's by the line of the file the table was just loaded from,
// named ownFileName; a list's by the line of its cached copy, read again.
// An entry whose place cannot be told keeps none.
void placeOwnEntriesInFile(CheckResult& result, const BanTable& own,
                           const std::string& ownFileName);
void placeListEntries(CheckResult& result, const ListTable& lists, const ListKeeper& keeper);

}  // namespace bw
