#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "guard/net_stat.h"
#include "maintenance/list_keeper.h"
#include "platform/ip_address.h"
#include "support/fake_lifeline_source.h"
#include "support/program_fixture.h"
#include "support/stuck_on_fifo.h"

namespace bw {
namespace {

using test::connectionTo;
using test::ipField;

class ProgramListsTest : public ::testing::Test, public test::ProgramFixture {
protected:
    void subscribeLocal(const std::string& name, const std::string& text, const char* mode) {
        dir.write(name + ".txt", text);
        lists += std::string(lists.empty() ? "" : ",") + "{\"name\": \"" + name +
                 "\", \"source\": \"" + dir.file(name + ".txt").string() + "\", \"mode\": \"" +
                 mode + "\"}";
        dir.write("lists.json", "{\"lists\": [" + lists + "]}");
    }
    // List updates run off the guard's thread; the guard's timer carries them in.
    void finishListUpdates() {
        while (program.lists().updating()) {
            program.guardTimerFired();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    std::string lists = test::kPrivateNetworksOff;
};

TEST_F(ProgramListsTest, AnAllowListKeepsAnOwnListBanFromClosing) {
    dir.write("Moatlist.P2P", "Example Net:10.0.0.0-10.0.0.255\r\n");
    subscribeLocal("mine", "10.0.0.0/8\n", "allow");
    subscribeLocal("public", "Bad Net:203.0.113.0-203.0.113.255\n", "block");
    program.load("");
    finishListUpdates();

    tcp.rows = {connectionTo(ipField(10, 0, 0, 5), 1), connectionTo(ipField(203, 0, 113, 9), 2)};
    host.log.clear();
    program.RefreshNS();

    ASSERT_EQ(tcp.tornDown.size(), 1u);
    EXPECT_EQ(tcp.tornDown[0], tcp.rows[1]);
    EXPECT_EQ(host.log,
              "Connection Rejected: 203.0.113.9 - Bad Net [public] (12-05-2026 @ 21:41:15)\r\n");
    EXPECT_EQ(program.effectiveBannedRanges(),
              (std::vector<AddressSpan>{{0xCB007100u, 0xCB0071FFu}}));

    // Switched off, the allow list no longer protects the own list's range.
    ASSERT_EQ(program.lists().setEnabled("mine", false), "");
    program.guardTimerFired();
    EXPECT_EQ(program.effectiveBannedRanges(),
              (std::vector<AddressSpan>{{0x0A000000u, 0x0A0000FFu}, {0xCB007100u, 0xCB0071FFu}}));
}

// IPv6 entries of the own list and of the lists reach the kernel's IPv6 spans;
// the own list's IPv6 lines are saved as they were read.
TEST_F(ProgramListsTest, Ipv6EntriesOfTheOwnListAndTheListsMakeTheIpv6Ban) {
    const std::string ownLines =
        "Example Net:10.0.0.0-10.0.0.255\r\nDoc Net:2001:db8::-2001:db8::ff\r\n";
    dir.write("Moatlist.P2P", ownLines);
    subscribeLocal("private6", "fc00::/7\n", "allow");
    subscribeLocal("public", "Bad Net:2001:db8:1::-2001:db8:1::ffff\nAll ULA:fd00::-fd00::ff\n",
                   "block");
    program.load("");
    finishListUpdates();
    auto v6 = [](const char* text) { return parseIpAddress(text)->v6(); };
    EXPECT_EQ(program.effectiveBannedRanges6(),
              (std::vector<Span6>{{v6("2001:db8::"), v6("2001:db8::ff")},
                                  {v6("2001:db8:1::"), v6("2001:db8:1::ffff")}}));
    EXPECT_EQ(program.effectiveBannedRanges(),
              (std::vector<AddressSpan>{{0x0A000000u, 0x0A0000FFu}}));

    EXPECT_EQ(program.addRange("Added", "2001:db8:2::1", ""), AddOutcome::Added);
    EXPECT_EQ(program.addRange("Self", "::1", ""), AddOutcome::Localhost);
    EXPECT_NE(dir.read("Moatlist.P2P")
                  .find(ownLines.substr(ownLines.find("Doc")) + "Added:2001:db8:2::1\r\n"),
              std::string::npos);
    EXPECT_EQ(program.effectiveBannedRanges6().size(), 3u);
}

// Built before the program, which reads its lifelines at the start.
struct WithLifelines {
    WithLifelines() { source.lifelines = {{IpAddress::fromV4(0xC0000235u), "DNS server"}}; }
    test::FakeLifelineSource source;
};

class ProgramLifelinesTest : public ::testing::Test,
                             public WithLifelines,
                             public test::FakeServices {
protected:
    ProgramServices withSource() {
        ProgramServices s = services();
        s.lifelineSource = &source;
        return s;
    }
    test::RecordingHost host;
    Program program{host, withSource()};
};

TEST_F(ProgramLifelinesTest, ALifelineIsNeitherClosedNorInTheKernelTable) {
    dir.write("Moatlist.P2P", "Own Net:192.0.2.0-192.0.2.255\r\n");
    program.load("");

    EXPECT_EQ(program.lifelines(),
              (std::vector<Lifeline>{{IpAddress::fromV4(0xC0000235u), "DNS server"}}));
    EXPECT_EQ(program.effectiveBannedRanges(),
              (std::vector<AddressSpan>{{0xC0000200u, 0xC0000234u}, {0xC0000236u, 0xC00002FFu}}));
    EXPECT_NE(host.log.find("Lifeline 192.0.2.53 (DNS server) is never banned; the entry Own Net "
                            "would have.\r\n"),
              std::string::npos);
    tcp.rows = {connectionTo(ipField(192, 0, 2, 53), 1), connectionTo(ipField(192, 0, 2, 54), 2)};
    host.log.clear();
    program.RefreshNS();
    program.guardTimerFired();

    ASSERT_EQ(tcp.tornDown.size(), 1u);
    EXPECT_EQ(tcp.tornDown[0], tcp.rows[1]);
    EXPECT_EQ(host.log.find("Lifeline"), std::string::npos);  // said once only
}

TEST_F(ProgramLifelinesTest, ANewLifelineIsTakenFromTheGuardsTimer) {
    dir.write("Moatlist.P2P", "Own Net:198.51.100.0-198.51.100.255\r\n");
    program.load("");
    source.lifelines.push_back({IpAddress::fromV4(0xC6336401u), "default gateway"});
    clock.advance(std::chrono::seconds(31));
    program.guardTimerFired();

    EXPECT_EQ(program.effectiveBannedRanges(),
              (std::vector<AddressSpan>{{0xC6336400u, 0xC6336400u}, {0xC6336402u, 0xC63364FFu}}));
}

// A list's server stays reachable however wide the lists are, so that a
// wrong list can be mended by its next update.
TEST_F(ProgramLifelinesTest, TheServerAListCameFromIsALifeline) {
    dir.write("Moatlist.P2P", "Own Net:198.51.100.0-198.51.100.255\r\n");
    dir.write("lists.json", std::string("{\"lists\": [") + test::kPrivateNetworksOff +
                                ", {\"name\": \"web\", \"source\": \"http://lists.example/x\"}]}");
    downloader.serverAddress = "198.51.100.7";
    program.load("");
    while (program.lists().updating()) {
        program.guardTimerFired();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    program.guardTimerFired();

    EXPECT_EQ(program.lifelines(),
              (std::vector<Lifeline>{{IpAddress::fromV4(0xC0000235u), "DNS server"},
                                     {IpAddress::fromV4(0xC6336407u), "server of the list web"}}));
    EXPECT_EQ(program.effectiveBannedRanges(),
              (std::vector<AddressSpan>{{0xC6336400u, 0xC6336406u}, {0xC6336408u, 0xC63364FFu}}));
}

// A pipe as a list's source: the start neither waits on it nor skips the
// first pass, and the own list is enforced from that pass on.
TEST_F(ProgramListsTest, APipeAsASourceDoesNotHoldUpTheStart) {
    dir.write("Moatlist.P2P", "Example Net:198.51.100.0-198.51.100.255\r\n");
    subscribeLocal("pipe", "", "block");
    std::filesystem::remove(dir.file("pipe.txt"));
    ASSERT_EQ(::mkfifo(dir.file("pipe.txt").c_str(), 0600), 0);
    tcp.rows = {connectionTo(ipField(198, 51, 100, 7), 1)};

    EXPECT_TRUE(test::returnsWithoutAWriter(dir.file("pipe.txt"), [&] { program.load(""); }))
        << "the start waited on the pipe";
    EXPECT_EQ(tcp.tornDown.size(), 1u);
    finishListUpdates();
    const std::vector<Subscription>& all = program.lists().subscriptions();
    const auto pipe = std::find_if(all.begin(), all.end(),
                                   [](const Subscription& s) { return s.name == "pipe"; });
    ASSERT_NE(pipe, all.end());
    EXPECT_EQ(pipe->lastError,
              "cannot read " + dir.file("pipe.txt").string() +
                  ": not a regular file (a pipe, device or folder cannot be a list)");
}

TEST_F(ProgramListsTest, ANewInstallationAllowsItsPrivateNetworks) {
    std::filesystem::remove(dir.file("lists.json"));
    program.load("");
    ASSERT_EQ(program.lists().subscriptions().size(), 1u);
    EXPECT_EQ(program.lists().subscriptions()[0].name, "Private networks");
    program.addRange("Careless", "192.168.0.0", "192.168.255.255");
    EXPECT_TRUE(program.effectiveBannedRanges().empty());
}

// A link start adds its link and ends: it reads no list's copy, not even the
// built-in allow list's, while it holds the folder.
// The link's private address shows it: the allow list would spare it.
TEST_F(ProgramListsTest, ALinkStartReadsNoCachedCopy) {
    std::filesystem::remove(dir.file("lists.json"));
    program.load("bwdat://x@10.1.2.3");
    ASSERT_EQ(host.exitStatus, 0);
    EXPECT_EQ(program.effectiveBannedRanges(),
              (std::vector<AddressSpan>{{0x0A010203u, 0x0A010203u}}));
}

}  // namespace
}  // namespace bw
