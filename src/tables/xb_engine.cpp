#include "tables/xb_engine.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <vector>

#include "tables/engine_settings.h"
#include "tables/file_io.h"
#include "tables/work_area.h"
#include "tables/xbase_error.h"

namespace qv::tables {

namespace {

struct PendingCreate {
  std::string path;
  int driver = xbdFOX;
  int fieldCount = 0;
  std::vector<DbfField> fields;
};

struct Engine {
  EngineSettings settings;
  std::map<int, std::unique_ptr<WorkArea>> areas;
  std::map<int, PendingCreate> creating;
  int selected = 0;
  int lastError = 0;
  std::string lastErrorText;
  int stringType = 1;
  int errorLevel = 1;
  int optimize = 1;
  bool turboRead = false;
};

Engine& E() {
  static Engine engine;
  return engine;
}

void ClearError() {
  E().lastError = 0;
  E().lastErrorText.clear();
}

void SetError(int code, const std::string& text) {
  E().lastError = code;
  E().lastErrorText = text;
}

// Runs `f`, turning any exception into the engine's last error and `fail`.
template <typename R, typename F>
R Guard(R fail, F&& f) {
  ClearError();
  try {
    return f();
  } catch (const EXBaseError& e) {
    SetError(e.ErrorCode(), e.what());
  } catch (const std::bad_alloc&) {
    SetError(core::ecTableReadFailed, "Out of memory");
  } catch (const std::exception& e) {
    SetError(core::ecTableReadFailed, e.what());
  }
  return fail;
}

WorkArea& Cur() {
  auto it = E().areas.find(E().selected);
  if (it == E().areas.end()) ThrowXb(core::ecNoWorkArea, "No table is open in the selected work area");
  return *it->second;
}

int FieldOf(WorkArea& wa, const std::string& name) {
  int i = wa.FieldIndex(name);
  if (i < 0) ThrowXb(core::ecTableBadField, "Field " + name + " does not exist in " + wa.Path());
  return i;
}

const DbfField& FieldNo(WorkArea& wa, int n) {
  if (n < 1 || static_cast<size_t>(n) > wa.Fields().size())
    ThrowXb(core::ecTableBadField, "Field number " + std::to_string(n) + " does not exist");
  return wa.Fields()[static_cast<size_t>(n - 1)];
}

bool SameAlias(const std::string& a, const std::string& b) { return UpperAscii(a) == UpperAscii(b); }

int FreeArea() {
  for (int n = 1; n <= kMaxWorkAreas; ++n)
    if (!E().areas.count(n) && !E().creating.count(n)) return n;
  ThrowXb(core::ecTableOpenFailed, "All 255 work areas are in use");
}

}  // namespace

// ------------------------------------------------------------------ start and stop
std::string xb_Version() { return "2.40.00"; }
void xb_SetStringType(int type) { E().stringType = type; }
void xb_ErrorLevel(int level) { E().errorLevel = level; }
int xb_LastError() { return E().lastError; }
std::string xb_LastErrorText() { return E().lastErrorText; }
WorkArea* xb_CurrentArea() {
  auto it = E().areas.find(E().selected);
  return it == E().areas.end() ? nullptr : it->second.get();
}

int xb_SysProp(int code, int value) {
  return Guard(0, [&]() -> int {
    switch (code) {
      case xspAreaInUse: return E().areas.count(value) ? 1 : 0;
      case xspFieldIsVariable: return 0;  // this engine has no variable-length fields
      case xspConditionActive: {
        WorkArea* wa = xb_CurrentArea();
        return wa && wa->QueryActive() ? 1 : 0;
      }
      case xspOptimize: {
        int old = E().optimize;
        E().optimize = value;
        return old;
      }
      default: return 0;
    }
  });
}

void xb_CloseAll() {
  Guard(0, [&]() {
    std::string firstError;
    int firstCode = 0;
    for (auto& [n, wa] : E().areas) {
      try {
        wa->Close();
      } catch (const EXBaseError& e) {
        if (!firstCode) { firstCode = e.ErrorCode(); firstError = e.what(); }
      }
    }
    E().areas.clear();
    E().creating.clear();
    E().selected = 0;
    if (firstCode) ThrowXb(firstCode, firstError);
    return 0;
  });
}

// ------------------------------------------------------------------ work areas
int xb_Use(const std::string& path, const std::string& alias, int mode, int driver) {
  return Guard(0, [&]() -> int {
    if (driver != xbdNTX && driver != xbdFOX && driver != xbdNSX && driver != xbdANTX && driver != xbdAFOX)
      ThrowXb(core::ecTableBadArgument, "Unknown table driver " + std::to_string(driver));
    if (mode < 0 || mode > 2) ThrowXb(core::ecTableBadArgument, "Unknown open mode " + std::to_string(mode));
    std::string a = alias.empty() ? BaseNameNoExt(path) : alias;
    for (auto& [n, wa] : E().areas)
      if (SameAlias(wa->Alias(), a)) ThrowXb(core::ecTableOpenFailed, "Alias " + a + " is already in use");
    int n = FreeArea();
    auto wa = std::make_unique<WorkArea>(n, a, &E().settings);
    wa->Open(path, static_cast<OpenMode>(mode));
    E().areas[n] = std::move(wa);
    E().selected = n;
    return n;
  });
}

bool xb_Close() {
  return Guard(false, [&]() {
    int n = E().selected;
    E().creating.erase(n);
    auto it = E().areas.find(n);
    if (it == E().areas.end()) return false;
    std::unique_ptr<WorkArea> wa = std::move(it->second);
    E().areas.erase(it);
    wa->Close();
    return true;
  });
}

int xb_Select(int area) {
  int prev = E().selected;
  E().selected = area;
  return prev;
}

int xb_WorkArea(const std::string& alias) {
  if (alias.empty()) return E().selected;
  for (auto& [n, wa] : E().areas)
    if (SameAlias(wa->Alias(), alias)) return n;
  return 0;
}

// ------------------------------------------------------------------ creating
int xb_CreateNew(const std::string& path, const std::string& alias, int driver, int fieldCount) {
  return Guard(0, [&]() -> int {
    (void)alias;
    if (path.empty()) ThrowXb(core::ecTableBadArgument, "A new table needs a file name");
    if (fieldCount < 1 || fieldCount > 255) ThrowXb(core::ecTableBadArgument, "A table has 1 to 255 fields");
    int n = FreeArea();
    E().creating[n] = PendingCreate{path, driver, fieldCount, {}};
    E().selected = n;
    return n;
  });
}

bool xb_CreateField(const std::string& name, char type, int width, int decimals) {
  return Guard(false, [&]() {
    auto it = E().creating.find(E().selected);
    if (it == E().creating.end()) ThrowXb(core::ecNoWorkArea, "No table definition is in progress");
    if (width < 0 || width > 65535 || decimals < 0 || decimals > 255)
      ThrowXb(core::ecTableBadField, "Field " + name + ": bad width or decimals");
    if (static_cast<int>(it->second.fields.size()) >= it->second.fieldCount)
      ThrowXb(core::ecTableBadField, "More fields than announced");
    DbfField f;
    f.name = name;
    f.type = type;
    f.width = static_cast<uint16_t>(width);
    f.decimals = static_cast<uint8_t>(decimals);
    std::vector<DbfField> probe = it->second.fields;
    probe.push_back(f);
    DbfFile::NormalizeFields(probe);  // reject a bad field now, naming it
    it->second.fields.push_back(f);
    return true;
  });
}

bool xb_CreateExec() {
  return Guard(false, [&]() {
    auto it = E().creating.find(E().selected);
    if (it == E().creating.end()) ThrowXb(core::ecNoWorkArea, "No table definition is in progress");
    PendingCreate def = std::move(it->second);
    E().creating.erase(it);
    if (static_cast<int>(def.fields.size()) != def.fieldCount)
      ThrowXb(core::ecTableCreateFailed, "The table definition has " + std::to_string(def.fields.size()) + " of " +
                                   std::to_string(def.fieldCount) + " fields");
    std::vector<DbfField> fields = DbfFile::NormalizeFields(def.fields);
    // Refuse to overwrite a table that is open (here or, through its lock, elsewhere).
    for (auto& [n, wa] : E().areas)
      if (wa->Path() == def.path) ThrowXb(core::ecTableInUse, "Table " + def.path + " is open");
    {
      DbfFile probe;
      if (FileExists(def.path)) {
        probe.Open(def.path, OpenMode::Exclusive);  // throws "in use" when someone holds it
        probe.Close();
      }
    }
    bool memo = std::any_of(fields.begin(), fields.end(), [](const DbfField& f) {
      return f.type == 'M' || f.type == 'B' || f.type == 'G' || f.type == 'P';
    });
    // Memo file first, then the table: a table never exists without its memo file.
    if (memo) {
      AtomicReplaceFile(SiblingFile(def.path, "FPT"), FptFile::EmptyImage(MemoBlockBytes(E().settings.memoBlockSize)));
    }
    std::string cdx = SiblingFile(def.path, "CDX");
    if (FileExists(cdx)) ::remove(cdx.c_str());  // belongs to the table being replaced
    AtomicReplaceFile(def.path, DbfFile::EmptyTableImage(fields));
    return true;
  });
}

// ------------------------------------------------------------------ navigation
void xb_GoTop() { Guard(0, [] { Cur().GoTop(); return 0; }); }
void xb_GoBottom() { Guard(0, [] { Cur().GoBottom(); return 0; }); }
void xb_Go(int64_t recno) { Guard(0, [&] { Cur().Go(recno); return 0; }); }
void xb_Skip(int64_t n) { Guard(0, [&] { Cur().Skip(n); return 0; }); }
uint32_t xb_RecNo() { return Guard(0u, [] { return Cur().RecNo(); }); }
uint32_t xb_RecCount() { return Guard(0u, [] { return Cur().RecCount(); }); }
bool xb_Bof() { return Guard(true, [] { return Cur().Bof(); }); }
bool xb_Eof() { return Guard(true, [] { return Cur().Eof(); }); }

// ------------------------------------------------------------------ records
bool xb_GetRecord(uint8_t* buffer) {
  return Guard(false, [&] {
    const auto& r = Cur().Record();
    std::memcpy(buffer, r.data(), r.size());
    return true;
  });
}
bool xb_PutRecord(const uint8_t* buffer) { return Guard(false, [&] { Cur().PutRecord(buffer); return true; }); }
bool xb_AppendBlank() { return Guard(false, [] { Cur().AppendBlank(); return true; }); }
bool xb_AppendRecord(const uint8_t* buffer) {
  return Guard(false, [&] { Cur().AppendRecord(buffer); return true; });
}
bool xb_Delete() { return Guard(false, [] { Cur().Delete(); return true; }); }
bool xb_Recall() { return Guard(false, [] { Cur().Recall(); return true; }); }
bool xb_Deleted() { return Guard(false, [] { return Cur().Deleted(); }); }
bool xb_Commit() { return Guard(false, [] { Cur().Commit(); return true; }); }
int xb_RecSize() { return Guard(0, [] { return static_cast<int>(Cur().RecSize()); }); }

// ------------------------------------------------------------------ fields
int xb_FieldCount() { return Guard(0, [] { return static_cast<int>(Cur().Fields().size()); }); }
std::string xb_FieldName(int n) { return Guard(std::string(), [&] { return FieldNo(Cur(), n).name; }); }
int xb_FieldNum(const std::string& name) { return Guard(0, [&] { return Cur().FieldIndex(name) + 1; }); }
char xb_FieldType(int n) { return Guard('\0', [&] { return FieldNo(Cur(), n).type; }); }
int xb_FieldWidth(int n) { return Guard(0, [&] { return static_cast<int>(FieldNo(Cur(), n).width); }); }
int xb_FieldDecimals(int n) { return Guard(0, [&] { return static_cast<int>(FieldNo(Cur(), n).decimals); }); }
int xb_FieldOffset(int n) { return Guard(0, [&] { return static_cast<int>(FieldNo(Cur(), n).offset); }); }

std::string xb_GetString(const std::string& field) {
  return Guard(std::string(), [&] {
    WorkArea& wa = Cur();
    return wa.FieldText(FieldOf(wa, field));
  });
}

std::string xb_GetTrimString(const std::string& field) {
  std::string s = xb_GetString(field);
  size_t e = s.find_last_not_of(' ');
  s.resize(e == std::string::npos ? 0 : e + 1);
  return s;
}

std::string xb_GetDateString(const std::string& field) {
  return Guard(std::string(), [&] {
    WorkArea& wa = Cur();
    int i = FieldOf(wa, field);
    const auto& s = E().settings.expr;
    return FormatDate(JdnFromDtos(wa.FieldText(i)), s.dateFormat, s.century);
  });
}

bool xb_GetLogical(const std::string& field) {
  return Guard(false, [&] {
    WorkArea& wa = Cur();
    std::string t = wa.FieldText(FieldOf(wa, field));
    return !t.empty() && (t[0] == 'T' || t[0] == 't' || t[0] == 'Y' || t[0] == 'y');
  });
}

char* xb_GetMemo(const std::string& field, size_t* length) {
  return Guard(static_cast<char*>(nullptr), [&]() -> char* {
    WorkArea& wa = Cur();
    std::string m = wa.Memo(FieldOf(wa, field));
    char* p = static_cast<char*>(std::malloc(m.size() + 1));
    if (!p) throw std::bad_alloc();
    std::memcpy(p, m.data(), m.size());
    p[m.size()] = 0;
    if (length) *length = m.size();
    return p;
  });
}

void xb_MemDealloc(char* memory) { std::free(memory); }

bool xb_Replace(const std::string& field, int kind, const std::string& value) {
  return Guard(false, [&] {
    WorkArea& wa = Cur();
    wa.Replace(FieldOf(wa, field), kind, value);
    return true;
  });
}

bool xb_BlobToFile(const std::string& field, const std::string& path) {
  return Guard(false, [&] {
    WorkArea& wa = Cur();
    wa.BlobToFile(FieldOf(wa, field), path);
    return true;
  });
}

// ------------------------------------------------------------------ indexes
int xb_IndexTag(const std::string& file, const std::string& tag, const std::string& key, int option,
                bool descending, const std::string& condition) {
  return Guard(0, [&] {
    TagDef d;
    d.name = tag;
    d.keyExpr = key;
    d.forExpr = condition;
    d.descending = descending;
    d.unique = (option & 1) != 0;
    return Cur().CreateTag(file, d);
  });
}

int xb_IndexOpen(const std::string& file) { return Guard(0, [&] { return Cur().IndexOpen(file); }); }
bool xb_CloseIndexes() { return Guard(false, [] { Cur().CloseIndexes(); return true; }); }
int xb_IndexOrd() { return Guard(0, [] { return Cur().IndexOrd(); }); }
int xb_SetOrder(int order) { return Guard(0, [&] { return Cur().SetOrder(order); }); }
int xb_TagArea(const std::string& tag) { return Guard(0, [&] { return Cur().TagArea(tag); }); }

std::string xb_TagName(int order) {
  return Guard(std::string(), [&] {
    IndexTag* t = Cur().Tag(order);
    return t ? t->Name() : std::string();
  });
}

std::string xb_IndexName(int order) { return Guard(std::string(), [&] { return Cur().IndexFileOf(order); }); }

std::string xb_IndexKey(int order) {
  return Guard(std::string(), [&] {
    IndexTag* t = Cur().Tag(order);
    return t ? t->Def().keyExpr : std::string();
  });
}

int xb_IndexKeyField(int order) {
  return Guard(0, [&] {
    IndexTag* t = Cur().Tag(order);
    return t ? t->KeyExpression().SingleField() + 1 : 0;
  });
}

std::string xb_KeyData() { return Guard(std::string(), [] { return Cur().KeyData(); }); }
bool xb_Seek(const std::string& key) { return Guard(false, [&] { return Cur().Seek(key); }); }
bool xb_Reindex() { return Guard(false, [] { Cur().Reindex(); return true; }); }

// ------------------------------------------------------------------ query
bool xb_Query(const std::string& condition) { return Guard(false, [&] { Cur().Query(condition); return true; }); }
uint32_t xb_QueryRecCount() { return Guard(0u, [] { return Cur().QueryRecCount(); }); }
std::string xb_DBFilter() { return Guard(std::string(), [] { return Cur().QueryText(); }); }

bool xb_EvalLogical(const std::string& expression) {
  return Guard(false, [&] {
    WorkArea& wa = Cur();
    Expression e = wa.Compile(expression);
    if (e.Type() != XType::Logical)
      ThrowXb(core::ecExprType, "\"" + expression + "\" is " + XTypeName(e.Type()) + ", not logical");
    return e.EvalLogical(wa.Record().data(), wa.RecNo());
  });
}

std::string xb_EvalString(const std::string& expression) {
  return Guard(std::string(), [&] {
    WorkArea& wa = Cur();
    Expression e = wa.Compile(expression);
    XValue v;
    e.Eval(wa.Record().data(), wa.RecNo(), v);
    switch (e.Type()) {
      case XType::Char: return v.s;
      case XType::Num: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.10g", v.n);
        return std::string(buf);
      }
      case XType::Date: return DtosFromJdn(v.d);
      case XType::Logical: return std::string(v.l ? ".T." : ".F.");
    }
    return std::string();
  });
}

