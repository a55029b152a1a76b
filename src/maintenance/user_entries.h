#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/atomic_file.h"

namespace bw {

// The entries the user added through the add dialog and links, one line each,
// in a file beside the blocklist. An update replaces the blocklist with the
// server's; this record is what carries the user's own entries into it.
class UserEntries {
public:
    explicit UserEntries(std::filesystem::path file) : file_(std::move(file)) {}

    std::vector<std::string> lines() const;
    // Each adds or takes out all the lines in one atomic save.
    WriteResult remember(const std::vector<std::string>& added);
    // Takes out, for each line, the first line equal to it, if any.
    WriteResult forget(const std::vector<std::string>& removed);

private:
    WriteResult save(const std::vector<std::string>& lines);

    std::filesystem::path file_;
};

// The blocklist text with each entry it does not already hold as a line
// appended, one per CR LF line.
std::string withUserEntries(std::string list, const std::vector<std::string>& entries);

}  // namespace bw
