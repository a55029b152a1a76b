#pragma once

#include <string_view>

#include "program/program.h"

namespace bw {

// The web address each Support menu item opens.
std::string_view supportPageAddress(SupportPage page);

}  // namespace bw
