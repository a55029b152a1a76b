#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/launcher.h"

extern char** environ;

namespace bw {

namespace {

struct RunResult {
    bool started = false;
    int status = -1;
    std::string output;  // first line of standard output
};

std::vector<char*> argvOf(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string readAll(int fd) {
    std::string out;
    char buffer[512];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

// Runs a program found on PATH with stdin and stderr on /dev/null and
// captures the first line of what it prints.
RunResult runCapture(std::vector<std::string> args) {
    RunResult result;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    auto argv = argvOf(args);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned == 0) {
        result.output = readAll(pipeFds[0]);
        result.status = waitFor(pid);
        result.started = true;
    }
    close(pipeFds[0]);
    result.output = result.output.substr(0, result.output.find('\n'));
    return result;
}

// Runs a shell script in the background, detached from us: the shell that
// starts it ends at once, so no child is left for us to reap and a program
// that stays open (an editor, say) does not hold up the window.
bool runDetached(const std::string& script, const std::vector<std::string>& scriptArgs) {
    std::vector<std::string> args = {"sh", "-c", "(" + script + ") </dev/null >/dev/null 2>&1 &",
                                     "sh"};
    args.insert(args.end(), scriptArgs.begin(), scriptArgs.end());
    auto argv = argvOf(args);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "sh", nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    return waitFor(pid) == 0;
}

bool onPath(const std::string& program) {
    return runCapture({"sh", "-c", "command -v \"$1\"", "sh", program}).status == 0;
}

// What the desktop knows about opening a file: false only when it names the
// file's type and has no application for it.
bool fileHasApplication(const std::string& path) {
    const RunResult type = runCapture({"xdg-mime", "query", "filetype", path});
    if (!type.started || type.status != 0 || type.output.empty())
        return true;
    const RunResult app = runCapture({"xdg-mime", "query", "default", type.output});
    return !(app.started && app.status == 0 && app.output.empty());
}

class DesktopLauncher : public Launcher {
public:
    LaunchOutcome open(const std::string& target) override {
        if (!onPath("xdg-open"))
            return LaunchOutcome::NoAssociation;
        // Web addresses always go to xdg-open: it falls back to the browser
        // the system names even where no handler is registered for the scheme.
        if (!isWebAddress(target)) {
            std::error_code ec;
            if (!std::filesystem::exists(target, ec))
                return LaunchOutcome::Failed;
            if (!fileHasApplication(target))
                return LaunchOutcome::NoAssociation;
        }
        return runDetached("xdg-open \"$1\"", {target}) ? LaunchOutcome::Opened
                                                        : LaunchOutcome::Failed;
    }

    // The portal's OpenURI with ask=true is the desktop's application chooser.
    // Without a portal, a file's folder opens in the file manager (whose
    // "open with" is one click away) and a web address opens as usual.
    void openWith(const std::string& target) override {
        std::string uri = target;
        std::string fallback = target;
        if (!isWebAddress(target)) {
            std::error_code ec;
            std::filesystem::path path = std::filesystem::absolute(target, ec);
            uri = fileUri(path);
            fallback = path.parent_path().string();
        }
        runDetached(
            "gdbus call --session --timeout 30 --dest org.freedesktop.portal.Desktop"
            " --object-path /org/freedesktop/portal/desktop"
            " --method org.freedesktop.portal.OpenURI.OpenURI \"\" \"$1\" \"{'ask': <true>}\""
            " || xdg-open \"$2\"",
            {quotedForGdbus(uri), fallback});
    }
};

bool isUnreserved(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
}

}  // namespace

bool isWebAddress(std::string_view target) {
    if (target.size() >= 7 &&
        (target.substr(0, 7) == "mailto:" || target.substr(0, 7) == "MAILTO:"))
        return true;
    const std::size_t colon = target.find("://");
    if (colon == std::string_view::npos || colon == 0)
        return false;
    for (char c : target.substr(0, colon)) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return std::isalpha(static_cast<unsigned char>(target[0])) != 0;
}

std::string fileUri(const std::filesystem::path& absolutePath) {
    std::string uri = "file://";
    for (unsigned char c : absolutePath.string()) {
        if (isUnreserved(c)) {
            uri += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            uri += escaped;
        }
    }
    return uri;
}

std::string quotedForGdbus(std::string_view text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "'";
}

std::unique_ptr<Launcher> makeDesktopLauncher() {
    return std::make_unique<DesktopLauncher>();
}

}  // namespace bw
