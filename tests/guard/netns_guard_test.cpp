// The guard against the real kernel, in a private network namespace: banned
// connections are aborted, others keep working, and the logs say so.

#include <arpa/inet.h>
#include <errno.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "blocklist/address_codec.h"
#include "guard/guard_schedule.h"
#include "guard/refusal_store.h"
#include "guard/refusal_text.h"
#include "platform/lifelines.h"
#include "platform/socket_owners.h"
#include "support/fake_clock.h"
#include "support/network_namespace.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

using test::Findings;

constexpr std::uint16_t kPort = 8080;
constexpr int kOtherConnections = 120;

// Clients to 127.0.0.5 and 127.0.0.6 among many other connections, the
// entry x:127.0.0.5 banned and blocking on; one tick of the guard.
struct GuardScenario {
    explicit GuardScenario(const std::filesystem::path& programFolder) : folder(programFolder) {
        ban.append(127, {"x:127.0.0.5", "x", *IP2LONG("127.0.0.5"), *IP2LONG("127.0.0.5")});
    }

    void openConnections() {
        int banned = test::listenOn("127.0.0.5", kPort);
        int allowed = test::listenOn("127.0.0.6", kPort);
        int others = test::listenOn("127.0.0.1", kPort);
        bannedClient = test::connectFrom("127.0.0.1", "127.0.0.5", kPort);
        bannedServer = test::acceptOne(banned);
        allowedClient = test::connectFrom("127.0.0.1", "127.0.0.6", kPort);
        allowedServer = test::acceptOne(allowed);
        for (int i = 0; i < kOtherConnections; ++i) {
            test::connectFrom("127.0.0.2", "127.0.0.1", kPort);
            test::acceptOne(others);
        }
        if (bannedServer < 0 || allowedServer < 0)
            throw std::runtime_error("setup failed");
    }

    void tick(Findings& f) {
        f.set("rows", static_cast<long long>(tcp->readConnections(false).size()));
        schedule.guardTick();
        f.set("log", host.log);
        f.set("blocked", static_cast<long long>(state.counters.blocked));
    }

    void observeConnections(Findings& f) {
        f.set("bannedRead", std::strerror(test::readError(bannedClient)));
        f.set("allowedCarries",
              test::carriesData(allowedClient, allowedServer, "still here") ? "yes" : "no");
    }

    std::filesystem::path folder;
    BanTable ban;
    ProgramState state;
    test::RecordingHost host;
    test::FakeClock clock;
    std::unique_ptr<TcpTable> tcp = makeSystemTcpTable();
    ConnectionLog log{host, clock, folder / "connlog.txt"};
    GuardPass pass{ban, *tcp, log, state, host};
    GuardSchedule schedule{*tcp, pass, state, host};
    int bannedClient = -1, bannedServer = -1, allowedClient = -1, allowedServer = -1;
};

TEST(GuardInPrivateNetwork, BannedConnectionIsAbortedOthersCarryOn) {
    test::TempDir dir;
    BW_RUN_IN_PRIVATE_NETWORK(run, [&](Findings& f) {
        GuardScenario s(dir.path());
        s.openConnections();
        s.tick(f);
        s.observeConnections(f);
    });
    EXPECT_GT(run.findings.number("rows"), 101 + 4);
    EXPECT_EQ(run.findings["bannedRead"], std::strerror(ECONNABORTED));
    EXPECT_EQ(run.findings["allowedCarries"], "yes");
    EXPECT_EQ(run.findings["log"],
              "Connection Rejected: 127.0.0.5 - x (12-05-2026 @ 21:41:15)\r\n");
    EXPECT_EQ(run.findings.number("blocked"), 1);
    std::string file = dir.read("connlog.txt");
    for (const char* line :
         {"12-05-2026, 21:41:15, 127.0.0.1\r\n",
          "12-05-2026, 21:41:15, 127.0.0.5\r\n"
          "Rejected: 127.0.0.5 - x (12-05-2026 @ 21:41:15)\r\n",
          "12-05-2026, 21:41:15, 127.0.0.6\r\n", "12-05-2026, 21:41:15, 127.0.0.2\r\n"}) {
        EXPECT_NE(file.find(line), std::string::npos) << line << "in:\n" << file;
    }
    EXPECT_EQ(file.find("0.0.0.0"), std::string::npos);
}

