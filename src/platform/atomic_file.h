#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace bw {

struct WriteResult {
    bool ok = true;
    std::string error;  // what failed, for the user, when !ok
    explicit operator bool() const { return ok; }
};

// Replaces the file whole: the bytes go to a temporary file in the same folder,
// are flushed to disk and then renamed over the target, and the folder is
// synced. On any failure the old file is left as it was.
WriteResult writeFileAtomically(const std::filesystem::path& target, std::string_view bytes);

}  // namespace bw
