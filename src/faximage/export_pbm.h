#pragma once

#include <string>

#include "faximage/unpacker_state.h"

namespace qv::faximage {

// One page as a full-width (1728 or 2048 pixels) binary PBM file ("P4"); the state's auto-scale
// and scale factors apply. On failure the output file is deleted.
int UnpackPageToPbm(UnpackerState& state, const std::string& inFile, int page, const std::string& outFile);

}  // namespace qv::faximage