TEST(GuardInPrivateNetwork, WithoutNetworkAdministrationTheRefusalIsSaidOnce) {
    test::TempDir dir;
    BW_RUN_IN_PRIVATE_NETWORK(run, [&](Findings& f) {
        GuardScenario s(dir.path());
        s.openConnections();
        if (!test::dropNetworkAdministration())
            throw std::runtime_error("capset failed");
        s.tick(f);
        // A further change makes the next tick pass again: the stuck
        // connection is tried again but not reported again.
        int extra = test::connectFrom("127.0.0.3", "127.0.0.1", kPort);
        s.schedule.guardTick();
        f.set("extra", extra >= 0 ? "yes" : "no");
        f.set("logAfterRetry", s.host.log);
        f.set("blockedAfterRetry", static_cast<long long>(s.state.counters.blocked));
        f.set("yields", s.host.yields);
        s.observeConnections(f);
    });
    const std::string refused =
        "Could not close connection: 127.0.0.5 - x (12-05-2026 @ 21:41:15): not permitted "
        "(closing connections needs the CAP_NET_ADMIN capability)\r\n";
    EXPECT_EQ(run.findings["log"], refused);
    EXPECT_EQ(run.findings.number("blocked"), 0);
    ASSERT_EQ(run.findings["extra"], "yes");
    EXPECT_EQ(run.findings.number("yields"), 2);  // two passes ran
    EXPECT_EQ(run.findings["logAfterRetry"], refused);
    EXPECT_EQ(run.findings.number("blockedAfterRetry"), 0);
    EXPECT_EQ(run.findings["bannedRead"], "Success");  // still open: nothing to read yet
    EXPECT_EQ(run.findings["allowedCarries"], "yes");
    std::string file = dir.read("connlog.txt");
    EXPECT_NE(file.find("12-05-2026, 21:41:15, 127.0.0.5\r\n"), std::string::npos);
    EXPECT_EQ(file.find("Rejected: "), std::string::npos);
}

// A dual-stack program reaches an IPv4 address through an IPv6 socket: the
// guard judges and names it as the IPv4 address it is.
TEST(GuardInPrivateNetwork, AnIpv4MappedPeerIsGuardedAsIpv4) {
    test::TempDir dir;
    BW_RUN_IN_PRIVATE_NETWORK(run, [&](Findings& f) {
        GuardScenario s(dir.path());
        int listener = test::listenDualStack(kPort);
        s.bannedClient = test::connect6("::ffff:127.0.0.5", kPort);
        s.bannedServer = test::acceptOne(listener);
        s.allowedClient = test::connect6("::ffff:127.0.0.6", kPort);
        s.allowedServer = test::acceptOne(listener);
        if (s.bannedServer < 0 || s.allowedServer < 0)
            throw std::runtime_error("setup failed");
        s.tick(f);
        s.observeConnections(f);
    });
    EXPECT_EQ(run.findings["bannedRead"], std::strerror(ECONNABORTED));
    EXPECT_EQ(run.findings["allowedCarries"], "yes");
    EXPECT_EQ(run.findings["log"],
              "Connection Rejected: 127.0.0.5 - x (12-05-2026 @ 21:41:15)\r\n");
    EXPECT_EQ(run.findings.number("blocked"), 1);
    std::string file = dir.read("connlog.txt");
    EXPECT_NE(file.find("Rejected: 127.0.0.5 - x (12-05-2026 @ 21:41:15)\r\n"), std::string::npos)
        << file;
    EXPECT_EQ(file.find("::"), std::string::npos) << file;
}

