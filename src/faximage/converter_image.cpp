#include "faximage/converter_image.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/error_codes.h"
#include "faximage/file_errors.h"

namespace qv::faximage {

int LoadInputFile(const std::string& fileName, std::vector<uint8_t>& data) {
  data.clear();
  if (fileName.empty()) return qv::core::ecFileNotFound;
  std::FILE* f = std::fopen(fileName.c_str(), "rb");
  if (!f) return OpenErrorFromErrno(errno, fileName, false);
  struct stat st {};
  int rc = 0;
  if (fstat(fileno(f), &st) != 0) {
    rc = FileErrorFromErrno(errno, false);
  } else if (S_ISDIR(st.st_mode)) {
    rc = qv::core::ecAccessDenied;
  } else if (st.st_size > kMaxImageFileBytes) {
    rc = qv::core::ecOutOfMemory;
  } else {
    data.resize(static_cast<size_t>(st.st_size));
    size_t got = data.empty() ? 0 : std::fread(data.data(), 1, data.size(), f);
    if (got != data.size()) rc = std::ferror(f) ? qv::core::ecDeviceReadError : qv::core::ecReadPastEof;
  }
  std::fclose(f);
  if (rc) data.clear();
  return rc;
}

void PlaceImageRow(const ConverterState& s, uint8_t* raster, const uint8_t* src, int64_t srcBytes,
                   int widthPixels, bool invert) {
  if (widthPixels <= 0) return;
  int64_t imageBytes = (widthPixels + 7) / 8;
  int64_t room = s.ResWidth / 8 - s.CenterOffset;
  int64_t n = std::min({imageBytes, srcBytes, room});
  if (n <= 0) return;
  uint8_t* dst = raster + s.CenterOffset;
  if (invert)
    for (int64_t i = 0; i < n; ++i) dst[i] = static_cast<uint8_t>(~src[i]);
  else
    std::memcpy(dst, src, static_cast<size_t>(n));
  if (n == imageBytes && (widthPixels & 7))
    dst[n - 1] &= static_cast<uint8_t>(0xFF00u >> (widthPixels & 7));
}

}  // namespace qv::faximage
