#include "faximage/marked_copy.h"

#include "faximage/qvf_writer.h"
#include "faximage/raster.h"
#include "faximage/t4_coder.h"
#include "faximage/unpacker.h"
#include "faximage/unpacker_bitmap.h"
#include "faximage/unpacker_state.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace qv::faximage {

int WriteMarkedCopy(const std::string& source, const FaxMarks& marks, const std::string& target, int* pages) {
  if (pages) *pages = 0;
  UnpackerState state;
  state.Marks = std::make_shared<const FaxMarks>(marks);
  // The page count comes with the first page's unpacking.
  PageBitmap page;
  bool fine = false;
  int rc = UnpackPageFullWidth(state, source, 1, page, &fine);
  if (rc < 0) return rc;
  const int count = state.FaxHeader.PageCount;

  QvfWriter out;
  rc = out.Create(target);
  if (rc < 0) return rc;
  std::vector<uint8_t> raster;
  uint8_t coded[kMaxCodedRow];
  for (int p = 1; p <= count; ++p) {
    if (p > 1 && (rc = UnpackPageFullWidth(state, source, p, page, &fine)) < 0) break;
    // A quarter-turned page is as wide as the page was long. Narrower than a fax line it is sent
    // as it is, white to the right; wider than the widest line it is shrunk to a standard line
    // (the one case that cannot be one to one: a fax line holds no more).
    if (page.width > kWideWidth) {
      PageBitmap narrower;
      const int height = static_cast<int>(int64_t{page.height} * kStandardWidth / page.width);
      if ((rc = StretchBitmap(page, kStandardWidth, std::max(height, 1), narrower)) < 0) break;
      page = std::move(narrower);
    }
    const int width = page.width > kStandardWidth ? kWideWidth : kStandardWidth;
    uint16_t flags = pfRowRecords;
    if (fine) flags |= pfHighRes;
    if (width == kWideWidth) flags |= pfWide;
    out.SetPageFlags(flags);
    const size_t rowBytes = static_cast<size_t>(page.width + 7) / 8;
    raster.assign(static_cast<size_t>(width) / 8 + 8, 0);
    for (int y = 0; y < page.height && rc >= 0; ++y) {
      const uint8_t* src = page.row(y);
      for (size_t i = 0; i < rowBytes; ++i) raster[i] = page.inverted ? static_cast<uint8_t>(~src[i]) : src[i];
      const int n = CodeRow(raster.data(), width, 0, false, coded);
      rc = out.WriteRowRecord({coded, static_cast<size_t>(n)});
    }
    if (rc < 0) break;
    if ((rc = out.EndPage()) < 0) break;
  }
  if (rc >= 0) rc = out.Close(std::string_view());
  if (rc < 0) {
    out.Discard();
    return rc;
  }
  if (pages) *pages = count;
  return 0;
}

}  // namespace qv::faximage
