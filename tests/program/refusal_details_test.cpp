// The program with the real kernel guard, in a private network and a child
// cgroup: a named program's refused connect lands in the recent refusals the
// window lists, with its name, pid, port, protocol and direction.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "guard/refusal_text.h"
#include "platform/kernel_guard.h"
#include "platform/lifelines.h"
#include "platform/socket_owners.h"
#include "program/program.h"
#include "support/child_cgroup.h"
#include "support/named_probe.h"
#include "support/program_fixture.h"

namespace bw {
namespace {

TEST(RefusalDetails, ARefusedProgramIsListedWithItsNamePidPortAndDirection) {
    BW_RUN_IN_PRIVATE_NETWORK(run, [](test::Findings& f) {
        test::inChildCgroup(f, [&](const test::ChildCgroup&) {
            test::FakeServices fakes;
            fakes.dir.write("Moatlist.P2P", "Local Test:127.0.0.5\r\n");
            auto kernel = makeInProcessKernelGuard();
            auto owners = makeLinuxSocketOwners();
            ProgramServices services = fakes.services();
            services.kernelGuard = kernel.get();
            services.socketOwners = owners.get();
            test::RecordingHost host;
            Program program(host, services);
            program.load("");
            f.set("mode", program.state().guardMode == GuardMode::Kernel ? "kernel" : "other");

            test::NamedProbe probe(fakes.dir.path(), "refusalprobe", "127.0.0.5", 8080);
            f.set("outcome", probe.outcome());
            f.set("pid", probe.pid());
            // The refusal comes through the kernel's ring buffer: a few ticks
            // (a hang guard, not a measure).
            for (int tick = 0; tick < 500 && program.state().recentRefusals.empty(); ++tick) {
                program.guardTimerFired();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            probe.finish();
            f.set("records", static_cast<long long>(program.state().recentRefusals.size()));
            if (program.state().recentRefusals.empty())
                return;
            const RefusalRecord& r = program.state().recentRefusals.front();
            f.set("row", r.time + " | " + ipAddressText(r.address) + " | " + r.entry + " | " +
                             programText(r) + " | " + std::to_string(r.port) + " | " +
                             protocolName(r.protocol) + " | " +
                             std::string(directionText(r.direction)) + " | " +
                             std::to_string(r.times));
            f.set("time", r.time);
            f.set("blocked", static_cast<long long>(program.state().counters.blocked));
        });
    });
    if (!run.findings["skip"].empty())
        GTEST_SKIP() << run.findings["skip"];
    const test::Findings& f = run.findings;
    ASSERT_EQ(f["mode"], "kernel");
    EXPECT_EQ(f["outcome"], "refused");
    ASSERT_EQ(f.number("records"), 1);
    EXPECT_EQ(f["row"], f["time"] + " | 127.0.0.5 | Local Test | refusalprobe (pid " + f["pid"] +
                            ") | 8080 | TCP | outgoing | 1");
    EXPECT_EQ(f.number("blocked"), 1);
}

}  // namespace
}  // namespace bw
