#include <system_error>

#include "platform/program_folder.h"

namespace bw {

namespace fs = std::filesystem;

namespace {

bool sameFolder(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    return !a.empty() && !b.empty() && fs::equivalent(a, b, ec) && !ec;
}

}  // namespace

fs::path placedProgramFolder(const fs::path& exeFolder, const fs::path& installedBinFolder,
                             const char* bastionwatchHome, const char* xdgDataHome,
                             const char* home) {
    if (bastionwatchHome && *bastionwatchHome)
        return fs::absolute(bastionwatchHome);
    if (!sameFolder(exeFolder, installedBinFolder))
        return {};
    fs::path dataHome;
    if (xdgDataHome && *xdgDataHome && fs::path(xdgDataHome).is_absolute()) {
        dataHome = xdgDataHome;
    } else {
        dataHome = fs::path(home && *home ? home : "/tmp") / ".local" / "share";
    }
    return dataHome / "bastionwatch";
}

fs::path installedBinFolder() {
    return BW_INSTALLED_BIN_FOLDER;
}

fs::path exampleBlocklist() {
    if (sameFolder(executableFolder(), installedBinFolder()))
        return BW_INSTALLED_EXAMPLE_BLOCKLIST;
    return BW_SOURCE_EXAMPLE_BLOCKLIST;
}

}  // namespace bw
