#pragma once
// The fax store: the four tables of the data directory (outgoing faxes, received faxes, cover
// sheet templates, phone book), how each is created, opened, reopened and maintained, and rich
// text in memo fields.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qv::app {

class RichTextEditor;
class TablePair;

enum class TableId { Fax, Rec, Cover, Phone };

inline constexpr const char* kFaxTableFile = "QRV.DBF";
inline constexpr const char* kRecTableFile = "QRVREC.DBF";
inline constexpr const char* kCoverTableFile = "QRVCOV.DBF";
inline constexpr const char* kPhoneTableFile = "QRVPB.DBF";
inline constexpr const char* kReceiveFolder = "receive";
inline constexpr const char* kRichTextWorkFile = "Eraseme.rtf";
inline constexpr const char* kNotDeleted = ".not. deleted()";

// The width in bytes of a character field of one of the tables; 0 for any other field.
size_t FieldWidth(TableId table, const std::string& field);

// "QRV.DBF" -> "QRV.CDX": the last three characters replaced.
std::string IndexFileName(const std::string& tableFile);

class TFaxStore {
 public:
  explicit TFaxStore(std::string dataDir);
  ~TFaxStore();
  TFaxStore(const TFaxStore&) = delete;
  TFaxStore& operator=(const TFaxStore&) = delete;

  const std::string& DataDir() const { return dataDir_; }
  TablePair& Pair(TableId id);

  bool OpenFaxDBF();
  bool OpenRecFaxDBF();
  bool OpenCoverDBF();
  bool OpenPhoneDBF(TablePair& pair);
  bool MakeFaxDBF(TablePair& pair);
  bool MakeRecFaxDBF(TablePair& pair);
  bool MakeCoverDBF(TablePair& pair);
  bool MakePhoneDBF(TablePair& pair);
  void FaxTableCloseAndOpen();
  void RecTableCloseAndOpen();
  void Close(TableId id);

  // Memo field of the pair's current record <-> editor, through "Eraseme.rtf". Both are false,
  // with the reason in *error when given, when the memo cannot be read (the table cannot read it
  // or the editor cannot understand it; the editor is then empty) or cannot be written.
  bool LoadRichText(RichTextEditor& editor, const std::string& field, TablePair& pair,
                    std::string* error = nullptr);
  bool SaveRichText(RichTextEditor& editor, const std::string& field, TablePair& pair,
                    std::string* error = nullptr);

  // What a form writes into one record: texts of character fields and editors for memo fields.
  struct FieldText {
    std::string field;
    std::string text;  // UTF-8; cut to the field's width at a character boundary
  };
  struct MemoText {
    std::string field;
    RichTextEditor* editor;
  };
  // Writes the fields and memos into a new record (append) or the current one, all or nothing:
  // when a step fails (a full or unwritable disk) a new record is removed again and a changed
  // one gets its former fields and memos back, and *error says why. The memo routine posts the
  // record before it writes a memo, so without this a failure leaves a record half written.
  bool StoreRecord(TableId table, TablePair& pair, bool append, const std::vector<FieldText>& fields,
                   const std::vector<MemoText>& memos, std::string* error);

  // "not sent", or date and time of the current record joined by " at "; "" on failure.
  std::string GetDatetimeAsString(bool outgoing);

  // Packs every table and makes its tags afresh; progress receives each step's text before the
  // step runs. Errors of single steps are passed over, as the run must reach the other tables.
  void RebuildIndexes(const std::function<void(const char*)>& progress);

  // The current record number differs from the record count + 1.
  bool HasRecord(TableId id);
  // Step one of the button rules: no order on an empty table, the date order on a filled one.
  // True when it changed the order.
  bool SyncOrder(TableId id);
  bool HasTag(TableId id, const std::string& tag);

  // Called while a table closes and reopens, so the grids can suspend and resume.
  void SetReopenHook(std::function<void(TableId, bool reopened)> hook) { reopenHook_ = std::move(hook); }

  // Lets pending window messages run (set by the program; nothing by default).
  void SetPumpHook(std::function<void()> hook) { pump_ = std::move(hook); }
  void Pump() { if (pump_) pump_(); }

 private:
  bool OpenTable(TableId id, TablePair& pair);

  std::string dataDir_;
  std::unique_ptr<TablePair> pairs_[4];
  std::function<void(TableId, bool)> reopenHook_;
  std::function<void()> pump_;
};

}  // namespace qv::app
