#pragma once

// Where the kernel guard's benches run: a private network namespace with its
// loopback up, and a child cgroup made for the run (never the machine's root
// cgroup), which BASTIONWATCH_CGROUP names.

#include <errno.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/mountinfo.h"

namespace bw::bench {

inline bool fail(const char* bench, const char* what) {
    std::fprintf(stderr, "%s: %s: %s\n", bench, what, std::strerror(errno));
    return false;
}

inline bool enterPrivateNetwork(const char* bench) {
    if (unshare(CLONE_NEWNET) != 0)
        return fail(bench, "cannot create a private network namespace");
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    close(fd);
    return up || fail(bench, "cannot bring loopback up");
}

inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A cgroup for this run; this process moves in, BASTIONWATCH_CGROUP names it.
struct BenchCgroup {
    bool make(const char* bench) {
        auto mount = cgroup2MountPoint(readText("/proc/self/mountinfo"));
        if (!mount)
            return fail(bench, "no cgroup v2 mount");
        home = *mount;
        path = *mount / ("bastionwatch-bench-" + std::to_string(getpid()));
        if (!std::filesystem::create_directory(path))
            return fail(bench, "cannot create the bench cgroup");
        std::ofstream(path / "cgroup.procs") << getpid() << std::flush;
        setenv("BASTIONWATCH_CGROUP", path.c_str(), 1);
        return true;
    }
    ~BenchCgroup() {
        if (path.empty())
            return;
        std::ofstream(home / "cgroup.procs") << getpid() << std::flush;
        rmdir(path.c_str());
    }
    std::filesystem::path home;
    std::filesystem::path path;
};

}  // namespace bw::bench
