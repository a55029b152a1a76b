#pragma once

#include <memory>
#include <string>

#include "platform/downloader.h"
#include "platform/priority.h"
#include "program/program.h"
#include "support/fake_clock.h"
#include "support/fake_instance_channel.h"
#include "support/fake_launcher.h"
#include "support/fake_registry.h"
#include "support/fake_tcp_table.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

namespace bw::test {

// A download that has failed at once: nothing reaches these programs' server.
// It may name the server it reached before it failed.
class FailedDownload : public Download {
public:
    explicit FailedDownload(std::string serverAddress = {})
        : serverAddress_(std::move(serverAddress)) {}
    bool finished() const override { return true; }
    DownloadResult result() const override {
        DownloadResult failed{false, "no network in this test"};
        failed.serverAddress = serverAddress_;
        return failed;
    }

private:
    std::string serverAddress_;
};

class NoNetworkDownloader : public Downloader {
public:
    std::unique_ptr<Download> start(const DownloadRequest& request) override {
        urls.push_back(request.url);
        return std::make_unique<FailedDownload>(serverAddress);
    }
    std::vector<std::string> urls;
    std::string serverAddress;  // what each download says it reached; none by default
};

class CountingPriority : public Priority {
public:
    void raise() override { ++raises; }
    int raises = 0;
};

// lists.json's entry for the built-in allow list, switched off by the user.
inline constexpr const char* kPrivateNetworksOff =
    R"({"name": "Private networks", "enabled": false})";

// The outside world of a Program, all fakes, in a folder of its own. The user
// has switched the built-in allow list off there, so the private ranges the
// tests' own lists ban are refused as written.
struct FakeServices {
    FakeServices() {
        dir.write("lists.json", std::string("{\"lists\": [") + kPrivateNetworksOff + "]}");
    }

    ProgramServices services() {
        return ProgramServices{.tcpTable = tcp,
                               .clock = clock,
                               .downloader = downloader,
                               .registry = registry,
                               .launcher = launcher,
                               .priority = priority,
                               .folder = dir.path(),
                               .executable = dir.path() / "bastionwatch",
                               .updateServer = "http://127.0.0.1:9/",
                               .instanceChannel = &laterStarts};
    }

    TempDir dir;
    FakeTcpTable tcp;
    FakeClock clock;
    NoNetworkDownloader downloader;
    FakeRegistry registry;
    FakeLauncher launcher;
    CountingPriority priority;
    FakeInstanceChannel laterStarts;
};

// A Program over fakes, shown through a recording host.
struct ProgramFixture : FakeServices {
    ProgramFixture() : program(host, services()) {}

    RecordingHost host;
    Program program;
};

}  // namespace bw::test
