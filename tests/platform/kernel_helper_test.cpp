// The bastionwatch-kernel helper: its messages are checked before anything is
// applied, and it ends, detaching everything, when its parent goes.

#include <arpa/inet.h>
#include <bpf/bpf.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "helper_message_bytes.h"
#include "platform/kernel_guard.h"
#include "platform/kernel_helper_protocol.h"
#include "support/as_installed.h"
#include "support/child_cgroup.h"
#include "support/ipv6_loopback.h"
#include "support/network_namespace.h"

namespace bw {
namespace {

using test::Findings;
using test::tableBytes;
using test::withHeader;

constexpr std::uint64_t kDoc = 0x20010DB800000000;  // 2001:db8::/64

// The helper as a child of this process, on a socket pair.
struct HelperProcess {
    // launcher: words put before the helper's path (to start it as another user).
    explicit HelperProcess(std::filesystem::path helper = BW_KERNEL_HELPER_EXECUTABLE,
                           std::vector<std::string> launcher = {}) {
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
            throw std::runtime_error("socketpair");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], 0);
        posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
        launcher.push_back(helper.string());
        std::vector<char*> arguments;
        for (std::string& word : launcher) arguments.push_back(word.data());
        arguments.push_back(nullptr);
        std::string cgroup = std::string("BASTIONWATCH_CGROUP=") + getenv("BASTIONWATCH_CGROUP");
        char* environment[] = {cgroup.data(), nullptr};
        if (posix_spawn(&pid, arguments[0], &actions, nullptr, arguments.data(), environment) != 0)
            throw std::runtime_error("cannot start the helper");
        posix_spawn_file_actions_destroy(&actions);
        close(ends[1]);
        socket = ends[0];
    }
    ~HelperProcess() {
        if (socket >= 0)
            close(socket);
        waitpid(pid, nullptr, 0);
    }

