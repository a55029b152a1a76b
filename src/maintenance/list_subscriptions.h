#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/atomic_file.h"

namespace bw {

inline constexpr std::string_view kSubscriptionsFileName = "lists.json";
// The folder beside the program's files that holds each list's last good copy.
inline constexpr std::string_view kListCacheFolderName = "lists";
inline constexpr int kDefaultIntervalHours = 24;
// The name of the built-in allow list of private networks.
inline constexpr std::string_view kPrivateNetworksName = "Private networks";

enum class ListMode { Block, Allow };

// One subscribed list and what its last update left.
struct Subscription {
    std::string name;
    // An http:// or https:// address, or a local file; empty for a list kept
    // only in its cached copy (the built-in allow list).
    std::string source;
    bool enabled = true;
    ListMode mode = ListMode::Block;
    int intervalHours = kDefaultIntervalHours;
    // Meant to ban more than half of the public IPv4 space: an update that
    // would is taken, not refused.
    bool wide = false;
    std::int64_t lastUpdate = 0;   // seconds since 1970 (UTC) of the last good update; 0 never
    std::int64_t lastAttempt = 0;  // the same for the last try, good or not
    std::string etag;
    std::string lastModified;
    std::string lastError;  // empty when the last try went well
    // What the copy in force holds.
    std::size_t ranges = 0;   // IPv4 ranges
    std::size_t ranges6 = 0;  // IPv6 ranges
    std::size_t failedLines = 0;
    std::uint64_t publicAddresses = 0;  // public unicast addresses the copy holds

    friend bool operator==(const Subscription&, const Subscription&) = default;
};

struct SubscriptionsFile {
    bool ok = false;
    bool absent = false;  // no file yet: a first start
    std::vector<Subscription> lists;
    std::string error;  // why, when !ok
};

SubscriptionsFile parseSubscriptions(std::string_view json);
std::string formatSubscriptions(const std::vector<Subscription>& lists);

SubscriptionsFile readSubscriptions(const std::filesystem::path& file);
// On failure the error names the file (and the link it is, if it is one).
WriteResult saveSubscriptions(const std::filesystem::path& file,
                              const std::vector<Subscription>& lists);

// What the file should hold after this copy's changes (ours, made since it
// last read or wrote the file: base) meet another copy's (theirs, the file as
// it is now). Lists are matched by name; a list removed on either side is gone;
// each of the user's settings (source, switch, mode, interval, wide) changed here
// wins; what an update left (times, validators, figures, error) is taken whole
// from the side that changed it, but not from here when the source was changed
// there meanwhile (that update fetched the old source).
std::vector<Subscription> mergeSubscriptions(const std::vector<Subscription>& base,
                                             const std::vector<Subscription>& ours,
                                             const std::vector<Subscription>& theirs);

// What a new installation starts with: one enabled allow list of the private
// and link-local ranges, so that a public list that wrongly holds a private
// network never cuts the user off from their own network.
Subscription privateNetworksList();
std::string_view privateNetworksText();
// The built-in list as installs wrote it before IPv6 was guarded.
std::string_view privateNetworksIpv4OnlyText();

bool isUtf8(std::string_view text);
// UTF-8 without control characters: safe to store, show, and send back in a
// request header.
bool isPlainText(std::string_view text);
// Why a name or source cannot be used: empty when it can.
std::string nameProblem(std::string_view name);
std::string sourceProblem(std::string_view source);
bool isWebSource(std::string_view source);
// The local file a file source names ("file:///x" or "/x").
std::filesystem::path localSourcePath(std::string_view source);

}  // namespace bw
