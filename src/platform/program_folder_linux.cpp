#include "platform/program_folder.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

namespace bw {

namespace fs = std::filesystem;

fs::path executablePath() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : exe;
}

fs::path executableFolder() {
    fs::path exe = executablePath();
    return exe.empty() ? fs::current_path() : exe.parent_path();
}

namespace {

// The files the program keeps in its folder: the blocklist, the settings, the
// record of the user's own entries and the connection log.
constexpr std::string_view kCarriedFiles[] = {"moatlist.p2p", "bw2config.p2p", "bwuserentries.p2p",
                                              "connlog.txt"};

std::string lowerCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool holdsIgnoringCase(const fs::path& folder, const std::string& lowerName) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (lowerCase(entry.path().filename().string()) == lowerName)
            return true;
    }
    return false;
}

// The user's files beside the executable are the ones to use: copied over
// unless the new folder already has its own.
void carryFilesOver(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(from, ec)) {
        const std::string name = lowerCase(entry.path().filename().string());
        bool ours = std::find(std::begin(kCarriedFiles), std::end(kCarriedFiles), name) !=
                    std::end(kCarriedFiles);
        std::error_code fileError;
        if (!ours || !entry.is_regular_file(fileError) || holdsIgnoringCase(to, name))
            continue;
        fs::copy_file(entry.path(), to / entry.path().filename(), fileError);
    }
}

// The folder chooseProgramFolder settles on, as a path alone.
fs::path chosenFolder(const fs::path& exeFolder, const char* xdgDataHome, const char* home) {
    // The effective ids decide whether the program can write there.
    if (faccessat(AT_FDCWD, exeFolder.c_str(), W_OK, AT_EACCESS) == 0)
        return exeFolder;
    fs::path dataHome;
    if (xdgDataHome && *xdgDataHome && fs::path(xdgDataHome).is_absolute()) {
        dataHome = xdgDataHome;
    } else {
        dataHome = fs::path(home && *home ? home : "/tmp") / ".local" / "share";
    }
    return dataHome / "bastionwatch";
}

const char* homeFolder() {
    const char* home = getenv("HOME");
    if (!home || !*home) {
        // No HOME in the environment (a service, say): the account's own home folder.
        const passwd* account = getpwuid(getuid());
        home = account ? account->pw_dir : nullptr;
    }
    return home;
}

}  // namespace

fs::path chooseProgramFolder(const fs::path& exeFolder, const char* xdgDataHome, const char* home) {
    fs::path folder = chosenFolder(exeFolder, xdgDataHome, home);
    if (folder == exeFolder)
        return folder;
    std::error_code ec;
    fs::create_directories(folder, ec);
    carryFilesOver(exeFolder, folder);
    return folder;
}

fs::path programFolderAsItIs() {
    const char* home = homeFolder();
    const fs::path exeFolder = executableFolder();
    fs::path placed =
        placedProgramFolder(exeFolder, installedBinFolder(), getenv("BASTIONWATCH_HOME"),
                            getenv("XDG_DATA_HOME"), home);
    return placed.empty() ? chosenFolder(exeFolder, getenv("XDG_DATA_HOME"), home) : placed;
}

fs::path programFolder() {
    const char* home = homeFolder();
    const fs::path exeFolder = executableFolder();
    fs::path placed =
        placedProgramFolder(exeFolder, installedBinFolder(), getenv("BASTIONWATCH_HOME"),
                            getenv("XDG_DATA_HOME"), home);
    if (!placed.empty()) {
        std::error_code ec;
        fs::create_directories(placed, ec);  // a failure shows when the blocklist is opened
        return placed;
    }
    return chooseProgramFolder(exeFolder, getenv("XDG_DATA_HOME"), home);
}

}  // namespace bw
