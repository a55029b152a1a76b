#include "guard/kernel_blocking.h"

#include "blocklist/kernel_table.h"

namespace bw {

namespace {

// A helper that ended is started again after 2, 4, 8 and 16 seconds; then the
// program gives up and says so.
constexpr int kStartTries = 4;
constexpr std::chrono::seconds kFirstPause{2};

std::chrono::steady_clock::duration pauseAfter(int failedStarts) {
    return kFirstPause * (1 << failedStarts);
}

// The start-up line where nothing can be refused or closed, without its line end.
std::string unguardedText(const std::string& why) {
    return "Not guarded: banned connections can be neither refused nor closed, only reported (" +
           why + "; closing connections needs the CAP_NET_ADMIN capability).";
}

const char* const kKernelLine =
    "Guard: kernel blocking; connections to banned addresses are refused before they are "
    "made.\r\n\r\n";

std::vector<AddressInterval> asKernelTable(const std::vector<AddressSpan>& spans) {
    std::vector<AddressInterval> intervals;
    intervals.reserve(spans.size());
    for (const AddressSpan& s : spans) intervals.push_back({s.first, s.last});
    return intervals;
}

}  // namespace

KernelBlocking::KernelBlocking(KernelGuard* guard, const BanTable& table, const ListTable& lists,
                               ConnectionLog& log, ProgramState& state, Host& host,
                               const Clock& clock)
    : guard_(guard),
      table_(table),
      lists_(lists),
      log_(log),
      state_(state),
      host_(host),
      clock_(clock) {}

void KernelBlocking::start(bool canClose) {
    if (!guard_)
        return;  // a program without one (tests) has nothing to say about it
    canClose_ = canClose;
    std::string whyNot;
    running_ = guard_->start(whyNot);
    if (running_) {
        guard_->setBlocking(state_.options.blocking);
        tableChanged_ = true;
        state_.guardMode = GuardMode::Kernel;
        startLine_ = kKernelLine;
    } else if (canClose) {
        state_.guardMode = GuardMode::Polling;
        startLine_ = "Guard: polling the connection table, because " + whyNot + ".\r\n\r\n";
    } else {
        state_.guardMode = GuardMode::ReportOnly;
        startLine_ = unguardedText(whyNot) + "\r\n\r\n";
    }
    host_.stateChanged();
}

bool KernelBlocking::syncTable() {
    if (!running_ || !tableChanged_ || held_)
        return false;
    tableChanged_ = false;
    const std::vector<AddressInterval> intervals =
        asKernelTable(effectiveBannedSpans(kernelIntervals(table_), lists_));
    const std::vector<Address6Interval> intervals6 =
        effectiveBannedSpans6(kernelIntervals6(table_), lists_);
    if (guard_->replaceTables(intervals, intervals6))
        return true;
    if (!guard_->running()) {
        stopped("the kernel guard has ended", true);
        return false;
    }
    // The old table must not stay in force unseen: everything is detached.
    guard_->stop();
    if (intervals.size() > kMaxKernelIntervals) {
        stopped("the ban table and the lists make " + std::to_string(intervals.size()) +
                    " intervals; the kernel's table holds at most " +
                    std::to_string(kMaxKernelIntervals),
                false);
    } else if (intervals6.size() > kMaxKernelIntervals) {
        stopped("the ban table and the lists make " + std::to_string(intervals6.size()) +
                    " IPv6 intervals; the kernel's table holds at most " +
                    std::to_string(kMaxKernelIntervals),
                false);
    } else {
        stopped("the kernel did not take the new table", false);
    }
    return false;
}

void KernelBlocking::setBlocking(bool on) {
    if (running_ && !guard_->setBlocking(on)) {
        // A guard that ended is started again; one that would not switch is not.
        const bool ended = !guard_->running();
        if (!ended)
            guard_->stop();
        stopped("the kernel guard could not be switched", ended);
    }
}

bool KernelBlocking::restartIfDue() {
    if (running_ || !nextStart_ || clock_.steadyNow() < *nextStart_)
        return false;
    std::string whyNot;
    if (!guard_->start(whyNot)) {
        if (++failedStarts_ >= kStartTries)
            gaveUp(whyNot);
        else
            nextStart_ = clock_.steadyNow() + pauseAfter(failedStarts_);
        return false;
    }
    running_ = true;
    failedStarts_ = 0;
    nextStart_.reset();
    guard_->setBlocking(state_.options.blocking);
    tableChanged_ = true;
    state_.guardMode = GuardMode::Kernel;
    startLine_ = kKernelLine;
    host_.appendLog(
        "Kernel blocking started again; connections to banned addresses are refused before "
        "they are made.\r\n");
    host_.stateChanged();
    return true;
}

void KernelBlocking::gaveUp(const std::string& why) {
    nextStart_.reset();
    host_.appendLog("Kernel blocking could not be started again after " +
                    std::to_string(kStartTries) + " tries (" + why + "); " +
                    (canClose_ ? "polling the connection table instead."
                               : "not guarded: banned connections are only reported.") +
                    "\r\n");
    host_.stateChanged();
}

void KernelBlocking::reportRefusals() {
    if (!running_)
        return;
    refusals_.clear();
    std::uint64_t lost = guard_->takeRefusals(refusals_);
    // A helper that ended took the kernel guard with it: never go on as if guarded.
    if (!guard_->running())
        stopped("the kernel guard has ended", true);
    LocalTime t = clock_.now();
    const Second now = ReportLimit::secondOf(t);
    for (const KernelRefusal& r : refusals_) report(r, now);
    if (lost > 0) {
        state_.counters.blocked += lost;
        host_.stateChanged();
    }
}

// The lines and the count of a rejection by the guard pass, for each entry
// that holds the address, in table order. Within one second an address is
// only counted again.
void KernelBlocking::report(const KernelRefusal& refusal, const Second& now) {
    const std::vector<std::string> names = namesOf(refusal.address);
    const std::size_t entries = names.empty() ? 1 : names.size();
    const bool quiet = reportLimit_.quiet(refusal.address, now);
    if (quiet || names.empty()) {
        state_.counters.blocked += entries;
        host_.stateChanged();
        keep(refusal, names, false);
        return;
    }
    const std::string address = ipAddressText(refusal.address);
    if (state_.options.fullLog)
        log_.logFullStep(address);
    for (const std::string& name : names) {
        if (state_.options.fullLog)
            log_.logRejectFile(address, name);
        log_.logRejectView(address, name);
        ++state_.counters.blocked;
        host_.stateChanged();
    }
    keep(refusal, names, true);
}

void KernelBlocking::keep(const KernelRefusal& refusal, const std::vector<std::string>& names,
                          bool reported) {
    if (!store_)
        return;
    RefusalRecord r;
    r.address = refusal.address;
    for (const std::string& name : names) r.entry += (r.entry.empty() ? "" : ", ") + name;
    r.pid = refusal.pid;
    r.command = refusal.command;
    // The kernel names a process only where one asked; a packet has none.
    if (refusal.pid == 0)
        r.programUnknown = refusal.direction == RefusalDirection::Incoming
                               ? "a packet coming in"
                               : "a packet going out, not a new connection";
    r.port = refusal.port;
    r.protocol = refusal.protocol;
    r.direction = refusal.direction == RefusalDirection::Incoming ? RefusedDirection::Incoming
                                                                  : RefusedDirection::Outgoing;
    store_->record(std::move(r), reported);
}

std::vector<std::string> KernelBlocking::namesOf(const IpAddress& peer) {
    std::vector<std::string> names;
    table_.findMatches(peer, hits_);
    for (EntryRef hit : hits_) names.emplace_back(table_.at(hit).name);
    if (names.empty()) {
        // Named by the entry and, in brackets, the list it came from.
        if (std::optional<ListHit> hit = lists_.findBlock(peer))
            names.push_back(hit->entry + " [" + hit->listName + "]");
    }
    return names;
}

// What a later start-up load says too: never the kernel line once it has stopped.
void KernelBlocking::stopped(const std::string& why, bool startAgain) {
    running_ = false;
    std::string again;
    if (startAgain) {
        nextStart_ = clock_.steadyNow() + pauseAfter(failedStarts_);
        again = " Starting it again in " +
                std::to_string(
                    std::chrono::duration_cast<std::chrono::seconds>(pauseAfter(failedStarts_))
                        .count()) +
                " seconds.";
    }
    if (canClose_) {
        state_.guardMode = GuardMode::Polling;
        host_.appendLog("Kernel blocking stopped (" + why +
                        "); polling the connection table instead." + again + "\r\n");
        startLine_ = "Guard: polling the connection table, because kernel blocking stopped (" +
                     why + ").\r\n\r\n";
    } else {
        state_.guardMode = GuardMode::ReportOnly;
        const std::string line = unguardedText("kernel blocking stopped: " + why);
        host_.appendLog(line + again + "\r\n");
        startLine_ = line + "\r\n\r\n";
    }
    host_.stateChanged();
}

}  // namespace bw
