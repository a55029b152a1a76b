#pragma once

#include <filesystem>
#include <string>

namespace bw {

struct FileBytes {
    bool ok = false;
    std::string bytes;
    int errorNumber = 0;  // errno of the failure, when !ok
    std::string error;    // the same, for people
};

// Reads the file whole, so no handle outlives the call.
FileBytes readWholeFile(const std::filesystem::path& file);

// The same, but an absent file is created empty first, as the program's own
// files are on first start.
FileBytes readOrCreateFile(const std::filesystem::path& file);

}  // namespace bw
