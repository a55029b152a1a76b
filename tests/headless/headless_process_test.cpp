// Runs the real console guard as a user would: a copy of the executable in a
// folder of its own, beside its blocklist.

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/child_cgroup.h"
#include "support/named_probe.h"
#include "support/network_namespace.h"
#include "support/process_output.h"
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
    // Run as this user and group instead (root only); 0 keeps the test's own.
    uid_t user = 0;
    gid_t group = 0;
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
        if (setup.user != 0) {
            unsetenv("XDG_RUNTIME_DIR");  // the test's own is not this user's
            if (setgroups(0, nullptr) != 0 || setresgid(setup.group, setup.group, setup.group) ||
                setresuid(setup.user, setup.user, setup.user) != 0)
                _exit(124);
        }
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
    std::string output = test::readUntil(child.out, "Successfully loaded 256 IPs from 1 profiles.");
    kill(child.pid, SIGTERM);
    output += test::readUntil(child.out, "\x04");  // the rest, until the program closes its output
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
    std::string output = test::readUntil(child.out, "\x04");
    close(child.out);
    kill(child.pid, SIGKILL);  // only matters when the stop was not obeyed

    EXPECT_EQ(exitStatusOf(child.pid), 0) << output;
    EXPECT_NE(output.find("Successfully loaded 256 IPs from 1 profiles."), std::string::npos)
        << output;
    EXPECT_EQ(dir.read("BW2Config.p2p"), settings);
}

// An ordinary user's settings file that the user cannot read (mode 000) is
// kept, as the blocklist is, not replaced by the defaults; the user is told.
TEST_F(HeadlessProcess, AnUnreadableSettingsFileIsKeptAndTheUserIsTold) {
    const std::string settings = "1\r\n37\r\n5\r\n";
    dir.write("BW2Config.p2p", settings);
    bw::Setup setup{.stopFirst = true};
    if (geteuid() == 0) {
        // Root reads any file: the guard runs as nobody, in a folder of nobody's.
        const passwd* nobody = getpwnam("nobody");
        if (!nobody)
            GTEST_SKIP() << "there is no user nobody to run the guard as an ordinary user";
        setup.user = nobody->pw_uid;
        setup.group = nobody->pw_gid;
        for (const fs::path& p :
             {dir.path(), program, dir.file("Moatlist.P2P"), dir.file("BW2Config.p2p")})
            ASSERT_EQ(chown(p.c_str(), setup.user, setup.group), 0) << p;
    }
    ASSERT_EQ(chmod(dir.file("BW2Config.p2p").c_str(), 0), 0);
    Child child = start(program, {}, setup);
    ASSERT_GT(child.pid, 0);
    std::string output = test::readUntil(child.out, "\x04");
    close(child.out);

    EXPECT_EQ(exitStatusOf(child.pid), 0) << output;
    struct stat info {};
    ASSERT_EQ(stat(dir.file("BW2Config.p2p").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0u);
    ASSERT_EQ(chmod(dir.file("BW2Config.p2p").c_str(), 0600), 0);
    EXPECT_EQ(dir.read("BW2Config.p2p"), settings);
    EXPECT_NE(output.find("Could not read the settings " + dir.file("BW2Config.p2p").string()),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("could not be read when Bastionwatch started"), std::string::npos)
        << output;
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
        std::string output = test::readUntil(child.out, "Successfully loaded");
        ASSERT_NE(output.find("Successfully loaded"), std::string::npos) << output;
        EXPECT_EQ(niceOf(child.pid), c.running);
        kill(child.pid, SIGTERM);
        test::readUntil(child.out, "\x04");
        close(child.out);
        EXPECT_EQ(exitStatusOf(child.pid), 0);
    }
}

TEST_F(HeadlessProcess, ALinkAddsItsEntriesAndEnds) {
    Child child = start(program, {"bwdat://x@1.2.3.4:1.2.3.9/"});
    ASSERT_GT(child.pid, 0);
    std::string output = test::readUntil(child.out, "\x04");
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
    std::string output = test::readUntil(running.out, "Successfully loaded");

    Child bare = start(program, {});
    std::string bareOutput = test::readUntil(bare.out, "\x04");
    close(bare.out);
    EXPECT_EQ(exitStatusOf(bare.pid), 1);
    EXPECT_NE(bareOutput.find("already running"), std::string::npos) << bareOutput;

    Child linked = start(program, {"bwdat://x@1.2.3.4:1.2.3.9"});
    std::string linkedOutput = test::readUntil(linked.out, "\x04");
    close(linked.out);
    EXPECT_EQ(exitStatusOf(linked.pid), 0) << linkedOutput;
    EXPECT_NE(linkedOutput.find("Added range(s) to blocklist."), std::string::npos) << linkedOutput;

    output += test::readUntil(running.out, "Bastionwatch Update: Added range(s) to blocklist.");
    kill(running.pid, SIGTERM);
    output += test::readUntil(running.out, "\x04");
    close(running.out);
    EXPECT_EQ(exitStatusOf(running.pid), 0);
    EXPECT_NE(output.find("Bastionwatch Update: Added range(s) to blocklist."), std::string::npos)
        << output;
    EXPECT_NE(dir.read("Moatlist.P2P").find("x:1.2.3.4-1.2.3.9\r\n"), std::string::npos);
}

