#include "faximage/unpacker_state.h"

#include <algorithm>

#include "core/error_codes.h"
#include "core/message_loop.h"

namespace qv::faximage {

using namespace qv::core;

void UnpackerState::setAutoScale(uint32_t flag) {
  flag &= kUnpackDoubleHeight | kUnpackHalfWidth;
  if (flag == (kUnpackDoubleHeight | kUnpackHalfWidth)) return;
  UnpackFlags = (UnpackFlags & ~(kUnpackDoubleHeight | kUnpackHalfWidth)) | flag;
}

void UnpackerState::setScale(int horizMult, int horizDiv, int vertMult, int vertDiv) {
  HorizMult = horizMult ? horizMult : 1;
  HorizDiv = horizDiv ? horizDiv : 1;
  VertMult = vertMult ? vertMult : 1;
  VertDiv = vertDiv ? vertDiv : 1;
}

int UnpackerState::setWhitespace(int from, int to) {
  if (from < to || (from == 0 && to != 0)) return ecBadArgument;
  WhitespaceFrom = from;
  WhitespaceTo = to;
  return ecOK;
}

namespace {

constexpr size_t kBlockSize = QvfReader::kBlockSize;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Row delivery: white-space compression, auto-scaling of standard-resolution pages, inversion.
class Delivery {
 public:
  Delivery(UnpackerState& state, UnpackRowSink& sink)
      : st_(state), sink_(sink), standard_((state.PageHeader.PageFlags & pfHighRes) == 0) {
    for (int b = 0; b < 256; ++b) {
      int v = 0;
      for (int pair = 0; pair < 4; ++pair)
        if (b & (0xC0 >> (2 * pair))) v |= 8 >> pair;
      halves_[b] = static_cast<uint8_t>(v);
    }
  }

  int error() const { return error_; }

  void decoded(std::span<const uint8_t> row) {
    if (error_) return;
    if (st_.whitespaceOn()) {
      bool blank = std::all_of(row.begin(), row.end(), [](uint8_t b) { return b == 0; });
      if (blank) {
        ++st_.BlankRun;
        return;
      }
      int n = (st_.WhitespaceFrom > 0 && st_.BlankRun >= st_.WhitespaceFrom) ? st_.WhitespaceTo
                                                                               : st_.BlankRun;
      st_.BlankRun = 0;
      for (int i = 0; i < n && !error_; ++i) pass({});
    }
    pass(row);
  }

  // End of page: a trailing blank run is shortened like the others, or dropped when From = To.
  void finish() {
    if (st_.whitespaceOn() && st_.BlankRun > 0 && st_.WhitespaceFrom != st_.WhitespaceTo) {
      int n = st_.BlankRun >= st_.WhitespaceFrom ? st_.WhitespaceTo : st_.BlankRun;
      for (int i = 0; i < n && !error_; ++i) pass({});
    }
    st_.BlankRun = 0;
  }

 private:
  void pass(std::span<const uint8_t> row) {
    std::span<const uint8_t> out = row;
    if (standard_ && (st_.UnpackFlags & kUnpackHalfWidth) && !row.empty()) {
      size_t n = row.size() / 2;
      for (size_t i = 0; i < n; ++i)
        half_[i] = static_cast<uint8_t>((halves_[row[2 * i]] << 4) | halves_[row[2 * i + 1]]);
      out = std::span<const uint8_t>(half_, n);
    }
    if (st_.Invert && !out.empty()) {
      for (size_t i = 0; i < out.size(); ++i) inverted_[i] = static_cast<uint8_t>(~out[i]);
      out = std::span<const uint8_t>(inverted_, out.size());
    }
    ++st_.RowsOut;
    error_ = sink_.row(out);
    if (!error_ && standard_ && (st_.UnpackFlags & kUnpackDoubleHeight)) error_ = sink_.row(out);
  }

