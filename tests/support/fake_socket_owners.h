#pragma once

#include <functional>
#include <vector>

#include "platform/socket_owners.h"

namespace bw::test {

// Socket owners as the test sets them: `owners` answers, `hidden` says some
// processes could not be looked into. Records every look it was asked for.
class FakeSocketOwners : public SocketOwners {
public:
    SocketOwnerScan find(std::span<const std::uint64_t> inodes) override {
        asked.emplace_back(inodes.begin(), inodes.end());
        if (onFind)
            onFind();
        SocketOwnerScan scan;
        scan.hiddenProcesses = hidden;
        for (std::uint64_t inode : inodes) {
            auto found = owners.find(inode);
            if (found != owners.end())
                scan.owners[inode] = found->second;
        }
        return scan;
    }

    std::map<std::uint64_t, SocketOwner> owners;
    bool hidden = false;
    std::vector<std::vector<std::uint64_t>> asked;  // the inodes of each look, in order
    std::function<void()> onFind;                   // runs at each look
};

}  // namespace bw::test
