// Tag keys written straight from the record must be byte for byte the keys the evaluator
// gives, for every kind of key and for awkward field contents; keys the direct path does not
// cover must still come out right through the evaluator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tables/cdx_file.h"

using namespace qv::tables;

namespace {

const std::vector<DbfField>& Fields() {
  static const std::vector<DbfField> fields = DbfFile::NormalizeFields({{"NAME", 'C', 0, 12, 0},
                                                                         {"CITY", 'C', 0, 6, 0},
                                                                         {"AMOUNT", 'N', 0, 8, 2},
                                                                         {"COUNT", 'N', 0, 4, 0},
                                                                         {"BORN", 'D', 0, 8, 0},
                                                                         {"OK", 'L', 0, 1, 0}});
  return fields;
}

// The key the general evaluator gives, encoded the way the index stores keys.
std::string EvaluatedKey(const Expression& e, const uint8_t* rec, uint32_t recno, uint16_t keyLen) {
  XValue v;
  e.Eval(rec, recno, v);
  std::string out(keyLen, '\0');
  auto* o = reinterpret_cast<uint8_t*>(out.data());
  switch (e.Type()) {
    case XType::Char: {
      std::string s = v.s.substr(0, keyLen);
      s.resize(keyLen, ' ');
      return s;
    }
    case XType::Num: EncodeNumberKey(v.n, o); break;
    case XType::Date: EncodeNumberKey(static_cast<double>(v.d), o); break;
    case XType::Logical: out[0] = v.l ? 'T' : 'F'; break;
  }
  return out;
}

// Records whose fields hold what tables really contain, and what damaged ones may.
std::vector<std::vector<uint8_t>> Records() {
  const char* names[] = {"smith", "SMITH", "O'Brien-z", "  leading", "", "12345678901234", "\xE9t\xE9 abc", "zZ{}`@[a"};
  const char* cities[] = {"paris", "ROMA", "", "x"};
  const char* amounts[] = {"   12.50", "  -12.50", "        ", "    0.00", "   -0.00", "********", "1e3     ", " 1234.5 ",
                           "abc"};
  const char* counts[] = {"   7", "  -1", "    ", "9999", "12.7"};
  const char* dates[] = {"20261208", "        ", "20261340", "20240229", "20230229", "00000000", "2026120 ", "99991231",
                         "00010101", "abcdefgh"};
  const char* logicals[] = {"T", "f", "Y", "n", " ", "?"};
  std::vector<std::vector<uint8_t>> out;
  std::mt19937 rng(7);
  for (int i = 0; i < 400; ++i) {
    std::vector<uint8_t> rec(1 + 12 + 6 + 8 + 4 + 8 + 1, ' ');
    auto put = [&](size_t off, size_t width, const char* text) {
      std::memcpy(rec.data() + off, text, std::min(width, std::strlen(text)));
    };
    rec[0] = i % 5 == 0 ? '*' : ' ';
    put(1, 12, names[rng() % std::size(names)]);
    put(13, 6, cities[rng() % std::size(cities)]);
    put(19, 8, amounts[rng() % std::size(amounts)]);
    put(27, 4, counts[rng() % std::size(counts)]);
    put(31, 8, dates[rng() % std::size(dates)]);
    put(39, 1, logicals[rng() % std::size(logicals)]);
    out.push_back(std::move(rec));
  }
  return out;
}

struct Case {
  const char* key;
  bool direct;  // whether the key should be written without the evaluator
};

void ExpectSameKeys(const Case& c, const std::string& forExpr = "") {
  ExprSettings settings;
  IndexTag tag(TagDef{"T", c.key, forExpr, false, false}, Fields(), &settings);
  EXPECT_EQ(tag.DirectKey(), c.direct) << c.key;
  Expression key = Expression::Compile(c.key, Fields(), &settings);
  Expression cond = forExpr.empty() ? Expression() : Expression::Compile(forExpr, Fields(), &settings);
  uint32_t recno = 0;
  int mismatches = 0;
  for (const auto& rec : Records()) {
    ++recno;
    std::string want = EvaluatedKey(key, rec.data(), recno, tag.KeyLen());
    std::string raw(tag.KeyLen(), '\0');
    tag.RawKey(rec.data(), recno, reinterpret_cast<uint8_t*>(raw.data()));
    std::string got(tag.KeyLen(), '\0');
    const bool in = tag.KeyFor(rec.data(), recno, reinterpret_cast<uint8_t*>(got.data()));
    const bool wantIn = !cond.Valid() || cond.EvalLogical(rec.data(), recno);
    EXPECT_EQ(in, wantIn) << c.key << " FOR " << forExpr << ", record " << recno;
    if (raw != want || (in && got != want)) {
      ADD_FAILURE() << c.key << ", record " << recno << ": \"" << raw << "\" instead of \"" << want << "\"";
      if (++mismatches > 3) return;
    }
  }
}

}  // namespace

