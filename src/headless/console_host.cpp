#include "console_host.h"

#include <time.h>

#include <cstdlib>
#include <string>

#include "guard/refusal_text.h"
#include "program/program.h"

namespace bw {

namespace {

volatile std::sig_atomic_t stopRequested = 0;
volatile std::sig_atomic_t reloadRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

void requestReload(int) {
    reloadRequested = 1;
}

// The log view's CR LF line ends become the terminal's plain line feeds.
std::string withLineFeeds(std::string_view text) {
    std::string lines;
    lines.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            lines += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            lines += text[i];
        }
    }
    return lines;
}

void sleepFor(std::chrono::nanoseconds span) {
    if (span <= std::chrono::nanoseconds::zero())
        return;
    timespec request{static_cast<time_t>(span.count() / 1000000000),
                     static_cast<long>(span.count() % 1000000000)};
    nanosleep(&request, nullptr);  // a stop signal cuts it short, which is what we want
}

}  // namespace

void ConsoleHost::installStopSignals() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the sleep must end when asked to stop
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // SIGHUP would end the guard without saving; a service manager sends it to reload.
    action.sa_handler = requestReload;
    sigaction(SIGHUP, &action, nullptr);
    // A signal mask inherited from whoever started us must not make the guard unstoppable.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigprocmask(SIG_UNBLOCK, &stopSignals, nullptr);
    // A reader of our output that went away must not end the guard: the lines are lost instead.
    signal(SIGPIPE, SIG_IGN);
}

void ConsoleHost::run() {
    startedUp_ = true;
    for (;;) {
        stopIfAsked();
        sleepFor(nextTick_ - std::chrono::steady_clock::now());
        stopIfAsked();
        reloadIfAsked();
        tickIfDue();
    }
}

void ConsoleHost::reloadIfAsked() {
    // Only from the run loop: a reload inside the start-up or inside another
    // reload would empty the table that is being filled.
    if (!reloadRequested)
        return;
    reloadRequested = 0;
    appendLog("Reloading the blocklist and the settings (SIGHUP).\r\n");
    // As after an update, without saving first: the settings file may have been
    // edited, and the reload is there to read that edit. A stop during the reload
    // waits for it, as during the start-up, so the old settings are not saved over it.
    startedUp_ = false;
    program_->STARTUPLOAD("");
    startedUp_ = true;
}

void ConsoleHost::letPendingEventsRun() {
    stopIfAsked();
    tickIfDue();
}

void ConsoleHost::tickIfDue() {
    const ProgramState& state = program_->state();
    auto now = std::chrono::steady_clock::now();
    if (!state.timer.enabled || now < nextTick_)
        return;
    nextTick_ = now + std::chrono::milliseconds(state.timer.intervalMs);
    program_->guardTimerFired();
}

void ConsoleHost::stopIfAsked() {
    // Until the start-up has read the settings, saving them would write the
    // defaults over them; a stop asked for before then waits for run().
    if (stopRequested && startedUp_ && program_)
        program_->unload();
}

void ConsoleHost::showMessage(const Message& message) {
    std::fprintf(err_, "%s: %s\n", message.shownTitle().c_str(),
                 withLineFeeds(message.text).c_str());
    std::fflush(err_);
}

void ConsoleHost::appendLog(std::string_view text) {
    std::string lines = withLineFeeds(text);
    std::fwrite(lines.data(), 1, lines.size(), out_);
    std::fflush(out_);
}

// Only after lines just printed: a repeat that was only counted prints nothing.
void ConsoleHost::refusalRecorded(const RefusalRecord& refusal, bool reported) {
    if (refusalDetails_ && reported)
        appendLog(refusalDetailsLine(refusal) + "\r\n");
}

void ConsoleHost::waitWithProgress(std::string_view caption,
                                   const std::function<bool()>& finished) {
    std::fprintf(err_, "%.*s\n", static_cast<int>(caption.size()), caption.data());
    std::fflush(err_);
    while (!finished()) {
        letPendingEventsRun();
        sleepFor(std::chrono::milliseconds(5));
    }
}

void ConsoleHost::exitNow(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace bw
