#pragma once

#include <cstdio>
#include <filesystem>
#include <string_view>

namespace bw {

// A start that finds another copy holding the program folder: hands its
// bwdat:// link to that copy (or, for the window, asks it to come to the
// front), says on the streams what came of it, and returns the exit status.
// The console guard started without a link only says that one already runs.
int deferToRunningCopy(const std::filesystem::path& folder, std::string_view argument, bool window,
                       std::FILE* out, std::FILE* err);

}  // namespace bw
