// The kernel half of the guard: cgroup hooks that refuse connections to, and
// packets from, banned addresses before anything reaches the wire, and
// report each refusal through a ring buffer. IPv4 and native IPv6 each have a
// table; an IPv4-mapped IPv6 address is looked up as the IPv4 address. Built against UAPI headers
// only, so one object loads on every kernel that has these hooks.

#include <linux/bpf.h>
#include <linux/if_ether.h>
#include <linux/in.h>
#include <linux/ip.h>
#include <linux/ipv6.h>

#include <bpf/bpf_endian.h>
#include <bpf/bpf_helpers.h>

#include "kernel_guard_shared.h"

char LICENSE[] SEC("license") = "GPL";

// Sized by the loader for each table it builds. Sizes rather than types: the
// compiler keeps only a forward declaration of a struct seen through pointers.
struct interval_table {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(map_flags, BPF_F_INNER_MAP);
    __uint(max_entries, 1);
    __uint(key_size, sizeof(__u32));
    __uint(value_size, sizeof(struct KernelInterval));
};

struct interval_table6 {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(map_flags, BPF_F_INNER_MAP);
    __uint(max_entries, 1);
    __uint(key_size, sizeof(__u32));
    __uint(value_size, sizeof(struct KernelInterval6));
};

// Two generations of the pair of tables, one per family. The loader fills the
// slots of the generation not in force, then switches bw_generation: a lookup
// sees the old pair or the new one, never a mix of two tables, a half-filled
// one or none.
struct {
    __uint(type, BPF_MAP_TYPE_ARRAY_OF_MAPS);
    __uint(max_entries, 2);
    __type(key, __u32);
    __array(values, struct interval_table);
} bw_tables SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_ARRAY_OF_MAPS);
    __uint(max_entries, 2);
    __type(key, __u32);
    __array(values, struct interval_table6);
} bw_tables6 SEC(".maps");

__u32 bw_generation = 0;  // the slot of both outer maps in force

// Settings and the lost count are globals, reached by the loader through the
// skeleton: single-slot maps looked up with stack keys make the verifier spill
// and overwrite pointers, which it refuses without CAP_PERFMON.
__u32 bw_blocking = 0;  // 0: everything passes

struct {
    __uint(type, BPF_MAP_TYPE_RINGBUF);
    __uint(max_entries, 256 * 1024);
} bw_events SEC(".maps");

// Refusals that found the ring buffer full: still refused, counted here.
__u64 bw_lost = 0;

static __always_inline int blocking_on(void) {
    return *(volatile __u32*)&bw_blocking != 0;
}

static __always_inline __u32 generation(void) {
    return *(volatile __u32*)&bw_generation & 1;
}

struct search {
    void* table;
    __u32 address;
    __u32 low;  // the first slot starting above the address lies in [low, high]
    __u32 high;
    int failed;
};

// One halving; bpf_loop runs it, so the verifier checks it once instead of
// walking every path of an unrolled search.
static long search_step(__u32 index, void* context) {
    struct search* s = context;
    if (s->low >= s->high)
        return 1;
    __u32 middle = s->low + (s->high - s->low) / 2;
    struct KernelInterval* slot = bpf_map_lookup_elem(s->table, &middle);
    if (!slot) {
        s->failed = 1;
        return 1;
    }
    if (slot->first <= s->address)
        s->low = middle + 1;
    else
        s->high = middle;
    return 0;
}

// Bounded binary search for the last interval starting at or below the
// address, in the table as it was when the search began. A function of its own
// so that its stack frame, which holds the table pointer, is never reused by
// the caller: without CAP_PERFMON the verifier refuses overwriting a spilled
// pointer.
static __noinline int banned(__u32 address) {
    __u32 zero = 0;
    __u32 slot_in_force = generation();
    void* table = bpf_map_lookup_elem(&bw_tables, &slot_in_force);
    if (!table)
        return 0;
    struct KernelInterval* head = bpf_map_lookup_elem(table, &zero);
    if (!head)
        return 0;
    __u32 count = head->first;
    if (count > BW_MAX_INTERVALS)
        count = BW_MAX_INTERVALS;
    struct search s = {.table = table, .address = address, .low = 1, .high = count + 1};
    bpf_loop(BW_SEARCH_STEPS, search_step, &s, 0);
    if (s.failed || s.low < 2)
        return 0;
    __u32 found = s.low - 1;
    struct KernelInterval* slot = bpf_map_lookup_elem(table, &found);
    return slot && address >= slot->first && address <= slot->last;
}

