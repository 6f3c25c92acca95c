// Whole QVF files, however hostile, through the unpacker: every page kind, the auto-scale modes,
// white-space compression and inversion. Must not crash, hang or allocate without bound.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "faximage/export_bmp.h"
#include "faximage/export_pcx.h"
#include "faximage/t4_decoder.h"
#include "faximage/unpacker_bitmap.h"

using namespace qv::faximage;

namespace {

struct TempFiles {
  std::string path;
  TempFiles() {
    char tmpl[] = "/tmp/fuzz-qvf-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd >= 0) close(fd);
    path = tmpl;
  }
  ~TempFiles() {
    for (const char* ext : {"", ".dcx", ".bmp"}) std::remove((path + ext).c_str());
  }
};

const std::string& TempPath() {
  static const TempFiles files;
  return files.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = TempPath();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  UnpackerState st;
  PageBitmap bm;
  st.setAutoScale(kUnpackDoubleHeight);
  UnpackPageToMemoryBitmap(st, path, 1, true, bm);
  st.setAutoScale(kUnpackHalfWidth);
  st.setWhitespace(3, 1);
  UnpackPageToMemoryBitmap(st, path, 2, false, bm);
  st.setWhitespace(0, 0);
  st.setAutoScale(0);
  st.setScale(1, 3, 2, 1);
  UnpackPageFullWidth(st, path, 3, bm);
  if (size > 0 && (data[size - 1] & 3) == 0) {  // the exports on a quarter of the inputs: files are slow
    st.setScale(1, 1, 1, 1);
    UnpackPageToDcx(st, path, 1, path + ".dcx");
    UnpackPageToBmp(st, path, 2, path + ".bmp");
  }

  // The bare decoder over the same bytes, in uneven pieces.
  T4Decoder d([](std::span<const uint8_t> row) {
    if (row.size() != 216 && row.size() != 256) __builtin_trap();
  });
  for (size_t i = 0; i < size; i += 7) d.feed(data + i, std::min<size_t>(7, size - i));
  return 0;
}
