// A build without the kernel guard: both factories give a guard that never
// starts and says so, and the program guards by polling with the truth in its
// log.

#include "platform/kernel_guard.h"

namespace bw {

namespace {

constexpr const char* kNotBuiltIn =
    "kernel blocking is not built into this program (it was built with BW_KERNEL_GUARD=OFF)";

class KernelGuardNotBuilt : public KernelGuard {
public:
    bool start(std::string& whyNot) override {
        whyNot = kNotBuiltIn;
        return false;
    }
    bool replaceTables(std::span<const AddressInterval>,
                       std::span<const Address6Interval>) override {
        return false;
    }
    bool setBlocking(bool) override { return false; }
    std::uint64_t takeRefusals(std::vector<KernelRefusal>&) override { return 0; }
    // As the guard that was never started: the system closes the connection.
    TeardownResult teardown(const TcpRow& row) override { return system_->teardown(row); }
    void stop() override {}
    int refusalDescriptor() const override { return -1; }
    bool running() const override { return false; }

private:
    std::unique_ptr<TcpTable> system_ = makeSystemTcpTable();
};

}  // namespace

std::unique_ptr<KernelGuard> makeInProcessKernelGuard() {
    return std::make_unique<KernelGuardNotBuilt>();
}

std::unique_ptr<KernelGuard> makeHelperKernelGuard(const std::filesystem::path&) {
    return std::make_unique<KernelGuardNotBuilt>();
}

}  // namespace bw
