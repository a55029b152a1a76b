#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace bw {

// The hand-over channel of the one running copy of the program per program
// folder. Later starts hand their request (a link, or a request to show the
// window) to it instead of writing the folder's files themselves.
class InstanceChannel {
public:
    virtual ~InstanceChannel() = default;
    // Answers every request waiting now, without blocking on new ones: each
    // request's text goes to answer, whose result is sent back to its sender.
    // Only requests from this user and of at most kMaxRequestBytes reach it.
    virtual void serve(const std::function<std::string(std::string_view)>& answer) = 0;
    // Gives the folder up before the process ends: a start that has saved its
    // link and only has a message left to show must not keep later starts waiting.
    virtual void release() = 0;

    static constexpr std::size_t kMaxRequestBytes = 16 * 1024;
    // One deadline for a whole request, so a slow sender cannot hold the program's thread.
    static constexpr int kRequestWaitMs = 500;
};

// What this start claims the folder for: to guard, taking later starts' links
// over the channel, or to add one link and end, which takes none.
enum class ClaimPurpose { Guard, OneLink };

struct InstanceClaim {
    // Set when this start is the only copy for the folder and now holds it.
    std::unique_ptr<InstanceChannel> channel;
    // Another copy holds the folder: hand the request over to it.
    bool otherCopyRuns = false;
    // Neither: the channel could not be set up, and why.
    std::string error;
};

// Claims the program folder for this process for as long as the channel lives.
// The channel is a local socket in a folder only this user can enter, and
// the socket itself is readable and writable by its owner alone; a OneLink
// claim holds the folder without one. While the folder is held by a copy that
// takes no links (another link start), this waits for it to end, so that the
// two never write the folder's files at once and neither link is lost.
InstanceClaim claimProgramFolder(const std::filesystem::path& folder,
                                 ClaimPurpose purpose = ClaimPurpose::Guard);

// This user's copy that guards the folder and takes links, found without
// creating, locking or asking anything; none when no such copy runs. Another
// account's guard (the service's) cannot be seen from here.
struct RunningGuard {
    int pid = 0;
    std::string program;  // its process name, when it can be read
};
std::optional<RunningGuard> runningGuardOf(const std::filesystem::path& folder);

struct HandOverResult {
    bool delivered = false;
    std::string answer;  // the running copy's answer, when delivered
    std::string error;   // why not, when not delivered
    // Not delivered because the request is longer than kMaxRequestBytes; nothing was sent.
    bool tooLong = false;
    // Not delivered, but the whole request reached the running copy before its
    // answer broke off: it may have acted on it.
    bool requestSent = false;
};

// Hands the request to the copy that holds the folder and waits for its answer.
// The running copy gives a sender kRequestWaitMs in all to send its request.
HandOverResult handOverToRunningCopy(const std::filesystem::path& folder, std::string_view request);

}  // namespace bw
