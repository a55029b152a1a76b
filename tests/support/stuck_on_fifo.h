#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>

namespace bw::test {

// Runs f on a thread of its own and says whether it returned by itself. One
// that waits on the named FIFO for a writer (a blocking open or read) is freed
// after a long while by a writer that opens and closes at once, so that a test
// fails instead of hanging. The wait bounds a hang, it measures no speed.
inline bool returnsWithoutAWriter(const std::filesystem::path& fifo, std::function<void()> f) {
    std::future<void> done = std::async(std::launch::async, std::move(f));
    if (done.wait_for(std::chrono::seconds(20)) == std::future_status::ready)
        return true;
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    if (writer >= 0)
        ::close(writer);
    done.wait();
    return false;
}

}  // namespace bw::test
