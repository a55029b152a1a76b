#include "maintenance/list_keeper.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <optional>
#include <system_error>
#include <utility>

#include "blocklist/public_space.h"
#include "maintenance/gzip_data.h"
#include "maintenance/list_format.h"
#include "platform/atomic_file.h"
#include "platform/slot_lock.h"
#include "platform/unique_file.h"
#include "platform/whole_file.h"

namespace bw {

namespace {

std::uint32_t fnv1a(std::string_view text) {
    std::uint32_t hash = 2166136261u;
    for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

// A file name for the list: its name's safe characters and a hash of the whole
// name, so two names never share a copy.
std::string cacheFileName(const std::string& name) {
    std::string safe;
    for (char c : name) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || c == '.';
        if (safe.size() < 40)
            safe += plain ? c : '_';
    }
    char tag[16];
    std::snprintf(tag, sizeof tag, "-%08x", fnv1a(name));
    return safe + tag + ".list";
}

// The lock file's slots: one for the subscriptions file, one per list (by its
// cached copy's name) for its update. Two lists sharing a slot would only wait
// for each other.
constexpr std::uint64_t kSubscriptionsSlot = 0;
constexpr std::uint64_t kListSlots = std::uint64_t{1} << 30;

// Written under the subscriptions file's slot, by saves alone.
constexpr std::string_view kPrivateNetworksOffName = "private-networks.off";

std::uint64_t listSlot(std::string_view cacheName) {
    return 1 + fnv1a(cacheName) % kListSlots;
}

// Whether a name is one cacheFileName gives.
bool isCacheFileName(std::string_view name) {
    constexpr std::string_view kEnd = ".list";
    constexpr std::size_t kTag = 9;  // "-" and eight hex digits
    if (!name.ends_with(kEnd))
        return false;
    name.remove_suffix(kEnd.size());
    if (name.size() <= kTag || name.size() > 40 + kTag || name[name.size() - kTag] != '-')
        return false;
    const std::string_view tag = name.substr(name.size() - kTag + 1);
    const std::string_view safe = name.substr(0, name.size() - kTag);
    return std::all_of(tag.begin(), tag.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }) &&
           std::all_of(safe.begin(), safe.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.';
           });
}

// Whether text ends in the ".XXXXXX" a unique or temporary file gets.
bool endsInUniqueTag(std::string_view text) {
    constexpr std::size_t kTag = 7;
    if (text.size() <= kTag || text[text.size() - kTag] != '.')
        return false;
    const std::string_view tag = text.substr(text.size() - kTag + 1);
    return std::all_of(tag.begin(), tag.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

// The cached copy a file left in lists/ belongs to: ".<copy>.XXXXXX" of a save,
// "<copy>.XXXXXX.part" of a download and "<copy>.part" of an earlier version's
// download; empty for any other file, which is the user's and stays.
std::string copyOfLeftover(std::string_view name) {
    std::string_view copy;
    if (name.starts_with('.') && endsInUniqueTag(name)) {
        copy = name.substr(1, name.size() - 8);
    } else if (name.ends_with(".part")) {
        copy = name.substr(0, name.size() - 5);
        if (!isCacheFileName(copy) && endsInUniqueTag(copy))
            copy.remove_suffix(7);
    }
    return isCacheFileName(copy) ? std::string(copy) : std::string();
}

// Validators that cannot go back to the server as they are, or be stored, are
// dropped: the next request is then simply unconditional.
std::string storableValidator(const std::string& value) {
    return isPlainText(value) ? value : std::string();
}

bool isBuiltIn(const Subscription& list) {
    return list.name == kPrivateNetworksName && list.source.empty();
}

std::string ageOf(std::int64_t lastUpdate) {
    return lastUpdate == 0 ? std::string("no good copy yet")
                           : "the copy of " + formatUtc(lastUpdate) + " stays in force";
}

}  // namespace

std::int64_t unixSeconds(std::chrono::system_clock::time_point moment) {
    return std::chrono::floor<std::chrono::seconds>(moment.time_since_epoch()).count();
}

std::string formatUtc(std::int64_t seconds) {
    if (seconds == 0)
        return "never";
    using namespace std::chrono;
    const sys_seconds moment{std::chrono::seconds{seconds}};
    const sys_days day = floor<days>(moment);
    const year_month_day date{day};
    const hh_mm_ss<std::chrono::seconds> time{moment - day};
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02lld:%02lld UTC",
                  static_cast<int>(date.year()), unsigned{date.month()}, unsigned{date.day()},
                  static_cast<long long>(time.hours().count()),
                  static_cast<long long>(time.minutes().count()));
    return text;
}

