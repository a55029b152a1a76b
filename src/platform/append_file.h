#pragma once

#include <filesystem>
#include <string_view>

#include "platform/atomic_file.h"

namespace bw {

// Appends the bytes to the end of the file (created when absent) whole or not
// at all: when only part of them could be written (a full disk, a size limit),
// the file is cut back to its length before the call.
WriteResult appendWholeRecord(const std::filesystem::path& file, std::string_view bytes);

}  // namespace bw
