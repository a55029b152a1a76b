#include "platform/slot_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace bw {

SlotLock::~SlotLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

SlotLock::SlotLock(SlotLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

SlotLock& SlotLock::operator=(SlotLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

// Open file description locks: unlike classic record locks they belong to the
// open file, not the process, so two holders in one process exclude each other
// too, and closing some other handle of the file never drops them.
SlotLock::Result SlotLock::lock(const std::filesystem::path& file, std::uint64_t first,
                                std::uint64_t count, Wait wait) {
    Result result;
    // The owner's alone: anyone who can open the file can hold a slot, and a
    // reader holding one would stall every writer. One left readable by an
    // earlier version is closed up too.
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        result.error = "cannot open the lock file " + file.string() + ": " + std::strerror(errno);
        return result;
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && (info.st_mode & 077) != 0 && info.st_uid == ::geteuid())
        ::fchmod(fd, info.st_mode & 0700);
    struct flock span {};
    span.l_type = F_WRLCK;
    span.l_whence = SEEK_SET;
    span.l_start = static_cast<off_t>(first);
    span.l_len = static_cast<off_t>(count);
    const int command = wait == Wait::UntilFree ? F_OFD_SETLKW : F_OFD_SETLK;
    int status;
    do {
        status = ::fcntl(fd, command, &span);
    } while (status != 0 && errno == EINTR);
    if (status != 0) {
        int err = errno;
        ::close(fd);
        if (err == EAGAIN || err == EACCES)
            result.busy = true;
        else
            result.error = "cannot lock " + file.string() + ": " + std::strerror(err);
        return result;
    }
    result.lock = SlotLock(fd);
    return result;
}

}  // namespace bw
