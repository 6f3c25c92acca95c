#pragma once
// Real QVF fax files for the viewer and printer tests, coded through the program's own row coder:
// each page is drawn by a function that tells which pixels are black.

#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "faximage/qvf_file.h"
#include "faximage/qvf_writer.h"
#include "faximage/t4_coder.h"

namespace qv::ui::test {

struct FaxPage {
  int width = 1728;
  int rows = 200;
  bool fine = true;
  std::function<bool(int x, int y)> black;  // null: a blank page
};

inline bool WriteFax(const QString& file, const std::vector<FaxPage>& pages) {
  qv::faximage::QvfWriter w;
  if (w.Create(file.toStdString()) != 0) return false;
  uint8_t coded[qv::faximage::kMaxCodedRow];
  for (const FaxPage& p : pages) {
    uint16_t flags = qv::faximage::pfRowRecords;
    if (p.fine) flags |= qv::faximage::pfHighRes;
    if (p.width == 2048) flags |= qv::faximage::pfWide;
    w.SetPageFlags(flags);
    std::vector<uint8_t> row(size_t(p.width / 8) + 8);
    for (int y = 0; y < p.rows; ++y) {
      std::fill(row.begin(), row.end(), 0);
      if (p.black)
        for (int x = 0; x < p.width; ++x)
          if (p.black(x, y)) row[size_t(x >> 3)] |= uint8_t(0x80 >> (x & 7));
      const int n = qv::faximage::CodeRow(row.data(), p.width, 0, false, coded);
      if (w.WriteRowRecord({coded, size_t(n)}) != 0) return false;
    }
    if (w.EndPage() != 0) return false;
  }
  return w.Close("VIEWER TEST") == 0;
}

// A block of black pixels: [x0, x1) x [y0, y1).
inline std::function<bool(int, int)> Block(int x0, int y0, int x1, int y1) {
  return [=](int x, int y) { return x >= x0 && x < x1 && y >= y0 && y < y1; };
}

// Page n (1-based) of a numbered fax carries a block n * 100 pixels wide at the top left, so a
// page tells which one it is by its width.
inline FaxPage NumberedPage(int n, int rows = 400) {
  return FaxPage{1728, rows, true, Block(0, 0, n * 100, 20)};
}

}  // namespace qv::ui::test
