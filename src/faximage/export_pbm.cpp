#include "faximage/export_pbm.h"

#include "faximage/buffered_writer.h"
#include "faximage/unpacker_bitmap.h"

namespace qv::faximage {

int UnpackPageToPbm(UnpackerState& state, const std::string& inFile, int page, const std::string& outFile) {
  PageBitmap bitmap;
  int rc = UnpackPageFullWidth(state, inFile, page, bitmap);
  if (rc < 0) return rc;
  BufferedWriter out;
  rc = out.Create(outFile);
  if (rc < 0) return rc;
  std::string header = "P4\n" + std::to_string(bitmap.width) + " " + std::to_string(bitmap.height) + "\n";
  rc = out.Write(header.data(), header.size());
  const size_t rowBytes = static_cast<size_t>((bitmap.width + 7) / 8);
  for (int y = 0; y < bitmap.height && rc >= 0; ++y) rc = out.Write(bitmap.row(y), rowBytes);
  if (rc < 0) {
    out.Discard();
    return rc;
  }
  return out.Close();
}

}  // namespace qv::faximage
