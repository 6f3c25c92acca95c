#include "faximage/mmr_decoder.h"

#include <algorithm>

#include "faximage/t4_2d_line.h"

namespace qv::faximage {

MmrDecoder::MmrDecoder(int width, RowHandler handler)
    : width_(std::clamp(width, 1, kMaxLinePixels)),
      handler_(std::move(handler)),
      ref_(static_cast<size_t>(ChangeCapacity(width_))),
      cur_(static_cast<size_t>(ChangeCapacity(width_))),
      row_(static_cast<size_t>((width_ + 7) / 8)) {}

bool MmrDecoder::decodePage(std::span<const uint8_t> data) {
  rows_ = 0;
  damaged_ = eofb_ = rowLimit_ = false;
  WhiteLine(width_, ref_.data());
  T4BitReader in(data);
  for (;;) {
    if (rows_ >= kMaxRows) {
      rowLimit_ = true;
      break;
    }
    int count = 0;
    const LineStatus status = Decode2DLine(in, width_, ref_.data(), cur_.data(), count);
    if (status == LineStatus::kOk) {
      RowFromChanges(cur_.data(), count, width_, row_.data());
      ++rows_;
      if (handler_) handler_(std::span<const uint8_t>(row_.data(), row_.size()));
      ref_.swap(cur_);
      continue;
    }
    if (status == LineStatus::kEol && in.takeEol()) {
      eofb_ = in.takeEol();  // a lone EOL is no part of T.6 data
      damaged_ = !eofb_;
      break;
    }
    // Without EOFB the page may still have ended cleanly: nothing but pad bits left.
    damaged_ = !in.onlyZerosLeft();
    break;
  }
  return eofb_ && !damaged_;
}

}  // namespace qv::faximage
