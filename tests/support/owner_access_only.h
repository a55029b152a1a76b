#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace bw::test {

// While it lives, this thread is held to the file permission bits like an
// ordinary user, also when the tests run as root: the capabilities that let
// root read and write any file are dropped from its effective set, and given
// back at the end.
class OwnerAccessOnly {
public:
    OwnerAccessOnly() {
        capget();
        saved_[0] = data_[0];
        saved_[1] = data_[1];
        data_[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        capset();
    }
    ~OwnerAccessOnly() {
        data_[0] = saved_[0];
        data_[1] = saved_[1];
        capset();
    }
    OwnerAccessOnly(const OwnerAccessOnly&) = delete;
    OwnerAccessOnly& operator=(const OwnerAccessOnly&) = delete;

private:
    void capget() { ::syscall(SYS_capget, &header_, data_); }
    void capset() { ::syscall(SYS_capset, &header_, data_); }

    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data_[2]{};
    __user_cap_data_struct saved_[2]{};
};

}  // namespace bw::test
