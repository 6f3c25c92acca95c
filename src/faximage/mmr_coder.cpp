#include "faximage/mmr_coder.h"

#include <algorithm>

#include "faximage/t4_2d_line.h"
#include "faximage/t4_tables.h"

namespace qv::faximage {

MmrCoder::MmrCoder(int width)
    : width_(std::clamp(width, 1, kMaxLinePixels)),
      ref_(static_cast<size_t>(ChangeCapacity(width_))),
      cur_(static_cast<size_t>(ChangeCapacity(width_))) {
  WhiteLine(width_, ref_.data());
}

void MmrCoder::addRow(const uint8_t* row) {
  BitPacker& bp = out_.reserve(static_cast<size_t>(MaxCodedLineBytes(width_)));
  RowChanges(row, width_, cur_.data());
  Code2DLine(bp, ref_.data(), cur_.data(), width_);
  out_.commit();
  ref_.swap(cur_);
  ++rows_;
}

std::vector<uint8_t> MmrCoder::finish() {
  BitPacker& bp = out_.reserve(8);
  bp.put(kEolCode.Code, kEolCode.Bits);
  bp.put(kEolCode.Code, kEolCode.Bits);
  out_.commit();
  rows_ = 0;
  WhiteLine(width_, ref_.data());
  return out_.take();
}

}  // namespace qv::faximage
