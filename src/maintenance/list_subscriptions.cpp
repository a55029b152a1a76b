#include "maintenance/list_subscriptions.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>

#include "blocklist/public_space.h"
#include "platform/whole_file.h"

namespace bw {

namespace {

using nlohmann::json;

std::string_view modeText(ListMode mode) {
    return mode == ListMode::Allow ? "allow" : "block";
}

// Each list of a hand-edited file is held to what adding a list checks, and
// every number to a range, so nothing read here is converted out of range.
class ItemReader {
public:
    ItemReader(const json& item, std::size_t index) : item_(item) {
        where_ = "list " + std::to_string(index + 1);
        if (!item_.is_object())
            throw std::invalid_argument(where_ + " is not an object in braces");
        const auto name = item_.find("name");
        if (name != item_.end() && name->is_string() &&
            !name->get_ref<const std::string&>().empty() &&
            isUtf8(name->get_ref<const std::string&>()))
            where_ += " (\"" + name->get<std::string>() + "\")";
    }

    std::string text(const char* key, const std::string& otherwise) const {
        const auto value = item_.find(key);
        if (value == item_.end())
            return otherwise;
        if (!value->is_string())
            refuse(key, "is not text in quotes");
        return value->get<std::string>();
    }
    bool flag(const char* key, bool otherwise) const {
        const auto value = item_.find(key);
        if (value == item_.end())
            return otherwise;
        if (!value->is_boolean())
            refuse(key, "is neither true nor false");
        return value->get<bool>();
    }
    std::int64_t whole(const char* key, std::int64_t otherwise, std::int64_t least,
                       std::int64_t most) const {
        const auto value = item_.find(key);
        if (value == item_.end())
            return otherwise;
        bool inRange = false;
        std::int64_t number = 0;
        if (value->is_number_unsigned()) {
            const auto n = value->get<std::uint64_t>();
            inRange =
                n <= static_cast<std::uint64_t>(most) && static_cast<std::int64_t>(n) >= least;
            number = inRange ? static_cast<std::int64_t>(n) : 0;
        } else if (value->is_number_integer()) {
            number = value->get<std::int64_t>();
            inRange = number >= least && number <= most;
        }
        if (!inRange)
            refuse(key, "is not a whole number from " + std::to_string(least) + " to " +
                            std::to_string(most));
        return number;
    }
    [[noreturn]] void refuse(const std::string& key, const std::string& why) const {
        throw std::invalid_argument(where_ + ": \"" + key + "\" " + why);
    }

private:
    const json& item_;
    std::string where_;
};

// Ten thousand years of seconds: more than any clock will show.
constexpr std::int64_t kLatestSeconds = 253402300799;  // 9999-12-31 23:59:59 UTC
constexpr std::int64_t kMostCount = INT64_MAX;

Subscription fromJson(const json& item, std::size_t index) {
    ItemReader read(item, index);
    Subscription s;
    if (!item.contains("name"))
        read.refuse("name", "is missing");
    s.name = read.text("name", {});
    if (std::string problem = nameProblem(s.name); !problem.empty())
        read.refuse("name", "cannot be used: " + problem);
    s.source = read.text("source", {});
    if (std::string problem = sourceProblem(s.source); !s.source.empty() && !problem.empty())
        read.refuse("source", "cannot be used: " + problem);
    s.enabled = read.flag("enabled", true);
    const std::string mode = read.text("mode", "block");
    if (mode != "block" && mode != "allow")
        read.refuse("mode", "is neither \"block\" nor \"allow\"");
    s.mode = mode == "allow" ? ListMode::Allow : ListMode::Block;
    s.intervalHours =
        static_cast<int>(read.whole("intervalHours", kDefaultIntervalHours, 1, INT_MAX));
    s.wide = read.flag("wide", false);
    s.lastUpdate = read.whole("lastUpdate", 0, 0, kLatestSeconds);
    s.lastAttempt = read.whole("lastAttempt", 0, 0, kLatestSeconds);
    s.etag = read.text("etag", {});
    // Validators go back to the server in request headers.
    if (!isPlainText(s.etag))
        read.refuse("etag", "holds control characters");
    s.lastModified = read.text("lastModified", {});
    if (!isPlainText(s.lastModified))
        read.refuse("lastModified", "holds control characters");
    s.lastError = read.text("lastError", {});
    s.ranges = static_cast<std::size_t>(read.whole("ranges", 0, 0, kMostCount));
    s.failedLines = static_cast<std::size_t>(read.whole("failedLines", 0, 0, kMostCount));
    // Files from before IPv6 was guarded count skipped IPv6 lines under
    // "ipv6Lines": left unread, as those lines are ranges now.
    s.ranges6 = static_cast<std::size_t>(read.whole("ranges6", 0, 0, kMostCount));
    s.publicAddresses = static_cast<std::uint64_t>(
        read.whole("publicAddresses", 0, 0, static_cast<std::int64_t>(kPublicUnicastAddresses)));
    return s;
}

// "line 3, column 7" of a byte offset (1 for the first byte).
std::string placeOf(std::string_view text, std::size_t byte) {
    std::size_t line = 1;
    std::size_t column = 1;
    for (std::size_t i = 0; i + 1 < byte && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

json toJson(const Subscription& s) {
    json item{{"name", s.name},
              {"source", s.source},
              {"enabled", s.enabled},
              {"mode", modeText(s.mode)},
              {"intervalHours", s.intervalHours},
              {"lastUpdate", s.lastUpdate},
              {"lastAttempt", s.lastAttempt},
              {"etag", s.etag},
              {"lastModified", s.lastModified},
              {"lastError", s.lastError},
              {"ranges", s.ranges},
              {"failedLines", s.failedLines},
              {"ranges6", s.ranges6},
              {"publicAddresses", s.publicAddresses}};
    // Written only when set, so a file without it reads as it always did.
    if (s.wide)
        item["wide"] = true;
    return item;
}

}  // namespace

SubscriptionsFile parseSubscriptions(std::string_view text) {
    SubscriptionsFile file;
    try {
        json document = json::parse(text);
        const auto lists = document.is_object() ? document.find("lists") : document.end();
        if (lists == document.end() || !lists->is_array())
            throw std::invalid_argument("it holds no \"lists\": [ ... ] array");
        for (std::size_t i = 0; i < lists->size(); ++i) {
            Subscription list = fromJson((*lists)[i], i);
            for (std::size_t j = 0; j < file.lists.size(); ++j) {
                // One name, one cached copy: two lists of one name would share it.
                if (file.lists[j].name == list.name)
                    throw std::invalid_argument("lists " + std::to_string(j + 1) + " and " +
                                                std::to_string(i + 1) + " are both named \"" +
                                                list.name + "\"; rename or remove one");
            }
            file.lists.push_back(std::move(list));
        }
        file.ok = true;
    } catch (const json::parse_error& e) {
        file.lists.clear();
        file.error = placeOf(text, e.byte) +
                     " is not valid JSON (look there, and just before it, for a missing or extra "
                     "comma, quote or bracket, or for text that is not UTF-8)";
    } catch (const std::exception& e) {
        file.lists.clear();
        file.error = e.what();
    }
    return file;
}

std::string formatSubscriptions(const std::vector<Subscription>& lists) {
    json items = json::array();
    for (const Subscription& s : lists) items.push_back(toJson(s));
    // Text is checked where it comes in; what slipped through is replaced, never thrown over.
    return json{{"lists", items}}.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

SubscriptionsFile readSubscriptions(const std::filesystem::path& path) {
    FileBytes bytes = readWholeFile(path);
    if (!bytes.ok) {
        SubscriptionsFile file;
        file.absent = bytes.errorNumber == ENOENT;
        file.ok = file.absent;
        if (!file.ok)
            file.error = "cannot read " + path.string() + ": " + bytes.error;
        return file;
    }
    SubscriptionsFile file = parseSubscriptions(bytes.bytes);
    if (!file.ok)
        file.error = path.string() + " is damaged: " + file.error;
    return file;
}

WriteResult saveSubscriptions(const std::filesystem::path& file,
                              const std::vector<Subscription>& lists) {
    WriteResult saved = writeFileAtomically(file, formatSubscriptions(lists));
    if (!saved) {
        // The folder in the bare error may be a link's, far from the file the user knows.
        std::error_code ec;
        std::string link;
        if (std::filesystem::is_symlink(std::filesystem::symlink_status(file, ec)))
            link = " (a link to " + std::filesystem::read_symlink(file, ec).string() + ")";
        saved.error = "cannot save " + file.string() + link + ": " + saved.error;
    }
    return saved;
}

namespace {

const Subscription* named(const std::vector<Subscription>& lists, const std::string& name) {
    for (const Subscription& s : lists) {
        if (s.name == name)
            return &s;
    }
    return nullptr;
}

bool sameUpdateState(const Subscription& a, const Subscription& b) {
    return a.lastUpdate == b.lastUpdate && a.lastAttempt == b.lastAttempt && a.etag == b.etag &&
           a.lastModified == b.lastModified && a.lastError == b.lastError && a.ranges == b.ranges &&
           a.failedLines == b.failedLines && a.ranges6 == b.ranges6 &&
           a.publicAddresses == b.publicAddresses;
}

void takeUpdateState(Subscription& to, const Subscription& from) {
    to.lastUpdate = from.lastUpdate;
    to.lastAttempt = from.lastAttempt;
    to.etag = from.etag;
    to.lastModified = from.lastModified;
    to.lastError = from.lastError;
    to.ranges = from.ranges;
    to.failedLines = from.failedLines;
    to.ranges6 = from.ranges6;
    to.publicAddresses = from.publicAddresses;
}

template <typename T>
void takeIfChanged(T& to, const T& mine, const T& before) {
    if (mine != before)
        to = mine;
}

}  // namespace

std::vector<Subscription> mergeSubscriptions(const std::vector<Subscription>& base,
                                             const std::vector<Subscription>& ours,
                                             const std::vector<Subscription>& theirs) {
    std::vector<Subscription> merged;
    for (const Subscription& their : theirs) {
        const Subscription* before = named(base, their.name);
        if (before && !named(ours, their.name))
            continue;  // removed here
        merged.push_back(their);
    }
    for (const Subscription& mine : ours) {
        const Subscription* before = named(base, mine.name);
        auto at = std::find_if(merged.begin(), merged.end(),
                               [&](const Subscription& s) { return s.name == mine.name; });
        if (!before) {
            // Added here; one of that name added there meanwhile gives way.
            if (at == merged.end())
                merged.push_back(mine);
            else
                *at = mine;
            continue;
        }
        if (at == merged.end())
            continue;  // removed there
        const bool sourceKept = at->source == before->source;
        takeIfChanged(at->source, mine.source, before->source);
        takeIfChanged(at->enabled, mine.enabled, before->enabled);
        takeIfChanged(at->mode, mine.mode, before->mode);
        takeIfChanged(at->intervalHours, mine.intervalHours, before->intervalHours);
        takeIfChanged(at->wide, mine.wide, before->wide);
        if (!sameUpdateState(mine, *before) && (sourceKept || mine.source != before->source))
            takeUpdateState(*at, mine);
    }
    return merged;
}

Subscription privateNetworksList() {
    Subscription s;
    s.name = std::string(kPrivateNetworksName);
    s.mode = ListMode::Allow;
    s.ranges = 4;
    s.ranges6 = 2;
    return s;
}

std::string_view privateNetworksText() {
    return "# Private and link-local networks: never refused, whatever list bans them.\n"
           "10.0.0.0/8\n"
           "172.16.0.0/12\n"
           "192.168.0.0/16\n"
           "169.254.0.0/16\n"
           "fc00::/7\n"
           "fe80::/10\n";
}

std::string_view privateNetworksIpv4OnlyText() {
    return "# Private and link-local networks: never refused, whatever list bans them.\n"
           "10.0.0.0/8\n"
           "172.16.0.0/12\n"
           "192.168.0.0/16\n"
           "169.254.0.0/16\n";
}

bool isUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80                    ? 1
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        const auto second = static_cast<unsigned char>(length > 1 ? text[i + 1] : 0);
        // Overlong forms, UTF-16 surrogates and code points past U+10FFFF.
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
            (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
            return false;
        }
        i += length;
    }
    return true;
}

bool isPlainText(std::string_view text) {
    return isUtf8(text) && std::none_of(text.begin(), text.end(), [](char c) {
               return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
           });
}

std::string nameProblem(std::string_view name) {
    if (name.empty())
        return "a list needs a name";
    if (!isUtf8(name))
        return "a list name must be UTF-8 text";
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20)
            return "a list name cannot hold control characters";
    }
    return {};
}

bool isWebSource(std::string_view source) {
    return source.starts_with("http://") || source.starts_with("https://");
}

std::filesystem::path localSourcePath(std::string_view source) {
    if (source.starts_with("file://"))
        source.remove_prefix(7);
    return std::filesystem::path(std::string(source));
}

std::string sourceProblem(std::string_view source) {
    if (!isPlainText(source))
        return "a source must be UTF-8 text without control characters";
    if (isWebSource(source))
        return {};
    if ((source.starts_with("file://") || source.starts_with("/")) &&
        localSourcePath(source).is_absolute()) {
        return {};
    }
    return "a source is an http:// or https:// address or the full path of a local file";
}

}  // namespace bw
