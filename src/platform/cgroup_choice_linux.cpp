#include "platform/cgroup_choice.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/mountinfo.h"

namespace bw {

namespace {

constexpr const char* kCgroupVariable = "BASTIONWATCH_CGROUP";

}  // namespace

std::filesystem::path guardedCgroup(std::string& whyNot) {
    // Set but empty is a mistake, never a request for the whole machine.
    if (const char* chosen = std::getenv(kCgroupVariable)) {
        if (*chosen == '\0')
            whyNot =
                std::string(kCgroupVariable) + " is set but empty; it must name a cgroup v2 folder";
        return chosen;
    }
    std::ifstream file("/proc/self/mountinfo");
    std::stringstream text;
    text << file.rdbuf();
    if (auto mount = cgroup2MountPoint(text.str()))
        return *mount;
    whyNot = "kernel blocking needs a cgroup v2 mount, and there is none";
    return {};
}

}  // namespace bw