// A new copy of a list as a worker left it: read, decompressed, parsed, gated
// and, when taken, written over the cached copy.
struct ListKeeper::PreparedCopy {
    std::string error;  // why it was not taken; empty when it was
    ParsedList parsed;
    std::uint64_t publicAddresses = 0;  // of the public unicast space, each once
};

namespace {

// An allow list bans nothing, so its width never matters.
bool mayBeWide(const Subscription& list) {
    return list.wide || list.mode == ListMode::Allow;
}

}  // namespace

struct ListKeeper::Entry {
    Subscription list;
    std::shared_ptr<const ListRanges> ranges;
    std::unique_ptr<Download> download;
    std::filesystem::path partial;  // where the download under way goes; empty for a local file
    SlotLock updating;              // held by this copy while it updates the list
    // What loading the cached copy found. Shown over the recorded figures but
    // never part of the list: a save would take it for a change made here and
    // write it over a newer update of another copy's.
    std::optional<std::size_t> copyRanges;
    std::optional<std::size_t> copyRanges6;
    std::string copyProblem;
    bool skipped = false;  // the last update was left to another copy
    // The new copy in the works, off the guard's thread, and what its download said.
    std::future<PreparedCopy> preparing{};
    DownloadResult downloaded{};

    explicit Entry(Subscription s) : list(std::move(s)) {}
    ~Entry() {
        // A list dropped in the middle of its update: the transfer stops first,
        // and a worker preparing its copy ends before its file goes.
        download.reset();
        if (preparing.valid())
            preparing.wait();
        std::error_code ignored;
        if (!partial.empty())
            std::filesystem::remove(partial, ignored);
    }
};

namespace {

// The most a list may be, read: a pipe, device or folder is refused without
// waiting on it, and a file past the limit without reading it.
FileBytes readListFile(const std::filesystem::path& file) {
    FileBytes bytes = readRegularFile(file, ListKeeper::kMaxListBytes);
    if (bytes.notRegular)
        bytes.error = "not a regular file (a pipe, device or folder cannot be a list)";
    return bytes;
}

}  // namespace

// Runs on a worker: the guard's thread never waits on a source, nor on the
// reading of a large list.
ListKeeper::PreparedCopy ListKeeper::prepareCopy(std::filesystem::path from, std::string cannotRead,
                                                 std::filesystem::path cache, bool mayBeWide) {
    FileBytes bytes = readListFile(from);
    if (!bytes.ok)
        return {cannotRead + ": " + bytes.error, {}};
    Gunzipped unpacked;
    std::string_view text = bytes.bytes;
    if (isGzip(text)) {
        unpacked = gunzip(text, kMaxListBytes);
        if (!unpacked.ok)
            return {unpacked.error, {}};
        text = unpacked.bytes;
    }
    ParsedList parsed = parseList(text);
    unpacked = {};
    if (std::string refusal = listRefusal(parsed); !refusal.empty())
        return {"refused: " + refusal, {}};
    std::vector<AddressSpan> spans;
    spans.reserve(parsed.ranges.size());
    for (const ListRange& r : parsed.ranges) spans.push_back({r.first, r.last});
    const std::uint64_t publicAddresses = publicUnicastAddresses(std::move(spans));
    // One typo ("/0" for "/32") or a hostile server must not close the
    // Internet: a list that is meant to be that wide says so when it is added.
    if (!mayBeWide && publicAddresses * 2 > kPublicUnicastAddresses) {
        return {"refused: it would ban " + publicShareText(publicAddresses) +
                    "; add it with --wide if it is meant to",
                {}};
    }
    WriteResult written = writeFileAtomically(cache, bytes.bytes);
    if (!written)
        return {written.error, {}};
    return {{}, std::move(parsed), publicAddresses};
}

ListKeeper::ListKeeper(Downloader& downloader, const Clock& clock, std::filesystem::path folder)
    : downloader_(downloader), clock_(clock), folder_(std::move(folder)) {}

