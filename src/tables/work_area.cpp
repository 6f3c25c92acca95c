#include "tables/work_area.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

#include "tables/field_format.h"
#include "tables/file_io.h"
#include "tables/xbase_error.h"

namespace qv::tables {

namespace {

bool IsMemoType(char t) { return t == 'M' || t == 'B' || t == 'G' || t == 'P'; }

std::string PackTempPath(const std::string& path) { return path + ".~pk"; }
std::string PackJournalPath(const std::string& dbf) { return dbf + ".~pj"; }

// Puts the stale mark into an index file that is on disk but not open.
void MarkIndexFileStale(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  try {
    if (FileSize(fd, path) >= 20) PWriteAll(fd, kCdxDirtyMark, 4, 16, path);
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::fdatasync(fd);
  ::close(fd);
}

// Completes or discards an interrupted pack. The journal is written only once both packed
// copies are complete on disk, so with a journal the copies are moved into place; without
// one, leftovers are incomplete and are removed.
void RecoverPack(const std::string& dbfPath) {
  std::string journal = PackJournalPath(dbfPath);
  std::string tmpDbf = PackTempPath(dbfPath);
  std::string fpt = SiblingFile(dbfPath, "FPT");
  std::string tmpFpt = PackTempPath(fpt);
  bool hasJournal = FileExists(journal);
  if (!hasJournal && !FileExists(tmpDbf) && !FileExists(tmpFpt)) return;
  // Only when nobody holds the table: a pack in progress elsewhere keeps it locked.
  int fd = ::open(dbfPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      return;
    }
  }
  if (hasJournal) {
    if (FileExists(tmpFpt) && ::rename(tmpFpt.c_str(), fpt.c_str()) != 0)
      ThrowXb(core::ecTableOpenFailed, "Cannot complete the interrupted pack of " + dbfPath + ": " + SystemErrorText(errno));
    if (FileExists(tmpDbf) && ::rename(tmpDbf.c_str(), dbfPath.c_str()) != 0)
      ThrowXb(core::ecTableOpenFailed, "Cannot complete the interrupted pack of " + dbfPath + ": " + SystemErrorText(errno));
    MarkIndexFileStale(SiblingFile(dbfPath, "CDX"));
    SyncDirectoryOf(dbfPath);
    ::unlink(journal.c_str());
  } else {
    ::unlink(tmpDbf.c_str());
    ::unlink(tmpFpt.c_str());
  }
  SyncDirectoryOf(dbfPath);
  if (fd >= 0) ::close(fd);
}

// Orders a tag's entries (key bytes, then the record number) for a rebuild. The entries arrive
// in record-number order, so a stable sort on the key bytes alone gives the full order: equal
// keys stay in record order without ever comparing record numbers.
//
// The keys are sorted eight bytes (a "chunk") at a time, level by level: first every entry by
// its first chunk, then all runs of entries that tied there, together, by their second chunk,
// and so on until no ties are left or the key is used up. Each level is one stable
// least-significant-digit radix sort (a byte per pass, skipping bytes all entries share) of
// the tied entries, followed by one pass that puts every entry back into its own run.
struct SortItem {
  uint64_t chunk;  // key bytes [offset, offset + 8) as a big-endian number (see ChunkAt)
  uint32_t index;  // of the entry in the unsorted array
  uint32_t run;    // tie run the entry belongs to at this level
};

constexpr size_t kInsertionSortItems = 48;

int VaryingBytes(uint64_t varying) {
  int k = 0;
  for (int d = 0; d < 8; ++d) k += ((varying >> (8 * d)) & 0xFF) != 0;
  return k;
}

// Stable sort of items by chunk: insertion sort for a few, else LSD radix, one byte per pass,
// bytes every item shares skipped. When the top varying byte splits the items into groups that
// each vary in far fewer bytes (keys of two different shapes, say), one MSD pass on that byte
// first is cheaper. `buffer` holds n items.
void SortByChunk(SortItem* first, size_t n, SortItem* buffer) {
  if (n < 2) return;
  if (n < kInsertionSortItems) {
    for (size_t i = 1; i < n; ++i) {
      SortItem x = first[i];
      size_t j = i;
      for (; j > 0 && first[j - 1].chunk > x.chunk; --j) first[j] = first[j - 1];
      first[j] = x;
    }
    return;
  }
  uint64_t orAll = 0, andAll = ~uint64_t{0};
  for (size_t i = 0; i < n; ++i) {
    orAll |= first[i].chunk;
    andAll &= first[i].chunk;
  }
  const uint64_t varying = orAll ^ andAll;
  if (varying == 0) return;
  const int top = (63 - std::countl_zero(varying)) / 8;
  int digits[8], nd = 0;
  for (int d = 0; d < 8; ++d)
    if ((varying >> (8 * d)) & 0xFF) digits[nd++] = d;
  std::array<std::array<uint32_t, 256>, 8> counts;
  for (int k = 0; k < nd; ++k) counts[digits[k]].fill(0);
  bool topCounted = false;
  // The split costs about three passes over the items (scatter, copy back, the groups' own
  // scans) plus the groups' radix passes; it can only win over four or more varying bytes.
  if (nd >= 4) {
    std::array<uint64_t, 256> groupOr{}, groupAnd;
    groupAnd.fill(~uint64_t{0});
    auto& c = counts[top];
    for (size_t i = 0; i < n; ++i) {
      const uint64_t x = first[i].chunk;
      const size_t g = (x >> (8 * top)) & 0xFF;
      ++c[g];
      groupOr[g] |= x;
      groupAnd[g] &= x;
    }
    topCounted = true;
    double split = 3;
    for (size_t g = 0; g < 256; ++g)
      if (c[g] > 0) split += static_cast<double>(c[g]) / static_cast<double>(n) * VaryingBytes(groupOr[g] ^ groupAnd[g]);
    if (split < nd) {
      std::array<uint32_t, 256> start;
      uint32_t sum = 0;
      for (size_t g = 0; g < 256; ++g) {
        start[g] = sum;
        sum += c[g];
      }
      std::array<uint32_t, 256> pos = start;
      for (size_t i = 0; i < n; ++i) buffer[pos[(first[i].chunk >> (8 * top)) & 0xFF]++] = first[i];
      std::copy(buffer, buffer + n, first);
      for (size_t g = 0; g < 256; ++g)
        if (c[g] > 1) SortByChunk(first + start[g], c[g], buffer + start[g]);
      return;
    }
  }
  // Histograms of the varying bytes (all from one scan).
  const int counted = topCounted ? nd - 1 : nd;  // the top byte is the last digit
  for (size_t i = 0; i < n; ++i) {
    const uint64_t x = first[i].chunk;
    for (int k = 0; k < counted; ++k) ++counts[digits[k]][(x >> (8 * digits[k])) & 0xFF];
  }
  SortItem* from = first;
  SortItem* to = buffer;
  for (int k = 0; k < nd; ++k) {  // least significant varying byte first
    const int d = digits[k];
    auto& c = counts[d];
    uint32_t sum = 0;
    for (auto& slot : c) {
      const uint32_t here = slot;
      slot = sum;
      sum += here;
    }
    for (size_t i = 0; i < n; ++i) to[c[(from[i].chunk >> (8 * d)) & 0xFF]++] = from[i];
    std::swap(from, to);
  }
  if (from != first) std::copy(from, from + n, first);
}

// Bytes [offset, offset + 8) of an entry, as a number that orders like the bytes; bytes from
// `end` on count as zeros.
uint64_t ChunkAt(const uint8_t* entry, size_t offset, size_t end) {
  auto load = [](const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return std::endian::native == std::endian::little ? __builtin_bswap64(v) : v;
  };
  if (offset + 8 <= end) return load(entry + offset);
  if (end >= 8) return load(entry + end - 8) << (8 * (offset + 8 - end));  // the last bytes before end
  uint64_t v = 0;
  for (size_t k = 0; k < 8; ++k) v = (v << 8) | (offset + k < end ? entry[offset + k] : 0);
  return v;
}

// Only key bytes [shared, end) are looked at: all entries have the same bytes before and after
// them.
std::vector<uint32_t> SortEntries(const uint8_t* base, size_t count, size_t esz, size_t shared, size_t end) {
  std::vector<SortItem> items(count);
  for (size_t i = 0; i < count; ++i) items[i] = {0, static_cast<uint32_t>(i), 0};
  struct Run {
    size_t start, size;
  };
  std::vector<Run> runs;
  if (count > 1) runs.push_back({0, count});
  std::vector<SortItem> work, buffer(count);
  std::vector<size_t> fill;
  std::vector<uint64_t> chunks;
  for (size_t offset = shared; offset < end && !runs.empty(); offset += 8) {
    const bool whole = runs.size() == 1 && runs[0].size == count;
    if (whole) {
      for (SortItem& it : items) it.chunk = ChunkAt(base + static_cast<size_t>(it.index) * esz, offset, end);
      SortByChunk(items.data(), count, buffer.data());
    } else {
      size_t tied = 0;
      for (const Run& r : runs) tied += r.size;
      // The tied entries lie anywhere in the source. When they are most of it, their chunks
      // are taken in one sequential pass into a small array and looked up there instead.
      const bool sequential = tied > count / 4;
      if (sequential) {
        chunks.resize(count);
        for (size_t i = 0; i < count; ++i) chunks[i] = ChunkAt(base + i * esz, offset, end);
      }
      work.clear();
      work.reserve(tied);
      for (size_t r = 0; r < runs.size(); ++r)
        for (size_t k = runs[r].start; k < runs[r].start + runs[r].size; ++k) {
          const uint32_t idx = items[k].index;
          uint64_t chunk;
          if (sequential) {
            chunk = chunks[idx];
          } else {
            if (k + 8 < count) __builtin_prefetch(base + static_cast<size_t>(items[k + 8].index) * esz + offset);
            chunk = ChunkAt(base + static_cast<size_t>(idx) * esz, offset, end);
          }
          work.push_back({chunk, idx, static_cast<uint32_t>(r)});
        }
      SortByChunk(work.data(), work.size(), buffer.data());
      // Back into their runs, keeping the order within each.
      fill.resize(runs.size());
      for (size_t r = 0; r < runs.size(); ++r) fill[r] = runs[r].start;
      for (const SortItem& it : work) items[fill[it.run]++] = it;
    }
    // The runs still tied after this chunk.
    std::vector<Run> next;
    for (const Run& r : runs) {
      for (size_t k = r.start; k < r.start + r.size;) {
        size_t e = k + 1;
        while (e < r.start + r.size && items[e].chunk == items[k].chunk) ++e;
        if (e - k > 1) next.push_back({k, e - k});
        k = e;
      }
    }
    runs.swap(next);
  }
  std::vector<uint32_t> out(count);
  for (size_t i = 0; i < count; ++i) out[i] = items[i].index;
  return out;
}

}  // namespace

WorkArea::WorkArea(int number, std::string alias, EngineSettings* settings)
    : number_(number), alias_(std::move(alias)), settings_(settings) {}

WorkArea::~WorkArea() {
  try {
    Close();
  } catch (...) {
  }
}

void WorkArea::Open(const std::string& path, OpenMode mode) {
  RecoverPack(path);
  dbf_.Open(path, mode);
  try {
    bool writable = dbf_.Writable();
    if (writable) {
      // Temporary copies of a save that was killed half-way; the real files are intact.
      for (const char* ext : {"CDX", "FPT"}) core::RemoveAtomicWriteLeftovers(SiblingFile(path, ext));
      // And those of the pack's own files (its journal, the fresh memo file).
      core::RemoveAtomicWriteLeftovers(PackJournalPath(path));
      core::RemoveAtomicWriteLeftovers(PackTempPath(SiblingFile(path, "FPT")));
    }
    if (dbf_.HasMemoFields()) {
      std::string fptPath = SiblingFile(path, "FPT");
      if (!FileExists(fptPath)) {
        if (!writable) ThrowXb(core::ecTableOpenFailed, "Memo file " + fptPath + " is missing");
        AtomicReplaceFile(fptPath, FptFile::EmptyImage(MemoBlockBytes(settings_->memoBlockSize)));
      }
      fpt_ = std::make_unique<FptFile>();
      fpt_->Open(fptPath, writable);
    }
    blank_.assign(dbf_.RecordLength(), ' ');
    rec_ = blank_;
    std::string cdx = StructuralPath();
    if (FileExists(cdx)) IndexOpen(cdx);
    order_ = 0;
    GoTop();
  } catch (...) {
    indexes_.clear();
    orderTags_.clear();
    fpt_.reset();
    try {
      dbf_.Close();
    } catch (...) {
    }
    throw;
  }
}

void WorkArea::Close() {
  if (!dbf_.IsOpen()) return;
  std::exception_ptr err;
  try {
    if (dbf_.Writable()) SaveIndexes();
  } catch (...) {
    err = std::current_exception();
  }
  indexes_.clear();
  orderTags_.clear();
  order_ = 0;
  if (fpt_) {
    try {
      fpt_->Flush(true);
    } catch (...) {
      if (!err) err = std::current_exception();
    }
    fpt_.reset();
  }
  try {
    dbf_.Close();
  } catch (...) {
    if (!err) err = std::current_exception();
  }
  query_ = Expression();
  queryText_.clear();
  if (err) std::rethrow_exception(err);
}

std::string WorkArea::StructuralPath() const { return SiblingFile(dbf_.Path(), "CDX"); }

void WorkArea::CheckWritable() const {
  if (!dbf_.Writable()) ThrowXb(core::ecTableReadOnly, "Table " + dbf_.Path() + " is not opened exclusively; it cannot be changed");
}

// ------------------------------------------------------------------ navigation
bool WorkArea::Visible(const uint8_t* rec, uint32_t recno) const {
  if (settings_->deleted && rec[0] == '*') return false;
  if (query_.Valid() && !query_.EvalLogical(rec, recno)) return false;
  return true;
}

void WorkArea::Load(uint32_t recno) {
  dbf_.ReadRecord(recno, rec_.data());
  recno_ = recno;
  eof_ = false;
}

void WorkArea::SetEof() {
  recno_ = dbf_.RecordCount() + 1;
  rec_ = blank_;
  eof_ = true;
  posValid_ = false;
}

bool WorkArea::ReadIfVisible(uint32_t recno) {
  Load(recno);
  return Visible(rec_.data(), recno);
}

void WorkArea::RememberPos(const KeyStore::Pos& pos) {
  IndexTag* t = Tag(order_);
  pos_ = pos;
  posVersion_ = t->Keys().Version();
  posRecno_ = recno_;
  posValid_ = true;
}

bool WorkArea::OrderedFirst(bool fromStart) {
  IndexTag* t = Tag(order_);
  const KeyStore& ks = t->Keys();
  bool ascending = fromStart != t->Def().descending;
  KeyStore::Pos p = ascending ? ks.Begin() : ks.Last();
  if (ks.Size() == 0) return false;
  for (;;) {
    if (ks.AtEnd(p)) return false;
    uint32_t rn = KeyStore::RecnoOf(ks.At(p), t->KeyLen());
    if (rn >= 1 && rn <= dbf_.RecordCount() && ReadIfVisible(rn)) {
      RememberPos(p);
      return true;
    }
    if (ascending) {
      if (!ks.Next(p)) return false;
    } else if (!ks.Prev(p)) {
      return false;
    }
  }
}

bool WorkArea::CurrentEntry(std::vector<uint8_t>& entry) {
  IndexTag* t = Tag(order_);
  entry.resize(t->KeyLen() + 4u);
  t->RawKey(rec_.data(), recno_, entry.data());
  t->Keys().MakeEntry(entry.data(), recno_, entry.data());
  return true;
}

bool WorkArea::OrderedStep(bool forward) {
  IndexTag* t = Tag(order_);
  const KeyStore& ks = t->Keys();
  bool larger = forward != t->Def().descending;
  KeyStore::Pos p;
  bool exact;
  if (posValid_ && posVersion_ == ks.Version() && posRecno_ == recno_ && !ks.AtEnd(pos_)) {
    p = pos_;
    exact = true;
  } else {
    CurrentEntry(scratchKey_);
    p = ks.LowerBound(scratchKey_.data(), scratchKey_.size());
    exact = !ks.AtEnd(p) && std::memcmp(ks.At(p), scratchKey_.data(), scratchKey_.size()) == 0;
  }
  for (;;) {
    if (larger) {
      if (exact) {
        if (!ks.Next(p)) return false;
      } else if (ks.AtEnd(p)) {
        return false;
      }
    } else if (!ks.Prev(p)) {
      return false;
    }
    exact = true;
    uint32_t rn = KeyStore::RecnoOf(ks.At(p), t->KeyLen());
    if (rn >= 1 && rn <= dbf_.RecordCount() && ReadIfVisible(rn)) {
      RememberPos(p);
      return true;
    }
  }
}

void WorkArea::GoTop() { GoToEnd(true); }

void WorkArea::GoBottom() { GoToEnd(false); }

void WorkArea::GoToEnd(bool top) {
  bof_ = false;
  if (order_ > 0 ? OrderedFirst(top) : NaturalFirst(top)) return;
  SetEof();
  bof_ = true;
}

bool WorkArea::NaturalFirst(bool top) {
  const uint32_t count = dbf_.RecordCount();
  for (uint32_t i = 0; i < count; ++i)
    if (ReadIfVisible(top ? i + 1 : count - i)) return true;
  return false;
}

void WorkArea::Go(int64_t recno) {
  bof_ = false;
  posValid_ = false;
  if (recno < 1 || recno > dbf_.RecordCount()) {
    SetEof();
    return;
  }
  Load(static_cast<uint32_t>(recno));
}

void WorkArea::Skip(int64_t n) {
  if (n == 0) {
    if (!eof_) Load(recno_);
    return;
  }
  if (n > 0) {
    bof_ = false;
    if (eof_) return;
    for (; n > 0; --n) {
      bool moved = false;
      if (order_ > 0) {
        moved = OrderedStep(true);
      } else {
        for (uint32_t r = recno_ + 1; r <= dbf_.RecordCount(); ++r)
          if (ReadIfVisible(r)) {
            moved = true;
            break;
          }
      }
      if (!moved) {
        SetEof();
        return;
      }
    }
    return;
  }
  // Backwards: from the end, the first step lands on the last record.
  if (eof_) {
    GoBottom();
    if (eof_) return;
    ++n;
  }
  for (; n < 0; ++n) {
    bool moved = false;
    uint32_t from = recno_;
    if (order_ > 0) {
      moved = OrderedStep(false);
    } else {
      for (uint32_t r = from - 1; r >= 1; --r)
        if (ReadIfVisible(r)) {
          moved = true;
          break;
        }
    }
    if (!moved) {
      GoTop();
      bof_ = true;
      return;
    }
  }
}

// ------------------------------------------------------------------ records
void WorkArea::MarkIndexesDirty() {
  for (auto& f : indexes_) f->MarkDirty();
  if (!closedStructural_.empty()) {
    MarkIndexFileStale(closedStructural_);
    closedStructural_.clear();
  }
}

void WorkArea::UpdateKeys(const uint8_t* oldRec, const uint8_t* newRec, uint32_t recno) {
  std::vector<uint8_t>& a = keyA_;
  std::vector<uint8_t>& b = keyB_;
  for (auto& f : indexes_) {
    for (auto& t : f->Tags()) {
      size_t esz = t->KeyLen() + 4u;
      a.resize(esz);
      b.resize(esz);
      bool inOld = oldRec && t->KeyFor(oldRec, recno, a.data());
      bool inNew = newRec && t->KeyFor(newRec, recno, b.data());
      if (inOld) t->Keys().MakeEntry(a.data(), recno, a.data());
      if (inNew) t->Keys().MakeEntry(b.data(), recno, b.data());
      if (inOld && inNew && std::memcmp(a.data(), b.data(), esz) == 0) continue;
      if (inOld) t->Keys().Erase(a.data());
      if (inNew) {
        if (t->Def().unique) {
          KeyStore::Pos p = t->Keys().LowerBound(b.data(), t->KeyLen());
          if (!t->Keys().AtEnd(p) && std::memcmp(t->Keys().At(p), b.data(), t->KeyLen()) == 0) continue;
        }
        t->Keys().Insert(b.data());
      }
    }
  }
}

void WorkArea::PutRecord(const uint8_t* rec) {
  CheckWritable();
  if (eof_ || recno_ < 1 || recno_ > dbf_.RecordCount()) ThrowXb(core::ecNoRecord, "There is no current record to write");
  oldRec_ = rec_;
  MarkIndexesDirty();
  dbf_.WriteRecord(recno_, rec);
  std::memcpy(rec_.data(), rec, rec_.size());
  UpdateKeys(oldRec_.data(), rec_.data(), recno_);
}

void WorkArea::AppendBlank() { AppendRecord(blank_.data()); }

void WorkArea::AppendRecord(const uint8_t* rec) {
  CheckWritable();
  MarkIndexesDirty();
  uint32_t rn = dbf_.AppendRecord(rec);
  std::memmove(rec_.data(), rec, rec_.size());
  recno_ = rn;
  eof_ = bof_ = false;
  posValid_ = false;
  UpdateKeys(nullptr, rec_.data(), rn);
}

void WorkArea::Delete() {
  if (eof_) ThrowXb(core::ecNoRecord, "There is no current record to delete");
  std::vector<uint8_t> r(rec_);
  r[0] = '*';
  PutRecord(r.data());
}

void WorkArea::Recall() {
  if (eof_) ThrowXb(core::ecNoRecord, "There is no current record to recall");
  std::vector<uint8_t> r(rec_);
  r[0] = ' ';
  PutRecord(r.data());
}

void WorkArea::SaveIndexes() {
  for (auto& f : indexes_)
    if (f->Dirty()) f->Save();
}

void WorkArea::Commit() {
  if (!dbf_.Writable()) return;
  dbf_.Flush(true);
  if (fpt_) fpt_->Flush(true);
  SaveIndexes();
}

// ------------------------------------------------------------------ fields
std::string WorkArea::FieldText(int field) const {
  const DbfField& f = dbf_.Fields().at(static_cast<size_t>(field));
  return std::string(reinterpret_cast<const char*>(rec_.data() + f.offset), f.width);
}

std::string WorkArea::Memo(int field) {
  const DbfField& f = dbf_.Fields().at(static_cast<size_t>(field));
  if (!IsMemoType(f.type)) return FieldText(field);
  if (eof_) return {};
  uint32_t block = 0;
  const uint8_t* p = rec_.data() + f.offset;
  if (f.width == 4) {
    block = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
            (static_cast<uint32_t>(p[3]) << 24);
  } else {
    std::string t(reinterpret_cast<const char*>(p), f.width);
    size_t b = t.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    for (size_t i = b; i < t.size(); ++i) {
      if (t[i] < '0' || t[i] > '9')
        ThrowXb(core::ecTableCorrupt, "Record " + std::to_string(recno_) + " of " + dbf_.Path() + ": memo field " + f.name +
                                     " holds \"" + t + "\"");
      block = block * 10 + static_cast<uint32_t>(t[i] - '0');
    }
  }
  if (block == 0) return {};
  if (!fpt_) ThrowXb(core::ecMemoCorrupt, "Table " + dbf_.Path() + " has no memo file");
  return fpt_->Read(block);
}

void WorkArea::SetFieldText(int field, const std::string& text, uint8_t* rec) const {
  const DbfField& f = dbf_.Fields().at(static_cast<size_t>(field));
  std::string padded = PadField(text, f.width);
  std::memcpy(rec + f.offset, padded.data(), f.width);
}

void WorkArea::StoreMemo(int field, const std::string& data, uint8_t* rec) {
  const DbfField& f = dbf_.Fields().at(static_cast<size_t>(field));
  if (!fpt_) ThrowXb(core::ecMemoCorrupt, "Table " + dbf_.Path() + " has no memo file");
  if (data.empty()) {
    if (f.width == 4) std::memset(rec + f.offset, 0, 4);
    else std::memset(rec + f.offset, ' ', f.width);
    return;
  }
  uint32_t block = fpt_->Write(data, f.type == 'M' ? 1 : 0);
  if (f.width == 4) {
    for (int i = 0; i < 4; ++i) rec[f.offset + i] = static_cast<uint8_t>(block >> (8 * i));
  } else {
    std::string t = std::to_string(block);
    if (t.size() > f.width) ThrowXb(core::ecTableWriteFailed, "Memo file " + fpt_->Path() + " is full");
    std::string padded = std::string(f.width - t.size(), ' ') + t;
    std::memcpy(rec + f.offset, padded.data(), f.width);
  }
}

void WorkArea::Replace(int field, int kind, const std::string& value) {
  CheckWritable();
  if (eof_) ThrowXb(core::ecNoRecord, "There is no current record to change");
  if (field < 0 || static_cast<size_t>(field) >= dbf_.Fields().size())
    ThrowXb(core::ecTableBadField, "Field number " + std::to_string(field + 1) + " does not exist");
  const DbfField& f = dbf_.Fields()[static_cast<size_t>(field)];
  std::vector<uint8_t> r(rec_);
  std::string data = value;
  if (kind == rkFile) {
    std::ifstream in(value, std::ios::binary);
    if (!in) ThrowXb(core::ecTableOpenFailed, "Cannot read " + value);
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) ThrowXb(core::ecTableReadFailed, "Cannot read " + value);
    data = ss.str();
  } else if (kind != rkInteger && kind != rkInteger2 && kind != rkDouble && kind != rkBinary && kind != rkLogical &&
             kind != rkString && kind != rkString2 && kind != rkDateString && kind != rkMemoString &&
             kind != rkMemoBinary) {
    ThrowXb(core::ecTableBadArgument, "Unknown replace kind " + std::to_string(kind));
  }
  switch (f.type) {
    case 'M': case 'B': case 'G': case 'P':
      StoreMemo(field, data, r.data());
      break;
    case 'C':
      SetFieldText(field, data, r.data());
      break;
    case 'N':
    case 'F': {
      std::string text;
      double v = ParseXbNumber(data.data(), data.size());
      bool blank = data.find_first_not_of(' ') == std::string::npos;
      if (blank) text.assign(f.width, ' ');
      else if (!FormatNumericField(v, f.width, f.decimals, text))
        ThrowXb(core::ecNumberTooWide, "Value " + data + " does not fit field " + f.name);
      SetFieldText(field, text, r.data());
      break;
    }
    case 'D': {
      int32_t jdn = JdnFromDtos(data);
      if (jdn == 0 && data.find_first_not_of(' ') != std::string::npos) {
        jdn = ParseDate(data, kind == rkDateString ? settings_->expr.dateFormat : settings_->expr.dateFormat);
        if (jdn == 0) ThrowXb(core::ecTableBadArgument, "\"" + data + "\" is not a date");
      }
      SetFieldText(field, DtosFromJdn(jdn), r.data());
      break;
    }
    case 'L': {
      char c = data.empty() ? ' ' : data[0];
      bool t = c == 'T' || c == 't' || c == 'Y' || c == 'y' || c == '1';
      SetFieldText(field, data.empty() ? " " : (t ? "T" : "F"), r.data());
      break;
    }
    default:
      SetFieldText(field, data, r.data());
      break;
  }
  PutRecord(r.data());
}

