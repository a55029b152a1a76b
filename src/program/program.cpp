#include "program/program.h"

#include "base/product.h"
#include "blocklist/ban_editor.h"
#include "blocklist/blocklist_reader.h"
#include "blocklist/blocklist_writer.h"
#include "blocklist/number_text.h"
#include "guard/connection_log.h"
#include "guard/guard_pass.h"
#include "guard/guard_schedule.h"
#include "maintenance/add_line.h"
#include "maintenance/drop_import.h"
#include "maintenance/link_intake.h"
#include "maintenance/link_registration.h"
#include "maintenance/list_keeper.h"
#include "maintenance/reg_write.h"
#include "maintenance/update_check.h"
#include "platform/atomic_file.h"
#include "platform/folder_file.h"
#include "platform/priority.h"
#include "platform/whole_file.h"
#include "program/launching.h"
#include "program/settings.h"
#include "program/support_pages.h"

namespace bw {

struct Program::Parts {
    Parts(Program& program, Host& h, ProgramServices s)
        : host(h),
          services(std::move(s)),
          editor(table, host),
          log(host, services.clock, fileInFolder(services.folder, kConnectionLogFileName)),
          pass(table, services.tcpTable, log, state, host),
          schedule(services.tcpTable, pass, state, host),
          regWrite(services.registry, host),
          import(host, [&program](std::string_view line) { program.ADDBANRANGE(line); }),
          updateCheck(
              services.downloader, host, state, services.folder, services.updateServer,
              [&program] { program.SAVESETTINGS(); }, [&program] { program.STARTUPLOAD(""); }),
          lists(services.downloader, services.clock, services.folder) {
        pass.useLists(&listTable);
    }

    std::filesystem::path file(std::string_view name) const {
        return fileInFolder(services.folder, name);
    }

