#include "fax/header_line.h"

#include <cctype>
#include <cstring>
#include <ctime>
#include <memory>

#include "faximage/converter_state.h"
#include "faximage/fax_font.h"
#include "faximage/t4_coder.h"

namespace qv::fax {

std::string ExpandHeaderTags(const std::string& text, const HeaderValues& v) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text[i] != '$') {
      out.push_back(text[i++]);
      continue;
    }
    size_t end = text.find(' ', i);
    if (end == std::string::npos) end = text.size();
    char letter = i + 1 < end ? static_cast<char>(std::toupper(static_cast<unsigned char>(text[i + 1]))) : '\0';
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[64] = "";
    switch (letter) {
      case 'D': std::strftime(buf, sizeof buf, "%x", &tm); out += buf; break;
      case 'T': std::strftime(buf, sizeof buf, "%X", &tm); out += buf; break;
      case 'F': out += v.sender; break;
      case 'R': out += v.recipient; break;
      case 'S': out += v.title; break;
      case 'I': out += v.stationId; break;
      case 'N': out += std::to_string(v.pageCount); break;
      case 'P': out += std::to_string(v.pageNumber); break;
      default: break;
    }
    i = end;
  }
  return out;
}

int CodeTextLine(const std::string& text, int fontSize, bool fine, std::vector<std::vector<uint8_t>>& rows) {
  using namespace qv::faximage;
  constexpr int kWidth = 1728;
  constexpr int kLeftMargin = 16;  // keeps the first character clear of the paper edge
  auto state = std::make_unique<ConverterState>();
  if (int rc = LoadFaxFont(*state, fontSize, fine)) return rc;
  // Glyphs are placed only where they fit whole beside the margin.
  state->ResWidth = kWidth - kLeftMargin;
  uint8_t raster[kWidth / 8 + 8];
  uint8_t coded[kMaxCodedRow];
  for (int glyphRow = 1; glyphRow <= state->Font.Desc.GlyphRows; ++glyphRow) {
    std::memset(raster, 0, sizeof raster);
    RasterizeTextRow(*state, text, glyphRow, raster);
    const int n = CodeRow(raster, kWidth, kLeftMargin, false, coded);
    rows.emplace_back(coded, coded + n);
  }
  return 0;
}

}  // namespace qv::fax
