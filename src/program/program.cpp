#include "program/program.h"

#include <chrono>
#include <functional>
#include <optional>

#include "base/product.h"
#include "base/running_mark.h"
#include "blocklist/ban_editor.h"
#include "blocklist/blocklist_reader.h"
#include "blocklist/blocklist_writer.h"
#include "blocklist/number_text.h"
#include "guard/connection_log.h"
#include "guard/guard_pass.h"
#include "guard/guard_schedule.h"
#include "guard/kernel_blocking.h"
#include "guard/refusal_store.h"
#include "maintenance/add_line.h"
#include "maintenance/drop_import.h"
#include "maintenance/link_intake.h"
#include "maintenance/link_registration.h"
#include "maintenance/list_keeper.h"
#include "maintenance/reg_write.h"
#include "maintenance/update_check.h"
#include "maintenance/user_entries.h"
#include "platform/atomic_file.h"
#include "platform/folder_file.h"
#include "platform/instance_channel.h"
#include "platform/lifelines.h"
#include "platform/priority.h"
#include "platform/whole_file.h"
#include "program/check_answer.h"
#include "program/launching.h"
#include "program/settings.h"
#include "program/support_pages.h"

namespace bw {

namespace {

// The host as the ban table's editor sees it: a reset of the list means the
// table changed, which the kernel's table must follow.
class TableWatchingHost : public Host {
public:
    TableWatchingHost(Host& host, std::function<void()> changed)
        : host_(host), changed_(std::move(changed)) {}

    void letPendingEventsRun() override { host_.letPendingEventsRun(); }
    void showMessage(const Message& message) override {
        if (!addingLink)
            host_.showMessage(message);
    }
    void clearLog() override { host_.clearLog(); }
    void appendLog(std::string_view text) override { host_.appendLog(text); }
    void banListReset() override {
        changed_();
        host_.banListReset();
    }
    void stateChanged() override { host_.stateChanged(); }
    void waitWithProgress(std::string_view caption,
                          const std::function<bool()>& finished) override {
        host_.waitWithProgress(caption, finished);
    }
    void exitNow(int status) override { host_.exitNow(status); }

    // While a link's entries are added the editor's own boxes stay shut: the
    // link's message names each refused entry and why, and a box here would
    // keep the folder held, or a later start waiting for its answer, on the user.
    bool addingLink = false;

private:
    Host& host_;
    std::function<void()> changed_;
};

}  // namespace

struct Program::Parts {
    Parts(Program& program, Host& h, ProgramServices s)
        : host(h),
          services(std::move(s)),
          editorHost(host, [this] { kernel.tableChanged(); }),
          editor(table, editorHost),
          log(host, services.clock, fileInFolder(services.folder, kConnectionLogFileName)),
          pass(table, services.tcpTable, log, state, host),
          kernel(services.kernelGuard, table, listTable, log, state, host, services.clock),
          schedule(services.tcpTable, pass, state, host),
          regWrite(services.registry, host),
          import(host, [&program](std::string_view line) { program.ADDBANRANGE(line); }),
          updateCheck(services.downloader, host, state, services.folder, services.updateServer,
                      [&program] { program.SAVESETTINGS(); }),
          lists(services.downloader, services.clock, services.folder),
          laterStarts(program, table, host, services.instanceChannel, file(kBlocklistFileName)),
          refusals(state.recentRefusals, host, services.clock) {
        pass.useLists(&listTable);
        pass.useRefusals(&refusals, services.socketOwners);
        kernel.useRefusals(&refusals);
    }

    std::filesystem::path file(std::string_view name) const {
        return fileInFolder(services.folder, name);
    }

    // A link start is done with the folder's files once it has saved: later
    // starts may claim the folder while its message is still on screen.
    void releaseFolder() {
        if (services.instanceChannel)
            services.instanceChannel->release();
    }

