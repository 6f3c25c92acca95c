#include "tables/expression.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "tables/file_io.h"
#include "tables/xbase_error.h"

namespace qv::tables {

const char* XTypeName(XType t) {
  switch (t) {
    case XType::Char: return "character";
    case XType::Num: return "numeric";
    case XType::Date: return "date";
    case XType::Logical: return "logical";
  }
  return "?";
}

double ParseXbNumber(const char* p, size_t len) {
  char buf[64];
  size_t n = 0;
  for (size_t i = 0; i < len && n < sizeof buf - 1; ++i)
    if (p[i] != ' ') buf[n++] = p[i];
  if (n == 0) return 0;
  buf[n] = 0;
  for (size_t i = 0; i < n; ++i)
    if (buf[i] == ',') buf[i] = '.';
  char* end = nullptr;
  double v = std::strtod(buf, &end);
  if (end == buf || !std::isfinite(v)) return 0;
  return v;
}

std::string XbStr(double v, int len, int dec) {
  if (len < 1) len = 1;
  if (len > 255) len = 255;
  if (dec < 0) dec = 0;
  if (dec > len) dec = len;
  if (!std::isfinite(v) || std::fabs(v) > 1e300) return std::string(static_cast<size_t>(len), '*');
  double scale = std::pow(10.0, dec);
  double r = std::round(v * scale) / scale;  // xBase rounds halves away from zero
  if (r == 0) r = 0;                          // never "-0.00"
  char buf[400];
  int n = std::snprintf(buf, sizeof buf, "%*.*f", len, dec, r);
  if (n < 0 || n > len) return std::string(static_cast<size_t>(len), '*');
  return std::string(buf, static_cast<size_t>(n));
}

struct Ctx {
  const uint8_t* rec;
  uint32_t recno;
  const ExprSettings* set;
};

struct ExprNode {
  XType type = XType::Logical;
  uint16_t width = 0;
  virtual ~ExprNode() = default;
  virtual void Eval(const Ctx& c, XValue& out) = 0;
  virtual bool IsConst() const { return false; }
};

namespace {

using NodeP = std::shared_ptr<ExprNode>;

// ---------------------------------------------------------------- leaves
struct LiteralNode : ExprNode {
  XValue v;
  explicit LiteralNode(XValue val) : v(std::move(val)) {
    type = v.type;
    width = type == XType::Char ? static_cast<uint16_t>(std::min<size_t>(v.s.size(), 65535)) : 0;
  }
  void Eval(const Ctx&, XValue& out) override {
    out.type = v.type;
    switch (v.type) {
      case XType::Char: out.s.assign(v.s); break;
      case XType::Num: out.n = v.n; break;
      case XType::Date: out.d = v.d; break;
      case XType::Logical: out.l = v.l; break;
    }
  }
  bool IsConst() const override { return true; }
};

struct FieldNode : ExprNode {
  uint32_t offset;
  uint16_t fwidth;
  char ftype;
  FieldNode(const DbfField& f) : offset(f.offset), fwidth(f.width), ftype(f.type) {
    switch (f.type) {
      case 'N': case 'F': type = XType::Num; break;
      case 'D': type = XType::Date; break;
      case 'L': type = XType::Logical; break;
      default: type = XType::Char; width = f.width; break;
    }
  }
  void Eval(const Ctx& c, XValue& out) override {
    const char* p = reinterpret_cast<const char*>(c.rec + offset);
    out.type = type;
    switch (type) {
      case XType::Char: out.s.assign(p, fwidth); break;
      case XType::Num: out.n = ParseXbNumber(p, fwidth); break;
      case XType::Date: out.d = JdnFromDtos(std::string_view(p, fwidth)); break;
      case XType::Logical: out.l = *p == 'T' || *p == 't' || *p == 'Y' || *p == 'y'; break;
    }
  }
};

// ---------------------------------------------------------------- operators
struct NotNode : ExprNode {
  NodeP a;
  explicit NotNode(NodeP x) : a(std::move(x)) { type = XType::Logical; }
  void Eval(const Ctx& c, XValue& out) override {
    a->Eval(c, out);
    out.type = XType::Logical;
    out.l = !out.l;
  }
};

struct NegNode : ExprNode {
  NodeP a;
  explicit NegNode(NodeP x) : a(std::move(x)) { type = XType::Num; }
  void Eval(const Ctx& c, XValue& out) override {
    a->Eval(c, out);
    out.n = -out.n;
  }
};

struct AndOrNode : ExprNode {
  NodeP a, b;
  bool isAnd;
  AndOrNode(NodeP x, NodeP y, bool andOp) : a(std::move(x)), b(std::move(y)), isAnd(andOp) { type = XType::Logical; }
  void Eval(const Ctx& c, XValue& out) override {
    a->Eval(c, out);
    if (isAnd ? !out.l : out.l) return;
    b->Eval(c, out);
  }
};

struct ConcatNode : ExprNode {
  NodeP a, b;
  bool moveBlanks;  // "-" on strings: trailing blanks of the left part go to the end
  XValue tmp;
  ConcatNode(NodeP x, NodeP y, bool minus) : a(std::move(x)), b(std::move(y)), moveBlanks(minus) {
    type = XType::Char;
    width = static_cast<uint16_t>(std::min(65535, a->width + b->width));
  }
  void Eval(const Ctx& c, XValue& out) override {
    a->Eval(c, out);
    b->Eval(c, tmp);
    if (!moveBlanks) {
      out.s.append(tmp.s);
    } else {
      size_t end = out.s.find_last_not_of(' ');
      size_t blanks = end == std::string::npos ? out.s.size() : out.s.size() - end - 1;
      out.s.resize(out.s.size() - blanks);
      out.s.append(tmp.s);
      out.s.append(blanks, ' ');
    }
    out.type = XType::Char;
  }
};

enum class Arith { Add, Sub, Mul, Div, Mod, Pow };

struct ArithNode : ExprNode {
  NodeP a, b;
  Arith op;
  XValue tmp;
  ArithNode(NodeP x, NodeP y, Arith o, XType t) : a(std::move(x)), b(std::move(y)), op(o) { type = t; }
  void Eval(const Ctx& c, XValue& out) override {
    a->Eval(c, out);
    b->Eval(c, tmp);
    XType ta = a->type, tb = b->type;
    if (ta == XType::Num && tb == XType::Num) {
      double x = out.n, y = tmp.n, r = 0;
      switch (op) {
        case Arith::Add: r = x + y; break;
        case Arith::Sub: r = x - y; break;
        case Arith::Mul: r = x * y; break;
        case Arith::Div: r = y == 0 ? 0 : x / y; break;
        case Arith::Mod: r = y == 0 ? 0 : x - y * std::floor(x / y); break;
        case Arith::Pow: r = std::pow(x, y); break;
      }
      out.n = std::isfinite(r) ? r : 0;
      out.type = XType::Num;
    } else if (ta == XType::Date && tb == XType::Num) {
      int32_t d = out.d;
      int32_t delta = static_cast<int32_t>(std::llround(tmp.n));
      out.d = d == 0 ? 0 : (op == Arith::Add ? d + delta : d - delta);
      if (out.d < 0) out.d = 0;
      out.type = XType::Date;
    } else if (ta == XType::Num && tb == XType::Date) {
      int32_t delta = static_cast<int32_t>(std::llround(out.n));
      out.d = tmp.d == 0 ? 0 : tmp.d + delta;
      out.type = XType::Date;
    } else {  // date - date
      out.n = static_cast<double>(out.d) - static_cast<double>(tmp.d);
      out.type = XType::Num;
    }
  }
};

enum class Cmp { Eq, ExactEq, Ne, Lt, Le, Gt, Ge, Contains };

int CompareBlankPadded(const std::string& x, const std::string& y) {
  size_t n = std::max(x.size(), y.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char cx = i < x.size() ? static_cast<unsigned char>(x[i]) : ' ';
    unsigned char cy = i < y.size() ? static_cast<unsigned char>(y[i]) : ' ';
    if (cx != cy) return cx < cy ? -1 : 1;
  }
  return 0;
}

bool StringEquals(const std::string& x, const std::string& y, bool exact) {
  if (exact) return CompareBlankPadded(x, y) == 0;  // trailing blanks do not count
  if (y.size() <= x.size()) return std::memcmp(x.data(), y.data(), y.size()) == 0;
  return CompareBlankPadded(x, y) == 0;
}

struct CompareNode : ExprNode {
  NodeP a, b;
  Cmp op;
  XValue tmp;
  CompareNode(NodeP x, NodeP y, Cmp o) : a(std::move(x)), b(std::move(y)), op(o) { type = XType::Logical; }
  void Eval(const Ctx& c, XValue& out) override {
    a->Eval(c, out);
    b->Eval(c, tmp);
    bool r = false;
    switch (a->type) {
      case XType::Char: {
        const std::string& x = out.s;
        const std::string& y = tmp.s;
        switch (op) {
          case Cmp::Eq: r = StringEquals(x, y, c.set && c.set->exact); break;
          case Cmp::ExactEq: r = x == y; break;
          case Cmp::Ne: r = !StringEquals(x, y, c.set && c.set->exact); break;
          case Cmp::Lt: r = CompareBlankPadded(x, y) < 0; break;
          case Cmp::Le: r = CompareBlankPadded(x, y) < 0 || StringEquals(x, y, c.set && c.set->exact); break;
          case Cmp::Gt: r = CompareBlankPadded(x, y) > 0 && !StringEquals(x, y, c.set && c.set->exact); break;
          case Cmp::Ge: r = CompareBlankPadded(x, y) >= 0 || StringEquals(x, y, c.set && c.set->exact); break;
          case Cmp::Contains: r = y.find(x) != std::string::npos; break;
        }
        break;
      }
      case XType::Num:
      case XType::Date: {
        double x = a->type == XType::Num ? out.n : out.d;
        double y = a->type == XType::Num ? tmp.n : tmp.d;
        switch (op) {
          case Cmp::Eq: case Cmp::ExactEq: r = x == y; break;
          case Cmp::Ne: r = x != y; break;
          case Cmp::Lt: r = x < y; break;
          case Cmp::Le: r = x <= y; break;
          case Cmp::Gt: r = x > y; break;
          case Cmp::Ge: r = x >= y; break;
          case Cmp::Contains: break;
        }
        break;
      }
      case XType::Logical: {
        bool x = out.l, y = tmp.l;
        r = (op == Cmp::Ne) ? x != y : x == y;
        break;
      }
    }
    out.type = XType::Logical;
    out.l = r;
  }
};

// ---------------------------------------------------------------- functions
enum class Fn {
  Dtos, Ctod, Dtoc, Upper, Lower, AllTrim, Trim, LTrim, Empty, Deleted, Date, Str, Val, Len,
  Substr, Left, Right, Iif, RecNo, Year, Month, Day, Time, Space, Int, Abs
};

struct FnSpec {
  const char* name;
  Fn fn;
  int minArgs;
  int maxArgs;
};

const FnSpec kFunctions[] = {
    {"DTOS", Fn::Dtos, 1, 1},     {"CTOD", Fn::Ctod, 1, 1},       {"DTOC", Fn::Dtoc, 1, 2},
    {"UPPER", Fn::Upper, 1, 1},   {"LOWER", Fn::Lower, 1, 1},     {"ALLTRIM", Fn::AllTrim, 1, 1},
    {"TRIM", Fn::Trim, 1, 1},     {"RTRIM", Fn::Trim, 1, 1},      {"LTRIM", Fn::LTrim, 1, 1},
    {"EMPTY", Fn::Empty, 1, 1},   {"DELETED", Fn::Deleted, 0, 0}, {"DATE", Fn::Date, 0, 0},
    {"STR", Fn::Str, 1, 3},       {"VAL", Fn::Val, 1, 1},         {"LEN", Fn::Len, 1, 1},
    {"SUBSTR", Fn::Substr, 2, 3}, {"LEFT", Fn::Left, 2, 2},       {"RIGHT", Fn::Right, 2, 2},
    {"IIF", Fn::Iif, 3, 3},       {"RECNO", Fn::RecNo, 0, 0},     {"YEAR", Fn::Year, 1, 1},
    {"MONTH", Fn::Month, 1, 1},   {"DAY", Fn::Day, 1, 1},         {"TIME", Fn::Time, 0, 0},
    {"SPACE", Fn::Space, 1, 1},   {"INT", Fn::Int, 1, 1},         {"ABS", Fn::Abs, 1, 1},
};

int ClampInt(double v, int lo, int hi) {
  if (!(v >= lo)) return lo;
  if (v > hi) return hi;
  return static_cast<int>(v);
}

struct FuncNode : ExprNode {
  Fn fn;
  std::vector<NodeP> args;
  std::vector<XValue> tmp;
  FuncNode(Fn f, std::vector<NodeP> a) : fn(f), args(std::move(a)), tmp(args.size()) {}

