#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qv::core {

// A Windows-style initialisation file ("[Section]" lines and "key=value" lines, CR LF line ends)
// with the reading and writing rules of the classic profile-string functions: section and key
// names match without regard to case, values are trimmed and may be quoted, a missing key yields
// the caller's default. Every call reads or rewrites the file, so edits by other programs are seen
// at once; a rewrite is atomic (a crash leaves the old or the new file, never half of one).
class TIniFile {
 public:
  explicit TIniFile(std::string fileName);
  const std::string& FileName() const { return fileName_; }

  static constexpr size_t kValueBufferSize = 1024;    // a value reads as at most 1023 characters
  static constexpr size_t kSectionBufferSize = 8192;  // key listing buffer

  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  // Decimal, or hexadecimal when the text is longer than two characters and begins "0x"/"0X";
  // a text that is not a number yields def.
  int ReadInteger(const std::string& section, const std::string& key, int def) const;
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

  // Failures raise EIniWrite with the text "Unable to write to <file name>".
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  void WriteBool(const std::string& section, const std::string& key, bool value);

  // Between BeginUpdate and CommitUpdate reads and writes work on a copy held in memory, and
  // CommitUpdate puts the result in place with one atomic write (raising EIniWrite on failure,
  // the file then unchanged). A batch not committed (DiscardUpdate, or destruction) writes nothing.
  void BeginUpdate();
  void CommitUpdate();
  void DiscardUpdate() { pending_.reset(); }
  bool Updating() const { return pending_.has_value(); }

  std::vector<std::string> ReadSection(const std::string& section) const;  // key names in file order
  std::vector<std::string> ReadSections() const;
  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  void EraseSection(const std::string& section);
  void DeleteKey(const std::string& section, const std::string& key);

 private:
  struct Line {
    std::string text;     // the line as stored (without its line end)
    std::string section;  // for a section header: the name; else empty
    std::string key;      // for a key line: the key; else empty
    bool isSection = false;
    bool isKey = false;
  };
  std::vector<Line> load() const;
  void store(const std::vector<Line>& lines);
  static std::string trimmed(const std::string& s);
  static bool sameName(const std::string& a, const std::string& b);

  std::vector<Line> parse(const std::string& bytes) const;
  void writeOut(const std::vector<Line>& lines);

  std::string fileName_;
  std::optional<std::vector<Line>> pending_;  // the batch's contents while one is open
  bool pendingChanged_ = false;
};

}  // namespace qv::core
