#include "faximage/export_pcx.h"

#include <cstring>

#include "core/error_codes.h"
#include "faximage/buffered_writer.h"

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

int WritePcxImage(BufferedWriter& out, const PageBitmap& page) {
  uint8_t header[128] = {};
  header[0] = 10;  // manufacturer
  header[1] = 2;   // version
  header[2] = 1;   // run-length coding
  header[3] = 1;   // bits per pixel
  Put16(header + 8, static_cast<uint32_t>(page.width - 1));
  Put16(header + 10, static_cast<uint32_t>(page.height - 1));
  header[65] = 1;  // planes
  Put16(header + 66, static_cast<uint32_t>(page.stride));
  int rc = out.Write(header, sizeof header);
  if (rc < 0) return rc;

  std::vector<uint8_t> coded;
  coded.reserve(static_cast<size_t>(page.stride) * 2);
  for (int y = 0; y < page.height; ++y) {
    const uint8_t* row = page.row(y);
    coded.clear();
    for (int i = 0; i < page.stride;) {
      uint8_t b = static_cast<uint8_t>(~row[i]);  // PCX: 1 = white
      int n = 1;
      while (i + n < page.stride && n < 63 && static_cast<uint8_t>(~row[i + n]) == b) ++n;
      if (n > 1 || (b & 0xC0) == 0xC0) coded.push_back(static_cast<uint8_t>(0xC0 | n));
      coded.push_back(b);
      i += n;
    }
    rc = out.Write(coded.data(), coded.size());
    if (rc < 0) return rc;
  }
  return ecOK;
}

int UnpackPageToPcx(UnpackerState& state, const std::string& inFile, int page, const std::string& outFile) {
  PageBitmap bitmap;
  int rc = UnpackPageForExport(state, inFile, page, bitmap);
  if (rc < 0) return rc;
  BufferedWriter out;
  rc = out.Create(outFile);
  if (rc < 0) return rc;
  rc = WritePcxImage(out, bitmap);
  if (rc < 0) {
    out.Discard();
    return rc;
  }
  return out.Close();
}

int UnpackPageToDcx(UnpackerState& state, const std::string& inFile, int page, const std::string& outFile) {
  PageBitmap bitmap;
  int rc = UnpackPageForExport(state, inFile, page, bitmap);
  if (rc < 0) return rc;
  BufferedWriter out;
  rc = out.Create(outFile);
  if (rc < 0) return rc;
  std::vector<uint8_t> header(kDcxHeaderSize, 0);
  Put32(header.data(), kDcxSignature);
  rc = out.Write(header.data(), header.size());
  if (rc >= 0) {
    Put32(header.data() + 4, static_cast<uint32_t>(out.Position()));
    rc = WritePcxImage(out, bitmap);
  }
  if (rc >= 0) rc = out.WriteAt(0, header.data(), header.size());
  if (rc < 0) {
    out.Discard();
    return rc;
  }
  return out.Close();
}

}  // namespace qv::faximage
