#include "platform/slot_lock.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.h"

namespace bw {
namespace {

// Whoever can open the lock file can hold a slot and stall every writer, so
// no one but its owner may open it: a new file, and one an earlier version
// left readable by everyone.
TEST(SlotLockTest, TheLockFileIsTheOwnersAlone) {
    test::TempDir dir;
    std::ofstream(dir.file("old.lock")).close();
    ASSERT_EQ(::chmod(dir.file("old.lock").c_str(), 0644), 0);
    for (const char* name : {"new.lock", "old.lock"}) {
        SCOPED_TRACE(name);
        SlotLock::Result held = SlotLock::lock(dir.file(name), 0, 1, SlotLock::Wait::No);
        ASSERT_TRUE(held.lock) << held.error;
        struct stat info {};
        ASSERT_EQ(::stat(dir.file(name).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
}

}  // namespace
}  // namespace bw
