#include "tables/xbase_component.h"

#include "tables/ui_date_format.h"
#include "tables/xb_engine.h"
#include "tables/xbase_error.h"

#include <algorithm>
#include <cstdlib>

namespace qv::tables {

void StartTableEngine() {
  xb_SetStringType(1);
  xb_ErrorLevel(1);
  std::string version = xb_Version().substr(0, 8);
  if (version.empty())
    throw EDatabaseError("The table engine version 2.40.00 or later is required.", kErrEngineVersion);
}

void StopTableEngine() { xb_CloseAll(); }

void TXBaseDataLink::ActiveChanged() {
  if (owner_) owner_->Activate();
}

// ------------------------------------------------------------------ brackets
// Every operation runs on the component's own work area and gives the previous selection back,
// also when the operation throws.
class TXBase::CallBracket {
 public:
  explicit CallBracket(TXBase& x) : x_(x) {
    TTable* ds = x_.Bound();
    if (!ds) {
      prev_ = 0;
    } else if (ds->Active()) {
      prev_ = xb_Select(ds->WorkArea());
    } else {
      prev_ = xb_WorkArea();
    }
    x_.previousArea_ = static_cast<int16_t>(prev_);
  }
  ~CallBracket() {
    // The bracket keeps its own copy: a nested call must not make the outer one restore the
    // wrong area.
    if (x_.dataSet_) {
      if (prev_ != 0 && prev_ != x_.dataSet_->WorkArea()) xb_Select(prev_);
    } else if (prev_ != 0) {
      xb_Select(prev_);
    }
  }

 private:
  TXBase& x_;
  int prev_ = 0;
};

// Operations on the current record first move the engine to the data set's record and move
// it back afterwards.
class TXBase::PositionSync {
 public:
  explicit PositionSync(TXBase& x) : x_(x) {
    x_.savedRecno_ = 0;
    TTable* ds = x_.dataSet_;
    if (!ds || !ds->Active()) return;
    uint32_t engine = xb_RecNo();
    uint32_t mine = x_.RecNo();
    if (mine == engine || mine == xb_RecCount() + 1) return;
    x_.savedRecno_ = engine;
    xb_Go(mine);
  }
  ~PositionSync() {
    if (x_.savedRecno_ != 0 && x_.dataSet_ && x_.dataSet_->Active()) xb_Go(x_.savedRecno_);
  }

