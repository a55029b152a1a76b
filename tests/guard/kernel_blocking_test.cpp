// The kernel guard as the program drives it, with IPv6 beside IPv4: both
// tables handed over in one step, held together across a reload, and IPv6
// refusals reported in the lines IPv4 ones have.

#include "guard/kernel_blocking.h"

#include <gtest/gtest.h>

#include "support/fake_clock.h"
#include "support/fake_kernel_guard.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

Ipv6Number v6(const char* text) {
    return parseIpAddress(text)->v6();
}

const Address6Interval kDocumentation{v6("2001:db8::"), v6("2001:db8::ff")};

struct KernelBlockingTest : ::testing::Test {
    KernelBlockingTest() {
        blocking.start(true);
        blocking.syncTable();
    }

    void refused(const char* address, int times = 1) {
        for (int i = 0; i < times; ++i)
            kernel.queued.push_back(
                {*parseIpAddress(address), 443, 6, RefusalDirection::Outgoing, 42, "curl"});
    }

    // The own list bans 2001:db8::-2001:db8::ff.
    void banDocumentation() {
        table.append6({"Documentation:2001:db8::-2001:db8::ff", "Documentation",
                       kDocumentation.first, kDocumentation.last});
        blocking.tableChanged();
    }

    test::TempDir dir;
    test::RecordingHost host;
    test::FakeClock clock;
    test::FakeKernelGuard kernel;
    BanTable table;
    ListTable lists;
    ProgramState state;
    ConnectionLog log{host, clock, dir.file("connlog.txt")};
    KernelBlocking blocking{&kernel, table, lists, log, state, host, clock};
};

TEST_F(KernelBlockingTest, TheIpv6TableGoesWithTheIpv4OneAndAReloadHoldsBoth) {
    ASSERT_EQ(kernel.tables6.size(), 1u);
    EXPECT_TRUE(kernel.tables6.back().empty());

    blocking.holdTable();
    banDocumentation();
    EXPECT_FALSE(blocking.syncTable());
    EXPECT_EQ(kernel.tables6.size(), 1u) << "handed over during the hold";
    blocking.releaseTable();
    EXPECT_TRUE(blocking.syncTable());
    ASSERT_EQ(kernel.tables6.size(), 2u);
    EXPECT_EQ(kernel.tables6.back(), std::vector<Address6Interval>{kDocumentation});
    EXPECT_EQ(kernel.tables.size(), kernel.tables6.size()) << "one step for both";
    EXPECT_FALSE(blocking.syncTable()) << "nothing changed since";
}

TEST_F(KernelBlockingTest, AnIpv6TableTheKernelCannotTakeDetachesEverythingAndSaysWhy) {
    banDocumentation();
    kernel.refuseTables = true;
    EXPECT_FALSE(blocking.syncTable());
    EXPECT_FALSE(blocking.running());
    EXPECT_EQ(kernel.stops, 1);
    EXPECT_NE(host.log.find("Kernel blocking stopped (the kernel did not take the new table)"),
              std::string::npos)
        << host.log;
}

TEST_F(KernelBlockingTest, AnIpv6RefusalIsReportedWithItsTextOnceASecondAndAllCounted) {
    banDocumentation();
    refused("2001:db8::5", 50);
    refused("2001:db8::1:0");  // named by nothing: only counted
    blocking.reportRefusals();
    EXPECT_EQ(host.log,
              "Connection Rejected: 2001:db8::5 - Documentation (12-05-2026 @ 21:41:15)\r\n");
    EXPECT_EQ(dir.read("connlog.txt"),
              "12-05-2026, 21:41:15, 2001:db8::5\r\n"
              "Rejected: 2001:db8::5 - Documentation (12-05-2026 @ 21:41:15)\r\n");
    EXPECT_EQ(state.counters.blocked, 51u);

    // The limit is per address: the IPv4 address with the IPv6 one's low bits is another.
    clock.time.second = 16;
    refused("2001:db8::5");
    refused("0.0.0.5");
    blocking.reportRefusals();
    EXPECT_EQ(host.log,
              "Connection Rejected: 2001:db8::5 - Documentation (12-05-2026 @ 21:41:15)\r\n"
              "Connection Rejected: 2001:db8::5 - Documentation (12-05-2026 @ 21:41:16)\r\n");
    EXPECT_EQ(state.counters.blocked, 53u);
}

}  // namespace
}  // namespace bw
