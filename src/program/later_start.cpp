#include "program/later_start.h"

#include <string>
#include <string_view>

#include "maintenance/link_intake.h"
#include "platform/instance_channel.h"

namespace bw {

std::string encodeLaterStartAnswer(const LaterStartAnswer& answer) {
    return std::string(answer.status == 0 ? "0" : "1") + "\n" + answer.text;
}

LaterStartAnswer decodeLaterStartAnswer(std::string_view answer) {
    if (answer.size() >= 2 && (answer[0] == '0' || answer[0] == '1') && answer[1] == '\n')
        return {answer[0] - '0', std::string(answer.substr(2))};
    return {1, std::string(answer)};
}

int deferToRunningCopy(const std::filesystem::path& folder, std::string_view argument, bool window,
                       std::FILE* out, std::FILE* err) {
    std::string request;
    if (isLink(argument)) {
        request = std::string(argument);
    } else if (window) {
        request = std::string(kShowWindowRequest);
    } else {
        std::fprintf(err,
                     "Bastionwatch is already running for the folder %s; this copy ends without "
                     "guarding. A bwdat:// link given to this command is handed to the running "
                     "copy.\n",
                     folder.c_str());
        return 1;
    }
    HandOverResult handed = handOverToRunningCopy(folder, request);
    if (handed.tooLong) {
        std::fprintf(err,
                     "Bastionwatch is already running for the folder %s, but the link is too long "
                     "to hand over: %zu bytes, and a running copy takes links of at most %zu "
                     "bytes. Nothing was handed over; split the link into shorter ones.\n",
                     folder.c_str(), request.size(), InstanceChannel::kMaxRequestBytes);
        return 1;
    }
    if (handed.requestSent && !isLink(argument)) {
        std::fprintf(err,
                     "Bastionwatch is already running for the folder %s and was asked to show "
                     "its window, but gave no answer (%s). Look for the window, or start "
                     "Bastionwatch again.\n",
                     folder.c_str(), handed.error.c_str());
        return 1;
    }
    if (handed.requestSent) {
        std::fprintf(err,
                     "Bastionwatch is already running for the folder %s and was handed the link, "
                     "but gave no answer (%s). The entries may or may not have been added: look "
                     "for them in the blocklist, or hand the link over again once Bastionwatch "
                     "runs (an entry that is listed already is not added twice).\n",
                     folder.c_str(), handed.error.c_str());
        return 1;
    }
    if (!handed.delivered) {
        std::fprintf(err,
                     "Bastionwatch is already running for the folder %s, but could not be "
                     "reached (%s). Nothing was handed over.\n",
                     folder.c_str(), handed.error.c_str());
        return 1;
    }
    const LaterStartAnswer answer = decodeLaterStartAnswer(handed.answer);
    std::fprintf(out, "%s\n", answer.text.c_str());
    return answer.status;
}

}  // namespace bw