// A native IPv6 connection to a banned address is closed, logged in the same
// lines with the address's short form, counted and recorded with its program;
// its neighbour to an address not banned carries on.
TEST(GuardInPrivateNetwork, AnIpv6ConnectionToABannedAddressIsClosed) {
    test::TempDir dir;
    BW_RUN_IN_PRIVATE_NETWORK(run, [&](Findings& f) {
        GuardScenario s(dir.path());
        s.ban.append6({"x6:2001:db8::5-2001:db8::5", "x6", parseIpAddress("2001:db8::5")->v6(),
                       parseIpAddress("2001:db8::5")->v6()});
        auto owners = makeLinuxSocketOwners();
        RefusalStore store(s.state.recentRefusals, s.host, s.clock);
        s.pass.useRefusals(&store, owners.get());
        for (const char* address : {"2001:db8::5", "2001:db8::6", "2001:db8::7"}) {
            if (!test::addLoopbackAddress6(address))
                throw std::runtime_error("ip -6 addr add failed");
        }
        int banned = test::listenOn6("2001:db8::5", kPort);
        int allowed = test::listenOn6("2001:db8::6", kPort);
        s.bannedClient = test::connect6From("2001:db8::7", "2001:db8::5", kPort);
        s.bannedServer = test::acceptOne(banned);
        s.allowedClient = test::connect6From("2001:db8::7", "2001:db8::6", kPort);
        s.allowedServer = test::acceptOne(allowed);
        if (s.bannedServer < 0 || s.allowedServer < 0)
            throw std::runtime_error("setup failed");
        s.tick(f);
        s.observeConnections(f);
        std::string command;
        std::getline(std::ifstream("/proc/self/comm"), command);
        f.set("program", command + " (pid " + std::to_string(getpid()) + ")");
        f.set("records", static_cast<long long>(s.state.recentRefusals.size()));
        if (!s.state.recentRefusals.empty()) {
            const RefusalRecord& r = s.state.recentRefusals.front();
            f.set("record", ipAddressText(r.address) + " - " + r.entry + ", " + programText(r) +
                                ", port " + std::to_string(r.port) + ", " +
                                std::string(directionText(r.direction)));
        }
    });
    const Findings& f = run.findings;
    EXPECT_EQ(f["bannedRead"], std::strerror(ECONNABORTED));
    EXPECT_EQ(f["allowedCarries"], "yes");
    EXPECT_EQ(f["log"], "Connection Rejected: 2001:db8::5 - x6 (12-05-2026 @ 21:41:15)\r\n");
    EXPECT_EQ(f.number("blocked"), 1);
    EXPECT_EQ(f.number("records"), 1);
    EXPECT_EQ(f["record"], "2001:db8::5 - x6, " + f["program"] + ", port 8080, outgoing");
    std::string file = dir.read("connlog.txt");
    for (const char* line :
         {"12-05-2026, 21:41:15, 2001:db8::5\r\n"
          "Rejected: 2001:db8::5 - x6 (12-05-2026 @ 21:41:15)\r\n",
          "12-05-2026, 21:41:15, 2001:db8::6\r\n", "12-05-2026, 21:41:15, 2001:db8::7\r\n"}) {
        EXPECT_NE(file.find(line), std::string::npos) << line << "in:\n" << file;
    }
}

// The program that held a closed connection is named through its socket, and
// the direction through the listening port: here this very test process holds
// both ends, one it dialled and one dialled in from the banned address.
TEST(GuardInPrivateNetwork, AClosedConnectionNamesItsProgramPortAndDirection) {
    test::TempDir dir;
    BW_RUN_IN_PRIVATE_NETWORK(run, [&](Findings& f) {
        GuardScenario s(dir.path());
        auto owners = makeLinuxSocketOwners();
        RefusalStore store(s.state.recentRefusals, s.host, s.clock);
        s.pass.useRefusals(&store, owners.get());
        s.openConnections();
        int listener = test::listenOn("127.0.0.7", kPort);
        int dialledIn = test::connectFrom("127.0.0.5", "127.0.0.7", kPort);
        if (listener < 0 || dialledIn < 0 || test::acceptOne(listener) < 0)
            throw std::runtime_error("setup failed");
        sockaddr_in from{};
        socklen_t length = sizeof from;
        getsockname(dialledIn, reinterpret_cast<sockaddr*>(&from), &length);
        s.tick(f);
        std::string command;
        std::getline(std::ifstream("/proc/self/comm"), command);
        f.set("command", command);
        f.set("pid", getpid());
        f.set("dialledInPort", ntohs(from.sin_port));
        f.set("records", static_cast<long long>(s.state.recentRefusals.size()));
        for (const RefusalRecord& r : s.state.recentRefusals) {
            const std::string direction(directionText(r.direction));
            f.set(direction, ipAddressText(r.address) + " - " + r.entry + ", " + programText(r) +
                                 ", port " + std::to_string(r.port) + ", " +
                                 protocolName(r.protocol));
            f.set(direction + "Details", refusalDetailsLine(r));
        }
    });
    const Findings& f = run.findings;
    const std::string program = f["command"] + " (pid " + f["pid"] + ")";
    ASSERT_FALSE(f["command"].empty());
    EXPECT_EQ(f.number("records"), 2);
    EXPECT_EQ(f["outgoing"], "127.0.0.5 - x, " + program + ", port 8080, TCP");
    EXPECT_EQ(f["incoming"],
              "127.0.0.5 - x, " + program + ", port " + f["dialledInPort"] + ", TCP");
    EXPECT_EQ(f["outgoingDetails"], "    Details: program \"" + f["command"] + "\" (pid " +
                                        f["pid"] + "), port 8080, TCP, outgoing");
}

}  // namespace
}  // namespace bw
