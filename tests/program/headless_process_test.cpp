// Runs the real console guard as a user would: a copy of the executable in a
// folder of its own, beside its blocklist.

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/child_cgroup.h"
#include "support/network_namespace.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

namespace fs = std::filesystem;

struct Child {
    pid_t pid = -1;
    int out = -1;  // standard output and standard error, merged
};

// How the child is started, beyond its arguments.
struct Setup {
    // The program starts with a SIGTERM already pending (held blocked across
    // exec), so the stop arrives before the start-up has even begun.
    bool stopFirst = false;
    int nice = 0;  // the scheduling nice value it inherits
    // A network namespace of its own; false where the test already made one.
    bool privateNetwork = true;
    // BASTIONWATCH_HOME as the program sees it; unset when empty, so the
    // folder beside the executable is used whatever the test's environment says.
    std::string bastionwatchHome = {};
};

Child start(const fs::path& program, const std::vector<std::string>& arguments, Setup setup = {}) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return {};
    pid_t pid = fork();
    if (pid == 0) {
        // Whatever the guard loads into the kernel sees only this test's network.
        if (setup.privateNetwork && unshare(CLONE_NEWNET) != 0)
            _exit(125);
        if (setpriority(PRIO_PROCESS, 0, setup.nice) != 0)
            _exit(126);
        if (setup.stopFirst) {
            sigset_t term;
            sigemptyset(&term);
            sigaddset(&term, SIGTERM);
            sigprocmask(SIG_BLOCK, &term, nullptr);
            kill(getpid(), SIGTERM);
        }
        if (setup.bastionwatchHome.empty())
            unsetenv("BASTIONWATCH_HOME");
        else
            setenv("BASTIONWATCH_HOME", setup.bastionwatchHome.c_str(), 1);
        dup2(pipeEnds[1], STDOUT_FILENO);
        dup2(pipeEnds[1], STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    return {pid, pipeEnds[0]};
}

// Reads until the text has appeared or the program closed its output. The wait
// is bounded so a broken program fails the test instead of hanging it.
std::string readUntil(int fd, const std::string& wanted) {
    std::string seen;
    for (int waits = 0; waits < 600 && seen.find(wanted) == std::string::npos; ++waits) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buffer[4096];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        seen.append(buffer, static_cast<std::size_t>(n));
    }
    return seen;
}

// The nice value of a running process, from /proc/<pid>/stat (its 19th field).
int niceOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 1));
    std::string field;
    for (int number = 3; number <= 19 && fields >> field; ++number) {
    }
    return std::stoi(field);
}

