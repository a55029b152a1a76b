#pragma once

#include <string>

namespace bw::test {

// Reads a child's output until the text has appeared or the child closed it.
// The wait is bounded (about a minute without output) so a broken program
// fails the test instead of hanging it.
std::string readUntil(int fd, const std::string& wanted);

}  // namespace bw::test
