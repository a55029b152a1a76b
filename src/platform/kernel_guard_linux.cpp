// The kernel guard in this process: loads the programs of
// bpf/kernel_guard.bpf.c through their libbpf skeleton and attaches them to a
// cgroup v2 folder through bpf links, which the kernel drops when the last
// descriptor closes, so nothing stays attached once this process has ended.

#include <bpf/bpf.h>
#include <bpf/libbpf.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "kernel_guard_bpf.skel.h"
#include "kernel_guard_shared.h"
#include "platform/capability_probe.h"
#include "platform/cgroup_choice.h"
#include "platform/kernel_guard.h"

namespace bw {

namespace {

static_assert(sizeof(KernelInterval) == sizeof(AddressInterval));
static_assert(sizeof(KernelInterval6) == sizeof(Address6Interval));
static_assert(BW_MAX_INTERVALS == kMaxKernelIntervals);

constexpr const char* kCapabilityReason =
    "kernel blocking needs the CAP_BPF and CAP_NET_ADMIN capabilities";

std::string errorText(int error) {
    return std::strerror(error < 0 ? -error : error);
}

// libbpf's warnings (the verifier's log among them) are the only account of
// why the kernel refused a program: kept here during the load, and the last of
// them written to standard error when it fails.
std::string libbpfMessages;

int keepLibbpfMessage(libbpf_print_level level, const char* format, va_list arguments) {
    if (level == LIBBPF_DEBUG)
        return 0;
    va_list measuring;
    va_copy(measuring, arguments);
    int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length > 0) {
        std::string line(static_cast<std::size_t>(length) + 1, '\0');
        std::vsnprintf(line.data(), line.size(), format, arguments);
        line.pop_back();
        libbpfMessages += line;
    }
    constexpr std::size_t kKept = 64 * 1024;
    if (libbpfMessages.size() > kKept)
        libbpfMessages.erase(0, libbpfMessages.size() - kKept);
    return 0;
}

// A process's command name, as the kernel keeps it; empty once it has ended.
std::string commandOf(std::uint32_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(file, name);
    return name;
}

// The program libbpf names in "prog 'NAME': failed to load", if it does.
std::string refusedProgram(const std::string& messages) {
    const std::string marker = "': failed to load";
    std::size_t end = messages.rfind(marker);
    if (end == std::string::npos)
        return {};
    std::size_t begin = messages.rfind("prog '", end);
    if (begin == std::string::npos)
        return {};
    begin += 6;
    return messages.substr(begin, end - begin);
}

// The last lines libbpf wrote, where the console guard's and the helper's
// journal keeps them.
void writeLastLibbpfLines(const std::string& messages) {
    constexpr int kLines = 30;
    std::size_t from = messages.size();
    for (int n = 0; n <= kLines && from > 0; ++n) {
        std::size_t newline = messages.rfind('\n', from - 1);
        if (newline == std::string::npos) {
            from = 0;
            break;
        }
        from = newline;
    }
    std::fprintf(stderr, "bastionwatch: the kernel refused the guard's programs; libbpf said:\n%s",
                 messages.c_str() + (from == 0 ? 0 : from + 1));
    std::fflush(stderr);
}

class InProcessKernelGuard : public KernelGuard {
public:
    ~InProcessKernelGuard() override { stop(); }

    bool start(std::string& whyNot) override {
        if (skeleton_) {
            return true;
        }
        if (!holdsKernelGuardCapabilities()) {
            whyNot = kCapabilityReason;
            return false;
        }
        std::filesystem::path cgroup = guardedCgroup(whyNot);
        if (cgroup.empty())
            return false;
        libbpfMessages.clear();
        libbpf_set_print(keepLibbpfMessage);
        if (!load(whyNot) || !attach(cgroup, whyNot) || !setBlocking(true) ||
            !replaceTables({}, {})) {
            if (whyNot.empty())
                whyNot = "the kernel refused the guard's tables";
            stop();
            return false;
        }
        return true;
    }

    bool replaceTables(std::span<const AddressInterval> intervals,
                       std::span<const Address6Interval> intervals6) override {
        if (!skeleton_ || !skeleton_->bss || !isKernelTable(intervals) ||
            !isKernelTable(intervals6))
            return false;
        // Both new tables go into the generation not in force, which no
        // lookup reads until the switch below. Each update of an outer map
        // waits for the programs running to finish (an RCU grace period), so
        // a slot that is empty and stays empty is left alone: the IPv4 table
        // alone costs what it did.
        const std::uint32_t next = generation_ ^ 1u;
        bool filled = placeTable(skeleton_->maps.bw_tables, next, emptySlot_[next],
                                 intervals.empty(), [&] { return fillNewTable(intervals); }) &&
                      placeTable(skeleton_->maps.bw_tables6, next, emptySlot6_[next],
                                 intervals6.empty(), [&] { return fillNewTable6(intervals6); });
        if (!filled)
            return false;
        __atomic_store_n(&skeleton_->bss->bw_generation, next, __ATOMIC_RELEASE);
        generation_ = next;
        return true;
    }