    void send(std::string_view bytes) const {
        (void)!::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    // The next answer, as "ok" or the reason; "ended" when the helper is gone.
    std::string answer() const {
        HelperMessage message;
        std::string why;
        while (readHelperMessage(socket, message, why) == ReadOutcome::Message) {
            if (message.type != HelperMessageType::Answer)
                continue;
            auto a = decodeAnswer(message.payload);
            return !a ? "malformed answer" : a->ok ? "ok" : a->reason;
        }
        return "ended";
    }
    // The helper's exit status once it has ended by itself.
    int exitStatus() {
        int status = -1;
        waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t pid = -1;
    int socket = -1;
};

// Runs the scenario in a private network and a child cgroup; "skip" says why not.
test::PrivateNetworkRun runInCgroup(
    const std::function<void(const std::filesystem::path&, Findings&)>& scenario) {
    return test::runInPrivateNetwork([&](Findings& f) {
        test::inChildCgroup(f,
                            [&](const test::ChildCgroup& cgroup) { scenario(cgroup.path(), f); });
    });
}

#define BW_RUN_IN_CGROUP(run, ...)                                       \
    test::PrivateNetworkRun run = runInCgroup(__VA_ARGS__);              \
    if (!run.created)                                                    \
        GTEST_SKIP() << "no private network namespace: " << run.problem; \
    if (!run.findings["skip"].empty())                                   \
        GTEST_SKIP() << run.findings["skip"];                            \
    ASSERT_TRUE(run.completed) << run.problem

constexpr std::uint32_t kBanned = 0x7F000005;  // 127.0.0.5

TEST(KernelHelper, RefusesMalformedMessagesBeforeStartWithoutAttaching) {
    BW_RUN_IN_CGROUP(run, [](const std::filesystem::path& cgroup, Findings& f) {
        HelperProcess helper;
        helper.send(withHeader(2, 12, tableBytes(1, {kBanned, kBanned})));
        f.set("tableBeforeStart", helper.answer());
        helper.send(withHeader(1, 1, "x"));
        f.set("startWithPayload", helper.answer());
        helper.send(withHeader(99, 0, ""));
        f.set("unknown", helper.answer());
        f.set("attached", test::attachedPrograms(cgroup));
        helper.send(withHeader(2, 0xFFFFFFF0, ""));
        f.set("tooLarge", helper.answer());
        f.set("status", helper.exitStatus());
    });
    const Findings& f = run.findings;
    EXPECT_EQ(f["tableBeforeStart"], "refused: the guard has not started");
    EXPECT_EQ(f["startWithPayload"], "refused: a start message carries nothing");
    EXPECT_EQ(f["unknown"], "refused: an unknown message");
    EXPECT_EQ(f.number("attached"), 0);
    EXPECT_EQ(f["tooLarge"], "refused: a message announced 4294967280 bytes");
    EXPECT_EQ(f.number("status"), 1);
}

TEST(KernelHelper, RefusesAMalformedTableAndKeepsTheOneInForce) {
    BW_RUN_IN_CGROUP(run, [](const std::filesystem::path& cgroup, Findings& f) {
        HelperProcess helper;
        helper.send(withHeader(1, 0, ""));
        f.set("start", helper.answer());
        helper.send(withHeader(2, 12, tableBytes(1, {kBanned, kBanned})));
        f.set("table", helper.answer());
        helper.send(withHeader(2, 12, tableBytes(2, {1, 2})));
        f.set("countBeyondSize", helper.answer());
        helper.send(withHeader(2, 20, tableBytes(2, {kBanned + 5, kBanned + 5, 1, 2})));
        f.set("unsorted", helper.answer());
        helper.send(withHeader(3, 4, tableBytes(7, {})));
        f.set("blockingSeven", helper.answer());
        f.set("banned", test::udpConnectError("127.0.0.5"));
        f.set("allowed", test::udpConnectError("127.0.0.10"));
        // Cut short: the stream cannot be trusted any more, so the helper ends.
        helper.send(withHeader(2, 100, "0123456789"));
        shutdown(helper.socket, SHUT_WR);
        f.set("cut", helper.answer());
        f.set("status", helper.exitStatus());
        f.set("attachedAfter", test::attachedOnceSettled(cgroup));
    });
    const Findings& f = run.findings;
    EXPECT_EQ(f["start"], "ok");
    EXPECT_EQ(f["table"], "ok");
    EXPECT_EQ(f["countBeyondSize"], "refused: the table's size does not match its count");
    EXPECT_EQ(f["unsorted"], "refused: the table is not sorted and disjoint");
    EXPECT_EQ(f["blockingSeven"], "refused: a blocking switch that is neither on nor off");
    EXPECT_EQ(f.number("banned"), EPERM);
    EXPECT_EQ(f.number("allowed"), 0);
    EXPECT_EQ(f["cut"], "refused: a message was cut short");
    EXPECT_EQ(f.number("status"), 1);
    EXPECT_EQ(f.number("attachedAfter"), 0);
}

// The helper as a member of the group runs it once installed: an ordinary
// user, the helper's file capabilities and nothing else (no CAP_PERFMON, no
// CAP_SYS_ADMIN). It loads, refuses, and detaches when its parent goes.
TEST(KernelHelper, RunsAsAnOrdinaryUserWithItsFileCapabilities) {
    test::InstalledCopy copy(BW_KERNEL_HELPER_EXECUTABLE, true);
    if (!copy.problem.empty())
        GTEST_SKIP() << copy.problem;
    BW_RUN_IN_CGROUP(run, [&](const std::filesystem::path& cgroup, Findings& f) {
        test::openToEveryone(cgroup);
        {
            HelperProcess helper(copy.executable, test::asOrdinaryUser(false));
            helper.send(withHeader(1, 0, ""));
            f.set("start", helper.answer());
            helper.send(withHeader(2, 12, tableBytes(1, {kBanned, kBanned})));
            f.set("table", helper.answer());
            f.set("banned", test::udpConnectError("127.0.0.5"));
            f.set("allowed", test::udpConnectError("127.0.0.6"));
            // The IPv6 table beside it: 2001:db8::5.
            f.set("addresses",
                  test::addToLoopback6({"2001:db8::5", "2001:db8::6"}) ? "added" : "not added");
            std::string both =
                tableBytes(1, {kBanned, kBanned}) + test::ipv6PartBytes(1, {kDoc, 5, kDoc, 5});
            helper.send(withHeader(2, static_cast<std::uint32_t>(both.size()), both));
            f.set("tables", helper.answer());
            f.set("banned6", test::udpConnectError6("2001:db8::5"));
            f.set("allowed6", test::udpConnectError6("2001:db8::6"));
            f.set("bannedWithBoth", test::udpConnectError("127.0.0.5"));
        }
        f.set("attachedAfter", test::attachedOnceSettled(cgroup));
    });
    const Findings& f = run.findings;
    EXPECT_EQ(f["start"], "ok");
    EXPECT_EQ(f["table"], "ok");
    EXPECT_EQ(f.number("banned"), EPERM);
    EXPECT_EQ(f.number("allowed"), 0);
    EXPECT_EQ(f["addresses"], "added");
    EXPECT_EQ(f["tables"], "ok");
    EXPECT_EQ(f.number("banned6"), EPERM);
    EXPECT_EQ(f.number("allowed6"), 0);
    EXPECT_EQ(f.number("bannedWithBoth"), EPERM);
    EXPECT_EQ(f.number("attachedAfter"), 0);
}

// Whoever may run the helper gets no general right to close connections: only
// a connection to an address of the table in force, while blocking is on.
TEST(KernelHelper, ClosesOnlyConnectionsToBannedAddresses) {
    BW_RUN_IN_CGROUP(run, [](const std::filesystem::path&, Findings& f) {
        HelperProcess helper;
        int listener = test::listenOn("127.0.0.9", 8080);
        int client = test::connectFrom("127.0.0.1", "127.0.0.9", 8080);
        int served = test::acceptOne(listener);
        TcpRow row;
        for (const TcpRow& r : makeSystemTcpTable()->readConnections(false)) {
            if (r.remoteAddress == IpAddress::fromV4(0x7F000009) && r.state == kTcpEstablished)
                row = r;
        }
        auto teardown = [&] {
            helper.send(
                withHeader(4, static_cast<std::uint32_t>(encodeRow(row).size()), encodeRow(row)));
            HelperMessage message;
            std::string why;
            while (readHelperMessage(helper.socket, message, why) == ReadOutcome::Message) {
                if (message.type == HelperMessageType::TeardownResult) {
                    auto result = decodeTeardownResult(message.payload);
                    return !result          ? std::string("malformed")
                           : result->closed ? "closed"
                                            : result->reason;
                }
            }
            return std::string("ended");
        };
        f.set("beforeStart", teardown());
        helper.send(withHeader(1, 0, ""));
        f.set("start", helper.answer());
        helper.send(withHeader(2, 12, tableBytes(1, {kBanned, kBanned})));
        f.set("table", helper.answer());
        f.set("notBanned", teardown());
        f.set("stillOpen", test::carriesData(client, served, "x") ? "yes" : "no");
        helper.send(withHeader(2, 12, tableBytes(1, {0x7F000009, 0x7F000009})));
        f.set("banTable", helper.answer());
        helper.send(withHeader(3, 4, encodeFlag(false)));
        f.set("off", helper.answer());
        f.set("blockingOff", teardown());
        helper.send(withHeader(3, 4, encodeFlag(true)));
        f.set("on", helper.answer());
        f.set("banned", teardown());
        f.set("closedError", test::readError(client));

        // An IPv6 connection: closed only once the IPv6 table bans its peer.
        if (!test::addToLoopback6({"2001:db8::8", "2001:db8::9"})) {
            f.set("addresses6", "not added");
            return;
        }
        f.set("addresses6", "added");
        int listener6 = test::listenOn6("2001:db8::9", 8080);
        int client6 = test::connect6From("2001:db8::8", "2001:db8::9", 8080);
        if (client6 < 0) {
            f.set("connected6", std::strerror(errno));
            return;
        }
        int served6 = test::acceptOne(listener6);
        for (const TcpRow& r : makeSystemTcpTable()->readConnections(false)) {
            if (r.remoteAddress == *parseIpAddress("2001:db8::9") && r.state == kTcpEstablished)
                row = r;
        }
        f.set("notBanned6", teardown());
        f.set("stillOpen6", test::carriesData(client6, served6, "x") ? "yes" : "no");
        std::string both =
            tableBytes(1, {0x7F000009, 0x7F000009}) + test::ipv6PartBytes(1, {kDoc, 9, kDoc, 9});
        helper.send(withHeader(2, static_cast<std::uint32_t>(both.size()), both));
        f.set("banTable6", helper.answer());
        f.set("banned6", teardown());
        f.set("closedError6", test::readError(client6));
    });
    const Findings& f = run.findings;
    EXPECT_EQ(f["beforeStart"], "refused: the guard has not started");
    EXPECT_EQ(f["start"], "ok");
    EXPECT_EQ(f["notBanned"], "refused: the connection's address is not banned");
    EXPECT_EQ(f["stillOpen"], "yes");
    EXPECT_EQ(f["blockingOff"], "refused: blocking is off");
    EXPECT_EQ(f["banned"], "closed");
    EXPECT_EQ(f.number("closedError"), ECONNABORTED);
    EXPECT_EQ(f["addresses6"], "added");
    EXPECT_EQ(f["connected6"], "");
    EXPECT_EQ(f["notBanned6"], "refused: the connection's address is not banned");
    EXPECT_EQ(f["stillOpen6"], "yes");
    EXPECT_EQ(f["banTable6"], "ok");
    EXPECT_EQ(f["banned6"], "closed");
    EXPECT_EQ(f.number("closedError6"), ECONNABORTED);
}

// Set but empty, BASTIONWATCH_CGROUP names no cgroup, least of all the
// machine's root; and a file, or a folder outside the cgroup2 mount, is refused.
TEST(KernelHelper, AttachesOnlyToACgroupV2Folder) {
    BW_RUN_IN_CGROUP(run, [](const std::filesystem::path& cgroup, Findings& f) {
        struct Case {
            const char* key;
            std::string value;
        } cases[] = {{"empty", ""}, {"file", (cgroup / "cgroup.procs").string()}, {"tmp", "/tmp"}};
        for (const Case& c : cases) {
            setenv("BASTIONWATCH_CGROUP", c.value.c_str(), 1);
            HelperProcess helper;
            helper.send(withHeader(1, 0, ""));
            f.set(c.key, helper.answer());
        }
        setenv("BASTIONWATCH_CGROUP", cgroup.c_str(), 1);
        f.set("attached", test::attachedPrograms(cgroup));
    });
    const Findings& f = run.findings;
    EXPECT_EQ(f["empty"], "BASTIONWATCH_CGROUP is set but empty; it must name a cgroup v2 folder");
    EXPECT_NE(f["file"].find("cannot open the cgroup"), std::string::npos) << f["file"];
    EXPECT_EQ(f["tmp"], "/tmp is not a cgroup v2 folder");
    EXPECT_EQ(f.number("attached"), 0);
}

// The client of the helper in a process of its own, killed once it guards:
// the helper sees its socket close and ends, detaching everything.
TEST(KernelHelper, EndsWithItsParent) {
    BW_RUN_IN_CGROUP(run, [](const std::filesystem::path& cgroup, Findings& f) {
        int ready[2];
        if (pipe(ready) != 0)
            throw std::runtime_error("pipe");
        pid_t parent = fork();
        if (parent == 0) {
            close(ready[0]);
            std::filesystem::path beside =
                std::filesystem::path(BW_KERNEL_HELPER_EXECUTABLE).parent_path() / "program";
            auto guard = makeHelperKernelGuard(beside);
            std::string whyNot;
            bool started = guard->start(whyNot) && guard->replaceTable({{{kBanned, kBanned}}});
            std::string word = started ? "y" : "n:" + whyNot;
            (void)!write(ready[1], word.data(), word.size());
            close(ready[1]);
            pause();  // until killed
            _exit(0);
        }
        close(ready[1]);
        char word[512] = {};
        (void)!read(ready[0], word, sizeof word - 1);
        close(ready[0]);
        f.set("started", word);
        f.set("banned", test::udpConnectError("127.0.0.5"));
        f.set("attachedWhileRunning", test::attachedPrograms(cgroup));
        kill(parent, SIGKILL);
        waitpid(parent, nullptr, 0);
        f.set("attachedAfter", test::attachedOnceSettled(cgroup));
    });
    const Findings& f = run.findings;
    EXPECT_EQ(f["started"], "y");
    EXPECT_EQ(f.number("banned"), EPERM);
    EXPECT_EQ(f.number("attachedWhileRunning"), 6);
    EXPECT_EQ(f.number("attachedAfter"), 0);
}

// The helper started without the capabilities (dropped from the bounding set,
// so not even root's exec regains them) says why and attaches nothing.
TEST(KernelHelper, WithoutTheCapabilitiesTheHelperSaysWhy) {
    BW_RUN_IN_CGROUP(run, [](const std::filesystem::path& cgroup, Findings& f) {
        bool dropped = prctl(PR_CAPBSET_DROP, CAP_BPF, 0, 0, 0) == 0 &&
                       prctl(PR_CAPBSET_DROP, CAP_SYS_ADMIN, 0, 0, 0) == 0;
        f.set("dropped", dropped ? "yes" : "no");
        std::filesystem::path beside =
            std::filesystem::path(BW_KERNEL_HELPER_EXECUTABLE).parent_path() / "program";
        auto guard = makeHelperKernelGuard(beside);
        std::string whyNot;
        f.set("started", guard->start(whyNot) ? "yes" : "no");
        f.set("why", whyNot);
        f.set("running", guard->running() ? "yes" : "no");
        f.set("attached", test::attachedPrograms(cgroup));
    });
    const Findings& f = run.findings;
    EXPECT_EQ(f["dropped"], "yes");
    EXPECT_EQ(f["started"], "no");
    EXPECT_EQ(f["why"], "kernel blocking needs the CAP_BPF and CAP_NET_ADMIN capabilities");
    EXPECT_EQ(f["running"], "no");
    EXPECT_EQ(f.number("attached"), 0);
}

}  // namespace
}  // namespace bw
