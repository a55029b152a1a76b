#pragma once

#include <string>
#include <vector>

#include "platform/kernel_guard.h"

namespace bw::test {

// A kernel guard that records what it was asked and hands out the refusals a
// test queued. whyNot non-empty makes start fail with it.
class FakeKernelGuard : public KernelGuard {
public:
    bool start(std::string& reason) override {
        ++starts;
        if (!whyNot.empty()) {
            reason = whyNot;
            return false;
        }
        guarding = true;
        return true;
    }

    bool replaceTables(std::span<const AddressInterval> intervals,
                       std::span<const Address6Interval> intervals6) override {
        if (!guarding || refuseTables || !isKernelTable(intervals) || !isKernelTable(intervals6))
            return false;
        tables.emplace_back(intervals.begin(), intervals.end());
        tables6.emplace_back(intervals6.begin(), intervals6.end());
        return true;
    }

    bool setBlocking(bool on) override {
        if (!guarding)
            return false;
        blocking.push_back(on);
        return true;
    }

    std::uint64_t takeRefusals(std::vector<KernelRefusal>& out) override {
        out.insert(out.end(), queued.begin(), queued.end());
        queued.clear();
        std::uint64_t l = lost;
        lost = 0;
        return l;
    }

    TeardownResult teardown(const TcpRow& row) override {
        tornDown.push_back(row);
        return {true, {}};
    }

    void stop() override {
        ++stops;
        guarding = false;
    }

    int refusalDescriptor() const override { return -1; }
    bool running() const override { return guarding; }

    std::string whyNot;
    bool guarding = false;  // false again: the guard ended (a helper gone)
    int starts = 0;
    int stops = 0;
    bool refuseTables = false;  // the kernel takes no table (too large, no memory)
    std::vector<std::vector<AddressInterval>> tables;    // every table handed over, in order
    std::vector<std::vector<Address6Interval>> tables6;  // the IPv6 table of each
    std::vector<bool> blocking;                          // every switch, in order
    std::vector<KernelRefusal> queued;
    std::uint64_t lost = 0;
    std::vector<TcpRow> tornDown;
};

}  // namespace bw::test