// An IPv6 address as two numbers, the first byte most significant.
struct address6 {
    __u64 high;
    __u64 low;
};

static __always_inline int at_or_below(__u64 high, __u64 low, const struct address6* a) {
    return high < a->high || (high == a->high && low <= a->low);
}

struct search6 {
    void* table;
    struct address6 address;
    __u32 low;  // as in struct search
    __u32 high;
    int failed;
};

static long search_step6(__u32 index, void* context) {
    struct search6* s = context;
    if (s->low >= s->high)
        return 1;
    __u32 middle = s->low + (s->high - s->low) / 2;
    struct KernelInterval6* slot = bpf_map_lookup_elem(s->table, &middle);
    if (!slot) {
        s->failed = 1;
        return 1;
    }
    if (at_or_below(slot->firstHigh, slot->firstLow, &s->address))
        s->low = middle + 1;
    else
        s->high = middle;
    return 0;
}

// The IPv6 table's search, as banned() searches the IPv4 one.
static __noinline int banned6(__u64 high, __u64 low) {
    __u32 zero = 0;
    __u32 slot_in_force = generation();
    void* table = bpf_map_lookup_elem(&bw_tables6, &slot_in_force);
    if (!table)
        return 0;
    struct KernelInterval6* head = bpf_map_lookup_elem(table, &zero);
    if (!head)
        return 0;
    __u64 count = head->firstLow;
    if (count > BW_MAX_INTERVALS)
        count = BW_MAX_INTERVALS;
    struct search6 s = {.table = table, .address = {high, low}, .low = 1, .high = (__u32)count + 1};
    bpf_loop(BW_SEARCH_STEPS, search_step6, &s, 0);
    if (s.failed || s.low < 2)
        return 0;
    __u32 found = s.low - 1;
    struct KernelInterval6* slot = bpf_map_lookup_elem(table, &found);
    if (!slot)
        return 0;
    struct address6 a = {high, low};
    return at_or_below(slot->firstHigh, slot->firstLow, &a) &&
           at_or_below(high, low, &(struct address6){slot->lastHigh, slot->lastLow});
}

// peer: the IPv4 address, or an IPv6 one when family is BW_FAMILY_V6.
static __always_inline void report(__u32 family, __u32 address, const struct address6* address6,
                                   __u16 port, __u8 protocol, __u8 direction, int from_process) {
    struct KernelRefusalEvent* e = bpf_ringbuf_reserve(&bw_events, sizeof(*e), 0);
    if (!e) {
        __sync_fetch_and_add(&bw_lost, 1);
        return;
    }
    e->family = family;
    e->address = address;
    e->address6High = address6 ? address6->high : 0;
    e->address6Low = address6 ? address6->low : 0;
    e->port = port;
    e->protocol = protocol;
    e->direction = direction;
    // The command name is read from /proc by the loader: bpf_get_current_comm
    // needs CAP_PERFMON, which the guard does not hold.
    e->pid = from_process ? bpf_get_current_pid_tgid() >> 32 : 0;
    bpf_ringbuf_submit(e, 0);
}

static __always_inline int is_v4_mapped(const __u32 ip6[4]) {
    return ip6[0] == 0 && ip6[1] == 0 && ip6[2] == bpf_htonl(0xffff);
}

static __always_inline struct address6 address6_of(const __u32 ip6_be[4]) {
    struct address6 a = {((__u64)bpf_ntohl(ip6_be[0]) << 32) | bpf_ntohl(ip6_be[1]),
                         ((__u64)bpf_ntohl(ip6_be[2]) << 32) | bpf_ntohl(ip6_be[3])};
    return a;
}

// 1 lets the call through; 0 makes it fail with EPERM.
static __always_inline int check_address(struct bpf_sock_addr* ctx, __u32 address_be) {
    if (!blocking_on())
        return 1;
    __u32 address = bpf_ntohl(address_be);
    if (!banned(address))
        return 1;
    report(BW_FAMILY_V4, address, 0, bpf_ntohs((__u16)ctx->user_port), (__u8)ctx->protocol,
           BW_DIRECTION_OUT, 1);
    return 0;
}

