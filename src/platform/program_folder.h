#pragma once

#include <filesystem>

namespace bw {

// The running executable, and the folder that holds it.
std::filesystem::path executablePath();
std::filesystem::path executableFolder();

// Where the program keeps its files: the executable's folder, or, when that
// folder is not writable (an installed copy under /usr),
// $XDG_DATA_HOME/bastionwatch (by default ~/.local/share/bastionwatch). On
// that switch, the program's files found beside the executable and not yet in
// the new folder are copied there first.
std::filesystem::path programFolder();

// The rule itself, for tests: chooses between the two candidates.
std::filesystem::path chooseProgramFolder(const std::filesystem::path& exeFolder,
                                          const char* xdgDataHome, const char* home);

}  // namespace bw
