#include "faximage/converter.h"

#include <filesystem>

#include "core/error_codes.h"
#include "core/message_loop.h"
#include "faximage/qvf_file.h"
#include "faximage/raster.h"
#include "faximage/t4_coder.h"

namespace qv::faximage {

namespace {

void reportStatus(ConverterState& s, bool starting, bool ending, bool& abort) {
  abort = false;
  if (!s.Status) return;
  ConverterStatus st;
  st.Starting = starting;
  st.Ending = ending;
  st.PagesConverted = s.CurrentPage;
  st.LinesConverted = s.CurrentLine;
  st.BytesConverted = s.BytesRead;
  st.BytesToConvert = s.BytesTotal;
  s.Status(st, abort);
}

uint16_t pageFlags(const ConverterState& s) {
  uint16_t f = pfRowRecords;
  if (s.UseHighRes) f |= pfHighRes;
  if (s.ResWidth == kWideWidth) f |= pfWide;
  return f;
}

// The page loop: top margin rows, then rows until the reader ends the page.
int convertPages(ConverterState& s, Reader& reader) {
  // Top-margin rows: the all-white row of the page's own width (six bytes at either width), so
  // wide pages carry no short rows that a receiver would count as errors.
  uint8_t blank[kMaxCodedRow] = {};
  const uint8_t white[kWideRowBytes] = {};
  const int blankLength = CodeRow(white, s.ResWidth, 0, false, blank);
  bool morePages = true;
  while (morePages) {
    ++s.CurrentPage;
    s.CurrentLine = 0;
    for (int i = 0; i < s.TopMargin; ++i)
      if (int rc = s.OutFile.WriteRowRecord(
              std::span<const uint8_t>(blank, static_cast<size_t>(blankLength))))
        return rc;
    for (;;) {
      const size_t rowBytes = static_cast<size_t>(s.ResWidth / 8);
      std::fill_n(s.RasterRow.begin(), rowBytes, 0);
      ++s.CurrentLine;
      int len = 0;
      bool endOfPage = false;
      bool more = false;
      if (int rc = reader.GetRow(s, s.RasterRow.data(), len, more, endOfPage)) return rc;
      bool abort = false;
      reportStatus(s, false, false, abort);
      if (abort) return qv::core::ecUserAbortConvert;
      if (endOfPage) {
        if (int rc = s.OutFile.EndPage()) return rc;
        if (s.Flags & coYield)
          if (int rc = YieldToMessages(s)) return rc;
        morePages = more;
        break;
      }
      if (!(s.HalfHeight && s.CurrentLine % 2 == 0)) {
        CompressRow(s, s.RasterRow.data());
        if (int rc = s.OutFile.WriteRowRecord(
                std::span<const uint8_t>(s.CodedRow.data(), static_cast<size_t>(s.ByteOfs))))
          return rc;
      }
      if ((s.Flags & coYield) && (s.Flags & coYieldOften) && s.CurrentLine % 16 == 0)
        if (int rc = YieldToMessages(s)) return rc;
    }
  }
  return 0;
}

}  // namespace

bool TFaxFontSpec::Parse(const std::string& text, TFaxFontSpec& out) {
  TFaxFontSpec wanted;
  std::string head = text.substr(0, text.find(':'));
  std::string rest = text.size() > head.size() ? text.substr(head.size()) : "";
  size_t dash = head.rfind('-');
  if (dash != std::string::npos && dash + 1 < head.size() &&
      head.find_first_not_of("0123456789", dash + 1) == std::string::npos) {
    if (head.size() - dash - 1 > 4) return false;
    wanted.Size = std::stoi(head.substr(dash + 1));
    head.resize(dash);
  }
  if (head.empty() || wanted.Size < 1 || wanted.Size > 1000) return false;
  wanted.Name = head;
  size_t pos = 0;
  while (pos < rest.size()) {
    size_t next = rest.find(':', pos + 1);
    std::string opt = rest.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1);
    if (opt == "bold") wanted.Bold = true;
    else if (opt == "italic") wanted.Italic = true;
    else if (!opt.empty()) return false;
    if (next == std::string::npos) break;
    pos = next;
  }
  out = wanted;
  return true;
}

