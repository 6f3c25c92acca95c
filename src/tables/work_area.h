#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tables/cdx_file.h"
#include "tables/dbf_file.h"
#include "tables/engine_settings.h"
#include "tables/fpt_file.h"
#include "tables/xb_engine.h"

namespace qv::tables {


// One open table of the engine: its DBF, memo file, open index files, current record,
// controlling order and query. All positions are physical record numbers (from 1); past the
// last record the position is RecCount() + 1 with a blank record buffer.
class WorkArea {
 public:
  WorkArea(int number, std::string alias, EngineSettings* settings);
  ~WorkArea();

  // Opens the table, its memo file and (when present) its structural compound index. A
  // pack that was interrupted after it had finished writing is completed first.
  void Open(const std::string& path, OpenMode mode);
  void Close();

  int Number() const { return number_; }
  const std::string& Alias() const { return alias_; }
  const std::string& Path() const { return dbf_.Path(); }
  DbfFile& Dbf() { return dbf_; }
  const std::vector<DbfField>& Fields() const { return dbf_.Fields(); }
  int FieldIndex(const std::string& name) const { return dbf_.FieldIndex(name); }  // 0-based, -1

  // Navigation.
  void GoTop();
  void GoBottom();
  void Go(int64_t recno);
  void Skip(int64_t n);
  uint32_t RecNo() const { return recno_; }
  uint32_t RecCount() const { return dbf_.RecordCount(); }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }

  // Records.
  const std::vector<uint8_t>& Record() const { return rec_; }
  uint16_t RecSize() const { return dbf_.RecordLength(); }
  void PutRecord(const uint8_t* rec);
  void AppendBlank();
  // Appends a whole record at once (one write, keys computed once).
  void AppendRecord(const uint8_t* rec);
  void Delete();
  void Recall();
  bool Deleted() const { return !eof_ && !rec_.empty() && rec_[0] == '*'; }
  void Commit();

  // Fields (0-based index).
  std::string FieldText(int field) const;  // raw text from the record
  std::string Memo(int field);
  void Replace(int field, int kind, const std::string& value);
  void BlobToFile(int field, const std::string& path);

  // Indexes. Order numbers count the tags of all open index files from 1 (0 = physical).
  int CreateTag(const std::string& file, const TagDef& def);
  int IndexOpen(const std::string& file);
  void CloseIndexes();
  int IndexOrd() const { return order_; }
  int SetOrder(int order);
  int TagCount() const { return static_cast<int>(orderTags_.size()); }
  int TagArea(const std::string& name) const;
  IndexTag* Tag(int order) const;
  std::string IndexFileOf(int order) const;
  bool Seek(const std::string& key);
  std::string KeyData();
  void Reindex();
  const std::vector<std::unique_ptr<CdxFile>>& IndexFiles() const { return indexes_; }

  // Query filter.
  void Query(const std::string& condition);
  const std::string& QueryText() const { return queryText_; }
  bool QueryActive() const { return query_.Valid(); }
  uint32_t QueryRecCount();
  // The visible records in the controlling order, taken from the tag's keys without reading a
  // record. Only possible when the tag's FOR condition leaves out exactly what the query and
  // SET DELETED hide; false (and `out` untouched) otherwise.
  bool OrderedRecnos(std::vector<uint32_t>& out) const;
  Expression Compile(const std::string& text) const;

  // Removes deleted records: writes a packed copy beside the table and renames it into place.
  void Pack();

 private:
  bool Visible(const uint8_t* rec, uint32_t recno) const;
  void Load(uint32_t recno);
  void SetEof();
  bool ReadIfVisible(uint32_t recno);
  void CheckWritable() const;
  void RebuildOrderList(const std::string& keepTag);
  void RebuildTag(IndexTag& tag);
  // Rebuilds several tags in one pass over the table.
  void RebuildTags(const std::vector<IndexTag*>& tags);
  void MarkIndexesDirty();
  void UpdateKeys(const uint8_t* oldRec, const uint8_t* newRec, uint32_t recno);
  void SaveIndexes();
  std::string ResolveIndexPath(const std::string& file) const;
  std::string StructuralPath() const;
  void StoreMemo(int field, const std::string& data, uint8_t* rec);
  void SetFieldText(int field, const std::string& text, uint8_t* rec) const;

  // GoTop and GoBottom: the first visible record from the top or the bottom of the order.
  void GoToEnd(bool top);
  // The first visible record in record-number order from either end: false when there is none.
  bool NaturalFirst(bool top);
  // Ordered navigation helpers.
  bool OrderedFirst(bool fromStart);
  bool OrderedStep(bool forward);
  bool CurrentEntry(std::vector<uint8_t>& entry);
  void RememberPos(const KeyStore::Pos& pos);

  int number_;
  std::string alias_;
  EngineSettings* settings_;
  DbfFile dbf_;
  std::unique_ptr<FptFile> fpt_;
  std::vector<std::unique_ptr<CdxFile>> indexes_;
  std::vector<IndexTag*> orderTags_;
  int order_ = 0;
  std::string closedStructural_;  // structural index on disk that is not open (kept marked stale)

  std::vector<uint8_t> rec_;
  std::vector<uint8_t> blank_;
  uint32_t recno_ = 0;
  bool bof_ = true;
  bool eof_ = true;

  Expression query_;
  std::string queryText_;

  // Cached position of the current record in the controlling tag.
  bool posValid_ = false;
  KeyStore::Pos pos_;
  uint64_t posVersion_ = 0;
  uint32_t posRecno_ = 0;
  std::vector<uint8_t> scratchKey_;
  std::vector<uint8_t> keyA_, keyB_, oldRec_;
};

}  // namespace qv::tables
