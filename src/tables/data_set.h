#pragma once

// The table adapter: a toolkit-neutral data set over one engine work area. Forms (and the Qt
// models of the application) see a table as fields, a current record, states (browse, edit,
// insert) and notifications; every request becomes engine calls on the table's own work area,
// with the previously selected area restored afterwards.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/error_codes.h"
#include "core/exceptions.h"

namespace qv::tables {

class TTable;
class TDataSource;

// Errors of the data set layer, with the adapter's texts ("File Open Error", "Invalid Field
// Type X", "Table engine error : N", ...). ErrorCode() is the engine or adapter code.
class EDatabaseError : public core::EQvException {
 public:
  EDatabaseError(const std::string& text, int code = 0, std::string detail = {})
      : core::EQvException(text, code), detail_(std::move(detail)) {}
  // An engine failure as the data set reports it: "Table engine error : <code>".
  static EDatabaseError Engine(int code, std::string detail = {}) {
    return EDatabaseError("Table engine error : " + std::to_string(code), code, std::move(detail));
  }
  // The engine's own explanation, when there is one (which file, why it failed).
  const std::string& Detail() const { return detail_; }

 private:
  std::string detail_;
};

// Adapter answers of the data set framework.
inline constexpr int kErrBof = 0x2201;
inline constexpr int kErrEof = 0x2202;
inline constexpr int kErrRecordNotFound = 0x2205;
inline constexpr int kErrNotOpen = 0x2706;
inline constexpr int kErrRecordLocked = 0x2805;
inline constexpr int kErrEngineVersion = 99;

enum class TFieldType { ftUnknown, ftString, ftSmallint, ftFloat, ftDate, ftBoolean, ftMemo };
enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert, dsCalcFields };
enum class TTableType { ttDefault, ttParadox, ttDBase, ttASCII, ttXBNTX, ttXBFOX, ttXBNSX };

// One field of the data set: a table field (FieldNo >= 1) or a calculated one (FieldNo 0).
class TField {
 public:
  const std::string& FieldName() const { return name_; }
  TFieldType DataType() const { return type_; }
  int Size() const { return size_; }          // characters of a string field
  int Decimals() const { return decimals_; }
  int FieldNo() const { return fieldNo_; }
  bool Calculated() const { return calculated_; }
  char XBaseType() const { return xbType_; }
  // Bytes the field takes in a record buffer of the framework (see the adapter's table).
  int BufferSize() const;

  bool IsNull() const;
  std::string AsString() const;
  int AsInteger() const;
  double AsFloat() const;
  bool AsBoolean() const;
  int32_t AsDate() const;  // Julian day number; 0 when empty

  // Writing needs the data set in edit or insert state (or computing calculated fields).
  void SetAsString(const std::string& v);
  void SetAsInteger(int v);
  void SetAsFloat(double v);
  void SetAsBoolean(bool v);
  void SetAsDate(int32_t jdn);
  void Clear();

  // The value as text from any raw record of this table (for views that show many rows).
  std::string TextFrom(const std::vector<uint8_t>& raw) const;
  // The field's bytes as the record stores them (dates "yyyymmdd", blanks kept).
  std::string StoredText(const std::vector<uint8_t>& raw) const;

 private:
  friend class TTable;
  TTable* table_ = nullptr;
  std::string name_;
  TFieldType type_ = TFieldType::ftUnknown;
  char xbType_ = 'C';
  int size_ = 0;
  int decimals_ = 0;
  int fieldNo_ = 0;
  uint32_t offset_ = 0;
  int width_ = 0;
  bool calculated_ = false;
};

// Something that shows a data set (a grid model, a form) and wants to hear of changes.
class TDataSetListener {
 public:
  virtual ~TDataSetListener() = default;
  virtual void ActiveChanged(TTable&) {}
  virtual void DataSetChanged(TTable&) {}      // contents or order changed: re-read everything
  virtual void RecordChanged(TTable&, TField*) {}
  virtual void Scrolled(TTable&) {}            // the current record moved
  virtual void StateChanged(TTable&) {}
};

// The data link of the framework: how a component hears that a data set opened.
class TDataLink {
 public:
  virtual ~TDataLink();
  virtual void ActiveChanged() {}
  TDataSource* DataSource() const { return source_; }
  void SetDataSource(TDataSource* source);

 private:
  TDataSource* source_ = nullptr;
};

class TDataSource {
 public:
  explicit TDataSource(TTable* dataSet = nullptr) { SetDataSet(dataSet); }
  ~TDataSource();
  TTable* DataSet() const { return dataSet_; }
  void SetDataSet(TTable* dataSet);

 private:
  friend class TTable;
  friend class TDataLink;
  void NotifyActive();
  TTable* dataSet_ = nullptr;
  std::vector<TDataLink*> links_;
};

class TTable {
 public:
  TTable();
  ~TTable();
  TTable(const TTable&) = delete;
  TTable& operator=(const TTable&) = delete;

