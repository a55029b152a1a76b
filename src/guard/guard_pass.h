#pragma once

#include <vector>

#include "base/host.h"
#include "base/program_state.h"
#include "blocklist/ban_table.h"
#include "guard/connection_log.h"
#include "platform/tcp_table.h"

namespace bw {

// One sweep over the machine's TCP connections: while blocking is on, every
// connection whose peer lies in a banned range is closed, reported and counted.
class GuardPass {
public:
    GuardPass(const BanTable& table, TcpTable& tcp, ConnectionLog& log, ProgramState& state,
              Host& host);

    void RefreshNS();

private:
    void examine(const TcpRow& row);
    void reject(const TcpRow& row, const std::string& address, const std::vector<EntryRef>& hits);
    void reportRefusal(const TcpRow& row, const std::string& address, const BanEntry& entry,
                       const std::string& reason);
    // Forgets refused connections that are no longer in the snapshot.
    void forgetGone(const std::vector<TcpRow>& snapshot);

    const BanTable& table_;
    TcpTable& tcp_;
    ConnectionLog& log_;
    ProgramState& state_;
    Host& host_;
    std::vector<EntryRef> hits_;
    // Connections whose teardown the system refused and that were reported so.
    std::vector<TcpRow> refused_;
};

}  // namespace bw
