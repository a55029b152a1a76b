// The kernel guard against the real kernel: each scenario runs in a private
// network namespace and in a child cgroup of its own, which is all the guard
// ever attaches to.

#include <arpa/inet.h>
#include <bpf/bpf.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/kernel_guard.h"
#include "support/child_cgroup.h"
#include "support/ipv6_loopback.h"
#include "support/network_namespace.h"

namespace bw {
namespace {

using test::Findings;

constexpr std::uint16_t kPort = 8080;
constexpr const char* kBanned = "127.0.0.5";
constexpr const char* kAllowed = "127.0.0.6";
constexpr const char* kBannedSource = "127.0.0.7";

std::uint32_t address(const char* text) {
    in_addr a{};
    inet_pton(AF_INET, text, &a);
    return ntohl(a.s_addr);
}

// The two banned addresses among other intervals.
std::vector<AddressInterval> bannedTable() {
    return {{address("10.0.0.0"), address("10.255.255.255")},
            {address(kBanned), address(kBanned)},
            {address(kBannedSource), address(kBannedSource)},
            {address("200.0.0.0"), address("200.0.0.9")}};
}

// Runs the scenario with a started kernel guard in a private network and a
// child cgroup. The finding "skip" carries the reason where the kernel takes
// no cgroup programs at all.
test::PrivateNetworkRun runGuarded(const std::function<void(KernelGuard&, Findings&)>& scenario) {
    return test::runInPrivateNetwork([&](Findings& f) {
        test::inChildCgroup(f, [&](const test::ChildCgroup&) {
            auto guard = makeInProcessKernelGuard();
            std::string whyNot;
            if (!guard->start(whyNot))
                throw std::runtime_error("the guard did not start: " + whyNot);
            scenario(*guard, f);
        });
    });
}

#define BW_RUN_GUARDED(run, ...)                                         \
    test::PrivateNetworkRun run = runGuarded(__VA_ARGS__);               \
    if (!run.created)                                                    \
        GTEST_SKIP() << "no private network namespace: " << run.problem; \
    if (!run.findings["skip"].empty())                                   \
        GTEST_SKIP() << run.findings["skip"];                            \
    ASSERT_TRUE(run.completed) << run.problem

sockaddr_in inet(const char* text, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, text, &a.sin_addr);
    return a;
}

sockaddr_in6 mapped(const char* v4, std::uint16_t port) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    inet_pton(AF_INET6, (std::string("::ffff:") + v4).c_str(), &a.sin6_addr);
    return a;
}

// The errno of connect() on a new socket; 0 when it worked.
template <typename Address>
int connectError(int family, int type, const Address& to) {
    int fd = socket(family, type | SOCK_CLOEXEC, 0);
    int result = connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    int error = result == 0 ? 0 : errno;
    close(fd);
    return error;
}

