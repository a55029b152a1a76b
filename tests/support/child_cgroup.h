#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "support/network_namespace.h"

namespace bw::test {

// A cgroup v2 folder made for one test under the cgroup2 mount, with
// BASTIONWATCH_CGROUP naming it, so a kernel guard started now (or by a child
// process) attaches there and never to the machine's root cgroup. With enter,
// the calling process moves into it too. Gone again at the end of its scope:
// the process moves back first.
class ChildCgroup {
public:
    explicit ChildCgroup(bool enter = true);
    ~ChildCgroup();
    ChildCgroup(const ChildCgroup&) = delete;
    ChildCgroup& operator=(const ChildCgroup&) = delete;

    bool ok() const { return problem_.empty(); }
    const std::string& problem() const { return problem_; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::filesystem::path home_;  // the cgroup the process came from
    std::string problem_;
    bool entered_ = false;
};

// Why this kernel takes no cgroup programs at all (empty when it does): the
// one case in which the kernel guard's tests skip.
std::string kernelRefusesCgroupPrograms();

// Runs the scenario in a child cgroup made for it; where the kernel takes no
// cgroup programs or no child cgroup can be made, the finding "skip" says why
// instead.
void inChildCgroup(Findings& f, const std::function<void(const ChildCgroup&)>& scenario);

// How many programs are attached to the cgroup over the guard's six hooks; -1
// when the kernel cannot say.
long attachedPrograms(const std::filesystem::path& cgroup);
// The same once the count has settled at 0: links go when their last
// descriptor closes, which the kernel finishes asynchronously (a hang guard,
// not a measure).
long attachedOnceSettled(const std::filesystem::path& cgroup);

// The errno of a UDP connect() to the address on port 53, 0 when it went
// through: the kernel guard refuses it before any packet is sent.
int udpConnectError(const char* address);

}  // namespace bw::test