    Host& host;
    ProgramServices services;
    ProgramState state;
    BanTable table;
    TableWatchingHost editorHost;
    BanEditor editor;
    ConnectionLog log;
    GuardPass pass;
    KernelBlocking kernel;
    GuardSchedule schedule;
    RegWrite regWrite;
    DropImport import;
    UpdateCheck updateCheck;
    ListKeeper lists;
    ListTable listTable;
    LaterStartServer laterStarts;
    RefusalStore refusals;
    bool listsLoaded = false;
    // Started with a link to add and end: the lists' cached copies are not read.
    bool linkStart = false;
    bool ended = false;
    // Why the blocklist on disk was not loaded at the last start-up load; empty
    // when it was. Writing the table over such a file would replace entries the
    // program never saw, so no rewrite happens then.
    std::string blocklistUnread;
    // The same for the settings file: the defaults are never saved over settings unread.
    std::string settingsUnread;
    bool checkingForUpdates = false;
    std::vector<Lifeline> systemLifelines;
    std::chrono::steady_clock::time_point systemLifelinesRead{};
};

Program::Program(Host& host, ProgramServices services)
    : parts_(std::make_unique<Parts>(*this, host, std::move(services))) {}

Program::~Program() = default;

const ProgramState& Program::state() const {
    return parts_->state;
}
const BanTable& Program::table() const {
    return parts_->table;
}
ListKeeper& Program::lists() {
    return parts_->lists;
}

std::string Program::checkAddress(std::string_view asked) {
    const Parts& p = *parts_;
    return checkAnswer(p.table, p.listTable, p.lists, p.state.options.blocking, asked);
}

void Program::listsChanged() {
    Parts& p = *parts_;
    std::vector<Lifeline> lifelines = p.listTable.lifelines();
    p.listTable = p.lists.table();
    p.listTable.setLifelines(std::move(lifelines));
    p.kernel.tableChanged();  // the kernel's table is built from the lists too
    p.pass.reportSparedLifelines();
}

const std::vector<Lifeline>& Program::lifelines() const {
    return parts_->listTable.lifelines();
}

bool Program::updateLifelines(bool readSystem) {
    Parts& p = *parts_;
    if (readSystem && p.services.lifelineSource) {
        p.systemLifelines = p.services.lifelineSource->read();
        p.systemLifelinesRead = p.services.clock.steadyNow();
    }
    std::vector<Lifeline> now = p.systemLifelines;
    now.insert(now.end(), p.lists.serverLifelines().begin(), p.lists.serverLifelines().end());
    if (const std::optional<Lifeline>& server = p.updateCheck.serverLifeline())
        now.push_back(*server);
    ListTable probe;
    probe.setLifelines(now);
    if (probe.lifelines() == p.listTable.lifelines())
        return false;
    p.listTable.setLifelines(std::move(now));
    p.kernel.tableChanged();
    p.pass.reportSparedLifelines();
    return true;
}

std::vector<AddressSpan> Program::effectiveBannedRanges() const {
    return effectiveBannedSpans(kernelIntervals(parts_->table), parts_->listTable);
}

std::vector<Span6> Program::effectiveBannedRanges6() const {
    return effectiveBannedSpans6(kernelIntervals6(parts_->table), parts_->listTable);
}

// Once per run: the cached copies load before the first guard pass, and the
// network is only asked afterwards, in the background.
void Program::loadLists(bool firstStart) {
    Parts& p = *parts_;
    p.listsLoaded = true;
    std::string problem = p.lists.load(
        firstStart, p.linkStart ? ListKeeper::CachedCopies::Skip : ListKeeper::CachedCopies::Read);
    if (!problem.empty())
        p.host.appendLog("Lists: " + problem + ".\r\n");
    listsChanged();
    updateLifelines(true);
}

void Program::reportListUpdates() {
    for (const std::string& line : parts_->lists.takeReports())
        parts_->host.appendLog(line + "\r\n");
}

void Program::load(std::string_view commandLineArgument) {
    std::string payload = linkPayload(commandLineArgument);
    parts_->linkStart = isLink(commandLineArgument);
    // A link with nothing in it must not start a guard in its place that never ends.
    if (payload.empty() && isLink(commandLineArgument)) {
        parts_->releaseFolder();
        parts_->host.showMessage({"Refused: the link " + std::string(commandLineArgument) +
                                      " holds no entries. Nothing was added.",
                                  MessageIcon::Exclamation, MessageButtons::Ok,
                                  "Bastionwatch Update"});
        parts_->ended = true;
        parts_->host.exitNow(1);
        return;
    }
    removeLeftoversOfInterruptedSaves();
    if (parts_->services.registerLinkScheme) {
        registerLinkScheme(parts_->regWrite, parts_->services.executable);
    }
    // A start that only adds a link and ends guards nothing, so it attaches nothing.
    if (!parts_->linkStart)
        parts_->kernel.start(parts_->services.canCloseConnections);
    STARTUPLOAD(payload);
    if (parts_->ended)
        return;
    const std::filesystem::path besideExecutable = parts_->services.executable.parent_path();
    if (!besideExecutable.empty() && parts_->services.folder != besideExecutable) {
        parts_->host.appendLog("Bastionwatch keeps its files in " +
                               parts_->services.folder.string() + ", not beside the program in " +
                               besideExecutable.string() + ".\r\n\r\n");
    }
    parts_->state.trayToolTip = std::string(kWindowCaption);
    parts_->host.stateChanged();
}

namespace {

void showCounters(ProgramState& state, const LoadTotals& totals) {
    state.counters.ranges = formatPlainNumber(static_cast<double>(totals.ranges));
    state.counters.addresses = formatPlainNumber(totals.addresses);
    state.counters.ranges6 = formatPlainNumber(static_cast<double>(totals.ranges6));
}

// The counters as the table stands, after a change made while the program runs.
LoadTotals tableTotals(const BanTable& table) {
    LoadTotals totals;
    totals.ranges = table.size();
    totals.ranges6 = table.size6();
    for (int b = 0; b < BanTable::kBuckets; ++b) {
        for (const BanEntry& e : table.bucket(b)) {
            if (e.end >= e.start)
                totals.addresses += e.end - e.start + 1;
        }
    }
    return totals;
}

// A first start finds no blocklist: where it looked, and how to get one.
std::string noBlocklistAdvice(const ProgramServices& services,
                              const std::filesystem::path& blocklist) {
    return "No blocklist at " + blocklist.string() +
           ": guarding with an empty list. To get one, copy the example list " +
           services.exampleBlocklist.string() +
           " to that name, or subscribe to the update server's list (" + services.updateServer +
           "moatlist.p2p): Support > Check for blocklist updates in the window fetches it, or "
           "save it to that name yourself.\r\n\r\n";
}

}  // namespace

void Program::STARTUPLOAD(std::string_view payload) {
    Parts& p = *parts_;
    // Until the list is read again, the kernel keeps the table it has: the
    // emptied ban table below is never pushed to it.
    p.kernel.holdTable();
    p.table.clear();
    // The list follows the table at once: it never shows entries the guard no longer has.
    UPDATELIST();
    p.log.writeLogHeader();
    if (!p.kernel.startLine().empty())
        p.host.appendLog(p.kernel.startLine());
    // The banner tells the truth about blocking, also when a reload finds it switched off.
    p.state.bannerShown = true;
    p.state.guardOnBanner = p.state.options.blocking;
    p.host.stateChanged();
    p.services.priority.raise();
    p.host.letPendingEventsRun();

    const std::filesystem::path blocklist = p.file(kBlocklistFileName);
    if (!p.listsLoaded)
        loadLists(!std::filesystem::exists(blocklist));
    FileBytes content = readOrCreateFile(blocklist);
    p.blocklistUnread = content.ok ? std::string() : content.error;
    const bool listed = content.ok && !content.bytes.empty();
    LoadTotals totals;
    if (listed)
        totals = loadBlocklist(std::move(content.bytes), p.table);
    // The table is whole again: refused in the kernel before the report says so.
    p.kernel.releaseTable();
    p.kernel.tableChanged();
    p.kernel.syncTable();
    if (!content.ok) {
        p.host.appendLog("Could not open the blocklist " + blocklist.string() + ": " +
                         content.error + ". Guarding with an empty blocklist.\r\n\r\n");
    } else if (!listed) {
        p.host.appendLog(noBlocklistAdvice(p.services, blocklist));
    } else {
        p.host.appendLog(loadReport(totals));
        showCounters(p.state, totals);
        p.host.stateChanged();
        UPDATELIST();
    }
    // The list's refresh marks the table changed again; taken now, not by a later tick's sweep.
    p.kernel.syncTable();
    p.pass.reportSparedLifelines();
    RefreshNS();
    p.host.letPendingEventsRun();
    p.state.timer.enabled = true;
    p.host.stateChanged();
    LOADSETTINGS();
    if (!payload.empty()) {
        takeLinkAndEnd(payload);
        return;
    }
    p.lists.startUpdates(false);
    if (p.lists.poll())
        listsChanged();
}

AddOutcome Program::addLinkLine(std::string_view line) {
    RunningMark quiet(parts_->editorHost.addingLink);
    AddOutcome outcome = ADDBANRANGE(line);
    UPDATELIST();
    return outcome;
}

void Program::takeLinkAndEnd(std::string_view payload) {
    Parts& p = *parts_;
    const LinkStartEnd end = p.laterStarts.takeStartLink(payload);
    SAVESETTINGS();
    p.releaseFolder();
    p.state.windowVisible = false;
    ++p.state.visibilityRequests;
    p.state.trayVisible = false;
    p.host.stateChanged();
    p.host.showMessage(end.message);
    p.ended = true;
    p.host.exitNow(end.status);
}

// While the kernel guard runs, the timer only reports its refusals (and
// passes on a table changed in the middle of an import); the connection
// table is not read.
void Program::guardTimerFired() {
    Parts& p = *parts_;
    if (p.kernel.restartIfDue()) {
        afterTableChange();
    } else if (!p.kernel.running()) {
        p.schedule.guardTick();
    } else {
        p.kernel.reportRefusals();
        if (p.kernel.syncTable())
            RefreshNS();
    }
    if (p.lists.tick())
        listsChanged();
    // The machine's own lifelines change rarely (a new network, a new DHCP
    // lease): a look every half minute is enough; the servers reached count at once.
    const bool lifelinesDue =
        !p.services.lifelineSource ||
        p.services.clock.steadyNow() - p.systemLifelinesRead >= std::chrono::seconds(30);
    if (updateLifelines(lifelinesDue))
        afterTableChange();
    reportListUpdates();
    if (!p.ended)
        p.laterStarts.serve();
}

void Program::showWindow() {
    Parts& p = *parts_;
    p.state.windowVisible = true;
    ++p.state.visibilityRequests;
    p.host.stateChanged();
}

void Program::afterTableChange() {
    parts_->pass.reportSparedLifelines();
    if (parts_->kernel.syncTable())
        RefreshNS();
}

void Program::sliderClicked(int position) {
    parts_->schedule.sliderClicked(position);
}
void Program::blockingClicked(bool ticked) {
    Parts& p = *parts_;
    p.schedule.blockingClicked(ticked);
    p.kernel.setBlocking(ticked);
    // Connections made while blocking was off are swept once it is on again.
    if (ticked && p.kernel.running())
        RefreshNS();
}

void Program::startHiddenClicked(bool ticked) {
    parts_->state.options.startHidden = ticked;
    parts_->host.stateChanged();
}

void Program::fullLogClicked(bool ticked) {
    parts_->state.options.fullLog = ticked;
    parts_->host.stateChanged();
}

AddOutcome Program::addRange(std::string_view profile, std::string_view start,
                             std::string_view end) {
    const std::string line = composeAddLine(profile, start, end);
    AddOutcome outcome = ADDBANRANGE(line);
    showTableCounters();
    afterTableChange();
    saveList(outcome == AddOutcome::Added ? std::vector<std::string>{line}
                                          : std::vector<std::string>{});
    return outcome;
}

void Program::removeEntry(EntryRef selected) {
    Parts& p = *parts_;
    if (!p.table.holds(selected))
        return;
    const std::string text(p.table.at(selected).text);
    p.table.remove(selected);
    UPDATELIST();  // the list drops the row before anything can show it again
    showTableCounters();
    afterTableChange();
    // Out of the record first: a kill between the saves then leaves the entry in
    // the list until the next update, never one that the update brings back.
    forgetUserEntry(text);
    SAVELIST();
}

void Program::filesDropped(const std::vector<std::string>& paths) {
    Parts& p = *parts_;
    if (p.import.running()) {
        p.import.filesDropped(paths);  // refused; the running import keeps the throttle
        return;
    }
    p.editor.throttleListRefresh(true);
    p.import.filesDropped(paths);
    p.editor.throttleListRefresh(false);
    showTableCounters();
    afterTableChange();
}

void Program::checkForUpdates() {
    Parts& p = *parts_;
    // The reload belongs to the check: one asked for while it runs is ignored
    // too, or it would reload in the middle of the reload.
    if (p.checkingForUpdates)
        return;
    RunningMark mark(p.checkingForUpdates);
    if (p.updateCheck.run() == UpdateCheck::Outcome::ListReplaced)
        STARTUPLOAD("");
}

void Program::viewConnectionLog() {
    Parts& p = *parts_;
    shellDocument(p.services.launcher, p.host, "Open", p.file(kConnectionLogFileName).string(), 0,
                  0, 1);
}

void Program::openSupportPage(SupportPage page) {
    shellOpen(parts_->services.launcher, parts_->host, supportPageAddress(page));
}

void Program::unload() {
    SAVESETTINGS();
    parts_->ended = true;
    parts_->host.exitNow(0);
}

AddOutcome Program::ADDBANRANGE(std::string_view originalData) {
    return parts_->editor.ADDBANRANGE(originalData);
}
void Program::UPDATELIST() {
    parts_->editor.UPDATELIST();
}
void Program::RefreshNS() {
    parts_->pass.RefreshNS();
}

void Program::LOADSETTINGS() {
    Parts& p = *parts_;
    const std::filesystem::path file = p.file(kSettingsFileName);
    SettingsLoad loaded = bw::LOADSETTINGS(file, p.state);
    p.settingsUnread = loaded.error;
    if (!loaded) {
        p.host.appendLog("Could not read the settings " + file.string() + ": " + loaded.error +
                         ". Running with the default settings; the file is kept as it is and "
                         "is not saved over until Bastionwatch can read it.\r\n\r\n");
    }
    p.host.stateChanged();
}

void Program::SAVESETTINGS() {
    const std::filesystem::path file = parts_->file(kSettingsFileName);
    const std::string& unread = parts_->settingsUnread;
    WriteResult saved{false, "it could not be read when Bastionwatch started (" + unread +
                                 "), so it was kept as it is"};
    if (unread.empty())
        saved = bw::SAVESETTINGS(file, parts_->state);
    if (!saved) {
        parts_->host.showMessage(
            {"The settings could not be saved to " + file.string() + " (" + saved.error + ").",
             MessageIcon::Exclamation, MessageButtons::Ok, ""});
    }
}

void Program::SAVELIST() {
    saveList({});
}

void Program::saveList(const std::vector<std::string>& added) {
    const std::filesystem::path file = parts_->file(kBlocklistFileName);
    WriteResult saved = saveListWithUserEntries(added, formatEverySlot(parts_->table));
    if (!saved) {
        parts_->host.showMessage({"The blocklist could not be saved to " + file.string() + ": " +
                                      saved.error +
                                      ". The change is active until Bastionwatch ends.",
                                  MessageIcon::Exclamation, MessageButtons::Ok, ""});
    }
}

WriteResult Program::rewriteBlocklist(std::string_view bytes) {
    Parts& p = *parts_;
    if (!p.blocklistUnread.empty()) {
        return {false, "it could not be read when Bastionwatch started (" + p.blocklistUnread +
                           "), and writing it now would replace the entries it holds"};
    }
    return writeFileAtomically(p.file(kBlocklistFileName), bytes);
}

void Program::removeLeftoversOfInterruptedSaves() {
    const std::filesystem::path& folder = parts_->services.folder;
    for (std::string_view name : {kBlocklistFileName, kSettingsFileName, kUserEntriesFileName})
        removeStaleTemporaryFiles(folder, name);
    std::filesystem::path download = parts_->file(kBlocklistFileName);
    download += ".download";
    std::error_code ignored;
    std::filesystem::remove(download, ignored);
}

void Program::showTableCounters() {
    showCounters(parts_->state, tableTotals(parts_->table));
    parts_->host.stateChanged();
}

// The record first: a kill between the two saves then leaves an entry that the
// next update brings into the list, never one in the list that the update drops.
// A list that could not be saved takes them out of the record again.
WriteResult Program::saveListWithUserEntries(const std::vector<std::string>& added,
                                             std::string_view listBytes) {
    UserEntries own(parts_->file(kUserEntriesFileName));
    WriteResult recorded = own.remember(added);
    reportUserEntriesFailure(recorded);
    WriteResult saved = rewriteBlocklist(listBytes);
    if (!saved && recorded)
        reportUserEntriesFailure(own.forget(added));
    return saved;
}

void Program::forgetUserEntry(const std::string& line) {
    UserEntries own(parts_->file(kUserEntriesFileName));
    reportUserEntriesFailure(own.forget({line}));
}

void Program::reportUserEntriesFailure(const WriteResult& saved) {
    if (saved)
        return;
    parts_->host.appendLog("Could not update the record of your own entries (" +
                           std::string(kUserEntriesFileName) + "): " + saved.error +
                           ". A blocklist update may not carry this change over.\r\n");
}

}  // namespace bw
