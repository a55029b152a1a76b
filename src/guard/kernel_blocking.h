#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/host.h"
#include "base/program_state.h"
#include "blocklist/ban_table.h"
#include "guard/connection_log.h"
#include "guard/list_table.h"
#include "guard/refusal_store.h"
#include "guard/report_limit.h"
#include "platform/clock.h"
#include "platform/kernel_guard.h"

namespace bw {

// The guard in the kernel, as the program drives it: started once, fed the
// ban table whenever it changed, switched with "Block banned IPs.", and its
// refusals reported like the guard pass's rejections. Where it cannot run (or
// stops), it says why once, and the polling guard does the work instead.
class KernelBlocking {
public:
    // guard may be null: no kernel guard in this program.
    // The kernel's table is the ban table with the subscribed lists, minus what
    // they allow.
    KernelBlocking(KernelGuard* guard, const BanTable& table, const ListTable& lists,
                   ConnectionLog& log, ProgramState& state, Host& host, const Clock& clock);

    // Starts the kernel guard and remembers the log view line saying which
    // guard runs. canClose: whether the polling guard could close connections.
    void start(bool canClose);
    bool running() const { return running_; }
    // The line that start() chose, for the top of the log view.
    const std::string& startLine() const { return startLine_; }

    // The ban table changed: the kernel's table follows at the next sync.
    void tableChanged() { tableChanged_ = true; }
    // While a reload empties and refills the ban table, the kernel keeps the
    // tables it has (both families): it only ever takes a complete pair.
    void holdTable() { held_ = true; }
    void releaseTable() { held_ = false; }
    // Replaces the kernel's tables (both families, in one step) when the ban
    // table or the lists changed since; true when it did.
    bool syncTable();
    // After the guard ended (its helper gone), starts it again once the pause
    // since the last try has passed; true when it runs again, and then its
    // table wants a sync and the connections a sweep.
    bool restartIfDue();
    void setBlocking(bool on);
    // Reports the refusals waiting: each address at most once a second, the
    // rest only counted.
    void reportRefusals();
    // Keeps every refusal reported one by one, with its program, port and
    // direction (null: none are kept). The store must outlive this.
    void useRefusals(RefusalStore* store) { store_ = store; }

private:
    using Second = ReportLimit::Second;

    void stopped(const std::string& why, bool startAgain);
    void gaveUp(const std::string& why);
    void report(const KernelRefusal& refusal, const Second& now);
    // The names a refusal is reported under: each matching entry of the ban
    // table in table order, else the list that bans the address.
    std::vector<std::string> namesOf(const IpAddress& address);
    void keep(const KernelRefusal& refusal, const std::vector<std::string>& names, bool reported);

    KernelGuard* guard_;
    const BanTable& table_;
    const ListTable& lists_;
    ConnectionLog& log_;
    ProgramState& state_;
    Host& host_;
    const Clock& clock_;
    RefusalStore* store_ = nullptr;
    bool running_ = false;
    bool canClose_ = false;
    bool tableChanged_ = true;
    bool held_ = false;
    int failedStarts_ = 0;
    std::optional<std::chrono::steady_clock::time_point> nextStart_;
    std::string startLine_;
    std::vector<KernelRefusal> refusals_;
    std::vector<EntryRef> hits_;
    ReportLimit reportLimit_;
};

}  // namespace bw
