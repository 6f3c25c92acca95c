#include "tables/data_set.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tables/expression.h"
#include "tables/field_format.h"
#include "tables/file_io.h"
#include "tables/ui_date_format.h"
#include "tables/work_area.h"
#include "tables/xb_engine.h"
#include "tables/xbase_date.h"

namespace qv::tables {

namespace {

std::string TrimRight(std::string s) {
  size_t e = s.find_last_not_of(' ');
  s.resize(e == std::string::npos ? 0 : e + 1);
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return TrimRight(s.substr(b));
}

bool AllBlank(const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; }

[[noreturn]] void ValueTooWide() { throw EDatabaseError::Engine(core::ecNumberTooWide); }

}  // namespace

// ------------------------------------------------------------------ bracket
class TTable::Bracket {
 public:
  explicit Bracket(const TTable& t) : prev_(xb_Select(t.area_)), area_(t.area_) {}
  ~Bracket() {
    if (prev_ != 0 && prev_ != area_) xb_Select(prev_);
  }

 private:
  int prev_;
  int area_;
};

// ------------------------------------------------------------------ links
TDataLink::~TDataLink() { SetDataSource(nullptr); }

void TDataLink::SetDataSource(TDataSource* source) {
  if (source_ == source) return;
  if (source_) {
    auto& l = source_->links_;
    l.erase(std::remove(l.begin(), l.end(), this), l.end());
  }
  source_ = source;
  if (source_) source_->links_.push_back(this);
}

TDataSource::~TDataSource() {
  SetDataSet(nullptr);
  for (TDataLink* l : std::vector<TDataLink*>(links_)) l->SetDataSource(nullptr);
}

void TDataSource::SetDataSet(TTable* dataSet) {
  if (dataSet_ == dataSet) return;
  if (dataSet_) {
    auto& s = dataSet_->sources_;
    s.erase(std::remove(s.begin(), s.end(), this), s.end());
  }
  dataSet_ = dataSet;
  if (dataSet_) dataSet_->sources_.push_back(this);
  NotifyActive();
}

void TDataSource::NotifyActive() {
  for (TDataLink* l : std::vector<TDataLink*>(links_)) l->ActiveChanged();
}

// ------------------------------------------------------------------ fields
int TField::BufferSize() const {
  switch (type_) {
    case TFieldType::ftString: return xbType_ == 'V' ? 255 : size_ + 1;
    case TFieldType::ftDate: return 4;
    case TFieldType::ftBoolean: return 2;
    case TFieldType::ftFloat: return 8;
    case TFieldType::ftSmallint: return 2;
    default: return 0;
  }
}

bool TField::IsNull() const {
  if (calculated_) {
    auto it = table_->calcValues_.find(name_);
    return it == table_->calcValues_.end() || it->second.empty();
  }
  if (type_ == TFieldType::ftMemo) return AsString().empty();
  return AllBlank(table_->RawText(*this));
}

std::string TField::TextFrom(const std::vector<uint8_t>& raw) const {
  if (calculated_ || type_ == TFieldType::ftMemo) return {};
  std::string t = table_->RawTextFrom(*this, raw);
  if (AllBlank(t)) return {};
  switch (type_) {
    case TFieldType::ftString: return TrimRight(t);
    case TFieldType::ftDate: return FormatDate(JdnFromDtos(t), UiDateFormat(), UiCentury());
    case TFieldType::ftBoolean: return t[0] == 'T' ? "True" : "False";
    default: return Trim(t);
  }
}

std::string TField::StoredText(const std::vector<uint8_t>& raw) const {
  if (calculated_) return {};
  return table_->RawTextFrom(*this, raw);
}

std::string TField::AsString() const {
  if (calculated_) {
    auto it = table_->calcValues_.find(name_);
    return it == table_->calcValues_.end() ? std::string() : it->second;
  }
  if (type_ == TFieldType::ftMemo) {
    auto it = table_->pendingMemos_.find(fieldNo_);
    if (it != table_->pendingMemos_.end()) return it->second;
    if (table_->recno_ == 0 || table_->state_ == TDataSetState::dsInsert) return {};
    TTable::Bracket b(*table_);
    table_->UpdateCursorPos();
    size_t len = 0;
    char* m = xb_GetMemo(name_, &len);
    if (!m) table_->EngineError("memo");
    std::string s(m, len);
    xb_MemDealloc(m);
    return s;
  }
  return TextFrom(table_->buffer_);
}

int TField::AsInteger() const {
  if (type_ == TFieldType::ftBoolean) return AsBoolean() ? 1 : 0;
  double v = AsFloat();
  if (v > 2147483647.0 || v < -2147483648.0) throw EDatabaseError("Value of " + name_ + " is out of range");
  return static_cast<int>(std::llround(v));
}

double TField::AsFloat() const {
  std::string t = calculated_ ? AsString() : table_->RawText(*this);
  if (type_ == TFieldType::ftBoolean) return AsBoolean() ? 1 : 0;
  if (type_ == TFieldType::ftDate) return AsDate();
  return ParseXbNumber(t.data(), t.size());
}

bool TField::AsBoolean() const {
  std::string t = calculated_ ? AsString() : table_->RawText(*this);
  if (calculated_) return t == "True" || t == "T";
  return !t.empty() && t[0] == 'T';
}

int32_t TField::AsDate() const {
  std::string t = calculated_ ? AsString() : table_->RawText(*this);
  int32_t jdn = JdnFromDtos(t);
  if (jdn == 0 && calculated_) jdn = ParseDate(t, UiDateFormat());
  return jdn;
}

void TField::SetAsString(const std::string& v) {
  table_->CheckEditing();
  if (calculated_) {
    table_->calcValues_[name_] = v;
    return;
  }
  switch (type_) {
    case TFieldType::ftMemo: table_->pendingMemos_[fieldNo_] = v; break;
    case TFieldType::ftString: table_->WriteRaw(*this, PadField(v, static_cast<size_t>(width_))); break;
    case TFieldType::ftSmallint:
    case TFieldType::ftFloat:
      if (AllBlank(v)) Clear();
      else SetAsFloat(ParseXbNumber(v.data(), v.size()));
      return;
    case TFieldType::ftDate: {
      if (AllBlank(v)) {
        Clear();
        return;
      }
      int32_t jdn = JdnFromDtos(v);
      if (jdn == 0) jdn = ParseDate(v, UiDateFormat());
      if (jdn == 0) throw EDatabaseError("'" + v + "' is not a valid date");
      SetAsDate(jdn);
      return;
    }
    case TFieldType::ftBoolean: {
      char c = v.empty() ? ' ' : v[0];
      SetAsBoolean(c == 'T' || c == 't' || c == 'Y' || c == 'y' || c == '1');
      return;
    }
    default: break;
  }
  table_->NotifyChanged();
}

void TField::SetAsInteger(int v) {
  table_->CheckEditing();
  if (calculated_) {
    table_->calcValues_[name_] = std::to_string(v);
    return;
  }
  if (type_ == TFieldType::ftSmallint) {
    std::string text;
    if (!FormatIntegerField(v, width_, text)) ValueTooWide();
    table_->WriteRaw(*this, text);
    table_->NotifyChanged();
    return;
  }
  if (type_ == TFieldType::ftBoolean) return SetAsBoolean(v != 0);
  SetAsFloat(v);
}

void TField::SetAsFloat(double v) {
  table_->CheckEditing();
  if (calculated_) {
    table_->calcValues_[name_] = XbStr(v, 20, 6);
    return;
  }
  if (type_ == TFieldType::ftString) return SetAsString(Trim(XbStr(v, 20, decimals_)));
  if (type_ == TFieldType::ftSmallint) {
    if (std::fabs(v) > 32767) ValueTooWide();
    std::string text;
    if (!FormatIntegerField(std::llround(v), width_, text)) ValueTooWide();
    table_->WriteRaw(*this, text);
  } else {
    std::string text;
    if (!FormatNumericField(v, width_, decimals_, text)) ValueTooWide();
    table_->WriteRaw(*this, text);
  }
  table_->NotifyChanged();
}

void TField::SetAsBoolean(bool v) {
  table_->CheckEditing();
  if (calculated_) {
    table_->calcValues_[name_] = v ? "True" : "False";
    return;
  }
  if (type_ != TFieldType::ftBoolean) return SetAsString(v ? "T" : "F");
  table_->WriteRaw(*this, v ? "T" : "F");
  table_->NotifyChanged();
}

void TField::SetAsDate(int32_t jdn) {
  table_->CheckEditing();
  if (calculated_) {
    table_->calcValues_[name_] = DtosFromJdn(jdn);
    return;
  }
  if (type_ != TFieldType::ftDate) return SetAsString(DtosFromJdn(jdn));
  table_->WriteRaw(*this, DtosFromJdn(jdn));
  table_->NotifyChanged();
}

void TField::Clear() {
  table_->CheckEditing();
  if (calculated_) {
    table_->calcValues_.erase(name_);
    return;
  }
  if (type_ == TFieldType::ftMemo) table_->pendingMemos_[fieldNo_] = std::string();
  else table_->WriteRaw(*this, std::string(static_cast<size_t>(width_), ' '));
  table_->NotifyChanged();
}

// ------------------------------------------------------------------ table
TTable::TTable() = default;

TTable::~TTable() {
  try {
    Close();
  } catch (...) {
  }
  for (TDataSource* s : std::vector<TDataSource*>(sources_)) s->SetDataSet(nullptr);
}

std::string TTable::FullPath() const {
  std::string name = TableName;
  auto slash = name.find_last_of('/');
  auto dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) name += ".DBF";
  if (!name.empty() && name[0] == '/') return name;
  std::string dir = DatabaseName;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + name;
}

