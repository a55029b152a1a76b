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
#include "support/named_probe.h"
#include "support/network_namespace.h"
#include "support/process_output.h"

namespace bw {
namespace {

namespace fs = std::filesystem;
using test::Findings;

// The service's home, nobody's, with a blocklist that bans 127.0.0.5.
fs::path homeOfNobody(const test::InstalledCopy& copy) {
    const fs::path home = copy.folder / "home";
    fs::create_directory(home);
    std::ofstream(home / "Moatlist.P2P") << "Test:127.0.0.5\r\n";
    if (chown(home.c_str(), 65534, 65534) != 0 ||
        chown((home / "Moatlist.P2P").c_str(), 65534, 65534) != 0)
        throw std::runtime_error("cannot hand the home to nobody");
    return home;
}

struct Service {
    pid_t pid;
    int out;  // standard output and standard error
};

// The copy started as the unit starts it, with these arguments.
Service startAsService(const test::InstalledCopy& copy, const fs::path& home,
                       const std::vector<std::string>& arguments) {
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
        command.insert(command.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : command) argv.push_back(word.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    return {pid, out[0]};
}

int exitStatusOf(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(ConsoleGuardAsInstalled, TheServiceGuardsInTheKernelWithItsTwoCapabilities) {
    const fs::path original = BW_HEADLESS_EXECUTABLE;
    test::InstalledCopy copy(original, false);
    if (!copy.problem.empty())
        GTEST_SKIP() << copy.problem;
    BW_RUN_IN_PRIVATE_NETWORK(run, [&](Findings& f) {
        test::inChildCgroup(f, [&](const test::ChildCgroup& cgroup) {
            test::openToEveryone(cgroup.path());
            const fs::path home = homeOfNobody(copy);

            auto [pid, out] = startAsService(copy, home, {});
            std::string output = test::readUntil(out, "Successfully loaded");
            f.set("banned", test::udpConnectError("127.0.0.5"));
            f.set("allowed", test::udpConnectError("127.0.0.6"));
            f.set("attachedWhileRunning", test::attachedPrograms(cgroup.path()));
            kill(pid, SIGTERM);
            output += test::readUntil(out, "\x04");
            close(out);
            f.set("status", exitStatusOf(pid));
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

// The service's own user reads no other user's descriptors, yet the kernel
// names the process that asked: a program of root's is named in the details.
TEST(ConsoleGuardAsInstalled, TheServiceNamesAnotherUsersProgramItRefuses) {
    test::InstalledCopy copy(BW_HEADLESS_EXECUTABLE, false);
    if (!copy.problem.empty())
        GTEST_SKIP() << copy.problem;
    BW_RUN_IN_PRIVATE_NETWORK(run, [&](Findings& f) {
        test::inChildCgroup(f, [&](const test::ChildCgroup& cgroup) {
            test::openToEveryone(cgroup.path());
            auto [pid, out] = startAsService(copy, homeOfNobody(copy), {"--details"});
            std::string output = test::readUntil(out, "Successfully loaded");
            test::NamedProbe probe(copy.folder, "rootsprobe", "127.0.0.5", 8080);
            f.set("outcome", probe.outcome());
            f.set("probe", probe.pid());
            output += test::readUntil(out, ", TCP, outgoing\n");
            probe.finish();
            kill(pid, SIGTERM);
            output += test::readUntil(out, "\x04");
            close(out);
            f.set("status", exitStatusOf(pid));
            f.set("output", output);
        });
    });
    if (!run.findings["skip"].empty())
        GTEST_SKIP() << run.findings["skip"];
    const Findings& f = run.findings;
    EXPECT_EQ(f["outcome"], "refused");
    EXPECT_NE(f["output"].find(")\n    Details: program \"rootsprobe\" (pid " + f["probe"] +
                               "), port 8080, TCP, outgoing\n"),
              std::string::npos)
        << f["output"];
    EXPECT_EQ(f.number("status"), 0) << f["output"];
}

}  // namespace
}  // namespace bw