  void Eval(const Ctx& c, XValue& out) override {
    switch (fn) {
      case Fn::Dtos:
        args[0]->Eval(c, tmp[0]);
        out.s.assign(DtosFromJdn(tmp[0].d));
        break;
      case Fn::Dtoc: {
        args[0]->Eval(c, tmp[0]);
        if (args.size() == 2) {
          out.s = DtosFromJdn(tmp[0].d);  // DTOC(d, 1) is the sortable form
        } else {
          DateFormat f = c.set ? c.set->dateFormat : DateFormat::American;
          out.s = FormatDate(tmp[0].d, f, c.set && c.set->century);
        }
        break;
      }
      case Fn::Ctod: {
        args[0]->Eval(c, tmp[0]);
        out.d = ParseDate(tmp[0].s, c.set ? c.set->dateFormat : DateFormat::American);
        break;
      }
      case Fn::Upper:
      case Fn::Lower:
        args[0]->Eval(c, out);
        // ASCII letters only: the result must not depend on the process locale, or keys
        // written under one locale would not be found under another.
        if (fn == Fn::Upper) {
          for (char& ch : out.s)
            if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
        } else {
          for (char& ch : out.s)
            if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
        }
        break;
      case Fn::AllTrim:
      case Fn::Trim:
      case Fn::LTrim: {
        args[0]->Eval(c, out);
        if (fn != Fn::LTrim) {
          size_t e = out.s.find_last_not_of(' ');
          out.s.resize(e == std::string::npos ? 0 : e + 1);
        }
        if (fn != Fn::Trim) {
          size_t b = out.s.find_first_not_of(' ');
          out.s.erase(0, b == std::string::npos ? out.s.size() : b);
        }
        break;
      }
      case Fn::Empty: {
        args[0]->Eval(c, tmp[0]);
        switch (args[0]->type) {
          case XType::Char: out.l = tmp[0].s.find_first_not_of(" \t\r\n") == std::string::npos; break;
          case XType::Num: out.l = tmp[0].n == 0; break;
          case XType::Date: out.l = tmp[0].d == 0; break;
          case XType::Logical: out.l = !tmp[0].l; break;
        }
        break;
      }
      case Fn::Deleted: out.l = c.rec[0] == '*'; break;
      case Fn::Date: out.d = TodayJdn(); break;
      case Fn::Str: {
        args[0]->Eval(c, tmp[0]);
        int len = 10, dec = 0;
        if (args.size() > 1) { args[1]->Eval(c, tmp[1]); len = ClampInt(tmp[1].n, 1, 255); }
        if (args.size() > 2) { args[2]->Eval(c, tmp[2]); dec = ClampInt(tmp[2].n, 0, 255); }
        out.s = XbStr(tmp[0].n, len, dec);
        break;
      }
      case Fn::Val:
        args[0]->Eval(c, tmp[0]);
        out.n = std::strtod(tmp[0].s.c_str(), nullptr);
        if (!std::isfinite(out.n)) out.n = 0;
        break;
      case Fn::Len:
        args[0]->Eval(c, tmp[0]);
        out.n = static_cast<double>(tmp[0].s.size());
        break;
      case Fn::Substr: {
        args[1]->Eval(c, tmp[1]);
        int len = -1;
        if (args.size() > 2) { args[2]->Eval(c, tmp[2]); len = ClampInt(tmp[2].n, 0, 65535); }
        args[0]->Eval(c, out);
        int start = ClampInt(tmp[1].n, 1, 1 << 30);
        if (static_cast<size_t>(start) > out.s.size()) {
          out.s.clear();
        } else {
          out.s.erase(0, static_cast<size_t>(start - 1));
          if (len >= 0 && static_cast<size_t>(len) < out.s.size()) out.s.resize(static_cast<size_t>(len));
        }
        break;
      }
      case Fn::Left:
      case Fn::Right: {
        args[1]->Eval(c, tmp[1]);
        size_t n = static_cast<size_t>(ClampInt(tmp[1].n, 0, 65535));
        args[0]->Eval(c, out);
        if (n < out.s.size()) {
          if (fn == Fn::Left) out.s.resize(n);
          else out.s.erase(0, out.s.size() - n);
        }
        break;
      }
      case Fn::Iif:
        args[0]->Eval(c, tmp[0]);
        (tmp[0].l ? args[1] : args[2])->Eval(c, out);
        break;
      case Fn::RecNo: out.n = c.recno; break;
      case Fn::Year:
      case Fn::Month:
      case Fn::Day: {
        args[0]->Eval(c, tmp[0]);
        Ymd y = YmdFromJdn(tmp[0].d);
        out.n = fn == Fn::Year ? y.year : fn == Fn::Month ? y.month : y.day;
        break;
      }
      case Fn::Time: {
        std::time_t t = std::time(nullptr);
        std::tm tm{};
        localtime_r(&t, &tm);
        char buf[16];
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
        out.s = buf;
        break;
      }
      case Fn::Space:
        args[0]->Eval(c, tmp[0]);
        out.s.assign(static_cast<size_t>(ClampInt(tmp[0].n, 0, 65535)), ' ');
        break;
      case Fn::Int:
        args[0]->Eval(c, out);
        out.n = std::trunc(out.n);
        break;
      case Fn::Abs:
        args[0]->Eval(c, out);
        out.n = std::fabs(out.n);
        break;
    }
    out.type = type;
  }
};

// ---------------------------------------------------------------- parser
enum class Tok { End, Num, Str, Ident, Logical, Op, LParen, RParen, Comma };

struct Token {
  Tok kind = Tok::End;
  std::string text;  // operator text upper-cased, identifier upper-cased, string contents
  double num = 0;
  bool logical = false;
  size_t pos = 0;
};

class Parser {
 public:
  Parser(std::string_view text, const std::vector<DbfField>& fields, const ExprSettings* settings)
      : src_(text), fields_(fields), settings_(settings) {
    Next();
  }

