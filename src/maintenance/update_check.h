#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/host.h"
#include "base/program_state.h"
#include "platform/downloader.h"
#include "platform/lifelines.h"

namespace bw {

// The version value of a version text: "0" followed by the text, read by its
// leading number with blanks ignored, so an empty text or one beginning with a
// sign reads as 0, and " 8" reads as 8.
double versionValue(std::string_view versionText);

// Asks the update server whether a newer blocklist exists and, if so, replaces
// the local blocklist with it; the caller then reloads the table.
//
// The new blocklist is downloaded beside the old one and replaces it only when
// the download completed and the list is sound: at least one range, at most 1 %
// of its lines unreadable, not a web page. The entries the user added
// (BWUserEntries.p2p) are carried into it. Otherwise the old file stays, the
// last update version (bwuv) keeps its value and the user is told why. bwuv
// takes the received version when no update is due, or once the new blocklist
// is in place; a version that is not a number is refused.
class UpdateCheck {
public:
    enum class Outcome { ListKept, ListReplaced };

    UpdateCheck(Downloader& downloader, Host& host, ProgramState& state,
                std::filesystem::path folder, std::string serverBase,
                std::function<void()> saveSettings);

    // The menu command. A check asked for while one runs (its downloads keep
    // window events running) is ignored. ListReplaced: the new blocklist is in
    // place and the settings are saved; the table is still the old one.
    [[nodiscard]] Outcome run();
    // The update server's address as its last download reached it, once one did.
    const std::optional<Lifeline>& serverLifeline() const { return serverLifeline_; }

private:
    Outcome check();
    // Downloads while the host keeps events and the guard running.
    DownloadResult download(const std::string& url, const std::filesystem::path& target,
                            std::string_view caption, std::uint64_t maxBytes);
    void showDownloadFailure(const DownloadResult& fetched, std::string_view what);
    bool updateBlocklist();
    void acceptVersion(const std::string& received);
    void showConnectionError();
    void show(std::string title, std::string text);

    Downloader& downloader_;
    Host& host_;
    ProgramState& state_;
    std::filesystem::path folder_;
    std::string serverBase_;
    std::function<void()> saveSettings_;
    bool running_ = false;
    bool cancelled_ = false;  // the last download was cancelled by the user
    std::optional<Lifeline> serverLifeline_;
};

}  // namespace bw
