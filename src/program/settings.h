#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "base/product.h"
#include "base/program_state.h"
#include "platform/atomic_file.h"

namespace bw {

// Reading the file succeeds or fails as writing it does: ok, or why not for the user.
using SettingsLoad = WriteResult;

// Reads the settings file and applies it to the state: the start-hidden flag
// (line 1), the aggression (line 2) and the last update version (line 3). The
// file is created empty when it does not exist; an empty file only shows the
// window. Fails when the file could not be opened or created, in which case
// the state is untouched.
SettingsLoad LOADSETTINGS(const std::filesystem::path& file, ProgramState& state);

// The same, on the file's bytes (never empty here).
void applySettingsText(std::string_view bytes, ProgramState& state);

// Writes the three lines, each ended by CR LF, replacing the file whole.
WriteResult SAVESETTINGS(const std::filesystem::path& file, const ProgramState& state);

// The bytes SAVESETTINGS writes.
std::string settingsText(const ProgramState& state);

}  // namespace bw