ListKeeper::~ListKeeper() = default;

std::filesystem::path ListKeeper::subscriptionsPath() const {
    return folder_ / kSubscriptionsFileName;
}

std::filesystem::path ListKeeper::lockPath() const {
    std::filesystem::path lock = subscriptionsPath();
    lock += ".lock";
    return lock;
}

// The user's "off" for the built-in allow list, kept apart from the
// subscriptions file so that it holds when that file is damaged or gone.
std::filesystem::path ListKeeper::privateNetworksOffPath() const {
    return folder_ / kListCacheFolderName / kPrivateNetworksOffName;
}

std::filesystem::path ListKeeper::cachePath(const Subscription& list) const {
    return folder_ / kListCacheFolderName / cacheFileName(list.name);
}

std::string ListKeeper::load(bool firstStart, CachedCopies copies) {
    copies_ = copies;
    lists_.clear();
    known_.clear();
    damaged_ = false;
    removeLeftovers();
    SubscriptionsFile file;
    {
        // A choice about the built-in list made in the file by hand is kept
        // too, but only under the file's slot: a save by another copy records
        // its own choice, and must not be undone by what was read before it.
        SlotLock::Result held =
            SlotLock::lock(lockPath(), kSubscriptionsSlot, 1, SlotLock::Wait::No);
        file = readSubscriptions(subscriptionsPath());
        const bool builtInThere =
            std::any_of(file.lists.begin(), file.lists.end(),
                        [](const Subscription& s) { return s.name == kPrivateNetworksName; });
        if (held.lock && builtInThere)
            rememberPrivateNetworksChoice(file.lists);
    }
    if (!file.ok) {
        damaged_ = true;
        std::string why = file.error + "; the lists stay off until it is mended in a text editor";
        std::error_code ec;
        if (!std::filesystem::exists(privateNetworksOffPath(), ec)) {
            lists_.push_back(std::make_unique<Entry>(privateNetworksList()));
            loadCachedCopy(*lists_.back());
            why += " (the built-in allow list of private networks stays in force)";
        }
        return why;
    }
    known_ = file.lists;
    for (Subscription& list : file.lists) {
        lists_.push_back(std::make_unique<Entry>(std::move(list)));
        loadCachedCopy(*lists_.back());
    }
    return keepPrivateNetworks(firstStart && file.absent);
}

std::string ListKeeper::loadToRead() {
    copies_ = CachedCopies::Read;
    lists_.clear();
    known_.clear();
    readOnly_ = true;
    SubscriptionsFile file = readSubscriptions(subscriptionsPath());
    for (Subscription& list : file.lists) {
        lists_.push_back(std::make_unique<Entry>(std::move(list)));
        loadCachedCopy(*lists_.back());
    }
    std::error_code ec;
    if (!find(std::string(kPrivateNetworksName)) &&
        !std::filesystem::exists(privateNetworksOffPath(), ec)) {
        lists_.push_back(std::make_unique<Entry>(privateNetworksList()));
        loadCachedCopy(*lists_.back());
    }
    return file.ok ? std::string()
                   : file.error + "; only the built-in allow list would be in force";
}

std::filesystem::path ListKeeper::cachedCopy(const std::string& name) const {
    Subscription named;
    named.name = name;
    return cachePath(named);
}

// Leftovers of saves and downloads that were killed. A file another copy is
// writing right now is under that copy's lock, and stays.
void ListKeeper::removeLeftovers() {
    std::error_code ec;
    // A save under way holds the slot; its temporary file is no leftover.
    if (SlotLock::Result held =
            SlotLock::lock(lockPath(), kSubscriptionsSlot, 1, SlotLock::Wait::No);
        held.lock) {
        removeStaleTemporaryFiles(folder_, kSubscriptionsFileName);
        removeStaleTemporaryFiles(folder_ / kListCacheFolderName, kPrivateNetworksOffName);
    }
    std::vector<std::pair<std::filesystem::path, std::string>> leftovers;
    for (const auto& item :
         std::filesystem::directory_iterator(folder_ / kListCacheFolderName, ec)) {
        std::string copy = copyOfLeftover(item.path().filename().string());
        if (!copy.empty() && item.is_regular_file(ec))
            leftovers.emplace_back(item.path(), std::move(copy));
    }
    for (const auto& [leftover, copy] : leftovers) {
        // A live update holds its list's slot while it writes.
        if (SlotLock::lock(lockPath(), listSlot(copy), 1, SlotLock::Wait::No).lock)
            std::filesystem::remove(leftover, ec);
    }
}

