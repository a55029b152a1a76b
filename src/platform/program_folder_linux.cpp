#include "platform/program_folder.h"

#include <pwd.h>
#include <unistd.h>

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

fs::path chooseProgramFolder(const fs::path& exeFolder, const char* xdgDataHome, const char* home) {
    if (access(exeFolder.c_str(), W_OK) == 0)
        return exeFolder;
    fs::path dataHome;
    if (xdgDataHome && *xdgDataHome && fs::path(xdgDataHome).is_absolute()) {
        dataHome = xdgDataHome;
    } else {
        dataHome = fs::path(home && *home ? home : "/tmp") / ".local" / "share";
    }
    fs::path folder = dataHome / "bastionwatch";
    std::error_code ec;
    fs::create_directories(folder, ec);
    return folder;
}

fs::path programFolder() {
    const char* home = getenv("HOME");
    if (!home || !*home) {
        // No HOME in the environment (a service, say): the account's own home folder.
        const passwd* account = getpwuid(getuid());
        home = account ? account->pw_dir : nullptr;
    }
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
