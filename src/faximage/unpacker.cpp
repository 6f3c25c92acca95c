#include "faximage/unpacker.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "core/error_codes.h"
#include "core/exceptions.h"
#include "faximage/export_bmp.h"
#include "faximage/export_pbm.h"
#include "faximage/export_pcx.h"
#include "faximage/export_png.h"
#include "faximage/export_pdf.h"
#include "faximage/export_tiff.h"

namespace qv::faximage {

using namespace qv::core;

namespace {

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

// True when the last path component has an extension.
bool HasExtension(const std::string& name) {
  return std::filesystem::path(name).has_extension();
}

std::string WithoutExtension(const std::string& name) {
  std::filesystem::path p(name);
  return p.has_extension() ? p.replace_extension().string() : name;
}

}  // namespace

void TQvCustomFaxUnpacker::SetOptions(TUnpackerOptionsSet options) {
  options_ = options;
  if (running_ && state_ && (options & uoAbort)) state_->UnpackFlags |= kUnpackAbort;
}

void TQvCustomFaxUnpacker::SetInFileName(const std::string& name) {
  if (SameIgnoringCase(name, inFileName_)) {
    inFileName_ = name;
    return;
  }
  inFileName_ = name;
  outFileName_ = WithoutExtension(name);
}

std::string TQvCustomFaxUnpacker::ExportFileName(const std::string& extension) const {
  if (outFileName_.empty()) return std::filesystem::path(inFileName_).replace_extension(extension).string();
  if (HasExtension(outFileName_)) return outFileName_;
  return outFileName_ + "." + extension;
}

UnpackerState& TQvCustomFaxUnpacker::rebuildState() {
  auto st = std::make_unique<UnpackerState>();
  if (options_ & uoYield) st->UnpackFlags |= kUnpackYield;
  if (autoScaleMode_ == asDoubleHeight) st->setAutoScale(kUnpackDoubleHeight);
  if (autoScaleMode_ == asHalfWidth) st->setAutoScale(kUnpackHalfWidth);
  if (whitespaceCompression_) RaiseOnError(st->setWhitespace(whitespaceFrom_, whitespaceTo_));
  if (scaling_) st->setScale(horizMult_, horizDiv_, vertMult_, vertDiv_);
  st->Marks = marks_;
  if (OnStatus) {
    st->StatusSink = [this](const std::string& name, int page, int64_t done, int64_t total) {
      OnStatus(this, name, page, done, total);
    };
  }
  state_ = std::move(st);
  return *state_;
}

template <class Op>
void TQvCustomFaxUnpacker::run(Op op) {
  UnpackerState& st = rebuildState();
  running_ = true;
  int rc;
  try {
    rc = op(st);
  } catch (...) {
    running_ = false;
    options_ &= ~uoAbort;
    throw;
  }
  running_ = false;
  options_ &= ~uoAbort;  // an abort belongs to the operation it stopped
  RaiseOnError(rc);
}

int TQvCustomFaxUnpacker::NumPages() {
  QvfFileHeader header;
  return ReadFaxHeader(inFileName_, header) < 0 ? 0 : header.PageCount;
}

int TQvCustomFaxUnpacker::pageFlags(int page) {
  QvfPageHeader header;
  return ReadPageHeader(inFileName_, page, header) < 0 ? 0 : header.PageFlags;
}

int TQvCustomFaxUnpacker::FaxResolution() { return (pageFlags(1) & pfHighRes) ? 1 : 0; }

int TQvCustomFaxUnpacker::FaxWidth() { return (pageFlags(1) & pfWide) ? 1 : 0; }

PageBitmap TQvCustomFaxUnpacker::UnpackPageToBitmap(int page) {
  PageBitmap bitmap;
  run([&](UnpackerState& st) { return UnpackPageToMemoryBitmap(st, inFileName_, page, true, bitmap); });
  return bitmap;
}

void TQvCustomFaxUnpacker::UnpackPageToPcx(int page) {
  std::string out = ExportFileName("PCX");
  run([&](UnpackerState& st) { return qv::faximage::UnpackPageToPcx(st, inFileName_, page, out); });
}

void TQvCustomFaxUnpacker::UnpackPageToDcx(int page) {
  std::string out = ExportFileName("DCX");
  run([&](UnpackerState& st) { return qv::faximage::UnpackPageToDcx(st, inFileName_, page, out); });
}

void TQvCustomFaxUnpacker::UnpackPageToBmp(int page) {
  std::string out = ExportFileName("BMP");
  run([&](UnpackerState& st) { return qv::faximage::UnpackPageToBmp(st, inFileName_, page, out); });
}

void TQvCustomFaxUnpacker::UnpackPageToPbm(int page) {
  std::string out = ExportFileName("pbm");
  run([&](UnpackerState& st) { return qv::faximage::UnpackPageToPbm(st, inFileName_, page, out); });
}

void TQvCustomFaxUnpacker::UnpackPageToPng(int page) {
  std::string out = ExportFileName("png");
  run([&](UnpackerState& st) { return qv::faximage::UnpackPageToPng(st, inFileName_, page, out); });
}

void TQvCustomFaxUnpacker::UnpackFileToPdf() {
  std::string out = ExportFileName("pdf");
  run([&](UnpackerState& st) { return qv::faximage::UnpackFileToPdf(st, inFileName_, out); });
}

void TQvCustomFaxUnpacker::UnpackFileToTiff() {
  std::string out = ExportFileName("tif");
  run([&](UnpackerState& st) { return qv::faximage::UnpackFileToTiff(st, inFileName_, out); });
}

}  // namespace qv::faximage
