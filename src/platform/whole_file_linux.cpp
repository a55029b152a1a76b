#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/whole_file.h"

namespace bw {

namespace {

FileBytes failure(int err) {
    FileBytes result;
    result.errorNumber = err;
    result.error = std::strerror(err);
    return result;
}

// Reads to the end, or fails with tooLarge once more than maxBytes arrive: a
// file may grow after its size was looked at.
FileBytes readAll(int fd, std::uint64_t maxBytes = UINT64_MAX) {
    FileBytes result;
    // Room for the whole file at once: growing by doubling would copy a large
    // blocklist several times over and touch twice its size in memory.
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        result.bytes.reserve(
            static_cast<std::size_t>(std::min<std::uint64_t>(info.st_size, maxBytes)));
    }
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int err = errno;
            ::close(fd);
            return failure(err);
        }
        if (n == 0)
            break;
        if (static_cast<std::uint64_t>(n) > maxBytes - result.bytes.size()) {
            ::close(fd);
            FileBytes refused;
            refused.tooLarge = true;
            refused.size = result.bytes.size() + static_cast<std::uint64_t>(n);
            refused.error = "larger than " + std::to_string(maxBytes) + " bytes";
            return refused;
        }
        result.bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    result.ok = true;
    return result;
}

}  // namespace

FileBytes readWholeFile(const std::filesystem::path& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    return fd < 0 ? failure(errno) : readAll(fd);
}

FileBytes readRegularFile(const std::filesystem::path& file, std::uint64_t maxBytes) {
    // Not blocking, so that opening a pipe does not wait for a writer.
    int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failure(errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        int err = errno;
        ::close(fd);
        return failure(err);
    }
    FileBytes refused;
    refused.notRegular = !S_ISREG(info.st_mode);
    refused.size = static_cast<std::uint64_t>(info.st_size);
    refused.tooLarge = !refused.notRegular && refused.size > maxBytes;
    if (refused.notRegular || refused.tooLarge) {
        ::close(fd);
        refused.error = refused.notRegular ? std::string("not a regular file")
                                           : "larger than " + std::to_string(maxBytes) + " bytes";
        return refused;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FileBytes content = readAll(fd, maxBytes);
    content.size = refused.size;
    return content;
}

FileBytes readOrCreateFile(const std::filesystem::path& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    return fd < 0 ? failure(errno) : readAll(fd);
}

}  // namespace bw