void WorkArea::BlobToFile(int field, const std::string& path) {
  if (field < 0 || static_cast<size_t>(field) >= dbf_.Fields().size())
    ThrowXb(core::ecTableBadField, "Field number " + std::to_string(field + 1) + " does not exist");
  std::string data = Memo(field);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) ThrowXb(core::ecTableWriteFailed, "Cannot create " + path);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  if (!out) ThrowXb(core::ecTableWriteFailed, "Cannot write " + path);
}

// ------------------------------------------------------------------ indexes
std::string WorkArea::ResolveIndexPath(const std::string& file) const {
  if (file.empty()) return StructuralPath();
  std::string p = file;
  if (p.find('/') == std::string::npos) {
    auto slash = dbf_.Path().find_last_of('/');
    if (slash != std::string::npos) p = dbf_.Path().substr(0, slash + 1) + p;
  }
  auto slash = p.find_last_of('/');
  auto dot = p.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) p += ".CDX";
  return p;
}

IndexTag* WorkArea::Tag(int order) const {
  if (order < 1 || order > static_cast<int>(orderTags_.size())) return nullptr;
  return orderTags_[static_cast<size_t>(order - 1)];
}

std::string WorkArea::IndexFileOf(int order) const {
  IndexTag* t = Tag(order);
  for (const auto& f : indexes_)
    for (const auto& x : f->Tags())
      if (x.get() == t) return f->Path();
  return {};
}

