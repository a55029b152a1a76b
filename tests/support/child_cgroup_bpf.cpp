// What the kernel's BPF side says about cgroup programs: whether it takes the
// guard's kind at all, and how many are attached to a folder.

#include <bpf/bpf.h>
#include <bpf/libbpf.h>
#include <fcntl.h>
#include <unistd.h>

#include "support/child_cgroup.h"

namespace bw::test {

std::string kernelRefusesCgroupPrograms() {
    if (libbpf_probe_bpf_prog_type(BPF_PROG_TYPE_CGROUP_SOCK_ADDR, nullptr) != 1)
        return "this kernel (or this process) may not load cgroup socket-address programs";
    if (libbpf_probe_bpf_map_type(BPF_MAP_TYPE_RINGBUF, nullptr) != 1)
        return "this kernel has no BPF ring buffer";
    if (libbpf_probe_bpf_helper(BPF_PROG_TYPE_CGROUP_SOCK_ADDR, BPF_FUNC_loop, nullptr) != 1)
        return "this kernel has no bpf_loop (Linux 5.17 or later)";
    return {};
}

long attachedPrograms(const std::filesystem::path& cgroup) {
    int fd = open(cgroup.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    long total = 0;
    for (bpf_attach_type type :
         {BPF_CGROUP_INET4_CONNECT, BPF_CGROUP_INET6_CONNECT, BPF_CGROUP_UDP4_SENDMSG,
          BPF_CGROUP_UDP6_SENDMSG, BPF_CGROUP_INET_INGRESS, BPF_CGROUP_INET_EGRESS}) {
        __u32 count = 0;
        if (bpf_prog_query(fd, type, 0, nullptr, nullptr, &count) != 0) {
            total = -1;
            break;
        }
        total += count;
    }
    close(fd);
    return total;
}

}  // namespace bw::test
