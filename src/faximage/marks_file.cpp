#include "faximage/marks_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <charconv>
#include <filesystem>
#include <vector>

#include "core/file_util.h"

namespace qv::faximage {

namespace {

constexpr std::string_view kHex = "0123456789ABCDEF";

std::string Encode(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    if (c < 0x21 || c == 0x7F || c == '%') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Decode(std::string_view s, std::string& out) {
  out.clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (i + 2 >= s.size()) return false;
    const int hi = HexDigit(s[i + 1]), lo = HexDigit(s[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

bool Int(std::string_view s, int lo, int hi, int& out) {
  if (s.empty() || s.size() > 12) return false;
  int v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || v < lo || v > hi) return false;
  out = v;
  return true;
}

const char* KindName(MarkKind k) {
  switch (k) {
    case MarkKind::Pen: return "pen";
    case MarkKind::Highlight: return "highlight";
    case MarkKind::Text: return "text";
    case MarkKind::Stamp: return "stamp";
    case MarkKind::Check: return "check";
    case MarkKind::Whiteout: return "whiteout";
    case MarkKind::Signature: return "signature";
  }
  return "?";
}

bool KindOf(std::string_view name, MarkKind& k) {
  for (MarkKind c : {MarkKind::Pen, MarkKind::Highlight, MarkKind::Text, MarkKind::Stamp, MarkKind::Check,
                     MarkKind::Whiteout, MarkKind::Signature})
    if (name == KindName(c)) {
      k = c;
      return true;
    }
  return false;
}

constexpr int kC = kMarkCoordinateLimit;

// Parses the fields of one entry after its keyword; an empty result is success.
std::string ParseEntry(const std::vector<std::string_view>& f, FaxMarks& marks) {
  if (f[0] == "rotate") {
    int page = 0, deg = 0;
    if (f.size() != 3) return "rotate wants PAGE DEGREES";
    if (!Int(f[1], 1, 65535, page)) return "bad page number";
    if (!Int(f[2], 0, 270, deg) || deg % 90 != 0) return "rotation must be 0, 90, 180 or 270";
    marks.SetRotation(page, static_cast<PageRotation>(deg));
    return {};
  }
  Mark m;
  if (!KindOf(f[0], m.kind)) return "unknown mark \"" + std::string(f[0].substr(0, 40)) + "\"";
  if (f.size() < 2 || !Int(f[1], 1, 65535, m.page)) return "bad page number";
  switch (m.kind) {
    case MarkKind::Pen:
    case MarkKind::Highlight: {
      if (f.size() < 4) return std::string(KindName(m.kind)) + " wants PAGE WIDTH and at least one X,Y";
      if (f.size() - 3 > kMarkMaxPoints) return "too many points";
      if (!Int(f[2], 1, kMarkMaxStrokeWidth, m.size)) return "bad stroke width";
      m.points.reserve(f.size() - 3);
      for (size_t i = 3; i < f.size(); ++i) {
        const size_t comma = f[i].find(',');
        MarkPoint p;
        if (comma == std::string_view::npos || !Int(f[i].substr(0, comma), -kC, kC, p.x) ||
            !Int(f[i].substr(comma + 1), -kC, kC, p.y))
          return "bad point \"" + std::string(f[i].substr(0, 40)) + "\"";
        m.points.push_back(p);
      }
      break;
    }
    case MarkKind::Text:
    case MarkKind::Stamp: {
      if (f.size() != 7) return std::string(KindName(m.kind)) + " wants PAGE X Y SIZE FONT TEXT";
      if (!Int(f[2], -kC, kC, m.x) || !Int(f[3], -kC, kC, m.y)) return "bad position";
      if (!Int(f[4], kMarkMinTextSize, kMarkMaxTextSize, m.size)) return "bad text size";
      if (!Decode(f[5], m.font) || m.font.size() > kMarkMaxFont) return "bad font name";
      if (!Decode(f[6], m.text) || m.text.size() > kMarkMaxText) return "bad text";
      break;
    }
    case MarkKind::Check:
    case MarkKind::Whiteout:
    case MarkKind::Signature: {
      const bool sig = m.kind == MarkKind::Signature;
      if (f.size() != (sig ? 9u : 6u))
        return sig ? "signature wants PAGE X Y W H PW PH HEX" : std::string(KindName(m.kind)) + " wants PAGE X Y W H";
      if (!Int(f[2], -kC, kC, m.x) || !Int(f[3], -kC, kC, m.y)) return "bad position";
      if (!Int(f[4], 1, kMarkMaxBox, m.w) || !Int(f[5], 1, kMarkMaxBox, m.h)) return "bad size";
      if (!sig) break;
      MarkPicture& pic = m.picture;
      if (!Int(f[6], 1, kMarkMaxPicture, pic.width) || !Int(f[7], 1, kMarkMaxPicture, pic.height))
        return "bad picture size";
      const size_t rowBytes = static_cast<size_t>((pic.width + 7) / 8);
      const std::string_view hex = f[8];
      if (hex.size() != 2 * rowBytes * static_cast<size_t>(pic.height)) return "picture data of the wrong length";
      pic.bits.resize(hex.size() / 2);
      for (size_t i = 0; i < pic.bits.size(); ++i) {
        const int hi = HexDigit(hex[2 * i]), lo = HexDigit(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return "bad picture data";
        pic.bits[i] = static_cast<uint8_t>(hi * 16 + lo);
      }
      // Bits past the width mean nothing; cleared, equal pictures compare equal.
      if (const int spare = static_cast<int>(rowBytes * 8) - pic.width; spare > 0)
        for (int y = 0; y < pic.height; ++y)
          pic.bits[static_cast<size_t>(y) * rowBytes + rowBytes - 1] &= static_cast<uint8_t>(0xFF << spare);
      break;
    }
  }
  if (marks.marks.size() >= kMarksMaxCount) return "too many marks";
  marks.marks.push_back(std::move(m));
  return {};
}

}  // namespace

std::string MarksError::Describe() const {
  return line > 0 ? "line " + std::to_string(line) + ": " + message : message;
}

bool ParseMarks(std::string_view text, FaxMarks& out, MarksError& error) {
  out = FaxMarks{};
  error = MarksError{};
  if (text.size() > kMarksMaxFileBytes) {
    error.message = "the file is too large to be a marks file";
    return false;
  }
  FaxMarks marks;
  bool sawHeader = false;
  int lineNo = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    pos = end == std::string_view::npos ? text.size() : end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::vector<std::string_view> f = Fields(line);
    if (!sawHeader) {
      int version = 0;
      if (f.size() != 2 || f[0] != kMarksMagic || !Int(f[1], 1, 1000000, version)) {
        error = {lineNo, "not a marks file (it does not start with \"QVMARKS 1\")"};
        return false;
      }
      if (version > kMarksVersion) {
        error = {lineNo, "marks file version " + std::to_string(version) + " is newer than this program reads"};
        return false;
      }
      sawHeader = true;
      continue;
    }
    if (f.empty() || f[0][0] == '#') continue;
    if (std::string why = ParseEntry(f, marks); !why.empty()) {
      error = {lineNo, why};
      return false;
    }
  }
  if (!sawHeader) {
    error = {0, "the marks file is empty"};
    return false;
  }
  out = std::move(marks);
  return true;
}

std::string FormatMarks(const FaxMarks& marks) {
  std::string out = std::string(kMarksMagic) + " " + std::to_string(kMarksVersion) + "\n";
  out += "# Quorvane marks: x in 1/204 inch, y in 1/196 inch from the top left of the page as shown\n";
  for (const auto& [page, r] : marks.rotation)
    out += "rotate " + std::to_string(page) + " " + std::to_string(static_cast<int>(r)) + "\n";
  auto num = [](int v) { return " " + std::to_string(v); };
  for (const Mark& m : marks.marks) {
    out += KindName(m.kind);
    out += num(m.page);
    switch (m.kind) {
      case MarkKind::Pen:
      case MarkKind::Highlight:
        out += num(m.size);
        for (const MarkPoint& p : m.points) out += num(p.x) + "," + std::to_string(p.y);
        break;
      case MarkKind::Text:
      case MarkKind::Stamp:
        out += num(m.x) + num(m.y) + num(m.size) + " " + Encode(m.font) + " " + Encode(m.text);
        break;
      case MarkKind::Check:
      case MarkKind::Whiteout:
        out += num(m.x) + num(m.y) + num(m.w) + num(m.h);
        break;
      case MarkKind::Signature: {
        const MarkPicture& pic = m.picture;
        out += num(m.x) + num(m.y) + num(m.w) + num(m.h) + num(pic.width) + num(pic.height) + " ";
        const size_t rowBytes = static_cast<size_t>((pic.width + 7) / 8);
        const int spare = static_cast<int>(rowBytes * 8) - pic.width;
        for (size_t i = 0; i < pic.bits.size(); ++i) {
          uint8_t b = pic.bits[i];
          if (spare > 0 && i % rowBytes == rowBytes - 1) b &= static_cast<uint8_t>(0xFF << spare);
          out += kHex[b >> 4];
          out += kHex[b & 15];
        }
        break;
      }
    }
    out += "\n";
  }
  return out;
}

std::string MarksFileName(const std::string& faxFile) {
  std::filesystem::path p(faxFile);
  const std::string ext = p.extension().string();
  const bool lower = !ext.empty() && std::any_of(ext.begin(), ext.end(), [](char c) { return c >= 'a' && c <= 'z'; });
  return p.replace_extension(lower ? ".qvm" : ".QVM").string();
}

MarksLoad LoadMarks(const std::string& faxFile, FaxMarks& marks, MarksError& error) {
  marks = FaxMarks{};
  error = MarksError{};
  const std::string name = MarksFileName(faxFile);
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0 && errno == ENOENT) return MarksLoad::None;
  if (::stat(name.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_size) > kMarksMaxFileBytes) {
    error.message = "the file is too large to be a marks file";
    return MarksLoad::Damaged;
  }
  std::string text;
  if (!qv::core::ReadWholeFile(name, text)) {
    error.message = std::string("it cannot be read (") + std::strerror(errno) + ")";
    return MarksLoad::Damaged;
  }
  return ParseMarks(text, marks, error) ? MarksLoad::Loaded : MarksLoad::Damaged;
}

bool SaveMarks(const std::string& faxFile, const FaxMarks& marks) {
  const std::string name = MarksFileName(faxFile);
  if (marks.empty()) return RemoveMarks(faxFile);
  if (!qv::core::AtomicWriteFile(name, FormatMarks(marks))) return false;
  // A signature is as private as the fax it signs: the marks are readable by whoever may read the
  // fax, and no one else.
  struct stat st {};
  if (::stat(faxFile.c_str(), &st) == 0) ::chmod(name.c_str(), st.st_mode & 0666);
  return true;
}

bool RemoveMarks(const std::string& faxFile) {
  const std::string name = MarksFileName(faxFile);
  if (::unlink(name.c_str()) == 0) {
    qv::core::SyncDirectoryOf(name);
    return true;
  }
  return errno == ENOENT;
}

}  // namespace qv::faximage