TEST(DirectKeys, CharacterKeysMatchTheEvaluator) {
  for (const Case& c : {Case{"NAME", true}, Case{"upper(NAME)", true}, Case{"LOWER(NAME)", true},
                        Case{"UPPER(NAME)+CITY", true}, Case{"UPPER(LOWER(NAME)+'x'+CITY)", true},
                        Case{"LOWER(UPPER(NAME)+'Ab')", true}, Case{"NAME+'-'+UPPER(CITY)", true},
                        Case{"DTOS(BORN)", true}, Case{"DTOS(BORN)+NAME", true}, Case{"STR(AMOUNT)", true},
                        Case{"STR(AMOUNT,6)", true}, Case{"STR(AMOUNT,10,3)+DTOS(BORN)", true},
                        Case{"STR(COUNT,4,0)+UPPER(CITY)", true}, Case{"STR(AMOUNT,3,5)", true}})
    ExpectSameKeys(c);
}

TEST(DirectKeys, NumericDateAndLogicalKeysMatchTheEvaluator) {
  for (const Case& c : {Case{"AMOUNT", true}, Case{"COUNT", true}, Case{"BORN", true}, Case{"OK", true},
                        Case{"AMOUNT*2", false}, Case{"BORN+1", false}, Case{"-COUNT", false}, Case{"VAL(CITY)", false},
                        Case{"YEAR(BORN)", false}, Case{"EMPTY(NAME)", false}})
    ExpectSameKeys(c);
}

TEST(DirectKeys, OtherExpressionsGoThroughTheEvaluator) {
  for (const Case& c : {Case{"TRIM(NAME)+CITY", false}, Case{"NAME-CITY", false}, Case{"ALLTRIM(UPPER(NAME))", false},
                        Case{"SUBSTR(NAME,2,3)", false}, Case{"LEFT(NAME,4)", false}, Case{"DTOC(BORN)", false},
                        Case{"IIF(OK,NAME,CITY)", false}, Case{"STR(AMOUNT,COUNT)", false}, Case{"STR(AMOUNT,2.5)", false},
                        Case{"STR(AMOUNT,-3)", false}, Case{"STR(AMOUNT*2,8)", false}, Case{"UPPER(TRIM(CITY))+NAME", false},
                        Case{"STR(RECNO(),6)", false}, Case{"DTOS(BORN+1)", false}})
    ExpectSameKeys(c);
}

TEST(DirectKeys, ForConditionsOnTheDeletionFlagMatchTheEvaluator) {
  for (const char* cond : {".not. deleted()", "!DELETED()", "DELETED()", ".NOT. DELETED() .AND. OK", "COUNT > 5", "OK"}) {
    ExpectSameKeys(Case{"UPPER(NAME)", true}, cond);
    ExpectSameKeys(Case{"TRIM(NAME)", false}, cond);
  }
}
