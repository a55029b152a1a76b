#pragma once

// Reading /proc/self/mountinfo text: a pure parser, the file is read by its caller.

#include <filesystem>
#include <optional>
#include <string_view>

namespace bw {

// The mount point of the cgroup v2 hierarchy, read from /proc/self/mountinfo text.
std::optional<std::filesystem::path> cgroup2MountPoint(std::string_view mountinfo);

}  // namespace bw
