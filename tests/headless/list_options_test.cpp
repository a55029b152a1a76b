#include "headless/list_options.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <thread>

#include "maintenance/keeper_updating_one_list.h"
#include "maintenance/list_keeper.h"
#include "platform/slot_lock.h"
#include "support/fake_clock.h"
#include "support/fake_downloader.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

using Kind = ListCommand::Kind;

struct ParseCase {
    std::vector<std::string> args;
    ListOptions expected;
};

std::string describe(const ListOptions& options) {
    if (std::holds_alternative<NotAListCommand>(options))
        return "not a list command";
    if (const auto* error = std::get_if<ListUsageError>(&options))
        return "usage error: " + error->reason;
    const ListCommand& c = std::get<ListCommand>(options);
    return "command " + std::to_string(static_cast<int>(c.kind)) + " " + c.name + " " + c.source +
           (c.allow ? " allow" : "") + " every " + std::to_string(c.everyHours) +
           (c.wide ? " wide" : "");
}

TEST(ListOptionsTest, ParsesEachCommandAndRefusesMisuse) {
    const ParseCase cases[] = {
        {{}, NotAListCommand{}},
        {{"bwdat://x@1.2.3.4"}, NotAListCommand{}},
        {{"--add-list", "level1", "https://example.net/l1.gz"},
         ListCommand{Kind::Add, "level1", "https://example.net/l1.gz", false, 24}},
        {{"--add-list", "mine", "/etc/mine.txt", "--allow", "--every", "168"},
         ListCommand{Kind::Add, "mine", "/etc/mine.txt", true, 168}},
        {{"--every", "2", "--add-list", "a", "b"}, ListCommand{Kind::Add, "a", "b", false, 2}},
        {{"--remove-list", "a"}, ListCommand{Kind::Remove, "a", "", false, 24}},
        {{"--enable-list", "a"}, ListCommand{Kind::Enable, "a", "", false, 24}},
        {{"--disable-list", "a"}, ListCommand{Kind::Disable, "a", "", false, 24}},
        {{"--lists"}, ListCommand{Kind::Show, "", "", false, 24}},
        {{"--update-lists"}, ListCommand{Kind::Update, "", "", false, 24}},
        {{"--add-list", "a"}, ListUsageError{"usage: --add-list NAME SOURCE"}},
        {{"--remove-list"}, ListUsageError{"usage: --remove-list NAME"}},
        {{"--lists", "extra"}, ListUsageError{"usage: --lists"}},
        {{"--add-list", "a", "b", "--every", "0"},
         ListUsageError{"--every needs a whole number of hours, at least 1"}},
        {{"--add-list", "a", "b", "--every"}, ListUsageError{"--every needs a number of hours"}},
        {{"--remove-list", "a", "--allow"},
         ListUsageError{"--allow and --every go with --add-list"}},
        {{"--lists", "--update-lists"},
         ListUsageError{"one list command at a time: --lists and --update-lists"}},
        {{"--add-list", "all", "https://example.net/all", "--wide"},
         ListCommand{Kind::Add, "all", "https://example.net/all", false, 24, true}},
        {{"--update-lists", "--wide"}, ListUsageError{"--wide goes with --add-list"}},
    };
    for (const ParseCase& c : cases) {
        EXPECT_EQ(describe(parseListOptions(c.args)), describe(c.expected))
            << "arguments: " << ::testing::PrintToString(c.args);
    }
}

// Every installation has the built-in allow list unless the user switched it off.
constexpr const char* kBuiltInLine =
    "Private networks: allow, on, 4 ranges, 2 IPv6 ranges, 0.0 % of the public IPv4 space, 0 "
    "lines not understood, last update 2026-12-05 21:41 UTC, no error\n";

// Where the lists of these tests are served from.
const std::string kServer = "http://lists.example.net/";

