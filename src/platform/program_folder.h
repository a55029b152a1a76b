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
// The same folder, found without creating it or copying anything into it: for
// a command that only reads what the program keeps there.
std::filesystem::path programFolderAsItIs();

// The rule itself, for tests: chooses between the two candidates.
std::filesystem::path chooseProgramFolder(const std::filesystem::path& exeFolder,
                                          const char* xdgDataHome, const char* home);

// Where an installed program, or one told where by BASTIONWATCH_HOME, keeps
// its files; empty when neither applies (a program run from a build folder),
// and programFolder() then follows chooseProgramFolder's rule. In order:
// BASTIONWATCH_HOME when it is set (the window and the console guard alike; the
// service sets it to its state folder); for an executable in the install
// prefix's bin folder, $XDG_DATA_HOME/bastionwatch (by default
// ~/.local/share/bastionwatch).
std::filesystem::path placedProgramFolder(const std::filesystem::path& exeFolder,
                                          const std::filesystem::path& installedBinFolder,
                                          const char* bastionwatchHome, const char* xdgDataHome,
                                          const char* home);

// The install prefix's bin folder this build was configured for.
std::filesystem::path installedBinFolder();

// The example blocklist to point a user without a blocklist at: the installed
// copy for an installed program, the checkout's examples/ for a build.
std::filesystem::path exampleBlocklist();

}  // namespace bw
