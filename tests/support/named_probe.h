#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "support/process_output.h"

namespace bw::test {

// A program with a name of its own that opens one TCP connection, as a user's
// program would: a copy of the shell under that name (its command name then),
// which tries the connection at once, says "connected" or "refused", and stays
// until finish(), so its name can still be read while it is reported.
class NamedProbe {
public:
    NamedProbe(const std::filesystem::path& folder, const std::string& name,
               const std::string& address, std::uint16_t port) {
        const std::filesystem::path copy = folder / name;
        std::error_code ignored;
        std::filesystem::copy_file("/bin/bash", copy, ignored);
        int input[2], output[2];
        if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0)
            return;
        const std::string script = "true 3<>/dev/tcp/" + address + "/" + std::to_string(port) +
                                   " && echo connected || echo refused; read -r _";
        pid_ = fork();
        if (pid_ == 0) {
            dup2(input[0], STDIN_FILENO);
            dup2(output[1], STDOUT_FILENO);
            int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
            dup2(quiet, STDERR_FILENO);
            execl(copy.c_str(), name.c_str(), "-c", script.c_str(), nullptr);
            _exit(127);
        }
        close(input[0]);
        close(output[1]);
        input_ = input[1];
        output_ = output[0];
    }
    ~NamedProbe() { finish(); }
    NamedProbe(const NamedProbe&) = delete;
    NamedProbe& operator=(const NamedProbe&) = delete;

    pid_t pid() const { return pid_; }
    // "connected" or "refused" once it tried; what it said, whatever it was.
    std::string outcome() {
        std::string said = readUntil(output_, "\n");
        while (!said.empty() && said.back() == '\n') said.pop_back();
        return said;
    }
    // Lets it end; its exit status, or -1.
    int finish() {
        if (pid_ <= 0)
            return -1;
        close(input_);
        close(output_);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
};

}  // namespace bw::test