class ListCommandTest : public ::testing::Test {
protected:
    int run(const ListCommand& command) {
        out.str("");
        err.str("");
        ListKeeper keeper(downloader, clock, dir.path());
        EXPECT_EQ(keeper.load(false), "");
        return runListCommand(command, keeper, out, err,
                              [] { std::this_thread::sleep_for(std::chrono::milliseconds(2)); });
    }
    ListCommand add(const std::string& name, const std::string& path) {
        return {Kind::Add, name, kServer + path, false, 24};
    }
    void serve(const std::string& path, const std::string& body) {
        downloader.answer(kServer + path, test::FakeAnswer::ok(body));
    }

    test::TempDir dir;
    test::FakeClock clock;
    test::FakeDownloader downloader;
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(ListCommandTest, CommandsChangeTheFileAndSayWhyWhenTheyCannot) {
    EXPECT_EQ(run(add("level1", "l1")), 0);
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(run(add("level1", "l1")), 1);
    EXPECT_EQ(err.str(), "bastionwatch-headless: there is already a list named level1\n");
    EXPECT_EQ(run({Kind::Disable, "level1", "", false, 24}), 0);
    EXPECT_EQ(run({Kind::Show, "", "", false, 24}), 0);
    EXPECT_EQ(out.str(), std::string(kBuiltInLine) +
                             "level1: block, off, 0 ranges, 0 IPv6 ranges, 0.0 % of the public "
                             "IPv4 space, 0 lines not understood, last update never, no error\n");
    EXPECT_EQ(run({Kind::Enable, "nothing", "", false, 24}), 1);
    EXPECT_EQ(err.str(), "bastionwatch-headless: there is no list named nothing\n");
    EXPECT_EQ(run({Kind::Remove, "level1", "", false, 24}), 0);
    EXPECT_EQ(run({Kind::Show, "", "", false, 24}), 0);
    EXPECT_EQ(out.str(), kBuiltInLine);
}

TEST_F(ListCommandTest, ListsShowsTheLifelinesOneLineEach) {
    ListKeeper keeper(downloader, clock, dir.path());
    ASSERT_EQ(keeper.load(false), "");
    EXPECT_EQ(runListCommand({Kind::Show, "", "", false, 24}, keeper, out, err, [] {},
                             {{IpAddress::fromV4(0xC0000235u), "DNS server"},
                              {IpAddress::fromV4(0xC0000201u), "default gateway"}}),
              0);
    EXPECT_EQ(out.str(), std::string(kBuiltInLine) +
                             "lifeline 192.0.2.53: DNS server, never banned\n"
                             "lifeline 192.0.2.1: default gateway, never banned\n");
}

TEST_F(ListCommandTest, UpdateListsFailsWhenAnyListFails) {
    serve("good", "Bad Net:203.0.113.0-203.0.113.255\nipv6:[::1]-[::2]\n");
    serve("html", "<!DOCTYPE html><p>moved</p>");
    ASSERT_EQ(run(add("good", "good")), 0);
    EXPECT_EQ(run({Kind::Update, "", "", false, 24}), 0);
    EXPECT_EQ(out.str(), "List good: 1 ranges (P2P), 1 IPv6 ranges, 0 lines not understood.\n");
    EXPECT_EQ(err.str(), "");

    ASSERT_EQ(run(add("html", "html")), 0);
    EXPECT_EQ(run({Kind::Update, "", "", false, 24}), 1);
    EXPECT_EQ(err.str(),
              "bastionwatch-headless: the list html was not updated: refused: the download is a "
              "web page, not a list\n");
    EXPECT_EQ(run({Kind::Show, "", "", false, 24}), 0);
    EXPECT_EQ(out.str(),
              std::string(kBuiltInLine) +
                  "good: block, on, 1 ranges, 1 IPv6 ranges, 0.0 % of the public IPv4 space, 0 "
                  "lines not understood, last update 2026-12-05 21:41 UTC, no error\n"
                  "html: block, on, 0 ranges, 0 IPv6 ranges, 0.0 % of the public IPv4 space, 0 "
                  "lines not understood, last update never, last error: refused: the download is "
                  "a web page, not a list\n");
}

// One typo ("/0") in a list must not close the Internet; a list meant to be
// that wide says so when it is added.
TEST_F(ListCommandTest, AnUpdateBanningMoreThanHalfThePublicSpaceIsRefusedUnlessWide) {
    struct Case {
        const char* body;
        bool wide;
        int status;
        std::string error;
    };
    const std::string refusal =
        "bastionwatch-headless: the list x was not updated: refused: it would ban ";
    const Case cases[] = {
        {"0.0.0.0/0\n", false, 1,
         refusal + "3702258688 public IPv4 addresses (100.0 % of the public IPv4 space); add it "
                   "with --wide if it is meant to\n"},
        {"Half:0.1.0.1-126.255.255.255\nOther:128.0.0.0-255.255.255.255\n", false, 1,
         refusal + "3702258688 public IPv4 addresses (100.0 % of the public IPv4 space); add it "
                   "with --wide if it is meant to\n"},
        {"0.0.0.0-255.255.255.255\n", false, 1,
         refusal + "3702258688 public IPv4 addresses (100.0 % of the public IPv4 space); add it "
                   "with --wide if it is meant to\n"},
        {"Low half:1.0.0.0-100.255.255.255\n", false, 0, ""},
        {"0.0.0.0/0\n", true, 0, ""},
    };
    for (const Case& c : cases) {
        serve("x", c.body);
        ListCommand added = add("x", "x");
        added.wide = c.wide;
        ASSERT_EQ(run(added), 0);
        EXPECT_EQ(run({Kind::Update, "", "", false, 24}), c.status) << c.body;
        EXPECT_EQ(err.str(), c.error) << c.body;
        ASSERT_EQ(run({Kind::Remove, "x", "", false, 24}), 0);
    }
}

TEST_F(ListCommandTest, ListsShowsEachListsShareAndWhetherItIsWide) {
    serve("all", "0.0.0.0/0\n");
    serve("some", "8.0.0.0/8\n");
    ListCommand all = add("all", "all");
    all.wide = true;
    ASSERT_EQ(run(all), 0);
    ASSERT_EQ(run(add("some", "some")), 0);
    ASSERT_EQ(run({Kind::Update, "", "", false, 24}), 0);
    ASSERT_EQ(run({Kind::Show, "", "", false, 24}), 0);
    EXPECT_NE(
        out.str().find(
            "all: block, on, wide, 1 ranges, 0 IPv6 ranges, 100.0 % of the public IPv4 space, "),
        std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find(
                  "some: block, on, 1 ranges, 0 IPv6 ranges, 0.5 % of the public IPv4 space, "),
              std::string::npos)
        << out.str();
}

}  // namespace
}  // namespace bw

