// The program with a kernel guard (the fake): which guard runs and why, the
// kernel's table following the ban table, the blocking switch, and refusals
// reported like the guard pass's rejections.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "maintenance/list_keeper.h"
#include "program/program.h"
#include "support/fake_kernel_guard.h"
#include "support/fake_lifeline_source.h"
#include "support/program_fixture.h"

namespace bw {
namespace {

constexpr std::uint32_t k10_0_0_5 = 0x0A000005;

struct KernelProgram : test::FakeServices {
    KernelProgram() { dir.write("Moatlist.P2P", "Example Net:10.0.0.0-10.0.0.255\r\n"); }

    Program& start(std::string_view argument = "") {
        ProgramServices s = services();
        s.kernelGuard = &kernel;
        s.lifelineSource = &lifelines;
        s.canCloseConnections = canClose;
        program = std::make_unique<Program>(host, s);
        program->load(argument);
        return *program;
    }

    void refused(std::uint32_t address, int times = 1) {
        for (int i = 0; i < times; ++i)
            kernel.queued.push_back(
                {IpAddress::fromV4(address), 443, 6, RefusalDirection::Outgoing, 42, "curl"});
    }

    test::FakeKernelGuard kernel;
    test::FakeLifelineSource lifelines;
    bool canClose = true;
    test::RecordingHost host;
    std::unique_ptr<Program> program;
};

std::vector<AddressInterval> table(std::initializer_list<AddressInterval> intervals) {
    return intervals;
}

TEST(KernelGuardProgram, TheLogViewSaysWhichGuardRunsAndWhy) {
    struct Case {
        std::string whyNot;
        bool canClose;
        std::string line;
        GuardMode mode;
    } cases[] = {
        {"", true,
         "Guard: kernel blocking; connections to banned addresses are refused before they are "
         "made.\r\n",
         GuardMode::Kernel},
        {"kernel blocking needs the CAP_BPF and CAP_NET_ADMIN capabilities", true,
         "Guard: polling the connection table, because kernel blocking needs the CAP_BPF and "
         "CAP_NET_ADMIN capabilities.\r\n",
         GuardMode::Polling},
        {"kernel blocking needs the CAP_BPF and CAP_NET_ADMIN capabilities", false,
         "Not guarded: banned connections can be neither refused nor closed, only reported "
         "(kernel blocking needs the CAP_BPF and CAP_NET_ADMIN capabilities; closing "
         "connections needs the CAP_NET_ADMIN capability).\r\n",
         GuardMode::ReportOnly},
    };
    for (const Case& c : cases) {
        KernelProgram k;
        k.kernel.whyNot = c.whyNot;
        k.canClose = c.canClose;
        Program& program = k.start();
        std::size_t header = k.host.log.find("System Timezone: GMT ");
        std::size_t line = k.host.log.find(c.line);
        EXPECT_NE(line, std::string::npos) << k.host.log;
        EXPECT_LT(header, line);
        EXPECT_EQ(k.host.log.find(c.line, line + 1), std::string::npos) << "said once";
        EXPECT_EQ(program.state().guardMode, c.mode);
    }
}

TEST(KernelGuardProgram, TheKernelTableFollowsEveryChangeOfTheBanTable) {
    KernelProgram k;
    Program& program = k.start();
    ASSERT_FALSE(k.kernel.tables.empty());
    EXPECT_EQ(k.kernel.tables.back(), table({{0x0A000000, 0x0A0000FF}}));

    program.addRange("Other", "20.0.0.1", "20.0.0.9");
    EXPECT_EQ(k.kernel.tables.back(), table({{0x0A000000, 0x0A0000FF}, {0x14000001, 0x14000009}}));

    program.removeEntry({10, 0});
    EXPECT_EQ(k.kernel.tables.back(), table({{0x14000001, 0x14000009}}));

    k.dir.write("Moatlist.P2P", "Reloaded:40.0.0.0-40.0.0.3\r\n");
    program.STARTUPLOAD("");  // as the update check does with a new list
    EXPECT_EQ(k.kernel.tables.back(), table({{0x28000000, 0x28000003}}));
}

// A gateway that turns up while the guard runs leaves the kernel's table at the next look.
TEST(KernelGuardProgram, TheKernelTableNeverHoldsALifeline) {
    KernelProgram k;
    k.lifelines.lifelines = {{IpAddress::fromV4(0x0A000001), "default gateway"}};
    Program& program = k.start();
    EXPECT_EQ(k.kernel.tables.back(), table({{0x0A000000, 0x0A000000}, {0x0A000002, 0x0A0000FF}}));

    k.lifelines.lifelines.push_back({IpAddress::fromV4(0x0A000080), "DNS server"});
    k.clock.advance(std::chrono::seconds(30));
    program.guardTimerFired();
    EXPECT_EQ(
        k.kernel.tables.back(),
        table({{0x0A000000, 0x0A000000}, {0x0A000002, 0x0A00007F}, {0x0A000081, 0x0A0000FF}}));
    EXPECT_NE(k.host.log.find("Lifeline 10.0.0.128 (DNS server) is never banned; the entry "
                              "Example Net would have.\r\n"),
              std::string::npos);
}

// Subscribed lists reach the kernel too: a block list's ranges join the table,
// an allow list's addresses leave it, and a refusal names the list's entry.
TEST(KernelGuardProgram, TheKernelTableHoldsTheListsAndNamesTheirRefusals) {
    KernelProgram k;
    k.dir.write("allow.txt", "10.0.0.0/30\n");
    k.dir.write("block.txt", "Bad Net:203.0.113.0-203.0.113.255\n");
    k.dir.write("lists.json", "{\"lists\": [" + std::string(test::kPrivateNetworksOff) +
                                  ", {\"name\": \"mine\", \"source\": \"" +
                                  k.dir.file("allow.txt").string() +
                                  "\", \"mode\": \"allow\"}, {\"name\": \"public\", "
                                  "\"source\": \"" +
                                  k.dir.file("block.txt").string() + "\", \"mode\": \"block\"}]}");
    Program& program = k.start();
    // The lists' copies are read on a worker; the guard's timer carries them in,
    // and passes the table on at its next pass.
    while (program.lists().updating()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        program.guardTimerFired();
    }
    program.guardTimerFired();
    ASSERT_FALSE(k.kernel.tables.empty());
    EXPECT_EQ(k.kernel.tables.back(), table({{0x0A000004, 0x0A0000FF}, {0xCB007100, 0xCB0071FF}}));

    std::string before = k.host.log;
    k.refused(0xCB007109);
    program.guardTimerFired();
    EXPECT_NE(
        k.host.log.find("Connection Rejected: 203.0.113.9 - Bad Net [public] (", before.size()),
        std::string::npos)
        << k.host.log.substr(before.size());
}

TEST(KernelGuardProgram, ATableChangeSweepsConnectionsThatAlreadyExist) {
    KernelProgram k;
    Program& program = k.start();
    k.tcp.rows.push_back(test::connectionTo(test::ipField(30, 0, 0, 7)));
    program.addRange("Late", "30.0.0.1", "30.0.0.9");
    ASSERT_EQ(k.tcp.tornDown.size(), 1u);
    EXPECT_EQ(k.tcp.tornDown[0].remoteAddress, test::ipField(30, 0, 0, 7));
}

TEST(KernelGuardProgram, BlockingOffClearsTheFlagAndOnSetsItAndSweeps) {
    KernelProgram k;
    Program& program = k.start();
    program.blockingClicked(false);
    k.tcp.rows.push_back(test::connectionTo(test::ipField(10, 0, 0, 5)));
    program.guardTimerFired();
    EXPECT_TRUE(k.tcp.tornDown.empty());
    program.blockingClicked(true);
    EXPECT_EQ(k.kernel.blocking, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(k.tcp.tornDown.size(), 1u);
}

TEST(KernelGuardProgram, WhileTheKernelGuardRunsTheTimerReadsNoConnectionTable) {
    KernelProgram k;
    Program& program = k.start();
    int reads = k.tcp.reads;
    for (int i = 0; i < 10; ++i) program.guardTimerFired();
    EXPECT_EQ(k.tcp.reads, reads);

    KernelProgram polling;
    polling.kernel.whyNot = "no";
    Program& polled = polling.start();
    reads = polling.tcp.reads;
    polled.guardTimerFired();
    EXPECT_GT(polling.tcp.reads, reads);
}

// IPv6 entries of the own list, of an add and of a subscribed list reach the
// kernel's IPv6 table, beside the IPv4 one, and a refusal names its entry.
TEST(KernelGuardProgram, TheKernelsIpv6TableHoldsTheOwnListAndTheLists) {
    KernelProgram k;
    k.dir.write("Moatlist.P2P",
                "Example Net:10.0.0.0-10.0.0.255\r\nDoc Net:2001:db8::-2001:db8::ff\r\n");
    k.dir.write("block.txt", "2001:db8:1::/48\n");
    k.dir.write("lists.json", "{\"lists\": [" + std::string(test::kPrivateNetworksOff) +
                                  ", {\"name\": \"six\", \"source\": \"" +
                                  k.dir.file("block.txt").string() + "\", \"mode\": \"block\"}]}");
    Program& program = k.start();
    while (program.lists().updating()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        program.guardTimerFired();
    }
    program.guardTimerFired();
    auto v6 = [](const char* text) { return parseIpAddress(text)->v6(); };
    ASSERT_FALSE(k.kernel.tables6.empty());
    EXPECT_EQ(k.kernel.tables6.back(),
              (std::vector<Address6Interval>{
                  {v6("2001:db8::"), v6("2001:db8::ff")},
                  {v6("2001:db8:1::"), v6("2001:db8:1:ffff:ffff:ffff:ffff:ffff")}}));
    EXPECT_EQ(k.kernel.tables.back(), table({{0x0A000000, 0x0A0000FF}}));
    EXPECT_EQ(k.kernel.tables.size(), k.kernel.tables6.size()) << "both in one step";

    program.addRange("Added", "2001:db8:2::1", "2001:db8:2::9");
    EXPECT_EQ(k.kernel.tables6.back().size(), 3u);
    EXPECT_EQ(k.kernel.tables6.back()[2],
              (Address6Interval{v6("2001:db8:2::1"), v6("2001:db8:2::9")}));

    std::string before = k.host.log;
    k.kernel.queued.push_back(
        {*parseIpAddress("2001:db8::5"), 443, 6, RefusalDirection::Outgoing, 42, "curl"});
    k.kernel.queued.push_back(
        {*parseIpAddress("2001:db8:1::7"), 443, 17, RefusalDirection::Outgoing, 42, "curl"});
    program.guardTimerFired();
    EXPECT_EQ(
        k.host.log.substr(before.size()),
        "Connection Rejected: 2001:db8::5 - Doc Net (12-05-2026 @ 21:41:15)\r\n"
        "Connection Rejected: 2001:db8:1::7 - 2001:db8:1::/48 [six] (12-05-2026 @ 21:41:15)\r\n");
}

TEST(KernelGuardProgram, ARefusalIsReportedAsARejectionNamingEachMatchingEntry) {
    KernelProgram k;
    k.dir.write("Moatlist.P2P", "Example Net:10.0.0.0-10.0.0.255\r\nInner:10.0.0.5\r\n");
    Program& program = k.start();
    std::string before = k.host.log;
    k.refused(k10_0_0_5);
    program.guardTimerFired();
    EXPECT_EQ(k.host.log.substr(before.size()),
              "Connection Rejected: 10.0.0.5 - Example Net (12-05-2026 @ 21:41:15)\r\n"
              "Connection Rejected: 10.0.0.5 - Inner (12-05-2026 @ 21:41:15)\r\n");
    EXPECT_EQ(program.state().counters.blocked, 2u);
    EXPECT_EQ(k.dir.read("connlog.txt"),
              "12-05-2026, 21:41:15, 10.0.0.5\r\n"
              "Rejected: 10.0.0.5 - Example Net (12-05-2026 @ 21:41:15)\r\n"
              "Rejected: 10.0.0.5 - Inner (12-05-2026 @ 21:41:15)\r\n");
}

TEST(KernelGuardProgram, RetriesOfOneAddressAreReportedOnceASecondAndAllCounted) {
    KernelProgram k;
    Program& program = k.start();
    std::string before = k.host.log;
    k.refused(k10_0_0_5, 50);
    program.guardTimerFired();
    k.refused(k10_0_0_5, 50);
    program.guardTimerFired();
    const std::string line = "Connection Rejected: 10.0.0.5 - Example Net (12-05-2026 @ ";
    std::string added = k.host.log.substr(before.size());
    EXPECT_EQ(added, line + "21:41:15)\r\n");
    EXPECT_EQ(program.state().counters.blocked, 100u);

    k.clock.time.second = 16;
    k.refused(k10_0_0_5);
    k.kernel.lost = 7;
    program.guardTimerFired();
    EXPECT_EQ(k.host.log.substr(before.size()), added + line + "21:41:16)\r\n");
    EXPECT_EQ(program.state().counters.blocked, 108u);
}

// Every refusal is kept with its program, port and direction, also the ones
// only counted; a retry counts up its record, and the counters stay as they were.
TEST(KernelGuardProgram, RefusalsAreKeptWithTheirProgramPortAndDirection) {
    KernelProgram k;
    Program& program = k.start();
    k.refused(k10_0_0_5, 3);
    k.kernel.queued.push_back(
        {IpAddress::fromV4(k10_0_0_5), 51234, 6, RefusalDirection::Incoming, 0, ""});
    k.kernel.queued.push_back(
        {IpAddress::fromV4(k10_0_0_5), 53, 17, RefusalDirection::Outgoing, 0, ""});
    program.guardTimerFired();

    const RecentRefusals& kept = program.state().recentRefusals;
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].entry, "Example Net");
    EXPECT_EQ(kept[0].address, IpAddress::fromV4(k10_0_0_5));
    EXPECT_EQ(kept[0].pid, 42u);
    EXPECT_EQ(kept[0].command, "curl");
    EXPECT_EQ(kept[0].port, 443);
    EXPECT_EQ(kept[0].protocol, 6);
    EXPECT_EQ(kept[0].direction, RefusedDirection::Outgoing);
    EXPECT_EQ(kept[0].times, 3u);
    EXPECT_EQ(kept[0].time, "12-05-2026 21:41:15");
    EXPECT_EQ(kept[1].direction, RefusedDirection::Incoming);
    EXPECT_EQ(kept[1].port, 51234);
    EXPECT_EQ(kept[1].programUnknown, "a packet coming in");
    EXPECT_EQ(kept[2].programUnknown, "a packet going out, not a new connection");
    EXPECT_EQ(program.state().counters.blocked, 5u);
    // Only the first came with a line of its own; the rest were only counted.
    ASSERT_EQ(k.host.refusals.size(), 5u);
    EXPECT_TRUE(k.host.refusals[0].reported);
    for (std::size_t i = 1; i < k.host.refusals.size(); ++i)
        EXPECT_FALSE(k.host.refusals[i].reported) << i;
}

TEST(KernelGuardProgram, WhenTheKernelGuardEndsThePollingGuardTakesOverAndSaysSo) {
    KernelProgram k;
    Program& program = k.start();
    k.kernel.guarding = false;
    program.guardTimerFired();
    EXPECT_NE(k.host.log.find("Kernel blocking stopped (the kernel guard has ended); polling the "
                              "connection table instead. Starting it again in 2 seconds.\r\n"),
              std::string::npos)
        << k.host.log;
    EXPECT_EQ(program.state().guardMode, GuardMode::Polling);
    int reads = k.tcp.reads;
    program.guardTimerFired();
    EXPECT_GT(k.tcp.reads, reads);
}

// The window cannot close connections itself: when its helper ends it says it
// is not guarded (the banner dims), starts the helper again after a pause, and
// gives up with a message after the last try.
TEST(KernelGuardProgram, AHelperThatEndsIsReportedTruthfullyAndStartedAgain) {
    KernelProgram k;
    k.canClose = false;
    Program& program = k.start();
    ASSERT_EQ(program.state().guardMode, GuardMode::Kernel);
    k.kernel.guarding = false;
    program.guardTimerFired();
    EXPECT_NE(k.host.log.find("Not guarded: banned connections can be neither refused nor closed, "
                              "only reported (kernel blocking stopped: the kernel guard has "
                              "ended; closing connections needs the CAP_NET_ADMIN capability). "
                              "Starting it again in 2 seconds.\r\n"),
              std::string::npos)
        << k.host.log;
    EXPECT_EQ(program.state().guardMode, GuardMode::ReportOnly);

    program.guardTimerFired();
    EXPECT_EQ(k.kernel.starts, 1) << "no new start before the pause has passed";
    k.clock.advance(std::chrono::seconds(2));
    std::size_t tables = k.kernel.tables.size();
    program.guardTimerFired();
    EXPECT_EQ(k.kernel.starts, 2);
    EXPECT_EQ(program.state().guardMode, GuardMode::Kernel);
    ASSERT_EQ(k.kernel.tables.size(), tables + 1) << "the restarted guard gets the table";
    EXPECT_EQ(k.kernel.tables.back(), table({{0x0A000000, 0x0A0000FF}}));
    EXPECT_NE(k.host.log.find("Kernel blocking started again"), std::string::npos);

    // It ends again and will not start: 4 tries with growing pauses, then it gives up.
    k.kernel.guarding = false;
    k.kernel.whyNot = "the helper could not be started";
    program.guardTimerFired();
    for (int pause : {2, 4, 8, 16}) {
        k.clock.advance(std::chrono::seconds(pause));
        program.guardTimerFired();
    }
    EXPECT_EQ(k.kernel.starts, 6);
    EXPECT_NE(k.host.log.find("Kernel blocking could not be started again after 4 tries (the "
                              "helper could not be started); not guarded: banned connections are "
                              "only reported.\r\n"),
              std::string::npos)
        << k.host.log;
    k.clock.advance(std::chrono::seconds(600));
    program.guardTimerFired();
    EXPECT_EQ(k.kernel.starts, 6);
    EXPECT_EQ(program.state().guardMode, GuardMode::ReportOnly);
}

// A reload empties the ban table and yields before it reads the list again:
// the kernel never sees that empty table, only the old one and then the new one.
TEST(KernelGuardProgram, AReloadHandsTheKernelOnlyCompleteTables) {
    KernelProgram k;
    Program& program = k.start();
    k.host.onYield = [&] { program.guardTimerFired(); };
    k.dir.write("Moatlist.P2P", "Example Net:10.0.0.0-10.0.0.255\r\nMore:20.0.0.0-20.0.0.9\r\n");
    std::size_t before = k.kernel.tables.size();
    program.STARTUPLOAD("");
    k.host.onYield = nullptr;
    ASSERT_GT(k.kernel.tables.size(), before);
    for (std::size_t i = before; i < k.kernel.tables.size(); ++i)
        EXPECT_FALSE(k.kernel.tables[i].empty()) << "table " << i << " was handed over empty";
    EXPECT_EQ(k.kernel.tables.back(), table({{0x0A000000, 0x0A0000FF}, {0x14000000, 0x14000009}}));
}

// A table the kernel does not take leaves nothing stale attached, says why
// (with the limit when the table is too large), and a reload no longer claims
// kernel blocking.
TEST(KernelGuardProgram, ATableTheKernelRefusesDetachesEverythingAndSaysWhy) {
    KernelProgram k;
    Program& program = k.start();
    k.kernel.refuseTables = true;
    program.addRange("Other", "20.0.0.1", "20.0.0.9");
    EXPECT_EQ(k.kernel.stops, 1);
    EXPECT_FALSE(k.kernel.guarding);
    EXPECT_EQ(program.state().guardMode, GuardMode::Polling);
    EXPECT_NE(k.host.log.find("Kernel blocking stopped (the kernel did not take the new table); "
                              "polling the connection table instead.\r\n"),
              std::string::npos)
        << k.host.log;
    program.STARTUPLOAD("");  // starts the log view afresh
    const std::string& reload = k.host.log;
    EXPECT_EQ(reload.find("Guard: kernel blocking"), std::string::npos) << reload;
    EXPECT_NE(reload.find("Guard: polling the connection table, because kernel blocking stopped "
                          "(the kernel did not take the new table)."),
              std::string::npos)
        << reload;
    program.guardTimerFired();
    EXPECT_EQ(k.kernel.starts, 1) << "a refused table is not retried";
}

TEST(KernelGuardProgram, AStartThatOnlyAddsALinkAttachesNothing) {
    KernelProgram k;
    k.start("bwdat://x@1.2.3.4:1.2.3.9");
    EXPECT_EQ(k.host.exitStatus, 0);
    EXPECT_EQ(k.kernel.starts, 0);
    EXPECT_TRUE(k.kernel.tables.empty());
}

}  // namespace
}  // namespace bw
