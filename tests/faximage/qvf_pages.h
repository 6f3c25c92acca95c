#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "faximage/qvf_file.h"
#include "test_util.h"

namespace qv::faximage::testing {

struct DecodedPage {
  uint16_t Flags = 0;
  std::vector<std::vector<int>> Rows;  // pixels 0/1, without the end-of-page record
  std::vector<int> RecordLengths;      // RowLength of every record, end-of-page included
  bool EndsWithEndOfPage = false;
};

// Reads every page of a converter-written QVF file and decodes its row records with the test's
// own decoder. Rows that do not decode come back empty.
inline std::vector<DecodedPage> ReadQvfPages(const std::string& file) {
  std::vector<uint8_t> d = ReadAll(file);
  std::vector<DecodedPage> pages;
  if (d.size() < 64) return pages;
  int count = d[32] | (d[33] << 8);
  size_t pos = d[34] | (d[35] << 8) | (d[36] << 16) | (static_cast<size_t>(d[37]) << 24);
  for (int p = 0; p < count && pos + 16 <= d.size(); ++p) {
    DecodedPage page;
    int32_t len = static_cast<int32_t>(d[pos] | (d[pos + 1] << 8) | (d[pos + 2] << 16) |
                                       (static_cast<uint32_t>(d[pos + 3]) << 24));
    page.Flags = static_cast<uint16_t>(d[pos + 4] | (d[pos + 5] << 8));
    int width = (page.Flags & pfWide) ? 2048 : 1728;
    pos += 16;
    size_t end = pos + static_cast<size_t>(len);
    while (pos + 2 <= end && end <= d.size()) {
      int rl = d[pos] | (d[pos + 1] << 8);
      std::vector<uint8_t> rec(d.begin() + static_cast<long>(pos) + 2,
                               d.begin() + static_cast<long>(pos) + 2 + rl);
      pos += 2 + static_cast<size_t>(rl);
      page.RecordLengths.push_back(rl);
      static const std::vector<uint8_t> eop = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00,
                                               0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
      if (rec == eop) {
        page.EndsWithEndOfPage = pos == end;
        break;
      }
      page.Rows.push_back(DecodeRowPixels(rec, width));
    }
    pos = end;
    pages.push_back(std::move(page));
  }
  return pages;
}

// A row of pixels from a raster buffer.
inline std::vector<int> Pixels(const std::vector<uint8_t>& raster, int width, int shift = 0) {
  std::vector<int> px(static_cast<size_t>(width), 0);
  for (int x = shift; x < width; ++x) {
    int src = x - shift;
    if (static_cast<size_t>(src >> 3) < raster.size())
      px[static_cast<size_t>(x)] = (raster[static_cast<size_t>(src >> 3)] >> (7 - (src & 7))) & 1;
  }
  return px;
}

inline bool AllWhite(const std::vector<int>& row) {
  for (int p : row)
    if (p) return false;
  return !row.empty();
}

}  // namespace qv::faximage::testing