int exitStatusOf(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class HeadlessProcess : public ::testing::Test {
protected:
    void SetUp() override {
        program = dir.file("bastionwatch-headless");
        fs::copy_file(BW_HEADLESS_EXECUTABLE, program);
        // Documentation addresses only: nothing real is ever closed by this test.
        dir.write("Moatlist.P2P", "TEST-NET-1:192.0.2.0-192.0.2.255\r\n");
        // Run as root, the console guard loads the kernel guard: into a cgroup
        // made for the test, never the machine's root one.
        if (!cgroup.ok())
            setenv("BASTIONWATCH_CGROUP", "/nonexistent/bastionwatch-test-cgroup", 1);
    }
    test::TempDir dir;
    test::ChildCgroup cgroup{false};
    fs::path program;
};

TEST_F(HeadlessProcess, ReportsTheLoadAndSavesTheSettingsOnSigterm) {
    Child child = start(program, {});
    ASSERT_GT(child.pid, 0);
    std::string output = readUntil(child.out, "Successfully loaded 256 IPs from 1 profiles.");
    kill(child.pid, SIGTERM);
    output += readUntil(child.out, "\x04");  // the rest, until the program closes its output
    close(child.out);

    EXPECT_EQ(exitStatusOf(child.pid), 0);
    EXPECT_EQ(output.rfind("Bastionwatch v1.99b (2.0 pre-release)\n", 0), 0u) << output;
    EXPECT_NE(output.find("\nSystem Timezone: GMT "), std::string::npos) << output;
    EXPECT_NE(output.find("Successfully loaded 256 IPs from 1 profiles.\n"), std::string::npos)
        << output;
    EXPECT_EQ(dir.read("BW2Config.p2p"), "0\r\n90%\r\n\r\n");
}

TEST_F(HeadlessProcess, AStopDuringTheStartUpKeepsTheSavedSettings) {
    const std::string settings = "0\r\n37\r\n5\r\n";  // as the program writes them back
    dir.write("BW2Config.p2p", settings);
    Child child = start(program, {}, {.stopFirst = true});
    ASSERT_GT(child.pid, 0);
    std::string output = readUntil(child.out, "\x04");
    close(child.out);
    kill(child.pid, SIGKILL);  // only matters when the stop was not obeyed

    EXPECT_EQ(exitStatusOf(child.pid), 0) << output;
    EXPECT_NE(output.find("Successfully loaded 256 IPs from 1 profiles."), std::string::npos)
        << output;
    EXPECT_EQ(dir.read("BW2Config.p2p"), settings);
}

TEST_F(HeadlessProcess, AReaderThatWentAwayDoesNotEndTheGuard) {
    Child child = start(program, {}, {.stopFirst = true});
    ASSERT_GT(child.pid, 0);
    close(child.out);  // every line the program writes now has no reader

    EXPECT_EQ(exitStatusOf(child.pid), 0);
    EXPECT_EQ(dir.read("BW2Config.p2p"), "0\r\n90%\r\n\r\n");
}

TEST_F(HeadlessProcess, TheStartUpRaisesThePriorityButNeverLowersIt) {
    if (geteuid() != 0)
        GTEST_SKIP() << "choosing a negative nice value needs root";
    struct Case {
        int inherited;
        int running;
    } cases[] = {{0, -10}, {-9, -10}, {-10, -10}, {-15, -15}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inherited);
        Child child = start(program, {}, {.nice = c.inherited});
        ASSERT_GT(child.pid, 0);
        std::string output = readUntil(child.out, "Successfully loaded");
        ASSERT_NE(output.find("Successfully loaded"), std::string::npos) << output;
        EXPECT_EQ(niceOf(child.pid), c.running);
        kill(child.pid, SIGTERM);
        readUntil(child.out, "\x04");
        close(child.out);
        EXPECT_EQ(exitStatusOf(child.pid), 0);
    }
}

TEST_F(HeadlessProcess, ALinkAddsItsEntriesAndEnds) {
    Child child = start(program, {"bwdat://x@1.2.3.4:1.2.3.9/"});
    ASSERT_GT(child.pid, 0);
    std::string output = readUntil(child.out, "\x04");
    close(child.out);

    EXPECT_EQ(exitStatusOf(child.pid), 0);
    EXPECT_EQ(dir.read("Moatlist.P2P"),
              "x:1.2.3.4-1.2.3.9\r\nTEST-NET-1:192.0.2.0-192.0.2.255\r\n");
    EXPECT_NE(output.find("Bastionwatch Update: Added range(s) to blocklist."), std::string::npos)
        << output;
}

// One guard per folder: a second start hands its link to the running one,
// whose table takes the entries at once, and without a link it only says so.
TEST_F(HeadlessProcess, ASecondStartHandsItsLinkToTheRunningGuard) {
    Child running = start(program, {});
    ASSERT_GT(running.pid, 0);
    std::string output = readUntil(running.out, "Successfully loaded");

    Child bare = start(program, {});
    std::string bareOutput = readUntil(bare.out, "\x04");
    close(bare.out);
    EXPECT_EQ(exitStatusOf(bare.pid), 1);
    EXPECT_NE(bareOutput.find("already running"), std::string::npos) << bareOutput;

    Child linked = start(program, {"bwdat://x@1.2.3.4:1.2.3.9"});
    std::string linkedOutput = readUntil(linked.out, "\x04");
    close(linked.out);
    EXPECT_EQ(exitStatusOf(linked.pid), 0) << linkedOutput;
    EXPECT_NE(linkedOutput.find("Added range(s) to blocklist."), std::string::npos) << linkedOutput;

    output += readUntil(running.out, "Bastionwatch Update: Added range(s) to blocklist.");
    kill(running.pid, SIGTERM);
    output += readUntil(running.out, "\x04");
    close(running.out);
    EXPECT_EQ(exitStatusOf(running.pid), 0);
    EXPECT_NE(output.find("Bastionwatch Update: Added range(s) to blocklist."), std::string::npos)
        << output;
    EXPECT_NE(dir.read("Moatlist.P2P").find("x:1.2.3.4-1.2.3.9\r\n"), std::string::npos);
}

