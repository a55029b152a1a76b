#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace bw {

struct UniqueFile {
    std::filesystem::path path;  // empty when none could be made
    std::string error;           // why not, for the user
};

// A new, empty file of its own, "<stem>.XXXXXX<suffix>" with six random
// characters, made exclusively: no other writer, in this process or another,
// is handed the same file.
UniqueFile createUniqueFile(const std::filesystem::path& stem, std::string_view suffix);

}  // namespace bw