int WorkArea::TagArea(const std::string& name) const {
  std::string up = UpperAscii(name);
  for (size_t i = 0; i < orderTags_.size(); ++i)
    if (orderTags_[i]->Name() == up) return static_cast<int>(i + 1);
  return 0;
}

void WorkArea::RebuildOrderList(const std::string& keepTag) {
  orderTags_.clear();
  for (auto& f : indexes_)
    for (auto& t : f->Tags()) orderTags_.push_back(t.get());
  order_ = keepTag.empty() ? 0 : TagArea(keepTag);
  posValid_ = false;
}

void WorkArea::RebuildTag(IndexTag& tag) { RebuildTags({&tag}); }

void WorkArea::RebuildTags(const std::vector<IndexTag*>& tags) {
  if (tags.empty()) return;
  const uint32_t n = dbf_.RecordCount();
  // Left uninitialised: every byte that is read is written first.
  std::vector<std::unique_ptr<uint8_t[]>> flat(tags.size());
  std::vector<size_t> used(tags.size(), 0);
  // How many leading and trailing key bytes every entry of a tag shares with its first
  // (often a good part of the key, such as the blanks after a name: the sort need not look
  // at them).
  std::vector<size_t> shared(tags.size()), sharedTail(tags.size());
  for (size_t t = 0; t < tags.size(); ++t) shared[t] = sharedTail[t] = tags[t]->KeyLen();
  for (size_t t = 0; t < tags.size(); ++t)
    flat[t].reset(new uint8_t[std::max<size_t>(1, static_cast<size_t>(n) * (tags[t]->KeyLen() + 4u))]);
  for (uint32_t r = 1; r <= n; ++r) {
    const uint8_t* rec = dbf_.CachedRecord(r);
    for (size_t t = 0; t < tags.size(); ++t) {
      IndexTag& tag = *tags[t];
      uint8_t* e = flat[t].get() + used[t];
      if (!tag.KeyFor(rec, r, e)) continue;
      if (used[t] > 0) {
        const uint8_t* first = flat[t].get();
        if (shared[t] > 0) shared[t] = CommonKeyPrefix(first, e, shared[t]);
        if (sharedTail[t] > 0) sharedTail[t] = CommonKeySuffix(first, e, tag.KeyLen(), sharedTail[t]);
      }
      tag.Keys().MakeEntry(e, r, e);
      used[t] += tag.KeyLen() + 4u;
    }
  }
  for (size_t t = 0; t < tags.size(); ++t) {
    IndexTag& tag = *tags[t];
    const size_t esz = tag.KeyLen() + 4u;
    const size_t count = used[t] / esz;
    const uint8_t* base = flat[t].get();
    // Equal keys keep the record order they were read in, as the record number decides.
    const size_t end = std::max(shared[t], tag.KeyLen() - sharedTail[t]);
    std::vector<uint32_t> idx = SortEntries(base, count, esz, shared[t], end);
    if (tag.Def().unique) {  // the first record of each key stays
      size_t kept = 0;
      const uint8_t* prevKey = nullptr;
      for (uint32_t i : idx) {
        const uint8_t* src = base + static_cast<size_t>(i) * esz;
        if (prevKey && std::memcmp(prevKey, src, tag.KeyLen()) == 0) continue;
        idx[kept++] = i;
        prevKey = src;
      }
      idx.resize(kept);
    }
    tag.Keys().LoadGathered(base, idx);
    flat[t].reset();
  }
}

