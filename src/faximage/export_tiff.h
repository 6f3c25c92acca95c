#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "faximage/export_pdf.h"

namespace qv::faximage {

// The pages as a little-endian multi-page TIFF Class F file: one IFD per page with one strip of
// 1-D MH data (EOLs byte-aligned, least significant bit first), 204 x 98 or 196 dpi, PageNumber
// and the page subfile type.
std::vector<uint8_t> BuildTiff(const std::vector<ExportPage>& pages);

// Every page of a QVF file as a TIFF file. On any failure the output file is deleted.
int UnpackFileToTiff(UnpackerState& state, const std::string& inFile, const std::string& outFile);

}  // namespace qv::faximage
