#include "support/child_cgroup.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/mountinfo.h"

namespace bw::test {

namespace {

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool movePidInto(const std::filesystem::path& cgroup) {
    std::ofstream procs(cgroup / "cgroup.procs");
    procs << getpid() << std::flush;
    return procs.good();
}

// The process's own place in the v2 hierarchy: the "0::" line of /proc/self/cgroup.
std::filesystem::path ownCgroup(const std::filesystem::path& mount) {
    std::istringstream lines(readText("/proc/self/cgroup"));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("0::", 0) == 0)
            return mount / std::filesystem::path(line.substr(3)).relative_path();
    }
    return mount;
}

}  // namespace

ChildCgroup::ChildCgroup(bool enter) {
    auto mount = cgroup2MountPoint(readText("/proc/self/mountinfo"));
    if (!mount) {
        problem_ = "no cgroup v2 mount";
        return;
    }
    static int made = 0;
    home_ = ownCgroup(*mount);
    path_ =
        *mount / ("bastionwatch-test-" + std::to_string(getpid()) + "-" + std::to_string(made++));
    std::error_code error;
    if (!std::filesystem::create_directory(path_, error)) {
        problem_ = "cannot create " + path_.string() + ": " + error.message();
        path_.clear();
        return;
    }
    setenv("BASTIONWATCH_CGROUP", path_.c_str(), 1);
    if (enter && !movePidInto(path_)) {
        problem_ = "cannot move into " + path_.string();
        return;
    }
    entered_ = enter;
}

ChildCgroup::~ChildCgroup() {
    if (path_.empty())
        return;
    unsetenv("BASTIONWATCH_CGROUP");
    if (entered_)
        movePidInto(home_);
    // A process of the test may still be on its way out (a helper ending after
    // its parent): the folder goes once it is empty.
    for (int tries = 0; tries < 500 && rmdir(path_.c_str()) != 0 && errno == EBUSY; ++tries)
        usleep(10000);
}

void inChildCgroup(Findings& f, const std::function<void(const ChildCgroup&)>& scenario) {
    if (std::string why = kernelRefusesCgroupPrograms(); !why.empty()) {
        f.set("skip", why);
        return;
    }
    ChildCgroup cgroup;
    if (!cgroup.ok()) {
        f.set("skip", "no child cgroup: " + cgroup.problem());
        return;
    }
    scenario(cgroup);
}

int udpConnectError(const char* address) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(53);
    inet_pton(AF_INET, address, &to.sin_addr);
    int error = connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 ? 0 : errno;
    close(fd);
    return error;
}

long attachedOnceSettled(const std::filesystem::path& cgroup) {
    long attached = attachedPrograms(cgroup);
    for (int i = 0; i < 1000 && attached != 0; ++i) {
        usleep(10000);
        attached = attachedPrograms(cgroup);
    }
    return attached;
}

}  // namespace bw::test
