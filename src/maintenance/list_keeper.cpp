#include "maintenance/list_keeper.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <system_error>
#include <utility>

#include "maintenance/gzip_data.h"
#include "maintenance/list_format.h"
#include "platform/atomic_file.h"
#include "platform/whole_file.h"

namespace bw {

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// A file name for the list: its name's safe characters and a hash of the whole
// name, so two names never share a copy.
std::string cacheFileName(const std::string& name) {
    std::uint32_t hash = 2166136261u;
    std::string safe;
    for (char c : name) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || c == '.';
        if (safe.size() < 40)
            safe += plain ? c : '_';
    }
    char tag[16];
    std::snprintf(tag, sizeof tag, "-%08x", hash);
    return safe + tag + ".list";
}

std::string ageOf(std::int64_t lastUpdate) {
    return lastUpdate == 0 ? std::string("no good copy yet")
                           : "the copy of " + formatUtc(lastUpdate) + " stays in force";
}

}  // namespace

std::int64_t unixSeconds(const Clock& clock) {
    LocalTime t = clock.now();
    std::int64_t days =
        daysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day));
    return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second -
           std::int64_t{clock.utcOffsetMinutes()} * 60;
}

std::string formatUtc(std::int64_t seconds) {
    if (seconds == 0)
        return "never";
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01.
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned day = doy - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2);
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02lld:%02lld UTC",
                  static_cast<long long>(year), month, day, static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest % 3600 / 60));
    return text;
}

// A new copy of a list as a worker left it: read, decompressed, parsed, gated
// and, when taken, written over the cached copy.
struct ListKeeper::PreparedCopy {
    std::string error;  // why it was not taken; empty when it was
    ParsedList parsed;
};

struct ListKeeper::Entry {
    Subscription list;
    std::shared_ptr<const ListRanges> ranges;
    std::unique_ptr<Download> download;
    std::filesystem::path partial;  // where the download under way goes; empty for a local file
    // The new copy in the works, off the guard's thread, and what its download said.
    std::future<PreparedCopy> preparing{};
    DownloadResult downloaded{};
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
                                                 std::filesystem::path cache) {
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
    WriteResult written = writeFileAtomically(cache, bytes.bytes);
    if (!written)
        return {written.error, {}};
    return {{}, std::move(parsed)};
}

ListKeeper::ListKeeper(Downloader& downloader, const Clock& clock, std::filesystem::path folder)
    : downloader_(downloader), clock_(clock), folder_(std::move(folder)) {}

ListKeeper::~ListKeeper() = default;

std::filesystem::path ListKeeper::subscriptionsPath() const {
    return folder_ / kSubscriptionsFileName;
}

std::filesystem::path ListKeeper::cachePath(const Subscription& list) const {
    return folder_ / kListCacheFolderName / cacheFileName(list.name);
}

std::string ListKeeper::load(bool firstStart) {
    lists_.clear();
    damaged_ = false;
    SubscriptionsFile file = readSubscriptions(subscriptionsPath());
    knownFile_ = file.ok && !file.absent ? formatSubscriptions(file.lists) : std::string();
    if (!file.ok) {
        damaged_ = true;
        return file.error + "; the lists stay off until it is mended";
    }
    if (file.absent) {
        if (!firstStart)
            return {};
        Subscription builtIn = privateNetworksList();
        builtIn.lastUpdate = unixSeconds(clock_);
        std::error_code ignored;
        std::filesystem::create_directories(folder_ / kListCacheFolderName, ignored);
        WriteResult copy = writeFileAtomically(cachePath(builtIn), privateNetworksText());
        if (!copy)
            return copy.error;
        file.lists.push_back(builtIn);
        lists_.push_back(std::make_unique<Entry>(Entry{builtIn, nullptr, nullptr, {}}));
        loadCachedCopy(*lists_.back());
        return save();
    }
    for (Subscription& list : file.lists) {
        lists_.push_back(std::make_unique<Entry>(Entry{std::move(list), nullptr, nullptr, {}}));
        loadCachedCopy(*lists_.back());
    }
    return {};
}