  NodeP ParseAll() {
    if (cur_.kind == Tok::End) Fail("the expression is empty");
    NodeP n = ParseOr();
    if (cur_.kind != Tok::End) Fail("unexpected \"" + Shown(cur_) + "\"");
    return n;
  }

 private:
  [[noreturn]] void Fail(const std::string& why, int code = core::ecExprSyntax) {
    ThrowXb(code, "Error in expression \"" + std::string(src_) + "\" at position " + std::to_string(cur_.pos + 1) +
                      ": " + why);
  }
  [[noreturn]] void TypeFail(const std::string& why) { Fail(why, core::ecExprType); }

  static std::string Shown(const Token& t) {
    switch (t.kind) {
      case Tok::End: return "end of expression";
      case Tok::Str: return "'" + t.text + "'";
      case Tok::LParen: return "(";
      case Tok::RParen: return ")";
      case Tok::Comma: return ",";
      default: return t.text;
    }
  }

  void Next() {
    size_t i = pos_;
    while (i < src_.size() && std::isspace(static_cast<unsigned char>(src_[i]))) ++i;
    cur_ = Token{};
    cur_.pos = i;
    if (i >= src_.size()) {
      pos_ = i;
      return;
    }
    char ch = src_[i];
    auto upperWord = [&](size_t from, size_t to) {
      std::string w(src_.substr(from, to - from));
      return UpperAscii(w);
    };
    if (std::isdigit(static_cast<unsigned char>(ch)) ||
        (ch == '.' && i + 1 < src_.size() && std::isdigit(static_cast<unsigned char>(src_[i + 1])))) {
      size_t j = i;
      while (j < src_.size() && std::isdigit(static_cast<unsigned char>(src_[j]))) ++j;
      if (j < src_.size() && src_[j] == '.' && j + 1 < src_.size() && std::isdigit(static_cast<unsigned char>(src_[j + 1]))) {
        ++j;
        while (j < src_.size() && std::isdigit(static_cast<unsigned char>(src_[j]))) ++j;
      }
      cur_.kind = Tok::Num;
      cur_.text = std::string(src_.substr(i, j - i));
      cur_.num = std::strtod(cur_.text.c_str(), nullptr);
      pos_ = j;
      return;
    }
    if (ch == '"' || ch == '\'' || ch == '[') {
      char close = ch == '[' ? ']' : ch;
      size_t j = src_.find(close, i + 1);
      if (j == std::string_view::npos) {
        pos_ = src_.size();
        Fail("a string is not closed");
      }
      cur_.kind = Tok::Str;
      cur_.text = std::string(src_.substr(i + 1, j - i - 1));
      pos_ = j + 1;
      return;
    }
    if (ch == '.') {
      size_t j = i + 1;
      while (j < src_.size() && std::isalpha(static_cast<unsigned char>(src_[j]))) ++j;
      if (j < src_.size() && src_[j] == '.' && j > i + 1) {
        std::string w = upperWord(i + 1, j);
        pos_ = j + 1;
        if (w == "T" || w == "TRUE" || w == "Y") { cur_.kind = Tok::Logical; cur_.logical = true; cur_.text = "." + w + "."; return; }
        if (w == "F" || w == "FALSE" || w == "N") { cur_.kind = Tok::Logical; cur_.logical = false; cur_.text = "." + w + "."; return; }
        if (w == "NOT" || w == "AND" || w == "OR") { cur_.kind = Tok::Op; cur_.text = w; return; }
        pos_ = i;
        Fail("unknown word ." + w + ".");
      }
      pos_ = i + 1;
      Fail("unexpected \".\"");
    }
    if (std::isalpha(static_cast<unsigned char>(ch)) || ch == '_') {
      size_t j = i;
      while (j < src_.size() && (std::isalnum(static_cast<unsigned char>(src_[j])) || src_[j] == '_')) ++j;
      // An alias prefix ("FAX->NAME", "FAX.NAME") names the one table we have: skip it.
      if (j + 1 < src_.size() && src_[j] == '-' && src_[j + 1] == '>') {
        pos_ = j + 2;
        Next();
        return;
      }
      cur_.kind = Tok::Ident;
      cur_.text = upperWord(i, j);
      pos_ = j;
      return;
    }
    pos_ = i + 1;
    switch (ch) {
      case '(': cur_.kind = Tok::LParen; cur_.text = "("; return;
      case ')': cur_.kind = Tok::RParen; cur_.text = ")"; return;
      case ',': cur_.kind = Tok::Comma; cur_.text = ","; return;
      default: break;
    }
    cur_.kind = Tok::Op;
    auto two = [&](const char* op) {
      if (src_.substr(i, 2) == op) {
        cur_.text = op;
        pos_ = i + 2;
        return true;
      }
      return false;
    };
    if (two("==") || two("<>") || two("<=") || two(">=") || two("!=") || two("**")) return;
    if (std::strchr("=<>#$+-*/%^!", ch)) {
      cur_.text = std::string(1, ch);
      return;
    }
    pos_ = i;
    Fail(std::string("unexpected character '") + ch + "'");
  }

