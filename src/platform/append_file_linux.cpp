#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/append_file.h"

namespace bw {

namespace {

WriteResult failure(const std::filesystem::path& file, int err) {
    return {false, "cannot write " + file.string() + ": " + std::strerror(err)};
}

}  // namespace

WriteResult appendWholeRecord(const std::filesystem::path& file, std::string_view bytes) {
    int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return failure(file, errno);
    struct stat before {};
    if (::fstat(fd, &before) != 0) {
        int err = errno;
        ::close(fd);
        return failure(file, err);
    }
    std::string_view rest = bytes;
    int err = 0;
    while (!rest.empty()) {
        ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n < 0 ? errno : EIO;
            break;
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    if (err != 0 && rest.size() != bytes.size()) {
        // Half a record would glue itself onto the next one.
        [[maybe_unused]] int ignored = ::ftruncate(fd, before.st_size);
    }
    ::close(fd);
    return err != 0 ? failure(file, err) : WriteResult{};
}

}  // namespace bw
