#pragma once

#include <string_view>

#include "base/host.h"

namespace bw {

class Launcher;

inline constexpr std::string_view kNoDefaultApplication = "Couldn't load the default application";

// Opens a file or web address with its default application. When the desktop
// has none for it, says so and offers the desktop's application chooser. Only
// the verb "Open" exists on this platform, and the parameters, directory and
// show command have nothing to act on; every other failure is silent.
void shellDocument(Launcher& launcher, Host& host, std::string_view operation,
                   std::string_view target, int parameters, int directory, int show);

// ShellDocument("Open", target, 0, 0, 1): a web address in the browser.
void shellOpen(Launcher& launcher, Host& host, std::string_view target);

}  // namespace bw
