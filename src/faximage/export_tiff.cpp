#include "faximage/export_tiff.h"

#include "core/error_codes.h"
#include "faximage/buffered_writer.h"
#include "faximage/t4_coder.h"

namespace qv::faximage {

using namespace qv::core;

namespace {

enum : uint16_t { kShort = 3, kLong = 4, kRational = 5 };

void Put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = static_cast<uint8_t>(x);
  v[at + 1] = static_cast<uint8_t>(x >> 8);
}
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  Put16(v, at, x);
  Put16(v, at + 2, x >> 16);
}

struct Entry {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
  uint32_t value;  // SHORT values in the low half; for a pair, second value in the high half
};

}  // namespace

std::vector<uint8_t> BuildTiff(const std::vector<ExportPage>& pages) {
  std::vector<uint8_t> tiff = {'I', 'I', 42, 0, 0, 0, 0, 0};
  size_t nextIfdLink = 4;  // where the offset of the next IFD goes
  const uint32_t total = static_cast<uint32_t>(pages.size());
  for (uint32_t i = 0; i < total; ++i) {
    const ExportPage& page = pages[i];
    std::vector<uint8_t> coded = CodePageRows(page.bitmap, false);
    const uint32_t strip = static_cast<uint32_t>(tiff.size());
    tiff.insert(tiff.end(), coded.begin(), coded.end());
    if (tiff.size() & 1) tiff.push_back(0);  // IFDs start on a word boundary
    const Entry entries[] = {
        {254, kLong, 1, 2},  // page of a multi-page document
        {256, kLong, 1, static_cast<uint32_t>(page.bitmap.width)},
        {257, kLong, 1, static_cast<uint32_t>(page.bitmap.height)},
        {258, kShort, 1, 1},
        {259, kShort, 1, 3},  // CCITT T.4
        {262, kShort, 1, 0},  // 0 = white
        {266, kShort, 1, 2},  // least significant bit first
        {273, kLong, 1, strip},
        {274, kShort, 1, 1},
        {277, kShort, 1, 1},
        {278, kLong, 1, static_cast<uint32_t>(page.bitmap.height)},
        {279, kLong, 1, static_cast<uint32_t>(coded.size())},
        {282, kRational, 1, 0},  // offsets filled in below
        {283, kRational, 1, 0},
        {292, kLong, 1, 4},  // 1-D, fill bits before EOLs
        {296, kShort, 1, 2},  // inch
        {297, kShort, 2, i | (total << 16)},
    };
    const size_t n = sizeof entries / sizeof entries[0];
    const size_t ifd = tiff.size();
    const size_t rationals = ifd + 2 + n * 12 + 4;
    tiff.resize(rationals + 16, 0);
    Put32(tiff, nextIfdLink, static_cast<uint32_t>(ifd));
    Put16(tiff, ifd, static_cast<uint32_t>(n));
    for (size_t k = 0; k < n; ++k) {
      const size_t at = ifd + 2 + k * 12;
      Entry e = entries[k];
      if (e.tag == 282) e.value = static_cast<uint32_t>(rationals);
      if (e.tag == 283) e.value = static_cast<uint32_t>(rationals + 8);
      Put16(tiff, at, e.tag);
      Put16(tiff, at + 2, e.type);
      Put32(tiff, at + 4, e.count);
      if (e.type == kShort) {
        Put16(tiff, at + 8, e.value & 0xFFFF);
        Put16(tiff, at + 10, e.value >> 16);
      } else {
        Put32(tiff, at + 8, e.value);
      }
    }
    nextIfdLink = ifd + 2 + n * 12;  // stays 0 on the last page
    Put32(tiff, rationals, 204);
    Put32(tiff, rationals + 4, 1);
    Put32(tiff, rationals + 8, page.fine ? 196 : 98);
    Put32(tiff, rationals + 12, 1);
  }
  return tiff;
}

int UnpackFileToTiff(UnpackerState& state, const std::string& inFile, const std::string& outFile) {
  std::vector<ExportPage> pages;
  int rc = UnpackAllPagesForExport(state, inFile, pages);
  if (rc < 0) return rc;
  std::vector<uint8_t> tiff = BuildTiff(pages);
  return WriteWholeFile(outFile, tiff.data(), tiff.size());
}

}  // namespace qv::faximage
