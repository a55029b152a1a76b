#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/host.h"
#include "blocklist/ban_editor.h"
#include "blocklist/ban_table.h"
#include "platform/atomic_file.h"
#include "program/later_start.h"

namespace bw {

class InstanceChannel;

// What taking a link's entries asks of the program that holds the table.
class LinkReceiver {
public:
    virtual ~LinkReceiver() = default;
    // ADDBANRANGE and the list's refresh, with the editor's own message boxes
    // shut: the link's message says what became of each line.
    virtual AddOutcome addLinkLine(std::string_view line) = 0;
    // The counters follow the table once a link's lines are in.
    virtual void showTableCounters() = 0;
    // A running guard follows the table: the kernel's, and one sweep.
    virtual void afterTableChange() = 0;
    // Writes listBytes as the blocklist, with added recorded as the user's own
    // entries, which a blocklist update carries over.
    virtual WriteResult saveListWithUserEntries(const std::vector<std::string>& added,
                                                std::string_view listBytes) = 0;
    // A later start without a link asked for the window.
    virtual void showWindow() = 0;
};

// How a start that was given a link ends: what it shows, and its exit status.
struct LinkStartEnd {
    Message message;
    int status = 1;
};

// Takes bwdat:// links into the table: the one this start was given, and
// those that later starts hand over to the running copy.
class LaterStartServer {
public:
    // channel: none when this copy holds no claim on the folder.
    LaterStartServer(LinkReceiver& receiver, const BanTable& table, Host& host,
                     InstanceChannel* channel, std::filesystem::path blocklist);

    // This start's own link: its entries are added and saved.
    LinkStartEnd takeStartLink(std::string_view payload);
    // Answers every later start waiting now: a link whose entries join the live
    // table, or kShowWindowRequest; anything else is refused. Their messages
    // show once each has its answer, so none waits on the user.
    void serve();

private:
    struct LinkAdds {
        std::vector<std::string> added;
        std::string notAdded;  // one line per piece that was not stored, and why
        std::string refused;   // why the whole link was refused; nothing was added then
    };
    LinkAdds addLinkEntries(std::string_view payload);
    LaterStartAnswer answer(std::string_view request, std::vector<Message>& toShow);

    LinkReceiver& receiver_;
    const BanTable& table_;
    Host& host_;
    InstanceChannel* channel_;
    std::filesystem::path blocklist_;
    bool serving_ = false;
};

}  // namespace bw
