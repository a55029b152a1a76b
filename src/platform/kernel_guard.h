#pragma once

// Refusing banned connections in the kernel, before a packet leaves: programs
// attached to a cgroup v2 folder look every connect(), unconnected datagram
// and incoming packet up in a table of banned intervals of its family. The guard owns the
// attachments; they end with it, and with its process, whatever way it ends.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/address_interval.h"
#include "platform/ip_address.h"
#include "platform/tcp_table.h"

namespace bw {

enum class RefusalDirection : std::uint8_t { Outgoing = 0, Incoming = 1 };

// One connection, datagram or packet the kernel refused.
struct KernelRefusal {
    IpAddress address;          // the peer
    std::uint16_t port = 0;     // the peer's port
    std::uint8_t protocol = 0;  // IPPROTO_TCP, IPPROTO_UDP, ...
    RefusalDirection direction = RefusalDirection::Outgoing;
    std::uint32_t pid = 0;  // the process that asked; 0 for packets coming in
    std::string command;    // its command name; empty for packets coming in
    friend bool operator==(const KernelRefusal&, const KernelRefusal&) = default;
};

class KernelGuard {
public:
    virtual ~KernelGuard() = default;

    // Loads and attaches the programs with an empty table and blocking on.
    // When the kernel guard cannot run here, returns false with the reason in
    // words for the log view, and nothing is attached.
    virtual bool start(std::string& whyNot) = 0;
    // Replaces both tables, IPv4 and IPv6, in one step (isKernelTable must
    // hold for each); a connect() of either family sees the old pair or the
    // new one, never a mix or neither. False leaves the old pair in force.
    virtual bool replaceTables(std::span<const AddressInterval> intervals,
                               std::span<const Address6Interval> intervals6) = 0;
    // The IPv4 table alone; the IPv6 table becomes empty.
    bool replaceTable(std::span<const AddressInterval> intervals) {
        return replaceTables(intervals, {});
    }
    // Off lets everything through at once; on refuses again.
    virtual bool setBlocking(bool on) = 0;
    // Appends the refusals reported since the last call, without waiting.
    // Returns how many more were refused than could be reported one by one.
    virtual std::uint64_t takeRefusals(std::vector<KernelRefusal>& out) = 0;
    // Closes a connection that was opened before its address was banned.
    virtual TeardownResult teardown(const TcpRow& row) = 0;
    // Detaches everything and ends the guard (its helper too); running() is
    // false afterwards, and start() may be called again.
    virtual void stop() = 0;
    // Becomes readable when refusals wait to be taken; -1 before start.
    virtual int refusalDescriptor() const = 0;
    // False before start and once the guard has ended (its helper gone).
    virtual bool running() const = 0;
};

// The guard in this process: needs CAP_BPF and CAP_NET_ADMIN.
std::unique_ptr<KernelGuard> makeInProcessKernelGuard();

// The guard in the bastionwatch-kernel helper, which holds the capabilities
// itself. The helper is looked for beside `executable`, then in the installed
// libexec folder.
std::unique_ptr<KernelGuard> makeHelperKernelGuard(const std::filesystem::path& executable);

}  // namespace bw
