#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/instance_channel.h"

namespace bw {

namespace fs = std::filesystem;

namespace {

constexpr int kRequestWaitMs = 500;    // a sender writes its request at once
constexpr int kAnswerWaitMs = 60'000;  // the running copy may be saving a large list
constexpr std::size_t kMaxAnswerBytes = 64 * 1024;
constexpr int kConnectAttempts = 40;  // the holder may still be starting: 2 s in all
constexpr auto kConnectPause = std::chrono::milliseconds(50);

std::string lastError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Stable across builds and processes, unlike std::hash.
std::string folderKey(const fs::path& folder) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(folder, ec);
    std::string text = (ec ? folder : canonical).string();
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

// A folder of this user's alone: the runtime folder, or one of our own in /tmp.
bool privateFolder(fs::path& folder, std::string& error) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && fs::path(runtime).is_absolute()) {
        folder = fs::path(runtime) / "bastionwatch";
    } else {
        folder = fs::path("/tmp") / ("bastionwatch-" + std::to_string(::geteuid()));
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = lastError("cannot create " + folder.string());
        return false;
    }
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid() || (info.st_mode & 077) != 0) {
        error = folder.string() + " is not a folder of this user's alone";
        return false;
    }
    return true;
}

bool socketAddress(const fs::path& file, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    const std::string path = file.string();
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool waitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

// Reads until the sender closes its side, up to limit + 1 bytes; false on a
// timeout or error.
bool readAll(int fd, std::size_t limit, int timeoutMs, std::string& out) {
    char buffer[4096];
    while (out.size() <= limit) {
        if (!waitFor(fd, POLLIN, timeoutMs))
            return false;
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

bool writeAll(int fd, std::string_view bytes, int timeoutMs) {
    while (!bytes.empty()) {
        if (!waitFor(fd, POLLOUT, timeoutMs))
            return false;
        ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool sameUser(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
           peer.uid == ::geteuid();
}

class LinuxInstanceChannel : public InstanceChannel {
public:
    LinuxInstanceChannel(int lockFd, int listenFd, fs::path socketFile)
        : lockFd_(lockFd), listenFd_(listenFd), socketFile_(std::move(socketFile)) {}

    ~LinuxInstanceChannel() override {
        ::unlink(socketFile_.c_str());
        ::close(listenFd_);
        ::close(lockFd_);  // releases the folder
    }

    void serve(const std::function<std::string(std::string_view)>& answer) override {
        for (;;) {
            int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                return;  // none waiting (or a transient failure: the next call tries again)
            serveOne(fd, answer);
            ::close(fd);
        }
    }

private:
    static void serveOne(int fd, const std::function<std::string(std::string_view)>& answer) {
        if (!sameUser(fd))
            return;
        std::string request;
        if (!readAll(fd, kMaxRequestBytes, kRequestWaitMs, request))
            return;
        if (request.size() > kMaxRequestBytes) {
            writeAll(fd,
                     "Refused: the request is longer than " + std::to_string(kMaxRequestBytes) +
                         " bytes.",
                     kRequestWaitMs);
            return;
        }
        writeAll(fd, answer(request), kRequestWaitMs);
    }

    int lockFd_;
    int listenFd_;
    fs::path socketFile_;
};

struct ChannelFiles {
    fs::path lock;
    fs::path socket;
};

bool channelFiles(const fs::path& programFolder, ChannelFiles& files, std::string& error) {
    fs::path folder;
    if (!privateFolder(folder, error))
        return false;
    const std::string key = folderKey(programFolder);
    files.lock = folder / (key + ".lock");
    files.socket = folder / (key + ".sock");
    return true;
}

}  // namespace

InstanceClaim claimProgramFolder(const fs::path& programFolder) {
    InstanceClaim claim;
    ChannelFiles files;
    if (!channelFiles(programFolder, files, claim.error))
        return claim;
    int lockFd = ::open(files.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd < 0) {
        claim.error = lastError("cannot open " + files.lock.string());
        return claim;
    }
    if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(lockFd);
        claim.otherCopyRuns = errno == EWOULDBLOCK;
        if (!claim.otherCopyRuns)
            claim.error = lastError("cannot lock " + files.lock.string());
        return claim;
    }
    sockaddr_un address;
    if (!socketAddress(files.socket, address)) {
        ::close(lockFd);
        claim.error = "the path " + files.socket.string() + " is too long for a socket";
        return claim;
    }
    ::unlink(files.socket.c_str());  // left by a copy that ended without cleaning up
    int listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd < 0 || ::bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
        ::chmod(files.socket.c_str(), 0600) != 0 || ::listen(listenFd, 8) != 0) {
        claim.error = lastError("cannot listen on " + files.socket.string());
        if (listenFd >= 0)
            ::close(listenFd);
        ::close(lockFd);
        return claim;
    }
    claim.channel = std::make_unique<LinuxInstanceChannel>(lockFd, listenFd, files.socket);
    return claim;
}

HandOverResult handOverToRunningCopy(const fs::path& programFolder, std::string_view request) {
    HandOverResult result;
    ChannelFiles files;
    sockaddr_un address;
    if (!channelFiles(programFolder, files, result.error))
        return result;
    if (!socketAddress(files.socket, address)) {
        result.error = "the path " + files.socket.string() + " is too long for a socket";
        return result;
    }
    int fd = -1;
    for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            result.error = lastError("cannot create a socket");
            return result;
        }
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            break;
        result.error = lastError("cannot reach the running copy at " + files.socket.string());
        ::close(fd);
        fd = -1;
        std::this_thread::sleep_for(kConnectPause);
    }
    if (fd < 0)
        return result;
    if (!sameUser(fd)) {
        ::close(fd);
        result.error = "the running copy belongs to another user";
        return result;
    }
    if (!writeAll(fd, request, kAnswerWaitMs) || ::shutdown(fd, SHUT_WR) != 0) {
        result.error = lastError("cannot hand the request over");
        ::close(fd);
        return result;
    }
    std::string answer;
    result.delivered = readAll(fd, kMaxAnswerBytes, kAnswerWaitMs, answer) && !answer.empty();
    ::close(fd);
    if (result.delivered) {
        result.answer = answer.substr(0, kMaxAnswerBytes);
    } else {
        result.error = "the running copy did not answer";
    }
    return result;
}

}  // namespace bw
