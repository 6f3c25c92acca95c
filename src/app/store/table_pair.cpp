#include "app/store/table_pair.h"

#include "tables/data_set.h"
#include "tables/xbase_component.h"
#include "tables/expression.h"
#include "tables/work_area.h"
#include "tables/xb_engine.h"
#include "tables/xbase_date.h"

#include <exception>
#include <stdexcept>
#include <utility>

namespace qv::app {

namespace tb = qv::tables;

namespace {

// The engine is checked once, and the program's environment applied: deleted records are
// invisible to every navigation.
tb::TXBaseEnv& InitTableEngine() {
  static tb::TXBaseEnv* env = [] {
    try {
      tb::StartTableEngine();
    } catch (const std::exception&) {
      // Every opening then fails and the window reports it.
    }
    static tb::TXBaseEnv theEnv;
    theEnv.SetDeleted(true);
    tb::xb_SysProp(tb::xspOptimize, 0);
    return &theEnv;
  }();
  return *env;
}

std::string& LastFailure() {
  static std::string text;
  return text;
}

// The engine's own explanation (which file, why) where the data set gives one, rather than its
// "Table engine error : N".
void NoteFailure(const std::exception& e) {
  const auto* db = dynamic_cast<const tb::EDatabaseError*>(&e);
  LastFailure() = db && !db->Detail().empty() ? db->Detail() : std::string(e.what());
}

// Runs a data set or TXBase operation; the binding reports failures by exceptions, the fax
// store by results (and LastError() by the exception's message).
template <class F>
bool Try(F&& f) {
  try {
    f();
    return true;
  } catch (const std::exception& e) {
    NoteFailure(e);
    return false;
  }
}

template <class R, class F>
R TryValue(R fail, F&& f) {
  try {
    return f();
  } catch (const std::exception& e) {
    NoteFailure(e);
    return fail;
  }
}

}  // namespace

struct TablePair::Impl {
  tb::TTable table;
  tb::TDataSource source{&table};
  tb::TXBase xbase;
  std::unique_ptr<tb::Expression> condition;

