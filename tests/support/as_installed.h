#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace bw::test {

// A copy of an executable as a package installs it: in a folder of its own
// that any user may enter, and with fileCapabilities holding
// cap_bpf,cap_net_admin+ep as the kernel helper does. `problem` says why no
// copy could be made (not root, no setcap, a file system without them).
// Removed with its folder at the end of its scope.
struct InstalledCopy {
    InstalledCopy(const std::filesystem::path& original, bool fileCapabilities);
    ~InstalledCopy();
    InstalledCopy(const InstalledCopy&) = delete;
    InstalledCopy& operator=(const InstalledCopy&) = delete;

    std::filesystem::path folder;
    std::filesystem::path executable;
    std::string problem;
};

// The command that runs a program as the unprivileged user nobody, never with
// CAP_PERFMON or CAP_SYS_ADMIN. With unitCapabilities it gets the ambient
// capabilities, bounding set and no-new-privileges the service's unit names
// (read from the unit file itself); without, only file capabilities give it any.
std::vector<std::string> asOrdinaryUser(bool unitCapabilities);

// Why programs cannot be run as another user here; empty when they can.
std::string whyNotAsOrdinaryUser();

// Lets the ordinary user into a folder made by root (a child cgroup, a home).
void openToEveryone(const std::filesystem::path& folder);

}  // namespace bw::test