  bool IsOp(const char* op) const { return cur_.kind == Tok::Op && cur_.text == op; }

  void ExpectLogical(const NodeP& n, const std::string& what) {
    if (n->type != XType::Logical) TypeFail(what + " needs a logical operand, not " + XTypeName(n->type));
  }

  NodeP ParseOr() {
    NodeP l = ParseAnd();
    while (IsOp("OR")) {
      Next();
      NodeP r = ParseAnd();
      ExpectLogical(l, ".OR.");
      ExpectLogical(r, ".OR.");
      l = std::make_shared<AndOrNode>(l, r, false);
    }
    return l;
  }

  NodeP ParseAnd() {
    NodeP l = ParseNot();
    while (IsOp("AND")) {
      Next();
      NodeP r = ParseNot();
      ExpectLogical(l, ".AND.");
      ExpectLogical(r, ".AND.");
      l = std::make_shared<AndOrNode>(l, r, true);
    }
    return l;
  }

  struct Depth {
    explicit Depth(Parser& p) : p_(p) {
      if (++p_.depth_ > 200) p_.Fail("the expression is nested too deeply");
    }
    ~Depth() { --p_.depth_; }
    Parser& p_;
  };

  NodeP ParseNot() {
    Depth guard(*this);
    if (IsOp("NOT") || IsOp("!")) {
      Next();
      NodeP a = ParseNot();
      ExpectLogical(a, ".NOT.");
      return std::make_shared<NotNode>(a);
    }
    return ParseCompare();
  }

