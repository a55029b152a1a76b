#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace bw::test {

// What a scenario run in a private network tells the test, by name.
class Findings {
public:
    void set(const std::string& key, std::string value) { values_[key] = std::move(value); }
    void set(const std::string& key, long long value) { values_[key] = std::to_string(value); }
    // Empty when the scenario did not say.
    std::string operator[](const std::string& key) const;
    long long number(const std::string& key) const;

    std::string encode() const;
    static Findings decode(std::string_view bytes);

private:
    std::map<std::string, std::string> values_;
};

struct PrivateNetworkRun {
    bool created = false;    // false: no namespace can be made here (why in `problem`)
    bool completed = false;  // the scenario ran to its end
    std::string problem;
    Findings findings;
};

// Runs the scenario in a child process of its own that has entered a new,
// empty network namespace with its loopback interface up; the machine's
// network is never touched. Returns once the child has ended.
PrivateNetworkRun runInPrivateNetwork(const std::function<void(Findings&)>& scenario);

// In a test body: runs the scenario, skips (saying why) only where no private
// network can be made, and fails when the scenario did not run to its end.
#define BW_RUN_IN_PRIVATE_NETWORK(run, scenario)                                   \
    ::bw::test::PrivateNetworkRun run = ::bw::test::runInPrivateNetwork(scenario); \
    if (!run.created)                                                              \
        GTEST_SKIP() << "no private network namespace: " << run.problem;           \
    ASSERT_TRUE(run.completed) << run.problem

// Takes CAP_NET_ADMIN away from the calling process for good.
bool dropNetworkAdministration();

// Plain blocking loopback sockets for scenarios; each returns the descriptor,
// or -1 on failure.
int listenOn(const char* address, std::uint16_t port);
int connectFrom(const char* localAddress, const char* address, std::uint16_t port);
int acceptOne(int listener);
// IPv6 sockets: a dual-stack listener on every address and a client to a
// textual IPv6 address (IPv4-mapped or not).
int listenDualStack(std::uint16_t port);
int connect6(const char* address, std::uint16_t port);
// Native IPv6: a listener on one address only and a client bound to its own.
int listenOn6(const char* address, std::uint16_t port);
int connect6From(const char* localAddress, const char* address, std::uint16_t port);
// Puts an IPv6 address (a documentation one, 2001:db8::/32) on the private
// network's loopback without duplicate address detection, and returns once
// the kernel routes to it.
bool addLoopbackAddress6(const char* address);

// Sends the text and reads it back on the other end; true when it arrived whole.
bool carriesData(int from, int to, std::string_view text);
// The errno of a non-blocking read: 0 when the read worked or would wait.
int readError(int fd);

}  // namespace bw::test