void TTable::EngineError(const std::string& what) {
  int code = xb_LastError();
  (void)what;
  throw EDatabaseError::Engine(code, xb_LastErrorText());
}

int TTable::SniffDriver(const std::string& path, TTableType type) {
  switch (type) {
    case TTableType::ttXBNTX: return xbdNTX;
    case TTableType::ttXBFOX: return xbdFOX;
    case TTableType::ttXBNSX: return xbdNSX;
    default: break;
  }
  std::ifstream in(path, std::ios::binary);
  int b = in.get();
  switch (b) {
    case 0x03:
    case 0x06:
      if (FileExists(SiblingFile(path, "CDX"))) return xbdFOX;
      if (FileExists(SiblingFile(path, "NSX"))) return xbdNSX;
      return xbdFOX;
    case 0x83:
    case 0x86: return xbdNTX;
    case 0xE5:
    case 0xE6: return xbdNSX;
    default: return xbdFOX;  // 0xF5, 0xF6 and anything else
  }
}

std::string TTable::MakeAlias(const std::string& path) {
  std::string base = BaseNameNoExt(path).substr(0, 8);
  for (char& c : base)
    if (c == '~' || c == '-' || c == ' ') c = '_';
  std::string alias = base;
  for (int n = 1; xb_WorkArea(alias) != 0; ++n) alias = base + "_" + std::to_string(n);
  return alias;
}