  Impl() { xbase.SetDataSource(&source); }
  tb::TField* Field(const std::string& name) { return table.Active() ? table.FindField(name) : nullptr; }
  bool Editing() const {
    return table.State() == tb::TDataSetState::dsEdit || table.State() == tb::TDataSetState::dsInsert;
  }
  bool HasCurrent() const { return table.Active() && table.Bookmark() != 0; }
};

const std::string& TablePair::LastError() { return LastFailure(); }

TablePair::TablePair(std::string name) : name_(std::move(name)) {
  InitTableEngine();
  impl_ = std::make_unique<Impl>();
  impl_->table.Exclusive = true;  // the tables belong to this program instance alone
}

TablePair::~TablePair() { Close(); }

void TablePair::SetLocation(const std::string& dataDir, const std::string& tableFile) {
  dir_ = dataDir;
  file_ = tableFile;
  if (!impl_->table.Active()) {
    impl_->table.DatabaseName = dataDir;
    impl_->table.TableName = tableFile;
  }
}

bool TablePair::Open() {
  if (impl_->table.Active()) return true;
  return Try([&] { impl_->table.Open(); });
}

void TablePair::Close() {
  if (!impl_->table.Active()) return;
  Try([&] { impl_->table.Cancel(); });
  Try([&] { impl_->table.Close(); });
}

bool TablePair::IsOpen() const { return impl_->table.Active(); }

void TablePair::First() {
  if (IsOpen()) Try([&] { impl_->table.First(); });
}

void TablePair::Next() {
  if (IsOpen()) Try([&] { impl_->table.Next(); });
}

bool TablePair::Eof() { return !IsOpen() || impl_->table.Eof() || impl_->table.Bookmark() == 0; }

int TablePair::RecNo() {
  if (!IsOpen()) return 1;
  return TryValue<int>(1, [&] { return static_cast<int>(impl_->xbase.RecNo()); });
}

int TablePair::RecCount() {
  if (!IsOpen()) return 0;
  return TryValue<int>(0, [&] { return static_cast<int>(impl_->xbase.RecCount()); });
}

bool TablePair::Go(int recNo) {
  if (!IsOpen() || recNo < 0) return false;
  return Try([&] { impl_->xbase.Go(static_cast<uint32_t>(recNo)); }) && impl_->HasCurrent() &&
         impl_->table.Bookmark() == static_cast<uint32_t>(recNo);
}

bool TablePair::SeekNear(const std::string& key) {
  if (!IsOpen() || IndexOrd() <= 0) return false;
  uint32_t found = 0;
  Try([&] {
    impl_->table.CheckBrowseMode();
    const int previous = tb::xb_Select(impl_->table.WorkArea());
    // A soft seek stops on the next greater key; the program otherwise seeks exactly.
    tb::xb_SetSoftSeek(true);
    tb::xb_Seek(key);
    tb::xb_SetSoftSeek(false);
    if (tb::xb_Eof()) tb::xb_GoBottom();
    if (!tb::xb_Eof()) found = tb::xb_RecNo();
    if (previous != 0) tb::xb_Select(previous);
  });
  return found != 0 && Go(static_cast<int>(found));
}

void TablePair::Refresh() {
  if (IsOpen()) Try([&] { impl_->table.Refresh(); });
}

std::string TablePair::FieldString(const std::string& field) {
  tb::TField* f = impl_->Field(field);
  if (!f || (!impl_->HasCurrent() && !impl_->Editing())) return std::string();
  return TryValue<std::string>(std::string(), [&] { return f->IsNull() ? std::string() : f->AsString(); });
}

bool TablePair::FieldBool(const std::string& field) {
  tb::TField* f = impl_->Field(field);
  if (!f || (!impl_->HasCurrent() && !impl_->Editing())) return false;
  return TryValue(false, [&] { return f->AsBoolean(); });
}

std::string TablePair::FieldDate(const std::string& field) {
  tb::TField* f = impl_->Field(field);
  if (!f || (!impl_->HasCurrent() && !impl_->Editing())) return std::string();
  return TryValue<std::string>(std::string(), [&] {
    const int32_t jdn = f->AsDate();
    return jdn == 0 ? std::string() : tb::DtosFromJdn(jdn);
  });
}

int TablePair::FieldInt(const std::string& field) {
  tb::TField* f = impl_->Field(field);
  if (!f || (!impl_->HasCurrent() && !impl_->Editing())) return 0;
  return TryValue(0, [&] { return f->IsNull() ? 0 : f->AsInteger(); });
}

bool TablePair::IsDeleted() {
  if (!IsOpen()) return false;
  return TryValue(false, [&] { return impl_->xbase.IsDeleted(); });
}

bool TablePair::Append() { return IsOpen() && Try([&] { impl_->table.Append(); }); }

bool TablePair::Edit() {
  if (!IsOpen()) return false;
  if (impl_->Editing()) return true;
  if (!impl_->HasCurrent()) return false;  // nothing to edit (the data set would append)
  return Try([&] { impl_->table.Edit(); });
}

bool TablePair::SetFieldString(const std::string& field, const std::string& value) {
  tb::TField* f = impl_->Field(field);
  return f && impl_->Editing() && Try([&] { f->SetAsString(value); });
}

bool TablePair::SetFieldBool(const std::string& field, bool value) {
  tb::TField* f = impl_->Field(field);
  return f && impl_->Editing() && Try([&] { f->SetAsBoolean(value); });
}

bool TablePair::SetFieldDate(const std::string& field, const std::string& yyyymmdd) {
  tb::TField* f = impl_->Field(field);
  if (!f || !impl_->Editing()) return false;
  if (yyyymmdd.find_first_not_of(' ') == std::string::npos) return Try([&] { f->Clear(); });
  const int32_t jdn = tb::JdnFromDtos(yyyymmdd);
  return jdn != 0 && Try([&] { f->SetAsDate(jdn); });
}

bool TablePair::SetFieldInt(const std::string& field, int value) {
  tb::TField* f = impl_->Field(field);
  return f && impl_->Editing() && Try([&] { f->SetAsInteger(value); });
}

bool TablePair::Post() {
  if (!IsOpen() || !impl_->Editing()) return false;
  if (Try([&] { impl_->table.Post(); })) return true;
  Try([&] { impl_->table.Cancel(); });  // a refused post leaves nothing half written
  return false;
}

void TablePair::Cancel() {
  if (IsOpen()) Try([&] { impl_->table.Cancel(); });
}

bool TablePair::DeleteRecord() {
  if (!IsOpen() || !impl_->HasCurrent()) return false;
  return Try([&] { impl_->table.Delete(); });
}

std::vector<uint32_t> TablePair::VisibleRecNos() {
  if (!IsOpen()) return {};
  return TryValue(std::vector<uint32_t>(), [&] { return impl_->table.Bookmarks(); });
}

bool TablePair::ReadRecord(int recNo, std::vector<uint8_t>& raw) {
  if (!IsOpen() || recNo < 1) return false;
  return TryValue(false, [&] { return impl_->table.FetchRecord(static_cast<uint32_t>(recNo), raw); });
}

std::string TablePair::FieldStringFrom(const std::vector<uint8_t>& raw, const std::string& field) {
  tb::TField* f = impl_->Field(field);
  if (!f) return std::string();
  std::string text = f->StoredText(raw);
  const size_t end = text.find_last_not_of(' ');
  text.resize(end == std::string::npos ? 0 : end + 1);
  return text;
}

std::string TablePair::FieldDateFrom(const std::vector<uint8_t>& raw, const std::string& field) {
  const std::string text = FieldStringFrom(raw, field);
  return tb::JdnFromDtos(text) == 0 ? std::string() : text;
}

bool TablePair::FieldBoolFrom(const std::vector<uint8_t>& raw, const std::string& field) {
  const std::string text = FieldStringFrom(raw, field);
  return !text.empty() && (text[0] == 'T' || text[0] == 't' || text[0] == 'Y' || text[0] == 'y');
}

bool TablePair::CreateNew(const std::string& path, int driver, int fieldCount) {
  return TryValue(false, [&] { return impl_->xbase.CreateNew(path, driver, fieldCount); });
}

bool TablePair::CreateField(const std::string& name, char type, int decimals, int width) {
  return TryValue(false, [&] { return impl_->xbase.CreateField(name, type, decimals, width); });
}

bool TablePair::CreateExec() {
  return TryValue(false, [&] { return impl_->xbase.CreateExec(); });
}

int TablePair::IndexTag(const std::string& indexFile, const std::string& tag,
                        const std::string& condition, bool descending, int option,
                        const std::string& key) {
  if (!IsOpen()) return 0;
  return TryValue(0, [&] { return impl_->xbase.IndexTag(indexFile, tag, condition, descending, option, key); });
}

int TablePair::IndexOrd() {
  if (!IsOpen()) return 0;
  return TryValue(0, [&] { return impl_->xbase.IndexOrd(); });
}

int TablePair::SetOrder(int order) {
  if (!IsOpen()) return 0;
  return TryValue(0, [&] { return impl_->xbase.SetOrder(order); });
}

int TablePair::TagArea(const std::string& tag) {
  if (!IsOpen()) return 0;
  return TryValue(0, [&] { return impl_->xbase.TagArea(tag); });
}

void TablePair::CloseIndexes() {
  if (IsOpen()) Try([&] { impl_->xbase.CloseIndexes(); });
}

bool TablePair::Pack() {
  if (!IsOpen()) return false;
  return TryValue(false, [&] { return impl_->xbase.Pack(); });
}

int TablePair::Query(const std::string& condition) {
  if (!IsOpen()) return 0;
  return TryValue(0, [&] { return impl_->xbase.Query(condition) ? 1 : 0; });
}

long TablePair::QueryRecCount() {
  if (!IsOpen()) return 0;
  return TryValue(0L, [&] { return static_cast<long>(impl_->xbase.QueryRecCount()); });
}

std::string TablePair::QueryText() {
  if (!IsOpen()) return std::string();
  return TryValue(std::string(), [&] { return impl_->xbase.DBFilter(); });
}

bool TablePair::SetCondition(const std::string& expression, std::string* error) {
  impl_->condition.reset();
  if (!IsOpen()) {
    if (error) *error = "The table is not open";
    return false;
  }
  const int previous = tb::xb_Select(impl_->table.WorkArea());
  try {
    tb::WorkArea* area = tb::xb_CurrentArea();
    if (!area) throw std::runtime_error("The table is not open");
    auto compiled = std::make_unique<tb::Expression>(area->Compile(expression));
    if (compiled->Type() != tb::XType::Logical) throw std::runtime_error("\"" + expression + "\" is not logical");
    impl_->condition = std::move(compiled);
  } catch (const std::exception& e) {
    if (error) *error = e.what();
  }
  tb::xb_Select(previous);
  return impl_->condition != nullptr;
}

bool TablePair::ConditionTrue() {
  if (!impl_->condition || !impl_->HasCurrent()) return false;
  const std::vector<uint8_t>& record = impl_->table.ActiveBuffer();
  return TryValue(false, [&] { return impl_->condition->EvalLogical(record.data(), impl_->table.Bookmark()); });
}

tb::TXBaseEnv& TablePair::Env() { return InitTableEngine(); }

bool TablePair::BlobToFile(const std::string& field, const std::string& path) {
  if (!IsOpen() || !impl_->HasCurrent()) {
    LastFailure() = "There is no current record";
    return false;
  }
  try {
    if (impl_->xbase.BlobToFile(field, path)) return true;
    LastFailure() = tb::xb_LastErrorText();  // the engine reports this one by its result
  } catch (const std::exception& e) {
    NoteFailure(e);
  }
  return false;
}

bool TablePair::Replace(const std::string& field, int kind, const std::string& value) {
  if (!IsOpen()) return false;
  return Try([&] { impl_->xbase.Replace(field, kind, value); });
}

}  // namespace qv::app
