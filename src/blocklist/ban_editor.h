#pragma once

#include <string_view>

#include "blocklist/ban_table.h"
#include "shell/host.h"

namespace bw {

// Adds entries to the ban table from blocklist text and tells the host when
// the list must be shown afresh. The table is the list's data.
class BanEditor {
public:
    static constexpr std::string_view kDefaultName = "(User Specified IP/Range)";
    static constexpr std::string_view kLocalhostRefusal =
        "Attempted to add localhost (127.0.0.1) - Not allowed!";

    BanEditor(BanTable& table, Host& host) : table_(table), host_(host) {}

    // Parses one blocklist line (name:start-end or name:address) as the file
    // load reads it (readRangeField) and stores it when it is acceptable; drops
    // it silently otherwise (a range must also start above 0.1.0.0), except for
    // an entry that bans any address of 127.0.0.0/8, which is refused with a
    // message. Text holding a line break or NUL is dropped too: it would turn
    // into several lines on disk.
    void ADDBANRANGE(std::string_view ORIGINALDATA);

    // Stores one entry at the end of its bucket unless the bucket already holds
    // the same bounds. The bucket is the first part of the text's start
    // address; returns false when the text has no ":" or its range field does
    // not read as a range.
    bool ADDBAN(std::string_view ListDat, double startrange, double endrange,
                std::string_view profilename);

    void UPDATELIST();

private:
    void addParsed(std::string_view line);
    void refuseLocalhost();

    BanTable& table_;
    Host& host_;
};

}  // namespace bw
