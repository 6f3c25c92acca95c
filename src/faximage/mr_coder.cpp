#include "faximage/mr_coder.h"

#include <algorithm>

#include "faximage/t4_2d_line.h"
#include "faximage/t4_2d_tables.h"

namespace qv::faximage {

namespace {
constexpr int kRtcEols = 6;
}

MrCoder::MrCoder(int width, int k, int minBitsPerRow)
    : width_(std::clamp(width, 1, kMaxLinePixels)),
      k_(std::max(k, 1)),
      minBits_(std::max(minBitsPerRow, 0)),
      ref_(static_cast<size_t>(ChangeCapacity(width_))),
      cur_(static_cast<size_t>(ChangeCapacity(width_))) {}

// Fill so that the line just coded, with the EOL and tag that end it, lasts minBitsPerRow.
void MrCoder::endLine(BitPacker& bp) {
  if (rows_ == 0 || minBits_ == 0) return;
  const uint64_t used = out_.bitCount() - lineStart_ + kEolTag1D.Bits;
  if (used < static_cast<uint64_t>(minBits_)) bp.zeros(static_cast<int>(minBits_ - used));
}

void MrCoder::addRow(const uint8_t* row) {
  BitPacker& bp = out_.reserve(static_cast<size_t>(MaxCodedLineBytes(width_) + minBits_ / 8 + 8));
  endLine(bp);
  const int count = RowChanges(row, width_, cur_.data());
  if (rows_ % k_ == 0) {
    bp.put(kEolTag1D.Code, kEolTag1D.Bits);
    out_.commit();
    lineStart_ = out_.bitCount();
    Code1DLine(bp, cur_.data(), count, width_);
  } else {
    bp.put(kEolTag2D.Code, kEolTag2D.Bits);
    out_.commit();
    lineStart_ = out_.bitCount();
    Code2DLine(bp, ref_.data(), cur_.data(), width_);
  }
  out_.commit();
  ref_.swap(cur_);
  ++rows_;
}

std::vector<uint8_t> MrCoder::finish() {
  BitPacker& bp = out_.reserve(static_cast<size_t>(minBits_ / 8 + 16));
  endLine(bp);
  for (int i = 0; i < kRtcEols; ++i) bp.put(kEolTag1D.Code, kEolTag1D.Bits);
  out_.commit();
  rows_ = 0;
  lineStart_ = 0;
  return out_.take();
}

}  // namespace qv::faximage