// End to end: the console guard, run as root in a private network and a child
// cgroup, refuses a banned connect of a process in that cgroup and reports it
// like a closed connection.
TEST(HeadlessKernelGuard, RefusesABannedConnectAndReportsIt) {
    test::TempDir folder;
    fs::path program = folder.file("bastionwatch-headless");
    fs::copy_file(BW_HEADLESS_EXECUTABLE, program);
    folder.write("Moatlist.P2P", "Local Test:127.0.0.5\r\n");
    BW_RUN_IN_PRIVATE_NETWORK(run, [&](test::Findings& f) {
        test::inChildCgroup(f, [&](const test::ChildCgroup&) {
            bw::Setup setup;
            setup.privateNetwork = false;
            Child child = start(program, {}, setup);
            std::string output = readUntil(child.out, "Successfully loaded");
            f.set("guardLine",
                  output.find("Guard: kernel blocking") != std::string::npos ? "yes" : "no");
            f.set("banned", test::udpConnectError("127.0.0.5"));
            f.set("allowed", test::udpConnectError("127.0.0.6"));
            output += readUntil(child.out, "Connection Rejected: 127.0.0.5 - Local Test (");
            kill(child.pid, SIGTERM);
            output += readUntil(child.out, "\x04");
            close(child.out);
            f.set("status", exitStatusOf(child.pid));
            f.set("output", output);
        });
    });
    if (!run.findings["skip"].empty())
        GTEST_SKIP() << run.findings["skip"];
    const test::Findings& f = run.findings;
    EXPECT_EQ(f["guardLine"], "yes") << f["output"];
    EXPECT_EQ(f.number("banned"), EPERM);
    EXPECT_EQ(f.number("allowed"), 0);
    EXPECT_NE(f["output"].find("Connection Rejected: 127.0.0.5 - Local Test ("), std::string::npos)
        << f["output"];
    EXPECT_EQ(f.number("status"), 0);
    EXPECT_NE(folder.read("connlog.txt").find("Rejected: 127.0.0.5 - Local Test ("),
              std::string::npos);
}

