// Any bytes as a page of T.6 (MMR) line data, at the first byte's choice of width. Must not crash
// or hang; every row has the page's width, the page stops at the row limit, and our coder codes
// the rows so that they decode the same again.
#include <cstdint>
#include <span>

#include "faximage/mmr_coder.h"
#include "faximage/mmr_decoder.h"
#include "faximage/t4_transcode.h"

using namespace qv::faximage;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const int kWidths[] = {1728, 2048, 2432, 13};
  const int width = kWidths[data[0] & 3];
  const size_t rowBytes = static_cast<size_t>(width + 7) / 8;
  uint32_t rows = 0;
  // Whatever came out is coded again by our coder and must decode to the same rows.
  MmrCoder coder(width);
  uint64_t hash = 14695981039346656037u;
  auto mix = [](uint64_t h, std::span<const uint8_t> row) {
    for (uint8_t b : row) h = (h ^ b) * 1099511628211u;
    return h;
  };
  MmrDecoder d(width, [&](std::span<const uint8_t> row) {
    if (row.size() != rowBytes) __builtin_trap();
    if (width % 8 && (row.back() & (0xFFu >> (width % 8)))) __builtin_trap();
    ++rows;
    coder.addRow(row.data());
    hash = mix(hash, row);
  });
  const bool whole = d.decodePage(std::span<const uint8_t>(data + 1, size - 1));
  if (rows != d.rows() || rows > MmrDecoder::kMaxRows) __builtin_trap();
  if (whole && (d.damaged() || !d.endOfBlock())) __builtin_trap();
  uint64_t again = 14695981039346656037u;
  uint32_t rowsAgain = 0;
  MmrDecoder check(width, [&](std::span<const uint8_t> row) {
    again = mix(again, row);
    ++rowsAgain;
  });
  if (!check.decodePage(coder.finish()) && rows < MmrDecoder::kMaxRows) __builtin_trap();  // EOFB
  if (rowsAgain != rows || again != hash) __builtin_trap();
  if (width != 13 && (data[0] & 4)) {
    FilePage p = MhPageFromLine(std::span<const uint8_t>(data + 1, size - 1), width, T4Coding::kMmr);
    if (p.rows != rows) __builtin_trap();
  }
  return 0;
}
