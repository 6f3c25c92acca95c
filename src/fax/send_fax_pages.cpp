// Transmit machine, the pages: the files they come from, the rows and blocks that go to the port,
// and the part of the page states that cover and document pages share.
#include <algorithm>
#include <array>
#include <memory>

#include "fax/header_line.h"
#include "fax/send_fax.h"
#include "faximage/t4_coder.h"
#include "faximage/raster.h"
#include "faximage/t4_2d_tables.h"
#include "faximage/t4_transcode.h"

namespace qv::fax {

// ---------------------------------------------------------------------------------------------
// Files

int TQvSendFax::OpenDocument() {
  docOpen_ = false;
  int rc = doc_.Open(docFile_);
  if (rc != 0) return rc;
  docOpen_ = true;
  totalPages_ = doc_.PageCount();
  return 0;
}

int TQvSendFax::ReadCurrentPageHeader() {
  faximage::QvfReader& r = (coverInProgress_ && coverIsQvf_) ? cover_ : doc_;
  int page = (coverInProgress_ && coverIsQvf_) ? 1 : page_.load();
  int rc = r.FindPage(page, pageInfo_, pageDataOffset_);
  if (rc != 0) return rc;
  curRes_ = (pageInfo_.PageFlags & faximage::pfHighRes) ? '1' : '0';
  curWide_ = (pageInfo_.PageFlags & faximage::pfWide) != 0;
  return 0;
}

int TQvSendFax::LoadPageResolution() {
  if (coverInProgress_ && !coverIsQvf_) {
    curRes_ = '0';  // text covers are drawn at standard resolution
    curWide_ = false;
    return 0;
  }
  if (coverInProgress_ && !cover_.IsOpen()) {
    int rc = cover_.Open(coverFile_);
    if (rc != 0) return rc;
  }
  return ReadCurrentPageHeader();
}

void TQvSendFax::CloseFiles() {
  doc_.Close();
  cover_.Close();
  coverText_.reset();
  docOpen_ = false;
}

bool TQvSendFax::MorePagesAfterCurrent() const {
  return docOpen_ && (coverInProgress_ || page_ < totalPages_);
}

// ---------------------------------------------------------------------------------------------
// Page data

void TQvSendFax::FlushStaging() {
  if (staging_.empty()) return;
  if (ecmCapture_) {
    // The page is kept for its frames as it would have reached the line: the DLE codes were
    // the port's, not the page's.
    for (size_t i = 0; i < staging_.size(); ++i) {
      if (staging_[i] != kDle) {
        ecmPage_.push_back(staging_[i]);
      } else if (i + 1 < staging_.size() && staging_[i + 1] == kDle) {
        ecmPage_.push_back(kDle);
        ++i;
      } else {
        ++i;  // DLE ETX, the end of the carrier's data
      }
    }
    pageHanded_ = pageQueued_;
    staging_.clear();
    return;
  }
  SendBytes(staging_.data(), staging_.size());
  sentToPort_ += static_cast<long>(staging_.size());
  pageHanded_ = pageQueued_;
  staging_.clear();
}

// The row without the zero bytes it carries beyond its last code. A stored row ends in one or two
// zero bytes of fill, which the line does not need: the minimum scan-line time is met by the
// padding SendRow adds, and any fill beyond that is line time lost (a byte a row is over a second
// a page at 14400). A modified Huffman code ends with at most three 0 bits after its last 1 bit
// (white 12, "001000", has the most), so the row is cut where three 0 bits still follow its
// last 1: every row stays whole on its own, whatever the next one starts with.
size_t RowWithoutSurplusFill(const uint8_t* row, size_t length) {
  constexpr int kMaxCodeTrailingZeros = 3;
  size_t end = length;
  while (end > 0 && row[end - 1] == 0) --end;
  if (end == 0) return length;  // no code at all: not a row to cut
  // Bits go out least significant first: the last 1 sent is the byte's highest set bit.
  int highest = 7;
  while (((row[end - 1] >> highest) & 1) == 0) --highest;
  if (7 - highest < kMaxCodeTrailingZeros && end < length) ++end;
  return end;
}

void TQvSendFax::SendRow(const uint8_t* row, size_t length) {
  // The page's byte count goes by the stored row, as the page length it is measured against.
  const size_t stored = length;
  length = RowWithoutSurplusFill(row, length);
  for (size_t i = 0; i < length; ++i) StageByte(row[i]);
  if (static_cast<int>(length) < minBytes_) staging_.insert(staging_.end(), minBytes_ - length, 0);
  pageQueued_ += std::max<long>(static_cast<long>(stored), minBytes_);
  if (staging_.size() >= kBlockSize) FlushStaging();
}

int TQvSendFax::PageStartRows() {
  // Blank rows padded to the minimum scan-line time and no further (see RowWithoutSurplusFill).
  const auto& white = faximage::kBlankCodedRow;
  std::vector<uint8_t> blank(white.begin(), white.begin() + RowWithoutSurplusFill(white.data(), white.size()));
  if (static_cast<int>(blank.size()) < minBytes_) blank.resize(static_cast<size_t>(minBytes_), 0);
  for (int i = 0; i < 8; ++i) staging_.insert(staging_.end(), blank.begin(), blank.end());
  FlushStaging();
  auto topUp = [this] {
    if (ecmCapture_) return;  // frames are never starved: nothing to keep the modem fed with
    int need = BufferMinimum - ch_->OutputUsed();
    if (need > 0) {
      std::vector<uint8_t> zeros(std::min(need, kPortBufferSize), 0);
      SendBytes(zeros.data(), zeros.size());
    }
  };
  if (!HeaderLine.empty()) {
    topUp();
    HeaderValues v{HeaderSender, HeaderRecipient, HeaderTitle, StationID, 0, 0};
    bool withCover = !coverFile_.empty();
    v.pageCount = totalPages_ + (withCover ? 1 : 0);
    v.pageNumber = coverInProgress_ ? 1 : page_ + (withCover ? 1 : 0);
    std::vector<std::vector<uint8_t>> rows;
    int rc = CodeTextLine(ExpandHeaderTags(HeaderLine, v), 16, curRes_ == '1', rows);
    if (rc != 0) return rc;
    for (const auto& row : rows) SendRow(row.data(), row.size());
    FlushStaging();
  }
  // No zeros after the rows above: the page's own rows follow at once (the next event queues
  // them up to BufferMinimum), so zeros here would only be fill on the line, half a second a
  // page at 14400. The zeros before a header line stay: they cover its rendering.
  return 0;
}

void TQvSendFax::AppendPageEnd() {
  if (class_ != fcClass1) return;
  staging_.push_back(kDle);
  staging_.push_back(kEtx);
}

bool TQvSendFax::RoomForBlock() {
  // One look at the port per block (each look is a driver call).
  const int used = ch_->OutputUsed();
  return used <= BufferMinimum && ch_->OutputSize() - used >= static_cast<int>(kBlockSize);
}

int TQvSendFax::SendPageBlocks(bool& done) {
  done = false;
  faximage::QvfReader& r = (coverInProgress_ && coverIsQvf_) ? cover_ : doc_;
  bool records = (pageInfo_.PageFlags & faximage::pfRowRecords) != 0;
  int blocks = 0;
  uint8_t buf[kBlockSize];
  while (ecmCapture_ || (blocks < MaxSendCount && RoomForBlock())) {
    while (staging_.size() < kBlockSize && pageConsumed_ < pageInfo_.ImageLength) {
      if (records) {
        uint8_t lw[2];
        if (pageInfo_.ImageLength - pageConsumed_ < 2 || r.Read(lw, 2) != 2) return core::ecFaxBadFormat;
        size_t len = lw[0] | (lw[1] << 8);
        if (len > kBlockSize || static_cast<long>(len) > pageInfo_.ImageLength - pageConsumed_ - 2) return core::ecFaxBadFormat;
        if (r.Read(buf, len) != static_cast<int64_t>(len)) return core::ecReadPastEof;
        pageConsumed_ += 2 + static_cast<long>(len);
        SendRow(buf, len);
      } else {
        size_t want = static_cast<size_t>(std::min<long>(kBlockSize / 2, pageInfo_.ImageLength - pageConsumed_));
        int64_t n = r.Read(buf, want);
        if (n <= 0) return n < 0 ? static_cast<int>(n) : core::ecReadPastEof;
        pageConsumed_ += n;
        for (long i = 0; i < n; ++i) StageByte(buf[i]);
        pageQueued_ += n;
      }
    }
    bool last = pageConsumed_ >= pageInfo_.ImageLength;
    if (last) AppendPageEnd();
    FlushStaging();
    ++blocks;
    if (last) {
      done = true;
      return 0;
    }
  }
  return 0;
}

int TQvSendFax::CodeWholePage(LineCoding coding, bool ecm) {
  // The page as it is before CaptureEcmPage turns to the next one.
  const bool fine = curRes_ == '1';
  const int width = curWide_ ? faximage::kWideWidth : faximage::kStandardWidth;
  // The MH rows are padded to the minimum scan-line time as they are captured; a 2-D line gets
  // its own fill. With ECM (and always in MMR) the receiver takes rows of any length.
  const int minBits = ecm || coding == LineCoding::MMR ? 0 : minBytes_ * 8;
  int rc = CaptureEcmPage();
  if (rc != 0) return rc;
  const faximage::T4Coding lineCoding = coding == LineCoding::MMR ? faximage::T4Coding::kMmr : faximage::T4Coding::kMr;
  faximage::LinePage line = faximage::CodePageForLine(ecmPage_, false, width, lineCoding,
                                                      fine ? faximage::kMrKFine : faximage::kMrKStandard, minBits);
  ecmPage_.clear();
  linePage_ = std::move(line.data);
  lineSent_ = 0;
  pageCodedWhole_ = true;
  return 0;
}

int TQvSendFax::SendLinePageBlocks(bool& done) {
  done = false;
  int blocks = 0;
  while (blocks < MaxSendCount && RoomForBlock()) {
    // Page bytes until they fill a block once their DLEs are doubled: whole blocks, as the
    // stored rows go, so a page takes as few output-free events as its size allows.
    const size_t from = lineSent_;
    while (staging_.size() < kBlockSize && lineSent_ < linePage_.size()) StageByte(linePage_[lineSent_++]);
    pageQueued_ += static_cast<long>(lineSent_ - from);
    const bool last = lineSent_ >= linePage_.size();
    if (last) AppendPageEnd();
    FlushStaging();
    ++blocks;
    if (last) {
      done = true;
      return 0;
    }
  }
  return 0;
}

int TQvSendFax::SendCoverLines(bool& done) {
  done = false;
  std::string text;
  while (ecmCapture_ || ch_->OutputFree() > static_cast<int>(kBlockSize)) {
    if (!coverText_ || !std::getline(*coverText_, text)) {
      SendRow(faximage::kEndOfPageCode.data(), faximage::kEndOfPageCode.size());
      AppendPageEnd();
      FlushStaging();
      done = true;
      return 0;
    }
    if (!text.empty() && text.back() == '\r') text.pop_back();
    HeaderValues v{HeaderSender, HeaderRecipient, HeaderTitle, StationID, totalPages_ + 1, 1};
    std::vector<std::vector<uint8_t>> rows;
    int rc = CodeTextLine(ExpandHeaderTags(text, v), 48, curRes_ == '1', rows);
    if (rc != 0) return rc;
    for (const auto& row : rows) SendRow(row.data(), row.size());
    FlushStaging();
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Shared by the page states

TQvSendFax::Next TQvSendFax::AwaitRoom(TxState next) {
  ch_->ArmStatusTrigger(outFreeTrigger_, kBlockSize, true);
  ArmTimeout(kPageTimeoutTicks);
  Go(next);
  return Next::Wait;
}

TQvSendFax::Next TQvSendFax::FeedPage(Ev ev, int (TQvSendFax::*fill)(bool& done), FeedPace pace) {
  if (ev == Ev::Timeout) return Fail(core::ecFatalTimeout);
  // Nothing the modem says while page data flows concerns the page.
  while (ch_->HasInput()) {
    uint8_t c;
    ch_->ReadChar(c);
  }
  if (ev != Ev::OutFree && ev != Ev::OutEmpty) return Next::Wait;
  bool done = false;
  int rc = (this->*fill)(done);
  if (rc != 0) return Fail(rc);
  ArmTimeout(kPageTimeoutTicks);
  if (done) {
    // A file page's first block came on the output-free trigger, which it no longer needs.
    if (pace == FeedPace::KeepMinimum) ch_->ArmStatusTrigger(outFreeTrigger_, 0, false);
    ch_->ArmStatusTrigger(outEmptyTrigger_, 0, true);
    Go(TxState::tfDrainPage);
  } else if (pace == FeedPace::BlockFree) {
    ch_->ArmStatusTrigger(outFreeTrigger_, kBlockSize, true);
  } else {
    // Wake when the buffer has drained to the level we keep it at.
    ch_->ArmStatusTrigger(outEmptyTrigger_, BufferMinimum, true);
  }
  return Next::Wait;
}

int TQvSendFax::TurnToNextPage() {
  prevRes_ = curRes_;
  if (coverInProgress_) {
    cover_.Close();
    coverText_.reset();
    coverInProgress_ = false;
  } else {
    page_ = page_ + 1;
  }
  bytesTransferred_ = 0;
  const bool prevWide = curWide_;
  int rc = ReadCurrentPageHeader();
  if (rc != 0) return rc;
  resChanges_ = prevRes_ != curRes_ || prevWide != curWide_;
  return 0;
}

}  // namespace qv::fax
