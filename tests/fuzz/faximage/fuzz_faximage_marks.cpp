// libFuzzer target: any bytes as a marks file. A file the reader accepts is written and read back
// as the same marks, and its marks are drawn onto a fine and a standard page without touching
// memory outside them.
#include <fontconfig/fontconfig.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "faximage/marks_file.h"
#include "faximage/page_marks.h"

namespace {

qv::faximage::PageBitmap Page(int height) {
  qv::faximage::PageBitmap bm;
  bm.width = 300;  // small, so a file of many wide marks draws quickly
  bm.height = height;
  bm.stride = 38;
  bm.bits.assign(static_cast<size_t>(bm.stride) * static_cast<size_t>(height), 0);
  return bm;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv::faximage;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  FaxMarks marks;
  MarksError error;
  if (!ParseMarks(text, marks, error)) {
    if (!marks.empty() || error.message.empty()) std::abort();
    return 0;
  }
  const std::string written = FormatMarks(marks);
  FaxMarks again;
  if (!ParseMarks(written, again, error) || !(again == marks) || FormatMarks(again) != written) std::abort();

  // Fontconfig's configuration lives until FcFini; registered before the rasterizer exists, it runs
  // after the rasterizer has closed its faces, and before the leak check at exit.
  static const bool finiAtExit = [] { return std::atexit(FcFini) == 0; }();
  (void)finiAtExit;
  static MarkRasterizer rasterizer;
  for (bool fine : {true, false}) {
    PageBitmap page = Page(fine ? 200 : 100);
    for (int p = 1; p <= 2; ++p) {
      bool rowsFine = fine;
      PageBitmap copy = page;
      ApplyMarks(marks, p, copy, rowsFine, rasterizer);
    }
  }
  return 0;
}
