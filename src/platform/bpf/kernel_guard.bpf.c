// The kernel half of the guard: cgroup hooks that refuse connections to, and
// packets from, banned IPv4 addresses before anything reaches the wire, and
// report each refusal through a ring buffer. Built against UAPI headers only,
// so one object loads on every kernel that has these hooks.

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

// One slot, replaced whole: a lookup sees the old table or the new one, never a mix.
struct {
    __uint(type, BPF_MAP_TYPE_ARRAY_OF_MAPS);
    __uint(max_entries, 1);
    __type(key, __u32);
    __array(values, struct interval_table);
} bw_tables SEC(".maps");

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
    void* table = bpf_map_lookup_elem(&bw_tables, &zero);
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

static __always_inline void report(__u32 address, __u16 port, __u8 protocol, __u8 direction,
                                   int from_process) {
    struct KernelRefusalEvent* e = bpf_ringbuf_reserve(&bw_events, sizeof(*e), 0);
    if (!e) {
        __sync_fetch_and_add(&bw_lost, 1);
        return;
    }
    e->address = address;
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

// 1 lets the call through; 0 makes it fail with EPERM.
static __always_inline int check_address(struct bpf_sock_addr* ctx, __u32 address_be) {
    if (!blocking_on())
        return 1;
    __u32 address = bpf_ntohl(address_be);
    if (!banned(address))
        return 1;
    report(address, bpf_ntohs((__u16)ctx->user_port), (__u8)ctx->protocol, BW_DIRECTION_OUT, 1);
    return 0;
}

static __always_inline int check_address6(struct bpf_sock_addr* ctx) {
    __u32 ip6[4] = {ctx->user_ip6[0], ctx->user_ip6[1], ctx->user_ip6[2], ctx->user_ip6[3]};
    if (!is_v4_mapped(ip6))
        return 1;
    return check_address(ctx, ip6[3]);
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

// The peer of an IPv4 packet (or of an IPv6 packet carrying an IPv4-mapped
// address), its protocol and where its transport header starts; 0 when the
// packet has none of these.
static __always_inline int packet_peer(struct __sk_buff* skb, int source, __u32* peer_be,
                                       __u8* protocol, __u32* transport) {
    if (skb->protocol == bpf_htons(ETH_P_IP)) {
        struct iphdr ip;
        if (bpf_skb_load_bytes(skb, 0, &ip, sizeof(ip)))
            return 0;
        *peer_be = source ? ip.saddr : ip.daddr;
        *protocol = ip.protocol;
        *transport = ip.ihl * 4;
        return 1;
    }
    if (skb->protocol == bpf_htons(ETH_P_IPV6)) {
        struct ipv6hdr ip6;
        if (bpf_skb_load_bytes(skb, 0, &ip6, sizeof(ip6)))
            return 0;
        const __u32* peer = source ? ip6.saddr.in6_u.u6_addr32 : ip6.daddr.in6_u.u6_addr32;
        if (!is_v4_mapped(peer))
            return 0;
        *peer_be = peer[3];
        *protocol = ip6.nexthdr;
        *transport = sizeof(ip6);
        return 1;
    }
    return 0;
}

// Packets to a banned address are dropped as they leave: datagrams of a UDP
// socket connected before the ban, ping sockets and raw sockets never pass
// connect() or sendmsg() with an address.
SEC("cgroup_skb/egress")
int bw_egress(struct __sk_buff* skb) {
    if (!blocking_on())
        return 1;
    __u32 destination_be = 0;
    __u8 protocol = 0;
    __u32 transport = 0;
    if (!packet_peer(skb, 0, &destination_be, &protocol, &transport))
        return 1;
    __u32 destination = bpf_ntohl(destination_be);
    if (!banned(destination))
        return 1;
    report(destination, peer_port(skb, transport + 2, protocol), protocol, BW_DIRECTION_OUT, 0);
    return 0;
}

// Packets from a banned source are dropped, so nobody on the list connects in.
SEC("cgroup_skb/ingress")
int bw_ingress(struct __sk_buff* skb) {
    if (!blocking_on())
        return 1;
    __u32 source_be = 0;
    __u8 protocol = 0;
    __u32 transport = 0;
    if (!packet_peer(skb, 1, &source_be, &protocol, &transport))
        return 1;
    __u32 source = bpf_ntohl(source_be);
    if (!banned(source))
        return 1;
    report(source, peer_port(skb, transport, protocol), protocol, BW_DIRECTION_IN, 0);
    return 0;
}
