#include "faximage/export_bmp.h"

#include <vector>

#include "core/error_codes.h"
#include "faximage/buffered_writer.h"
#include "faximage/unpacker_bitmap.h"

namespace qv::faximage {

using namespace qv::core;

namespace {

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

}  // namespace

int UnpackPageToBmp(UnpackerState& state, const std::string& inFile, int page, const std::string& outFile) {
  PageBitmap bitmap;
  int rc = UnpackPageForExport(state, inFile, page, bitmap);
  if (rc < 0) return rc;
  if (bitmap.height > kMaxBmpRows) return ecBmpTooTall;

  const uint32_t rowBytes = static_cast<uint32_t>(bitmap.stride);
  const uint32_t stride = (rowBytes + 3) & ~3u;
  uint8_t header[62] = {};
  header[0] = 'B';
  header[1] = 'M';
  Put32(header + 2, stride * static_cast<uint32_t>(bitmap.height) + 62);
  Put32(header + 10, 62);
  Put32(header + 14, 40);
  Put32(header + 18, rowBytes * 8);
  Put32(header + 22, static_cast<uint32_t>(bitmap.height));
  Put16(header + 26, 1);  // planes
  Put16(header + 28, 1);  // bits per pixel
  // Palette: black, then white.
  header[58] = header[59] = header[60] = 0xFF;

  BufferedWriter out;
  rc = out.Create(outFile);
  if (rc < 0) return rc;
  rc = out.Write(header, sizeof header);
  std::vector<uint8_t> line(stride, 0xFF);
  for (int y = bitmap.height - 1; y >= 0 && rc >= 0; --y) {
    const uint8_t* row = bitmap.row(y);
    for (uint32_t i = 0; i < rowBytes; ++i) line[i] = static_cast<uint8_t>(~row[i]);  // 0 = black
    rc = out.Write(line.data(), line.size());
  }
  if (rc < 0) {
    out.Discard();
    return rc;
  }
  return out.Close();
}

}  // namespace qv::faximage
