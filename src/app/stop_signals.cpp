#include "app/stop_signals.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QObject>
#include <QSocketNotifier>
#include <csignal>

namespace bw {

namespace {

// The signal handler may only write to a descriptor; the event loop reads it.
int stopSocket[2] = {-1, -1};

void noteStop(int) {
    char byte = 1;
    ssize_t ignored = ::write(stopSocket[1], &byte, 1);
    (void)ignored;
}

bool openStopSocket() {
    if (stopSocket[0] >= 0)
        return true;
    return ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, stopSocket) == 0;
}

}  // namespace

void closeOnStopSignals(QObject* owner, std::function<void()> close) {
    if (!openStopSocket())
        return;
    auto* notifier = new QSocketNotifier(stopSocket[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [close = std::move(close)] {
        char bytes[16];
        while (::read(stopSocket[0], bytes, sizeof bytes) > 0) {
        }
        close();
    });
    struct sigaction action {};
    action.sa_handler = noteStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

}  // namespace bw
