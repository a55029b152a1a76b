#include "guard/guard_pass.h"

#include <algorithm>
#include <optional>

#include "guard/net_stat.h"

namespace bw {

namespace {

bool spared(const ListTable& lists, const IpAddress& peer) {
    return lists.allows(peer) || lists.lifelineAt(peer);
}

}  // namespace

GuardPass::GuardPass(const BanTable& table, TcpTable& tcp, ConnectionLog& log, ProgramState& state,
                     Host& host)
    : table_(table), tcp_(tcp), log_(log), state_(state), host_(host) {}

void GuardPass::RefreshNS() {
    std::vector<TcpRow> snapshot = readConnections(tcp_, true);
    forgetGone(snapshot);
    details_.beginPass(snapshot);
    for (const TcpRow& row : snapshot) examine(row);
    details_.endPass();
    host_.letPendingEventsRun();
}

void GuardPass::examine(const TcpRow& row) {
    const IpAddress& peer = row.remoteAddress;
    if (isUnspecified(peer))
        return;
    const std::string address = ipToText(peer);
    if (state_.options.fullLog)
        log_.logFullStep(address);
    if (lists_ && spared(*lists_, peer))
        return;
    table_.findMatches(peer, hits_);
    if (!hits_.empty()) {
        if (state_.options.blocking)
            reject(row, address, hits_);
        return;
    }
    if (!lists_ || !state_.options.blocking)
        return;
    if (std::optional<ListHit> hit = lists_->findBlock(peer))
        rejectFromList(row, address, *hit);
}

void GuardPass::reportSparedLifelines() {
    if (!lists_)
        return;
    for (const Lifeline& lifeline : lists_->lifelines()) {
        if (sparedSaid_.contains(lifeline.address) || lists_->allows(lifeline.address))
            continue;
        std::string name;
        table_.findMatches(lifeline.address, hits_);
        if (!hits_.empty()) {
            name = table_.at(hits_.front()).name;
        } else if (std::optional<ListHit> hit = lists_->findBlock(lifeline.address)) {
            name = hit->entry + " [" + hit->listName + "]";
        } else {
            continue;
        }
        sparedSaid_.insert(lifeline.address);
        host_.appendLog("Lifeline " + ipAddressText(lifeline.address) + " (" + lifeline.what +
                        ") is never banned; the entry " + name + " would have.\r\n");
    }
}

// Named by the entry and, in brackets, the list it came from.
void GuardPass::rejectFromList(const TcpRow& row, const std::string& address, const ListHit& hit) {
    const std::string name = hit.entry + " [" + hit.listName + "]";
    std::optional<RefusalRecord> details = closeDetails(row, name);
    TeardownResult result = teardown(tcp_, row);
    if (result.gone)
        return;
    if (!result.closed) {
        reportRefusal(row, address, name, result.reason);
        return;
    }
    std::erase_if(refused_, [&](const TcpRow& r) { return sameConnection(r, row); });
    if (state_.options.fullLog)
        log_.logRejectFile(address, name);
    log_.logRejectView(address, name);
    ++state_.counters.blocked;
    host_.stateChanged();
    recordClose(details);
}

// The connection is closed once; every entry that holds its peer then reports
// and counts the rejection, in table order.
void GuardPass::reject(const TcpRow& row, const std::string& address,
                       const std::vector<EntryRef>& hits) {
    std::optional<RefusalRecord> details = closeDetails(row, entryNames(hits));
    TeardownResult result = teardown(tcp_, row);
    // Ended by itself since the snapshot (or listed twice by it): nothing was
    // closed and nothing stands in the way.
    if (result.gone)
        return;
    if (!result.closed) {
        reportRefusal(row, address, table_.at(hits.front()).name, result.reason);
        return;
    }
    std::erase_if(refused_, [&](const TcpRow& r) { return sameConnection(r, row); });
    for (EntryRef hit : hits) {
        const BanEntry& entry = table_.at(hit);
        if (state_.options.fullLog)
            log_.logRejectFile(address, entry.name);
        log_.logRejectView(address, entry.name);
        ++state_.counters.blocked;
        host_.stateChanged();
    }
    recordClose(details);
}

std::string GuardPass::entryNames(const std::vector<EntryRef>& hits) const {
    std::string names;
    for (EntryRef hit : hits) {
        if (!names.empty())
            names += ", ";
        names += table_.at(hit).name;
    }
    return names;
}

std::optional<RefusalRecord> GuardPass::closeDetails(const TcpRow& row, std::string entry) {
    if (!store_)
        return std::nullopt;
    return details_.of(row, std::move(entry));
}

void GuardPass::recordClose(std::optional<RefusalRecord>& details) {
    if (details)
        store_->record(std::move(*details), true);
}

// Said once per connection: later passes try again without repeating it.
void GuardPass::reportRefusal(const TcpRow& row, const std::string& address, std::string_view name,
                              const std::string& reason) {
    auto same = [&](const TcpRow& r) { return sameConnection(r, row); };
    if (std::any_of(refused_.begin(), refused_.end(), same))
        return;
    refused_.push_back(row);
    if (state_.options.fullLog)
        log_.logTeardownRefusedFile(address, name, reason);
    log_.logTeardownRefused(address, name, reason);
}

void GuardPass::forgetGone(const std::vector<TcpRow>& snapshot) {
    std::erase_if(refused_, [&](const TcpRow& gone) {
        return std::none_of(snapshot.begin(), snapshot.end(),
                            [&](const TcpRow& r) { return sameConnection(r, gone); });
    });
}

}  // namespace bw
