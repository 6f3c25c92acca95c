#include "tables/key_store.h"

#include <algorithm>

namespace qv::tables {

namespace {
constexpr size_t kChunkEntries = 64;

uint64_t LoadBigEndian(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return std::endian::native == std::endian::little ? __builtin_bswap64(v) : v;
}

// memcmp's sign, eight bytes at a time, inlined: entries of a tag often share long prefixes.
int CompareBytes(const uint8_t* a, const uint8_t* b, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const uint64_t x = LoadBigEndian(a + i), y = LoadBigEndian(b + i);
    if (x != y) return x < y ? -1 : 1;
  }
  for (; i < n; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}
}  // namespace

// Sixteen bytes of an entry after the bytes every entry shares, as two numbers that order like
// them (zeros past the entry's end). The search over chunks mostly compares these, from one
// small array, instead of touching each chunk's memory.
KeyStore::Prefix KeyStore::PrefixOf(const uint8_t* p) const {
  if (shared_ + 16 <= entry_) return {LoadBigEndian(p + shared_), LoadBigEndian(p + shared_ + 8)};
  uint8_t b[16] = {};
  std::memcpy(b, p + shared_, entry_ - shared_);
  return {LoadBigEndian(b), LoadBigEndian(b + 8)};
}

void KeyStore::RefreshPrefix(size_t chunk) {
  const auto& c = chunks_[chunk];
  lastPrefix_[chunk] = PrefixOf(c.data() + c.size() - entry_);
}

void KeyStore::RefreshAllPrefixes() {
  lastPrefix_.resize(chunks_.size());
  for (size_t k = 0; k < chunks_.size(); ++k) RefreshPrefix(k);
}

// Sets the shared leading key bytes from the first and last entries of a sorted list (all
// entries between them have those bytes too).
void KeyStore::ShareFrom(const uint8_t* first, const uint8_t* last) {
  shared_ = CommonKeyPrefix(first, last, keyLen_);
  sharedBytes_.assign(first, first + shared_);
  RefreshAllPrefixes();
}

void KeyStore::Reset(uint16_t keyLen) {
  keyLen_ = keyLen;
  entry_ = static_cast<size_t>(keyLen) + 4;
  Clear();
}

void KeyStore::Clear() {
  chunks_.clear();
  lastPrefix_.clear();
  shared_ = 0;
  sharedBytes_.clear();
  size_ = 0;
  ++version_;
  maxRecno_ = 0;
  maxKnown_ = true;
}

uint32_t KeyStore::MaxRecno() const {
  if (!maxKnown_) {
    maxRecno_ = 0;
    for (const auto& c : chunks_)
      for (size_t off = 0; off < c.size(); off += entry_) maxRecno_ = std::max(maxRecno_, RecnoOf(c.data() + off, keyLen_));
    maxKnown_ = true;
  }
  return maxRecno_;
}

size_t KeyStore::ChunkFor(const uint8_t* probe, size_t len, bool upper) const {
  // First chunk whose last entry is >= probe (or > probe for upper bounds).
  const bool byNumber = !chunks_.empty() && (len >= shared_ + 16 || len == entry_);
  Prefix probePrefix{};
  if (byNumber) {
    const int c = CompareBytes(probe, sharedBytes_.data(), shared_);
    if (c < 0) return 0;                // before every entry
    if (c > 0) return chunks_.size();   // after every entry
    probePrefix = PrefixOf(probe);
  }
  size_t lo = 0, hi = chunks_.size();
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    int cmp;
    const Prefix& last = lastPrefix_[mid];
    if (byNumber && (last.hi != probePrefix.hi || last.lo != probePrefix.lo)) {
      cmp = last.hi != probePrefix.hi ? (last.hi < probePrefix.hi ? -1 : 1) : (last.lo < probePrefix.lo ? -1 : 1);
    } else {
      const auto& c = chunks_[mid];
      cmp = CompareBytes(c.data() + c.size() - entry_, probe, len);
    }
    if (upper ? cmp > 0 : cmp >= 0) hi = mid;
    else lo = mid + 1;
  }
  return lo;
}

KeyStore::Pos KeyStore::LowerBound(const uint8_t* probe, size_t len) const {
  size_t ci = ChunkFor(probe, len, false);
  if (ci >= chunks_.size()) return End();
  const auto& c = chunks_[ci];
  size_t lo = 0, hi = c.size() / entry_;
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if (CompareBytes(c.data() + mid * entry_, probe, len) >= 0) hi = mid;
    else lo = mid + 1;
  }
  return {ci, lo};
}

KeyStore::Pos KeyStore::UpperBound(const uint8_t* probe, size_t len) const {
  size_t ci = ChunkFor(probe, len, true);
  if (ci >= chunks_.size()) return End();
  const auto& c = chunks_[ci];
  size_t lo = 0, hi = c.size() / entry_;
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if (CompareBytes(c.data() + mid * entry_, probe, len) > 0) hi = mid;
    else lo = mid + 1;
  }
  return {ci, lo};
}