 private:
  TXBase& x_;
};

// ------------------------------------------------------------------ TXBase
TXBase::TXBase() : link_(this) {}
TXBase::~TXBase() = default;

TTable* TXBase::Bound() {
  if (!dataSet_ && DataSource()) dataSet_ = DataSource()->DataSet();
  return dataSet_;
}

void TXBase::SetDataSource(TDataSource* source) {
  link_.SetDataSource(source);
  dataSet_ = source ? source->DataSet() : nullptr;
}

void TXBase::SetExtraIndexes(std::vector<std::string> names) {
  extraIndexes_ = std::move(names);
  if (Bound() && dataSet_->Active()) ReopenExtraIndexes();
}

void TXBase::SetTurboRead(bool on) {
  turboRead_ = on;
  CallBracket b(*this);
  xb_SetTurboRead(on);
}

bool TXBase::CreateNew(const std::string& path, int driver, int fieldCount) {
  CallBracket b(*this);
  createArea_ = xb_CreateNew(path, "XXXXXXXXXX", driver, fieldCount);
  return createArea_ != 0;
}

bool TXBase::CreateField(const std::string& name, char type, int decimals, int width) {
  CallBracket b(*this);
  int prev = xb_Select(createArea_);
  bool ok = xb_CreateField(name, type, width, decimals);
  xb_Select(prev);
  return ok;
}

bool TXBase::CreateExec() {
  CallBracket b(*this);
  int prev = xb_Select(createArea_);
  bool ok = xb_CreateExec();
  xb_Close();
  if (prev != createArea_) xb_Select(prev);
  createArea_ = 0;
  return ok;
}

int TXBase::IndexTag(const std::string& file, const std::string& tag, const std::string& condition,
                     bool descending, int option, const std::string& key) {
  TTable* ds = Bound();
  if (ds && ds->Active()) {
    ds->CheckBrowseMode();
    ds->UpdateCursorPos();
  }
  int order;
  {
    CallBracket b(*this);
    order = xb_IndexTag(file, tag, key, option, descending, condition);
  }
  if (ds && ds->Active()) {
    ds->UpdateIndexDefs();
    if (order != 0) ds->SetIndexName(tag);
    ds->Refresh();
  }
  return order;
}

int TXBase::IndexOpen(const std::string& file) {
  TTable* ds = Bound();
  if (ds && ds->Active()) {
    ds->CheckBrowseMode();
    ds->UpdateCursorPos();
  }
  int order;
  std::string name;
  {
    CallBracket b(*this);
    order = xb_IndexOpen(file);
    if (order != 0) name = xb_TagName(order);
  }
  if (ds && ds->Active()) {
    ds->UpdateIndexDefs();
    if (!name.empty()) ds->SetIndexName(name);
    ds->Refresh();
  }
  return order;
}

int TXBase::IndexOrd() {
  CallBracket b(*this);
  return xb_IndexOrd();
}

int TXBase::SetOrder(int order) {
  TTable* ds = Bound();
  int prev;
  {
    CallBracket b(*this);
    if (ds) ds->UpdateIndexDefs();
    prev = xb_IndexOrd();
  }
  if (ds && ds->Active()) {
    if (order == 0) {
      ds->SetIndexName("");
    } else {
      auto defs = ds->IndexDefs();
      if (static_cast<int>(defs.size()) >= order) ds->SetIndexName(defs[static_cast<size_t>(order - 1)]);
    }
  }
  return prev;
}

int TXBase::TagArea(const std::string& tag) {
  TTable* ds = Bound();
  if (ds && ds->Active()) ds->UpdateCursorPos();
  int order;
  {
    CallBracket b(*this);
    order = xb_TagArea(tag);
  }
  if (ds && ds->Active()) ds->Refresh();
  return order;
}

std::string TXBase::TagName(int order) {
  CallBracket b(*this);
  return xb_TagName(order);
}

void TXBase::CloseIndexes() {
  {
    CallBracket b(*this);
    xb_CloseIndexes();
  }
  if (dataSet_ && dataSet_->Active()) {
    // With its index files closed the data set is in physical order; a stale index name would
    // make the next opening fail.
    dataSet_->SetIndexName("");
    dataSet_->UpdateIndexDefs();
  }
}

bool TXBase::Pack() {
  TTable* ds = Bound();
  if (ds && ds->Active()) {
    ds->CheckBrowseMode();
    ds->UpdateCursorPos();
  }
  bool ok;
  {
    CallBracket b(*this);
    ok = xb_Pack();
  }
  if (ds && ds->Active()) ds->First();
  return ok;
}

bool TXBase::Query(const std::string& condition) {
  filter_ = condition;
  TTable* ds = Bound();
  if (!ds || !ds->Active()) return false;
  ds->CheckBrowseMode();
  ds->UpdateCursorPos();
  bool ok;
  {
    CallBracket b(*this);
    ok = xb_Query(condition);
  }
  ds->Refresh();
  return ok;
}

uint32_t TXBase::QueryRecCount() {
  CallBracket b(*this);
  return xb_QueryRecCount();
}

uint32_t TXBase::RecCount() {
  CallBracket b(*this);
  return xb_RecCount();
}

uint32_t TXBase::RecNo() {
  TTable* ds = Bound();
  if (ds && ds->Active() && ds->Bookmark() != 0 && ds->State() != TDataSetState::dsInsert) return ds->Bookmark();
  return RecCount() + 1;
}

void TXBase::Go(uint32_t recno) {
  TTable* ds = Bound();
  if (ds && ds->Active()) ds->CheckBrowseMode();
  {
    CallBracket b(*this);
    xb_Go(recno);
  }
  if (ds && ds->Active()) ds->Resync();
}

bool TXBase::IsDeleted() {
  TTable* ds = Bound();
  if (!ds || !ds->Active()) return false;
  if (ds->ComputingCalcFields()) {
    CallBracket b(*this);
    return xb_Deleted();
  }
  recordBuffer_ = ds->ActiveBuffer();
  if (recordBuffer_.empty()) return false;
  return recordBuffer_[0] != ' ' && recordBuffer_[0] != 'E';
}

bool TXBase::EvalLogical(const std::string& expression) {
  CallBracket b(*this);
  PositionSync s(*this);
  return xb_EvalLogical(expression);
}

bool TXBase::BlobToFile(const std::string& field, const std::string& path) {
  CallBracket b(*this);
  PositionSync s(*this);
  return xb_BlobToFile(field, path);
}

void TXBase::Replace(const std::string& field, int kind, const std::string& value) {
  TTable* ds = Bound();
  if (!ds || !ds->Active()) throw EDatabaseError("Cannot perform this operation on a closed dataset", kErrNotOpen);
  switch (kind) {
    case rkString:
    case rkString2: ds->FieldByName(field).SetAsString(value); return;
    case rkDateString: {
      int32_t jdn = JdnFromDtos(value);
      if (jdn == 0) jdn = ParseDate(value, UiDateFormat());
      if (jdn == 0 && value.find_first_not_of(' ') != std::string::npos)
        throw EDatabaseError("'" + value + "' is not a valid date");
      if (jdn == 0) ds->FieldByName(field).Clear();
      else ds->FieldByName(field).SetAsDate(jdn);
      return;
    }
    case rkDouble: ds->FieldByName(field).SetAsFloat(std::strtod(value.c_str(), nullptr)); return;
    case rkInteger:
    case rkInteger2: ds->FieldByName(field).SetAsInteger(std::atoi(value.c_str())); return;
    case rkLogical: {
      char c = value.empty() ? 'F' : value[0];
      ds->FieldByName(field).SetAsBoolean(c == 'T' || c == 't' || c == '1' || c == 'Y' || c == 'y');
      return;
    }
    case rkBinary:
    case rkMemoString:
    case rkMemoBinary:
    case rkFile: {
      bool wasEditing = ds->State() == TDataSetState::dsEdit || ds->State() == TDataSetState::dsInsert;
      if (wasEditing) ds->Post();
      bool ok;
      int code;
      std::string detail;
      {
        CallBracket b(*this);
        PositionSync s(*this);
        ok = xb_Replace(field, kind, value);
        code = xb_LastError();
        detail = xb_LastErrorText();
      }
      ds->Refresh();
      if (wasEditing) ds->Edit();
      if (!ok) throw EDatabaseError::Engine(code, detail);
      return;
    }
    default:
      throw EDatabaseError::Engine(core::ecTableBadArgument, "Unknown replace kind " + std::to_string(kind));
  }
}

std::string TXBase::DBFilter() {
  CallBracket b(*this);
  return xb_DBFilter();
}

int TXBase::SysProp(int code, int value) {
  CallBracket b(*this);
  return xb_SysProp(code, value);
}

int TXBase::RecSize() {
  CallBracket b(*this);
  return xb_RecSize();
}

void TXBase::ReopenExtraIndexes() {
  TTable* ds = Bound();
  if (!ds || !ds->Active()) return;
  int keep = IndexOrd();
  SetOrder(0);
  int taken = 0;
  for (std::string name : extraIndexes_) {
    auto slash = name.find_last_of('/');
    auto dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
      switch (ds->TableType) {
        case TTableType::ttXBNTX: name += ".NTX"; break;
        case TTableType::ttXBFOX: name += ".IDX"; break;
        case TTableType::ttXBNSX: name += ".NSX"; break;
        default: break;
      }
    }
    int order = IndexOpen(name);
    if (taken == 0) taken = order;
  }
  SetOrder(keep != 0 ? keep : taken);
}

