// The kernel guard through the bastionwatch-kernel helper: the program stays
// unprivileged and hands tables, the blocking switch and teardowns to the
// helper over a socket pair; the helper ends, detaching everything, when this
// end closes, whether the program ends normally or is killed.

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/kernel_guard.h"
#include "platform/kernel_helper_protocol.h"

namespace bw {

namespace {

constexpr const char* kHelperName = "bastionwatch-kernel";

std::filesystem::path findHelper(const std::filesystem::path& executable) {
    std::filesystem::path candidates[] = {executable.parent_path() / kHelperName,
                                          std::filesystem::path(BW_LIBEXEC_DIR) / kHelperName};
    for (const auto& candidate : candidates) {
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

class HelperKernelGuard : public KernelGuard {
public:
    explicit HelperKernelGuard(std::filesystem::path executable)
        : executable_(std::move(executable)) {}

    ~HelperKernelGuard() override { endHelper(); }

    bool start(std::string& whyNot) override {
        if (started_)
            return true;
        std::filesystem::path helper = findHelper(executable_);
        if (helper.empty()) {
            whyNot = std::string("kernel blocking needs the helper ") + kHelperName +
                     ", which is not installed beside the program";
            return false;
        }
        if (!spawn(helper, whyNot))
            return false;
        auto answer = ask(HelperMessageType::Start, {});
        if (!answer) {
            whyNot = std::string("the helper ") + kHelperName +
                     " ended without an answer (may this user run it?)";
            endHelper();
            return false;
        }
        started_ = answer->ok;
        if (!started_) {
            whyNot = answer->reason;
            endHelper();  // it has nothing to do for us
        }
        return started_;
    }

    bool replaceTables(std::span<const AddressInterval> intervals,
                       std::span<const Address6Interval> intervals6) override {
        if (!started_ || !isKernelTable(intervals) || !isKernelTable(intervals6))
            return false;
        auto answer = ask(HelperMessageType::Table, encodeTable(intervals, intervals6));
        return answer && answer->ok;
    }

    bool setBlocking(bool on) override {
        auto answer = started_ ? ask(HelperMessageType::Blocking, encodeFlag(on)) : std::nullopt;
        return answer && answer->ok;
    }

    std::uint64_t takeRefusals(std::vector<KernelRefusal>& out) override {
        // Bounded: a helper sending refusals as fast as they are read must not
        // keep this call from returning.
        pollfd waiting{socket_, POLLIN, 0};
        for (int taken = 0; taken < 4096 && socket_ >= 0 && poll(&waiting, 1, 0) == 1 &&
                            (waiting.revents & POLLIN);
             ++taken) {
            if (!receiveOne())
                break;
        }
        out.insert(out.end(), pending_.begin(), pending_.end());
        pending_.clear();
        std::uint64_t lost = lost_;
        lost_ = 0;
        return lost;
    }

    TeardownResult teardown(const TcpRow& row) override {
        if (socket_ < 0 ||
            !writeHelperMessage(socket_, HelperMessageType::Teardown, encodeRow(row)))
            return {false, std::string("the helper ") + kHelperName + " has ended"};
        while (receiveOne()) {
            if (last_.type == HelperMessageType::TeardownResult) {
                if (auto result = decodeTeardownResult(last_.payload))
                    return *result;
                break;
            }
        }
        return {false, std::string("the helper ") + kHelperName + " did not answer"};
    }

    void stop() override {
        endHelper();
        started_ = false;
    }

    int refusalDescriptor() const override { return started_ ? socket_ : -1; }
    bool running() const override { return started_; }

private:
    // Closing our end makes the helper detach everything and end.
    void endHelper() {
        if (socket_ >= 0)
            close(socket_);
        socket_ = -1;
        if (helper_ > 0)
            waitpid(helper_, nullptr, 0);
        helper_ = 0;
    }

    // The helper's environment holds nothing but the cgroup to guard.
    bool spawn(const std::filesystem::path& helper, std::string& whyNot) {
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
            whyNot = std::string("no socket for the helper: ") + std::strerror(errno);
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], 0);
        posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
        std::string cgroup;
        std::vector<char*> environment;
        if (const char* chosen = std::getenv("BASTIONWATCH_CGROUP")) {
            cgroup = std::string("BASTIONWATCH_CGROUP=") + chosen;
            environment.push_back(cgroup.data());
        }
        environment.push_back(nullptr);
        std::string name = kHelperName;
        char* arguments[] = {name.data(), nullptr};
        int error =
            posix_spawn(&helper_, helper.c_str(), &actions, nullptr, arguments, environment.data());
        posix_spawn_file_actions_destroy(&actions);
        close(ends[1]);
        if (error != 0) {
            close(ends[0]);
            helper_ = 0;
            whyNot = std::string("the helper ") + kHelperName +
                     " could not be started: " + std::strerror(error);
            return false;
        }
        socket_ = ends[0];
        return true;
    }

    std::optional<HelperAnswer> ask(HelperMessageType type, std::string_view payload) {
        if (socket_ < 0 || !writeHelperMessage(socket_, type, payload))
            return std::nullopt;
        while (receiveOne()) {
            if (last_.type == HelperMessageType::Answer)
                return decodeAnswer(last_.payload);
        }
        return std::nullopt;
    }

    // Reads one message into last_, keeping refusals for takeRefusals. False
    // once the helper is gone; it is not asked anything after that.
    bool receiveOne() {
        std::string why;
        if (readHelperMessage(socket_, last_, why) != ReadOutcome::Message) {
            close(socket_);
            socket_ = -1;
            started_ = false;
            return false;
        }
        if (last_.type == HelperMessageType::Refusal) {
            if (auto refusal = decodeRefusal(last_.payload))
                pending_.push_back(*refusal);
        } else if (last_.type == HelperMessageType::Lost) {
            lost_ += decodeLost(last_.payload).value_or(0);
        }
        return true;
    }

    std::filesystem::path executable_;
    pid_t helper_ = 0;
    int socket_ = -1;
    bool started_ = false;
    HelperMessage last_;
    std::vector<KernelRefusal> pending_;
    std::uint64_t lost_ = 0;
};

}  // namespace

std::unique_ptr<KernelGuard> makeHelperKernelGuard(const std::filesystem::path& executable) {
    return std::make_unique<HelperKernelGuard>(executable);
}

}  // namespace bw
