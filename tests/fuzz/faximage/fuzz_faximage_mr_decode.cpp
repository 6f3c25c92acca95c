// Any bytes as a page of T.4 two-dimensional (MR) line data, at the first byte's choice of width.
// Must not crash or hang; every row has the page's width, no more rows than the limit, and the
// damaged-row counts add up.
#include <cstdint>
#include <span>

#include "faximage/mr_decoder.h"
#include "faximage/t4_transcode.h"

using namespace qv::faximage;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const int kWidths[] = {1728, 2048, 2432, 13};
  const int width = kWidths[data[0] & 3];
  const size_t rowBytes = static_cast<size_t>(width + 7) / 8;
  uint32_t rows = 0;
  MrDecoder d(width, [&](std::span<const uint8_t> row) {
    if (row.size() != rowBytes) __builtin_trap();
    if (width % 8 && (row.back() & (0xFFu >> (width % 8)))) __builtin_trap();  // pels past the width
    ++rows;
  });
  d.decodePage(std::span<const uint8_t>(data + 1, size - 1));
  if (rows != d.rows() || rows > MrDecoder::kMaxRows || d.goodRows() + d.badRows() != rows) __builtin_trap();
  if (d.longestBadRun() > d.badRows()) __builtin_trap();
  // The receiver's whole path: what arrives becomes an MH page.
  if (width != 13 && (data[0] & 4)) {
    FilePage p = MhPageFromLine(std::span<const uint8_t>(data + 1, size - 1), width, T4Coding::kMr);
    if (p.rows != rows || p.badRows != d.badRows()) __builtin_trap();
  }
  return 0;
}