void TXBase::Activate() {
  dataSet_ = DataSource() ? DataSource()->DataSet() : nullptr;
  if (!dataSet_ || !dataSet_->Active()) return;
  if (!filter_.empty()) Query(filter_);
  if (!extraIndexes_.empty()) ReopenExtraIndexes();
  if (recordBuffer_.empty()) recordBuffer_.assign(static_cast<size_t>(std::max(RecSize(), 1)), ' ');
}

// ------------------------------------------------------------------ TXBaseEnv
TXBaseEnv::TXBaseEnv() {
  xb_SetExact(exact_);
  xb_SetCentury(century_);
  xb_SetDateFormat(dateFormat_);
  xb_SetLockTimeout(lockTimeout_);
  xb_SetMemoBlockSize(memoBlockSize_);
  xb_SetSoftSeek(softSeek_);
  xb_SetDeleted(deleted_);
  SetUiDateFormat(static_cast<qv::tables::DateFormat>(dateFormat_), century_);
}

void TXBaseEnv::SetExact(bool on) {
  xb_SetExact(on);
  exact_ = on;
}

void TXBaseEnv::SetCentury(bool on) {
  xb_SetCentury(on);
  century_ = on;
  SetUiDateFormat(static_cast<qv::tables::DateFormat>(dateFormat_), century_);
}

void TXBaseEnv::SetDateFormat(TXBaseDateFrmt fmt) {
  xb_SetDateFormat(fmt);
  dateFormat_ = fmt;
  // The century form is re-applied when it is on.
  SetUiDateFormat(static_cast<qv::tables::DateFormat>(dateFormat_), century_);
}

void TXBaseEnv::SetLockTimeout(int seconds) {
  xb_SetLockTimeout(seconds);
  lockTimeout_ = seconds;
}

void TXBaseEnv::SetMemoBlockSize(int size) {
  xb_SetMemoBlockSize(size);
  memoBlockSize_ = size;
}

void TXBaseEnv::SetSoftSeek(bool on) {
  xb_SetSoftSeek(on);
  softSeek_ = on;
}

void TXBaseEnv::SetDeleted(bool on) {
  xb_SetDeleted(on);
  deleted_ = on;
}

}  // namespace qv::tables
