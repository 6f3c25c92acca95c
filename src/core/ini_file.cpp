#include "core/ini_file.h"

#include "core/error_codes.h"
#include "core/exceptions.h"
#include "core/file_util.h"

#include <cerrno>
#include <charconv>
#include <strings.h>

namespace qv::core {

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

std::string TIniFile::trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool TIniFile::sameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::vector<TIniFile::Line> TIniFile::load() const {
  if (pending_) return *pending_;
  std::string bytes;
  if (!ReadWholeFile(fileName_, bytes)) return {};  // a missing file reads as empty
  return parse(bytes);
}

std::vector<TIniFile::Line> TIniFile::parse(const std::string& bytes) const {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string text = bytes.substr(pos, end - pos);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    pos = end + 1;
    Line line;
    line.text = text;
    std::string t = trimmed(text);
    if (!t.empty() && t.front() == '[') {
      size_t close = t.find(']');
      // A header without its closing bracket still opens a section, as the profile functions do.
      line.section = trimmed(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      line.isSection = true;
    } else if (!t.empty() && t.front() != ';') {
      size_t eq = t.find('=');
      if (eq != std::string::npos && eq > 0) {
        line.key = trimmed(t.substr(0, eq));
        line.isKey = !line.key.empty();
      }
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

void TIniFile::store(const std::vector<Line>& lines) {
  if (pending_) {
    *pending_ = lines;
    pendingChanged_ = true;
    return;
  }
  writeOut(lines);
}

void TIniFile::BeginUpdate() {
  pending_.reset();  // a batch starts from what the file holds now
  pending_ = load();
  pendingChanged_ = false;
}

void TIniFile::CommitUpdate() {
  if (!pending_) return;
  std::vector<Line> lines = std::move(*pending_);
  bool changed = pendingChanged_;
  pending_.reset();
  if (changed) writeOut(lines);
}

void TIniFile::writeOut(const std::vector<Line>& lines) {
  std::string bytes;
  for (const auto& line : lines) {
    bytes += line.text;
    bytes += "\r\n";
  }
  if (!AtomicWriteFile(fileName_, bytes)) throw EIniWrite("Unable to write to " + fileName_, ecIniWrite);
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
  bool inSection = false;
  for (const auto& line : load()) {
    if (line.isSection) {
      inSection = sameName(line.section, section);
    } else if (inSection && line.isKey && sameName(line.key, key)) {
      std::string value = trimmed(line.text.substr(line.text.find('=') + 1));
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
      if (value.size() > kValueBufferSize - 1) value.resize(kValueBufferSize - 1);
      return value;
    }
  }
  std::string value = def;
  if (value.size() > kValueBufferSize - 1) value.resize(kValueBufferSize - 1);
  return value;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
  std::string text = ReadString(section, key, "");
  if (text.empty()) return def;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    uint32_t value = 0;
    auto [p, ec] = std::from_chars(first + 2, last, value, 16);
    if (ec != std::errc() || p != last) return def;
    return static_cast<int>(value);
  }
  int value = 0;
  if (*first == '+') ++first;
  auto [p, ec] = std::from_chars(first, last, value, 10);
  if (ec != std::errc() || p != last) return def;
  return value;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  std::vector<Line> lines = load();
  // Find the section's range and the key inside it.
  size_t sectionStart = lines.size(), sectionEnd = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!lines[i].isSection) continue;
    if (sectionStart == lines.size()) {
      if (sameName(lines[i].section, section)) sectionStart = i;
    } else {
      sectionEnd = i;
      break;
    }
  }
  Line entry;
  entry.text = key + "=" + value;
  entry.key = key;
  entry.isKey = true;
  if (sectionStart == lines.size()) {
    if (!lines.empty() && !trimmed(lines.back().text).empty()) lines.push_back(Line{});
    Line header;
    header.text = "[" + section + "]";
    header.section = section;
    header.isSection = true;
    lines.push_back(header);
    lines.push_back(entry);
  } else {
    bool replaced = false;
    for (size_t i = sectionStart + 1; i < sectionEnd; ++i) {
      if (lines[i].isKey && sameName(lines[i].key, key)) {
        entry.text = lines[i].key + "=" + value;  // keep the stored spelling of the key
        lines[i] = entry;
        replaced = true;
        break;
      }
    }
    if (!replaced) {
      // New keys go after the section's last non-blank line.
      size_t at = sectionEnd;
      while (at > sectionStart + 1 && trimmed(lines[at - 1].text).empty()) --at;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
    }
  }
  store(lines);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const {
  std::vector<std::string> keys;
  size_t used = 1;  // the list's final terminator
  bool inSection = false;
  for (const auto& line : load()) {
    if (line.isSection) {
      inSection = sameName(line.section, section);
    } else if (inSection && line.isKey) {
      if (used + line.key.size() + 1 > kSectionBufferSize) break;
      used += line.key.size() + 1;
      keys.push_back(line.key);
    }
  }
  return keys;
}

std::vector<std::string> TIniFile::ReadSections() const {
  std::vector<std::string> names;
  for (const auto& line : load())
    if (line.isSection) names.push_back(line.section);
  return names;
}

bool TIniFile::SectionExists(const std::string& section) const {
  for (const auto& line : load())
    if (line.isSection && sameName(line.section, section)) return true;
  return false;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  bool inSection = false;
  for (const auto& line : load()) {
    if (line.isSection)
      inSection = sameName(line.section, section);
    else if (inSection && line.isKey && sameName(line.key, key))
      return true;
  }
  return false;
}

void TIniFile::EraseSection(const std::string& section) {
  std::vector<Line> lines = load(), kept;
  bool inSection = false, changed = false;
  for (auto& line : lines) {
    if (line.isSection) inSection = sameName(line.section, section);
    if (inSection) {
      changed = true;
      continue;
    }
    kept.push_back(std::move(line));
  }
  if (changed) store(kept);
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key) {
  std::vector<Line> lines = load();
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].isSection) {
      inSection = sameName(lines[i].section, section);
    } else if (inSection && lines[i].isKey && sameName(lines[i].key, key)) {
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
      store(lines);
      return;
    }
  }
}

}  // namespace qv::core