  NodeP ParseCompare() {
    NodeP l = ParseAdd();
    static const struct { const char* op; Cmp cmp; } kOps[] = {
        {"==", Cmp::ExactEq}, {"=", Cmp::Eq}, {"<>", Cmp::Ne}, {"#", Cmp::Ne}, {"!=", Cmp::Ne}, {"<", Cmp::Lt},
        {"<=", Cmp::Le}, {">", Cmp::Gt}, {">=", Cmp::Ge}, {"$", Cmp::Contains}};
    while (cur_.kind == Tok::Op) {
      const Cmp* found = nullptr;
      for (const auto& o : kOps)
        if (cur_.text == o.op) found = &o.cmp;
      if (!found) break;
      Cmp cmp = *found;
      std::string opText = cur_.text;
      Next();
      NodeP r = ParseAdd();
      if (l->type != r->type)
        TypeFail("cannot compare " + std::string(XTypeName(l->type)) + " with " + XTypeName(r->type));
      if (cmp == Cmp::Contains && l->type != XType::Char) TypeFail("$ needs character operands");
      if (l->type == XType::Logical && cmp != Cmp::Eq && cmp != Cmp::ExactEq && cmp != Cmp::Ne)
        TypeFail("logical values can only be compared with = or <>");
      l = std::make_shared<CompareNode>(l, r, cmp);
    }
    return l;
  }

