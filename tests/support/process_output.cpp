#include "support/process_output.h"

#include <poll.h>
#include <unistd.h>

namespace bw::test {

std::string readUntil(int fd, const std::string& wanted) {
    std::string seen;
    for (int waits = 0; waits < 600 && seen.find(wanted) == std::string::npos; ++waits) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buffer[4096];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        seen.append(buffer, static_cast<std::size_t>(n));
    }
    return seen;
}

}  // namespace bw::test
