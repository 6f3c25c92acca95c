// qvdb - look into and look after the xBase tables of the fax store.
//
//   qvdb info T.DBF
//   qvdb dump T.DBF [--tag NAME] [--deleted]
//   qvdb check T.DBF
//   qvdb index T.DBF TAG 'KEY' [--for 'COND'] [--descending]
//   qvdb pack T.DBF
//   qvdb reindex T.DBF
//   qvdb eval T.DBF 'EXPR'
//
// Errors go to stderr with exit status 2 (1 for `check` finding a mismatch).

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "core/version_option.h"
#include "tables/table_check.h"
#include "tables/work_area.h"
#include "tables/xb_engine.h"

using namespace qv::tables;

namespace {

int Usage() {
  std::cerr << "usage: qvdb info T.DBF\n"
               "       qvdb dump T.DBF [--tag NAME] [--deleted]\n"
               "       qvdb check T.DBF\n"
               "       qvdb index T.DBF TAG 'KEY' [--for 'COND'] [--descending]\n"
               "       qvdb pack T.DBF\n"
               "       qvdb reindex T.DBF\n"
               "       qvdb eval T.DBF 'EXPR'\n"
               "       qvdb --version\n";
  return 2;
}

int Fail(const std::string& what) {
  std::cerr << "qvdb: " << what;
  if (xb_LastError() != 0) std::cerr << ": " << xb_LastErrorText();
  std::cerr << "\n";
  xb_CloseAll();
  return 2;
}

// Tabs, line ends and backslashes inside values would break the one-record-per-line output.
std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Trim(std::string s) {
  size_t e = s.find_last_not_of(' ');
  s.resize(e == std::string::npos ? 0 : e + 1);
  size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b);
}

bool Open(const std::string& path, int mode) { return xb_Use(path, "", mode, xbdFOX) != 0; }

int Info(const std::string& path) {
  if (!Open(path, xbmReadOnly)) return Fail("cannot open " + path);
  WorkArea* wa = xb_CurrentArea();
  std::printf("table %s\n", path.c_str());
  std::printf("records %u\n", xb_RecCount());
  std::printf("fields %d\n", xb_FieldCount());
  for (int i = 1; i <= xb_FieldCount(); ++i) {
    std::printf("  %-10s %c %3d %d\n", xb_FieldName(i).c_str(), xb_FieldType(i), xb_FieldWidth(i),
                xb_FieldDecimals(i));
  }
  std::printf("tags %d\n", wa->TagCount());
  for (int o = 1; o <= wa->TagCount(); ++o) {
    IndexTag* t = wa->Tag(o);
    std::printf("  %-10s key \"%s\"", t->Name().c_str(), t->Def().keyExpr.c_str());
    if (!t->Def().forExpr.empty()) std::printf(" for \"%s\"", t->Def().forExpr.c_str());
    std::printf(" %s%s\n", t->Def().descending ? "descending" : "ascending", t->Def().unique ? " unique" : "");
  }
  xb_CloseAll();
  return 0;
}

int Dump(const std::string& path, const std::string& tag, bool withDeleted) {
  if (!Open(path, xbmReadOnly)) return Fail("cannot open " + path);
  if (!tag.empty()) {
    int order = xb_TagArea(tag);
    if (order == 0) {
      std::cerr << "qvdb: no tag " << tag << " in " << path << "\n";
      xb_CloseAll();
      return 2;
    }
    xb_SetOrder(order);
  }
  xb_SetDeleted(!withDeleted);
  int nf = xb_FieldCount();
  for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) {
    std::string line;
    for (int i = 1; i <= nf; ++i) {
      if (i > 1) line += '\t';
      std::string name = xb_FieldName(i);
      char type = xb_FieldType(i);
      if (type == 'M' || type == 'B' || type == 'P' || type == 'G') {
        size_t len = 0;
        char* m = xb_GetMemo(name, &len);
        if (!m) return Fail("record " + std::to_string(xb_RecNo()) + ", field " + name);
        line += Escape(std::string(m, len));
        xb_MemDealloc(m);
      } else if (type == 'C') {
        line += Escape(xb_GetTrimString(name));
      } else {
        line += Escape(Trim(xb_GetString(name)));
      }
    }
    std::printf("%s\n", line.c_str());
  }
  xb_CloseAll();
  return 0;
}

