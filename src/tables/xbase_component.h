#pragma once

// TXBase, TXBaseEnv and TXBaseDataLink: the engine operations a data set lacks (creating
// tables, index tags, packing, queries, memo files, deleted flags, record counts), each run on
// the component's own table inside the engine call bracket, and the engine's global settings.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tables/data_set.h"

namespace qv::tables {

class TXBase;

// Checks the engine at program start: string type 1, error level 1, and a version text.
// Throws EDatabaseError "The table engine version 2.40.00 or later is required." (code 99).
void StartTableEngine();
// Closes every work area at program end.
void StopTableEngine();

class TXBaseDataLink : public TDataLink {
 public:
  explicit TXBaseDataLink(TXBase* owner) : owner_(owner) {}
  void ActiveChanged() override;
  TXBase* XBase() const { return owner_; }

 private:
  TXBase* owner_;
};

class TXBase {
 public:
  TXBase();
  ~TXBase();
  TXBase(const TXBase&) = delete;
  TXBase& operator=(const TXBase&) = delete;

  // Published properties.
  TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(TDataSource* source);
  const std::vector<std::string>& ExtraIndexes() const { return extraIndexes_; }
  void SetExtraIndexes(std::vector<std::string> names);
  const std::string& Filter() const { return filter_; }
  void SetFilter(const std::string& condition) { Query(condition); }
  bool TurboRead() const { return turboRead_; }
  void SetTurboRead(bool on);

  // Operations.
  bool CreateNew(const std::string& path, int driver, int fieldCount);
  bool CreateField(const std::string& name, char type, int decimals, int width);
  bool CreateExec();
  int IndexTag(const std::string& file, const std::string& tag, const std::string& condition, bool descending,
               int option, const std::string& key);
  int IndexOpen(const std::string& file);
  int IndexOrd();
  int SetOrder(int order);
  int TagArea(const std::string& tag);
  std::string TagName(int order);
  void CloseIndexes();
  bool Pack();
  bool Query(const std::string& condition);
  uint32_t QueryRecCount();
  uint32_t RecCount();
  uint32_t RecNo();
  void Go(uint32_t recno);
  bool IsDeleted();
  bool EvalLogical(const std::string& expression);
  bool BlobToFile(const std::string& field, const std::string& path);
  void Replace(const std::string& field, int kind, const std::string& value);
  std::string DBFilter();
  int SysProp(int code, int value);
  int RecSize();
  void ReopenExtraIndexes();

  // The data link's activation notification.
  void Activate();
  TTable* DataSet() const { return dataSet_; }

 private:
  class CallBracket;
  class PositionSync;
  TTable* Bound();

  TXBaseDataLink link_;
  std::vector<std::string> extraIndexes_;
  std::string filter_;
  bool turboRead_ = false;
  TTable* dataSet_ = nullptr;
  int16_t previousArea_ = 0;
  uint32_t savedRecno_ = 0;
  std::vector<uint8_t> recordBuffer_;
  int createArea_ = 0;
};

// Date formats of the engine, numbered as the engine numbers them.
enum TXBaseDateFrmt { dfAmerican = 0, dfAnsi, dfBritish, dfFrench, dfGerman, dfItalian, dfSpanish };

class TXBaseEnv {
 public:
  // Applies the defaults to the engine.
  TXBaseEnv();

  bool Exact() const { return exact_; }
  void SetExact(bool on);
  bool Century() const { return century_; }
  void SetCentury(bool on);
  TXBaseDateFrmt DateFormat() const { return dateFormat_; }
  void SetDateFormat(TXBaseDateFrmt fmt);
  int LockTimeout() const { return lockTimeout_; }
  void SetLockTimeout(int seconds);
  int MemoBlockSize() const { return memoBlockSize_; }
  void SetMemoBlockSize(int size);
  bool SoftSeek() const { return softSeek_; }
  void SetSoftSeek(bool on);
  bool Deleted() const { return deleted_; }
  void SetDeleted(bool on);

 private:
  bool exact_ = false;
  bool century_ = false;
  TXBaseDateFrmt dateFormat_ = dfAmerican;
  int lockTimeout_ = 1;
  int memoBlockSize_ = 64;
  bool softSeek_ = false;
  bool deleted_ = false;
};

}  // namespace qv::tables