  NodeP ParseAdd() {
    NodeP l = ParseMul();
    while (IsOp("+") || IsOp("-")) {
      bool minus = cur_.text == "-";
      Next();
      NodeP r = ParseMul();
      XType a = l->type, b = r->type;
      if (a == XType::Char && b == XType::Char) {
        l = std::make_shared<ConcatNode>(l, r, minus);
      } else if (a == XType::Num && b == XType::Num) {
        l = std::make_shared<ArithNode>(l, r, minus ? Arith::Sub : Arith::Add, XType::Num);
      } else if (a == XType::Date && b == XType::Num) {
        l = std::make_shared<ArithNode>(l, r, minus ? Arith::Sub : Arith::Add, XType::Date);
      } else if (a == XType::Num && b == XType::Date && !minus) {
        l = std::make_shared<ArithNode>(l, r, Arith::Add, XType::Date);
      } else if (a == XType::Date && b == XType::Date && minus) {
        l = std::make_shared<ArithNode>(l, r, Arith::Sub, XType::Num);
      } else {
        TypeFail(std::string("operator ") + (minus ? "-" : "+") + " cannot combine " + XTypeName(a) + " and " +
                 XTypeName(b));
      }
    }
    return l;
  }

  NodeP ParseMul() {
    NodeP l = ParsePow();
    while (IsOp("*") || IsOp("/") || IsOp("%")) {
      Arith op = cur_.text == "*" ? Arith::Mul : cur_.text == "/" ? Arith::Div : Arith::Mod;
      std::string opText = cur_.text;
      Next();
      NodeP r = ParsePow();
      if (l->type != XType::Num || r->type != XType::Num) TypeFail("operator " + opText + " needs numeric operands");
      l = std::make_shared<ArithNode>(l, r, op, XType::Num);
    }
    return l;
  }

  NodeP ParsePow() {
    Depth guard(*this);
    NodeP l = ParseUnary();
    if (IsOp("**") || IsOp("^")) {
      Next();
      NodeP r = ParsePow();
      if (l->type != XType::Num || r->type != XType::Num) TypeFail("operator ^ needs numeric operands");
      l = std::make_shared<ArithNode>(l, r, Arith::Pow, XType::Num);
    }
    return l;
  }

  NodeP ParseUnary() {
    Depth guard(*this);
    if (IsOp("-") || IsOp("+")) {
      bool neg = cur_.text == "-";
      Next();
      NodeP a = ParseUnary();
      if (a->type != XType::Num) TypeFail("a sign needs a numeric operand");
      return neg ? std::make_shared<NegNode>(a) : a;
    }
    return ParsePrimary();
  }

  NodeP ParsePrimary() {
    Depth guard(*this);
    return ParsePrimaryInner();
  }

  NodeP ParsePrimaryInner() {
    switch (cur_.kind) {
      case Tok::Num: {
        XValue v;
        v.type = XType::Num;
        v.n = cur_.num;
        Next();
        return std::make_shared<LiteralNode>(v);
      }
      case Tok::Str: {
        XValue v;
        v.type = XType::Char;
        v.s = cur_.text;
        Next();
        return std::make_shared<LiteralNode>(v);
      }
      case Tok::Logical: {
        XValue v;
        v.type = XType::Logical;
        v.l = cur_.logical;
        Next();
        return std::make_shared<LiteralNode>(v);
      }
      case Tok::LParen: {
        Next();
        NodeP n = ParseOr();
        if (cur_.kind != Tok::RParen) Fail("\")\" expected, found \"" + Shown(cur_) + "\"");
        Next();
        return n;
      }
      case Tok::Ident: return ParseName();
      default: Fail("a value was expected, found \"" + Shown(cur_) + "\"");
    }
  }

  const FnSpec* FindFunction(const std::string& name) {
    for (const auto& f : kFunctions)
      if (name == f.name) return &f;
    if (name.size() >= 4) {  // xBase accepts function names shortened to four letters
      const FnSpec* hit = nullptr;
      for (const auto& f : kFunctions) {
        if (std::strncmp(f.name, name.c_str(), name.size()) == 0) {
          if (hit && hit->fn != f.fn) return nullptr;
          hit = &f;
        }
      }
      return hit;
    }
    return nullptr;
  }

  NodeP ParseName() {
    std::string name = cur_.text;
    size_t namePos = cur_.pos;
    Next();
    if (cur_.kind == Tok::LParen) {
      const FnSpec* fnSpec = FindFunction(name);
      if (!fnSpec) {
        cur_.pos = namePos;
        Fail("unknown function " + name + "()", core::ecExprUnknownName);
      }
      Next();
      std::vector<NodeP> args;
      if (cur_.kind != Tok::RParen) {
        for (;;) {
          args.push_back(ParseOr());
          if (cur_.kind == Tok::Comma) {
            Next();
            continue;
          }
          break;
        }
      }
      if (cur_.kind != Tok::RParen) Fail("\")\" expected after the arguments of " + std::string(fnSpec->name));
      Next();
      if (static_cast<int>(args.size()) < fnSpec->minArgs || static_cast<int>(args.size()) > fnSpec->maxArgs)
        TypeFail(std::string(fnSpec->name) + "() takes " + std::to_string(fnSpec->minArgs) +
                 (fnSpec->maxArgs != fnSpec->minArgs ? " to " + std::to_string(fnSpec->maxArgs) : "") + " argument(s)");
      return MakeFunction(*fnSpec, std::move(args));
    }
    for (size_t i = 0; i < fields_.size(); ++i) {
      if (fields_[i].name == name) {
        char t = fields_[i].type;
        if (t != 'C' && t != 'N' && t != 'F' && t != 'D' && t != 'L') {
          cur_.pos = namePos;
          TypeFail("field " + name + " of type " + std::string(1, t) + " cannot be used in an expression");
        }
        if (fieldCount_++ == 0) firstField_ = static_cast<int>(i);
        return std::make_shared<FieldNode>(fields_[i]);
      }
    }
    cur_.pos = namePos;
    Fail("unknown field " + name, core::ecExprUnknownName);
  }