    Host& host;
    ProgramServices services;
    ProgramState state;
    BanTable table;
    BanEditor editor;
    ConnectionLog log;
    GuardPass pass;
    GuardSchedule schedule;
    RegWrite regWrite;
    DropImport import;
    UpdateCheck updateCheck;
    ListKeeper lists;
    ListTable listTable;
    bool listsLoaded = false;
    bool ended = false;
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
const ListTable& Program::listTable() const {
    return parts_->listTable;
}

void Program::listsChanged() {
    parts_->listTable = parts_->lists.table();
}

std::vector<AddressSpan> Program::effectiveBannedRanges() const {
    return effectiveBannedSpans(banTableSpans(parts_->table), parts_->listTable);
}

// Once per run: the cached copies load before the first guard pass, and the
// network is only asked afterwards, in the background.
void Program::loadLists(bool firstStart) {
    Parts& p = *parts_;
    p.listsLoaded = true;
    std::string problem = p.lists.load(firstStart);
    if (!problem.empty())
        p.host.appendLog("Lists: " + problem + ".\r\n");
    listsChanged();
}

void Program::reportListUpdates() {
    for (const std::string& line : parts_->lists.takeReports())
        parts_->host.appendLog(line + "\r\n");
}

void Program::load(std::string_view commandLineArgument) {
    std::string payload = linkPayload(commandLineArgument);
    if (parts_->services.registerLinkScheme) {
        registerLinkScheme(parts_->regWrite, parts_->services.executable);
    }
    STARTUPLOAD(payload);
    if (parts_->ended)
        return;
    parts_->state.trayToolTip = std::string(kWindowCaption);
    parts_->host.stateChanged();
}

namespace {

void showCounters(ProgramState& state, const LoadTotals& totals) {
    state.counters.ranges = formatPlainNumber(static_cast<double>(totals.ranges));
    state.counters.addresses = formatPlainNumber(totals.addresses);
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
    p.table.clear();
    // The list follows the table at once: it never shows entries the guard no longer has.
    UPDATELIST();
    p.log.writeLogHeader();
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
    if (!content.ok) {
        p.host.appendLog("Could not open the blocklist " + blocklist.string() + ": " +
                         content.error + ". Guarding with an empty blocklist.\r\n\r\n");
    } else if (content.bytes.empty()) {
        p.host.appendLog(noBlocklistAdvice(p.services, blocklist));
    } else {
        LoadTotals totals = loadBlocklist(std::move(content.bytes), p.table);
        p.host.appendLog(loadReport(totals));
        showCounters(p.state, totals);
        p.host.stateChanged();
        UPDATELIST();
    }
    RefreshNS();
    p.host.letPendingEventsRun();
    p.state.timer.enabled = true;
    p.host.stateChanged();
    LOADSETTINGS();
    if (!payload.empty()) {
        addLinkEntriesAndEnd(payload);
        return;
    }
    p.lists.startUpdates(false);
    if (p.lists.poll())
        listsChanged();
}

void Program::addLinkEntriesAndEnd(std::string_view payload) {
    Parts& p = *parts_;
    std::size_t begin = 0;
    for (;;) {
        std::size_t slash = payload.find('/', begin);
        std::string_view piece = payload.substr(begin, slash - begin);
        if (!piece.empty())
            ADDBANRANGE(linkSegmentToLine(piece));
        UPDATELIST();
        if (slash == std::string_view::npos)
            break;
        begin = slash + 1;
    }
    const std::filesystem::path blocklist = p.file(kBlocklistFileName);
    WriteResult saved = writeFileAtomically(blocklist, formatStoredOnly(p.table));
    SAVESETTINGS();
    p.state.windowVisible = false;
    ++p.state.visibilityRequests;
    p.state.trayVisible = false;
    p.host.stateChanged();
    if (saved) {
        p.host.showMessage(
            {"Added range(s) to blocklist.\r\n\r\nChanges will only be effective "
             "once Bastionwatch has been restarted.",
             MessageIcon::Information, MessageButtons::Ok, "Bastionwatch Update"});
    } else {
        p.host.showMessage({"The range(s) could not be added: the blocklist " + blocklist.string() +
                                " could not be written (" + saved.error +
                                "). It was left as it was.",
                            MessageIcon::Exclamation, MessageButtons::Ok, "Bastionwatch Update"});
    }
    p.ended = true;
    p.host.exitNow(saved ? 0 : 1);
}

void Program::guardTimerFired() {
    parts_->schedule.guardTick();
    if (parts_->lists.tick())
        listsChanged();
    reportListUpdates();
}
void Program::sliderClicked(int position) {
    parts_->schedule.sliderClicked(position);
}
void Program::blockingClicked(bool ticked) {
    parts_->schedule.blockingClicked(ticked);
}

void Program::startHiddenClicked(bool ticked) {
    parts_->state.options.startHidden = ticked;
    parts_->host.stateChanged();
}

void Program::fullLogClicked(bool ticked) {
    parts_->state.options.fullLog = ticked;
    parts_->host.stateChanged();
}

void Program::addRange(std::string_view profile, std::string_view start, std::string_view end) {
    ADDBANRANGE(composeAddLine(profile, start, end));
    SAVELIST();
}

void Program::removeEntry(EntryRef selected) {
    Parts& p = *parts_;
    if (selected.bucket < 0 || selected.bucket >= BanTable::kBuckets ||
        selected.slot >= p.table.bucket(selected.bucket).size()) {
        return;
    }
    p.table.remove(selected);
    UPDATELIST();  // the list drops the row before anything can show it again
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
}

void Program::checkForUpdates() {
    parts_->updateCheck.run();
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

void Program::ADDBANRANGE(std::string_view originalData) {
    parts_->editor.ADDBANRANGE(originalData);
}
void Program::UPDATELIST() {
    parts_->editor.UPDATELIST();
}
void Program::RefreshNS() {
    parts_->pass.RefreshNS();
}

void Program::LOADSETTINGS() {
    bw::LOADSETTINGS(parts_->file(kSettingsFileName), parts_->state);
    parts_->host.stateChanged();
}

void Program::SAVESETTINGS() {
    const std::filesystem::path file = parts_->file(kSettingsFileName);
    WriteResult saved = bw::SAVESETTINGS(file, parts_->state);
    if (!saved) {
        parts_->host.showMessage(
            {"The settings could not be saved to " + file.string() + " (" + saved.error + ").",
             MessageIcon::Exclamation, MessageButtons::Ok, ""});
    }
}

void Program::SAVELIST() {
    const std::filesystem::path file = parts_->file(kBlocklistFileName);
    WriteResult saved = writeFileAtomically(file, formatEverySlot(parts_->table));
    if (!saved) {
        parts_->host.showMessage({"The blocklist could not be saved to " + file.string() + " (" +
                                      saved.error +
                                      "). The change is active until Bastionwatch ends.",
                                  MessageIcon::Exclamation, MessageButtons::Ok, ""});
    }
}

}  // namespace bw
