#include "maintenance/list_subscriptions.h"

#include <nlohmann/json.hpp>

#include <cerrno>

#include "platform/whole_file.h"

namespace bw {

namespace {

using nlohmann::json;

std::string_view modeText(ListMode mode) {
    return mode == ListMode::Allow ? "allow" : "block";
}

Subscription fromJson(const json& item) {
    Subscription s;
    s.name = item.at("name").get<std::string>();
    s.source = item.value("source", std::string());
    s.enabled = item.value("enabled", true);
    const std::string mode = item.value("mode", std::string("block"));
    if (mode != "block" && mode != "allow")
        throw std::invalid_argument("the list " + s.name + " has the unknown mode " + mode);
    s.mode = mode == "allow" ? ListMode::Allow : ListMode::Block;
    s.intervalHours = item.value("intervalHours", kDefaultIntervalHours);
    s.lastUpdate = item.value("lastUpdate", std::int64_t{0});
    s.lastAttempt = item.value("lastAttempt", std::int64_t{0});
    s.etag = item.value("etag", std::string());
    s.lastModified = item.value("lastModified", std::string());
    s.lastError = item.value("lastError", std::string());
    s.ranges = item.value("ranges", std::size_t{0});
    s.failedLines = item.value("failedLines", std::size_t{0});
    s.ipv6Lines = item.value("ipv6Lines", std::size_t{0});
    return s;
}

json toJson(const Subscription& s) {
    return json{{"name", s.name},
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
                {"ipv6Lines", s.ipv6Lines}};
}

}  // namespace

SubscriptionsFile parseSubscriptions(std::string_view text) {
    SubscriptionsFile file;
    try {
        json document = json::parse(text);
        for (const json& item : document.at("lists")) file.lists.push_back(fromJson(item));
        file.ok = true;
    } catch (const std::exception& e) {
        file.lists.clear();
        file.error = e.what();
    }
    return file;
}

std::string formatSubscriptions(const std::vector<Subscription>& lists) {
    json items = json::array();
    for (const Subscription& s : lists) items.push_back(toJson(s));
    return json{{"lists", items}}.dump(2) + "\n";
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
    return writeFileAtomically(file, formatSubscriptions(lists));
}

Subscription privateNetworksList() {
    Subscription s;
    s.name = "Private networks";
    s.mode = ListMode::Allow;
    s.ranges = 4;
    return s;
}

std::string_view privateNetworksText() {
    return "# Private and link-local networks: never refused, whatever list bans them.\n"
           "10.0.0.0/8\n"
           "172.16.0.0/12\n"
           "192.168.0.0/16\n"
           "169.254.0.0/16\n";
}

std::string nameProblem(std::string_view name) {
    if (name.empty())
        return "a list needs a name";
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
    if (isWebSource(source))
        return {};
    if ((source.starts_with("file://") || source.starts_with("/")) &&
        localSourcePath(source).is_absolute()) {
        return {};
    }
    return "a source is an http:// or https:// address or the full path of a local file";
}

}  // namespace bw
