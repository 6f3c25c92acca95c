#include "app/table_pair.h"

#include "tables/xb_engine.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <utility>
#include <vector>

namespace qv::app {

namespace tb = qv::tables;

namespace {

constexpr const char* kCreateAlias = "XXXXXXXXXX";

// Engine settings the program relies on, made once: strings as text, deleted records hidden.
void InitTableEngine() {
  static const bool done = [] {
    tb::xb_SetStringType(1);
    tb::xb_ErrorLevel(1);
    tb::xb_SetDeleted(true);
    tb::xb_SysProp(tb::xspOptimize, 0);
    return true;
  }();
  (void)done;
}

// Every engine call runs on the pair's own work area and gives the selection back afterwards,
// because the engine has one selected work area for the whole program.
class Bracket {
 public:
  explicit Bracket(int area) : previous_(tb::xb_Select(area)) {}
  ~Bracket() { tb::xb_Select(previous_); }
  Bracket(const Bracket&) = delete;
  Bracket& operator=(const Bracket&) = delete;

 private:
  int previous_;
};

std::string Trimmed(std::string s) {
  const size_t end = s.find_last_not_of(' ');
  s.resize(end == std::string::npos ? 0 : end + 1);
  const size_t begin = s.find_first_not_of(' ');
  return begin == std::string::npos ? std::string() : s.substr(begin);
}

// The alias of a table: its file name without folder and extension, "~", "-" and blanks in the
// first 8 characters made "_"; taken aliases get the first 8 characters + "_" + a counter.
std::string AliasFor(const std::string& file) {
  std::string base = file.substr(file.find_last_of("/\\") == std::string::npos ? 0 : file.find_last_of("/\\") + 1);
  const size_t dot = base.find_last_of('.');
  if (dot != std::string::npos) base.resize(dot);
  for (size_t i = 0; i < base.size() && i < 8; ++i) {
    if (base[i] == '~' || base[i] == '-' || base[i] == ' ') base[i] = '_';
  }
  std::string alias = base;
  for (int counter = 1; tb::xb_WorkArea(alias) != 0; ++counter) {
    alias = base.substr(0, 8) + "_" + std::to_string(counter);
  }
  return alias;
}

}  // namespace

struct TablePair::Impl {
  enum class State { Browse, Edit, Insert };
  int area = 0;
  int createArea = 0;
  State state = State::Browse;
  // Field values set since Edit/Append, written by Post: field -> (replace kind, value).
  std::vector<std::pair<std::string, std::pair<int, std::string>>> pending;
  std::string query;

  const std::pair<int, std::string>* Pending(const std::string& field) const {
    for (const auto& p : pending) {
      if (p.first.size() == field.size() &&
          std::equal(p.first.begin(), p.first.end(), field.begin(),
                     [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) ==
                                                 std::toupper(static_cast<unsigned char>(b)); })) {
        return &p.second;
      }
    }
    return nullptr;
  }
  bool Set(const std::string& field, int kind, std::string value) {
    if (state == State::Browse) return false;
    for (auto& p : pending) {
      if (p.first == field) {
        p.second = {kind, std::move(value)};
        return true;
      }
    }
    pending.push_back({field, {kind, std::move(value)}});
    return true;
  }
};

TablePair::TablePair(std::string name) : name_(std::move(name)), impl_(std::make_unique<Impl>()) {
  InitTableEngine();
}

TablePair::~TablePair() { Close(); }

void TablePair::SetLocation(const std::string& dataDir, const std::string& tableFile) {
  dir_ = dataDir;
  file_ = tableFile;
}

bool TablePair::Open() {
  if (impl_->area != 0) return true;
  if (dir_.empty()) return false;  // a data set without a directory cannot open
  const int previous = tb::xb_WorkArea();
  const int area = tb::xb_Use(Path(), AliasFor(file_), tb::xbmExclusive, tb::xbdFOX);
  tb::xb_Select(previous);
  if (area == 0) return false;
  impl_->area = area;
  impl_->state = Impl::State::Browse;
  impl_->pending.clear();
  impl_->query.clear();
  return true;
}

void TablePair::Close() {
  if (impl_->area == 0) return;
  Cancel();
  {
    Bracket b(impl_->area);
    tb::xb_Close();
  }
  impl_->area = 0;
  impl_->query.clear();
}

