#include "program/launching.h"

#include <string>

#include "platform/launcher.h"

namespace bw {

void shellDocument(Launcher& launcher, Host& host, std::string_view /*operation*/,
                   std::string_view target, int /*parameters*/, int /*directory*/, int /*show*/) {
    const std::string what(target);
    if (launcher.open(what) != LaunchOutcome::NoAssociation)
        return;
    host.showMessage(Message{std::string(kNoDefaultApplication), MessageIcon::None,
                             MessageButtons::Ok, std::string(kApplicationTitle)});
    launcher.openWith(what);
}

void shellOpen(Launcher& launcher, Host& host, std::string_view target) {
    shellDocument(launcher, host, "Open", target, 0, 0, 1);
}

}  // namespace bw
