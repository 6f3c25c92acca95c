// The expression language: values, operators, functions, settings and the errors a user sees.
#include <gtest/gtest.h>

#include <cstring>

#include "tables/expression.h"
#include "tables/xbase_error.h"

using namespace qv::tables;

namespace {

class ExprFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    fields_ = DbfFile::NormalizeFields({{"NAME", 'C', 0, 10, 0},
                                        {"AMOUNT", 'N', 0, 8, 2},
                                        {"BORN", 'D', 0, 8, 0},
                                        {"OK", 'L', 0, 1, 0},
                                        {"NOTE", 'M', 0, 10, 0}});
    rec_.assign(1 + 10 + 8 + 8 + 1 + 10, ' ');
    Set("smith", "   12.50", "20261208", "T");
  }
  void Set(const std::string& name, const std::string& amount, const std::string& born, const std::string& ok) {
    std::string r = " " + (name + std::string(10, ' ')).substr(0, 10) + amount + born + ok + std::string(10, ' ');
    std::memcpy(rec_.data(), r.data(), r.size());
  }
  XValue Eval(const std::string& text) {
    Expression e = Expression::Compile(text, fields_, &settings_);
    XValue v;
    e.Eval(rec_.data(), 7, v);
    return v;
  }
  bool True(const std::string& text) {
    XValue v = Eval(text);
    EXPECT_EQ(v.type, XType::Logical) << text;
    return v.l;
  }
  int ErrorCode(const std::string& text) {
    try {
      Expression::Compile(text, fields_, &settings_);
    } catch (const EXBaseError& e) {
      message_ = e.what();
      return e.ErrorCode();
    }
    return 0;
  }

  std::vector<DbfField> fields_;
  std::vector<uint8_t> rec_;
  ExprSettings settings_;
  std::string message_;
};

}  // namespace

TEST_F(ExprFixture, FieldsLiteralsAndLogic) {
  EXPECT_EQ(Eval("NAME").s, "smith     ");
  EXPECT_EQ(Eval("amount").n, 12.5);
  EXPECT_EQ(Eval("DTOS(BORN)").s, "20261208");
  EXPECT_TRUE(True("OK"));
  EXPECT_TRUE(True(".T. .and. .not. .F."));
  EXPECT_TRUE(True(".true. .or. .false."));
  EXPECT_FALSE(True("!OK"));
  EXPECT_TRUE(True(".not. deleted()"));
  rec_[0] = '*';
  EXPECT_TRUE(True("DELETED()"));
  EXPECT_EQ(Eval("RECNO()").n, 7);
  EXPECT_TRUE(True("FAX->OK"));  // an alias prefix names this table
}

TEST_F(ExprFixture, StringOperatorsAndComparison) {
  EXPECT_EQ(Eval("UPPER(NAME) + 'X'").s, "SMITH     X");
  EXPECT_EQ(Eval("NAME - 'X'").s, "smithX     ");
  EXPECT_TRUE(True("ALLTRIM(UPPER(NAME))==\"SMITH\""));
  EXPECT_FALSE(True("UPPER(NAME)==\"SMITH\""));  // == counts trailing blanks
  // = compares up to the length of the right side unless EXACT is on.
  EXPECT_TRUE(True("NAME = 'smi'"));
  EXPECT_FALSE(True("'smi' = NAME"));
  settings_.exact = true;
  EXPECT_FALSE(True("NAME = 'smi'"));
  EXPECT_TRUE(True("NAME = 'smith'"));  // trailing blanks do not count
  settings_.exact = false;
  EXPECT_TRUE(True("NAME <> 'jones'"));
  EXPECT_TRUE(True("NAME # 'jones'"));
  EXPECT_TRUE(True("'jones' < NAME"));
  EXPECT_TRUE(True("NAME >= 'smith'"));
  EXPECT_TRUE(True("'mit' $ NAME"));
  EXPECT_FALSE(True("'xyz' $ NAME"));
}

TEST_F(ExprFixture, NumbersAndDates) {
  EXPECT_EQ(Eval("AMOUNT * 2 + 1").n, 26);
  EXPECT_EQ(Eval("-AMOUNT").n, -12.5);
  EXPECT_EQ(Eval("2 ** 3").n, 8);
  EXPECT_EQ(Eval("AMOUNT / 0").n, 0);  // no crash, no infinity in keys
  EXPECT_EQ(Eval("DTOS(BORN + 30)").s, "20270107");
  EXPECT_EQ(Eval("BORN - CTOD('12/01/26')").n, 7);
  EXPECT_TRUE(True("BORN > CTOD('01/01/2026')"));
  EXPECT_EQ(Eval("STR(AMOUNT, 8, 2)").s, "   12.50");
  EXPECT_EQ(Eval("STR(AMOUNT)").s, "        13");
  EXPECT_EQ(Eval("STR(123456, 3)").s, "***");
  EXPECT_EQ(Eval("VAL(' 42.5abc')").n, 42.5);
  EXPECT_EQ(Eval("LEN(TRIM(NAME))").n, 5);
  EXPECT_EQ(Eval("YEAR(BORN)").n, 2026);
  EXPECT_TRUE(True("EMPTY(CTOD(''))"));
  EXPECT_TRUE(True("EMPTY('   ')"));
  EXPECT_FALSE(True("EMPTY(AMOUNT)"));
}