template <typename Address>
int sendToError(int family, const Address& to) {
    int fd = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ssize_t sent = sendto(fd, "x", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    int error = sent == 1 ? 0 : errno;
    close(fd);
    return error;
}

std::string describe(const KernelRefusal& r) {
    return ipAddressText(r.address) + ":" + std::to_string(r.port) + "/" +
           std::to_string(r.protocol) +
           (r.direction == RefusalDirection::Incoming ? " in" : " out") + " pid " +
           std::to_string(r.pid) + " " + r.command;
}

TEST(KernelGuardInPrivateNetwork, RefusesBannedPeersOverEveryRouteAndLetsOthersThrough) {
    BW_RUN_GUARDED(run, [](KernelGuard& guard, Findings& f) {
        prctl(PR_SET_NAME, "bw-refused");
        int bannedListener = test::listenOn(kBanned, kPort);
        int allowedListener = test::listenOn(kAllowed, kPort);
        f.set("table", guard.replaceTable(bannedTable()) ? "replaced" : "refused");

        f.set("tcp", std::strerror(connectError(AF_INET, SOCK_STREAM, inet(kBanned, kPort))));
        fcntl(bannedListener, F_SETFL, O_NONBLOCK);
        f.set("accepted", test::acceptOne(bannedListener) >= 0 ? "yes" : "no");
        f.set("udpConnect", std::strerror(connectError(AF_INET, SOCK_DGRAM, inet(kBanned, 53))));
        f.set("udpSend", std::strerror(sendToError(AF_INET, inet(kBanned, 53))));
        f.set("mappedTcp",
              std::strerror(connectError(AF_INET6, SOCK_STREAM, mapped(kBanned, kPort))));
        f.set("mappedSend", std::strerror(sendToError(AF_INET6, mapped(kBanned, 53))));

        f.set("allowedTcp", connectError(AF_INET, SOCK_STREAM, inet(kAllowed, kPort)));
        f.set("allowedSend", sendToError(AF_INET, inet(kAllowed, 53)));
        f.set("allowedMapped", connectError(AF_INET6, SOCK_STREAM, mapped(kAllowed, kPort)));

        std::vector<KernelRefusal> refusals;
        f.set("lost", static_cast<long long>(guard.takeRefusals(refusals)));
        std::string seen;
        for (const KernelRefusal& r : refusals) seen += describe(r) + "\n";
        f.set("refusals", seen);
        f.set("pid", getpid());
        close(bannedListener);
        close(allowedListener);
    });
    const Findings& f = run.findings;
    const std::string eperm = std::strerror(EPERM);
    EXPECT_EQ(f["table"], "replaced");
    EXPECT_EQ(f["tcp"], eperm);
    EXPECT_EQ(f["accepted"], "no");
    EXPECT_EQ(f["udpConnect"], eperm);
    EXPECT_EQ(f["udpSend"], eperm);
    EXPECT_EQ(f["mappedTcp"], eperm);
    EXPECT_EQ(f["mappedSend"], eperm);
    EXPECT_EQ(f.number("allowedTcp"), 0);
    EXPECT_EQ(f.number("allowedSend"), 0);
    EXPECT_EQ(f.number("allowedMapped"), 0);
    EXPECT_EQ(f.number("lost"), 0);
    const std::string who = " out pid " + f["pid"] + " bw-refused\n";
    const std::string banned = kBanned;
    EXPECT_EQ(f["refusals"], banned + ":8080/6" + who + banned + ":53/17" + who + banned +
                                 ":53/17" + who + banned + ":8080/6" + who + banned + ":53/17" +
                                 who);
}

// Sockets that never pass connect() or sendmsg() with an address after the
// ban: a UDP socket connected before it, a ping socket and a raw socket. Their
// packets are stopped as they leave.
TEST(KernelGuardInPrivateNetwork, StopsTrafficThatNeedsNoConnectAfterTheBan) {
    BW_RUN_GUARDED(run, [](KernelGuard& guard, Findings& f) {
        int receiver = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in at = inet(kBanned, 5353);
        bind(receiver, reinterpret_cast<const sockaddr*>(&at), sizeof at);
        int connected = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        connect(connected, reinterpret_cast<const sockaddr*>(&at), sizeof at);
        f.set("beforeBan", send(connected, "a", 1, 0) == 1 ? "sent" : std::strerror(errno));
        char got[8];
        f.set("receivedBefore", recv(receiver, got, sizeof got, 0));

        // Ping sockets are for the groups the namespace names; root may name its own.
        int ping = -1;
        if (FILE* range = fopen("/proc/sys/net/ipv4/ping_group_range", "w")) {
            fprintf(range, "0 0\n");
            fclose(range);
            ping = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
        }
        int raw = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_UDP);

        f.set("table", guard.replaceTable(bannedTable()) ? "replaced" : "refused");
        f.set("connectedUdp", send(connected, "b", 1, 0) == 1 ? "sent" : std::strerror(errno));
        f.set("receivedAfter", recv(receiver, got, sizeof got, 0));
        unsigned char echo[8] = {8, 0, 0xf7, 0xff, 0, 0, 0, 0};  // ICMP echo request
        sockaddr_in host = inet(kBanned, 0);
        auto sendTo = [&](int fd, const void* bytes, std::size_t size) -> std::string {
            if (fd < 0)
                return "no socket";
            return sendto(fd, bytes, size, 0, reinterpret_cast<const sockaddr*>(&host),
                          sizeof host) == static_cast<ssize_t>(size)
                       ? "sent"
                       : std::strerror(errno);
        };
        f.set("ping", sendTo(ping, echo, sizeof echo));
        unsigned char udp[9] = {0x30, 0x39, 0x14, 0xe9, 0, 9, 0, 0, 'x'};  // to port 5353
        f.set("raw", sendTo(raw, udp, sizeof udp));
        f.set("receivedRaw", recv(receiver, got, sizeof got, 0));
        std::vector<KernelRefusal> refusals;
        guard.takeRefusals(refusals);
        f.set("refusals", static_cast<long long>(refusals.size()));
    });
    const Findings& f = run.findings;
    EXPECT_EQ(f["beforeBan"], "sent");
    EXPECT_EQ(f.number("receivedBefore"), 1);
    ASSERT_EQ(f["table"], "replaced");
    EXPECT_EQ(f["connectedUdp"], std::strerror(EPERM));
    EXPECT_EQ(f.number("receivedAfter"), -1) << "nothing arrived after the ban";
    EXPECT_EQ(f["ping"], std::strerror(EPERM));
    EXPECT_EQ(f["raw"], std::strerror(EPERM));
    EXPECT_EQ(f.number("receivedRaw"), -1);
    EXPECT_GE(f.number("refusals"), 3);
}