void TTable::BuildFields() {
  fields_.clear();
  int n = xb_FieldCount();
  for (int i = 1; i <= n; ++i) {
    auto f = std::make_unique<TField>();
    f->table_ = this;
    f->name_ = xb_FieldName(i);
    f->fieldNo_ = i;
    char t = xb_FieldType(i);
    if (xb_SysProp(xspFieldIsVariable, i) && t == 'C') t = 'V';
    f->xbType_ = t;
    f->width_ = xb_FieldWidth(i);
    f->offset_ = static_cast<uint32_t>(xb_FieldOffset(i));
    f->decimals_ = xb_FieldDecimals(i);
    switch (t) {
      case 'C': f->type_ = TFieldType::ftString; f->size_ = f->width_; break;
      case 'V': f->type_ = TFieldType::ftString; f->size_ = 254; break;
      case 'D': f->type_ = TFieldType::ftDate; break;
      case 'L': f->type_ = TFieldType::ftBoolean; break;
      case 'N':
      case 'F':
        f->type_ = (f->decimals_ == 0 && f->width_ < 5) ? TFieldType::ftSmallint : TFieldType::ftFloat;
        break;
      case 'M':
      case 'B':
      case 'P': f->type_ = TFieldType::ftMemo; break;
      default: throw EDatabaseError(std::string("Invalid Field Type ") + t);
    }
    fields_.push_back(std::move(f));
  }
  for (const auto& c : calcDefs_) {
    auto f = std::make_unique<TField>(*c);
    f->table_ = this;
    fields_.push_back(std::move(f));
  }
}

