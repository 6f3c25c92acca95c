#include "faximage/mr_decoder.h"

#include <algorithm>

#include "faximage/t4_2d_line.h"

namespace qv::faximage {

namespace {
// Three EOLs in a row end the page: the EOL after the last line and two empty lines.
constexpr int kEmptyLinesAtEnd = 2;
}  // namespace

MrDecoder::MrDecoder(int width, RowHandler handler)
    : width_(std::clamp(width, 1, kMaxLinePixels)),
      handler_(std::move(handler)),
      ref_(static_cast<size_t>(ChangeCapacity(width_))),
      cur_(static_cast<size_t>(ChangeCapacity(width_))),
      row_(static_cast<size_t>((width_ + 7) / 8)) {}

void MrDecoder::deliver(const int32_t* changes, int count) {
  RowFromChanges(changes, count, width_, row_.data());
  ++rows_;
  if (handler_) handler_(std::span<const uint8_t>(row_.data(), row_.size()));
}

void MrDecoder::good(const int32_t* changes, int count) {
  deliver(changes, count);
  ++goodRows_;
  badRun_ = 0;
}

void MrDecoder::bad() {
  if (haveRef_) {
    deliver(ref_.data(), refCount_);
  } else {
    WhiteLine(width_, cur_.data());
    deliver(cur_.data(), 0);
  }
  ++badRows_;
  longestBadRun_ = std::max(longestBadRun_, ++badRun_);
}

bool MrDecoder::decodePage(std::span<const uint8_t> data) {
  rows_ = goodRows_ = badRows_ = badRun_ = longestBadRun_ = 0;
  ended_ = rowLimit_ = false;
  haveRef_ = false;
  refCount_ = 0;
  T4BitReader in(data);
  if (!in.skipToEol()) return false;
  int empties = 0;
  bool lostReference = false;  // since a damaged line, until the next one-dimensional line
  for (;;) {
    if (rows_ >= kMaxRows) {
      rowLimit_ = true;
      break;
    }
    in.need(1);
    if (in.available() == 0) break;
    const bool oneDimensional = (in.bits() & 1) != 0;
    in.skip(1);
    if (in.takeEol()) {
      if (++empties >= kEmptyLinesAtEnd) {
        ended_ = true;
        break;
      }
      continue;
    }
    if (in.onlyZerosLeft()) break;  // the pad after the last tag
    empties = 0;
    int count = 0;
    LineStatus status;
    if (oneDimensional)
      status = Decode1DLine(in, width_, cur_.data(), count);
    else if (haveRef_ && !lostReference)
      status = Decode2DLine(in, width_, ref_.data(), cur_.data(), count);
    else
      status = LineStatus::kBad;
    if (status == LineStatus::kOk) {
      const bool eol = in.takeEol();
      if (eol || in.onlyZerosLeft()) {
        good(cur_.data(), count);
        ref_.swap(cur_);
        refCount_ = count;
        haveRef_ = true;
        lostReference = false;
        if (!eol) break;
        continue;
      }
      status = LineStatus::kBad;  // more bits after a line that seemed whole
    }
    bad();
    lostReference = true;
    if (status == LineStatus::kEnd) break;
    if (status == LineStatus::kEol && in.takeEol()) continue;
    if (!in.skipToEol()) break;
  }
  return ended_;
}

}  // namespace qv::faximage
