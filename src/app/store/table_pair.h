#pragma once
// One table of the fax store as the program uses it: the data set (records, fields, states) and
// its TXBase companion (creating, index tags, query, pack, memos), over the xBase engine.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qv::tables {
class TXBaseEnv;
}

namespace qv::app {

class TablePair {
 public:
  // name: the data set's role name ("FaxTable", "RecTable", ...), used for diagnostics.
  explicit TablePair(std::string name);
  ~TablePair();
  TablePair(const TablePair&) = delete;
  TablePair& operator=(const TablePair&) = delete;

  const std::string& Name() const { return name_; }

  // The message of the last operation of any table that failed (the engine's reason, such as
  // "Disk is full"), for the user; it is not cleared by later successes.
  static const std::string& LastError();

  // Data set: where the table is, opening and closing (always exclusive).
  void SetLocation(const std::string& dataDir, const std::string& tableFile);
  std::string Directory() const { return dir_; }
  std::string TableFile() const { return file_; }
  std::string Path() const { return dir_ + file_; }
  bool Open();
  void Close();
  bool IsOpen() const;

  // Navigation over the visible records in the current order.
  void First();
  void Next();
  bool Eof();
  int RecNo();     // RecCount() + 1 when there is no current record
  int RecCount();  // physical records, deleted ones included
  bool Go(int recNo);
  // Moves through the controlling tag to the first visible record whose key begins with `key`,
  // or else to the one with the next greater key (the last one when none is greater). False when
  // the table has no order or no visible record.
  bool SeekNear(const std::string& key);
  void Refresh();

  // For views of many rows: the visible records in the current order (from the index when it
  // holds exactly those, without reading records), and one record read without moving.
  std::vector<uint32_t> VisibleRecNos();
  bool ReadRecord(int recNo, std::vector<uint8_t>& raw);
  // A field of such a record: strings without trailing blanks, dates "yyyymmdd" or "".
  std::string FieldStringFrom(const std::vector<uint8_t>& raw, const std::string& field);
  std::string FieldDateFrom(const std::vector<uint8_t>& raw, const std::string& field);
  bool FieldBoolFrom(const std::vector<uint8_t>& raw, const std::string& field);
  static bool IsDeletedFrom(const std::vector<uint8_t>& raw) { return !raw.empty() && raw[0] == '*'; }

  // Fields of the current record; blank fields read as empty, trailing blanks dropped.
  std::string FieldString(const std::string& field);
  bool FieldBool(const std::string& field);
  std::string FieldDate(const std::string& field);  // "yyyymmdd" or ""
  int FieldInt(const std::string& field);
  bool IsDeleted();

  // Record changes through the data set.
  bool Append();
  bool Edit();
  bool SetFieldString(const std::string& field, const std::string& value);
  bool SetFieldBool(const std::string& field, bool value);
  bool SetFieldDate(const std::string& field, const std::string& yyyymmdd);
  bool SetFieldInt(const std::string& field, int value);
  bool Post();
  void Cancel();
  bool DeleteRecord();

  // TXBase operations.
  bool CreateNew(const std::string& path, int driver, int fieldCount);
  bool CreateField(const std::string& name, char type, int decimals, int width);
  bool CreateExec();
  int IndexTag(const std::string& indexFile, const std::string& tag, const std::string& condition,
               bool descending, int option, const std::string& key);
  int IndexOrd();
  int SetOrder(int order);
  int TagArea(const std::string& tag);
  void CloseIndexes();
  bool Pack();
  int Query(const std::string& condition);
  long QueryRecCount();
  std::string QueryText();
  // A logical xBase expression compiled once over this table's fields, then evaluated by the
  // engine for each current record. False (and the engine's reason) when it does not compile
  // or is not logical.
  bool SetCondition(const std::string& expression, std::string* error = nullptr);
  bool ConditionTrue();

  // The engine environment of the program (whether navigation shows deleted records).
  static qv::tables::TXBaseEnv& Env();
  bool BlobToFile(const std::string& field, const std::string& path);
  bool Replace(const std::string& field, int kind, const std::string& value);

 private:
  struct Impl;
  std::string name_;
  std::string dir_;
  std::string file_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qv::app
