// Any bytes as a page of T.6 (MMR) line data, at the first byte's choice of width. Must not crash
// or hang; every row has the page's width and the page stops at the row limit.
#include <cstdint>
#include <span>

#include "faximage/mmr_decoder.h"
#include "faximage/t4_transcode.h"

using namespace qv::faximage;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const int kWidths[] = {1728, 2048, 2432, 13};
  const int width = kWidths[data[0] & 3];
  const size_t rowBytes = static_cast<size_t>(width + 7) / 8;
  uint32_t rows = 0;
  MmrDecoder d(width, [&](std::span<const uint8_t> row) {
    if (row.size() != rowBytes) __builtin_trap();
    if (width % 8 && (row.back() & (0xFFu >> (width % 8)))) __builtin_trap();
    ++rows;
  });
  const bool whole = d.decodePage(std::span<const uint8_t>(data + 1, size - 1));
  if (rows != d.rows() || rows > MmrDecoder::kMaxRows) __builtin_trap();
  if (whole && (d.damaged() || !d.endOfBlock())) __builtin_trap();
  if (width != 13 && (data[0] & 4)) {
    FilePage p = MhPageFromLine(std::span<const uint8_t>(data + 1, size - 1), width, T4Coding::kMmr);
    if (p.rows != rows) __builtin_trap();
  }
  return 0;
}
