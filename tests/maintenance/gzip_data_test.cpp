#include "maintenance/gzip_data.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

#include "maintenance/list_format.h"
#include "maintenance/list_keeper.h"

// The largest single allocation this test program asks for while a probe is
// armed: an input must not size memory by what it claims. Under
// AddressSanitizer the allocator is the sanitizer's own, and replacing part of
// it makes it report mismatches, so the probe is left out there.
#if defined(__SANITIZE_ADDRESS__)
#define BW_ALLOCATION_PROBE 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BW_ALLOCATION_PROBE 0
#endif
#endif
#ifndef BW_ALLOCATION_PROBE
#define BW_ALLOCATION_PROBE 1
#endif

namespace {
std::atomic<bool> probing{false};
std::atomic<std::size_t> largest{0};
}  // namespace

// The replacements pair malloc with free themselves; GCC, seeing free() inlined
// where a new-expression's memory is released, takes the pair for a mismatch.
#if BW_ALLOCATION_PROBE
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    if (probing && size > largest)
        largest = size;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop
#endif

namespace bw {
namespace {

// A file under tests/data/lists (regression inputs found by fuzzing).
std::string listFixture(const std::string& name) {
    std::ifstream in(
        std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "lists" / name,
        std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

struct AllocationProbe {
    AllocationProbe() {
        largest = 0;
        probing = true;
    }
    ~AllocationProbe() { probing = false; }
    std::size_t largestAllocation() const { return largest; }
};

TEST(GzipInputTest, ATrailerAnnouncingMuchSizesNothing) {
    const std::string tiny = listFixture("gzip_isize_18bytes.gz");
    ASSERT_EQ(tiny.size(), 18u);
    if (!BW_ALLOCATION_PROBE)
        GTEST_SKIP() << "the allocation probe is left out under AddressSanitizer";
    AllocationProbe probe;
    Gunzipped out = gunzip(tiny, ListKeeper::kMaxListBytes);
    EXPECT_FALSE(out.ok);
    EXPECT_LT(probe.largestAllocation(), std::size_t{1} << 20);
}

TEST(GzipInputTest, OneAddressRepeatedToTheSizeLimitIsRefused) {
    Gunzipped text = gunzip(listFixture("list_256MiB_cidr_lines.gz"), ListKeeper::kMaxListBytes);
    ASSERT_TRUE(text.ok) << text.error;
    ParsedList list = parseList(text.bytes);
    EXPECT_EQ(listRefusal(list), "it holds more than 4194304 ranges, the most one list may hold");
    EXPECT_TRUE(list.ranges.empty());
}

}  // namespace
}  // namespace bw