bool xb_EvalTest(const std::string& expression) {
  return Guard(false, [&] {
    Cur().Compile(expression);
    return true;
  });
}

// ------------------------------------------------------------------ locking
// Exclusive tables need no record locks; a table opened any other way is not written by
// this engine, so a lock is granted only for exclusive tables.
bool xb_Rlock() {
  return Guard(false, [] {
    WorkArea& wa = Cur();
    if (!wa.Dbf().Writable()) ThrowXb(core::ecTableReadOnly, "Table " + wa.Path() + " is not opened exclusively");
    return true;
  });
}
bool xb_Unlock() { return Guard(false, [] { Cur(); return true; }); }

bool xb_Pack() { return Guard(false, [] { Cur().Pack(); return true; }); }

// ------------------------------------------------------------------ settings
void xb_SetDeleted(bool on) { E().settings.deleted = on; }
void xb_SetDateFormat(int format) {
  if (format >= 0 && format <= 6) E().settings.expr.dateFormat = static_cast<DateFormat>(format);
}
void xb_SetCentury(bool on) { E().settings.expr.century = on; }
void xb_SetExact(bool on) { E().settings.expr.exact = on; }
void xb_SetSoftSeek(bool on) { E().settings.softSeek = on; }
void xb_SetLockTimeout(int seconds) { E().settings.lockTimeout = seconds; }
void xb_SetMemoBlockSize(int size) { E().settings.memoBlockSize = size; }
void xb_SetTurboRead(bool on) { E().turboRead = on; }

}  // namespace qv::tables
