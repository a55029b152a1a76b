// A build without the kernel guard: nothing loads cgroup programs, so the
// tests that need them skip and say why.

#include "support/child_cgroup.h"

namespace bw::test {

std::string kernelRefusesCgroupPrograms() {
    return "kernel blocking is not built into this build (BW_KERNEL_GUARD=OFF)";
}

long attachedPrograms(const std::filesystem::path&) {
    return -1;
}

}  // namespace bw::test
