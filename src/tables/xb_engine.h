#pragma once

// The table engine's operations (`xb_...`). The engine has process-wide state: up to 255 work
// areas, one of them selected, and its settings. Every record, field, index and query
// operation acts on the selected work area. Operations never throw: failures return 0, false
// or an empty text and leave the reason in xb_LastError() / xb_LastErrorText().

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv::tables {

class WorkArea;

// Engine driver numbers passed to xb_Use and xb_CreateNew.
enum XbDriver : int { xbdNTX = 1, xbdFOX = 2, xbdNSX = 3, xbdANTX = 11, xbdAFOX = 12 };
// Opening modes of xb_Use.
enum XbMode : int { xbmShared = 0, xbmReadOnly = 1, xbmExclusive = 2 };
// xb_SysProp codes the binding uses.
enum XbSysProp : int {
  xspRecordAddress = 65000,
  xspAreaInUse = 65002,
  xspFieldBuffer = 65005,
  xspWriteBuffer = 65008,
  xspBufferAddress = 65010,
  xspFieldIsVariable = 65012,
  xspConditionActive = 1006,
  xspOptimize = 1009,
};

inline constexpr int kMaxWorkAreas = 255;

// Kinds of xb_Replace.
enum ReplaceKind : int {
  rkInteger = 1,
  rkInteger2 = 2,
  rkDouble = 8,
  rkBinary = 32,
  rkLogical = 128,
  rkString = 1024,
  rkString2 = 1025,
  rkDateString = 1056,
  rkMemoString = 3072,
  rkMemoBinary = 4096,
  rkFile = 8192,
};

// Start and stop.
std::string xb_Version();
void xb_SetStringType(int type);
void xb_ErrorLevel(int level);
int xb_SysProp(int code, int value);
void xb_CloseAll();
int xb_LastError();
std::string xb_LastErrorText();

// Work areas.
int xb_Use(const std::string& path, const std::string& alias, int mode, int driver);
bool xb_Close();
int xb_Select(int area);
int xb_WorkArea(const std::string& alias = std::string());

// Creating.
int xb_CreateNew(const std::string& path, const std::string& alias, int driver, int fieldCount);
bool xb_CreateField(const std::string& name, char type, int width, int decimals);
bool xb_CreateExec();

// Navigation.
void xb_GoTop();
void xb_GoBottom();
void xb_Go(int64_t recno);
void xb_Skip(int64_t n);
uint32_t xb_RecNo();
uint32_t xb_RecCount();
bool xb_Bof();
bool xb_Eof();

// Records (raw xBase records: deletion flag byte first).
bool xb_GetRecord(uint8_t* buffer);
bool xb_PutRecord(const uint8_t* buffer);
bool xb_AppendBlank();
// Appends a whole raw record in one step (an addition of this engine).
bool xb_AppendRecord(const uint8_t* buffer);
bool xb_Delete();
bool xb_Recall();
bool xb_Deleted();
bool xb_Commit();
int xb_RecSize();

// Fields (numbers from 1; names case-insensitive).
int xb_FieldCount();
std::string xb_FieldName(int n);
int xb_FieldNum(const std::string& name);
char xb_FieldType(int n);
int xb_FieldWidth(int n);
int xb_FieldDecimals(int n);
int xb_FieldOffset(int n);
std::string xb_GetString(const std::string& field);
std::string xb_GetTrimString(const std::string& field);
std::string xb_GetDateString(const std::string& field);
bool xb_GetLogical(const std::string& field);
// Engine memory holding the memo (NUL-terminated; `length` receives its size); give it back
// with xb_MemDealloc. nullptr on failure.
char* xb_GetMemo(const std::string& field, size_t* length = nullptr);
void xb_MemDealloc(char* memory);
bool xb_Replace(const std::string& field, int kind, const std::string& value);
bool xb_BlobToFile(const std::string& field, const std::string& path);

// Indexes.
int xb_IndexTag(const std::string& file, const std::string& tag, const std::string& key, int option,
                bool descending, const std::string& condition);
int xb_IndexOpen(const std::string& file);
bool xb_CloseIndexes();
int xb_IndexOrd();
int xb_SetOrder(int order);
int xb_TagArea(const std::string& tag);
std::string xb_TagName(int order);
std::string xb_IndexName(int order);
std::string xb_IndexKey(int order);
int xb_IndexKeyField(int order);
std::string xb_KeyData();
bool xb_Seek(const std::string& key);
bool xb_Reindex();

// Query.
bool xb_Query(const std::string& condition);
uint32_t xb_QueryRecCount();
std::string xb_DBFilter();
bool xb_EvalLogical(const std::string& expression);
std::string xb_EvalString(const std::string& expression);
bool xb_EvalTest(const std::string& expression);

// Locking.
bool xb_Rlock();
bool xb_Unlock();

// Maintenance.
bool xb_Pack();

// Settings.
void xb_SetDeleted(bool on);
void xb_SetDateFormat(int format);
void xb_SetCentury(bool on);
void xb_SetExact(bool on);
void xb_SetSoftSeek(bool on);
void xb_SetLockTimeout(int seconds);
void xb_SetMemoBlockSize(int size);
void xb_SetTurboRead(bool on);

// For the binding and tools: the selected work area object (nullptr when none).
WorkArea* xb_CurrentArea();

}  // namespace qv::tables
