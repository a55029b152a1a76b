#pragma once

#include <filesystem>

#include "maintenance/reg_write.h"

namespace bw {

// Registers the bwdat link scheme so that opening a bwdat:// link starts the
// executable with the link as its argument. Runs at every start; writing the
// same keys again gives the same result.
void registerLinkScheme(RegWrite& regWrite, const std::filesystem::path& executable);

}  // namespace bw