  void ArgType(const FnSpec& s, const std::vector<NodeP>& a, size_t i, XType t) {
    if (a[i]->type != t)
      TypeFail(std::string(s.name) + "() argument " + std::to_string(i + 1) + " must be " + XTypeName(t) + ", not " +
               XTypeName(a[i]->type));
  }

  double ConstNum(const NodeP& n, double fallback) {
    if (!n->IsConst()) return fallback;
    XValue v;
    Ctx c{nullptr, 0, settings_};
    n->Eval(c, v);
    return v.n;
  }

  NodeP MakeFunction(const FnSpec& s, std::vector<NodeP> a) {
    auto node = std::make_shared<FuncNode>(s.fn, a);
    auto w = [](double v) { return static_cast<uint16_t>(ClampInt(v, 0, 65535)); };
    switch (s.fn) {
      case Fn::Dtos:
        ArgType(s, a, 0, XType::Date);
        node->type = XType::Char; node->width = 8; break;
      case Fn::Dtoc:
        ArgType(s, a, 0, XType::Date);
        if (a.size() > 1) ArgType(s, a, 1, XType::Num);
        node->type = XType::Char;
        node->width = a.size() > 1 ? 8 : (settings_ && settings_->century ? 10 : 8);
        break;
      case Fn::Ctod:
        ArgType(s, a, 0, XType::Char);
        node->type = XType::Date; break;
      case Fn::Upper: case Fn::Lower: case Fn::AllTrim: case Fn::Trim: case Fn::LTrim:
        ArgType(s, a, 0, XType::Char);
        node->type = XType::Char; node->width = a[0]->width; break;
      case Fn::Empty: case Fn::Deleted:
        node->type = XType::Logical; break;
      case Fn::Date:
        node->type = XType::Date; break;
      case Fn::Str:
        for (size_t i = 0; i < a.size(); ++i) ArgType(s, a, i, XType::Num);
        node->type = XType::Char;
        node->width = a.size() > 1 ? w(ConstNum(a[1], 10)) : 10;
        break;
      case Fn::Val:
        ArgType(s, a, 0, XType::Char);
        node->type = XType::Num; break;
      case Fn::Len:
        ArgType(s, a, 0, XType::Char);
        node->type = XType::Num; break;
      case Fn::Substr: {
        ArgType(s, a, 0, XType::Char);
        for (size_t i = 1; i < a.size(); ++i) ArgType(s, a, i, XType::Num);
        node->type = XType::Char;
        double start = ConstNum(a[1], 1);
        double rest = a[0]->width - std::max(1.0, start) + 1;
        double len = a.size() > 2 ? ConstNum(a[2], rest) : rest;
        node->width = w(std::min(rest, len));
        break;
      }
      case Fn::Left: case Fn::Right:
        ArgType(s, a, 0, XType::Char);
        ArgType(s, a, 1, XType::Num);
        node->type = XType::Char;
        node->width = w(std::min<double>(a[0]->width, ConstNum(a[1], a[0]->width)));
        break;
      case Fn::Iif:
        ArgType(s, a, 0, XType::Logical);
        if (a[1]->type != a[2]->type) TypeFail("IIF() needs two results of the same type");
        node->type = a[1]->type;
        node->width = std::max(a[1]->width, a[2]->width);
        break;
      case Fn::RecNo:
        node->type = XType::Num; break;
      case Fn::Year: case Fn::Month: case Fn::Day:
        ArgType(s, a, 0, XType::Date);
        node->type = XType::Num; break;
      case Fn::Time:
        node->type = XType::Char; node->width = 8; break;
      case Fn::Space:
        ArgType(s, a, 0, XType::Num);
        node->type = XType::Char; node->width = w(ConstNum(a[0], 0)); break;
      case Fn::Int: case Fn::Abs:
        ArgType(s, a, 0, XType::Num);
        node->type = XType::Num; break;
    }
    return node;
  }

 public:
  int fieldCount_ = 0;
  int firstField_ = -1;

