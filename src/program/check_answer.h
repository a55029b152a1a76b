#pragma once

#include <string>
#include <string_view>

namespace bw {

class Program;

// The window's answer to "Check an address": the check --check makes, on the
// table and lists the running guard holds now, with the own list's entries
// named by their row of the IP Ranges/Blocklist view.
std::string checkAnswer(Program& program, std::string_view asked);

}  // namespace bw
