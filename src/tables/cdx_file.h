#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tables/expression.h"
#include "tables/key_store.h"

namespace qv::tables {

// What defines a tag: its name, key, FOR condition (empty = none) and direction.
struct TagDef {
  std::string name;
  std::string keyExpr;
  std::string forExpr;
  bool descending = false;
  bool unique = false;
};

// One tag of a compound index: its definition, compiled expressions and its keys.
class IndexTag {
 public:
  IndexTag(TagDef def, const std::vector<DbfField>& fields, const ExprSettings* settings);

  const TagDef& Def() const { return def_; }
  const std::string& Name() const { return def_.name; }
  XType KeyType() const { return key_.Type(); }
  uint16_t KeyLen() const { return keyLen_; }
  uint8_t PadByte() const { return key_.Type() == XType::Char ? ' ' : 0; }
  const Expression& KeyExpression() const { return key_; }

  // The key of a record; false when the FOR condition leaves the record out of the tag.
  bool KeyFor(const uint8_t* record, uint32_t recno, uint8_t* keyOut);
  // The key a record would have, FOR condition or not (to find its place among the keys).
  void RawKey(const uint8_t* record, uint32_t recno, uint8_t* keyOut);
  bool HasFor() const { return for_.Valid(); }
  // Whether keys are written straight from the record's bytes rather than through the
  // evaluator (the key is plain fields, literals, concatenation, UPPER/LOWER, DTOS, STR).
  bool DirectKey() const { return direct_; }
  // Key bytes for a search text: character tags use the text itself (a prefix, not padded),
  // numeric tags its number, date tags its date ("yyyymmdd" or the display format).
  std::string SearchKey(const std::string& text, DateFormat fmt) const;
  // The readable form of stored key bytes (for qvdb and KeyData).
  std::string KeyText(const uint8_t* key) const;

  KeyStore& Keys() { return keys_; }
  const KeyStore& Keys() const { return keys_; }

 private:
  void Encode(const XValue& v, uint8_t* out) const;
  bool Included(const uint8_t* record, uint32_t recno) const;
  void WriteKey(const uint8_t* record, uint32_t recno, uint8_t* out);

  TagDef def_;
  Expression key_;
  Expression for_;
  DeletedTest forTest_ = DeletedTest::None;
  bool direct_ = false;
  std::vector<KeyPiece> pieces_;
  uint16_t keyLen_ = 0;
  XValue tmp_;
  KeyStore keys_;
};

// Encodes a double so that memcmp orders the bytes like the numbers (8 bytes).
void EncodeNumberKey(double v, uint8_t* out);
double DecodeNumberKey(const uint8_t* in);

// A FoxPro-style compound index file held in memory. It is read whole when opened and
// written whole (to a temporary file renamed into place) when saved. Before the first change
// after a save, a mark is written into the file on disk; a file found with the mark, or with
// damage, is rebuilt from the table when opened.
class CdxFile {
 public:
  // Reads an index file. Tags whose keys could not be used (damaged pages, stale mark, keys out
  // of order or pointing past `recCount`) are listed in `staleTags` for the caller to rebuild;
  // a file whose header or tag directory is unreadable throws EXBaseError core::ecIndexCorrupt.
  static std::unique_ptr<CdxFile> Open(const std::string& path, const std::vector<DbfField>& fields,
                                       const ExprSettings* settings, uint32_t recCount,
                                       std::vector<IndexTag*>& staleTags);
  static std::unique_ptr<CdxFile> CreateEmpty(const std::string& path);

  const std::string& Path() const { return path_; }
  std::vector<std::unique_ptr<IndexTag>>& Tags() { return tags_; }
  IndexTag* FindTag(const std::string& name);

  // Adds a tag (replacing one of the same name); returns it with no keys.
  IndexTag* AddTag(TagDef def, const std::vector<DbfField>& fields, const ExprSettings* settings);

  // Writes the mark that the file on disk no longer matches the table (once per save cycle).
  void MarkDirty();
  bool Dirty() const { return dirty_; }
  // Writes the whole file; clears the mark.
  void Save();
  // The file image Save() would write.
  std::string Image() const;

 private:
  std::string path_;
  std::vector<std::unique_ptr<IndexTag>> tags_;
  bool dirty_ = false;
  bool diskMarked_ = false;
};

// Bytes 16..19 of the file header while the file is out of step with its table.
inline constexpr char kCdxDirtyMark[4] = {'Q', 'V', 'D', 'T'};

}  // namespace qv::tables
