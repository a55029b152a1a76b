#pragma once

// What the kernel programs and their loader share: the layout of the interval
// table and the refusal event. Plain UAPI types only, so the
// BPF compiler and the C++ compiler read the same bytes.

#include <linux/types.h>

// Slot 0 of an interval table holds the count in `first`; intervals follow
// from slot 1, sorted and disjoint, bounds inclusive, addresses in host order.
struct KernelInterval {
    __u32 first;
    __u32 last;
};

// The largest table the programs search: 2^21 - 1 intervals, so 21 halvings
// always finish the search.
#define BW_MAX_INTERVALS ((1u << 21) - 1)
#define BW_SEARCH_STEPS 22

#define BW_DIRECTION_OUT 0
#define BW_DIRECTION_IN 1

struct KernelRefusalEvent {
    __u32 address;  // IPv4, host order
    __u32 pid;      // 0 for packets coming in
    __u16 port;     // the peer's port, host order
    __u8 protocol;  // IPPROTO_TCP, IPPROTO_UDP, ...
    __u8 direction;
};
