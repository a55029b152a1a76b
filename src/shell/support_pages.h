#pragma once

#include <string_view>

#include "shell/program.h"

namespace bw {

// The web address each Support menu item opens.
std::string_view supportPageAddress(SupportPage page);

}  // namespace bw
