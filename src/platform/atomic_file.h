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
// synced. On any failure the old file is left as it was. A target that is a
// symbolic link stays one: the file it points to is replaced, beside itself.
WriteResult writeFileAtomically(const std::filesystem::path& target, std::string_view bytes);

// Removes the temporary files writeFileAtomically leaves behind for that file
// name when the program is killed in the middle of a save.
void removeStaleTemporaryFiles(const std::filesystem::path& folder, std::string_view fileName);

}  // namespace bw
