// bastionwatch-kernel: the one part of Bastionwatch that holds CAP_BPF and
// CAP_NET_ADMIN. It loads and attaches the kernel guard for its parent, takes
// tables, the blocking switch and connection teardowns over the socket on its
// standard input and output, and sends refusals back. It trusts nothing it
// reads, runs no other program, and ends (detaching everything) as soon as its
// parent's end of the socket closes.

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/kernel_guard.h"
#include "platform/kernel_helper_protocol.h"

namespace bw {
namespace {

constexpr int kFromParent = 0;
constexpr int kToParent = 1;

// A helper with file capabilities must not be steered by its caller's
// environment: everything but the cgroup to guard is dropped before any
// library gets to read it.
void keepOnlyTheCgroupVariable() {
    const char* chosen = std::getenv("BASTIONWATCH_CGROUP");
    std::optional<std::string> kept;
    if (chosen)
        kept = chosen;
    clearenv();
    if (kept)
        setenv("BASTIONWATCH_CGROUP", kept->c_str(), 1);
}

class HelperSession {
public:
    int run() {
        for (;;) {
            pollfd watched[2] = {{kFromParent, POLLIN, 0},
                                 {guard_->refusalDescriptor(), POLLIN, 0}};
            if (poll(watched, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return 1;
            }
            if ((watched[1].revents & POLLIN) && !forwardRefusals())
                return 1;
            if (watched[0].revents == 0)
                continue;
            HelperMessage message;
            std::string why;
            switch (readHelperMessage(kFromParent, message, why)) {
                case ReadOutcome::Ended:
                    return 0;
                case ReadOutcome::Broken:
                    answer(false, "refused: " + why);
                    return 1;
                case ReadOutcome::Message:
                    if (!handle(message))
                        return 1;
            }
        }
    }

private:
    bool handle(const HelperMessage& message) {
        switch (message.type) {
            case HelperMessageType::Start:
                return start(message.payload);
            case HelperMessageType::Table:
                return replaceTable(message.payload);
            case HelperMessageType::Blocking:
                return setBlocking(message.payload);
            case HelperMessageType::Teardown:
                return teardown(message.payload);
            default:
                return answer(false, "refused: an unknown message");
        }
    }

    bool start(const std::string& payload) {
        if (!payload.empty())
            return answer(false, "refused: a start message carries nothing");
        std::string whyNot;
        started_ = guard_->start(whyNot);
        return answer(started_, whyNot);
    }

    bool replaceTable(const std::string& payload) {
        std::string why;
        auto tables = decodeTable(payload, why);
        if (!tables)
            return answer(false, "refused: " + why);
        if (!started_)
            return answer(false, "refused: the guard has not started");
        if (!guard_->replaceTables(tables->v4, tables->v6))
            return answer(false, "the kernel did not take the table");
        table_ = std::move(tables->v4);
        table6_ = std::move(tables->v6);
        return answer(true, {});
    }

    bool setBlocking(const std::string& payload) {
        auto on = decodeFlag(payload);
        if (!on)
            return answer(false, "refused: a blocking switch that is neither on nor off");
        if (!started_)
            return answer(false, "refused: the guard has not started");
        if (!guard_->setBlocking(*on))
            return answer(false, "the kernel guard could not be switched");
        blocking_ = *on;
        return answer(true, {});
    }

    // Only a connection to an address the table in force bans, while blocking
    // is on: the right to close connections is not handed to whoever may run
    // this helper.
    bool teardown(const std::string& payload) {
        auto row = decodeRow(payload);
        std::string refusal = teardownRefusal(row);
        TeardownResult result =
            refusal.empty() ? guard_->teardown(*row) : TeardownResult{false, refusal};
        return writeHelperMessage(kToParent, HelperMessageType::TeardownResult,
                                  encodeTeardownResult(result));
    }

    std::string teardownRefusal(const std::optional<TcpRow>& row) const {
        if (!row)
            return "refused: a malformed connection";
        if (!started_)
            return "refused: the guard has not started";
        if (!blocking_)
            return "refused: blocking is off";
        // Only what the tables it holds ban, each address in its own family's table.
        const IpAddress& peer = row->remoteAddress;
        const bool banned = peer.isV4() ? spanHolding(table_, peer.v4()) != nullptr
                                        : spanHolding(table6_, peer.v6()) != nullptr;
        if (!banned)
            return "refused: the connection's address is not banned";
        return {};
    }

    bool forwardRefusals() {
        refusals_.clear();
        std::uint64_t lost = guard_->takeRefusals(refusals_);
        for (const KernelRefusal& r : refusals_) {
            if (!writeHelperMessage(kToParent, HelperMessageType::Refusal, encodeRefusal(r)))
                return false;
        }
        return lost == 0 ||
               writeHelperMessage(kToParent, HelperMessageType::Lost, encodeLost(lost));
    }

    bool answer(bool ok, const std::string& reason) {
        return writeHelperMessage(kToParent, HelperMessageType::Answer, encodeAnswer({ok, reason}));
    }

    std::unique_ptr<KernelGuard> guard_ = makeInProcessKernelGuard();
    bool started_ = false;
    bool blocking_ = true;  // as start() leaves it
    std::vector<AddressInterval> table_;
    std::vector<Address6Interval> table6_;
    std::vector<KernelRefusal> refusals_;
};

}  // namespace
}  // namespace bw

int main() {
    bw::keepOnlyTheCgroupVariable();
    return bw::HelperSession().run();
}
