#include "platform/unique_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace bw {

UniqueFile createUniqueFile(const std::filesystem::path& stem, std::string_view suffix) {
    std::string name = stem.string() + ".XXXXXX";
    name += suffix;
    int fd = ::mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0)
        return {{}, "cannot create a file beside " + stem.string() + ": " + std::strerror(errno)};
    ::close(fd);
    return {name, {}};
}

}  // namespace bw
