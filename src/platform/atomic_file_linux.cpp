#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace bw {

namespace {

WriteResult failure(const std::string& what, int err) {
    return {false, what + ": " + std::strerror(err)};
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void syncFolder(const std::filesystem::path& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

WriteResult writeFileAtomically(const std::filesystem::path& target, std::string_view bytes) {
    std::filesystem::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    std::string tempName(1, '.');
    tempName += target.filename().string();
    tempName += ".XXXXXX";
    std::string temp = (folder / tempName).string();
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return failure("cannot create a temporary file in " + folder.string(), errno);

    // Keep the permissions of the file being replaced; new files get the usual 0644.
    struct stat old {};
    ::fchmod(fd, ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);

    if (!writeAll(fd, bytes) || ::fsync(fd) != 0) {
        int err = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        return failure("cannot write " + target.string(), err);
    }
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return failure("cannot write " + target.string(), err);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return failure("cannot replace " + target.string(), err);
    }
    syncFolder(folder);
    return {};
}

}  // namespace bw