TField& TTable::AddCalcField(const std::string& name, TFieldType type, int size) {
  auto f = std::make_unique<TField>();
  f->table_ = this;
  f->name_ = name;
  f->type_ = type;
  f->size_ = size;
  f->calculated_ = true;
  calcDefs_.push_back(std::move(f));
  if (Active()) {
    auto copy = std::make_unique<TField>(*calcDefs_.back());
    fields_.push_back(std::move(copy));
    return *fields_.back();
  }
  return *calcDefs_.back();
}

void TTable::Open() {
  if (Active()) return;
  if (DatabaseName.empty()) throw EDatabaseError("Could not find directory associated with this database");
  if (xb_Version().empty())
    throw EDatabaseError("The table engine version 2.40.00 or later is required.", kErrEngineVersion);
  std::string path = FullPath();
  driver_ = SniffDriver(path, TableType);
  std::string alias = MakeAlias(path);
  int mode = Exclusive ? xbmExclusive : ReadOnly ? xbmReadOnly : xbmShared;
  int prev = xb_WorkArea();
  int area = xb_Use(path, alias, mode, driver_);
  if (area == 0) {
    std::string detail = xb_LastErrorText();
    xb_Select(prev);
    throw EDatabaseError("File Open Error", core::ecTableOpenFailed, detail);
  }
  area_ = area;
  alias_ = alias;
  try {
    BuildFields();
    buffer_.assign(static_cast<size_t>(xb_RecSize()), ' ');
    if (!indexName_.empty()) {
      int order = xb_TagArea(indexName_);
      if (order == 0) throw EDatabaseError("Index " + indexName_ + " not found", kErrRecordNotFound);
      xb_SetOrder(order);
    }
    UpdateIndexDefs();
  } catch (...) {
    xb_Close();
    area_ = 0;
    fields_.clear();
    xb_Select(prev);
    throw;
  }
  if (prev != 0 && prev != area_) xb_Select(prev);
  state_ = TDataSetState::dsBrowse;
  First();
  for (auto* l : std::vector<TDataSetListener*>(listeners_)) l->ActiveChanged(*this);
  for (TDataSource* s : std::vector<TDataSource*>(sources_)) s->NotifyActive();
  if (AfterOpen) AfterOpen(*this);
}

void TTable::Close() {
  if (!Active()) return;
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) Cancel();
  int prev = xb_Select(area_);
  bool ok = xb_Close();
  std::string detail = ok ? std::string() : xb_LastErrorText();
  int code = ok ? 0 : xb_LastError();
  if (prev != area_) xb_Select(prev);
  area_ = 0;
  fields_.clear();
  calcValues_.clear();
  pendingMemos_.clear();
  recno_ = 0;
  bof_ = eof_ = true;
  state_ = TDataSetState::dsInactive;
  for (auto* l : std::vector<TDataSetListener*>(listeners_)) l->ActiveChanged(*this);
  for (TDataSource* s : std::vector<TDataSource*>(sources_)) s->NotifyActive();
  if (!ok && code != 0) throw EDatabaseError::Engine(code, detail);
}

void TTable::CheckActive() const {
  if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed dataset", kErrNotOpen);
}