bool TablePair::IsOpen() const { return impl_->area != 0; }

void TablePair::First() {
  if (!IsOpen()) return;
  Cancel();
  Bracket b(impl_->area);
  tb::xb_GoTop();
}

void TablePair::Next() {
  if (!IsOpen()) return;
  Cancel();
  Bracket b(impl_->area);
  tb::xb_Skip(1);
}

bool TablePair::Eof() {
  if (!IsOpen()) return true;
  Bracket b(impl_->area);
  return tb::xb_Eof();
}

int TablePair::RecNo() {
  if (!IsOpen()) return 1;
  Bracket b(impl_->area);
  return static_cast<int>(tb::xb_RecNo());
}

int TablePair::RecCount() {
  if (!IsOpen()) return 0;
  Bracket b(impl_->area);
  return static_cast<int>(tb::xb_RecCount());
}

bool TablePair::Go(int recNo) {
  if (!IsOpen()) return false;
  Cancel();
  Bracket b(impl_->area);
  tb::xb_Go(recNo);
  return !tb::xb_Eof();
}

void TablePair::Refresh() {
  if (!IsOpen()) return;
  Bracket b(impl_->area);
  if (tb::xb_Eof()) return;
  tb::xb_Skip(0);  // read the record again
  // A record that left the view (deleted, or no longer passing the query) gives way to the next
  // visible one, or the last one when it was the last.
  const bool hidden = tb::xb_Deleted() || (!impl_->query.empty() && !tb::xb_EvalLogical(impl_->query));
  if (hidden) {
    tb::xb_Skip(1);
    if (tb::xb_Eof()) tb::xb_GoBottom();
  }
}

std::string TablePair::FieldString(const std::string& field) {
  if (const auto* p = impl_->Pending(field)) return Trimmed(p->second);
  if (!IsOpen()) return std::string();
  Bracket b(impl_->area);
  if (tb::xb_Eof()) return std::string();
  std::string s = tb::xb_GetTrimString(field);
  return s.find_first_not_of(' ') == std::string::npos ? std::string() : s;
}

bool TablePair::FieldBool(const std::string& field) {
  if (const auto* p = impl_->Pending(field)) return p->second == "T";
  if (!IsOpen()) return false;
  Bracket b(impl_->area);
  if (tb::xb_Eof()) return false;
  const std::string s = tb::xb_GetString(field);
  return !s.empty() && s[0] == 'T';
}

std::string TablePair::FieldDate(const std::string& field) {
  if (const auto* p = impl_->Pending(field)) return Trimmed(p->second);
  if (!IsOpen()) return std::string();
  Bracket b(impl_->area);
  if (tb::xb_Eof()) return std::string();
  return Trimmed(tb::xb_GetString(field));
}

int TablePair::FieldInt(const std::string& field) {
  const std::string s = FieldString(field);
  return s.empty() ? 0 : std::atoi(s.c_str());
}

bool TablePair::IsDeleted() {
  if (!IsOpen()) return false;
  Bracket b(impl_->area);
  return tb::xb_Deleted();
}

bool TablePair::Append() {
  if (!IsOpen()) return false;
  Cancel();
  impl_->state = Impl::State::Insert;
  return true;
}

bool TablePair::Edit() {
  if (!IsOpen()) return false;
  if (impl_->state != Impl::State::Browse) return true;
  if (Eof()) return false;
  impl_->state = Impl::State::Edit;
  return true;
}

bool TablePair::SetFieldString(const std::string& field, const std::string& value) {
  return impl_->Set(field, tb::rkString, value);
}

bool TablePair::SetFieldBool(const std::string& field, bool value) {
  return impl_->Set(field, tb::rkLogical, value ? "T" : "F");
}

bool TablePair::SetFieldDate(const std::string& field, const std::string& yyyymmdd) {
  return impl_->Set(field, tb::rkDateString, yyyymmdd.empty() ? std::string(8, ' ') : yyyymmdd);
}

bool TablePair::SetFieldInt(const std::string& field, int value) {
  return impl_->Set(field, tb::rkString, std::to_string(value));
}

