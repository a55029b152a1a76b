#include "maintenance/update_check.h"

#include <fstream>
#include <optional>

#include "base/product.h"
#include "base/running_mark.h"
#include "blocklist/blocklist_reader.h"
#include "maintenance/number_ignoring_blanks.h"
#include "maintenance/user_entries.h"
#include "platform/atomic_file.h"
#include "platform/folder_file.h"
#include "platform/whole_file.h"

namespace bw {

namespace {

constexpr std::string_view kVersionFileName = "bwlistver.txt";
constexpr std::string_view kServerBlocklistName = "moatlist.p2p";
// Where the new blocklist lands until it is complete.
constexpr std::string_view kDownloadSuffix = ".download";
// A local blocklist shorter than this is always replaced.
constexpr std::uintmax_t kShortestCurrentBlocklist = 20;
// Past these sizes a download stops: no version file or blocklist is that long.
constexpr std::uint64_t kLargestVersionFile = 64 * 1024;
constexpr std::uint64_t kLargestBlocklist = 512ull * 1024 * 1024;
// A new blocklist may have at most 1 line in this many that cannot be read.
constexpr std::uint64_t kLinesPerAllowedFailure = 100;

constexpr std::string_view kLeftAsItWas = " Your blocklist and its version were left as they were.";

// A version is a number: blanks, then a digit, or a sign or point and a digit.
bool holdsVersionNumber(std::string_view version) {
    std::size_t at = version.find_first_not_of(" \t");
    if (at == std::string_view::npos)
        return false;
    auto digit = [&](std::size_t i) {
        return i < version.size() && version[i] >= '0' && version[i] <= '9';
    };
    if (digit(at))
        return true;
    if (version[at] == '+' || version[at] == '-')
        ++at;
    if (at < version.size() && version[at] == '.')
        ++at;
    return digit(at);
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// A server that answers with an error or login page instead of the list.
bool looksLikeWebPage(std::string_view bytes) {
    std::size_t at = bytes.find_first_not_of(" \t\r\n");
    if (at == std::string_view::npos)
        return false;
    std::string_view text = bytes.substr(at);
    if (startsWithIgnoringCase(text, "\xef\xbb\xbf"))
        text.remove_prefix(3);
    for (std::string_view tag : {"<!doctype", "<html", "<head", "<body", "<?xml"}) {
        if (startsWithIgnoringCase(text, tag))
            return true;
    }
    return false;
}

// Why the downloaded bytes must not replace the blocklist; empty when they may.
std::string refusalOfNewList(std::string_view bytes) {
    if (looksLikeWebPage(bytes))
        return "The downloaded blocklist is a web page, not a blocklist.";
    BanTable scratch;
    LoadTotals totals = loadBlocklist(std::string(bytes), scratch);
    if (totals.ranges == 0)
        return "The downloaded blocklist holds no range.";
    const std::uint64_t lines = totals.ranges + totals.failed;
    if (totals.failed * kLinesPerAllowedFailure > lines) {
        return std::to_string(totals.failed) + " of its " + std::to_string(lines) +
               " lines could not be read, more than 1 in " +
               std::to_string(kLinesPerAllowedFailure) + ".";
    }
    return {};
}

// The first line of the file without its line end; empty when it cannot be read.
std::string firstLine(const std::filesystem::path& file) {
    std::string text = readWholeFile(file).bytes;
    return text.substr(0, text.find_first_of("\r\n"));
}

// Opening the blocklist this way creates it empty when it is absent, as the
// start-up load would.
std::optional<std::uintmax_t> measure(const std::filesystem::path& file) {
    { std::ofstream touch(file, std::ios::binary | std::ios::app); }
    std::error_code ec;
    std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec)
        return std::nullopt;
    return size;
}

void removeQuietly(const std::filesystem::path& file) {
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
}

}  // namespace

double versionValue(std::string_view versionText) {
    std::string zeroFirst(1, '0');
    zeroFirst += versionText;
    return numberIgnoringBlanks(zeroFirst);
}

UpdateCheck::UpdateCheck(Downloader& downloader, Host& host, ProgramState& state,
                         std::filesystem::path folder, std::string serverBase,
                         std::function<void()> saveSettings)
    : downloader_(downloader),
      host_(host),
      state_(state),
      folder_(std::move(folder)),
      serverBase_(std::move(serverBase)),
      saveSettings_(std::move(saveSettings)) {}

UpdateCheck::Outcome UpdateCheck::run() {
    if (running_)
        return Outcome::ListKept;
    RunningMark mark(running_);
    return check();
}

UpdateCheck::Outcome UpdateCheck::check() {
    const std::filesystem::path versionCopy = folder_ / kVersionFileName;
    DownloadResult fetched = download(serverBase_ + std::string(kVersionFileName), versionCopy,
                                      "Checking for blocklist updates...", kLargestVersionFile);
    if (!fetched.ok) {
        removeQuietly(versionCopy);
        showDownloadFailure(fetched, "version file");
        return Outcome::ListKept;
    }
    const std::string received = firstLine(versionCopy);
    host_.letPendingEventsRun();
    removeQuietly(versionCopy);
    if (!holdsVersionNumber(received)) {
        show("Update Error",
             "The update server's version file holds no version number (its "
             "first line is \"" +
                 received.substr(0, 80) + "\")." + std::string(kLeftAsItWas));
        return Outcome::ListKept;
    }

    bool due = versionValue(state_.lastUpdateVersion) < versionValue(received);
    std::optional<std::uintmax_t> length = measure(fileInFolder(folder_, kBlocklistFileName));
    if (length && *length < kShortestCurrentBlocklist)
        due = true;

    if (!due) {
        acceptVersion(received);
        show("No Updates Found", "No updates available since you last received an updated!");
        return Outcome::ListKept;
    }
    show("Update Available",
         "Blocklist update will now be downloaded.  This will replace your 'Moatlist.p2p' file.");
    if (!updateBlocklist())
        return Outcome::ListKept;
    // Saved before the reload, which reads the settings back.
    acceptVersion(received);
    return Outcome::ListReplaced;
}

DownloadResult UpdateCheck::download(const std::string& url, const std::filesystem::path& target,
                                     std::string_view caption, std::uint64_t maxBytes) {
    cancelled_ = false;
    std::unique_ptr<Download> transfer =
        downloader_.start({.url = url, .target = target, .maxBytes = maxBytes});
    host_.waitWithProgress(caption, [&transfer] { return transfer->finished(); });
    if (!transfer->finished()) {
        cancelled_ = true;
        return {false, "the download was cancelled"};
    }
    DownloadResult result = transfer->result();
    if (std::optional<IpAddress> ip = parseIpAddress(result.serverAddress))
        serverLifeline_ = Lifeline{*ip, "update server"};
    return result;
}

void UpdateCheck::showDownloadFailure(const DownloadResult& fetched, std::string_view what) {
    if (cancelled_) {
        show("Update Cancelled", "The update check was cancelled." + std::string(kLeftAsItWas));
    } else if (fetched.tooLarge) {
        show("Update Error", "The update server's " + std::string(what) + " was not taken: " +
                                 fetched.error + "." + std::string(kLeftAsItWas));
    } else {
        showConnectionError();
    }
}

bool UpdateCheck::updateBlocklist() {
    const std::filesystem::path blocklist = fileInFolder(folder_, kBlocklistFileName);
    std::filesystem::path incoming = blocklist;
    incoming += kDownloadSuffix;
    DownloadResult fetched = download(serverBase_ + std::string(kServerBlocklistName), incoming,
                                      "Downloading the blocklist update...", kLargestBlocklist);
    if (!fetched.ok) {
        removeQuietly(incoming);
        showDownloadFailure(fetched, "blocklist");
        return false;
    }
    FileBytes content = readWholeFile(incoming);
    removeQuietly(incoming);
    std::string refusal =
        content.ok ? refusalOfNewList(content.bytes)
                   : "The downloaded blocklist could not be read: " + content.error + ".";
    if (!refusal.empty()) {
        show("Update Error", refusal + std::string(kLeftAsItWas));
        return false;
    }
    UserEntries own(fileInFolder(folder_, kUserEntriesFileName));
    content.bytes = withUserEntries(std::move(content.bytes), own.lines());
    WriteResult saved = writeFileAtomically(blocklist, content.bytes);
    if (!saved) {
        show("Update Error", "The new blocklist could not be saved: " + saved.error + "." +
                                 std::string(kLeftAsItWas));
        return false;
    }
    return true;
}

void UpdateCheck::acceptVersion(const std::string& received) {
    state_.lastUpdateVersion = received;
    saveSettings_();
}

void UpdateCheck::showConnectionError() {
    show("Update Error", "Error connecting to update server.  Please try later.");
}

void UpdateCheck::show(std::string title, std::string text) {
    host_.showMessage(
        Message{std::move(text), MessageIcon::Information, MessageButtons::Ok, std::move(title)});
}

}  // namespace bw