// Link starts that overlap: the later one waits for the earlier one to end
// instead of handing its link to a copy that never answers, so no link is lost.
TEST_F(HeadlessProcess, LinkStartsAtOnceEachAddTheirLink) {
    constexpr int kPairs = 10;
    std::vector<std::string> entries;
    for (int pair = 0; pair < kPairs; ++pair) {
        SCOPED_TRACE(pair);
        std::vector<Child> starts;
        for (const char* name : {"a", "b"}) {
            const std::string address =
                "198.51.100." + std::to_string(pair * 2 + entries.size() % 2);
            entries.push_back(std::string(name) + std::to_string(pair) + ":" + address);
            starts.push_back(start(
                program, {"bwdat://" + std::string(name) + std::to_string(pair) + "@" + address}));
        }
        for (Child& child : starts) {
            ASSERT_GT(child.pid, 0);
            std::string output = test::readUntil(child.out, "\x04");
            close(child.out);
            EXPECT_EQ(exitStatusOf(child.pid), 0) << output;
            EXPECT_EQ(output.find("could not be reached"), std::string::npos) << output;
        }
    }
    const std::string list = dir.read("Moatlist.P2P");
    const std::string record = dir.read("BWUserEntries.p2p");
    for (const std::string& entry : entries) {
        EXPECT_NE(list.find(entry + "\r\n"), std::string::npos) << entry;
        EXPECT_NE(record.find(entry + "\r\n"), std::string::npos) << entry;
    }
}

// Waits, bounded, for a file of that name to be renamed into the watched folder.
bool waitForRenameInto(int watch, const std::string& name) {
    for (int waits = 0; waits < 200; ++waits) {
        pollfd p{watch, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        alignas(inotify_event) char buffer[4096];
        ssize_t n = read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0 && name == event->name)
                return true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return false;
}

// kill -9 of the guard the moment the handed link's blocklist is in place:
// the entry is in the record of the user's own entries too, so no update drops
// it, and the start that handed it over does not claim that nothing was handed.
TEST_F(HeadlessProcess, AGuardKilledInAHandedLinksSaveKeepsTheEntryInTheRecord) {
    // A long record makes its save slow, which a kill between the two saves would hit.
    std::string record;
    for (int i = 0; i < 100000; ++i)
        record += "own" + std::to_string(i) + ":203.0." + std::to_string(i % 256) + ".1\r\n";
    constexpr int kRounds = 8;
    int killedInSave = 0;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        dir.write("BWUserEntries.p2p", record);
        Child running = start(program, {});
        ASSERT_GT(running.pid, 0);
        std::string output = test::readUntil(running.out, "Successfully loaded");
        ASSERT_NE(output.find("Successfully loaded"), std::string::npos) << output;
        const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        ASSERT_GE(watch, 0);
        ASSERT_GE(inotify_add_watch(watch, dir.path().c_str(), IN_MOVED_TO), 0);
        const std::string entry =
            "k" + std::to_string(round) + ":198.51.100." + std::to_string(round);
        Child linked = start(program, {"bwdat://k" + std::to_string(round) + "@198.51.100." +
                                       std::to_string(round)});
        if (waitForRenameInto(watch, "Moatlist.P2P"))
            ++killedInSave;
        kill(running.pid, SIGKILL);
        close(watch);
        test::readUntil(running.out, "\x04");
        close(running.out);
        exitStatusOf(running.pid);
        std::string linkedOutput = test::readUntil(linked.out, "\x04");
        close(linked.out);
        const int linkedStatus = exitStatusOf(linked.pid);

        const bool listed = dir.read("Moatlist.P2P").find(entry + "\r\n") != std::string::npos;
        const bool recorded =
            dir.read("BWUserEntries.p2p").find(entry + "\r\n") != std::string::npos;
        EXPECT_TRUE(!listed || recorded) << entry << " is listed but not in the record";
        EXPECT_EQ(linkedOutput.find("Nothing was handed over"), std::string::npos) << linkedOutput;
        if (linkedStatus != 0) {
            EXPECT_NE(linkedOutput.find("may or may not have been added"), std::string::npos)
                << linkedOutput;
        }
    }
    EXPECT_GT(killedInSave, 0) << "no kill came in the middle of a save";
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
            std::string output = test::readUntil(child.out, "Successfully loaded");
            f.set("guardLine",
                  output.find("Guard: kernel blocking") != std::string::npos ? "yes" : "no");
            f.set("banned", test::udpConnectError("127.0.0.5"));
            f.set("allowed", test::udpConnectError("127.0.0.6"));
            output += test::readUntil(child.out, "Connection Rejected: 127.0.0.5 - Local Test (");
            kill(child.pid, SIGTERM);
            output += test::readUntil(child.out, "\x04");
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
    EXPECT_EQ(f["output"].find("Details:"), std::string::npos) << "details are off by default";
}

