#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "guard/list_table.h"
#include "maintenance/list_format.h"
#include "maintenance/list_subscriptions.h"
#include "platform/clock.h"
#include "platform/downloader.h"
#include "platform/lifelines.h"
#include "platform/slot_lock.h"

namespace bw {

// A moment as lists.json keeps it: whole seconds since 1970 (UTC).
std::int64_t unixSeconds(std::chrono::system_clock::time_point moment);
// "2026-12-09 10:00 UTC"; "never" for 0.
std::string formatUtc(std::int64_t seconds);

// The subscribed lists: their file, their cached copies and their updates.
//
// Cached copies load first and never wait for the network. An update replaces
// a list's cached copy only when the new copy passes the list gate; otherwise
// the last good copy stays in force and the list keeps the error.
class ListKeeper {
public:
    // The largest list taken, compressed or not.
    static constexpr std::uint64_t kMaxListBytes = 256u << 20;
    static constexpr std::chrono::hours kCheckEvery{1};
    // How often a running guard looks for changes made by another copy.
    static constexpr std::chrono::seconds kLookEvery{10};

    ListKeeper(Downloader& downloader, const Clock& clock, std::filesystem::path folder);
    ~ListKeeper();
    ListKeeper(const ListKeeper&) = delete;
    ListKeeper& operator=(const ListKeeper&) = delete;

    // Whether load() reads the cached copies: a list command that only shows or
    // changes the subscriptions needs none of them, and the figures they gave
    // are kept in the subscriptions file.
    enum class CachedCopies { Read, Skip };

    // Reads the subscriptions file and every cached copy, after removing what
    // interrupted saves and updates left behind. The built-in allow list is
    // written when there is no subscriptions file, and added back to one that
    // lacks it unless the user switched it off or removed it; a first start
    // (no blocklist either) does so without a report. Empty when all went well,
    // else why not (a damaged file is then never written over, and only the
    // built-in allow list is in force).
    std::string load(bool firstStart, CachedCopies copies = CachedCopies::Read);
    // The lists a guard started now would hold in force, read without changing
    // anything on disk or waiting on any lock: leftovers stay, and the built-in
    // allow list counts where a start would add it. Nothing can be saved after it.
    std::string loadToRead();
    // Where the named list's cached copy lives.
    std::filesystem::path cachedCopy(const std::string& name) const;

    const std::vector<Subscription>& subscriptions() const;
    // The table of every enabled list as loaded now.
    ListTable table() const;

    // Each saves the subscriptions file; empty when done, else why not.
    std::string add(Subscription list);
    std::string remove(const std::string& name);
    std::string setEnabled(const std::string& name, bool enabled);
    // Changes the source, mode, interval and switch of the named list; a new
    // source forgets the old one's validators.
    std::string edit(const std::string& name, const Subscription& changed);

    // Starts updating every due list, or every list with a source.
    void startUpdates(bool everyList);
    // Carries finished updates through; true when a list in force changed since
    // the last poll. Reading, parsing and gating a new copy, a local file's too,
    // run on a worker, so a slow or hostile source never stalls the caller.
    bool poll();
    bool updating() const;
    bool updating(const std::string& name) const;
    // The last update of the named list was left to another copy of the
    // program, which was updating it at that moment.
    bool skipped(const std::string& name) const;
    // Starts updating the named list now, due or not.
    void updateNow(const std::string& name);
    // Called often (from the guard's timer): picks up changes of the file made
    // elsewhere, checks for due lists at most once an hour, then polls.
    bool tick();
    // One line per finished update since the last call, for the log.
    std::vector<std::string> takeReports();
    // Why what updates left could not be saved since the last call; none when
    // every save went well. A caller that takes them reports them itself:
    // they leave the reports not yet taken.
    std::vector<std::string> takeSaveProblems();

    // The servers the lists' downloads reached while this program ran, one
    // each: lifelines, so that a list can always be updated again.
    const std::vector<Lifeline>& serverLifelines() const { return serverLifelines_; }

private:
    struct Entry;
    struct PreparedCopy;

    Entry* find(const std::string& name);
    std::filesystem::path cachePath(const Subscription& list) const;
    std::filesystem::path subscriptionsPath() const;
    std::filesystem::path lockPath() const;
    std::filesystem::path privateNetworksOffPath() const;
    void removeLeftovers();
    std::string keepPrivateNetworks(bool firstStart);
    void rememberPrivateNetworksChoice(const std::vector<Subscription>& lists);
    void adopt(std::vector<Subscription> lists);
    std::vector<Subscription> current() const;
    void saveAfterUpdate(Entry& entry);
    void saveUpdates();
    static bool busy(const Entry& entry);
    void loadCachedCopy(Entry& entry);
    bool due(const Subscription& list, std::chrono::system_clock::time_point now) const;
    void startUpdate(Entry& entry);
    void finishDownload(Entry& entry);
    void rememberServer(const std::string& address, std::string what);
    static PreparedCopy prepareCopy(std::filesystem::path from, std::string cannotRead,
                                    std::filesystem::path cache, bool mayBeWide);
    void finishCopy(Entry& entry);
    void takeCopy(Entry& entry, ParsedList parsed, std::chrono::system_clock::time_point now);
    void fail(Entry& entry, const std::string& why);
    std::string save();
    std::string save(SlotLock::Wait wait, bool& busy);
    void pickUpOutsideChanges();

    Downloader& downloader_;
    const Clock& clock_;
    std::filesystem::path folder_;
    std::vector<std::unique_ptr<Entry>> lists_;
    mutable std::vector<Subscription> view_;
    std::vector<std::string> reports_;
    std::vector<Lifeline> serverLifelines_;
    std::chrono::system_clock::time_point lastCheck_{};
    std::chrono::system_clock::time_point lastLook_{};
    // The lists as this copy last read or wrote the file: what its own changes
    // are measured against when it saves.
    std::vector<Subscription> known_;
    // Each with the report line that says it too.
    std::vector<std::pair<std::string, std::string>> saveProblems_;
    // Lists whose update's state waits for a save the file's lock held up.
    std::vector<std::string> unsaved_;
    CachedCopies copies_ = CachedCopies::Read;
    bool changed_ = false;
    bool damaged_ = false;
    bool readOnly_ = false;
};

}  // namespace bw