// A copy that no longer reads (damaged on disk) leaves the list empty and says so.
void ListKeeper::loadCachedCopy(Entry& entry) {
    auto ranges = std::make_shared<ListRanges>();
    ranges->listName = entry.list.name;
    ranges->allow = entry.list.mode == ListMode::Allow;
    FileBytes bytes = readListFile(cachePath(entry.list));
    if (bytes.ok) {
        Gunzipped text = listText(std::move(bytes.bytes), kMaxListBytes);
        ParsedList parsed = text.ok ? parseList(text.bytes) : ParsedList{};
        if (!text.ok) {
            entry.list.lastError = "the cached copy does not read: " + text.error;
        } else if (!parsed.overLimit.empty()) {
            entry.list.lastError = "the cached copy is not loaded: " + parsed.overLimit;
        } else {
            ranges->ranges = std::move(parsed.ranges);
            entry.list.ranges = ranges->ranges.size();
        }
    } else if (bytes.notRegular || bytes.tooLarge) {
        entry.list.lastError = "the cached copy is not loaded: " + bytes.error;
    }
    entry.ranges = std::move(ranges);
}

const std::vector<Subscription>& ListKeeper::subscriptions() const {
    view_.clear();
    for (const auto& entry : lists_) view_.push_back(entry->list);
    return view_;
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
    lists_.push_back(std::make_unique<Entry>(Entry{std::move(list), nullptr, nullptr, {}}));
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
    if (changed.mode != list.mode) {
        list.mode = changed.mode;
        loadCachedCopy(*entry);
    }
    changed_ = true;
    return save();
}

std::string ListKeeper::save() {
    if (damaged_)
        return "the subscriptions file " + subscriptionsPath().string() +
               " is damaged and is left as it is";
    WriteResult saved = saveSubscriptions(subscriptionsPath(), subscriptions());
    if (saved)
        knownFile_ = formatSubscriptions(subscriptions());
    return saved ? std::string() : saved.error;
}

// Another copy of the program (the console's list commands, a timer's
// --update-lists) changed the file: it, and the cached copies it speaks of, are
// read again. Not while this copy's own updates run: they save the file next.
void ListKeeper::pickUpOutsideChanges() {
    if (updating())
        return;
    SubscriptionsFile file = readSubscriptions(subscriptionsPath());
    if (!file.ok || file.absent || formatSubscriptions(file.lists) == knownFile_)
        return;
    std::string problem = load(false);
    changed_ = true;
    reports_.push_back(problem.empty() ? "Lists: the subscriptions file changed; lists reloaded."
                                       : "Lists: " + problem + ".");
}

bool ListKeeper::due(const Subscription& list, std::int64_t now) const {
    return list.enabled && !list.source.empty() &&
           now - list.lastUpdate >= std::int64_t{list.intervalHours} * 3600;
}

void ListKeeper::startUpdates(bool everyList) {
    const std::int64_t now = unixSeconds(clock_);
    lastCheck_ = now;
    for (auto& entry : lists_) {
        if (entry->download || entry->preparing.valid() || entry->list.source.empty())
            continue;
        if (everyList || due(entry->list, now))
            startUpdate(*entry);
    }
}

void ListKeeper::startUpdate(Entry& entry) {
    const std::int64_t now = unixSeconds(clock_);
    entry.list.lastAttempt = now;
    std::error_code ignored;
    std::filesystem::create_directories(folder_ / kListCacheFolderName, ignored);
    if (!isWebSource(entry.list.source)) {
        entry.partial.clear();
        entry.preparing = std::async(std::launch::async, &ListKeeper::prepareCopy,
                                     localSourcePath(entry.list.source),
                                     "cannot read " + entry.list.source, cachePath(entry.list));
        return;
    }
    // Validators only make sense while the copy they belong to is at hand.
    const bool haveCopy = std::filesystem::exists(cachePath(entry.list), ignored);
    entry.partial = cachePath(entry.list);
    entry.partial += ".part";
    entry.download = downloader_.startRequest(
        {.url = entry.list.source,
         .target = entry.partial,
         .ifNoneMatch = haveCopy ? entry.list.etag : std::string(),
         .ifModifiedSince = haveCopy ? entry.list.lastModified : std::string(),
         .maxBytes = kMaxListBytes});
}

