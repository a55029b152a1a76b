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
#include "program/later_start_server.h"

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

class Program : private LinkReceiver {
public:
    Program(Host& host, ProgramServices services);
    ~Program() override;
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    const ProgramState& state() const;
    const BanTable& table() const;

    // The subscribed lists. The guard follows a change made through them from
    // its timer, as it follows an update's.
    ListKeeper& lists();
    // What bans an address, range or network now, and what lets it through, in
    // words for the window (the same check --check makes on the files).
    std::string checkAddress(std::string_view asked);
    // The addresses never banned: name servers, gateways, and the servers the
    // lists and the update check reached while the program ran.
    const std::vector<Lifeline>& lifelines() const;
    // Every address the guard bans: the own list plus every enabled block list,
    // minus every enabled allow list, merged. What a kernel table is built from.
    std::vector<AddressSpan> effectiveBannedRanges() const;
    // The same for IPv6: the own list's IPv6 entries and the lists', minus the allowed.
    std::vector<Span6> effectiveBannedRanges6() const;

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

    // One guard pass over the connection table, now.
    void RefreshNS();

private:
    AddOutcome ADDBANRANGE(std::string_view originalData);
    void UPDATELIST();
    void LOADSETTINGS();
    void SAVESETTINGS();
    void SAVELIST();

    // Builds the guard's list table again after the lists changed.
    void listsChanged();
    void loadLists(bool firstStart);
    void reportListUpdates();
    // The start's own link: its entries are added and saved, and the program ends.
    void takeLinkAndEnd(std::string_view payload);
    // Replaces the blocklist file, unless the last load could not read it.
    WriteResult rewriteBlocklist(std::string_view bytes);
    // A save killed halfway leaves its temporary file; the next start removes it.
    void removeLeftoversOfInterruptedSaves();
    // Reads the machine's lifelines too when readSystem (else at most every half
    // minute, from the guard's timer); true when they changed.
    bool updateLifelines(bool readSystem);
    // The record of the user's own entries, which an update carries over.
    void forgetUserEntry(const std::string& line);
    void saveList(const std::vector<std::string>& added);
    void reportUserEntriesFailure(const WriteResult& saved);

    // What the links need of the program.
    AddOutcome addLinkLine(std::string_view line) override;
    // The counters follow the table after every change made while running.
    void showTableCounters() override;
    // The kernel's table follows the ban table; connections opened before the
    // change are swept once.
    void afterTableChange() override;
    // Saves the list with the added entries in the record too.
    WriteResult saveListWithUserEntries(const std::vector<std::string>& added,
                                        std::string_view listBytes) override;
    void showWindow() override;

    struct Parts;
    std::unique_ptr<Parts> parts_;
};

}  // namespace bw