int Check(const std::string& path) {
  std::vector<std::string> problems = CheckTable(path);
  for (const auto& p : problems) std::cerr << "qvdb: " << p << "\n";
  if (!problems.empty()) return 1;
  std::printf("%s: table, memos and tags agree\n", path.c_str());
  return 0;
}

int Index(const std::string& path, const std::string& tag, const std::string& key, const std::string& cond,
          bool descending) {
  if (!Open(path, xbmExclusive)) return Fail("cannot open " + path);
  if (xb_IndexTag("", tag, key, 0, descending, cond) == 0) return Fail("cannot make tag " + tag);
  if (!xb_Close()) return Fail("cannot save " + path);
  return 0;
}

int Pack(const std::string& path) {
  if (!Open(path, xbmExclusive)) return Fail("cannot open " + path);
  uint32_t before = xb_RecCount();
  if (!xb_Pack()) return Fail("cannot pack " + path);
  std::printf("%u records, %u removed\n", xb_RecCount(), before - xb_RecCount());
  if (!xb_Close()) return Fail("cannot save " + path);
  return 0;
}

int Reindex(const std::string& path) {
  if (!Open(path, xbmExclusive)) return Fail("cannot open " + path);
  if (!xb_Reindex()) return Fail("cannot reindex " + path);
  if (!xb_Close()) return Fail("cannot save " + path);
  return 0;
}

int Eval(const std::string& path, const std::string& expr) {
  if (!Open(path, xbmReadOnly)) return Fail("cannot open " + path);
  WorkArea* wa = xb_CurrentArea();
  Expression e;
  try {
    e = wa->Compile(expr);
  } catch (const std::exception& ex) {
    std::cerr << "qvdb: " << ex.what() << "\n";
    xb_CloseAll();
    return 2;
  }
  if (e.Type() != XType::Logical) {
    std::cerr << "qvdb: \"" << expr << "\" is " << XTypeName(e.Type()) << ", not a condition\n";
    xb_CloseAll();
    return 2;
  }
  xb_SetDeleted(false);
  for (uint32_t r = 1; r <= xb_RecCount(); ++r) {
    xb_Go(r);
    if (e.EvalLogical(wa->Record().data(), r)) std::printf("%u\n", r);
  }
  xb_CloseAll();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (qv::core::AnswerVersionOption(argc, argv, "qvdb")) return 0;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 2) return Usage();
  const std::string cmd = args[0];
  const std::string path = args[1];
  std::vector<std::string> rest(args.begin() + 2, args.end());
  if (cmd == "info" && rest.empty()) return Info(path);
  if (cmd == "check" && rest.empty()) return Check(path);
  if (cmd == "pack" && rest.empty()) return Pack(path);
  if (cmd == "reindex" && rest.empty()) return Reindex(path);
  if (cmd == "eval" && rest.size() == 1) return Eval(path, rest[0]);
  if (cmd == "dump") {
    std::string tag;
    bool deleted = false;
    for (size_t i = 0; i < rest.size(); ++i) {
      if (rest[i] == "--tag" && i + 1 < rest.size()) tag = rest[++i];
      else if (rest[i] == "--deleted") deleted = true;
      else return Usage();
    }
    return Dump(path, tag, deleted);
  }
  if (cmd == "index" && rest.size() >= 2) {
    std::string cond;
    bool descending = false;
    for (size_t i = 2; i < rest.size(); ++i) {
      if (rest[i] == "--for" && i + 1 < rest.size()) cond = rest[++i];
      else if (rest[i] == "--descending") descending = true;
      else return Usage();
    }
    return Index(path, rest[0], rest[1], cond, descending);
  }
  return Usage();
}