    bool setBlocking(bool on) override {
        if (!skeleton_ || !skeleton_->bss)
            return false;
        __atomic_store_n(&skeleton_->bss->bw_blocking, on ? 1u : 0u, __ATOMIC_RELEASE);
        return true;
    }

    std::uint64_t takeRefusals(std::vector<KernelRefusal>& out) override {
        if (!events_)
            return 0;
        taking_ = &out;
        takenBefore_ = out.size();
        namedPid_ = 0;
        ring_buffer__consume(events_);
        taking_ = nullptr;
        return takeLost();
    }

    TeardownResult teardown(const TcpRow& row) override { return tcp_->teardown(row); }

    bool running() const override { return skeleton_ != nullptr; }

    int refusalDescriptor() const override { return events_ ? ring_buffer__epoll_fd(events_) : -1; }

private:
    bool load(std::string& whyNot) {
        skeleton_ = kernel_guard_bpf__open();
        if (!skeleton_) {
            whyNot = "the guard's kernel programs could not be opened: " + errorText(errno);
            return false;
        }
        int error = kernel_guard_bpf__load(skeleton_);
        if (error != 0) {
            std::string program = refusedProgram(libbpfMessages);
            whyNot = "the kernel refused to load the guard's " +
                     (program.empty() ? std::string("programs") : "program " + program) + " (" +
                     errorText(error) + "; the kernel's reasons are on standard error)";
            writeLastLibbpfLines(libbpfMessages);
            return false;
        }
        events_ = ring_buffer__new(bpf_map__fd(skeleton_->maps.bw_events), &onEvent, this, nullptr);
        if (!events_) {
            whyNot = "the kernel refused the guard's event buffer: " + errorText(errno);
            return false;
        }
        return true;
    }