TEST(KernelGuardInPrivateNetwork, DropsConnectionsFromABannedSource) {
    BW_RUN_GUARDED(run, [](KernelGuard& guard, Findings& f) {
        int listener = test::listenOn("127.0.0.1", kPort);
        fcntl(listener, F_SETFL, O_NONBLOCK);
        guard.replaceTable(bannedTable());

        int client = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in local = inet(kBannedSource, 0);
        bind(client, reinterpret_cast<sockaddr*>(&local), sizeof local);
        sockaddr_in to = inet("127.0.0.1", kPort);
        connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to);
        socklen_t size = sizeof local;
        getsockname(client, reinterpret_cast<sockaddr*>(&local), &size);
        f.set("clientPort", ntohs(local.sin_port));

        // The drop happens as the handshake's first packet arrives; wait for its report.
        std::vector<KernelRefusal> refusals;
        auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (refusals.empty() && std::chrono::steady_clock::now() < giveUp) {
            guard.takeRefusals(refusals);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        f.set("refusal", refusals.empty() ? "" : describe(refusals.front()));
        f.set("accepted", test::acceptOne(listener) >= 0 ? "yes" : "no");
        close(client);
        close(listener);
    });
    EXPECT_EQ(run.findings["refusal"],
              std::string(kBannedSource) + ":" + run.findings["clientPort"] + "/6 in pid 0 ");
    EXPECT_EQ(run.findings["accepted"], "no");
}

TEST(KernelGuardInPrivateNetwork, BlockingOffLetsThroughAtOnceAndOnRefusesAgain) {
    BW_RUN_GUARDED(run, [](KernelGuard& guard, Findings& f) {
        guard.replaceTable(bannedTable());
        auto attempt = [] { return connectError(AF_INET, SOCK_DGRAM, inet(kBanned, 53)); };
        f.set("on", attempt());
        f.set("switchedOff", guard.setBlocking(false) ? "yes" : "no");
        f.set("off", attempt());
        guard.setBlocking(true);
        f.set("onAgain", attempt());
    });
    EXPECT_EQ(run.findings.number("on"), EPERM);
    EXPECT_EQ(run.findings["switchedOff"], "yes");
    EXPECT_EQ(run.findings.number("off"), 0);
    EXPECT_EQ(run.findings.number("onAgain"), EPERM);
}

