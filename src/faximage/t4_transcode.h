#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qv::faximage {

// Page codings on the line. QVF files always hold modified Huffman (MH) pages; a page goes on the
// line in the coding the call negotiated and comes back to MH for the file.
enum class T4Coding : uint8_t { kMh, kMr, kMmr };

// What the line coding of a page came to.
struct LinePage {
  std::vector<uint8_t> data;  // coded for the line, bits least significant first
  uint32_t rows = 0;
};

// Sender: codes a page of a QVF file (its image data; row records when rowRecords, else a raw
// MH stream) for the line. Rows are decoded with the MH decoder (1728 or 2048 pels) and coded
// again: MH as the converter codes rows (aligned EOLs) with the end-of-page code, MR with K
// (kMrKStandard or kMrKFine) and the minimum bits per row, MMR ending in EOFB. (MH rows get no
// fill here: the MH sender pads rows as it sends them.) Rows of another width than `width`
// are cut or filled with white.
LinePage CodePageForLine(std::span<const uint8_t> image, bool rowRecords, int width,
                         T4Coding coding, int k, int minBitsPerRow);

// Receiver: what a page that arrived in a line coding came to as MH for the QVF file.
struct FilePage {
  std::vector<uint8_t> mh;  // rows coded as the converter codes them, then the end-of-page code
  uint32_t rows = 0;
  uint32_t badRows = 0;        // damaged rows (MR: each replaced by the row above; MMR: the rest lost)
  uint32_t longestBadRun = 0;
  bool ended = false;          // the page's own end: RTC, or EOFB
};

// Decodes a page of line data (MH, MR or MMR) into rows of `width` pels and codes them as MH,
// every row an aligned EOL and its runs, ready to be stored as a raw QVF page.
FilePage MhPageFromLine(std::span<const uint8_t> data, int width, T4Coding coding);

}  // namespace qv::faximage