// The built-in allow list is there unless the user switched it off or removed
// it; a subscriptions file without it, from before it existed, gets it back.
std::string ListKeeper::keepPrivateNetworks(bool firstStart) {
    std::error_code ec;
    if (find(std::string(kPrivateNetworksName)) ||
        std::filesystem::exists(privateNetworksOffPath(), ec)) {
        return {};
    }
    Subscription builtIn = privateNetworksList();
    builtIn.lastUpdate = unixSeconds(clock_.utcNow());
    std::filesystem::create_directories(folder_ / kListCacheFolderName, ec);
    {
        const std::filesystem::path copy = cachePath(builtIn);
        SlotLock::Result held = SlotLock::lock(lockPath(), listSlot(copy.filename().string()), 1,
                                               SlotLock::Wait::UntilFree);
        WriteResult written = writeFileAtomically(copy, privateNetworksText());
        if (!written)
            return written.error;
    }
    lists_.push_back(std::make_unique<Entry>(builtIn));
    loadCachedCopy(*lists_.back());
    changed_ = true;
    if (!firstStart) {
        reports_.push_back(
            "Lists: the built-in allow list \"Private networks\" was added (private and "
            "link-local networks are never refused); --disable-list switches it off.");
    }
    return save();
}

void ListKeeper::rememberPrivateNetworksChoice(const std::vector<Subscription>& lists) {
    const auto builtIn = std::find_if(lists.begin(), lists.end(), [](const Subscription& s) {
        return s.name == kPrivateNetworksName;
    });
    std::error_code ec;
    if (builtIn != lists.end() && builtIn->enabled) {
        std::filesystem::remove(privateNetworksOffPath(), ec);
    } else if (!std::filesystem::exists(privateNetworksOffPath(), ec)) {
        std::filesystem::create_directories(folder_ / kListCacheFolderName, ec);
        writeFileAtomically(privateNetworksOffPath(), "");
    }
}

// A copy that no longer reads (damaged on disk) leaves the list empty and says so.
void ListKeeper::loadCachedCopy(Entry& entry) {
    entry.copyRanges.reset();
    entry.copyRanges6.reset();
    entry.copyProblem.clear();
    if (copies_ == CachedCopies::Skip)
        return;
    auto ranges = std::make_shared<ListRanges>();
    ranges->listName = entry.list.name;
    ranges->allow = entry.list.mode == ListMode::Allow;
    FileBytes bytes = readListFile(cachePath(entry.list));
    // The built-in list needs no copy on disk to be in force.
    if (!bytes.ok && isBuiltIn(entry.list)) {
        bytes.ok = true;
        bytes.bytes = privateNetworksText();
    }
    // A built-in copy written before IPv6 was guarded, untouched since, reads as
    // today's, so that upgraded installs allow the IPv6 private networks too; a
    // copy the user changed is theirs and reads as it is.
    if (bytes.ok && isBuiltIn(entry.list) && bytes.bytes == privateNetworksIpv4OnlyText())
        bytes.bytes = privateNetworksText();
    if (bytes.ok) {
        Gunzipped text = listText(std::move(bytes.bytes), kMaxListBytes);
        ParsedList parsed = text.ok ? parseList(text.bytes) : ParsedList{};
        if (!text.ok) {
            entry.copyProblem = "the cached copy does not read: " + text.error;
        } else if (!parsed.overLimit.empty()) {
            entry.copyProblem = "the cached copy is not loaded: " + parsed.overLimit;
        } else {
            ranges->ranges = std::move(parsed.ranges);
            ranges->ranges6 = std::move(parsed.ranges6);
            entry.copyRanges = ranges->ranges.size();
            entry.copyRanges6 = ranges->ranges6.size();
        }
    } else if (bytes.notRegular || bytes.tooLarge) {
        entry.copyProblem = "the cached copy is not loaded: " + bytes.error;
    }
    entry.ranges = std::move(ranges);
}