// With --details, the rejection of a named program's connect is followed by
// a line with its name, pid, port, protocol and direction; the rejection line
// and connlog.txt stay as they are.
TEST(HeadlessKernelGuard, DetailsNameTheRefusedProgram) {
    test::TempDir folder;
    fs::path program = folder.file("bastionwatch-headless");
    fs::copy_file(BW_HEADLESS_EXECUTABLE, program);
    folder.write("Moatlist.P2P", "Local Test:127.0.0.5\r\n");
    BW_RUN_IN_PRIVATE_NETWORK(run, [&](test::Findings& f) {
        test::inChildCgroup(f, [&](const test::ChildCgroup&) {
            bw::Setup setup;
            setup.privateNetwork = false;
            Child child = start(program, {"--details"}, setup);
            std::string output = test::readUntil(child.out, "Successfully loaded");
            test::NamedProbe probe(folder.path(), "refusalprobe", "127.0.0.5", 8080);
            f.set("outcome", probe.outcome());
            f.set("pid", probe.pid());
            output += test::readUntil(child.out, ", TCP, outgoing\n");
            probe.finish();
            kill(child.pid, SIGTERM);
            output += test::readUntil(child.out, "\x04");
            close(child.out);
            f.set("status", exitStatusOf(child.pid));
            f.set("output", output);
        });
    });
    if (!run.findings["skip"].empty())
        GTEST_SKIP() << run.findings["skip"];
    const test::Findings& f = run.findings;
    EXPECT_EQ(f["outcome"], "refused");
    const std::string details =
        "    Details: program \"refusalprobe\" (pid " + f["pid"] + "), port 8080, TCP, outgoing\n";
    const std::size_t at = f["output"].find(details);
    ASSERT_NE(at, std::string::npos) << f["output"];
    // The line right before it is the rejection, exactly as without details.
    const std::size_t line = f["output"].rfind("\n", at - 2) + 1;
    const std::string rejection = f["output"].substr(line, at - line);
    EXPECT_TRUE(
        std::regex_match(rejection, std::regex(R"(Connection Rejected: 127\.0\.0\.5 - Local Test )"
                                               R"(\(\d\d-\d\d-\d{4} @ \d\d:\d\d:\d\d\)\n)")))
        << rejection;
    EXPECT_EQ(f.number("status"), 0);
    EXPECT_EQ(folder.read("connlog.txt").find("Details"), std::string::npos);
}

TEST_F(HeadlessProcess, SighupReloadsTheBlocklistAndTheSettingsAndKeepsGuarding) {
    Child child = start(program, {});
    ASSERT_GT(child.pid, 0);
    std::string output = test::readUntil(child.out, "Successfully loaded 256 IPs from 1 profiles.");
    ASSERT_NE(output.find("Successfully loaded 256 IPs"), std::string::npos) << output;
    dir.write("Moatlist.P2P",
              "TEST-NET-1:192.0.2.0-192.0.2.255\r\nTEST-NET-2:198.51.100.0-198.51.100.255\r\n");
    const std::string edited = "0\r\n37\r\n5\r\n";  // as the program writes them back
    dir.write("BW2Config.p2p", edited);

    kill(child.pid, SIGHUP);
    output += test::readUntil(child.out, "Successfully loaded 512 IPs from 2 profiles.");
    int status = 0;
    const pid_t ended = waitpid(child.pid, &status, WNOHANG);
    kill(child.pid, SIGTERM);
    output += test::readUntil(child.out, "\x04");
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
        {{"bwdat://"}, 2, "the link 'bwdat://' holds no entries; nothing was added"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.front());
        Child child = start(program, c.arguments);
        ASSERT_GT(child.pid, 0);
        std::string output = test::readUntil(child.out, "\x04");
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
        test::readUntil(add.out, "\x04");
        close(add.out);
        ASSERT_EQ(exitStatusOf(add.pid), 0) << name;
    }
    Child update = start(program, {"--update-lists"});
    std::string output = test::readUntil(update.out, "\x04");
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
    std::string output = test::readUntil(child.out, "\x04");
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

