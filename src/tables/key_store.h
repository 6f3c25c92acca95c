#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace qv::tables {

// How many leading bytes two keys share, at most n; compares eight bytes at a time.
[[gnu::always_inline]] inline size_t CommonKeyPrefix(const uint8_t* a, const uint8_t* b, size_t n) {
  size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= n; i += 8) {
      uint64_t x, y;
      std::memcpy(&x, a + i, 8);
      std::memcpy(&y, b + i, 8);
      if (x != y) return i + static_cast<size_t>(std::countr_zero(x ^ y) / 8);
    }
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// How many trailing bytes of two keys of length `len` agree, at most n.
[[gnu::always_inline]] inline size_t CommonKeySuffix(const uint8_t* a, const uint8_t* b, size_t len, size_t n) {
  size_t t = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; t + 8 <= n; t += 8) {
      uint64_t x, y;
      std::memcpy(&x, a + len - t - 8, 8);
      std::memcpy(&y, b + len - t - 8, 8);
      if (x != y) return t + static_cast<size_t>(std::countl_zero(x ^ y) / 8);
    }
  }
  while (t < n && a[len - 1 - t] == b[len - 1 - t]) ++t;
  return t;
}

// The sorted (key, record number) entries of one index tag, kept in memory. Every entry is
// `keyLen` key bytes followed by the record number big-endian, so a plain memcmp of whole
// entries gives the index order (key bytes, then record number). Entries live in chunks of
// bounded size, which keeps inserts and deletes cheap on large tables.
class KeyStore {
 public:
  struct Pos {
    size_t chunk = 0;
    size_t index = 0;
  };

  explicit KeyStore(uint16_t keyLen = 1) { Reset(keyLen); }

  void Reset(uint16_t keyLen);
  uint16_t KeyLen() const { return keyLen_; }
  size_t EntrySize() const { return entry_; }
  size_t Size() const { return size_; }
  // Changes with every insert or erase; lets cursors know when to search again.
  uint64_t Version() const { return version_; }

  // Builds the entry bytes for a key (padded/truncated to keyLen by the caller) and record.
  void MakeEntry(const uint8_t* key, uint32_t recno, uint8_t* out) const {
    if (out != key) std::memmove(out, key, keyLen_);  // key may already sit in `out`
    out[keyLen_] = static_cast<uint8_t>(recno >> 24);
    out[keyLen_ + 1] = static_cast<uint8_t>(recno >> 16);
    out[keyLen_ + 2] = static_cast<uint8_t>(recno >> 8);
    out[keyLen_ + 3] = static_cast<uint8_t>(recno);
  }
  static uint32_t RecnoOf(const uint8_t* entry, uint16_t keyLen) {
    const uint8_t* p = entry + keyLen;
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
  }

  // False when an identical entry is already there.
  bool Insert(const uint8_t* entry);
  // False when the entry is not there.
  bool Erase(const uint8_t* entry);
  void Clear();
  // Replaces everything with `sorted` (entries already in order, concatenated).
  void Load(std::vector<uint8_t> sorted);
  // Replaces everything with the entries base[order[0]], base[order[1]], ... (in index order),
  // copying each entry once.
  void LoadGathered(const uint8_t* base, const std::vector<uint32_t>& order);

  // First position whose entry is >= `probe` (probe may be shorter than an entry: then it is
  // compared over its own length only and equal prefixes count as >=).
  Pos LowerBound(const uint8_t* probe, size_t probeLen) const;
  // First position whose entry is > `probe` over probeLen bytes.
  Pos UpperBound(const uint8_t* probe, size_t probeLen) const;
  Pos Begin() const { return {0, 0}; }
  Pos End() const { return {chunks_.size(), 0}; }
  bool AtEnd(const Pos& p) const { return p.chunk >= chunks_.size(); }
  bool Next(Pos& p) const;  // false when it ran past the end (p becomes End())
  bool Prev(Pos& p) const;  // false when already at the first entry (p unchanged)
  Pos Last() const;         // End() when empty
  const uint8_t* At(const Pos& p) const { return chunks_[p.chunk].data() + p.index * entry_; }

  // The largest record number among the entries (0 when empty); found by a scan only when the
  // entry holding it was erased since the last answer.
  uint32_t MaxRecno() const;

  // All entries in order, concatenated (for writing the file).
  std::vector<uint8_t> Flatten() const;

  // Visits every entry in order; cheaper than Pos and Next() for a whole pass.
  class Reader {
   public:
    explicit Reader(const KeyStore& ks) : ks_(ks) {}
    // The next entry, or nullptr after the last.
    const uint8_t* Next() {
      while (chunk_ < ks_.chunks_.size()) {
        const std::vector<uint8_t>& c = ks_.chunks_[chunk_];
        if (offset_ < c.size()) {
          const uint8_t* e = c.data() + offset_;
          offset_ += ks_.entry_;
          return e;
        }
        ++chunk_;
        offset_ = 0;
      }
      return nullptr;
    }

   private:
    const KeyStore& ks_;
    size_t chunk_ = 0;
    size_t offset_ = 0;
  };

 private:
  size_t ChunkFor(const uint8_t* probe, size_t probeLen, bool upper) const;
  struct Prefix {
    uint64_t hi = 0, lo = 0;
  };
  Prefix PrefixOf(const uint8_t* entry) const;
  void RefreshPrefix(size_t chunk);
  void RefreshAllPrefixes();
  void ShareFrom(const uint8_t* first, const uint8_t* last);

  uint16_t keyLen_ = 1;
  size_t entry_ = 5;
  size_t size_ = 0;
  uint64_t version_ = 0;
  mutable uint32_t maxRecno_ = 0;
  mutable bool maxKnown_ = true;
  std::vector<std::vector<uint8_t>> chunks_;  // each non-empty, at most kChunkEntries entries
  std::vector<Prefix> lastPrefix_;            // per chunk: PrefixOf() its last entry
  size_t shared_ = 0;                         // leading key bytes every entry has
  std::vector<uint8_t> sharedBytes_;          // those bytes
};

}  // namespace qv::tables