const std::vector<Subscription>& ListKeeper::subscriptions() const {
    view_.clear();
    for (const auto& entry : lists_) {
        Subscription shown = entry->list;
        if (entry->copyRanges)
            shown.ranges = *entry->copyRanges;
        if (entry->copyRanges6)
            shown.ranges6 = *entry->copyRanges6;
        if (!entry->copyProblem.empty())
            shown.lastError = entry->copyProblem;
        view_.push_back(std::move(shown));
    }
    return view_;
}

std::vector<Subscription> ListKeeper::current() const {
    std::vector<Subscription> lists;
    for (const auto& entry : lists_) lists.push_back(entry->list);
    return lists;
}

ListTable ListKeeper::table() const {
    std::vector<std::shared_ptr<const ListRanges>> enabled;
    for (const auto& entry : lists_) {
        if (entry->list.enabled && entry->ranges)
            enabled.push_back(entry->ranges);
    }
    return ListTable(std::move(enabled));
}

ListKeeper::Entry* ListKeeper::find(const std::string& name) {
    for (auto& entry : lists_) {
        if (entry->list.name == name)
            return entry.get();
    }
    return nullptr;
}

std::string ListKeeper::add(Subscription list) {
    if (std::string problem = nameProblem(list.name); !problem.empty())
        return problem;
    if (std::string problem = sourceProblem(list.source); !problem.empty())
        return problem;
    if (list.intervalHours < 1)
        return "the update interval is at least one hour";
    if (find(list.name))
        return "there is already a list named " + list.name;
    lists_.push_back(std::make_unique<Entry>(std::move(list)));
    loadCachedCopy(*lists_.back());
    changed_ = true;
    return save();
}

std::string ListKeeper::remove(const std::string& name) {
    Entry* entry = find(name);
    if (!entry)
        return "there is no list named " + name;
    std::filesystem::path copy = cachePath(entry->list);
    std::erase_if(lists_, [&](const auto& e) { return e.get() == entry; });
    changed_ = true;
    std::string saved = save();
    if (saved.empty()) {
        std::error_code ignored;
        std::filesystem::remove(copy, ignored);
    }
    return saved;
}

std::string ListKeeper::setEnabled(const std::string& name, bool enabled) {
    Entry* entry = find(name);
    if (!entry)
        return "there is no list named " + name;
    entry->list.enabled = enabled;
    changed_ = true;
    return save();
}

std::string ListKeeper::edit(const std::string& name, const Subscription& changed) {
    Entry* entry = find(name);
    if (!entry)
        return "there is no list named " + name;
    if (std::string problem = sourceProblem(changed.source);
        !problem.empty() && !(changed.source.empty() && entry->list.source.empty())) {
        return problem;
    }
    if (changed.intervalHours < 1)
        return "the update interval is at least one hour";
    Subscription& list = entry->list;
    if (changed.source != list.source) {
        list.etag.clear();
        list.lastModified.clear();
        list.lastUpdate = 0;
    }
    list.source = changed.source;
    list.intervalHours = changed.intervalHours;
    list.enabled = changed.enabled;
    list.wide = changed.wide;
    if (changed.mode != list.mode) {
        list.mode = changed.mode;
        loadCachedCopy(*entry);
    }
    changed_ = true;
    return save();
}

// One writer at a time, and each writes the file as it is now with this copy's
// own changes applied, never an older state of it: another copy's edits made
// meanwhile (the console's list commands while the guard downloads) stay.
std::string ListKeeper::save() {
    bool busy = false;
    return save(SlotLock::Wait::UntilFree, busy);
}

std::string ListKeeper::save(SlotLock::Wait wait, bool& busy) {
    const std::filesystem::path path = subscriptionsPath();
    if (readOnly_)
        return "the lists were read only to look at them; " + path.string() + " is left as it is";
    if (damaged_)
        return "the subscriptions file " + path.string() + " is damaged and is left as it is";
    SlotLock::Result held = SlotLock::lock(lockPath(), kSubscriptionsSlot, 1, wait);
    busy = held.busy;
    if (busy)
        return {};
    if (!held.lock)
        return "cannot save " + path.string() + ": " + held.error;
    SubscriptionsFile file = readSubscriptions(path);
    if (!file.ok)
        return file.error + "; it is left as it is";
    std::vector<Subscription> merged =
        mergeSubscriptions(known_, current(), file.absent ? known_ : file.lists);
    WriteResult saved = saveSubscriptions(path, merged);
    if (!saved)
        return saved.error;
    known_ = merged;
    rememberPrivateNetworksChoice(merged);
    adopt(std::move(merged));
    // Every update's state is in the file now: their lists are free again.
    unsaved_.clear();
    for (const auto& entry : lists_) {
        if (!entry->download && !entry->preparing.valid())
            entry->updating = {};
    }
    return {};
}