 private:
  std::string_view src_;
  const std::vector<DbfField>& fields_;
  const ExprSettings* settings_;
  size_t pos_ = 0;
  Token cur_;
  int depth_ = 0;
};

// ---------------------------------------------------------------- key pieces
bool IntegralConst(const NodeP& n, int lo, int hi, int& out) {
  auto* lit = dynamic_cast<const LiteralNode*>(n.get());
  if (!lit || lit->v.type != XType::Num) return false;
  const double v = lit->v.n;
  if (!(v >= lo && v <= hi) || v != std::floor(v)) return false;
  out = static_cast<int>(v);
  return true;
}

// Appends the pieces of a character expression; `cs` is the case the nearest enclosing
// UPPER/LOWER gives its letters (the outermost one is applied last, so it wins).
bool CollectPieces(const ExprNode* n, KeyPiece::Case cs, std::vector<KeyPiece>& out) {
  if (n->type != XType::Char) return false;
  if (auto* f = dynamic_cast<const FieldNode*>(n)) {
    KeyPiece p;
    p.kind = KeyPiece::Kind::Field;
    p.letterCase = cs;
    p.fieldType = f->ftype;
    p.offset = f->offset;
    p.fieldWidth = p.width = f->fwidth;
    out.push_back(std::move(p));
    return true;
  }
  if (auto* l = dynamic_cast<const LiteralNode*>(n)) {
    if (l->v.s.size() != l->width) return false;  // longer than any key
    KeyPiece p;
    p.kind = KeyPiece::Kind::Literal;
    p.text = l->v.s;
    for (char& ch : p.text) {
      if (cs == KeyPiece::Case::Upper && ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
      if (cs == KeyPiece::Case::Lower && ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
    }
    p.width = l->width;
    out.push_back(std::move(p));
    return true;
  }
  if (auto* c = dynamic_cast<const ConcatNode*>(n)) {
    if (c->moveBlanks || c->a->width + c->b->width != c->width) return false;
    return CollectPieces(c->a.get(), cs, out) && CollectPieces(c->b.get(), cs, out);
  }
  auto* fn = dynamic_cast<const FuncNode*>(n);
  if (!fn) return false;
  switch (fn->fn) {
    case Fn::Upper:
    case Fn::Lower:
      if (cs == KeyPiece::Case::Keep) cs = fn->fn == Fn::Upper ? KeyPiece::Case::Upper : KeyPiece::Case::Lower;
      return CollectPieces(fn->args[0].get(), cs, out);
    case Fn::Dtos: {
      auto* f = dynamic_cast<const FieldNode*>(fn->args[0].get());
      if (!f || f->type != XType::Date) return false;
      KeyPiece p;
      p.kind = KeyPiece::Kind::DtosField;
      p.fieldType = f->ftype;
      p.offset = f->offset;
      p.fieldWidth = f->fwidth;
      p.width = 8;
      out.push_back(std::move(p));
      return true;
    }
    case Fn::Str: {
      auto* f = dynamic_cast<const FieldNode*>(fn->args[0].get());
      if (!f || f->type != XType::Num) return false;
      KeyPiece p;
      p.kind = KeyPiece::Kind::StrField;
      p.fieldType = f->ftype;
      p.offset = f->offset;
      p.fieldWidth = f->fwidth;
      // Only lengths and decimals the evaluator takes unchanged, so the width is the length.
      if (fn->args.size() > 1 && !IntegralConst(fn->args[1], 1, 255, p.strLen)) return false;
      if (fn->args.size() > 2 && !IntegralConst(fn->args[2], 0, 255, p.strDec)) return false;
      if (p.strLen != fn->width) return false;
      p.width = static_cast<uint16_t>(p.strLen);
      out.push_back(std::move(p));
      return true;
    }
    default: return false;
  }
}

}  // namespace

Expression Expression::Compile(std::string_view text, const std::vector<DbfField>& fields,
                               const ExprSettings* settings) {
  if (text.size() > 4096) ThrowXb(core::ecExprSyntax, "Expression is too long");
  Parser p(text, fields, settings);
  Expression e;
  e.root_ = p.ParseAll();
  e.scratch_ = std::make_shared<XValue>();
  e.text_ = std::string(text);
  e.settings_ = settings;
  if (dynamic_cast<FieldNode*>(e.root_.get())) e.singleField_ = p.firstField_;
  return e;
}

XType Expression::Type() const { return root_ ? root_->type : XType::Logical; }
uint16_t Expression::Width() const { return root_ ? root_->width : 0; }

void Expression::Eval(const uint8_t* record, uint32_t recno, XValue& out) const {
  Ctx c{record, recno, settings_};
  root_->Eval(c, out);
}

bool Expression::EvalLogical(const uint8_t* record, uint32_t recno) const {
  Ctx c{record, recno, settings_};
  root_->Eval(c, *scratch_);
  return scratch_->l;
}

bool Expression::KeyPieces(std::vector<KeyPiece>& out) const {
  out.clear();
  if (!root_) return false;
  if (root_->type != XType::Char) {
    auto* f = dynamic_cast<const FieldNode*>(root_.get());
    if (!f) return false;
    KeyPiece p;
    p.kind = KeyPiece::Kind::Field;
    p.fieldType = f->ftype;
    p.offset = f->offset;
    p.fieldWidth = f->fwidth;
    out.push_back(std::move(p));
    return true;
  }
  if (!CollectPieces(root_.get(), KeyPiece::Case::Keep, out)) {
    out.clear();
    return false;
  }
  return true;
}

DeletedTest Expression::AsDeletedTest() const {
  auto isDeleted = [](const ExprNode* n) {
    auto* fn = dynamic_cast<const FuncNode*>(n);
    return fn && fn->fn == Fn::Deleted;
  };
  if (!root_) return DeletedTest::None;
  if (isDeleted(root_.get())) return DeletedTest::Deleted;
  if (auto* no = dynamic_cast<const NotNode*>(root_.get()); no && isDeleted(no->a.get())) return DeletedTest::NotDeleted;
  return DeletedTest::None;
}

}  // namespace qv::tables
