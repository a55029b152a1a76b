#include "program/later_start_server.h"

#include "base/running_mark.h"
#include "blocklist/blocklist_writer.h"
#include "maintenance/link_intake.h"
#include "platform/instance_channel.h"
#include "program/add_refusal.h"
#include "program/wide_entries.h"

namespace bw {

namespace {

// How the answer to a link that added nothing begins.
constexpr std::string_view kNothingAddedText = "Nothing was added to the blocklist.";

Message linkMessage(std::string text, MessageIcon icon) {
    return {std::move(text), icon, MessageButtons::Ok, "Bastionwatch Update"};
}

}  // namespace

LaterStartServer::LaterStartServer(LinkReceiver& receiver, const BanTable& table, Host& host,
                                   InstanceChannel* channel, std::filesystem::path blocklist)
    : receiver_(receiver),
      table_(table),
      host_(host),
      channel_(channel),
      blocklist_(std::move(blocklist)) {}

LaterStartServer::LinkAdds LaterStartServer::addLinkEntries(std::string_view payload) {
    LinkAdds result;
    const std::vector<std::string> lines = linkLines(payload);
    result.refused = wideLinkRefusal(lines);
    if (!result.refused.empty())
        return result;
    for (const std::string& line : lines) {
        AddOutcome outcome = receiver_.addLinkLine(line);
        if (outcome == AddOutcome::Added) {
            result.added.push_back(line);
        } else {
            result.notAdded += linkLineNotAdded(line, outcome);
        }
    }
    receiver_.showTableCounters();
    return result;
}

LinkStartEnd LaterStartServer::takeStartLink(std::string_view payload) {
    auto [added, notAdded, refused] = addLinkEntries(payload);
    WriteResult saved = added.empty()
                            ? WriteResult{}
                            : receiver_.saveListWithUserEntries(added, formatStoredOnly(table_));
    // A link that added nothing failed, whatever the reason, so a script can tell.
    const int status = saved && !added.empty() ? 0 : 1;
    if (!refused.empty())
        return {linkMessage(refused, MessageIcon::Exclamation), status};
    if (!saved) {
        return {
            linkMessage("The range(s) could not be added: the blocklist " + blocklist_.string() +
                            " could not be written: " + saved.error + ". It was left as it was.",
                        MessageIcon::Exclamation),
            status};
    }
    if (added.empty()) {
        return {linkMessage(std::string(kNothingAddedText) + "\r\n\r\n" + notAdded,
                            MessageIcon::Exclamation),
                status};
    }
    std::string text =
        "Added range(s) to blocklist.\r\n\r\nChanges will only be effective "
        "once Bastionwatch has been restarted.\r\n\r\nSaved in " +
        blocklist_.string() + ".";
    if (!notAdded.empty())
        text += "\r\n\r\nNot added:\r\n" + notAdded;
    return {linkMessage(text, MessageIcon::Information), status};
}

void LaterStartServer::serve() {
    // A message box below keeps the guard timer running, and with it this.
    if (!channel_ || serving_)
        return;
    RunningMark mark(serving_);
    std::vector<Message> toShow;
    channel_->serve(
        [&](std::string_view request) { return encodeLaterStartAnswer(answer(request, toShow)); });
    // Shown once the later start has its answer, so it does not wait on the user.
    for (const Message& message : toShow) host_.showMessage(message);
}

LaterStartAnswer LaterStartServer::answer(std::string_view request, std::vector<Message>& toShow) {
    if (request == kShowWindowRequest) {
        receiver_.showWindow();
        return {0, "Bastionwatch is already running; its window was brought to the front."};
    }
    const std::string payload = linkPayload(request);
    if (payload.empty() ||
        request.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
        return {1,
                "Refused: the running copy of Bastionwatch takes only a bwdat:// link with "
                "entries."};
    }
    auto [added, notAdded, refused] = addLinkEntries(payload);
    receiver_.afterTableChange();
    // A link that added nothing failed, so the later start's script can tell.
    LaterStartAnswer result{1, {}};
    MessageIcon icon = MessageIcon::Exclamation;
    if (!refused.empty()) {
        result.text = refused;
    } else if (added.empty()) {
        result.text = std::string(kNothingAddedText) + "\r\n\r\n" + notAdded;
    } else if (WriteResult saved =
                   receiver_.saveListWithUserEntries(added, formatEverySlot(table_));
               !saved) {
        // Guarded against until the guard ends: added, though not for good.
        result = {0, "Added range(s) to the running guard, but the blocklist " +
                         blocklist_.string() + " could not be saved: " + saved.error +
                         ". They are active until Bastionwatch ends."};
    } else {
        result = {0, "Added range(s) to blocklist. They are guarded against now. Saved in " +
                         blocklist_.string() + "."};
        icon = MessageIcon::Information;
        if (!notAdded.empty())
            result.text += "\r\n\r\nNot added:\r\n" + notAdded;
    }
    toShow.push_back(linkMessage(result.text, icon));
    return result;
}

}  // namespace bw
