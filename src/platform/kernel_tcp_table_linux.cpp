#include "platform/kernel_tcp_table.h"

namespace bw {

namespace {

class TcpTableClosingThrough : public TcpTable {
public:
    explicit TcpTableClosingThrough(KernelGuard& guard) : guard_(guard) {}
    std::vector<TcpRow> readConnections(bool sorted) override {
        return system_->readConnections(sorted);
    }
    TeardownResult teardown(const TcpRow& row) override {
        return guard_.running() ? guard_.teardown(row) : system_->teardown(row);
    }

private:
    KernelGuard& guard_;
    std::unique_ptr<TcpTable> system_ = makeSystemTcpTable();
};

}  // namespace

std::unique_ptr<TcpTable> makeTcpTableClosingThrough(KernelGuard& guard) {
    return std::make_unique<TcpTableClosingThrough>(guard);
}

}  // namespace bw
