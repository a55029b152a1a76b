// A reload (what SIGHUP, an update and the start-up load do) while another
// thread keeps connecting to a banned address, with the real kernel guard in a
// private network and a child cgroup: not one connect may get through.

#include <errno.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/kernel_guard.h"
#include "support/child_cgroup.h"
#include "support/network_namespace.h"
#include "support/program_fixture.h"

namespace bw {
namespace {

using test::Findings;

TEST(ReloadUnderFlood, NoBannedConnectGetsThroughWhileTheListIsReadAgain) {
    BW_RUN_IN_PRIVATE_NETWORK(run, [](Findings& f) {
        test::inChildCgroup(f, [&](const test::ChildCgroup&) {
            test::FakeServices fakes;
            fakes.dir.write("Moatlist.P2P", "Flooded:127.0.0.5\r\nOther:127.0.0.9\r\n");
            auto guard = makeInProcessKernelGuard();
            ProgramServices services = fakes.services();
            services.kernelGuard = guard.get();
            test::RecordingHost host;
            Program program(host, services);
            // The window's event loop: the guard timer fires at every yield.
            host.onYield = [&] { program.guardTimerFired(); };
            program.load("");
            if (program.state().guardMode != GuardMode::Kernel)
                throw std::runtime_error("the kernel guard did not start: " + host.log);

            std::atomic<bool> flooding{true};
            std::atomic<long> through{0}, refused{0};
            std::thread flood([&] {
                while (flooding) {
                    if (test::udpConnectError("127.0.0.5") == 0)
                        ++through;
                    else
                        ++refused;
                }
            });
            for (int i = 0; i < 20; ++i) program.STARTUPLOAD("");
            flooding = false;
            flood.join();
            f.set("through", through.load());
            f.set("refused", refused.load());
        });
    });
    if (!run.findings["skip"].empty())
        GTEST_SKIP() << run.findings["skip"];
    EXPECT_EQ(run.findings.number("through"), 0);
    EXPECT_GT(run.findings.number("refused"), 0);
}

}  // namespace
}  // namespace bw