bool ListKeeper::poll() {
    for (auto& entry : lists_) {
        if (entry->download && entry->download->finished())
            finishDownload(*entry);
        if (entry->preparing.valid() &&
            entry->preparing.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
            finishCopy(*entry);
    }
    return std::exchange(changed_, false);
}

bool ListKeeper::updating() const {
    return std::any_of(lists_.begin(), lists_.end(), [](const auto& entry) {
        return entry->download != nullptr || entry->preparing.valid();
    });
}

bool ListKeeper::updating(const std::string& name) const {
    return std::any_of(lists_.begin(), lists_.end(), [&](const auto& entry) {
        return entry->list.name == name && (entry->download != nullptr || entry->preparing.valid());
    });
}

void ListKeeper::updateNow(const std::string& name) {
    Entry* entry = find(name);
    if (entry && !entry->download && !entry->preparing.valid() && !entry->list.source.empty())
        startUpdate(*entry);
}

bool ListKeeper::tick() {
    const std::int64_t now = unixSeconds(clock_);
    if (now - lastLook_ >= kLookEverySeconds) {
        lastLook_ = now;
        pickUpOutsideChanges();
    }
    if (now - lastCheck_ >= kCheckEverySeconds)
        startUpdates(false);
    return poll();
}

std::vector<std::string> ListKeeper::takeReports() {
    return std::exchange(reports_, {});
}

void ListKeeper::finishDownload(Entry& entry) {
    DownloadResult result = entry.download->result();
    entry.download.reset();
    const std::int64_t now = unixSeconds(clock_);
    if (!result.ok) {
        fail(entry, result.error);
    } else if (result.notModified) {
        entry.list.lastUpdate = now;
        entry.list.lastError.clear();
        reports_.push_back("List " + entry.list.name + ": unchanged since the last update.");
    } else {
        entry.downloaded = std::move(result);
        entry.preparing =
            std::async(std::launch::async, &ListKeeper::prepareCopy, entry.partial,
                       std::string("cannot read the download"), cachePath(entry.list));
        return;
    }
    std::error_code ignored;
    std::filesystem::remove(entry.partial, ignored);
    save();
}

void ListKeeper::finishCopy(Entry& entry) {
    PreparedCopy copy = entry.preparing.get();
    if (!copy.error.empty()) {
        fail(entry, copy.error);
    } else {
        takeCopy(entry, std::move(copy.parsed), unixSeconds(clock_));
        // A local file's copy has no validators.
        entry.list.etag = entry.partial.empty() ? std::string() : entry.downloaded.etag;
        entry.list.lastModified =
            entry.partial.empty() ? std::string() : entry.downloaded.lastModified;
    }
    entry.downloaded = {};
    if (!entry.partial.empty()) {
        std::error_code ignored;
        std::filesystem::remove(entry.partial, ignored);
    }
    save();
}

void ListKeeper::takeCopy(Entry& entry, ParsedList parsed, std::int64_t now) {
    auto ranges = std::make_shared<ListRanges>();
    ranges->listName = entry.list.name;
    ranges->allow = entry.list.mode == ListMode::Allow;
    ranges->ranges = std::move(parsed.ranges);
    entry.list.ranges = ranges->ranges.size();
    entry.list.failedLines = parsed.failedLines;
    entry.list.ipv6Lines = parsed.ipv6Lines;
    entry.list.lastUpdate = now;
    entry.list.lastError.clear();
    entry.ranges = std::move(ranges);
    changed_ = true;
    reports_.push_back("List " + entry.list.name + ": " + std::to_string(entry.list.ranges) +
                       " ranges (" + std::string(formatName(parsed.format)) + "), " +
                       std::to_string(parsed.failedLines) + " lines not understood, " +
                       std::to_string(parsed.ipv6Lines) + " IPv6 lines skipped.");
}

void ListKeeper::fail(Entry& entry, const std::string& why) {
    entry.list.lastError = why;
    reports_.push_back("List " + entry.list.name + ": update failed (" + why + "); " +
                       ageOf(entry.list.lastUpdate) + ".");
}

}  // namespace bw
