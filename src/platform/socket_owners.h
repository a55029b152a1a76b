#pragma once

// Which program holds a socket: the processes' open descriptors name the
// socket's inode. A process of another user keeps its descriptors to itself
// unless this one may trace it, so the answer can be incomplete, and says so.

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>

namespace bw {

struct SocketOwner {
    std::uint32_t pid = 0;
    std::string command;  // as the kernel keeps it; empty once the process has ended
    friend bool operator==(const SocketOwner&, const SocketOwner&) = default;
};

struct SocketOwnerScan {
    // One owner per inode found; a socket several processes share names the first seen.
    std::map<std::uint64_t, SocketOwner> owners;
    // Some processes' descriptors could not be read (another user's, without
    // the right to trace it): an inode not found may belong to one of them.
    bool hiddenProcesses = false;
};

class SocketOwners {
public:
    virtual ~SocketOwners() = default;
    // The owners of these socket inodes, found in one look over the processes.
    virtual SocketOwnerScan find(std::span<const std::uint64_t> inodes) = 0;
};

// Looks through /proc.
std::unique_ptr<SocketOwners> makeLinuxSocketOwners();

}  // namespace bw
