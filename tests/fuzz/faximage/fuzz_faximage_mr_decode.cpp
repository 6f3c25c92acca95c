// Any bytes as a page of T.4 two-dimensional (MR) line data, at the first byte's choice of width.
// Must not crash or hang; every row has the page's width, no more rows than the limit, the
// damaged-row counts add up, and our coder codes the rows so that they decode the same again.
#include <cstdint>
#include <span>

#include "faximage/mr_coder.h"
#include "faximage/mr_decoder.h"
#include "faximage/t4_transcode.h"

using namespace qv::faximage;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const int kWidths[] = {1728, 2048, 2432, 13};
  const int width = kWidths[data[0] & 3];
  const size_t rowBytes = static_cast<size_t>(width + 7) / 8;
  uint32_t rows = 0;
  // Whatever came out is coded again by our coder and must decode to the same rows.
  MrCoder coder(width, 1 + (data[0] >> 5), (data[0] & 8) ? 200 : 0);
  uint64_t hash = 14695981039346656037u;
  auto mix = [](uint64_t h, std::span<const uint8_t> row) {
    for (uint8_t b : row) h = (h ^ b) * 1099511628211u;
    return h;
  };
  MrDecoder d(width, [&](std::span<const uint8_t> row) {
    if (row.size() != rowBytes) __builtin_trap();
    if (width % 8 && (row.back() & (0xFFu >> (width % 8)))) __builtin_trap();  // pels past the width
    ++rows;
    coder.addRow(row.data());
    hash = mix(hash, row);
  });
  d.decodePage(std::span<const uint8_t>(data + 1, size - 1));
  if (rows != d.rows() || rows > MrDecoder::kMaxRows || d.goodRows() + d.badRows() != rows) __builtin_trap();
  if (d.longestBadRun() > d.badRows()) __builtin_trap();
  uint64_t again = 14695981039346656037u;
  uint32_t rowsAgain = 0;
  MrDecoder check(width, [&](std::span<const uint8_t> row) {
    again = mix(again, row);
    ++rowsAgain;
  });
  if (!check.decodePage(coder.finish()) && rows < MrDecoder::kMaxRows) __builtin_trap();  // RTC
  if (rowsAgain != rows || again != hash || check.badRows() != 0) __builtin_trap();
  // The receiver's whole path: what arrives becomes an MH page.
  if (width != 13 && (data[0] & 4)) {
    FilePage p = MhPageFromLine(std::span<const uint8_t>(data + 1, size - 1), width, T4Coding::kMr);
    if (p.rows != rows || p.badRows != d.badRows()) __builtin_trap();
  }
  return 0;
}