  // Properties.
  std::string DatabaseName;  // the directory of the table
  std::string TableName;     // file name, e.g. "QRV.DBF"
  TTableType TableType = TTableType::ttDefault;
  bool Exclusive = false;
  bool ReadOnly = false;
  std::function<void(TTable&)> OnCalcFields;
  std::function<void(TTable&)> AfterOpen;
  std::function<void(TTable&)> AfterScroll;
  std::function<void(TTable&)> AfterPost;

  // Opening and closing.
  void Open();
  void Close();
  bool Active() const { return area_ != 0; }
  void SetActive(bool on) { on ? Open() : Close(); }
  int WorkArea() const { return area_; }
  const std::string& Alias() const { return alias_; }
  int Driver() const { return driver_; }
  std::string FullPath() const;

  // The controlling tag by name ("" = physical order).
  const std::string& IndexName() const { return indexName_; }
  void SetIndexName(const std::string& name);
  std::vector<std::string> IndexDefs() const { return indexDefs_; }
  void UpdateIndexDefs();
  struct TagInfo {
    std::string name;
    std::string key;
    int fieldNo;  // the field when the key is a single field, else 0
  };
  std::vector<TagInfo> TagList();

  // Fields.
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField& Fields(int index) { return *fields_.at(static_cast<size_t>(index)); }
  TField* FindField(const std::string& name);
  TField& FieldByName(const std::string& name);
  // Adds a calculated field (before opening); its value is set by OnCalcFields.
  TField& AddCalcField(const std::string& name, TFieldType type, int size);

  // State and navigation.
  TDataSetState State() const { return state_; }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return Active() && recno_ == 0; }
  void First();
  void Last();
  void Next();
  void Prior();
  int MoveBy(int distance);
  // Bookmarks are engine record numbers.
  uint32_t Bookmark() const { return recno_; }
  void GotoBookmark(uint32_t recno);
  // Visible records in the current order and query (what a grid lists).
  std::vector<uint32_t> Bookmarks();
  // Reads a record without moving the data set (for views); false when it does not exist.
  bool FetchRecord(uint32_t recno, std::vector<uint8_t>& raw);
  uint32_t RecordCount();

  // Editing.
  void Append();
  void Insert() { Append(); }  // xBase tables only append
  void Edit();
  void Post();
  void Cancel();
  void Delete();
  void Refresh();
  // Posts or cancels pending changes (posts when there are any).
  void CheckBrowseMode();
  // Moves the engine to the data set's current record.
  void UpdateCursorPos();
  // Takes the engine's current record as the data set's (the next visible one when the
  // engine's record is hidden) and tells the views.
  void Resync();
  // True while OnCalcFields runs for the current record.
  bool ComputingCalcFields() const { return state_ == TDataSetState::dsCalcFields; }

  // Raw current record (deletion flag first), as the framework buffers it.
  const std::vector<uint8_t>& ActiveBuffer() const { return buffer_; }

  // Suspending attached views during bulk work; views hear one DataSetChanged afterwards.
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ > 0; }
  void AddListener(TDataSetListener* l);
  void RemoveListener(TDataSetListener* l);

  // The DBF files of a directory.
  static std::vector<std::string> GetTableNames(const std::string& directory);

  // Operations the adapter does not offer.
  void SetRange(const std::string&, const std::string&);
  bool Locate(const std::string&, const std::string&);

 private:
  friend class TField;
  friend class TDataSource;

  class Bracket;  // selects the table's work area for the duration of a call
  void CheckActive() const;
  void CheckEditing() const;
  void SetState(TDataSetState s);
  void LoadCurrent();  // copies the engine's current record into the buffer
  // No record to show (an empty table or view): the blank record, at both ends, with no
  // calculated values left from the record before.
  void ShowNoRecord();
  // First and Last: the top or the bottom record of the view.
  void MoveToEnd(bool top);
  // Next and Prior: one record on (step 1) or back (step -1); at the end the data set stays.
  void MoveOne(int step);
  void AfterMove();
  void FindVisibleNear();
  void CalculateFields();
  void NotifyChanged();
  void NotifyScrolled();
  void WriteRaw(const TField& f, const std::string& text);
  std::string RawText(const TField& f) const;
  std::string RawTextFrom(const TField& f, const std::vector<uint8_t>& raw) const;
  void BuildFields();
  [[noreturn]] void EngineError(const std::string& what);
  static int SniffDriver(const std::string& path, TTableType type);
  static std::string MakeAlias(const std::string& path);

  int area_ = 0;
  int driver_ = 2;
  std::string alias_;
  std::string indexName_;
  std::vector<std::string> indexDefs_;
  std::vector<std::unique_ptr<TField>> fields_;
  std::vector<std::unique_ptr<TField>> calcDefs_;
  std::map<std::string, std::string> calcValues_;
  std::map<int, std::string> pendingMemos_;
  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> saved_;
  uint32_t recno_ = 0;
  uint32_t savedRecno_ = 0;
  bool bof_ = true;
  bool eof_ = true;
  TDataSetState state_ = TDataSetState::dsInactive;
  int disableCount_ = 0;
  bool changedWhileDisabled_ = false;
  std::vector<TDataSetListener*> listeners_;
  std::vector<TDataSource*> sources_;
};

}  // namespace qv::tables