    bool attach(const std::filesystem::path& cgroup, std::string& whyNot) {
        cgroupFd_ = open(cgroup.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (cgroupFd_ < 0) {
            whyNot = "cannot open the cgroup " + cgroup.string() + ": " + errorText(errno);
            return false;
        }
        struct statfs fs {};
        if (fstatfs(cgroupFd_, &fs) != 0 || fs.f_type != CGROUP2_SUPER_MAGIC) {
            whyNot = cgroup.string() + " is not a cgroup v2 folder";
            return false;
        }
        const std::array<bpf_program*, 6> programs = {
            skeleton_->progs.bw_connect4, skeleton_->progs.bw_connect6,
            skeleton_->progs.bw_sendmsg4, skeleton_->progs.bw_sendmsg6,
            skeleton_->progs.bw_ingress,  skeleton_->progs.bw_egress};
        for (bpf_program* program : programs) {
            bpf_link* link = bpf_program__attach_cgroup(program, cgroupFd_);
            if (!link) {
                whyNot = "the kernel refused to attach the guard to " + cgroup.string() + ": " +
                         errorText(errno);
                return false;
            }
            links_.push_back(link);
        }
        return true;
    }

    // Puts a new table into the slot of the outer map; empty: whether the
    // slot holds no interval (or no table, which a lookup treats alike).
    template <class Fill>
    bool placeTable(bpf_map* outer, std::uint32_t slot, bool& empty, bool emptyTable, Fill fill) {
        if (emptyTable && empty)
            return true;
        int table = fill();
        if (table < 0)
            return false;
        bool placed = bpf_map_update_elem(bpf_map__fd(outer), &slot, &table, BPF_ANY) == 0;
        close(table);  // the outer map holds it now; the old one goes once unused
        // A failed update may or may not have replaced the slot: written again next time.
        empty = placed && emptyTable;
        return placed;
    }

    // A new table sized for the intervals, filled in one batch: slot 0 holds
    // the count, the intervals follow.
    int fillNewTable(std::span<const AddressInterval> intervals) {
        values_.resize(intervals.size() + 1);
        values_[0] = {static_cast<std::uint32_t>(intervals.size()), 0};
        for (std::size_t i = 0; i < intervals.size(); ++i)
            values_[i + 1] = {intervals[i].first, intervals[i].last};
        return newTableHolding("bw_intervals", values_);
    }

    // The IPv6 table, laid out as the IPv4 one.
    int fillNewTable6(std::span<const Address6Interval> intervals) {
        values6_.resize(intervals.size() + 1);
        values6_[0] = {0, intervals.size(), 0, 0};
        for (std::size_t i = 0; i < intervals.size(); ++i)
            values6_[i + 1] = {intervals[i].first.high, intervals[i].first.low,
                               intervals[i].last.high, intervals[i].last.low};
        return newTableHolding("bw_intervals6", values6_);
    }

    // An inner array map of exactly these slots, written in one batch; -1
    // when the kernel refuses either step.
    template <class Slot>
    int newTableHolding(const char* name, const std::vector<Slot>& slots) {
        const auto size = static_cast<std::uint32_t>(slots.size());
        bpf_map_create_opts options{};
        options.sz = sizeof options;
        options.map_flags = BPF_F_INNER_MAP;
        int table = bpf_map_create(BPF_MAP_TYPE_ARRAY, name, sizeof(std::uint32_t), sizeof(Slot),
                                   size, &options);
        if (table < 0)
            return -1;
        keys_.resize(size);
        for (std::uint32_t i = 0; i < size; ++i) keys_[i] = i;
        std::uint32_t count = size;
        if (bpf_map_update_batch(table, keys_.data(), slots.data(), &count, nullptr) != 0 ||
            count != size) {
            close(table);
            return -1;
        }
        return table;
    }

    static int onEvent(void* context, void* data, std::size_t size) {
        auto* self = static_cast<InProcessKernelGuard*>(context);
        if (size < sizeof(KernelRefusalEvent) || !self->taking_)
            return 0;
        // A process retrying a banned address in a loop refills the buffer as
        // fast as it is read: stop at a batch, and the rest waits for the next
        // call (libbpf hands this event over again then).
        if (self->taking_->size() >= self->takenBefore_ + kRefusalsPerCall)
            return -1;
        KernelRefusalEvent event;
        std::memcpy(&event, data, sizeof event);
        KernelRefusal r;
        r.address = event.family == BW_FAMILY_V6
                        ? IpAddress::fromV6({event.address6High, event.address6Low})
                        : IpAddress::fromV4(event.address);
        r.port = event.port;
        r.protocol = event.protocol;
        r.direction = event.direction == BW_DIRECTION_IN ? RefusalDirection::Incoming
                                                         : RefusalDirection::Outgoing;
        r.pid = event.pid;
        // A flood comes from one process: its name is read once per call.
        if (r.pid != 0 && r.pid != self->namedPid_) {
            self->namedPid_ = r.pid;
            self->pidName_ = commandOf(r.pid);
        }
        if (r.pid != 0)
            r.command = self->pidName_;
        self->taking_->push_back(std::move(r));
        return 0;
    }

    std::uint64_t takeLost() {
        std::uint64_t lost = __atomic_load_n(&skeleton_->bss->bw_lost, __ATOMIC_ACQUIRE);
        if (lost == reportedLost_)
            return 0;
        std::uint64_t fresh = lost - reportedLost_;
        reportedLost_ = lost;
        return fresh;
    }

    void stop() override {
        for (bpf_link* link : links_) bpf_link__destroy(link);
        links_.clear();
        if (events_)
            ring_buffer__free(events_);
        events_ = nullptr;
        if (skeleton_)
            kernel_guard_bpf__destroy(skeleton_);
        skeleton_ = nullptr;
        if (cgroupFd_ >= 0)
            close(cgroupFd_);
        cgroupFd_ = -1;
        generation_ = 0;
        emptySlot_ = {true, true};
        emptySlot6_ = {true, true};
    }

    kernel_guard_bpf* skeleton_ = nullptr;
    ring_buffer* events_ = nullptr;
    std::vector<bpf_link*> links_;
    int cgroupFd_ = -1;
    std::vector<KernelRefusal>* taking_ = nullptr;
    std::size_t takenBefore_ = 0;
    std::uint32_t namedPid_ = 0;  // whose command name pidName_ holds, this call
    std::string pidName_;
    static constexpr std::size_t kRefusalsPerCall = 4096;
    std::uint64_t reportedLost_ = 0;
    std::vector<std::uint32_t> keys_;
    std::vector<KernelInterval> values_;
    std::vector<KernelInterval6> values6_;
    std::uint32_t generation_ = 0;  // as bw_generation holds it
    // Per generation: its slot of either outer map bans nothing.
    std::array<bool, 2> emptySlot_ = {true, true};
    std::array<bool, 2> emptySlot6_ = {true, true};
    std::unique_ptr<TcpTable> tcp_ = makeSystemTcpTable();
};

}  // namespace

std::unique_ptr<KernelGuard> makeInProcessKernelGuard() {
    return std::make_unique<InProcessKernelGuard>();
}

}  // namespace bw
