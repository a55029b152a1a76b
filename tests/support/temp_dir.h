#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace bw::test {

// A fresh folder per test, removed with everything in it afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path file(std::string_view name) const { return path_ / name; }
    void write(std::string_view name, std::string_view bytes) const;
    std::string read(std::string_view name) const;

private:
    std::filesystem::path path_;
};

}  // namespace bw::test
