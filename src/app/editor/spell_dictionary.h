#pragma once
// The spell checker's dictionaries, over Hunspell (no toolkit, so it tests on its own).
//
// Files in the data directory:
//  - "qrv.dct", the main dictionary: a Hunspell word list (.dic format: the first line holds the
//    number of words, then one word per line, optionally followed by "/" and affix flags). Its
//    affix rules are read from "qrv.aff" beside it when that file exists; without one, the words
//    are taken as they stand, in UTF-8. When "qrv.dct" is absent the system's American English
//    dictionary (/usr/share/hunspell/en_US.aff and .dic) is used instead.
//  - "qrvu.dct", the user dictionary: plain UTF-8 text, one word per line, no count and no flags,
//    so a person can edit it. It is created empty when missing; Add Word appends to it.

#include <memory>
#include <string>
#include <vector>

class Hunspell;

namespace qv::app {

inline constexpr const char* kMainDictionaryFile = "qrv.dct";
inline constexpr const char* kMainAffixFile = "qrv.aff";
inline constexpr const char* kUserDictionaryFile = "qrvu.dct";
inline constexpr const char* kSystemAffixFile = "/usr/share/hunspell/en_US.aff";
inline constexpr const char* kSystemDictionaryFile = "/usr/share/hunspell/en_US.dic";
inline constexpr int kMaxSuggestions = 10;

class TSpellDictionary {
 public:
  // dataDir ends in "/". The system paths are parameters so tests can point them elsewhere.
  explicit TSpellDictionary(const std::string& dataDir,
                            const std::string& systemAffix = kSystemAffixFile,
                            const std::string& systemDictionary = kSystemDictionaryFile);
  ~TSpellDictionary();
  TSpellDictionary(const TSpellDictionary&) = delete;
  TSpellDictionary& operator=(const TSpellDictionary&) = delete;

  // A main dictionary was found (qrv.dct or the system's); without one every word is unknown.
  bool HasMain() const { return static_cast<bool>(hunspell_); }
  // The main dictionary in use: the path of qrv.dct, of the system's .dic, or empty.
  const std::string& MainFile() const { return mainFile_; }
  // The user dictionary could be opened or created; Add Word is possible.
  bool UserWritable() const { return userWritable_; }
  const std::string& UserFile() const { return userFile_; }

  // Words are UTF-8.
  bool Check(const std::string& word) const;
  // At most kMaxSuggestions replacements, best first.
  std::vector<std::string> Suggest(const std::string& word) const;
  // Appends the word to the user dictionary and accepts it from now on; false when it cannot be
  // written (the word is then still accepted for this session).
  bool AddWord(const std::string& word);

 private:
  std::string ToDictionary(const std::string& utf8) const;
  std::string FromDictionary(const std::string& bytes) const;
  void LoadUserWords();

  std::unique_ptr<Hunspell> hunspell_;
  bool latin1_ = false;  // the dictionary's encoding is ISO 8859-1 rather than UTF-8
  std::string mainFile_;
  std::string userFile_;
  bool userWritable_ = false;
  std::vector<std::string> sessionWords_;  // accepted words when there is no main dictionary
};

}  // namespace qv::app