int WorkArea::CreateTag(const std::string& file, const TagDef& def) {
  CheckWritable();
  std::string path = ResolveIndexPath(file);
  bool structural = path == StructuralPath();
  CdxFile* cdx = nullptr;
  for (auto& f : indexes_)
    if (f->Path() == path) cdx = f.get();
  if (!cdx) {
    if (FileExists(path)) {
      IndexOpen(path);
      for (auto& f : indexes_)
        if (f->Path() == path) cdx = f.get();
    } else {
      indexes_.push_back(CdxFile::CreateEmpty(path));
      cdx = indexes_.back().get();
      if (structural) closedStructural_.clear();
    }
  }
  IndexTag* tag = cdx->AddTag(def, dbf_.Fields(), &settings_->expr);
  RebuildTag(*tag);
  cdx->Save();
  if (structural) dbf_.SetTableFlags(dbf_.TableFlags() | kDbfFlagStructuralCdx);
  RebuildOrderList(tag->Name());
  return order_;
}

int WorkArea::IndexOpen(const std::string& file) {
  std::string path = ResolveIndexPath(file);
  for (auto& f : indexes_)
    if (f->Path() == path) return f->Tags().empty() ? 0 : TagArea(f->Tags().front()->Name());
  if (!FileExists(path)) ThrowXb(core::ecTableOpenFailed, "Index file " + path + " does not exist");
  std::vector<IndexTag*> stale;
  auto cdx = CdxFile::Open(path, dbf_.Fields(), &settings_->expr, dbf_.RecordCount(), stale);
  RebuildTags(stale);
  if (cdx->Dirty() && dbf_.Writable()) cdx->Save();
  if (path == StructuralPath()) closedStructural_.clear();
  std::string keep = order_ > 0 ? Tag(order_)->Name() : std::string();
  indexes_.push_back(std::move(cdx));
  RebuildOrderList(keep);
  const auto& tags = indexes_.back()->Tags();
  return tags.empty() ? 0 : TagArea(tags.front()->Name());
}