// The names of everything in the folder, with the bytes of each file but the program.
std::map<std::string, std::string> filesIn(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        std::string& bytes = files[item.path().string()];
        if (!item.is_regular_file() || item.path().filename() == "bastionwatch-headless")
            continue;
        std::ifstream in(item.path(), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

// --check as a user runs it: an ordinary user, beside a guard of theirs, with the
// exit status a script reads; it writes nothing into the folder the guard uses.
TEST_F(HeadlessProcess, CheckSaysWhatIsBannedByItsStatusAndWritesNothing) {
    dir.write("addresses.txt", "8.8.8.8\n# the game server\n192.0.2.77\n");
    dir.write("Moatlist.P2P", dir.read("Moatlist.P2P") + "Doc6:2001:db8:1::-2001:db8:1::ff\r\n");
    // An IPv6 line is checked as itself, never as the 0.0.0.0 of an IPv4 span.
    dir.write("addresses6.txt", "8.8.8.8\n2001:db8:1::9\n2001:db8::/32\n");
    dir.write("only6.txt", "2001:db8::1\n2001:db8:1::9\n");
    bw::Setup setup;
    if (geteuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody)
            GTEST_SKIP() << "there is no user nobody to run the check as an ordinary user";
        setup.user = nobody->pw_uid;
        setup.group = nobody->pw_gid;
        for (const fs::path& p :
             {dir.path(), program, dir.file("Moatlist.P2P"), dir.file("addresses.txt"),
              dir.file("addresses6.txt"), dir.file("only6.txt")})
            ASSERT_EQ(chown(p.c_str(), setup.user, setup.group), 0) << p;
    }
    // A running guard writes the folder itself; only without one is it compared.
    bool guardRuns = false;
    auto check = [&](const std::string& what, int status, const std::string& says) {
        SCOPED_TRACE(what);
        const auto before = filesIn(dir.path());
        // It asks no network: the machine's own is fine.
        bw::Setup checking = setup;
        checking.privateNetwork = false;
        Child child = start(program, {"--check", what}, checking);
        ASSERT_GT(child.pid, 0);
        std::string output = test::readUntil(child.out, "\x04");
        close(child.out);
        EXPECT_EQ(exitStatusOf(child.pid), status) << output;
        EXPECT_NE(output.find(says), std::string::npos) << output;
        if (!guardRuns) {
            EXPECT_EQ(filesIn(dir.path()), before);
        }
    };
    check("192.0.2.9", 1,
          "192.0.2.9 is banned.\n"
          "  banned by the entry \"TEST-NET-1:192.0.2.0-192.0.2.255\" (Moatlist.P2P line 1)\n"
          "No guard of this user's runs for ");
    check("198.51.100.9", 0, "198.51.100.9 is not banned: no entry holds it.\n");
    check("192.0.2.128-192.0.3.127", 1, "192.0.2.128-192.0.3.127: 128 of 256 addresses banned.\n");
    check(dir.file("addresses.txt").string(), 1, "  banned: line 3: 192.0.2.77\n");
    check("2001:db8::1", 0, "2001:db8::1 is not banned: no entry holds it.\n");
    check("2001:db8:1::9", 1,
          "  banned by the entry \"Doc6:2001:db8:1::-2001:db8:1::ff\" (Moatlist.P2P line 2)\n");
    const std::string doc6 =
        "2001:db8:1::9 is banned.\n"
        "  banned by the entry \"Doc6:2001:db8:1::-2001:db8:1::ff\" (Moatlist.P2P line 2)\n";
    const std::string both = dir.file("addresses6.txt").string();
    check(both, 1,
          both + " (1 IPv4 line) is not banned: no entry holds it.\n" + both +
              " (1 IPv6 line): 1 of 1 address banned.\n" + doc6 +
              "  banned: line 2: 2001:db8:1::9\n"
              "  1 IPv6 ranges skipped: --check takes IPv6 addresses one at a time\n");
    const std::string only6 = dir.file("only6.txt").string();
    check(only6, 1,
          "now.\n" + only6 + " (2 IPv6 lines): 1 of 2 addresses banned.\n" + doc6 +
              "  banned: line 2: 2001:db8:1::9\nNo guard");
    check(dir.file("missing.txt").string(), 2, "nor a file of them that reads");

    Child guard = start(program, {}, setup);
    ASSERT_GT(guard.pid, 0);
    std::string output = test::readUntil(guard.out, "Successfully loaded");
    guardRuns = true;
    check("192.0.2.9", 1, "A guard runs for this folder (process " + std::to_string(guard.pid));
    kill(guard.pid, SIGTERM);
    output += test::readUntil(guard.out, "\x04");
    close(guard.out);
    EXPECT_EQ(exitStatusOf(guard.pid), 0) << output;
}

}  // namespace
}  // namespace bw
