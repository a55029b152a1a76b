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

// The IPv6 table, laid out the same way: slot 0 holds the count in
// `firstLow`. Each address is two numbers, the first byte most significant.
struct KernelInterval6 {
    __u64 firstHigh;
    __u64 firstLow;
    __u64 lastHigh;
    __u64 lastLow;
};

// The largest table the programs search (either family): 2^21 - 1 intervals, so 21 halvings
// always finish the search.
#define BW_MAX_INTERVALS ((1u << 21) - 1)
#define BW_SEARCH_STEPS 22

#define BW_DIRECTION_OUT 0
#define BW_DIRECTION_IN 1

#define BW_FAMILY_V4 4
#define BW_FAMILY_V6 6

struct KernelRefusalEvent {
    __u32 address;  // IPv4, host order
    __u32 pid;      // 0 for packets coming in
    __u16 port;     // the peer's port, host order
    __u8 protocol;  // IPPROTO_TCP, IPPROTO_UDP, ...
    __u8 direction;
    __u32 family;        // BW_FAMILY_V4 or BW_FAMILY_V6
    __u64 address6High;  // IPv6, when family is BW_FAMILY_V6
    __u64 address6Low;
};