void WorkArea::CloseIndexes() {
  std::exception_ptr err;
  try {
    if (dbf_.Writable()) SaveIndexes();
  } catch (...) {
    err = std::current_exception();
  }
  for (auto& f : indexes_)
    if (f->Path() == StructuralPath()) closedStructural_ = f->Path();
  indexes_.clear();
  RebuildOrderList("");
  if (err) std::rethrow_exception(err);
}

int WorkArea::SetOrder(int order) {
  int prev = order_;
  if (order < 0 || order > static_cast<int>(orderTags_.size()))
    ThrowXb(core::ecTagNotFound, "Order " + std::to_string(order) + " does not exist");
  order_ = order;
  posValid_ = false;
  return prev;
}

bool WorkArea::Seek(const std::string& key) {
  IndexTag* t = Tag(order_);
  if (!t) ThrowXb(core::ecTagNotFound, "Seek needs a controlling index tag");
  std::string k = t->SearchKey(key, settings_->expr.dateFormat);
  if (t->KeyType() == XType::Char && settings_->expr.exact) k = PadField(k, t->KeyLen());
  const KeyStore& ks = t->Keys();
  const auto* kp = reinterpret_cast<const uint8_t*>(k.data());
  bof_ = false;
  auto matches = [&](const KeyStore::Pos& p) { return std::memcmp(ks.At(p), kp, k.size()) == 0; };
  KeyStore::Pos p;
  if (!t->Def().descending) {
    p = ks.LowerBound(kp, k.size());
    for (; !ks.AtEnd(p); ks.Next(p)) {
      uint32_t rn = KeyStore::RecnoOf(ks.At(p), t->KeyLen());
      if (rn < 1 || rn > dbf_.RecordCount()) continue;
      bool match = matches(p);
      if (!match && !settings_->softSeek) break;
      if (ReadIfVisible(rn)) {
        RememberPos(p);
        if (match) return true;
        return false;  // soft seek: on the next greater key
      }
    }
  } else {
    p = ks.UpperBound(kp, k.size());
    while (ks.Prev(p)) {
      uint32_t rn = KeyStore::RecnoOf(ks.At(p), t->KeyLen());
      if (rn < 1 || rn > dbf_.RecordCount()) continue;
      bool match = matches(p);
      if (!match && !settings_->softSeek) break;
      if (ReadIfVisible(rn)) {
        RememberPos(p);
        return match;
      }
    }
  }
  SetEof();
  return false;
}

