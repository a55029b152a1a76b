// The capabilities in this process's effective set, as capget reports them.

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/capability_probe.h"

namespace bw {

namespace {

struct EffectiveCapabilities {
    __user_cap_data_struct data[2]{};
    bool known = false;

    EffectiveCapabilities() {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        known = syscall(SYS_capget, &header, data) == 0;
    }

    bool holds(int capability) const {
        return known && (data[capability / 32].effective & (1u << (capability % 32))) != 0;
    }
};

}  // namespace

// CAP_BPF came with kernel 5.8; before it CAP_SYS_ADMIN stood for it.
bool holdsKernelGuardCapabilities() {
    const EffectiveCapabilities held;
    return held.holds(CAP_NET_ADMIN) && (held.holds(CAP_BPF) || held.holds(CAP_SYS_ADMIN));
}

bool canCloseConnections() {
    return EffectiveCapabilities().holds(CAP_NET_ADMIN);
}

}  // namespace bw
