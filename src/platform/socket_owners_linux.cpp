// Socket owners through /proc: every process's fd folder lists its open
// descriptors, and a socket's link reads "socket:[INODE]". Reading another
// user's fd folder needs the right to trace that process (CAP_SYS_PTRACE), so
// an ordinary user sees only its own programs.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "platform/socket_owners.h"

namespace bw {

namespace {

std::optional<std::uint64_t> numberIn(std::string_view text) {
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// The inode a descriptor's link names when it is a socket.
std::optional<std::uint64_t> socketInode(int fdFolder, const char* name) {
    char link[64];
    ssize_t length = readlinkat(fdFolder, name, link, sizeof link);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof link)
        return std::nullopt;
    std::string_view text(link, static_cast<std::size_t>(length));
    constexpr std::string_view kPrefix = "socket:[";
    if (!text.starts_with(kPrefix) || !text.ends_with(']'))
        return std::nullopt;
    text.remove_prefix(kPrefix.size());
    text.remove_suffix(1);
    return numberIn(text);
}

// The command name, without its line end; empty once the process has ended.
std::string commandOf(int processFolder) {
    int fd = openat(processFolder, "comm", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char name[64];
    ssize_t length = read(fd, name, sizeof name);
    close(fd);
    if (length <= 0)
        return {};
    std::string command(name, static_cast<std::size_t>(length));
    if (command.ends_with('\n'))
        command.pop_back();
    return command;
}

class Folder {
public:
    explicit Folder(DIR* dir) : dir_(dir) {}
    ~Folder() {
        if (dir_)
            closedir(dir_);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    DIR* get() const { return dir_; }

private:
    DIR* dir_;
};

class LinuxSocketOwners : public SocketOwners {
public:
    SocketOwnerScan find(std::span<const std::uint64_t> inodes) override {
        SocketOwnerScan scan;
        std::unordered_set<std::uint64_t> wanted(inodes.begin(), inodes.end());
        wanted.erase(0);
        if (wanted.empty())
            return scan;
        Folder proc(opendir("/proc"));
        if (!proc.get()) {
            scan.hiddenProcesses = true;
            return scan;
        }
        while (dirent* entry = readdir(proc.get())) {
            std::optional<std::uint64_t> pid = numberIn(entry->d_name);
            if (!pid)
                continue;
            lookInto(dirfd(proc.get()), entry->d_name, static_cast<std::uint32_t>(*pid), wanted,
                     scan);
            if (wanted.empty())
                break;
        }
        return scan;
    }

private:
    static void lookInto(int proc, const char* pidName, std::uint32_t pid,
                         std::unordered_set<std::uint64_t>& wanted, SocketOwnerScan& scan) {
        int processFolder = openat(proc, pidName, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (processFolder < 0)
            return;  // ended meanwhile
        int fdFolder = openat(processFolder, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fdFolder < 0) {
            if (errno == EACCES || errno == EPERM)
                scan.hiddenProcesses = true;
            close(processFolder);
            return;
        }
        Folder fds(fdopendir(fdFolder));
        if (!fds.get()) {
            close(fdFolder);
            close(processFolder);
            return;
        }
        std::string command;
        bool named = false;
        while (dirent* entry = readdir(fds.get())) {
            if (entry->d_name[0] == '.')
                continue;
            std::optional<std::uint64_t> inode = socketInode(fdFolder, entry->d_name);
            if (!inode || !wanted.contains(*inode))
                continue;
            if (!named) {
                command = commandOf(processFolder);
                named = true;
            }
            scan.owners[*inode] = {pid, command};
            wanted.erase(*inode);
        }
        close(processFolder);
    }
};

}  // namespace

std::unique_ptr<SocketOwners> makeLinuxSocketOwners() {
    return std::make_unique<LinuxSocketOwners>();
}

}  // namespace bw