std::string WorkArea::KeyData() {
  IndexTag* t = Tag(order_);
  if (!t || eof_) return {};
  std::vector<uint8_t> k(t->KeyLen());
  t->RawKey(rec_.data(), recno_, k.data());
  return t->KeyText(k.data());
}

void WorkArea::Reindex() {
  std::vector<IndexTag*> all;
  for (auto& f : indexes_) {
    f->MarkDirty();
    for (auto& t : f->Tags()) all.push_back(t.get());
  }
  RebuildTags(all);
  if (dbf_.Writable())
    for (auto& f : indexes_) f->Save();
  posValid_ = false;
}

// ------------------------------------------------------------------ query
Expression WorkArea::Compile(const std::string& text) const {
  return Expression::Compile(text, dbf_.Fields(), &settings_->expr);
}

void WorkArea::Query(const std::string& condition) {
  if (condition.find_first_not_of(' ') == std::string::npos) {
    query_ = Expression();
    queryText_.clear();
    return;
  }
  Expression e = Compile(condition);
  if (e.Type() != XType::Logical)
    ThrowXb(core::ecExprType, "Query condition \"" + condition + "\" is " + XTypeName(e.Type()) + ", not logical");
  query_ = e;
  queryText_ = condition;
}

uint32_t WorkArea::QueryRecCount() {
  uint32_t n = 0;
  std::vector<uint8_t> rec(dbf_.RecordLength());
  for (uint32_t r = 1; r <= dbf_.RecordCount(); ++r) {
    dbf_.ReadRecord(r, rec.data());
    if (Visible(rec.data(), r)) ++n;
  }
  return n;
}

