#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/refusal_record.h"
#include "platform/socket_owners.h"
#include "platform/tcp_table.h"

namespace bw {

// Why the polling guard names no program for a connection it closed.
inline constexpr std::string_view kOwnerHidden = "not allowed to see other users' processes";
inline constexpr std::string_view kOwnerGone = "no program holds the connection any more";
inline constexpr std::string_view kOwnerNotLookedUp = "not looked up here";

// What the list of recent refusals records of a connection the polling guard
// closes: its program, found through the socket's inode, and its direction.
// The processes are looked through once per pass, before its first close, so
// a program that drops the connection as soon as it is closed is still named.
class CloseDetails {
public:
    explicit CloseDetails(SocketOwners* owners) : owners_(owners) {}

    // A pass over this snapshot begins; it must outlive the pass, which ends
    // with endPass().
    void beginPass(const std::vector<TcpRow>& snapshot);
    void endPass();

    // The record of the row's connection, closed for the entry (or entries).
    RefusalRecord of(const TcpRow& row, std::string entry);

private:
    void lookUpOwners();
    RefusedDirection directionOf(const TcpRow& row) const;

    SocketOwners* owners_;
    const std::vector<TcpRow>* snapshot_ = nullptr;
    std::optional<SocketOwnerScan> scan_;
};

}  // namespace bw
