#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace bw {

struct FileBytes {
    bool ok = false;
    std::string bytes;
    int errorNumber = 0;  // errno of the failure, when !ok
    std::string error;    // the same, for people
    // Set by readRegularFile when it refused the file without reading it.
    bool notRegular = false;
    bool tooLarge = false;
    std::uint64_t size = 0;  // the file's size, when it was measured
};

// Reads the file whole, so no handle outlives the call.
FileBytes readWholeFile(const std::filesystem::path& file);

// Reads the file whole only when it is a regular file of at most maxBytes: a
// pipe, device or folder is refused without waiting on it, a larger file
// without reading it.
FileBytes readRegularFile(const std::filesystem::path& file, std::uint64_t maxBytes);

// The same, but an absent file is created empty first, as the program's own
// files are on first start.
FileBytes readOrCreateFile(const std::filesystem::path& file);

}  // namespace bw