namespace {
// An expression's text as far as comparing two conditions goes: case and blanks do not count.
std::string ConditionKey(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != ' ' && c != '\t') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}
}  // namespace

bool WorkArea::OrderedRecnos(std::vector<uint32_t>& out) const {
  IndexTag* t = Tag(order_);
  if (!t) return false;
  const std::string forKey = ConditionKey(t->Def().forExpr);
  if (query_.Valid() && ConditionKey(queryText_) != forKey) return false;
  if (settings_->deleted && forKey != ".not.deleted()") return false;
  const KeyStore& ks = t->Keys();
  const uint32_t count = dbf_.RecordCount();
  std::vector<uint32_t> recnos;
  recnos.reserve(ks.Size());
  for (KeyStore::Pos p = ks.Begin(); !ks.AtEnd(p); ks.Next(p)) {
    const uint32_t rn = KeyStore::RecnoOf(ks.At(p), t->KeyLen());
    if (rn >= 1 && rn <= count) recnos.push_back(rn);
  }
  if (t->Def().descending) std::reverse(recnos.begin(), recnos.end());
  out = std::move(recnos);
  return true;
}

// ------------------------------------------------------------------ pack
void WorkArea::Pack() {
  CheckWritable();
  const std::string dbfPath = dbf_.Path();
  const std::string tmpDbf = PackTempPath(dbfPath);
  const std::string journal = PackJournalPath(dbfPath);
  std::string fptPath, tmpFpt;
  dbf_.Flush(true);

  // 1. The packed copy of the table (and of its memos) under temporary names.
  int fd = ::open(tmpDbf.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) ThrowXb(core::ecTableWriteFailed, "Cannot create " + tmpDbf + ": " + SystemErrorText(errno));
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    ThrowXb(core::ecTableInUse, "Cannot lock " + tmpDbf);
  }
  std::unique_ptr<FptFile> newFpt;
  auto cleanup = [&]() {
    ::close(fd);
    ::unlink(tmpDbf.c_str());
    if (!tmpFpt.empty()) ::unlink(tmpFpt.c_str());
  };
  uint32_t kept = 0;
  try {
    if (fpt_) {
      fptPath = fpt_->Path();
      tmpFpt = PackTempPath(fptPath);
      AtomicReplaceFile(tmpFpt, FptFile::EmptyImage(fpt_->BlockSize()));
      newFpt = std::make_unique<FptFile>();
      newFpt->Open(tmpFpt, true);
    }
    const uint16_t hdrLen = dbf_.HeaderLength();
    const uint16_t recLen = dbf_.RecordLength();
    std::vector<uint8_t> header(hdrLen);
    PReadAll(dbf_.Fd(), header.data(), hdrLen, 0, dbfPath);
    std::vector<uint8_t> out;
    out.reserve(1 << 20);
    uint64_t written = hdrLen;
    std::vector<uint8_t> rec(recLen);
    const auto& fields = dbf_.Fields();
    for (uint32_t r = 1; r <= dbf_.RecordCount(); ++r) {
      dbf_.ReadRecord(r, rec.data());
      if (rec[0] == '*') continue;
      if (newFpt) {
        for (size_t i = 0; i < fields.size(); ++i) {
          const DbfField& f = fields[i];
          if (!IsMemoType(f.type)) continue;
          std::swap(rec_, rec);  // Memo() reads the current record buffer
          uint32_t saveRecno = recno_;
          bool saveEof = eof_;
          recno_ = r;
          eof_ = false;
          std::string memo;
          try {
            memo = Memo(static_cast<int>(i));
          } catch (...) {
            std::swap(rec_, rec);
            recno_ = saveRecno;
            eof_ = saveEof;
            throw;
          }
          std::swap(rec_, rec);
          recno_ = saveRecno;
          eof_ = saveEof;
          if (memo.empty()) {
            if (f.width == 4) std::memset(rec.data() + f.offset, 0, 4);
            else std::memset(rec.data() + f.offset, ' ', f.width);
          } else {
            uint32_t block = newFpt->Write(memo, f.type == 'M' ? 1 : 0);
            if (f.width == 4) {
              for (int k = 0; k < 4; ++k) rec[f.offset + k] = static_cast<uint8_t>(block >> (8 * k));
            } else {
              std::string t = std::to_string(block);
              std::string padded = std::string(f.width - std::min<size_t>(f.width, t.size()), ' ') + t;
              std::memcpy(rec.data() + f.offset, padded.data(), f.width);
            }
          }
        }
      }
      out.insert(out.end(), rec.begin(), rec.end());
      ++kept;
      if (out.size() >= (1u << 20)) {
        PWriteAll(fd, out.data(), out.size(), written, tmpDbf);
        written += out.size();
        out.clear();
      }
    }
    out.push_back(0x1A);
    PWriteAll(fd, out.data(), out.size(), written, tmpDbf);
    for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<uint8_t>(kept >> (8 * i));
    PWriteAll(fd, header.data(), hdrLen, 0, tmpDbf);
    SyncFile(fd, tmpDbf);
    if (newFpt) {
      newFpt->Flush(true);
      newFpt->Close();
    }
    // 2. The journal says both copies are complete; from here on an interrupted pack is
    //    finished by the next open instead of being thrown away.
    AtomicReplaceFile(journal, "pack\n");
    MarkIndexesDirty();
  } catch (...) {
    cleanup();
    throw;
  }

  // 3. Move the copies into place. The descriptor of the packed table keeps the lock.
  if (!tmpFpt.empty() && ::rename(tmpFpt.c_str(), fptPath.c_str()) != 0) {
    ::close(fd);
    ThrowXb(core::ecTableWriteFailed, "Cannot replace " + fptPath + ": " + SystemErrorText(errno));
  }
  if (::rename(tmpDbf.c_str(), dbfPath.c_str()) != 0) {
    ::close(fd);
    ThrowXb(core::ecTableWriteFailed, "Cannot replace " + dbfPath + ": " + SystemErrorText(errno));
  }
  SyncDirectoryOf(dbfPath);
  ::unlink(journal.c_str());
  SyncDirectoryOf(dbfPath);

  // 4. Continue on the packed files; the indexes are rebuilt from them.
  dbf_.OpenLocked(fd, dbfPath, OpenMode::Exclusive);
  if (fpt_) {
    fpt_ = std::make_unique<FptFile>();
    fpt_->Open(fptPath, true);
  }
  blank_.assign(dbf_.RecordLength(), ' ');
  rec_ = blank_;
  Reindex();
  GoTop();
}

}  // namespace qv::tables
