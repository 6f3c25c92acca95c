#include "faximage/converter_text.h"

#include <sys/stat.h>

#include <cerrno>

#include "core/error_codes.h"
#include "faximage/file_errors.h"
#include "faximage/t4_coder.h"

namespace qv::faximage {

namespace {

constexpr size_t kMaxLine = 255;  // the line buffer of the text readers

// Text files on this platform are usually UTF-8: a line that is valid UTF-8 and not plain ASCII
// is turned into Latin-1 (the font's code page), anything beyond it becoming '?'. Other lines
// are taken as Latin-1 bytes.
std::string toLatin1(const std::string& in) {
  bool ascii = true;
  for (unsigned char c : in) ascii &= c < 0x80;
  if (ascii) return in;
  std::string out;
  for (size_t i = 0; i < in.size();) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    uint32_t cp;
    size_t n;
    if (c < 0x80) { cp = c; n = 1; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 2; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; n = 3; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; n = 4; }
    else return in;
    if (i + n > in.size()) return in;
    for (size_t k = 1; k < n; ++k) {
      unsigned char cc = static_cast<unsigned char>(in[i + k]);
      if ((cc & 0xC0) != 0x80) return in;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000)) return in;
    out.push_back(cp <= 0xFF ? static_cast<char>(cp) : '?');
    i += n;
  }
  return out;
}

}  // namespace

TLineReader::~TLineReader() { Close(); }

int TLineReader::Open(const std::string& fileName) {
  Close();
  pos_ = len_ = 0;
  ended_ = skipLf_ = false;
  bytesRead_ = bytesTotal_ = 0;
  if (fileName.empty()) return qv::core::ecFileNotFound;
  file_ = std::fopen(fileName.c_str(), "rb");
  if (!file_) return OpenErrorFromErrno(errno, fileName, false);
  struct stat st {};
  if (fstat(fileno(file_), &st) == 0) {
    // Directories and devices are not text files (a device such as /dev/zero never ends).
    if (S_ISDIR(st.st_mode) || S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
      Close();
      return qv::core::ecAccessDenied;
    }
    bytesTotal_ = st.st_size;
  }
  return 0;
}

void TLineReader::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

bool TLineReader::fill(int& error) {
  if (pos_ < len_) return true;
  if (ended_ || !file_) return false;
  size_t n = std::fread(buffer_, 1, kChunk, file_);
  if (n == 0) {
    if (std::ferror(file_)) error = qv::core::ecDeviceReadError;
    ended_ = true;
    return false;
  }
  bytesRead_ += static_cast<int64_t>(n);
  if (buffer_[n - 1] == 26) {  // Ctrl-Z closing a chunk ends the text
    --n;
    ended_ = true;
  }
  pos_ = 0;
  len_ = n;
  return n > 0;
}

bool TLineReader::AtEnd(int& error) {
  if (skipLf_) {
    if (!fill(error)) return true;
    if (buffer_[pos_] == '\n') ++pos_;
    skipLf_ = false;
  }
  return !fill(error);
}

bool TLineReader::ReadLine(std::string& line, int& error, size_t maxLength) {
  line.clear();
  if (AtEnd(error)) return false;
  while (fill(error)) {
    uint8_t c = buffer_[pos_++];
    if (c == '\r') {
      skipLf_ = true;
      return true;
    }
    if (c == '\n') return true;
    // The rest of an overlong line is dropped: the line buffer holds maxLength characters.
    if (line.size() < maxLength) line.push_back(static_cast<char>(c));
  }
  return true;
}

int TextReader::OpenInput(ConverterState& state, const std::string& fileName) {
  if (!state.Font.Loaded)
    if (int rc = LoadFaxFont(state, kStandardFontDescriptor.BytesPerGlyph, state.UseHighRes))
      return rc;
  lineOnPage_ = 0;
  glyphRow_ = 0;
  hasLeftover_ = false;
  leftover_.clear();
  carried_.reset();
  if (state.TabStop <= 0) state.TabStop = 4;
  int rc = lines_.Open(fileName);
  state.BytesTotal = lines_.BytesTotal();
  state.BytesRead = 0;
  return rc;
}

void TextReader::CloseInput(ConverterState&) { lines_.Close(); }

size_t TextReader::maxCharacters(const ConverterState& s) const {
  int gw = s.Font.Desc.GlyphWidth;
  if (gw <= 0) return 0;
  int n = s.ResWidth / gw - s.LeftMargin / gw;
  return n > 0 ? static_cast<size_t>(n) : 0;
}

int TextReader::glyphRows(const ConverterState& s) const { return s.Font.Desc.GlyphRows; }

int TextReader::drawRow(ConverterState& s, int row, uint8_t* raster) {
  return RasterizeTextRow(s, line_, row, raster);
}

std::string TextReader::expandTabs(const std::string& text, int tabStop) const {
  std::string out;
  for (char c : text) {
    if (out.size() >= kMaxLine) break;
    if (c == '\t') {
      size_t next = (out.size() / static_cast<size_t>(tabStop) + 1) * static_cast<size_t>(tabStop);
      out.resize(std::min(next, kMaxLine), ' ');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

int TextReader::GetRow(ConverterState& s, uint8_t* raster, int& len, bool& morePages,
                       bool& endOfPage) {
  len = 0;
  endOfPage = false;
  morePages = false;
  if (glyphRow_ == 0) {
    if (carried_) {
      line_ = std::move(*carried_);
      carried_.reset();
    } else {
      int err = 0;
      bool formFeed = false;
      std::string text;
      if (hasLeftover_) {
        text = std::move(leftover_);
        leftover_.clear();
        hasLeftover_ = false;
        formFeed = true;
      } else {
        bool got = lines_.ReadLine(text, err, 4 * kMaxLine);
        s.BytesRead = lines_.BytesRead();
        if (err) return err;
        if (!got) {
          // End of text: an empty page still gets one blank row.
          if (s.CurrentLine > 1) endOfPage = true;
          return 0;
        }
        text = toLatin1(text);
      }
      size_t ff = text.find('\f');
      if (ff != std::string::npos) {
        leftover_ = text.substr(ff + 1, kMaxLine);
        hasLeftover_ = true;
        text.resize(ff);
      }
      text = expandTabs(text, s.TabStop);
      if (text.size() > maxCharacters(s)) text.resize(maxCharacters(s));
      ++lineOnPage_;
      if (formFeed || (s.LinesPerPage > 0 && lineOnPage_ > s.LinesPerPage)) {
        // Page break. The line goes to the top of the next page; only the empty remainder of a
        // line that ended in a form feed is dropped (keeping text after a form feed on the
        // same line rather than losing it).
        bool keep = !(formFeed && text.empty());
        lineOnPage_ = keep ? 1 : 0;
        if (keep) carried_ = std::move(text);
        bool atEnd = lines_.AtEnd(err);
        if (err) return err;
        endOfPage = true;
        morePages = keep || hasLeftover_ || !atEnd;
        return 0;
      }
      line_ = std::move(text);
    }
    glyphRow_ = 1;
    if (int rc = beginLine(s)) return rc;
  }
  len = drawRow(s, glyphRow_, raster);
  if (++glyphRow_ > glyphRows(s)) glyphRow_ = 0;
  return 0;
}

std::unique_ptr<Reader> MakeTextReader() { return std::make_unique<TextReader>(); }

}  // namespace qv::faximage
