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
#include <fstream>
#include <thread>

#include "platform/instance_channel.h"

namespace bw {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kRequestWait{InstanceChannel::kRequestWaitMs};  // sent at once
constexpr milliseconds kAnswerWait{60'000};  // the running copy may be saving a large list
constexpr std::size_t kMaxAnswerBytes = 64 * 1024;
constexpr int kConnectAttempts = 40;  // the holder may still be starting: 2 s in all
constexpr auto kConnectPause = milliseconds(50);
// A link start that holds the folder ends once its list is saved; a guard answers at once.
constexpr milliseconds kHolderWait{60'000};

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

// Where this user's channels live: the runtime folder, or one of our own in /tmp.
fs::path privateFolderPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && fs::path(runtime).is_absolute())
        return fs::path(runtime) / "bastionwatch";
    return fs::path("/tmp") / ("bastionwatch-" + std::to_string(::geteuid()));
}

bool ofThisUserAlone(const fs::path& folder) {
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

// A folder of this user's alone, made when missing.
bool privateFolder(fs::path& folder, std::string& error) {
    folder = privateFolderPath();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = lastError("cannot create " + folder.string());
        return false;
    }
    if (!ofThisUserAlone(folder)) {
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

// A socket connected to the address, or -1 with errno set.
int connectTo(const sockaddr_un& address) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int why = errno;
        ::close(fd);
        errno = why;
        return -1;
    }
    return fd;
}

// False once the deadline has passed, however busy the other side keeps the socket.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    pollfd p{fd, events, 0};
    int ready;
    do {
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        ready = ::poll(&p, 1, static_cast<int>(left.count()));
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

// Reads until the sender closes its side, up to limit + 1 bytes; false on
// reaching the deadline or an error.
bool readAll(int fd, std::size_t limit, Clock::time_point deadline, std::string& out) {
    char buffer[4096];
    while (out.size() <= limit) {
        if (!waitFor(fd, POLLIN, deadline))
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

bool writeAll(int fd, std::string_view bytes, Clock::time_point deadline) {
    while (!bytes.empty()) {
        if (!waitFor(fd, POLLOUT, deadline))
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

    ~LinuxInstanceChannel() override { release(); }

    void release() override {
        if (listenFd_ >= 0) {
            ::unlink(socketFile_.c_str());
            ::close(listenFd_);
            listenFd_ = -1;
        }
        if (lockFd_ >= 0) {
            ::close(lockFd_);  // releases the folder
            lockFd_ = -1;
        }
    }

    void serve(const std::function<std::string(std::string_view)>& answer) override {
        while (listenFd_ >= 0) {
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
        if (!readAll(fd, kMaxRequestBytes, Clock::now() + kRequestWait, request))
            return;
        // A later start that only looked whether a copy listens here asks nothing.
        if (request.empty())
            return;
        if (request.size() > kMaxRequestBytes) {
            writeAll(fd,
                     "Refused: the request is longer than " + std::to_string(kMaxRequestBytes) +
                         " bytes.",
                     Clock::now() + kRequestWait);
            return;
        }
        const std::string text = answer(request);
        writeAll(fd, text, Clock::now() + kRequestWait);
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

// Whether a copy listens on the socket: a guard that holds the folder does,
// from the moment it holds it; a link start never does.
bool holderListens(const fs::path& socketFile) {
    sockaddr_un address;
    if (!socketAddress(socketFile, address))
        return false;
    int fd = connectTo(address);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// Takes the lock at once, or once a holder that takes no links has ended.
// Returns the locked descriptor; -1 with otherCopyRuns or error set when not.
int lockFolder(const ChannelFiles& files, InstanceClaim& claim) {
    int lockFd = ::open(files.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd < 0) {
        claim.error = lastError("cannot open " + files.lock.string());
        return -1;
    }
    const Clock::time_point deadline = Clock::now() + kHolderWait;
    while (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK) {
            claim.error = lastError("cannot lock " + files.lock.string());
        } else if (holderListens(files.socket) || Clock::now() >= deadline) {
            // Past the deadline the hand-over says that the holder cannot be reached.
            claim.otherCopyRuns = true;
        } else {
            std::this_thread::sleep_for(kConnectPause);
            continue;
        }
        ::close(lockFd);
        return -1;
    }
    return lockFd;
}

}  // namespace

InstanceClaim claimProgramFolder(const fs::path& programFolder, ClaimPurpose purpose) {
    InstanceClaim claim;
    ChannelFiles files;
    if (!channelFiles(programFolder, files, claim.error))
        return claim;
    int lockFd = lockFolder(files, claim);
    if (lockFd < 0)
        return claim;
    if (purpose == ClaimPurpose::OneLink) {
        claim.channel = std::make_unique<LinuxInstanceChannel>(lockFd, -1, files.socket);
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

std::optional<RunningGuard> runningGuardOf(const fs::path& programFolder) {
    const fs::path folder = privateFolderPath();
    sockaddr_un address;
    if (!ofThisUserAlone(folder) ||
        !socketAddress(folder / (folderKey(programFolder) + ".sock"), address)) {
        return std::nullopt;
    }
    // The guard takes a connection that sends nothing for a look, and answers nothing.
    int fd = connectTo(address);
    if (fd < 0)
        return std::nullopt;
    ucred peer{};
    socklen_t length = sizeof peer;
    const bool known =
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::geteuid();
    ::close(fd);
    if (!known)
        return std::nullopt;
    RunningGuard guard{static_cast<int>(peer.pid), {}};
    std::ifstream comm("/proc/" + std::to_string(peer.pid) + "/comm");
    std::getline(comm, guard.program);
    return guard;
}

HandOverResult handOverToRunningCopy(const fs::path& programFolder, std::string_view request) {
    HandOverResult result;
    if (request.size() > InstanceChannel::kMaxRequestBytes) {
        // The running copy would refuse it unread, and sending it would only break the line.
        result.tooLong = true;
        result.error = "the request is " + std::to_string(request.size()) +
                       " bytes long; a running copy takes at most " +
                       std::to_string(InstanceChannel::kMaxRequestBytes) + " bytes";
        return result;
    }
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
        fd = connectTo(address);
        if (fd >= 0)
            break;
        result.error = lastError("cannot reach the running copy at " + files.socket.string());
        std::this_thread::sleep_for(kConnectPause);
    }
    if (fd < 0)
        return result;
    if (!sameUser(fd)) {
        ::close(fd);
        result.error = "the running copy belongs to another user";
        return result;
    }
    if (!writeAll(fd, request, Clock::now() + kAnswerWait) || ::shutdown(fd, SHUT_WR) != 0) {
        result.error = lastError("cannot hand the request over");
        ::close(fd);
        return result;
    }
    std::string answer;
    const bool read = readAll(fd, kMaxAnswerBytes, Clock::now() + kAnswerWait, answer);
    ::close(fd);
    result.delivered = read && !answer.empty();
    if (result.delivered) {
        result.answer = answer.substr(0, kMaxAnswerBytes);
    } else {
        // It had the whole request: it may have acted on it before it stopped.
        result.requestSent = true;
        result.error = read ? "the running copy ended before it answered"
                            : "the running copy's answer broke off or did not come within " +
                                  std::to_string(kAnswerWait.count() / 1000) + " s";
    }
    return result;
}

}  // namespace bw
