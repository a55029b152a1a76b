#pragma once

// The program as a whole, without a window: owns the ban table and every
// option, counter and file of the program, and carries out what the window's
// widgets ask for. The Qt window and the console runner both drive one of these.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/host.h"
#include "base/program_state.h"
#include "blocklist/ban_editor.h"
#include "blocklist/ban_table.h"
#include "guard/list_table.h"
#include "platform/atomic_file.h"
#include "platform/program_folder.h"
#include "program/later_start.h"

namespace bw {

class TcpTable;
class Clock;
class Downloader;
class Registry;
class Launcher;
class Priority;
class ListKeeper;
class InstanceChannel;
class LifelineSource;
class SocketOwners;

// What a later start without a link asks of the window that runs.
inline constexpr std::string_view kShowWindowRequest = "show the window";
// How the answer to a link that added nothing begins.
inline constexpr std::string_view kNothingAddedText = "Nothing was added to the blocklist.";
class KernelGuard;

// The outside world as the program sees it. All references outlive the Program.
struct ProgramServices {
    TcpTable& tcpTable;
    Clock& clock;
    Downloader& downloader;
    Registry& registry;
    Launcher& launcher;
    Priority& priority;
    std::filesystem::path folder;      // where Moatlist.P2P and the other files live
    std::filesystem::path executable;  // for the link scheme's launch command
    std::string updateServer;          // base address, ends with "/"
    bool registerLinkScheme = true;    // the console runner leaves the desktop alone
    // Refuses banned connections in the kernel; null, or failing to start: the
    // polling guard does the work.
    KernelGuard* kernelGuard = nullptr;
    // Whether the polling guard may close connections (CAP_NET_ADMIN, or a helper that can).
    bool canCloseConnections = true;
    // Named to a user who starts without a blocklist.
    std::filesystem::path exampleBlocklist = bw::exampleBlocklist();
    // Where later starts hand their links over; none when this copy holds no claim.
    InstanceChannel* instanceChannel = nullptr;
    // Names the machine's name servers and gateways; none: only the servers
    // the downloads reached are lifelines.
    LifelineSource* lifelineSource = nullptr;
    // Names the program that held a connection the polling guard closed; none: not named.
    SocketOwners* socketOwners = nullptr;
};

enum class SupportPage { CommunityForum, MakerForum, HomePage, HomeMirror, IpDatabase };

class Program {
public:
    Program(Host& host, ProgramServices services);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    const ProgramState& state() const;
    const BanTable& table() const;

    // The subscribed lists and the lookup table the guard uses for them.
    ListKeeper& lists();
    const ListTable& listTable() const;
    // Builds the guard's list table again after the lists changed.
    void listsChanged();
    // The addresses never banned: name servers, gateways, and the servers the
    // lists and the update check reached while the program ran.
    const std::vector<Lifeline>& lifelines() const;
    // Reads the machine's lifelines again (else at most every half minute, from
    // the guard's timer); true when they changed.
    bool refreshLifelines();
    // Every address the guard bans: the own list plus every enabled block list,
    // minus every enabled allow list, merged. What a kernel table is built from.
    std::vector<AddressSpan> effectiveBannedRanges() const;

    // The window's load event: link intake, scheme registration, start-up load, tooltip.
    void load(std::string_view commandLineArgument);
    void STARTUPLOAD(std::string_view payload);

    // Widgets.
    void guardTimerFired();
    void sliderClicked(int position);
    void startHiddenClicked(bool ticked);
    void blockingClicked(bool ticked);
    void fullLogClicked(bool ticked);
    // Says what became of the line, so the dialog can tell the user why it refused it.
    AddOutcome addRange(std::string_view profile, std::string_view start, std::string_view end);
    void removeEntry(EntryRef selected);
    void filesDropped(const std::vector<std::string>& paths);
    void checkForUpdates();
    void viewConnectionLog();
    void openSupportPage(SupportPage page);
    // Closing the window: saves the settings, then ends the program.
    void unload();

    // The core operations, public for the window and for tests.
    AddOutcome ADDBANRANGE(std::string_view originalData);
    void UPDATELIST();
    void RefreshNS();
    void LOADSETTINGS();
    void SAVESETTINGS();
    void SAVELIST();

private:
    struct LinkAdds {
        std::vector<std::string> added;
        std::string notAdded;  // one line per piece that was not stored, and why
        std::string refused;   // why the whole link was refused; nothing was added then
    };
    LinkAdds addLinkEntries(std::string_view payload);
    void addLinkEntriesAndEnd(std::string_view payload);
    void loadLists(bool firstStart);
    void reportListUpdates();
    // Requests of later starts: a link whose entries join the live table, or
    // kShowWindowRequest. Anything else is refused.
    void serveLaterStarts();
    LaterStartAnswer answerLaterStart(std::string_view request, std::vector<Message>& toShow);
    // Replaces the blocklist file, unless the last load could not read it.
    WriteResult rewriteBlocklist(std::string_view bytes);
    // A save killed halfway leaves its temporary file; the next start removes it.
    void removeLeftoversOfInterruptedSaves();
    // The counters follow the table after every change made while running.
    void showTableCounters();
    bool updateLifelines(bool readSystem);
    // The record of the user's own entries, which an update carries over.
    void forgetUserEntry(const std::string& line);
    // Saves the list with the added entries in the record too.
    WriteResult saveListWithUserEntries(const std::vector<std::string>& added,
                                        std::string_view listBytes);
    void saveList(const std::vector<std::string>& added);
    void reportUserEntriesFailure(const WriteResult& saved);
    // The kernel's table follows the ban table; connections opened before the
    // change are swept once.
    void afterTableChange();

    struct Parts;
    std::unique_ptr<Parts> parts_;
};

}  // namespace bw
