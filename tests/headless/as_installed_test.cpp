// The console guard as the service's unit starts it: an unprivileged user
// holding exactly the unit's ambient capabilities, with no new privileges, the
// executable itself holding none. It must guard in the kernel, say so, and
// leave nothing attached when it ends.

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "support/as_installed.h"
#include "support/child_cgroup.h"
#include "support/network_namespace.h"
#include "support/process_output.h"

namespace bw {
namespace {

namespace fs = std::filesystem;
using test::Findings;

TEST(ConsoleGuardAsInstalled, TheServiceGuardsInTheKernelWithItsTwoCapabilities) {
    const fs::path original = BW_HEADLESS_EXECUTABLE;
    test::InstalledCopy copy(original, false);
    if (!copy.problem.empty())
        GTEST_SKIP() << copy.problem;
    BW_RUN_IN_PRIVATE_NETWORK(run, [&](Findings& f) {
        test::inChildCgroup(f, [&](const test::ChildCgroup& cgroup) {
            test::openToEveryone(cgroup.path());
            const fs::path home = copy.folder / "home";
            fs::create_directory(home);
            std::ofstream(home / "Moatlist.P2P") << "Test:127.0.0.5\r\n";
            if (chown(home.c_str(), 65534, 65534) != 0 ||
                chown((home / "Moatlist.P2P").c_str(), 65534, 65534) != 0)
                throw std::runtime_error("cannot hand the home to nobody");

            int out[2];
            if (pipe2(out, O_CLOEXEC) != 0)
                throw std::runtime_error("pipe");
            pid_t pid = fork();
            if (pid == 0) {
                setenv("BASTIONWATCH_HOME", home.c_str(), 1);
                dup2(out[1], STDOUT_FILENO);
                dup2(out[1], STDERR_FILENO);
                std::vector<std::string> command = test::asOrdinaryUser(true);
                command.push_back(copy.executable.string());
                std::vector<char*> argv;
                for (std::string& word : command) argv.push_back(word.data());
                argv.push_back(nullptr);
                execv(argv[0], argv.data());
                _exit(127);
            }
            close(out[1]);
            std::string output = test::readUntil(out[0], "Successfully loaded");
            f.set("banned", test::udpConnectError("127.0.0.5"));
            f.set("allowed", test::udpConnectError("127.0.0.6"));
            f.set("attachedWhileRunning", test::attachedPrograms(cgroup.path()));
            kill(pid, SIGTERM);
            output += test::readUntil(out[0], "\x04");
            close(out[0]);
            int status = 0;
            waitpid(pid, &status, 0);
            f.set("status", WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
            f.set("output", output);
            f.set("attachedAfter", test::attachedOnceSettled(cgroup.path()));
        });
    });
    if (!run.findings["skip"].empty())
        GTEST_SKIP() << run.findings["skip"];
    const Findings& f = run.findings;
    EXPECT_NE(f["output"].find("Guard: kernel blocking; connections to banned addresses are "
                               "refused before they are made."),
              std::string::npos)
        << f["output"];
    EXPECT_EQ(f["output"].find("libbpf"), std::string::npos) << f["output"];
    EXPECT_EQ(f.number("banned"), EPERM);
    EXPECT_EQ(f.number("allowed"), 0);
    EXPECT_EQ(f.number("attachedWhileRunning"), 6);
    EXPECT_EQ(f.number("status"), 0) << f["output"];
    EXPECT_EQ(f.number("attachedAfter"), 0);
}

}  // namespace
}  // namespace bw
