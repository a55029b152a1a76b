#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "base/host.h"
#include "base/program_state.h"
#include "blocklist/ban_table.h"
#include "guard/close_details.h"
#include "guard/connection_log.h"
#include "guard/list_table.h"
#include "guard/refusal_store.h"
#include "platform/socket_owners.h"
#include "platform/tcp_table.h"

namespace bw {

// One sweep over the machine's TCP connections: while blocking is on, every
// connection whose peer lies in a banned range is closed, reported and counted.
class GuardPass {
public:
    GuardPass(const BanTable& table, TcpTable& tcp, ConnectionLog& log, ProgramState& state,
              Host& host);

    void RefreshNS();

    // The subscribed lists beside the table (none by default). An address they
    // allow is never closed, whatever bans it; one they ban is closed like one
    // of the table's. The lists must outlive the pass or be replaced first.
    void useLists(const ListTable* lists) { lists_ = lists; }

    // Records every close, with the program that held the connection where
    // owners can tell (null: none is named). Both must outlive the pass.
    void useRefusals(RefusalStore* store, SocketOwners* owners) {
        store_ = store;
        details_ = CloseDetails(owners);
    }

    // Says in the log view, once per address while the program runs, which
    // lifeline of the lists' table an entry or a list would have banned.
    void reportSparedLifelines();

private:
    void examine(const TcpRow& row);
    void reject(const TcpRow& row, const std::string& address, const std::vector<EntryRef>& hits);
    void rejectFromList(const TcpRow& row, const std::string& address, const ListHit& hit);
    void reportRefusal(const TcpRow& row, const std::string& address, std::string_view name,
                       const std::string& reason);
    // Forgets refused connections that are no longer in the snapshot.
    void forgetGone(const std::vector<TcpRow>& snapshot);
    // What the store will record of the row's close; asked before the close,
    // while its program still holds the connection.
    std::optional<RefusalRecord> closeDetails(const TcpRow& row, std::string entry);
    void recordClose(std::optional<RefusalRecord>& details);
    // The entries that ban a peer, for one record: "A, B".
    std::string entryNames(const std::vector<EntryRef>& hits) const;

    const BanTable& table_;
    TcpTable& tcp_;
    ConnectionLog& log_;
    ProgramState& state_;
    Host& host_;
    const ListTable* lists_ = nullptr;
    RefusalStore* store_ = nullptr;
    CloseDetails details_{nullptr};
    std::vector<EntryRef> hits_;
    // Connections whose teardown the system refused and that were reported so.
    std::vector<TcpRow> refused_;
    // Lifelines whose would-be ban was already said.
    std::set<IpAddress> sparedSaid_;
};

}  // namespace bw
