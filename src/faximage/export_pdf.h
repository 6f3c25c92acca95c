#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "faximage/unpacker_bitmap.h"
#include "faximage/unpacker_state.h"

namespace qv::faximage {

// One page ready for the document exports: the decoded page at its coded size (never resampled)
// and its resolution.
struct ExportPage {
  PageBitmap bitmap;  // rows 1 = black, 1728 or 2048 pixels wide
  bool fine = false;  // 196 rows per inch, else 98
};

// Decodes every page of a QVF file at its coded size: auto-scaling and scale factors of the state
// are switched off, since a document page carries its physical size instead.
int UnpackAllPagesForExport(UnpackerState& state, const std::string& inFile, std::vector<ExportPage>& pages);

// Page size in PDF points: 204 pixels per inch across, 98 or 196 rows per inch down (1728 pixels
// are 215 mm, a fine A4 page of 2287 rows 297 mm).
double PdfPageWidth(const ExportPage& page);
double PdfPageHeight(const ExportPage& page);

// The pages as a PDF document, one page per fax page, each an image of CCITT MH data. `title`
// and the creation time ("D:YYYYMMDDHHmmSS") go into the Info dictionary.
std::string BuildPdf(const std::vector<ExportPage>& pages, const std::string& title, const std::string& creationDate);

// Every page of a QVF file as a PDF file; the title is the file name without folders, the
// creation date the fax's own. On any failure the output file is deleted.
int UnpackFileToPdf(UnpackerState& state, const std::string& inFile, const std::string& outFile);

}  // namespace qv::faximage
