#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace bw {

// A lock on a span of slots of a lock file, shared by every process that locks
// that file, and by every holder within this one. It ends when the holder is
// destroyed or its process ends, killed or not, so a crash never leaves a stale
// lock behind; the lock file itself stays, empty, and is never removed (a new
// file of that name would not see the locks held on the old one).
class SlotLock {
public:
    SlotLock() = default;
    ~SlotLock();
    SlotLock(SlotLock&& other) noexcept;
    SlotLock& operator=(SlotLock&& other) noexcept;
    SlotLock(const SlotLock&) = delete;
    SlotLock& operator=(const SlotLock&) = delete;

    bool held() const { return fd_ >= 0; }
    explicit operator bool() const { return held(); }

    enum class Wait { UntilFree, No };
    struct Result;
    // Locks slots [first, first + count) of the file, creating it if needed.
    static Result lock(const std::filesystem::path& file, std::uint64_t first, std::uint64_t count,
                       Wait wait);

private:
    explicit SlotLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

struct SlotLock::Result {
    SlotLock lock;
    bool busy = false;  // Wait::No, and another holder has one of the slots
    std::string error;  // the lock file could not be opened or locked
};

}  // namespace bw