// The lists as the file now has them: a list added elsewhere comes in with its
// cached copy, one removed elsewhere goes (its download stops), and a copy
// another process replaced is read again. A list this copy is updating keeps
// its download.
void ListKeeper::adopt(std::vector<Subscription> lists) {
    std::vector<std::unique_ptr<Entry>> next;
    for (Subscription& list : lists) {
        auto at = std::find_if(lists_.begin(), lists_.end(),
                               [&](const auto& e) { return e->list.name == list.name; });
        if (at == lists_.end()) {
            next.push_back(std::make_unique<Entry>(std::move(list)));
            loadCachedCopy(*next.back());
            changed_ = true;
            continue;
        }
        std::unique_ptr<Entry> entry = std::move(*at);
        lists_.erase(at);
        const Subscription& was = entry->list;
        const bool copyChanged = was.source != list.source || was.mode != list.mode ||
                                 was.lastUpdate != list.lastUpdate || was.ranges != list.ranges ||
                                 was.failedLines != list.failedLines;
        if (copyChanged || was.enabled != list.enabled)
            changed_ = true;
        entry->list = std::move(list);
        if (copyChanged && !entry->download && !entry->preparing.valid())
            loadCachedCopy(*entry);
        next.push_back(std::move(entry));
    }
    if (!lists_.empty())
        changed_ = true;
    lists_ = std::move(next);
}

// Another copy of the program (the console's list commands, a timer's
// --update-lists) changed the file: its changes are taken in, this copy's own
// unsaved ones kept, also while this copy's updates run.
void ListKeeper::pickUpOutsideChanges() {
    SubscriptionsFile file = readSubscriptions(subscriptionsPath());
    if (!file.ok || file.absent || (!damaged_ && file.lists == known_))
        return;
    std::string problem;
    if (damaged_) {
        problem = load(false, copies_);
    } else {
        std::vector<Subscription> merged = mergeSubscriptions(known_, current(), file.lists);
        known_ = std::move(file.lists);
        adopt(std::move(merged));
    }
    changed_ = true;
    reports_.push_back(problem.empty() ? "Lists: the subscriptions file changed; lists reloaded."
                                       : "Lists: " + problem + ".");
}

// In whole seconds, where no time or interval read from the file can overflow.
bool ListKeeper::due(const Subscription& list, std::chrono::system_clock::time_point now) const {
    using namespace std::chrono;
    const sys_seconds lastUpdate{seconds{list.lastUpdate}};
    return list.enabled && !list.source.empty() &&
           lastUpdate + hours{list.intervalHours} <= floor<seconds>(now);
}

void ListKeeper::startUpdates(bool everyList) {
    const auto now = clock_.utcNow();
    lastCheck_ = now;
    // By name: an update that saves may take in another copy's changes.
    std::vector<std::string> names;
    for (const auto& entry : lists_) {
        if (!busy(*entry) && !entry->list.source.empty() && (everyList || due(entry->list, now))) {
            names.push_back(entry->list.name);
        }
    }
    for (const std::string& name : names) {
        if (Entry* entry = find(name); entry && !busy(*entry))
            startUpdate(*entry);
    }
}

