#include "shell/whole_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace bw {

FileBytes readOrCreateFile(const std::filesystem::path& file) {
    FileBytes result;
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    }
    if (fd < 0) {
        result.error = std::strerror(errno);
        return result;
    }
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result.error = std::strerror(errno);
            ::close(fd);
            return result;
        }
        if (n == 0) break;
        result.bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    result.ok = true;
    return result;
}

}  // namespace bw