void TTable::CheckEditing() const {
  if (state_ == TDataSetState::dsCalcFields) return;
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert)
    throw EDatabaseError("Dataset not in edit or insert mode");
}

void TTable::SetState(TDataSetState s) {
  if (state_ == s) return;
  state_ = s;
  for (auto* l : std::vector<TDataSetListener*>(listeners_)) l->StateChanged(*this);
}

void TTable::SetIndexName(const std::string& name) {
  if (!Active()) {
    indexName_ = name;
    return;
  }
  CheckBrowseMode();
  Bracket b(*this);
  int order = 0;
  if (!name.empty()) {
    order = xb_TagArea(name);
    if (order == 0) throw EDatabaseError("Index " + name + " not found", kErrRecordNotFound);
  }
  xb_SetOrder(order);
  indexName_ = name;
  UpdateCursorPos();
  if (recno_ == 0) First();
  NotifyChanged();
}

void TTable::UpdateIndexDefs() {
  indexDefs_.clear();
  if (!Active()) return;
  for (const auto& t : TagList()) indexDefs_.push_back(t.name);
}

std::vector<TTable::TagInfo> TTable::TagList() {
  CheckActive();
  Bracket b(*this);
  std::vector<TagInfo> out;
  for (int n = 1;; ++n) {
    std::string name = xb_TagName(n);
    if (name.empty()) break;
    out.push_back({name, xb_IndexKey(n), xb_IndexKeyField(n)});
  }
  return out;
}

TField* TTable::FindField(const std::string& name) {
  std::string up = UpperAscii(name);
  for (auto& f : fields_)
    if (UpperAscii(f->name_) == up) return f.get();
  return nullptr;
}

TField& TTable::FieldByName(const std::string& name) {
  TField* f = FindField(name);
  if (!f) throw EDatabaseError("Field '" + name + "' not found");
  return *f;
}

std::string TTable::RawTextFrom(const TField& f, const std::vector<uint8_t>& raw) const {
  if (f.offset_ + static_cast<size_t>(f.width_) > raw.size()) return {};
  return std::string(reinterpret_cast<const char*>(raw.data() + f.offset_), static_cast<size_t>(f.width_));
}

std::string TTable::RawText(const TField& f) const { return RawTextFrom(f, buffer_); }

void TTable::WriteRaw(const TField& f, const std::string& text) {
  std::string t = PadField(text, static_cast<size_t>(f.width_));
  std::memcpy(buffer_.data() + f.offset_, t.data(), t.size());
}

void TTable::CalculateFields() {
  calcValues_.clear();
  if (!OnCalcFields || calcDefs_.empty()) return;
  TDataSetState keep = state_;
  state_ = TDataSetState::dsCalcFields;
  try {
    OnCalcFields(*this);
  } catch (...) {
    state_ = keep;
    throw;
  }
  state_ = keep;
}

void TTable::LoadCurrent() {
  recno_ = xb_RecNo();
  if (!xb_GetRecord(buffer_.data())) EngineError("read");
  pendingMemos_.clear();
  CalculateFields();
}

void TTable::UpdateCursorPos() {
  if (!Active() || recno_ == 0) return;
  Bracket b(*this);
  if (xb_RecNo() != recno_ || xb_Eof()) xb_Go(recno_);
}

void TTable::NotifyChanged() {
  if (disableCount_ > 0) {
    changedWhileDisabled_ = true;
    return;
  }
  for (auto* l : std::vector<TDataSetListener*>(listeners_)) l->DataSetChanged(*this);
}

void TTable::NotifyScrolled() {
  if (disableCount_ > 0) {
    changedWhileDisabled_ = true;
    return;
  }
  for (auto* l : std::vector<TDataSetListener*>(listeners_)) l->Scrolled(*this);
  if (AfterScroll) AfterScroll(*this);
}

void TTable::AfterMove() { NotifyScrolled(); }

void TTable::First() { MoveToEnd(true); }

void TTable::Last() { MoveToEnd(false); }