std::unique_ptr<ConverterState> CreateConverterState(TFaxInputDocumentType type,
                                                      UserRowSource userSource,
                                                      const std::string& defUserExtension) {
  auto s = std::make_unique<ConverterState>();
  switch (type) {
    case idText: s->ReaderData = MakeTextReader(); s->DefaultExt = "TXT"; break;
    case idTextEx: s->ReaderData = MakeTextExReader(); s->DefaultExt = "TXT"; break;
    case idTiff: s->ReaderData = MakeTiffReader(); s->DefaultExt = "TIF"; break;
    case idPcx: s->ReaderData = MakePcxReader(); s->DefaultExt = "PCX"; break;
    case idDcx: s->ReaderData = MakeDcxReader(); s->DefaultExt = "DCX"; break;
    case idBmp: s->ReaderData = MakeBmpReader(); s->DefaultExt = "BMP"; break;
    case idUser:
      s->ReaderData = MakeUserReader(std::move(userSource));
      s->DefaultExt = defUserExtension;
      break;
    case idNone:
    case idBitmap:
      return nullptr;
  }
  return s;
}

std::unique_ptr<ConverterState> CreateTextConverter() { return CreateConverterState(idText); }
std::unique_ptr<ConverterState> CreateEnhancedTextConverter() {
  return CreateConverterState(idTextEx);
}

void DecidePlacement(ConverterState& s, int imageWidth) {
  s.DoubleWidth = (s.Flags & coDoubleWidth) && !s.UseHighRes &&
                  2 * imageWidth <= s.ResWidth - s.LeftMargin;
  s.HalfHeight = (s.Flags & coHalfHeight) && !s.UseHighRes && !s.DoubleWidth;
  s.CenterOffset = 0;
  if ((s.Flags & coCenterImage) && s.ResWidth - imageWidth > 15)
    s.CenterOffset = s.DoubleWidth ? (s.ResWidth - 2 * imageWidth) / 32
                                   : (s.ResWidth - imageWidth) / 16;
}

int YieldToMessages(ConverterState& s) {
  if (!(s.Flags & coYield)) return 0;
  auto& loop = qv::core::MessageLoop::instance();
  loop.pumpPending();
  // The quit message stays posted so the caller's own loop ends too.
  if (loop.quitPosted()) return qv::core::ecGotQuitMsg;
  return 0;
}

std::string DefaultOutputName(const std::string& inputName) {
  std::filesystem::path p(inputName);
  p.replace_extension(".QVF");
  return p.string();
}

std::string WithDefaultExtension(const std::string& name, const std::string& ext) {
  if (ext.empty() || name.empty()) return name;
  std::filesystem::path p(name);
  if (p.has_extension()) return name;
  return name + "." + ext;
}

int ConvertToQvf(ConverterState& s, const std::string& inName, const std::string& outName) {
  if (!s.ReaderData) return qv::core::ecBadArgument;
  s.InFileName = inName;
  s.OutFileName = outName;
  s.OutFile.SetPageFlags(pageFlags(s));
  if (int rc = s.OutFile.Create(outName)) return rc;
  Reader& reader = *s.ReaderData;
  s.CurrentPage = 0;
  s.CurrentLine = 0;
  s.BytesRead = 0;
  s.BytesTotal = 0;
  bool abort = false;
  reportStatus(s, true, false, abort);
  int rc = reader.OpenInput(s, inName);
  if (rc == 0) {
    rc = convertPages(s, reader);
    reportStatus(s, false, true, abort);
    reader.CloseInput(s);
  }
  if (rc == 0) rc = s.OutFile.Close(s.StationId);
  if (rc != 0) s.OutFile.Discard();
  return rc;
}

}  // namespace qv::faximage