  UnpackerState& st_;
  UnpackRowSink& sink_;
  bool standard_;
  int error_ = 0;
  uint8_t halves_[256];
  uint8_t half_[T4Decoder::kRowBufferBytes / 2];
  uint8_t inverted_[T4Decoder::kRowBufferBytes];
};

}  // namespace

int UnpackPage(UnpackerState& st, const std::string& fileName, int page, UnpackRowSink& sink) {
  QvfReader file;
  if (int rc = file.Open(fileName)) return rc;
  st.FaxHeader = file.Header();
  int64_t dataStart = 0;
  if (int rc = file.FindPage(page, st.PageHeader, dataStart)) return rc;
  st.ImageLength = st.PageHeader.ImageLength;
  st.CurrentPage = page;
  st.RowsOut = 0;
  st.BadCodes = 0;
  st.BlankRun = 0;
  st.BytesReadSoFar = 0;
  const int64_t imageLength = st.ImageLength;  // 0: unknown, read to the end of the file

  int rc = sink.startPage(st);
  if (rc < 0) return rc;

  Delivery delivery(st, sink);
  st.Decoder.setRowHandler([&delivery](std::span<const uint8_t> row) { delivery.decoded(row); });
  struct DetachHandler {  // the handler refers to this call's delivery: never leave it behind
    T4Decoder& decoder;
    ~DetachHandler() { decoder.setRowHandler(nullptr); }
  } detach{st.Decoder};
  st.Decoder.startPage();

  auto report = [&] {
    if (!st.StatusSink) return;
    int64_t done = imageLength > 0 ? std::min(st.BytesReadSoFar, imageLength) : st.BytesReadSoFar;
    st.StatusSink(fileName, page, done, imageLength);
  };
  // Feeds input; 1 = the page is over (three EOLs or abort), 0 = go on, < 0 = error. Window
  // messages, abort and status are handled after every byte only when someone can use them.
  const bool perByte = (st.UnpackFlags & (kUnpackYield | kUnpackAbort)) || st.StatusSink;
  auto feed = [&](const uint8_t* data, size_t size) -> int {
    if (!perByte) {
      bool ended = st.Decoder.feed(data, size);
      if (delivery.error()) return delivery.error();
      return ended ? 1 : 0;
    }
    for (size_t i = 0; i < size; ++i) {
      bool ended = st.Decoder.feed(data + i, 1);
      if (delivery.error()) return delivery.error();
      if (ended || (st.UnpackFlags & kUnpackAbort)) return 1;
      if ((st.UnpackFlags & kUnpackYield) && st.RowsOut % 16 == 0) {
        MessageLoop& loop = MessageLoop::instance();
        loop.pumpPending();
        if (loop.quitPosted()) return ecGotQuitMsg;  // left posted for the outer loop
        if (st.UnpackFlags & kUnpackAbort) return 1;
      }
      report();
    }
    return 0;
  };

  uint8_t buffer[kBlockSize];
  int state = 0;
  file.Seek(dataStart);
  if (st.PageHeader.PageFlags & pfRowRecords) {
    while (state == 0 && !(imageLength > 0 && st.BytesReadSoFar >= imageLength)) {
      uint8_t lenBytes[2];
      int64_t got = file.Read(lenBytes, 2);
      if (got < 0) return static_cast<int>(got);
      if (got < 2) break;
      size_t len = std::min<size_t>(Le16(lenBytes), kBlockSize);
      got = file.Read(buffer, len);
      if (got < 0) return static_cast<int>(got);
      st.BytesReadSoFar += 2 + static_cast<int64_t>(len);
      state = feed(buffer, static_cast<size_t>(got));
      if (static_cast<size_t>(got) < len) break;
    }
  } else {
    while (state == 0) {
      size_t want = kBlockSize;
      if (imageLength > 0) want = static_cast<size_t>(std::min<int64_t>(want, imageLength - st.BytesReadSoFar));
      const int64_t r = file.Read(buffer, want);
      if (r < 0) return static_cast<int>(r);
      if (r == 0) {
        if (st.BytesReadSoFar == 0) return ecFaxBadFormat;  // a raw page without data
        break;  // a short file: what arrived is shown
      }
      st.BytesReadSoFar += r;
      state = feed(buffer, static_cast<size_t>(r));
      if (imageLength > 0 && st.BytesReadSoFar >= imageLength) break;
    }
  }
  if (state < 0) return state;

  delivery.finish();
  st.BadCodes = st.Decoder.badCodes();
  if (delivery.error()) return delivery.error();
  report();
  return sink.endPage(st);
}

}  // namespace qv::faximage
