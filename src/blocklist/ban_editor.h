#pragma once

#include <string_view>

#include "base/host.h"
#include "blocklist/ban_table.h"

namespace bw {

// Adds entries to the ban table from blocklist text and tells the host when
// the list must be shown afresh. The table is the list's data.
class BanEditor {
public:
    static constexpr std::string_view kDefaultName = "(User Specified IP/Range)";
    static constexpr std::string_view kLocalhostRefusal =
        "Attempted to add localhost (127.0.0.1) - Not allowed!";

    BanEditor(BanTable& table, Host& host) : table_(table), host_(host) {}

    // Parses one blocklist line (name:start-end or name:address) and stores it
    // when it is acceptable; drops it silently otherwise, except for a range
    // spanning 127.0.0.0, which is refused with a message. Text holding a line
    // break or NUL is dropped too: it would turn into several lines on disk.
    void ADDBANRANGE(std::string_view originalData);

    // Stores one entry at the end of its bucket unless the bucket already holds
    // the same bounds. Returns false when the text names no bucket (no ":", or
    // the first part after it is not a number from 0 to 255).
    bool ADDBAN(std::string_view listDat, double startrange, double endrange,
                std::string_view profilename);

    void UPDATELIST();

private:
    void addParsed(std::string_view line);
    void refuseLocalhost();

    BanTable& table_;
    Host& host_;
};

}  // namespace bw
