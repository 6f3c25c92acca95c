#include "app/editor/spell_dictionary.h"

#include "test_support.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace qv::app {
namespace {

using test::DataDir;

void Write(const QString& path, const std::string& bytes) {
  std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string Read(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The machine's dictionary stays out of the way unless a test asks for it.
constexpr const char* kNoAffix = "/nonexistent/en_US.aff";
constexpr const char* kNoDic = "/nonexistent/en_US.dic";

TEST(SpellDictionary, OwnWordListWithoutAffixRulesTakesWordsAsTheyStand) {
  DataDir dir;
  Write(dir.File("qrv.dct"), "4\nfax\nmodem\ncover\nsheet\n");
  TSpellDictionary dict(dir.StdPath(), kNoAffix, kNoDic);
  ASSERT_TRUE(dict.HasMain());
  EXPECT_EQ(dict.MainFile(), dir.StdPath() + "qrv.dct");
  EXPECT_TRUE(dict.Check("fax"));
  EXPECT_TRUE(dict.Check("Modem"));  // a capitalised sentence start is the same word
  EXPECT_FALSE(dict.Check("faxes"));  // no affix rules: no plurals
  EXPECT_FALSE(dict.Check("moden"));
  const auto suggestions = dict.Suggest("moden");
  ASSERT_FALSE(suggestions.empty());
  EXPECT_EQ(suggestions.front(), "modem");
}

TEST(SpellDictionary, AffixRulesBesideTheWordListAreUsed) {
  DataDir dir;
  Write(dir.File("qrv.aff"), "SET UTF-8\nSFX S Y 1\nSFX S 0 es .\n");
  Write(dir.File("qrv.dct"), "2\nfax/S\ncafé\n");
  TSpellDictionary dict(dir.StdPath(), kNoAffix, kNoDic);
  EXPECT_TRUE(dict.Check("faxes"));
  EXPECT_TRUE(dict.Check("café"));
  EXPECT_FALSE(dict.Check("cafe"));
}

TEST(SpellDictionary, Latin1DictionaryMeetsUtf8Words) {
  DataDir dir;
  Write(dir.File("qrv.aff"), "SET ISO8859-1\n");
  Write(dir.File("qrv.dct"), "1\ncaf\xE9\n");
  TSpellDictionary dict(dir.StdPath(), kNoAffix, kNoDic);
  EXPECT_TRUE(dict.Check("café"));
  EXPECT_FALSE(dict.Check("caf\xC4\x81"));  // beyond Latin-1: unknown, not a crash
  const auto suggestions = dict.Suggest("cafè");
  ASSERT_FALSE(suggestions.empty());
  EXPECT_EQ(suggestions.front(), "café");
  // Words added to an ISO 8859-1 dictionary are still written to the user file as UTF-8.
  EXPECT_TRUE(dict.AddWord("naïve"));
  EXPECT_TRUE(dict.Check("naïve"));
  EXPECT_EQ(Read(dir.File("qrvu.dct")), "naïve\n");
}

TEST(SpellDictionary, WithoutOwnDictionaryTheSystemOneIsUsed) {
  DataDir dir;
  if (!QFile::exists(QString::fromLatin1(kSystemDictionaryFile))) {
    GTEST_SKIP() << "hunspell-en-us is not installed";
  }
  TSpellDictionary dict(dir.StdPath());
  ASSERT_TRUE(dict.HasMain());
  EXPECT_EQ(dict.MainFile(), kSystemDictionaryFile);
  EXPECT_TRUE(dict.Check("receive"));
  EXPECT_TRUE(dict.Check("documents"));
  EXPECT_FALSE(dict.Check("recieve"));
  const auto suggestions = dict.Suggest("recieve");
  EXPECT_LE(static_cast<int>(suggestions.size()), kMaxSuggestions);
  ASSERT_FALSE(suggestions.empty());
  EXPECT_EQ(suggestions.front(), "receive");
}

TEST(SpellDictionary, NoDictionaryAtAllKnowsOnlyTheUsersWords) {
  DataDir dir;
  Write(dir.File("qrvu.dct"), "Quorvane\n");
  TSpellDictionary dict(dir.StdPath(), kNoAffix, kNoDic);
  EXPECT_FALSE(dict.HasMain());
  EXPECT_TRUE(dict.Check("Quorvane"));
  EXPECT_FALSE(dict.Check("fax"));
  EXPECT_TRUE(dict.Suggest("fax").empty());
}

TEST(SpellDictionary, UserDictionaryIsCreatedAndAddWordAppendsToIt) {
  DataDir dir;
  Write(dir.File("qrv.dct"), "1\nfax\n");
  {
    TSpellDictionary dict(dir.StdPath(), kNoAffix, kNoDic);
    EXPECT_TRUE(dict.UserWritable());
    EXPECT_TRUE(QFile::exists(dir.File("qrvu.dct")));
    EXPECT_EQ(Read(dir.File("qrvu.dct")), "");
    EXPECT_FALSE(dict.Check("Quorvane"));
    EXPECT_TRUE(dict.AddWord("Quorvane"));
    EXPECT_TRUE(dict.Check("Quorvane"));
    EXPECT_TRUE(dict.AddWord("telefax"));
  }
  EXPECT_EQ(Read(dir.File("qrvu.dct")), "Quorvane\ntelefax\n");
  // A later session knows the words; a hand-edited last line without its break stays whole.
  Write(dir.File("qrvu.dct"), "Quorvane\r\ntelefax\r\n  spaced  \nlastline");
  TSpellDictionary again(dir.StdPath(), kNoAffix, kNoDic);
  EXPECT_TRUE(again.Check("Quorvane"));
  EXPECT_TRUE(again.Check("telefax"));
  EXPECT_TRUE(again.Check("spaced"));
  EXPECT_TRUE(again.Check("lastline"));
  EXPECT_TRUE(again.AddWord("newword"));
  EXPECT_EQ(Read(dir.File("qrvu.dct")), "Quorvane\r\ntelefax\r\n  spaced  \nlastline\nnewword\n");
}

TEST(SpellDictionary, UserDictionaryThatCannotBeOpenedDisablesAdding) {
  DataDir dir;
  Write(dir.File("qrv.dct"), "1\nfax\n");
  ASSERT_TRUE(QDir(dir.Path()).mkdir(QStringLiteral("qrvu.dct")));  // a folder in its place
  TSpellDictionary dict(dir.StdPath(), kNoAffix, kNoDic);
  EXPECT_FALSE(dict.UserWritable());
  EXPECT_FALSE(dict.AddWord("Quorvane"));
  EXPECT_TRUE(dict.Check("Quorvane"));  // still accepted for this session
  EXPECT_TRUE(dict.Check("fax"));
}

}  // namespace
}  // namespace qv::app
