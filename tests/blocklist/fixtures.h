#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace bw::test {

// The bytes of a file under tests/data/blocklist, found from this source file.
inline std::string blocklistFixture(const std::string& name) {
    std::filesystem::path path =
        std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "blocklist" / name;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

}  // namespace bw::test