static __always_inline int check_address6(struct bpf_sock_addr* ctx) {
    __u32 ip6[4] = {ctx->user_ip6[0], ctx->user_ip6[1], ctx->user_ip6[2], ctx->user_ip6[3]};
    if (is_v4_mapped(ip6))
        return check_address(ctx, ip6[3]);
    if (!blocking_on())
        return 1;
    struct address6 a = address6_of(ip6);
    if (!banned6(a.high, a.low))
        return 1;
    report(BW_FAMILY_V6, 0, &a, bpf_ntohs((__u16)ctx->user_port), (__u8)ctx->protocol,
           BW_DIRECTION_OUT, 1);
    return 0;
}

SEC("cgroup/connect4")
int bw_connect4(struct bpf_sock_addr* ctx) {
    return check_address(ctx, ctx->user_ip4);
}

SEC("cgroup/connect6")
int bw_connect6(struct bpf_sock_addr* ctx) {
    return check_address6(ctx);
}

SEC("cgroup/sendmsg4")
int bw_sendmsg4(struct bpf_sock_addr* ctx) {
    return check_address(ctx, ctx->user_ip4);
}

SEC("cgroup/sendmsg6")
int bw_sendmsg6(struct bpf_sock_addr* ctx) {
    return check_address6(ctx);
}

// The peer's port of a TCP or UDP packet, read at the offset of the source port
// (incoming) or the destination port (outgoing).
static __always_inline __u16 peer_port(struct __sk_buff* skb, __u32 offset, __u8 protocol) {
    __u16 port = 0;
    if (protocol == IPPROTO_TCP || protocol == IPPROTO_UDP)
        bpf_skb_load_bytes(skb, offset, &port, sizeof(port));
    return bpf_ntohs(port);
}

// The peer of a packet, its protocol and where its transport header starts; 0
// when the packet has none of these. An IPv4-mapped peer of an IPv6 packet is
// the IPv4 address.
struct packet_peer {
    __u32 family;
    __u32 address;  // IPv4, host order
    struct address6 address6;
    __u8 protocol;
    __u32 transport;
};

static __always_inline int find_packet_peer(struct __sk_buff* skb, int source,
                                            struct packet_peer* peer) {
    if (skb->protocol == bpf_htons(ETH_P_IP)) {
        struct iphdr ip;
        if (bpf_skb_load_bytes(skb, 0, &ip, sizeof(ip)))
            return 0;
        peer->family = BW_FAMILY_V4;
        peer->address = bpf_ntohl(source ? ip.saddr : ip.daddr);
        peer->protocol = ip.protocol;
        peer->transport = ip.ihl * 4;
        return 1;
    }
    if (skb->protocol == bpf_htons(ETH_P_IPV6)) {
        struct ipv6hdr ip6;
        if (bpf_skb_load_bytes(skb, 0, &ip6, sizeof(ip6)))
            return 0;
        const __u32* address = source ? ip6.saddr.in6_u.u6_addr32 : ip6.daddr.in6_u.u6_addr32;
        if (is_v4_mapped(address)) {
            peer->family = BW_FAMILY_V4;
            peer->address = bpf_ntohl(address[3]);
        } else {
            peer->family = BW_FAMILY_V6;
            peer->address6 = address6_of(address);
        }
        peer->protocol = ip6.nexthdr;
        peer->transport = sizeof(ip6);
        return 1;
    }
    return 0;
}

// A packet to (outgoing) or from (incoming) a banned address is dropped.
static __always_inline int check_packet(struct __sk_buff* skb, int incoming) {
    if (!blocking_on())
        return 1;
    struct packet_peer peer = {};
    if (!find_packet_peer(skb, incoming, &peer))
        return 1;
    if (peer.family == BW_FAMILY_V4 ? !banned(peer.address)
                                    : !banned6(peer.address6.high, peer.address6.low))
        return 1;
    // The peer's port is the source port of a packet coming in, the
    // destination port of one going out.
    __u16 port = peer_port(skb, incoming ? peer.transport : peer.transport + 2, peer.protocol);
    report(peer.family, peer.address, &peer.address6, port, peer.protocol,
           incoming ? BW_DIRECTION_IN : BW_DIRECTION_OUT, 0);
    return 0;
}

// Outgoing packets are checked too, which covers what never passes connect()
// or sendmsg() with an address: datagrams of a UDP socket connected before
// the ban, ping sockets and raw sockets.
SEC("cgroup_skb/egress")
int bw_egress(struct __sk_buff* skb) {
    return check_packet(skb, 0);
}

// Packets from a banned source are dropped, so nobody on the list connects in.
SEC("cgroup_skb/ingress")
int bw_ingress(struct __sk_buff* skb) {
    return check_packet(skb, 1);
}
