// A build without the kernel guard: whichever way the program asks for one, it
// gets a guard that never starts and says plainly why, so the program's log
// says it polls because kernel blocking is not built in.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/kernel_guard.h"

namespace bw {
namespace {

TEST(KernelGuardNotBuilt, NeverStartsAndSaysItIsNotBuiltIn) {
    struct Case {
        const char* factory;
        std::function<std::unique_ptr<KernelGuard>()> make;
    } cases[] = {
        {"in this process", [] { return makeInProcessKernelGuard(); }},
        {"through the helper", [] { return makeHelperKernelGuard("/usr/bin/bastionwatch"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.factory);
        std::unique_ptr<KernelGuard> guard = c.make();
        std::string whyNot;
        EXPECT_FALSE(guard->start(whyNot));
        EXPECT_EQ(whyNot,
                  "kernel blocking is not built into this program (it was built with "
                  "BW_KERNEL_GUARD=OFF)");
        EXPECT_FALSE(guard->running());
        EXPECT_EQ(guard->refusalDescriptor(), -1);
        EXPECT_FALSE(guard->replaceTable({}));
        EXPECT_FALSE(guard->setBlocking(true));
        std::vector<KernelRefusal> refusals;
        EXPECT_EQ(guard->takeRefusals(refusals), 0u);
        EXPECT_TRUE(refusals.empty());
    }
}

}  // namespace
}  // namespace bw
