#pragma once

#include <filesystem>
#include <string>

namespace bw {

struct FileBytes {
    bool ok = false;
    std::string bytes;
    std::string error;  // why the file could not be read, when !ok
};

// Reads the file whole; an absent file is created empty first, as the
// program's own files are on first start.
FileBytes readOrCreateFile(const std::filesystem::path& file);

}  // namespace bw
