#include "program/program.h"

#include <functional>

#include "base/product.h"
#include "blocklist/ban_editor.h"
#include "blocklist/blocklist_reader.h"
#include "blocklist/blocklist_writer.h"
#include "blocklist/number_text.h"
#include "guard/connection_log.h"
#include "guard/guard_pass.h"
#include "guard/guard_schedule.h"
#include "guard/kernel_blocking.h"
#include "maintenance/add_line.h"
#include "maintenance/drop_import.h"
#include "maintenance/link_intake.h"
#include "maintenance/link_registration.h"
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

namespace {

// The host as the ban table's editor sees it: a reset of the list means the
// table changed, which the kernel's table must follow.
class TableWatchingHost : public Host {
public:
    TableWatchingHost(Host& host, std::function<void()> changed)
        : host_(host), changed_(std::move(changed)) {}

    void letPendingEventsRun() override { host_.letPendingEventsRun(); }
    void showMessage(const Message& message) override { host_.showMessage(message); }
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
          kernel(services.kernelGuard, table, log, state, host, services.clock),
          schedule(services.tcpTable, pass, state, host),
          regWrite(services.registry, host),
          import(host, [&program](std::string_view line) { program.ADDBANRANGE(line); }),
          updateCheck(
              services.downloader, host, state, services.folder, services.updateServer,
              [&program] { program.SAVESETTINGS(); }, [&program] { program.STARTUPLOAD(""); }) {}

    std::filesystem::path file(std::string_view name) const {
        return fileInFolder(services.folder, name);
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

void Program::load(std::string_view commandLineArgument) {
    std::string payload = linkPayload(commandLineArgument);
    if (parts_->services.registerLinkScheme) {
        registerLinkScheme(parts_->regWrite, parts_->services.executable);
    }
    // A start that only adds a link and ends guards nothing, so it attaches nothing.
    if (payload.empty())
        parts_->kernel.start(parts_->services.canCloseConnections);
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
    if (!p.kernel.startLine().empty())
        p.host.appendLog(p.kernel.startLine());
    // The banner tells the truth about blocking, also when a reload finds it switched off.
    p.state.bannerShown = true;
    p.state.guardOnBanner = p.state.options.blocking;
    p.host.stateChanged();
    p.services.priority.raise();
    p.host.letPendingEventsRun();

    const std::filesystem::path blocklist = p.file(kBlocklistFileName);
    FileBytes content = readOrCreateFile(blocklist);
    if (!content.ok) {
        p.host.appendLog("Could not open the blocklist " + blocklist.string() + ": " +
                         content.error + ". Guarding with an empty blocklist.\r\n\r\n");
    } else if (content.bytes.empty()) {
        p.host.appendLog(noBlocklistAdvice(p.services, blocklist));
    } else {
        LoadTotals totals = loadBlocklist(content.bytes, p.table);
        content.bytes = std::string();
        // Refused in the kernel before the report says the list is loaded.
        p.kernel.tableChanged();
        p.kernel.syncTable();
        p.host.appendLog(loadReport(totals));
        showCounters(p.state, totals);
        p.host.stateChanged();
        UPDATELIST();
    }
    p.kernel.syncTable();
    RefreshNS();
    p.host.letPendingEventsRun();
    p.state.timer.enabled = true;
    p.host.stateChanged();
    LOADSETTINGS();
    if (!payload.empty())
        addLinkEntriesAndEnd(payload);
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

// While the kernel guard runs, the timer only reports its refusals (and
// passes on a table changed in the middle of an import); the connection
// table is not read.
void Program::guardTimerFired() {
    Parts& p = *parts_;
    if (!p.kernel.running()) {
        p.schedule.guardTick();
        return;
    }
    p.kernel.reportRefusals();
    if (p.kernel.syncTable())
        RefreshNS();
}

void Program::afterTableChange() {
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

void Program::addRange(std::string_view profile, std::string_view start, std::string_view end) {
    ADDBANRANGE(composeAddLine(profile, start, end));
    afterTableChange();
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
    afterTableChange();
    SAVELIST();
}

void Program::filesDropped(const std::vector<std::string>& paths) {
    parts_->import.filesDropped(paths);
    afterTableChange();
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
