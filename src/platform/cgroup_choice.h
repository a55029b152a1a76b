#pragma once

// Which cgroup v2 folder the kernel guard attaches to.

#include <filesystem>
#include <string>

namespace bw {

// The folder the programs attach to: BASTIONWATCH_CGROUP when set, else the
// root of the cgroup v2 mount. Empty, with the reason, when there is none or
// when BASTIONWATCH_CGROUP is set but empty. Whether it is a cgroup v2 folder
// is checked on the opened folder itself when the guard attaches.
std::filesystem::path guardedCgroup(std::string& whyNot);

}  // namespace bw