TEST(KernelGuardInPrivateNetwork, TableReplacementsNeverLetABannedConnectThrough) {
    BW_RUN_GUARDED(run, [](KernelGuard& guard, Findings& f) {
        std::vector<AddressInterval> small = {{address(kBanned), address(kBanned)}};
        std::vector<AddressInterval> large;
        for (std::uint32_t i = 0; i < 5000; ++i)
            large.push_back({address("1.0.0.0") + i * 16, address("1.0.0.0") + i * 16 + 7});
        large.push_back({address(kBanned), address(kBanned)});
        guard.replaceTable(small);

        std::atomic<bool> done{false};
        std::atomic<long> bannedThrough{0}, bannedTries{0}, allowedFailed{0}, allowedTries{0};
        std::thread banned([&] {
            while (!done) {
                bannedThrough += connectError(AF_INET, SOCK_DGRAM, inet(kBanned, 53)) == 0;
                ++bannedTries;
            }
        });
        std::thread allowed([&] {
            while (!done) {
                allowedFailed += connectError(AF_INET, SOCK_DGRAM, inet(kAllowed, 53)) != 0;
                ++allowedTries;
            }
        });
        int replaced = 0;
        std::vector<KernelRefusal> drained;
        for (int i = 0; i < 200; ++i) {
            replaced += guard.replaceTable(i % 2 ? small : large);
            guard.takeRefusals(drained);
            drained.clear();
        }
        done = true;
        banned.join();
        allowed.join();
        f.set("replaced", replaced);
        f.set("bannedThrough", bannedThrough.load());
        f.set("allowedFailed", allowedFailed.load());
        f.set("tried", bannedTries > 0 && allowedTries > 0 ? "both" : "not both");
    });
    EXPECT_EQ(run.findings.number("replaced"), 200);
    EXPECT_EQ(run.findings.number("bannedThrough"), 0);
    EXPECT_EQ(run.findings.number("allowedFailed"), 0);
    EXPECT_EQ(run.findings["tried"], "both");
}

TEST(KernelGuardInPrivateNetwork, RefusesATableThatIsNotSortedAndDisjointAndKeepsTheOld) {
    BW_RUN_GUARDED(run, [](KernelGuard& guard, Findings& f) {
        guard.replaceTable(bannedTable());
        std::vector<AddressInterval> unsorted = {{address(kAllowed), address(kAllowed)},
                                                 {address("1.0.0.0"), address("1.0.0.0")}};
        f.set("accepted", guard.replaceTable(unsorted) ? "yes" : "no");
        f.set("banned", connectError(AF_INET, SOCK_DGRAM, inet(kBanned, 53)));
        f.set("allowed", connectError(AF_INET, SOCK_DGRAM, inet(kAllowed, 53)));
    });
    EXPECT_EQ(run.findings["accepted"], "no");
    EXPECT_EQ(run.findings.number("banned"), EPERM);
    EXPECT_EQ(run.findings.number("allowed"), 0);
}

// IPv6 documentation addresses on loopback: banned, its neighbour, a banned
// source, and one banned only by an interval whose lower half is smaller than
// the address's (the search compares all 128 bits), with its neighbour.
constexpr const char* kBanned6 = "2001:db8::5";
constexpr const char* kAllowed6 = "2001:db8::6";
constexpr const char* kBannedSource6 = "2001:db8::7";
constexpr const char* kBannedHigh6 = "2001:db8:0:1::1";
constexpr const char* kAllowedHigh6 = "2001:db8:0:2::1";

Ipv6Number number6(const char* text) {
    return parseIpAddress(text)->v6();
}