bool KeyStore::Insert(const uint8_t* entry) {
  ++version_;
  maxRecno_ = std::max(maxRecno_, RecnoOf(entry, keyLen_));  // an entry already there has it too
  if (chunks_.empty()) {
    chunks_.emplace_back(entry, entry + entry_);
    ShareFrom(entry, entry);
    ++size_;
    return true;
  }
  if (const size_t common = CommonKeyPrefix(entry, sharedBytes_.data(), shared_); common < shared_) {
    shared_ = common;  // fewer bytes are shared now: every chunk's numbers move
    sharedBytes_.resize(common);
    RefreshAllPrefixes();
  }
  Pos p = LowerBound(entry, entry_);
  if (p.chunk >= chunks_.size()) {  // after everything: append to the last chunk
    p.chunk = chunks_.size() - 1;
    p.index = chunks_[p.chunk].size() / entry_;
  } else if (CompareBytes(At(p), entry, entry_) == 0) {
    return false;
  }
  auto& c = chunks_[p.chunk];
  c.insert(c.begin() + static_cast<std::ptrdiff_t>(p.index * entry_), entry, entry + entry_);
  ++size_;
  if (c.size() / entry_ > kChunkEntries) {
    size_t half = (c.size() / entry_ / 2) * entry_;
    std::vector<uint8_t> tail(c.begin() + static_cast<std::ptrdiff_t>(half), c.end());
    c.resize(half);
    chunks_.insert(chunks_.begin() + static_cast<std::ptrdiff_t>(p.chunk) + 1, std::move(tail));
    lastPrefix_.insert(lastPrefix_.begin() + static_cast<std::ptrdiff_t>(p.chunk) + 1, Prefix{});
    RefreshPrefix(p.chunk + 1);
  }
  RefreshPrefix(p.chunk);
  return true;
}

bool KeyStore::Erase(const uint8_t* entry) {
  Pos p = LowerBound(entry, entry_);
  if (AtEnd(p) || CompareBytes(At(p), entry, entry_) != 0) return false;
  ++version_;
  if (RecnoOf(At(p), keyLen_) == maxRecno_) maxKnown_ = false;
  auto& c = chunks_[p.chunk];
  c.erase(c.begin() + static_cast<std::ptrdiff_t>(p.index * entry_),
          c.begin() + static_cast<std::ptrdiff_t>((p.index + 1) * entry_));
  --size_;
  if (c.empty()) {
    chunks_.erase(chunks_.begin() + static_cast<std::ptrdiff_t>(p.chunk));
    lastPrefix_.erase(lastPrefix_.begin() + static_cast<std::ptrdiff_t>(p.chunk));
  } else {
    RefreshPrefix(p.chunk);
  }
  return true;
}

void KeyStore::Load(std::vector<uint8_t> sorted) {
  Clear();
  size_t n = sorted.size() / entry_;
  size_ = n;
  maxKnown_ = n == 0;
  for (size_t i = 0; i < n; i += kChunkEntries / 2 + kChunkEntries / 4) {
    size_t m = std::min(n - i, kChunkEntries / 2 + kChunkEntries / 4);
    chunks_.emplace_back(sorted.begin() + static_cast<std::ptrdiff_t>(i * entry_),
                         sorted.begin() + static_cast<std::ptrdiff_t>((i + m) * entry_));
  }
  if (n > 0) ShareFrom(chunks_.front().data(), chunks_.back().data() + chunks_.back().size() - entry_);
}

void KeyStore::LoadGathered(const uint8_t* base, const std::vector<uint32_t>& order) {
  Clear();
  const size_t n = order.size();
  const size_t per = kChunkEntries / 2 + kChunkEntries / 4;
  size_ = n;
  for (size_t i = 0; i < n; i += per) {
    const size_t m = std::min(n - i, per);
    std::vector<uint8_t>& c = chunks_.emplace_back(m * entry_);
    for (size_t j = 0; j < m; ++j) {
      maxRecno_ = std::max(maxRecno_, RecnoOf(base + static_cast<size_t>(order[i + j]) * entry_, keyLen_));
      // The entries are scattered over the source: ask for the ones a few steps ahead early.
      if (i + j + 8 < n) {
        const uint8_t* ahead = base + static_cast<size_t>(order[i + j + 8]) * entry_;
        __builtin_prefetch(ahead);
        __builtin_prefetch(ahead + entry_ - 1);
      }
      std::memcpy(c.data() + j * entry_, base + static_cast<size_t>(order[i + j]) * entry_, entry_);
    }
  }
  if (n > 0) ShareFrom(chunks_.front().data(), chunks_.back().data() + chunks_.back().size() - entry_);
}

bool KeyStore::Next(Pos& p) const {
  if (AtEnd(p)) return false;
  if (++p.index >= chunks_[p.chunk].size() / entry_) {
    ++p.chunk;
    p.index = 0;
  }
  return !AtEnd(p);
}

bool KeyStore::Prev(Pos& p) const {
  if (AtEnd(p)) {
    if (chunks_.empty()) return false;
    p = Last();
    return true;
  }
  if (p.index > 0) {
    --p.index;
    return true;
  }
  if (p.chunk == 0) return false;
  --p.chunk;
  p.index = chunks_[p.chunk].size() / entry_ - 1;
  return true;
}

KeyStore::Pos KeyStore::Last() const {
  if (chunks_.empty()) return End();
  return {chunks_.size() - 1, chunks_.back().size() / entry_ - 1};
}

std::vector<uint8_t> KeyStore::Flatten() const {
  std::vector<uint8_t> out;
  out.reserve(size_ * entry_);
  for (const auto& c : chunks_) out.insert(out.end(), c.begin(), c.end());
  return out;
}

}  // namespace qv::tables
