#include "maintenance/update_check.h"

#include <fstream>
#include <optional>

#include "base/product.h"
#include "base/running_mark.h"
#include "maintenance/number_ignoring_blanks.h"
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
                         std::function<void()> saveSettings, std::function<void()> startupLoad)
    : downloader_(downloader),
      host_(host),
      state_(state),
      folder_(std::move(folder)),
      serverBase_(std::move(serverBase)),
      saveSettings_(std::move(saveSettings)),
      startupLoad_(std::move(startupLoad)) {}

void UpdateCheck::run() {
    if (running_)
        return;
    RunningMark mark(running_);
    check();
}

void UpdateCheck::check() {
    const std::filesystem::path versionCopy = folder_ / kVersionFileName;
    DownloadResult fetched = download(serverBase_ + std::string(kVersionFileName), versionCopy,
                                      "Checking for blocklist updates...");
    if (!fetched.ok) {
        removeQuietly(versionCopy);
        showConnectionError();
        return;
    }
    const std::string received = firstLine(versionCopy);
    host_.letPendingEventsRun();
    removeQuietly(versionCopy);

    bool due = versionValue(state_.lastUpdateVersion) < versionValue(received);
    std::optional<std::uintmax_t> length = measure(fileInFolder(folder_, kBlocklistFileName));
    if (length && *length < kShortestCurrentBlocklist)
        due = true;

    if (!due) {
        acceptVersion(received);
        show("No Updates Found", "No updates available since you last received an updated!");
        return;
    }
    show("Update Available",
         "Blocklist update will now be downloaded.  This will replace your 'Moatlist.p2p' file.");
    if (!updateBlocklist()) {
        showConnectionError();
        return;
    }
    // Saved before the reload, which reads the settings back.
    acceptVersion(received);
    startupLoad_();
}

DownloadResult UpdateCheck::download(const std::string& url, const std::filesystem::path& target,
                                     std::string_view caption) {
    std::unique_ptr<Download> transfer = downloader_.start(url, target);
    host_.waitWithProgress(caption, [&transfer] { return transfer->finished(); });
    if (!transfer->finished())
        return {false, "the download did not finish"};
    return transfer->result();
}

bool UpdateCheck::updateBlocklist() {
    const std::filesystem::path blocklist = fileInFolder(folder_, kBlocklistFileName);
    std::filesystem::path incoming = blocklist;
    incoming += kDownloadSuffix;
    DownloadResult fetched = download(serverBase_ + std::string(kServerBlocklistName), incoming,
                                      "Downloading the blocklist update...");
    std::error_code ec;
    if (fetched.ok)
        std::filesystem::rename(incoming, blocklist, ec);
    if (!fetched.ok || ec) {
        removeQuietly(incoming);
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
