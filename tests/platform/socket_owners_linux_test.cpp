// Socket owners against the real /proc: this process's own socket, one that
// is gone, and what an ordinary user cannot see of root's.

#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/socket_owners.h"
#include "support/as_installed.h"
#include "support/network_namespace.h"

namespace bw {
namespace {

std::uint64_t inodeOf(int fd) {
    struct stat info {};
    return fstat(fd, &info) == 0 ? info.st_ino : 0;
}

std::string ownCommand() {
    std::string command;
    std::getline(std::ifstream("/proc/self/comm"), command);
    return command;
}

// A socket that touches no network: created, never bound.
struct OpenSocket {
    OpenSocket() : fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)), inode(inodeOf(fd)) {}
    ~OpenSocket() {
        if (fd >= 0)
            close(fd);
    }
    int fd;
    std::uint64_t inode;
};

TEST(SocketOwners, NamesTheProcessThatHoldsASocketAndNoneForOneClosed) {
    OpenSocket held;
    std::uint64_t closed = 0;
    {
        OpenSocket gone;
        closed = gone.inode;
    }
    ASSERT_NE(held.inode, 0u);
    const std::vector<std::uint64_t> inodes{closed, held.inode, 0};
    SocketOwnerScan scan = makeLinuxSocketOwners()->find(inodes);
    ASSERT_EQ(scan.owners.size(), 1u);
    EXPECT_EQ(scan.owners[held.inode],
              (SocketOwner{static_cast<std::uint32_t>(getpid()), ownCommand()}));
}

TEST(SocketOwners, NothingAskedIsNothingLookedFor) {
    SocketOwnerScan scan = makeLinuxSocketOwners()->find({});
    EXPECT_TRUE(scan.owners.empty());
    EXPECT_FALSE(scan.hiddenProcesses);
}

// As the user nobody, in a process of its own: its own socket is named, and
// a socket of root's (this test's) is not, with the reason that it may hide
// among processes nobody cannot look into.
TEST(SocketOwners, AnOrdinaryUserSeesItsOwnProgramsAndSaysWhereItCannotSee) {
    if (const std::string why = test::whyNotAsOrdinaryUser(); !why.empty())
        GTEST_SKIP() << why;
    const passwd* nobody = getpwnam("nobody");
    if (!nobody)
        GTEST_SKIP() << "there is no user nobody";
    const uid_t user = nobody->pw_uid;
    const gid_t group = nobody->pw_gid;
    OpenSocket roots;
    auto asNobody = [&](test::Findings& f) {
        close(roots.fd);  // the copy fork gave; only root's test process holds it now
        if (setgroups(0, nullptr) != 0 || setresgid(group, group, group) != 0 ||
            setresuid(user, user, user) != 0)
            throw std::runtime_error("could not become nobody");
        // As a program started by nobody would be, not one that changed its user.
        prctl(PR_SET_DUMPABLE, 1);
        OpenSocket own;
        const std::vector<std::uint64_t> inodes{own.inode, roots.inode};
        SocketOwnerScan scan = makeLinuxSocketOwners()->find(inodes);
        f.set("ownPid", scan.owners[own.inode].pid);
        f.set("pid", getpid());
        f.set("rootsFound", scan.owners.contains(roots.inode) ? "yes" : "no");
        f.set("hidden", scan.hiddenProcesses ? "yes" : "no");
    };
    BW_RUN_IN_PRIVATE_NETWORK(run, asNobody);
    EXPECT_EQ(run.findings["ownPid"], run.findings["pid"]);
    EXPECT_EQ(run.findings["rootsFound"], "no");
    EXPECT_EQ(run.findings["hidden"], "yes");
}

}  // namespace
}  // namespace bw