std::vector<Address6Interval> bannedTable6() {
    return {{number6("2001:db7::"), number6("2001:db7::ffff")},
            {number6(kBanned6), number6(kBanned6)},
            {number6(kBannedSource6), number6(kBannedSource6)},
            {number6("2001:db8:0:1::"), number6("2001:db8:0:1::ffff")}};
}

bool addDocumentationAddresses() {
    return test::addToLoopback6({kBanned6, kAllowed6, kBannedSource6, kBannedHigh6, kAllowedHigh6});
}

sockaddr_in6 inet6(const char* text, std::uint16_t port) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    inet_pton(AF_INET6, text, &a.sin6_addr);
    return a;
}

int listenOn6(const char* address, std::uint16_t port) {
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in6 at = inet6(address, port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

TEST(KernelGuardInPrivateNetwork, RefusesBannedIpv6PeersAndLetsTheirNeighboursThrough) {
    BW_RUN_GUARDED(run, [](KernelGuard& guard, Findings& f) {
        prctl(PR_SET_NAME, "bw-refused6");
        f.set("addresses", addDocumentationAddresses() ? "added" : "not added");
        int bannedListener = listenOn6(kBanned6, kPort);
        int allowedListener = listenOn6(kAllowed6, kPort);
        // Connected before the ban: its datagrams are stopped as they leave.
        int connectedBefore = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 early = inet6(kBanned6, 53);
        connect(connectedBefore, reinterpret_cast<sockaddr*>(&early), sizeof early);
        f.set("table", guard.replaceTables(bannedTable(), bannedTable6()) ? "replaced" : "refused");

        f.set("tcp", std::strerror(connectError(AF_INET6, SOCK_STREAM, inet6(kBanned6, kPort))));
        fcntl(bannedListener, F_SETFL, O_NONBLOCK);
        f.set("accepted", test::acceptOne(bannedListener) >= 0 ? "yes" : "no");
        f.set("udpConnect", std::strerror(connectError(AF_INET6, SOCK_DGRAM, inet6(kBanned6, 53))));
        f.set("udpSend", std::strerror(sendToError(AF_INET6, inet6(kBanned6, 53))));
        f.set("high", std::strerror(connectError(AF_INET6, SOCK_DGRAM, inet6(kBannedHigh6, 53))));
        f.set("connectedBefore",
              send(connectedBefore, "x", 1, 0) == 1 ? "sent" : std::strerror(errno));
        f.set("mappedStillIpv4",
              std::strerror(connectError(AF_INET6, SOCK_STREAM, mapped(kBanned, kPort))));

        f.set("allowedTcp", connectError(AF_INET6, SOCK_STREAM, inet6(kAllowed6, kPort)));
        f.set("allowedSend", sendToError(AF_INET6, inet6(kAllowed6, 53)));
        f.set("allowedHigh", connectError(AF_INET6, SOCK_DGRAM, inet6(kAllowedHigh6, 53)));
        f.set("allowedIpv4", connectError(AF_INET, SOCK_DGRAM, inet(kAllowed, 53)));

        std::vector<KernelRefusal> refusals;
        f.set("lost", static_cast<long long>(guard.takeRefusals(refusals)));
        std::string seen;
        for (const KernelRefusal& r : refusals) seen += describe(r) + "\n";
        f.set("refusals", seen);
        f.set("pid", getpid());
        close(connectedBefore);
        close(bannedListener);
        close(allowedListener);
    });
    const Findings& f = run.findings;
    const std::string eperm = std::strerror(EPERM);
    ASSERT_EQ(f["addresses"], "added");
    EXPECT_EQ(f["table"], "replaced");
    EXPECT_EQ(f["tcp"], eperm);
    EXPECT_EQ(f["accepted"], "no");
    EXPECT_EQ(f["udpConnect"], eperm);
    EXPECT_EQ(f["udpSend"], eperm);
    EXPECT_EQ(f["high"], eperm);
    EXPECT_EQ(f["connectedBefore"], eperm);
    EXPECT_EQ(f["mappedStillIpv4"], eperm);
    EXPECT_EQ(f.number("allowedTcp"), 0);
    EXPECT_EQ(f.number("allowedSend"), 0);
    EXPECT_EQ(f.number("allowedHigh"), 0);
    EXPECT_EQ(f.number("allowedIpv4"), 0);
    EXPECT_EQ(f.number("lost"), 0);
    const std::string who = " out pid " + f["pid"] + " bw-refused6\n";
    const std::string banned = kBanned6;
    EXPECT_EQ(f["refusals"], banned + ":8080/6" + who + banned + ":53/17" + who + banned +
                                 ":53/17" + who + kBannedHigh6 + ":53/17" + who + banned +
                                 ":53/17 out pid 0 \n" + kBanned + ":8080/6" + who);
}

TEST(KernelGuardInPrivateNetwork, DropsIpv6ConnectionsFromABannedSource) {
    BW_RUN_GUARDED(run, [](KernelGuard& guard, Findings& f) {
        f.set("addresses", addDocumentationAddresses() ? "added" : "not added");
        int listener = listenOn6(kAllowed6, kPort);
        fcntl(listener, F_SETFL, O_NONBLOCK);
        guard.replaceTables(bannedTable(), bannedTable6());

        int client = socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in6 local = inet6(kBannedSource6, 0);
        bind(client, reinterpret_cast<sockaddr*>(&local), sizeof local);
        sockaddr_in6 to = inet6(kAllowed6, kPort);
        connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to);
        socklen_t size = sizeof local;
        getsockname(client, reinterpret_cast<sockaddr*>(&local), &size);
        f.set("clientPort", ntohs(local.sin6_port));

        std::vector<KernelRefusal> refusals;
        auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (refusals.empty() && std::chrono::steady_clock::now() < giveUp) {
            guard.takeRefusals(refusals);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        f.set("refusal", refusals.empty() ? "" : describe(refusals.front()));
        f.set("accepted", test::acceptOne(listener) >= 0 ? "yes" : "no");
        close(client);
        close(listener);
    });
    ASSERT_EQ(run.findings["addresses"], "added");
    EXPECT_EQ(run.findings["refusal"],
              std::string(kBannedSource6) + ":" + run.findings["clientPort"] + "/6 in pid 0 ");
    EXPECT_EQ(run.findings["accepted"], "no");
}

// Both tables change in one step while both families connect: no banned
// connect of either family gets through, no allowed one is refused.
TEST(KernelGuardInPrivateNetwork, ReplacingBothTablesNeverLetsABannedConnectOfEitherFamilyThrough) {
    BW_RUN_GUARDED(run, [](KernelGuard& guard, Findings& f) {
        f.set("addresses", addDocumentationAddresses() ? "added" : "not added");
        std::vector<AddressInterval> small = {{address(kBanned), address(kBanned)}};
        std::vector<Address6Interval> small6 = {{number6(kBanned6), number6(kBanned6)}};
        std::vector<AddressInterval> large;
        std::vector<Address6Interval> large6;
        for (std::uint32_t i = 0; i < 5000; ++i) {
            large.push_back({address("1.0.0.0") + i * 16, address("1.0.0.0") + i * 16 + 7});
            const Ipv6Number first{0x2001'0db7'0000'0000ull + i, 0};
            large6.push_back({first, {first.high, 0xffff}});
        }
        large.push_back({address(kBanned), address(kBanned)});
        large6.push_back({number6(kBanned6), number6(kBanned6)});
        guard.replaceTables(small, small6);

        std::atomic<bool> done{false};
        std::atomic<long> bannedThrough{0}, allowedFailed{0}, tries{0};
        auto keepTrying = [&](auto attempt, std::atomic<long>& wrong) {
            return std::thread([&, attempt] {
                while (!done) {
                    wrong += attempt();
                    ++tries;
                }
            });
        };
        std::thread threads[] = {
            keepTrying([] { return connectError(AF_INET6, SOCK_DGRAM, inet6(kBanned6, 53)) == 0; },
                       bannedThrough),
            keepTrying([] { return connectError(AF_INET, SOCK_DGRAM, inet(kBanned, 53)) == 0; },
                       bannedThrough),
            keepTrying([] { return connectError(AF_INET6, SOCK_DGRAM, inet6(kAllowed6, 53)) != 0; },
                       allowedFailed),
        };
        int replaced = 0;
        std::vector<KernelRefusal> drained;
        for (int i = 0; i < 200; ++i) {
            replaced +=
                i % 2 ? guard.replaceTables(small, small6) : guard.replaceTables(large, large6);
            guard.takeRefusals(drained);
            drained.clear();
        }
        done = true;
        for (std::thread& t : threads) t.join();
        f.set("replaced", replaced);
        f.set("bannedThrough", bannedThrough.load());
        f.set("allowedFailed", allowedFailed.load());
        f.set("tries", tries.load());
    });
    ASSERT_EQ(run.findings["addresses"], "added");
    EXPECT_EQ(run.findings.number("replaced"), 200);
    EXPECT_EQ(run.findings.number("bannedThrough"), 0);
    EXPECT_EQ(run.findings.number("allowedFailed"), 0);
    EXPECT_GT(run.findings.number("tries"), 0);
}

// Each family's table emptied and filled again, in every order: what a
// connect of either family meets is always the pair handed over last.
TEST(KernelGuardInPrivateNetwork, EachPairInForceIsThePairHandedOverLast) {
    BW_RUN_GUARDED(run, [](KernelGuard& guard, Findings& f) {
        f.set("addresses", addDocumentationAddresses() ? "added" : "not added");
        const std::vector<AddressInterval> v4 = {{address(kBanned), address(kBanned)}};
        const std::vector<Address6Interval> v6 = {{number6(kBanned6), number6(kBanned6)}};
        const std::vector<AddressInterval> none4;
        const std::vector<Address6Interval> none6;
        struct Step {
            const std::vector<AddressInterval>& v4;
            const std::vector<Address6Interval>& v6;
        } steps[] = {{v4, v6},    {none4, none6}, {v4, none6}, {none4, v6},    {none4, none6},
                     {none4, v6}, {v4, v6},       {v4, none6}, {none4, none6}, {v4, v6}};
        std::string seen;
        for (const Step& step : steps) {
            const bool replaced = guard.replaceTables(step.v4, step.v6);
            const bool refused4 = connectError(AF_INET, SOCK_DGRAM, inet(kBanned, 53)) == EPERM;
            const bool refused6 = connectError(AF_INET6, SOCK_DGRAM, inet6(kBanned6, 53)) == EPERM;
            seen += std::string(replaced ? "" : "not replaced ") + (refused4 ? "4" : "-") +
                    (refused6 ? "6" : "-") + " ";
        }
        f.set("seen", seen);
    });
    ASSERT_EQ(run.findings["addresses"], "added");
    EXPECT_EQ(run.findings["seen"], "46 -- 4- -6 -- -6 46 4- -- 46 ");
}

TEST(KernelGuardInPrivateNetwork, RefusesAnIpv6TableThatIsNotSortedAndDisjointAndKeepsTheOldPair) {
    BW_RUN_GUARDED(run, [](KernelGuard& guard, Findings& f) {
        f.set("addresses", addDocumentationAddresses() ? "added" : "not added");
        guard.replaceTables(bannedTable(), bannedTable6());
        std::vector<Address6Interval> overlapping = {
            {number6(kAllowed6), number6(kAllowedHigh6)},
            {number6(kBannedHigh6), number6(kBannedHigh6)}};
        f.set("accepted", guard.replaceTables({}, overlapping) ? "yes" : "no");
        f.set("banned", connectError(AF_INET, SOCK_DGRAM, inet(kBanned, 53)));
        f.set("banned6", connectError(AF_INET6, SOCK_DGRAM, inet6(kBanned6, 53)));
        f.set("allowed6", connectError(AF_INET6, SOCK_DGRAM, inet6(kAllowed6, 53)));
    });
    ASSERT_EQ(run.findings["addresses"], "added");
    EXPECT_EQ(run.findings["accepted"], "no");
    EXPECT_EQ(run.findings.number("banned"), EPERM);
    EXPECT_EQ(run.findings.number("banned6"), EPERM);
    EXPECT_EQ(run.findings.number("allowed6"), 0);
}

// A process of its own starts a guard in the cgroup and then ends, by itself
// or by SIGKILL; the programs attached while it lived are counted first.
void guardInChildProcessThenEnd(const std::filesystem::path& cgroup, bool kill, Findings& f) {
    int ready[2];
    int hold[2];
    if (pipe(ready) != 0 || pipe(hold) != 0)
        throw std::runtime_error("pipe");
    pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        close(hold[1]);
        auto guard = makeInProcessKernelGuard();
        std::string whyNot;
        char started = guard->start(whyNot) ? 'y' : 'n';
        (void)!write(ready[1], &started, 1);
        char byte;
        (void)!read(hold[0], &byte, 1);  // until told, or killed
        _exit(0);
    }
    close(ready[1]);
    close(hold[0]);
    char started = 'n';
    (void)!read(ready[0], &started, 1);
    close(ready[0]);
    f.set("started", std::string(1, started));
    f.set("attachedWhileRunning", test::attachedPrograms(cgroup));
    if (kill)
        ::kill(child, SIGKILL);
    else
        close(hold[1]);
    waitpid(child, nullptr, 0);
    f.set("attachedAfter", test::attachedOnceSettled(cgroup));
}

TEST(KernelGuardInPrivateNetwork, EndingTheProcessLeavesNothingAttached) {
    for (bool kill : {false, true}) {
        SCOPED_TRACE(kill ? "killed" : "ended");
        BW_RUN_IN_PRIVATE_NETWORK(run, [&](Findings& f) {
            test::inChildCgroup(f, [&](const test::ChildCgroup& cgroup) {
                guardInChildProcessThenEnd(cgroup.path(), kill, f);
            });
        });
        if (!run.findings["skip"].empty())
            GTEST_SKIP() << run.findings["skip"];
        EXPECT_EQ(run.findings["started"], "y");
        EXPECT_EQ(run.findings.number("attachedWhileRunning"), 6);
        EXPECT_EQ(run.findings.number("attachedAfter"), 0);
    }
}

bool dropCapability(int capability) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    data[capability / 32].effective &= ~(1u << (capability % 32));
    return syscall(SYS_capset, &header, data) == 0;
}

TEST(KernelGuardInPrivateNetwork, WithoutTheCapabilitiesItSaysWhyAndAttachesNothing) {
    BW_RUN_IN_PRIVATE_NETWORK(run, [](Findings& f) {
        test::ChildCgroup cgroup;
        if (!cgroup.ok()) {
            f.set("skip", cgroup.problem());
            return;
        }
        bool dropped = dropCapability(CAP_BPF) && dropCapability(CAP_SYS_ADMIN);
        auto guard = makeInProcessKernelGuard();
        std::string whyNot;
        f.set("started", guard->start(whyNot) ? "yes" : "no");
        f.set("dropped", dropped ? "yes" : "no");
        f.set("why", whyNot);
        f.set("attached", test::attachedPrograms(cgroup.path()));
    });
    if (!run.findings["skip"].empty())
        GTEST_SKIP() << run.findings["skip"];
    EXPECT_EQ(run.findings["dropped"], "yes");
    EXPECT_EQ(run.findings["started"], "no");
    EXPECT_EQ(run.findings["why"],
              "kernel blocking needs the CAP_BPF and CAP_NET_ADMIN capabilities");
    EXPECT_EQ(run.findings.number("attached"), 0);
}

}  // namespace
}  // namespace bw
