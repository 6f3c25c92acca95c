#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tables/dbf_file.h"
#include "tables/xbase_date.h"

namespace qv::tables {

// Result types of xBase expressions.
enum class XType : uint8_t { Char, Num, Date, Logical };
const char* XTypeName(XType t);

// An evaluated value; only the member of `type` is meaningful. Strings keep their capacity
// between evaluations, so evaluating into the same XValue per record does not allocate.
struct XValue {
  XType type = XType::Logical;
  bool l = false;
  int32_t d = 0;  // Julian day number, 0 = empty date
  double n = 0;
  std::string s;
};

// Settings read at evaluation time (SET EXACT, the date format for DTOC/CTOD).
struct ExprSettings {
  bool exact = false;
  DateFormat dateFormat = DateFormat::American;
  bool century = false;
};

struct ExprNode;

// One part of a key expression that is only fields, literals, "+" concatenation and the
// functions UPPER, LOWER, DTOS and STR: the bytes it adds to the key come straight from the
// record, so keys can be built without the evaluator (see Expression::KeyPieces).
struct KeyPiece {
  enum class Kind : uint8_t {
    Field,      // the field's bytes as stored (character field), or its value (N, D, L field)
    DtosField,  // DTOS() of a date field: its text when it is a valid date, else 8 blanks
    StrField,   // STR(numeric field, len, dec) with constant len and dec
    Literal,    // constant text
  };
  enum class Case : uint8_t { Keep, Upper, Lower };  // ASCII letters only, like UPPER()/LOWER()

  Kind kind = Kind::Literal;
  Case letterCase = Case::Keep;
  char fieldType = 'C';
  uint32_t offset = 0;  // of the field in the record
  uint16_t fieldWidth = 0;
  uint16_t width = 0;  // bytes this piece adds to the key
  int strLen = 10;
  int strDec = 0;
  std::string text;  // Literal, already in its case
};

// How a condition tests only the deletion flag.
enum class DeletedTest : uint8_t { None, Deleted, NotDeleted };

// A compiled xBase expression over the fields of one table. Compile once, evaluate per record.
// Syntax errors, unknown names and type errors throw EXBaseError when compiling.
class Expression {
 public:
  Expression() = default;
  static Expression Compile(std::string_view text, const std::vector<DbfField>& fields,
                            const ExprSettings* settings);

  bool Valid() const { return root_ != nullptr; }
  const std::string& Text() const { return text_; }
  XType Type() const;
  // Result width of a character expression (fields and fixed functions give fixed widths).
  uint16_t Width() const;
  // Field index when the expression is a bare field name, else -1.
  int SingleField() const { return singleField_; }

  // `record` is the raw record (deletion flag first); `recno` is what RECNO() answers.
  void Eval(const uint8_t* record, uint32_t recno, XValue& out) const;
  bool EvalLogical(const uint8_t* record, uint32_t recno) const;

  // The pieces whose bytes, written one after the other, are the value of this expression
  // (for a character result: exactly Width() bytes), or false when the expression needs the
  // evaluator. A numeric, date or logical expression has pieces only when it is a bare field.
  bool KeyPieces(std::vector<KeyPiece>& out) const;
  // Whether the expression is DELETED() or .NOT. DELETED() and nothing else.
  DeletedTest AsDeletedTest() const;

 private:
  std::shared_ptr<ExprNode> root_;
  std::shared_ptr<XValue> scratch_;
  std::string text_;
  const ExprSettings* settings_ = nullptr;
  int singleField_ = -1;
};

// Value of a numeric field's text ("   12.50"); blanks read as 0.
double ParseXbNumber(const char* p, size_t len);
// STR() of xBase: right-aligned in `len` characters with `dec` decimals; "*" * len when it
// does not fit.
std::string XbStr(double v, int len, int dec);

}  // namespace qv::tables