bool TablePair::Post() {
  if (!IsOpen() || impl_->state == Impl::State::Browse) return false;
  const bool inserting = impl_->state == Impl::State::Insert;
  auto pending = std::move(impl_->pending);
  impl_->pending.clear();
  impl_->state = Impl::State::Browse;
  Bracket b(impl_->area);
  if (inserting && !tb::xb_AppendBlank()) return false;
  bool ok = true;
  for (const auto& [field, value] : pending) {
    ok = tb::xb_Replace(field, value.first, value.second) && ok;
  }
  // A new record that could not take its values is not left behind half written.
  if (!ok && inserting) tb::xb_Delete();
  return tb::xb_Commit() && ok;
}

void TablePair::Cancel() {
  impl_->pending.clear();
  impl_->state = Impl::State::Browse;
}

bool TablePair::DeleteRecord() {
  if (!IsOpen()) return false;
  Cancel();
  Bracket b(impl_->area);
  if (tb::xb_Eof()) return false;
  return tb::xb_Delete() && tb::xb_Commit();
}

bool TablePair::CreateNew(const std::string& path, int driver, int fieldCount) {
  const int previous = tb::xb_WorkArea();
  impl_->createArea = tb::xb_CreateNew(path, kCreateAlias, driver, fieldCount);
  tb::xb_Select(previous);
  return impl_->createArea != 0;
}

bool TablePair::CreateField(const std::string& name, char type, int decimals, int width) {
  if (impl_->createArea == 0) return false;
  Bracket b(impl_->createArea);
  return tb::xb_CreateField(name, type, width, decimals);
}

bool TablePair::CreateExec() {
  if (impl_->createArea == 0) return false;
  bool ok;
  {
    Bracket b(impl_->createArea);
    ok = tb::xb_CreateExec();
  }
  impl_->createArea = 0;
  return ok;
}

int TablePair::IndexTag(const std::string& indexFile, const std::string& tag,
                        const std::string& condition, bool descending, int option,
                        const std::string& key) {
  if (!IsOpen()) return 0;
  Cancel();
  Bracket b(impl_->area);
  const int order = tb::xb_IndexTag(indexFile, tag, key, option, descending, condition);
  return order;
}

int TablePair::IndexOrd() {
  if (!IsOpen()) return 0;
  Bracket b(impl_->area);
  return tb::xb_IndexOrd();
}

int TablePair::SetOrder(int order) {
  if (!IsOpen()) return 0;
  Bracket b(impl_->area);
  return tb::xb_SetOrder(order);
}

int TablePair::TagArea(const std::string& tag) {
  if (!IsOpen()) return 0;
  Bracket b(impl_->area);
  return tb::xb_TagArea(tag);
}

void TablePair::CloseIndexes() {
  if (!IsOpen()) return;
  Bracket b(impl_->area);
  tb::xb_CloseIndexes();
}

bool TablePair::Pack() {
  if (!IsOpen()) return false;
  Cancel();
  Bracket b(impl_->area);
  const bool ok = tb::xb_Pack();
  tb::xb_GoTop();
  return ok;
}

int TablePair::Query(const std::string& condition) {
  if (!IsOpen()) return 0;
  Cancel();
  Bracket b(impl_->area);
  if (!tb::xb_Query(condition)) return 0;
  impl_->query = condition;
  return 1;
}

long TablePair::QueryRecCount() {
  if (!IsOpen()) return 0;
  Bracket b(impl_->area);
  return static_cast<long>(tb::xb_QueryRecCount());
}

bool TablePair::BlobToFile(const std::string& field, const std::string& path) {
  if (!IsOpen()) return false;
  Bracket b(impl_->area);
  if (tb::xb_Eof()) return false;
  return tb::xb_BlobToFile(field, path);
}

bool TablePair::Replace(const std::string& field, int kind, const std::string& value) {
  if (!IsOpen()) return false;
  const bool wasEditing = impl_->state != Impl::State::Browse;
  if (wasEditing && !Post()) return false;
  bool ok;
  {
    Bracket b(impl_->area);
    ok = !tb::xb_Eof() && tb::xb_Replace(field, kind, value) && tb::xb_Commit();
  }
  Refresh();
  if (wasEditing) Edit();
  return ok;
}

}  // namespace qv::app
