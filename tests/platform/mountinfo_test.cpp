#include "platform/mountinfo.h"

#include <gtest/gtest.h>

#include <string>

namespace bw {
namespace {

TEST(Cgroup2Mount, IsFoundFromMountinfo) {
    struct Case {
        const char* mountinfo;
        const char* expected;  // empty: none
    } cases[] = {
        {"40 30 0:37 / /sys/fs/cgroup/unified rw,relatime shared:9 - cgroup2 cgroup2 rw\n",
         "/sys/fs/cgroup/unified"},
        {"22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
         "31 22 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw,nsdelegate\n",
         "/sys/fs/cgroup"},
        {"31 22 0:26 / /mnt/my\\040groups rw - cgroup2 none rw\n", "/mnt/my groups"},
        {"35 30 0:31 / /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu\n", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        auto found = cgroup2MountPoint(c.mountinfo);
        EXPECT_EQ(found ? found->string() : std::string(), c.expected) << c.mountinfo;
    }
}

}  // namespace
}  // namespace bw
