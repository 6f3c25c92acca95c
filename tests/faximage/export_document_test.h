#pragma once
// A QVF fax for the document-export tests: a fine A4 page of 1728 pixels and a short standard
// page of 2048 pixels, both with random black blocks, coded through our own row coder.
#include <random>
#include <string>
#include <vector>

#include "faximage/qvf_writer.h"
#include "faximage/t4_coder.h"

namespace qv::faximage::testing {

inline constexpr int kFineA4Rows = 2287;

inline void WriteDocumentFax(const std::string& file, unsigned seed) {
  std::mt19937 rng(seed);
  QvfWriter w;
  w.Create(file);
  const struct { uint16_t flags; int width, rows; } pages[] = {
      {pfRowRecords | pfHighRes, 1728, kFineA4Rows}, {pfRowRecords | pfWide, 2048, 300}};
  uint8_t coded[kMaxCodedRow];
  for (const auto& p : pages) {
    w.SetPageFlags(p.flags);
    std::vector<uint8_t> row(static_cast<size_t>(p.width / 8) + 8);
    for (int y = 0; y < p.rows; ++y) {
      if (y % 16 == 0)
        for (int i = 0; i < p.width / 8; ++i) row[static_cast<size_t>(i)] = (rng() % 5 == 0) ? static_cast<uint8_t>(rng()) : 0;
      int n = CodeRow(row.data(), p.width, 0, false, coded);
      w.WriteRowRecord({coded, static_cast<size_t>(n)});
    }
    w.EndPage();
  }
  w.Close("DOC TEST");
}

}  // namespace qv::faximage::testing
