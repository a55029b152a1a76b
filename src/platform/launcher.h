#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace bw {

enum class LaunchOutcome { Opened, NoAssociation, Failed };

// Opens documents and web addresses with the desktop's default applications.
class Launcher {
public:
    virtual ~Launcher() = default;
    // Starts the default application for a file path or web address and
    // returns at once; NoAssociation when the desktop has none for it.
    virtual LaunchOutcome open(const std::string& target) = 0;
    // Lets the user choose an application for the target.
    virtual void openWith(const std::string& target) = 0;
};

// The desktop's own opener (xdg-open); the chooser is the desktop portal's
// "open with" dialog, or the target's folder in the file manager where no
// portal answers.
std::unique_ptr<Launcher> makeDesktopLauncher();

// Helpers of the desktop launcher, public for tests.
// True for "scheme://..." and "mailto:..." targets, false for file paths.
bool isWebAddress(std::string_view target);
// A "file://" address of an absolute path, every byte outside the unreserved
// set and "/" percent-encoded.
std::string fileUri(const std::filesystem::path& absolutePath);
// A text as a quoted string in the notation that gdbus reads.
std::string quotedForGdbus(std::string_view text);

}  // namespace bw