void TTable::MoveToEnd(bool top) {
  CheckActive();
  CheckBrowseMode();
  Bracket b(*this);
  if (top)
    xb_GoTop();
  else
    xb_GoBottom();
  if (xb_Eof()) {
    ShowNoRecord();
  } else {
    LoadCurrent();
    bof_ = top;
    eof_ = !top;
  }
  AfterMove();
}

void TTable::Next() { MoveOne(1); }

void TTable::Prior() { MoveOne(-1); }

void TTable::MoveOne(int step) {
  CheckActive();
  CheckBrowseMode();
  bool& end = step > 0 ? eof_ : bof_;
  if (recno_ == 0) {
    end = true;
    return;
  }
  Bracket b(*this);
  UpdateCursorPos();
  xb_Skip(step);
  if (step > 0 ? xb_Eof() : xb_Bof()) {
    // Past the end: the data set stays on its record, and so does the engine.
    end = true;
    xb_Go(recno_);
    return;
  }
  LoadCurrent();
  bof_ = eof_ = false;
  AfterMove();
}

void TTable::ShowNoRecord() {
  recno_ = 0;
  buffer_.assign(buffer_.size(), ' ');
  calcValues_.clear();
  bof_ = eof_ = true;
}

int TTable::MoveBy(int distance) {
  int moved = 0;
  while (distance > 0 && !eof_) {
    Next();
    if (!eof_) ++moved;
    --distance;
  }
  while (distance < 0 && !bof_) {
    Prior();
    if (!bof_) --moved;
    ++distance;
  }
  return moved;
}

void TTable::GotoBookmark(uint32_t recno) {
  CheckActive();
  CheckBrowseMode();
  Bracket b(*this);
  xb_Go(recno);
  if (recno == 0 || xb_Eof()) {
    UpdateCursorPos();
    throw EDatabaseError("Record not found", kErrRecordNotFound);
  }
  LoadCurrent();
  bof_ = eof_ = false;
  AfterMove();
}

std::vector<uint32_t> TTable::Bookmarks() {
  CheckActive();
  Bracket b(*this);
  std::vector<uint32_t> out;
  // An index that holds exactly the visible records lists them without reading any.
  if (tables::WorkArea* area = xb_CurrentArea(); area && area->OrderedRecnos(out)) return out;
  for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) out.push_back(xb_RecNo());
  if (recno_ != 0) xb_Go(recno_);
  return out;
}