void ListKeeper::startUpdate(Entry& entry) {
    std::error_code ignored;
    std::filesystem::create_directories(folder_ / kListCacheFolderName, ignored);
    // Never two updates of one list at once, in this process or another.
    SlotLock::Result held = SlotLock::lock(
        lockPath(), listSlot(cachePath(entry.list).filename().string()), 1, SlotLock::Wait::No);
    entry.skipped = held.busy;
    if (held.busy) {
        reports_.push_back("List " + entry.list.name +
                           ": another copy of Bastionwatch is updating it right now; this update "
                           "is left to that one.");
        return;
    }
    entry.list.lastAttempt = unixSeconds(clock_.utcNow());
    if (!held.lock) {
        fail(entry, held.error);
        saveAfterUpdate(entry);
        return;
    }
    if (!isWebSource(entry.list.source)) {
        entry.partial.clear();
        // Held while the worker prepares the copy, until its state is saved.
        entry.updating = std::move(held.lock);
        entry.preparing = std::async(
            std::launch::async, &ListKeeper::prepareCopy, localSourcePath(entry.list.source),
            "cannot read " + entry.list.source, cachePath(entry.list), mayBeWide(entry.list));
        return;
    }
    // Validators only make sense while the copy they belong to is at hand.
    const bool haveCopy = std::filesystem::exists(cachePath(entry.list), ignored);
    // A file of its own, so that no other download ever writes into this one's.
    UniqueFile partial = createUniqueFile(cachePath(entry.list), ".part");
    if (partial.path.empty()) {
        fail(entry, partial.error);
        saveAfterUpdate(entry);
        return;
    }
    entry.partial = partial.path;
    entry.updating = std::move(held.lock);
    entry.download =
        downloader_.start({.url = entry.list.source,
                           .target = entry.partial,
                           .ifNoneMatch = haveCopy ? entry.list.etag : std::string(),
                           .ifModifiedSince = haveCopy ? entry.list.lastModified : std::string(),
                           .maxBytes = kMaxListBytes});
}

bool ListKeeper::poll() {
    if (!unsaved_.empty())
        saveUpdates();
    // One at a time, looked up again each time: a finished update saves, and
    // saving may take in another copy's changes.
    for (;;) {
        auto done = std::find_if(lists_.begin(), lists_.end(), [](const auto& entry) {
            return (entry->download && entry->download->finished()) ||
                   (entry->preparing.valid() && entry->preparing.wait_for(std::chrono::seconds(
                                                    0)) == std::future_status::ready);
        });
        if (done == lists_.end())
            break;
        if ((*done)->download)
            finishDownload(**done);
        else
            finishCopy(**done);
    }
    return std::exchange(changed_, false);
}

bool ListKeeper::updating() const {
    return !unsaved_.empty() || std::any_of(lists_.begin(), lists_.end(),
                                            [](const auto& entry) { return busy(*entry); });
}

bool ListKeeper::updating(const std::string& name) const {
    return std::any_of(lists_.begin(), lists_.end(),
                       [&](const auto& entry) { return entry->list.name == name && busy(*entry); });
}

// Downloading, preparing its copy, or waiting for its state to be saved.
bool ListKeeper::busy(const Entry& entry) {
    return entry.download != nullptr || entry.preparing.valid() || entry.updating.held();
}

void ListKeeper::updateNow(const std::string& name) {
    Entry* entry = find(name);
    if (entry && !busy(*entry) && !entry->list.source.empty())
        startUpdate(*entry);
}

bool ListKeeper::tick() {
    const auto now = clock_.utcNow();
    if (now - lastLook_ >= kLookEvery) {
        lastLook_ = now;
        pickUpOutsideChanges();
    }
    if (now - lastCheck_ >= kCheckEvery)
        startUpdates(false);
    return poll();
}

std::vector<std::string> ListKeeper::takeReports() {
    return std::exchange(reports_, {});
}

std::vector<std::string> ListKeeper::takeSaveProblems() {
    std::vector<std::string> problems;
    for (auto& [problem, report] : std::exchange(saveProblems_, {})) {
        problems.push_back(std::move(problem));
        if (auto at = std::find(reports_.begin(), reports_.end(), report); at != reports_.end())
            reports_.erase(at);
    }
    return problems;
}

bool ListKeeper::skipped(const std::string& name) const {
    return std::any_of(lists_.begin(), lists_.end(), [&](const auto& entry) {
        return entry->list.name == name && entry->skipped;
    });
}

// What an update left is saved; when that fails, the user hears of it. The
// entry may be gone afterwards (removed by another copy meanwhile).
void ListKeeper::saveAfterUpdate(Entry& entry) {
    if (std::find(unsaved_.begin(), unsaved_.end(), entry.list.name) == unsaved_.end())
        unsaved_.push_back(entry.list.name);
    saveUpdates();
}

