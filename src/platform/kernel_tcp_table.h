#pragma once

#include <memory>

#include "platform/kernel_guard.h"
#include "platform/tcp_table.h"

namespace bw {

// The machine's TCP table, whose teardowns go through the guard while it runs
// (the helper holds the right to close connections), else to the system.
std::unique_ptr<TcpTable> makeTcpTableClosingThrough(KernelGuard& guard);

}  // namespace bw
