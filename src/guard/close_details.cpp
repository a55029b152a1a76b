#include "guard/close_details.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>

#include "guard/net_stat.h"

namespace bw {

void CloseDetails::beginPass(const std::vector<TcpRow>& snapshot) {
    snapshot_ = &snapshot;
    scan_.reset();
}

void CloseDetails::endPass() {
    snapshot_ = nullptr;
    scan_.reset();
}

void CloseDetails::lookUpOwners() {
    std::vector<std::uint64_t> inodes;
    if (snapshot_) {
        for (const TcpRow& r : *snapshot_)
            if (r.inode != 0)
                inodes.push_back(r.inode);
    }
    scan_ = owners_->find(inodes);
}

// The table does not say who opened a connection: one on a port this machine
// listens on came in; any other went out.
RefusedDirection CloseDetails::directionOf(const TcpRow& row) const {
    if (row.state == kTcpSynReceived)
        return RefusedDirection::Incoming;
    if (!snapshot_)
        return RefusedDirection::Outgoing;
    // A listener on 0.0.0.0 or :: takes connections to every address (a
    // dual-stack one on :: its IPv4 ones too).
    const bool listened = std::any_of(snapshot_->begin(), snapshot_->end(), [&](const TcpRow& r) {
        return r.state == kTcpListen && r.localPort == row.localPort &&
               (isUnspecified(r.localAddress) || r.localAddress == row.localAddress);
    });
    return listened ? RefusedDirection::Incoming : RefusedDirection::Outgoing;
}

RefusalRecord CloseDetails::of(const TcpRow& row, std::string entry) {
    RefusalRecord r;
    r.address = row.remoteAddress;
    r.entry = std::move(entry);
    r.port = ntohs(static_cast<std::uint16_t>(row.remotePort));
    r.protocol = IPPROTO_TCP;
    r.direction = directionOf(row);
    if (!owners_) {
        r.programUnknown = kOwnerNotLookedUp;
        return r;
    }
    if (row.inode == 0) {
        r.programUnknown = kOwnerGone;
        return r;
    }
    if (!scan_)
        lookUpOwners();
    auto found = scan_->owners.find(row.inode);
    if (found == scan_->owners.end()) {
        r.programUnknown = scan_->hiddenProcesses ? kOwnerHidden : kOwnerGone;
        return r;
    }
    r.pid = found->second.pid;
    r.command = found->second.command;
    return r;
}

}  // namespace bw