// Runs on the guard's thread, which never waits on a lock another process
// holds (a list command stopped in the middle of its save, say): a save that
// finds the file busy is tried again at the next poll. Each list keeps its
// own slot until then, so no other copy updates it in between.
void ListKeeper::saveUpdates() {
    bool busy = false;
    const std::string problem = save(SlotLock::Wait::No, busy);
    if (busy || problem.empty())
        return;
    for (const std::string& name : std::exchange(unsaved_, {})) {
        std::string report = "List " + name + ": its state could not be saved (" + problem + ").";
        reports_.push_back(report);
        saveProblems_.push_back(
            {"the state of the list " + name + " could not be saved: " + problem, report});
    }
    for (const auto& entry : lists_) {
        if (!entry->download && !entry->preparing.valid())
            entry->updating = {};
    }
}

void ListKeeper::rememberServer(const std::string& address, std::string what) {
    std::optional<IpAddress> ip = parseIpAddress(address);
    if (!ip || std::any_of(serverLifelines_.begin(), serverLifelines_.end(),
                           [&](const Lifeline& l) { return l.address == *ip; }))
        return;
    serverLifelines_.push_back({*ip, std::move(what)});
}

void ListKeeper::finishDownload(Entry& entry) {
    DownloadResult result = entry.download->result();
    entry.download.reset();
    rememberServer(result.serverAddress, "server of the list " + entry.list.name);
    // The list's slot stays held until its state is saved.
    if (!result.ok) {
        fail(entry, result.error);
    } else if (result.notModified) {
        entry.list.lastUpdate = unixSeconds(clock_.utcNow());
        entry.list.lastError.clear();
        entry.copyProblem.clear();
        reports_.push_back("List " + entry.list.name + ": unchanged since the last update.");
    } else {
        entry.downloaded = std::move(result);
        entry.preparing = std::async(std::launch::async, &ListKeeper::prepareCopy, entry.partial,
                                     std::string("cannot read the download"), cachePath(entry.list),
                                     mayBeWide(entry.list));
        return;
    }
    std::error_code ignored;
    std::filesystem::remove(entry.partial, ignored);
    entry.partial.clear();
    saveAfterUpdate(entry);
}

void ListKeeper::finishCopy(Entry& entry) {
    PreparedCopy copy = entry.preparing.get();
    if (!copy.error.empty()) {
        fail(entry, copy.error);
    } else {
        takeCopy(entry, std::move(copy.parsed), clock_.utcNow());
        entry.list.publicAddresses = copy.publicAddresses;
        // A local file's copy has no validators.
        const bool downloaded = !entry.partial.empty();
        entry.list.etag = downloaded ? storableValidator(entry.downloaded.etag) : std::string();
        entry.list.lastModified =
            downloaded ? storableValidator(entry.downloaded.lastModified) : std::string();
    }
    entry.downloaded = {};
    if (!entry.partial.empty()) {
        std::error_code ignored;
        std::filesystem::remove(entry.partial, ignored);
        entry.partial.clear();
    }
    saveAfterUpdate(entry);
}

void ListKeeper::takeCopy(Entry& entry, ParsedList parsed,
                          std::chrono::system_clock::time_point now) {
    auto ranges = std::make_shared<ListRanges>();
    ranges->listName = entry.list.name;
    ranges->allow = entry.list.mode == ListMode::Allow;
    ranges->ranges = std::move(parsed.ranges);
    ranges->ranges6 = std::move(parsed.ranges6);
    entry.list.ranges = ranges->ranges.size();
    entry.list.ranges6 = ranges->ranges6.size();
    entry.list.failedLines = parsed.failedLines;
    entry.list.lastUpdate = unixSeconds(now);
    entry.list.lastError.clear();
    entry.copyRanges.reset();
    entry.copyRanges6.reset();
    entry.copyProblem.clear();
    entry.ranges = std::move(ranges);
    changed_ = true;
    reports_.push_back("List " + entry.list.name + ": " + std::to_string(entry.list.ranges) +
                       " ranges (" + std::string(formatName(parsed.format)) + "), " +
                       std::to_string(entry.list.ranges6) + " IPv6 ranges, " +
                       std::to_string(parsed.failedLines) + " lines not understood.");
}

void ListKeeper::fail(Entry& entry, const std::string& why) {
    entry.list.lastError = why;
    entry.copyProblem.clear();
    reports_.push_back("List " + entry.list.name + ": update failed (" + why + "); " +
                       ageOf(entry.list.lastUpdate) + ".");
}

}  // namespace bw