TEST_F(HeadlessProcess, SighupReloadsTheBlocklistAndTheSettingsAndKeepsGuarding) {
    Child child = start(program, {});
    ASSERT_GT(child.pid, 0);
    std::string output = readUntil(child.out, "Successfully loaded 256 IPs from 1 profiles.");
    ASSERT_NE(output.find("Successfully loaded 256 IPs"), std::string::npos) << output;
    dir.write("Moatlist.P2P",
              "TEST-NET-1:192.0.2.0-192.0.2.255\r\nTEST-NET-2:198.51.100.0-198.51.100.255\r\n");
    const std::string edited = "0\r\n37\r\n5\r\n";  // as the program writes them back
    dir.write("BW2Config.p2p", edited);

    kill(child.pid, SIGHUP);
    output += readUntil(child.out, "Successfully loaded 512 IPs from 2 profiles.");
    int status = 0;
    const pid_t ended = waitpid(child.pid, &status, WNOHANG);
    kill(child.pid, SIGTERM);
    output += readUntil(child.out, "\x04");
    close(child.out);

    EXPECT_EQ(ended, 0) << "SIGHUP ended the guard";
    EXPECT_NE(output.find("Reloading the blocklist and the settings (SIGHUP).\n"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("Successfully loaded 512 IPs from 2 profiles.\n"), std::string::npos)
        << output;
    EXPECT_EQ(exitStatusOf(child.pid), 0);
    // The settings the reload read are the ones the stop saved.
    EXPECT_EQ(dir.read("BW2Config.p2p"), edited);
}

TEST_F(HeadlessProcess, OptionsAreAnsweredWithoutStartingAGuard) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        const char* shown;
    } cases[] = {
        {{"--help"}, 0, "Usage: bastionwatch-headless [bwdat://LINK]\n"},
        {{"--version"}, 0, "Bastionwatch v1.99"},
        {{"--bogus"}, 2, "bastionwatch-headless: unknown option '--bogus'\nUsage:"},
        {{"guard"}, 2, "unexpected argument 'guard'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.front());
        Child child = start(program, c.arguments);
        ASSERT_GT(child.pid, 0);
        std::string output = readUntil(child.out, "\x04");
        close(child.out);
        kill(child.pid, SIGKILL);  // only matters when a guard was started after all

        EXPECT_EQ(exitStatusOf(child.pid), c.status) << output;
        EXPECT_NE(output.find(c.shown), std::string::npos) << output;
        EXPECT_EQ(output.find("Successfully loaded"), std::string::npos) << output;
        EXPECT_FALSE(fs::exists(dir.file("BW2Config.p2p")));
    }
}

// A pipe, a device and a file past the size limit as list sources: the update
// ends with their reasons instead of waiting on a writer or reading forever.
TEST_F(HeadlessProcess, UpdateListsEndsOnSourcesThatAreNoListFiles) {
    ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
    {
        std::ofstream(dir.file("huge")).close();
        fs::resize_file(dir.file("huge"), (std::uintmax_t{256} << 20) + 1);
    }
    const std::vector<std::pair<std::string, std::string>> sources{
        {"pipe", dir.file("pipe").string()},
        {"zero", "/dev/zero"},
        {"huge", dir.file("huge").string()}};
    for (const auto& [name, source] : sources) {
        Child add = start(program, {"--add-list", name, source});
        readUntil(add.out, "\x04");
        close(add.out);
        ASSERT_EQ(exitStatusOf(add.pid), 0) << name;
    }
    Child update = start(program, {"--update-lists"});
    std::string output = readUntil(update.out, "\x04");
    close(update.out);
    kill(update.pid, SIGKILL);  // only matters when it hangs

    EXPECT_EQ(exitStatusOf(update.pid), 1) << output;
    for (const auto& [name, source] : sources) {
        const std::string why =
            name == "huge" ? "larger than 268435456 bytes"
                           : "not a regular file (a pipe, device or folder cannot be a list)";
        EXPECT_NE(output.find("the list " + name + " was not updated: cannot read " + source +
                              ": " + why),
                  std::string::npos)
            << output;
    }
}

TEST_F(HeadlessProcess, BastionwatchHomeHoldsTheFilesAndAFirstStartSaysHowToGetAList) {
    const fs::path home = dir.file("home");
    Child child = start(program, {}, {.stopFirst = true, .bastionwatchHome = home.string()});
    ASSERT_GT(child.pid, 0);
    std::string output = readUntil(child.out, "\x04");
    close(child.out);

    EXPECT_EQ(exitStatusOf(child.pid), 0) << output;
    EXPECT_NE(output.find("No blocklist at " + (home / "Moatlist.P2P").string() +
                          ": guarding with an empty list. To get one, copy the example list "),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("examples/Moatlist.P2P to that name"), std::string::npos) << output;
    EXPECT_EQ(output.find("Successfully loaded"), std::string::npos) << output;
    EXPECT_TRUE(fs::exists(home / "BW2Config.p2p"));
    EXPECT_FALSE(fs::exists(dir.file("BW2Config.p2p")));  // nothing beside the executable
}

}  // namespace
}  // namespace bw
