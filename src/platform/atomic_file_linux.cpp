#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

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

// ".name.XXXXXX": hidden, and recognisable at the next start.
constexpr std::size_t kTempSuffixLength = 6;

std::filesystem::path followLinks(const std::filesystem::path& file) {
    std::filesystem::path resolved = file;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(resolved, ec)))
            break;
        std::filesystem::path next = std::filesystem::read_symlink(resolved, ec);
        if (ec)
            break;
        resolved = next.is_absolute() ? next : resolved.parent_path() / next;
    }
    return resolved;
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

}  // namespace

void removeStaleTemporaryFiles(const std::filesystem::path& folder, std::string_view fileName) {
    std::error_code ec;
    std::vector<std::filesystem::path> stale;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        const std::size_t nameLength = 1 + fileName.size() + 1 + kTempSuffixLength;
        if (name.size() != nameLength || name.front() != '.' || name[1 + fileName.size()] != '.' ||
            !sameIgnoringCase(std::string_view(name).substr(1, fileName.size()), fileName) ||
            !entry.is_regular_file(ec)) {
            continue;
        }
        stale.push_back(entry.path());
    }
    for (const auto& file : stale) std::filesystem::remove(file, ec);
}

WriteResult writeFileAtomically(const std::filesystem::path& linkOrFile, std::string_view bytes) {
    const std::filesystem::path target = followLinks(linkOrFile);
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
