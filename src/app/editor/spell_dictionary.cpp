#include "app/editor/spell_dictionary.h"

#include "core/file_util.h"

#include <hunspell.hxx>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sys/stat.h>

namespace qv::app {

namespace {
bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Words the dictionaries store and the user types are UTF-8 on our side; an ISO 8859-1
// dictionary needs its own bytes.
std::string Utf8ToLatin1(const std::string& in, bool* ok) {
  std::string out;
  *ok = true;
  for (size_t i = 0; i < in.size(); ++i) {
    const auto c = static_cast<unsigned char>(in[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if ((c & 0xE0) == 0xC0 && i + 1 < in.size()) {
      const unsigned cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(in[i + 1]) & 0x3Fu);
      ++i;
      if (cp > 0xFF) *ok = false;
      out += static_cast<char>(cp & 0xFF);
    } else {
      *ok = false;  // beyond Latin-1: the dictionary cannot hold it
      return out;
    }
  }
  return out;
}

std::string Latin1ToUtf8(const std::string& in) {
  std::string out;
  for (char ch : in) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Trimmed(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ' ||
                           line.back() == '\t'))
    line.pop_back();
  size_t start = 0;
  while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
  return line.substr(start);
}
}  // namespace

TSpellDictionary::TSpellDictionary(const std::string& dataDir, const std::string& systemAffix,
                                   const std::string& systemDictionary) {
  const std::string own = dataDir + kMainDictionaryFile;
  if (FileExists(own)) {
    const std::string affix = dataDir + kMainAffixFile;
    if (FileExists(affix)) {
      hunspell_ = std::make_unique<Hunspell>(affix.c_str(), own.c_str());
    } else {
      // Hunspell needs affix rules; an empty set that only names the encoding keeps the words
      // as they stand.
      const std::string bare = core::TempFileName("~QV");
      if (!bare.empty() && core::AtomicWriteFile(bare, "SET UTF-8\n")) {
        hunspell_ = std::make_unique<Hunspell>(bare.c_str(), own.c_str());
      }
      if (!bare.empty()) std::remove(bare.c_str());
    }
    if (hunspell_) mainFile_ = own;
  } else if (FileExists(systemAffix) && FileExists(systemDictionary)) {
    hunspell_ = std::make_unique<Hunspell>(systemAffix.c_str(), systemDictionary.c_str());
    mainFile_ = systemDictionary;
  }
  if (hunspell_) {
    std::string encoding = hunspell_->get_dict_encoding();
    std::transform(encoding.begin(), encoding.end(), encoding.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    latin1_ = encoding == "ISO8859-1" || encoding == "ISO-8859-1" || encoding == "LATIN1";
  }

  userFile_ = dataDir + kUserDictionaryFile;
  if (!FileExists(userFile_)) {
    std::ofstream create(userFile_, std::ios::binary | std::ios::app);
    userWritable_ = static_cast<bool>(create);
  } else {
    std::ofstream probe(userFile_, std::ios::binary | std::ios::app);
    userWritable_ = static_cast<bool>(probe);
  }
  LoadUserWords();
}

TSpellDictionary::~TSpellDictionary() = default;

void TSpellDictionary::LoadUserWords() {
  std::ifstream in(userFile_, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    const std::string word = Trimmed(line);
    if (word.empty()) continue;
    if (hunspell_) {
      hunspell_->add(ToDictionary(word));
    } else {
      sessionWords_.push_back(word);
    }
  }
}

std::string TSpellDictionary::ToDictionary(const std::string& utf8) const {
  if (!latin1_) return utf8;
  bool ok = true;
  std::string out = Utf8ToLatin1(utf8, &ok);
  return ok ? out : std::string();
}

std::string TSpellDictionary::FromDictionary(const std::string& bytes) const {
  return latin1_ ? Latin1ToUtf8(bytes) : bytes;
}

bool TSpellDictionary::Check(const std::string& word) const {
  if (word.empty()) return true;
  if (!hunspell_) {
    return std::find(sessionWords_.begin(), sessionWords_.end(), word) != sessionWords_.end();
  }
  const std::string bytes = ToDictionary(word);
  return !bytes.empty() && hunspell_->spell(bytes);
}

std::vector<std::string> TSpellDictionary::Suggest(const std::string& word) const {
  std::vector<std::string> out;
  if (!hunspell_) return out;
  const std::string bytes = ToDictionary(word);
  if (bytes.empty()) return out;
  for (const std::string& s : hunspell_->suggest(bytes)) {
    if (static_cast<int>(out.size()) == kMaxSuggestions) break;
    out.push_back(FromDictionary(s));
  }
  return out;
}

bool TSpellDictionary::AddWord(const std::string& word) {
  if (word.empty()) return false;
  if (hunspell_) {
    hunspell_->add(ToDictionary(word));
  } else {
    sessionWords_.push_back(word);
  }
  if (!userWritable_) return false;
  // A hand-edited file may lack its last line break; the new word must not join that line.
  bool needsBreak = false;
  {
    std::ifstream in(userFile_, std::ios::binary | std::ios::ate);
    if (in && in.tellg() > 0) {
      in.seekg(-1, std::ios::end);
      needsBreak = in.get() != '\n';
    }
  }
  std::ofstream out(userFile_, std::ios::binary | std::ios::app);
  if (needsBreak) out << '\n';
  out << word << '\n';
  out.close();
  return static_cast<bool>(out);
}

}  // namespace qv::app