TEST_F(ExprFixture, StringFunctions) {
  EXPECT_EQ(Eval("SUBSTR(NAME, 2, 3)").s, "mit");
  EXPECT_EQ(Eval("SUBSTR(NAME, 4)").s, "th     ");
  EXPECT_EQ(Eval("SUBSTR(NAME, 40)").s, "");
  EXPECT_EQ(Eval("LEFT(NAME, 2)").s, "sm");
  EXPECT_EQ(Eval("RIGHT(TRIM(NAME), 2)").s, "th");
  EXPECT_EQ(Eval("LTRIM('  a ')").s, "a ");
  EXPECT_EQ(Eval("RTRIM('  a ')").s, "  a");
  EXPECT_EQ(Eval("LOWER('AbC')").s, "abc");
  EXPECT_EQ(Eval("IIF(OK, 'yes', 'no ')").s, "yes");
  EXPECT_EQ(Eval("ALLT(NAME)").s, "smith");  // four-letter abbreviation
  EXPECT_EQ(Eval("DTOC(BORN)").s, "12/08/26");
  settings_.century = true;
  settings_.dateFormat = DateFormat::German;
  EXPECT_EQ(Eval("DTOC(BORN)").s, "08.12.2026");
}

TEST_F(ExprFixture, WidthsOfCharacterResults) {
  auto width = [&](const std::string& t) { return Expression::Compile(t, fields_, &settings_).Width(); };
  EXPECT_EQ(width("NAME"), 10);
  EXPECT_EQ(width("UPPER(NAME)"), 10);
  EXPECT_EQ(width("DTOS(BORN)+NAME"), 18);
  EXPECT_EQ(width("SUBSTR(NAME,3,4)"), 4);
  EXPECT_EQ(width("LEFT(NAME,3)"), 3);
  EXPECT_EQ(width("STR(AMOUNT,6)"), 6);
  EXPECT_EQ(Expression::Compile("NAME", fields_, &settings_).SingleField(), 0);
  EXPECT_EQ(Expression::Compile("UPPER(NAME)", fields_, &settings_).SingleField(), -1);
}

TEST_F(ExprFixture, TwoDigitYearsStayInTheirCentury) {
  // The classic default put every two-digit year in the 1900s: "12/08/26" became 1926.
  EXPECT_EQ(Eval("DTOS(CTOD('12/08/26'))").s.substr(0, 4), "20" + Eval("DTOS(CTOD('12/08/26'))").s.substr(2, 2));
  EXPECT_EQ(ExpandTwoDigitYear(26, 2026), 2026);
  EXPECT_EQ(ExpandTwoDigitYear(45, 2026), 2045);
  EXPECT_EQ(ExpandTwoDigitYear(46, 2026), 1946);
  EXPECT_EQ(ExpandTwoDigitYear(99, 2026), 1999);
  EXPECT_EQ(ExpandTwoDigitYear(0, 2026), 2000);
  EXPECT_EQ(DtosFromJdn(ParseDate("12/08/26", DateFormat::American, 2026)), "20261208");
  EXPECT_EQ(DtosFromJdn(ParseDate("08.12.26", DateFormat::German, 2026)), "20261208");
  EXPECT_EQ(DtosFromJdn(ParseDate("26.12.08", DateFormat::Ansi, 2026)), "20261208");
  EXPECT_EQ(ParseDate("02/30/26", DateFormat::American, 2026), 0);
  EXPECT_EQ(ParseDate("garbage", DateFormat::American, 2026), 0);
}

TEST_F(ExprFixture, ErrorsAreReportedNotSwallowed) {
  EXPECT_EQ(ErrorCode("NAME = "), qv::core::ecExprSyntax);
  EXPECT_NE(message_.find("NAME = "), std::string::npos);
  EXPECT_EQ(ErrorCode("(NAME"), qv::core::ecExprSyntax);
  EXPECT_EQ(ErrorCode("'open"), qv::core::ecExprSyntax);
  EXPECT_EQ(ErrorCode("NAME NAME"), qv::core::ecExprSyntax);
  EXPECT_EQ(ErrorCode(""), qv::core::ecExprSyntax);
  EXPECT_EQ(ErrorCode(".maybe."), qv::core::ecExprSyntax);
  EXPECT_EQ(ErrorCode("NOSUCH = 1"), qv::core::ecExprUnknownName);
  EXPECT_NE(message_.find("NOSUCH"), std::string::npos);
  EXPECT_EQ(ErrorCode("FOO(NAME)"), qv::core::ecExprUnknownName);
  EXPECT_EQ(ErrorCode("NAME + 1"), qv::core::ecExprType);
  EXPECT_EQ(ErrorCode("NAME = 1"), qv::core::ecExprType);
  EXPECT_EQ(ErrorCode("AMOUNT .AND. OK"), qv::core::ecExprType);
  EXPECT_EQ(ErrorCode("UPPER(AMOUNT)"), qv::core::ecExprType);
  EXPECT_EQ(ErrorCode("SUBSTR(NAME)"), qv::core::ecExprType);
  EXPECT_EQ(ErrorCode("IIF(OK, 1, 'a')"), qv::core::ecExprType);
  EXPECT_EQ(ErrorCode("NOTE = 'x'"), qv::core::ecExprType);
  EXPECT_EQ(ErrorCode("OK < .T."), qv::core::ecExprType);
  EXPECT_EQ(ErrorCode(std::string(300, '(') + "1" + std::string(300, ')')), qv::core::ecExprSyntax);
}

TEST(NumberText, StrAndFieldParsing) {
  EXPECT_EQ(ParseXbNumber("   12.50", 8), 12.5);
  EXPECT_EQ(ParseXbNumber("        ", 8), 0);
  EXPECT_EQ(ParseXbNumber("   -3.00", 8), -3);
  EXPECT_EQ(ParseXbNumber("********", 8), 0);
  EXPECT_EQ(XbStr(-0.0001, 5, 2), " 0.00");
  EXPECT_EQ(XbStr(2.5, 3, 0), "  3");
}
