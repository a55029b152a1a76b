#pragma once

// What this process may do to the network stack, asked of the kernel itself
// rather than assumed from the user id: root without capabilities (a container,
// a unit that drops them) may do nothing, an ordinary user with them may.

namespace bw {

// Whether this process may load and attach the kernel guard's programs:
// CAP_NET_ADMIN and CAP_BPF (CAP_SYS_ADMIN on kernels older than 5.8).
bool holdsKernelGuardCapabilities();

// Whether this process may close other programs' connections (CAP_NET_ADMIN).
bool canCloseConnections();

}  // namespace bw
