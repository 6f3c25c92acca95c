#pragma once
// Pictures from files for the editor and the command-line converter: image files (PNG and JPEG
// kept as they are, BMP and other kinds stored as PNG) and the pages of a PDF (drawn by Poppler at
// the resolution they will be sent at, text without antialiasing, stored as grey PNG).

#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "rtf/rtf_document.h"

namespace qv::ui {

// Full-page pictures (PDF pages) are made a little short of the text height, so that rounding
// never pushes one onto a page of its own.
inline constexpr double kFullPageShare = 0.98;

// A PDF longer than this is refused with a message rather than held in one memo.
inline constexpr int kMaxPdfPages = 200;

// Reads an image file as a picture shown at its own resolution (96 dpi when it states none),
// scaled down to fit maxWidthTwips x maxHeightTwips. False with a message when it is unreadable.
bool LoadPictureFile(const QString& fileName, int maxWidthTwips, int maxHeightTwips,
                     rtf::Picture& out, std::string* error = nullptr);

// Progress of a PDF import: pages done and total; return false to cancel.
using PdfProgress = std::function<bool(int done, int total)>;

// Each page of a PDF as a picture filling maxWidthTwips x maxHeightTwips (aspect kept). False with
// a message for a missing, broken, password-protected or too long file, or when cancelled.
bool LoadPdfPages(const QString& fileName, int maxWidthTwips, int maxHeightTwips,
                  std::vector<rtf::Picture>& out, std::string* error = nullptr,
                  const PdfProgress& progress = {});

// The number of pages of a PDF; -1 with a message when it cannot be read.
int PdfPageCount(const QString& fileName, std::string* error = nullptr);

// Whether PDF pages can be read in this build.
bool PdfAvailable();

}  // namespace qv::ui
