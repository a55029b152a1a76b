#include "program/later_start.h"

#include <string>

#include "maintenance/link_intake.h"
#include "platform/instance_channel.h"
#include "program/program.h"

namespace bw {

int deferToRunningCopy(const std::filesystem::path& folder, std::string_view argument, bool window,
                       std::FILE* out, std::FILE* err) {
    std::string request;
    if (!linkPayload(argument).empty()) {
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
    if (!handed.delivered) {
        std::fprintf(err,
                     "Bastionwatch is already running for the folder %s, but could not be "
                     "reached (%s). Nothing was handed over.\n",
                     folder.c_str(), handed.error.c_str());
        return 1;
    }
    std::fprintf(out, "%s\n", handed.answer.c_str());
    return handed.answer.rfind("Refused", 0) == 0 ? 1 : 0;
}

}  // namespace bw