namespace bw {
namespace {

namespace fs = std::filesystem;

// Whole, in one write, as a /proc file needs it.
bool writeProcFile(const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    const bool written =
        fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0)
        ::close(fd);
    return written;
}

// The list commands as a user runs them: a process of their own, its files in
// BASTIONWATCH_HOME, standard output and error kept apart.
class ListProcessTest : public ::testing::Test {
protected:
    struct Ran {
        int status = -1;
        std::string out;
        std::string err;
    };

    // Starts the command; before() runs first in the child (a private mount, say).
    pid_t start(const std::vector<std::string>& args, const std::string& tag,
                const std::function<void()>& before = {}) {
        const fs::path out = outputs.file(tag + ".out");
        const fs::path err = outputs.file(tag + ".err");
        const pid_t pid = ::fork();
        if (pid != 0)
            return pid;
        if (before)
            before();
        std::freopen(out.c_str(), "w", stdout);
        std::freopen(err.c_str(), "w", stderr);
        const int status = commandLine(args);
        std::cout.flush();
        std::cerr.flush();
        std::fflush(nullptr);
        ::_exit(status);
    }
    // The command line as the program runs it, in this process.
    int commandLine(const std::vector<std::string>& args) {
        ::setenv("BASTIONWATCH_HOME", home.path().c_str(), 1);
        std::vector<std::string> argv{"bastionwatch-headless"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> pointers;
        for (std::string& a : argv) pointers.push_back(a.data());
        return runListOptions(static_cast<int>(pointers.size()), pointers.data()).value_or(99);
    }
    Ran finish(pid_t pid, const std::string& tag) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        Ran ran;
        ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        ran.out = outputs.read(tag + ".out");
        ran.err = outputs.read(tag + ".err");
        return ran;
    }
    // A downloaded copy is read and parsed on a worker; polling carries it in.
    static void finishUpdates(ListKeeper& keeper) {
        while (keeper.updating()) {
            keeper.poll();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    Ran run(const std::vector<std::string>& args, const std::function<void()>& before = {}) {
        return finish(start(args, "run", before), "run");
    }
    std::string cachedCopyOf(const std::string& name) {
        for (const auto& item : fs::directory_iterator(home.file("lists"))) {
            const std::string file = item.path().filename().string();
            if (file.starts_with(name + "-") && file.ends_with(".list"))
                return "lists/" + file;
        }
        return {};
    }

    test::TempDir home;
    test::TempDir outputs;
    test::TempDir sources;
    test::FakeClock clock;
};

// While the running guard downloads a list, another process switches it off
// and adds a list: the guard's save after the download keeps both changes.
TEST_F(ListProcessTest, AListCommandDuringAnUpdateIsNotUndoneByIt) {
    test::KeeperUpdatingOneList updating(clock, home.path(), "X", "http://192.0.2.1/x.p2p");
    ASSERT_TRUE(updating.started);
    ListKeeper& guard = updating.keeper;
    test::FakeDownloader& downloads = updating.downloads;

    sources.write("y.p2p", "Y:198.51.100.0-198.51.100.255\n");
    EXPECT_EQ(run({"--disable-list", "X"}).status, 0);
    EXPECT_EQ(run({"--add-list", "Y", sources.file("y.p2p").string()}).status, 0);
    clock.advance(std::chrono::seconds(10));
    guard.tick();  // looks at the file while its download runs
    EXPECT_FALSE(guard.subscriptions()[1].enabled);

    downloads.finish(0, test::FakeAnswer::ok("X:203.0.113.0-203.0.113.255\n"));
    finishUpdates(guard);
    SubscriptionsFile file = readSubscriptions(home.file("lists.json"));
    ASSERT_TRUE(file.ok) << file.error;
    ASSERT_EQ(file.lists.size(), 3u);
    EXPECT_EQ(file.lists[1].name, "X");
    EXPECT_FALSE(file.lists[1].enabled);
    EXPECT_EQ(file.lists[1].ranges, 1u);  // and what the download brought
    EXPECT_EQ(file.lists[2].name, "Y");
    EXPECT_FALSE(guard.table().findBlock(0xCB007101u).has_value());  // X is off here too
}

// Two processes changing the file at once lose nothing: one writer at a time,
// each writing the file as it is now with its own change.
TEST_F(ListProcessTest, TwoProcessesAddingListsAtOnceLoseNone) {
    sources.write("l.p2p", "L:198.51.100.1\n");
    constexpr int kEach = 12;
    auto adder = [&](const std::string& who) {
        return start({"--lists"}, who, [&, who] {
            for (int i = 1; i < kEach; ++i) {
                if (commandLine({"--add-list", who + std::to_string(i),
                                 sources.file("l.p2p").string()}) != 0)
                    ::_exit(3);
            }
        });
    };
    const pid_t a = adder("a");
    const pid_t b = adder("b");
    EXPECT_EQ(finish(a, "a").status, 0);
    EXPECT_EQ(finish(b, "b").status, 0);
    SubscriptionsFile file = readSubscriptions(home.file("lists.json"));
    ASSERT_TRUE(file.ok) << file.error;
    EXPECT_EQ(file.lists.size(), 1u + 2 * (kEach - 1));
}

// Whether a process waits for a lock on the file, as the kernel lists it.
bool someoneWaitsFor(const fs::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0)
        return false;
    const std::string inode = ":" + std::to_string(info.st_ino);
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        bool waiting = false;
        for (std::string field; fields >> field;) {
            waiting = waiting || field == "->";
            if (waiting && field.ends_with(inode))
                return true;
        }
    }
    return false;
}

// The same, deterministic: while this test holds the file, as a process in the
// middle of a save does, an add waits for it, and then keeps what that
// process wrote meanwhile.
TEST_F(ListProcessTest, AnAddWaitsForTheFileAndKeepsWhatWasWrittenMeanwhile) {
    sources.write("l.p2p", "L:198.51.100.1\n");
    ASSERT_EQ(run({"--lists"}).status, 0);
    const fs::path lockFile = home.file("lists.json.lock");
    SlotLock::Result held = SlotLock::lock(lockFile, 0, 1, SlotLock::Wait::UntilFree);
    ASSERT_TRUE(held.lock) << held.error;
    // The child lets go of its copy of the test's lock, or it would wait for itself.
    const pid_t adder = start({"--add-list", "theirs", sources.file("l.p2p").string()}, "adder",
                              [&] { held.lock = {}; });
    bool waits = false;
    for (;;) {
        if ((waits = someoneWaitsFor(lockFile)))
            break;
        siginfo_t ended{};
        if (::waitid(P_PID, static_cast<id_t>(adder), &ended, WEXITED | WNOHANG | WNOWAIT) != 0 ||
            ended.si_pid != 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(waits) << "the add did not wait for the file";

    SubscriptionsFile file = readSubscriptions(home.file("lists.json"));
    ASSERT_TRUE(file.ok) << file.error;
    Subscription mine;
    mine.name = "mine";
    mine.source = sources.file("l.p2p").string();
    file.lists.push_back(mine);
    ASSERT_TRUE(saveSubscriptions(home.file("lists.json"), file.lists));
    held.lock = {};
    EXPECT_EQ(finish(adder, "adder").status, 0);

    file = readSubscriptions(home.file("lists.json"));
    ASSERT_TRUE(file.ok) << file.error;
    std::vector<std::string> names;
    for (const Subscription& list : file.lists) names.push_back(list.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Private networks", "mine", "theirs"}));
}

// Two updates of one list never run at once: a timer's --update-lists leaves
// the list to the guard that is downloading it, which has a file of its own.
TEST_F(ListProcessTest, TwoUpdatesOfOneListNeverRunAtOnce) {
    test::KeeperUpdatingOneList updating(clock, home.path(), "X", "http://127.0.0.1:9/x.p2p");
    ASSERT_TRUE(updating.started);
    ListKeeper& guard = updating.keeper;
    test::FakeDownloader& downloads = updating.downloads;
    const std::string part = downloads.transfers[0]->request.target.filename().string();
    EXPECT_TRUE(part.ends_with(".part")) << part;
    EXPECT_FALSE(part.ends_with(".list.part")) << part;  // not one name for every download

    Ran timer = run({"--update-lists"}, [] { ::unshare(CLONE_NEWNET); });
    EXPECT_EQ(timer.status, 0) << timer.err;
    EXPECT_EQ(timer.out,
              "List X: another copy of Bastionwatch is updating it right now; this update is left "
              "to that one.\n");
    EXPECT_EQ(timer.err, "");

    downloads.finish(0, test::FakeAnswer::ok("X:203.0.113.0-203.0.113.255\n"));
    finishUpdates(guard);
    EXPECT_TRUE(guard.table().findBlock(0xCB007101u).has_value());
    EXPECT_FALSE(fs::exists(downloads.transfers[0]->request.target));
}

// --lists shows the figures the last update recorded, without reading the
// cached copies (which can be hundreds of megabytes).
TEST_F(ListProcessTest, ListsShowsTheRecordedFiguresWithoutReadingTheCopies) {
    sources.write("big.p2p", "Big:198.51.100.0-198.51.100.255\n");
    ASSERT_EQ(run({"--add-list", "big", sources.file("big.p2p").string()}).status, 0);
    ASSERT_EQ(run({"--update-lists"}).status, 0);
    home.write(cachedCopyOf("big"), "This copy is not read by --lists\n");
    Ran shown = run({"--lists"});
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(
        shown.out.find("big: block, on, 1 ranges, 0 IPv6 ranges, 0.0 % of the public IPv4 space, "
                       "0 lines not understood"),
        std::string::npos)
        << shown.out;
}

// Each message says what is wrong and with which file.
TEST_F(ListProcessTest, MessagesNameTheFileAndSayWhatToDo) {
    struct Case {
        const char* what;
        std::function<void()> before;
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {"a dangling lists.json link",
         [&] { fs::create_symlink("/nonexistent/lists.json", home.file("lists.json")); },
         {"--lists"},
         1,
         "bastionwatch-headless: cannot save " + home.file("lists.json").string() +
             " (a link to /nonexistent/lists.json): cannot create a temporary file in "
             "/nonexistent: No such file or directory\n"},
        {"a damaged lists.json",
         [&] { home.write("lists.json", "{\"lists\": [\n  {\"name\": \"a\" \"mode\": 1}\n]}\n"); },
         {"--lists"},
         1,
         "bastionwatch-headless: " + home.file("lists.json").string() +
             " is damaged: line 2, column 21 is not valid JSON (look there, and just before it, "
             "for a missing or extra comma, quote or bracket, or for text that is not UTF-8); the "
             "lists stay off until it is mended in a text editor (the built-in allow list of "
             "private networks stays in force)\n"},
        {"a missing local file",
         {},
         {"--add-list", "mine", "/no/such/list.p2p"},
         0,
         "bastionwatch-headless: warning: /no/such/list.p2p does not exist; the list mine holds "
         "nothing until it does and the list is updated\n"},
        {"a name that is not UTF-8",
         {},
         {"--add-list", "bad\xffname", "/srv/list.p2p"},
         1,
         "bastionwatch-headless: a list name must be UTF-8 text\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::error_code ec;
        fs::remove(home.file("lists.json"), ec);
        if (c.before)
            c.before();
        Ran ran = run(c.args);
        EXPECT_EQ(ran.status, c.status);
        EXPECT_EQ(ran.err, c.err);
    }
}

// On a full disk, --update-lists says that what the update left could not be
// saved, and fails.
TEST_F(ListProcessTest, AFullDiskIsReportedAfterAFailedUpdate) {
    sources.write("l.p2p", "L:198.51.100.0-198.51.100.255\n");
    Ran ran = run({"--update-lists"}, [&] {
        // A small disk of its own, seen by this process alone; a user namespace
        // of its own lets an ordinary user mount it.
        const std::string uid = std::to_string(::getuid());
        const std::string gid = std::to_string(::getgid());
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 ||
            !writeProcFile("/proc/self/uid_map", uid + " " + uid + " 1\n") ||
            !writeProcFile("/proc/self/setgroups", "deny") ||
            !writeProcFile("/proc/self/gid_map", gid + " " + gid + " 1\n") ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", home.path().c_str(), "tmpfs", 0, "size=256k") != 0) {
            ::_exit(77);
        }
        if (commandLine({"--add-list", "L", sources.file("l.p2p").string()}) != 0)
            ::_exit(3);
        std::ofstream filler(home.file("filler"), std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), block.size()) && filler.flush()) {
        }
    });
    if (ran.status == 77)
        GTEST_SKIP() << "no private user and mount namespace here (user namespaces are off)";
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("bastionwatch-headless: the state of the list L could not be saved: "
                           "cannot save " +
                           home.file("lists.json").string()),
              std::string::npos)
        << ran.err;
    EXPECT_NE(ran.err.find("No space left on device"), std::string::npos) << ran.err;
    EXPECT_EQ(ran.out.find("could not be saved"), std::string::npos) << ran.out;  // said once
}

}  // namespace
}  // namespace bw
