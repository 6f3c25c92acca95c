#include "faximage/t4_transcode.h"

#include <algorithm>
#include <cstring>

#include "faximage/mmr_coder.h"
#include "faximage/mmr_decoder.h"
#include "faximage/mr_coder.h"
#include "faximage/mr_decoder.h"
#include "faximage/t4_2d_line.h"
#include "faximage/t4_coder.h"
#include "faximage/t4_decoder.h"

namespace qv::faximage {

namespace {

// Feeds a page's MH image data to the decoder: row records without their length words, or the
// raw stream as it stands.
void FeedMh(T4Decoder& d, std::span<const uint8_t> image, bool rowRecords) {
  if (!rowRecords) {
    d.feed(image);
    return;
  }
  size_t pos = 0;
  while (pos + 2 <= image.size() && !d.pageEnded()) {
    const size_t len = std::min<size_t>(image[pos] | (image[pos + 1] << 8), image.size() - pos - 2);
    d.feed(image.subspan(pos + 2, len));
    pos += 2 + len;
  }
}

}  // namespace

LinePage CodePageForLine(std::span<const uint8_t> image, bool rowRecords, int width,
                         T4Coding coding, int k, int minBitsPerRow) {
  width = std::clamp(width, 1, kMaxLinePixels);
  const size_t rowBytes = static_cast<size_t>(width + 7) / 8;
  std::vector<uint8_t> row(rowBytes);
  std::vector<uint8_t> coded(kMaxCodedRow);
  LinePage page;
  MrCoder mr(width, k, minBitsPerRow);
  MmrCoder mmr(width);
  T4Decoder decoder([&](std::span<const uint8_t> r) {
    std::memset(row.data(), 0, rowBytes);
    std::memcpy(row.data(), r.data(), std::min(rowBytes, r.size()));
    if (width % 8) row[rowBytes - 1] &= static_cast<uint8_t>(0xFF00u >> (width % 8));
    ++page.rows;
    switch (coding) {
      case T4Coding::kMh: {
        const int n = CodeRow(row.data(), width, 0, false, coded.data());
        page.data.insert(page.data.end(), coded.begin(), coded.begin() + n);
        break;
      }
      case T4Coding::kMr: mr.addRow(row.data()); break;
      case T4Coding::kMmr: mmr.addRow(row.data()); break;
    }
  });
  FeedMh(decoder, image, rowRecords);
  switch (coding) {
    case T4Coding::kMh:
      page.data.insert(page.data.end(), kEndOfPageCode.begin(), kEndOfPageCode.end());
      break;
    case T4Coding::kMr: page.data = mr.finish(); break;
    case T4Coding::kMmr: page.data = mmr.finish(); break;
  }
  return page;
}

FilePage MhPageFromLine(std::span<const uint8_t> data, int width, T4Coding coding) {
  width = std::clamp(width, 1, kMaxLinePixels);
  FilePage page;
  std::vector<uint8_t> coded(kMaxCodedRow);
  auto store = [&](std::span<const uint8_t> r) {
    const int n = CodeRow(r.data(), width, 0, false, coded.data());
    page.mh.insert(page.mh.end(), coded.begin(), coded.begin() + n);
  };
  switch (coding) {
    case T4Coding::kMh: {
      T4Decoder d(store);
      d.feed(data);
      page.rows = d.rowsAccepted();
      page.badRows = d.badRows();
      page.longestBadRun = d.longestBadRun();
      page.ended = d.pageEnded();
      break;
    }
    case T4Coding::kMr: {
      MrDecoder d(width, store);
      page.ended = d.decodePage(data);
      page.rows = d.rows();
      page.badRows = d.badRows();
      page.longestBadRun = d.longestBadRun();
      break;
    }
    case T4Coding::kMmr: {
      MmrDecoder d(width, store);
      const bool whole = d.decodePage(data);
      page.rows = d.rows();
      page.ended = d.endOfBlock();
      page.badRows = page.longestBadRun = whole || !d.damaged() ? 0 : 1;
      break;
    }
  }
  page.mh.insert(page.mh.end(), kEndOfPageCode.begin(), kEndOfPageCode.end());
  return page;
}

}  // namespace qv::faximage