bool TTable::FetchRecord(uint32_t recno, std::vector<uint8_t>& raw) {
  CheckActive();
  Bracket b(*this);
  tables::WorkArea* area = xb_CurrentArea();
  if (!area || recno < 1 || recno > area->RecCount()) return false;
  // Read beside the engine's position, which stays where it is.
  raw.resize(buffer_.size());
  try {
    area->Dbf().ReadRecord(recno, raw.data());
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

uint32_t TTable::RecordCount() {
  CheckActive();
  Bracket b(*this);
  return xb_QueryRecCount();
}

void TTable::FindVisibleNear() {
  // The current record may have been deleted or filtered away: a skip forward and back tells
  // whether it is still visible; if not, the next visible record (else the previous) takes
  // its place.
  Bracket b(*this);
  if (recno_ == 0) {
    xb_GoTop();
  } else {
    uint32_t r = recno_;
    xb_Go(r);
    if (xb_Eof()) {
      xb_GoBottom();
    } else {
      xb_Skip(1);
      if (!xb_Eof()) {
        uint32_t next = xb_RecNo();
        xb_Skip(-1);
        if (xb_RecNo() != r || xb_Bof()) xb_Go(next);
        else xb_Go(r);
      } else {
        xb_Skip(-1);  // onto the last visible record
      }
    }
  }
  if (xb_Eof()) {
    ShowNoRecord();
  } else {
    LoadCurrent();
    bof_ = eof_ = false;
  }
}

void TTable::Append() {
  CheckActive();
  CheckBrowseMode();
  if (ReadOnly && !Exclusive) throw EDatabaseError("Cannot modify a read-only dataset");
  saved_ = buffer_;
  savedRecno_ = recno_;
  buffer_.assign(buffer_.size(), ' ');
  pendingMemos_.clear();
  SetState(TDataSetState::dsInsert);
  CalculateFields();
  NotifyChanged();
}

void TTable::Edit() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return;
  if (recno_ == 0) return Append();
  Bracket b(*this);
  UpdateCursorPos();
  if (!xb_Rlock()) throw EDatabaseError("Record locked by another user", kErrRecordLocked, xb_LastErrorText());
  saved_ = buffer_;
  savedRecno_ = recno_;
  pendingMemos_.clear();
  SetState(TDataSetState::dsEdit);
}

void TTable::Post() {
  CheckActive();
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  Bracket b(*this);
  if (state_ == TDataSetState::dsInsert) {
    // One write of the whole record: a kill never leaves a blank record behind.
    if (!xb_AppendRecord(buffer_.data())) EngineError("append");
  } else {
    xb_Go(recno_);
    if (xb_Eof()) throw EDatabaseError("Record not found", kErrRecordNotFound);
    if (!xb_PutRecord(buffer_.data())) EngineError("write");
    xb_Unlock();
  }
  for (const auto& [fieldNo, text] : pendingMemos_)
    if (!xb_Replace(xb_FieldName(fieldNo), rkMemoString, text)) EngineError("memo");
  pendingMemos_.clear();
  LoadCurrent();
  bof_ = eof_ = false;
  SetState(TDataSetState::dsBrowse);
  NotifyChanged();
  if (AfterPost) AfterPost(*this);
}

void TTable::Cancel() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  buffer_ = saved_;
  recno_ = savedRecno_;
  pendingMemos_.clear();
  SetState(TDataSetState::dsBrowse);
  if (recno_ != 0) {
    Bracket b(*this);
    xb_Unlock();
    UpdateCursorPos();
    CalculateFields();
  }
  NotifyChanged();
}

void TTable::CheckBrowseMode() {
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) Post();
}

void TTable::Delete() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert) return Cancel();
  if (state_ == TDataSetState::dsEdit) Cancel();
  if (recno_ == 0) throw EDatabaseError("Cannot perform this operation on an empty dataset");
  {
    Bracket b(*this);
    UpdateCursorPos();
    if (!xb_Delete()) EngineError("delete");
    FindVisibleNear();
  }
  NotifyChanged();
  NotifyScrolled();
}

void TTable::Resync() {
  CheckActive();
  {
    Bracket b(*this);
    recno_ = xb_Eof() ? 0 : xb_RecNo();
    FindVisibleNear();
  }
  NotifyChanged();
  NotifyScrolled();
}

void TTable::Refresh() {
  CheckActive();
  CheckBrowseMode();
  FindVisibleNear();
  NotifyChanged();
}

void TTable::DisableControls() { ++disableCount_; }

void TTable::EnableControls() {
  if (disableCount_ == 0) return;
  if (--disableCount_ == 0 && changedWhileDisabled_) {
    changedWhileDisabled_ = false;
    NotifyChanged();
  }
}

void TTable::AddListener(TDataSetListener* l) {
  if (std::find(listeners_.begin(), listeners_.end(), l) == listeners_.end()) listeners_.push_back(l);
}

void TTable::RemoveListener(TDataSetListener* l) {
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), l), listeners_.end());
}

std::vector<std::string> TTable::GetTableNames(const std::string& directory) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(directory, ec)) {
    if (!e.is_regular_file(ec)) continue;
    std::string name = e.path().filename().string();
    if (name.size() > 4 && UpperAscii(name.substr(name.size() - 4)) == ".DBF") out.push_back(name);
  }
  std::sort(out.begin(), out.end());
  return out;
}

void TTable::SetRange(const std::string&, const std::string&) {
  throw EDatabaseError("This function not supported by the table adapter : SetRange");
}

bool TTable::Locate(const std::string&, const std::string&) {
  throw EDatabaseError("This function not supported by the table adapter : Locate");
}

}  // namespace qv::tables
