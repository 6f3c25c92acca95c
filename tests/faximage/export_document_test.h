#pragma once
// A QVF fax for the document-export tests: a fine A4 page of 1728 pixels and a short standard
// page of 2048 pixels, both with random black blocks, coded through our own row coder.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "faximage/qvf_writer.h"
#include "faximage/t4_coder.h"
#include "faximage/unpacker_bitmap.h"

namespace qv::faximage::testing {

using Rows = std::vector<std::vector<uint8_t>>;  // 1 = black, full width

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

// A page as the unpacker decodes it, at its coded width: the pixels an export must keep.
inline Rows PageRows(const std::string& qvf, int page) {
  UnpackerState st;
  PageBitmap bm;
  EXPECT_EQ(UnpackPageFullWidth(st, qvf, page, bm), 0);
  Rows rows;
  for (int y = 0; y < bm.height; ++y) rows.emplace_back(bm.row(y), bm.row(y) + bm.width / 8);
  return rows;
}

}  // namespace qv::faximage::testing
