#include "tables/cdx_file.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <unistd.h>

#include "tables/file_io.h"
#include "tables/xbase_error.h"

namespace qv::tables {

namespace {

constexpr uint32_t kPage = 512;
constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr uint32_t kLeafArea = kPage - 24;  // bytes for entries and keys in a leaf

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
void PutLe16(uint8_t* p, uint16_t v) { p[0] = v & 0xFF; p[1] = v >> 8; }
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// ------------------------------------------------------------------ tree writer
// How many of the last n bytes of a key are the pad byte.
[[gnu::always_inline]] inline size_t TrailingPad(const uint8_t* key, size_t n, uint8_t pad) {
  size_t t = 0;
  if constexpr (std::endian::native == std::endian::little) {
    const uint64_t pattern = 0x0101010101010101ull * pad;
    for (; t + 8 <= n; t += 8) {
      uint64_t x;
      std::memcpy(&x, key + n - t - 8, 8);
      if (x != pattern) return t + static_cast<size_t>(std::countl_zero(x ^ pattern) / 8);
    }
  }
  while (t < n && key[n - 1 - t] == pad) ++t;
  return t;
}

// Appends the pages of a B-tree over `n` sorted entries (key bytes + big-endian record number,
// handed out in order by next(), which gives nullptr after the last) to `out`, whose size is
// the file offset of the first page; returns the root's offset. `maxRec` is the largest record
// number among the entries (it sets the width of the leaves' record fields).
template <class NextEntry>
uint32_t WriteTree(NextEntry next, size_t n, uint32_t maxRec, uint16_t keyLen, uint8_t pad, std::string& out) {
  const size_t esz = static_cast<size_t>(keyLen) + 4;
  const int b = std::bit_width(static_cast<unsigned>(keyLen));
  const int need = std::max(1, static_cast<int>(std::bit_width(std::max<uint32_t>(maxRec, 1))));
  const int nb = std::max(3, (need + 2 * b + 7) / 8);
  const int rb = 8 * nb - 2 * b;
  const uint32_t recMask = rb >= 32 ? 0xFFFFFFFFu : ((1u << rb) - 1);
  const uint32_t smallMask = (1u << b) - 1;

  // The last entry of every leaf, which the level above repeats.
  std::vector<uint8_t> lastOfLeaf;
  struct ChildRef {
    size_t lastEntry;  // index into lastOfLeaf
    uint32_t offset;
  };
  std::vector<ChildRef> level;
  level.reserve(n / 16 + 1);
  lastOfLeaf.reserve((n / 16 + 1) * esz);

  auto newPage = [&]() {
    uint32_t off = static_cast<uint32_t>(out.size());
    out.append(kPage, '\0');
    return off;
  };
  auto page = [&](uint32_t off) { return reinterpret_cast<uint8_t*>(out.data()) + off; };

  // Leaves.
  size_t i = 0;
  const uint8_t* key = n > 0 ? next() : nullptr;
  const uint8_t* prev = nullptr;
  do {
    uint32_t off = newPage();
    uint8_t* p = page(off);
    size_t keys = 0, used = 0;
    size_t keyPos = kPage;
    size_t prevTrail = 0;
    prev = nullptr;  // each leaf starts afresh
    while (key) {
      const size_t trail = TrailingPad(key, keyLen, pad);
      const size_t dup = prev ? CommonKeyPrefix(prev, key, keyLen - std::max(prevTrail, trail)) : 0;
      const size_t stored = keyLen - dup - trail;
      if (used + nb + stored > kLeafArea) break;
      uint64_t v = static_cast<uint64_t>(KeyStore::RecnoOf(key, keyLen)) | (static_cast<uint64_t>(dup) << rb) |
                   (static_cast<uint64_t>(trail) << (rb + b));
      uint8_t* rec = p + 24 + keys * nb;
      if (std::endian::native == std::endian::little && nb == 3) std::memcpy(rec, &v, 3);
      else if (std::endian::native == std::endian::little && nb == 4) std::memcpy(rec, &v, 4);
      else for (int k = 0; k < nb; ++k) rec[k] = static_cast<uint8_t>(v >> (8 * k));
      keyPos -= stored;
      std::memcpy(p + keyPos, key + dup, stored);
      used += nb + stored;
      ++keys;
      prev = key;
      prevTrail = trail;
      ++i;
      key = i < n ? next() : nullptr;
    }
    PutLe16(p + 0, 2);
    PutLe16(p + 2, static_cast<uint16_t>(keys));
    PutLe16(p + 12, static_cast<uint16_t>(kLeafArea - used));
    PutLe32(p + 14, recMask);
    p[18] = static_cast<uint8_t>(smallMask);
    p[19] = static_cast<uint8_t>(smallMask);
    p[20] = static_cast<uint8_t>(rb);
    p[21] = static_cast<uint8_t>(b);
    p[22] = static_cast<uint8_t>(b);
    p[23] = static_cast<uint8_t>(nb);
    if (keys == 0 && n > 0) ThrowXb(core::ecIndexCorrupt, "Index key does not fit a page");
    level.push_back({lastOfLeaf.size() / esz, off});
    if (prev) lastOfLeaf.insert(lastOfLeaf.end(), prev, prev + esz);
    else lastOfLeaf.resize(lastOfLeaf.size() + esz, 0);  // the empty tree's one leaf
  } while (i < n);

  // Interior levels until one node remains.
  const size_t cap = 500 / (static_cast<size_t>(keyLen) + 8);
  while (true) {
    // Sibling links of this level.
    for (size_t k = 0; k < level.size(); ++k) {
      uint8_t* p = page(level[k].offset);
      PutLe32(p + 4, k == 0 ? kNone : level[k - 1].offset);
      PutLe32(p + 8, k + 1 == level.size() ? kNone : level[k + 1].offset);
    }
    if (level.size() == 1) {
      uint8_t* p = page(level[0].offset);
      PutLe16(p, static_cast<uint16_t>(Le16(p) | 1));
      return level[0].offset;
    }
    std::vector<ChildRef> up;
    up.reserve(level.size() / cap + 1);
    for (size_t k = 0; k < level.size(); k += cap) {
      size_t m = std::min(cap, level.size() - k);
      uint32_t off = newPage();
      uint8_t* p = page(off);
      PutLe16(p + 0, 0);
      PutLe16(p + 2, static_cast<uint16_t>(m));
      for (size_t j = 0; j < m; ++j) {
        const ChildRef& c = level[k + j];
        uint8_t* e = p + 12 + j * (keyLen + 8);
        const uint8_t* src = lastOfLeaf.data() + c.lastEntry * esz;
        std::memcpy(e, src, keyLen);
        PutBe32(e + keyLen, KeyStore::RecnoOf(src, keyLen));
        PutBe32(e + keyLen + 4, c.offset);
      }
      up.push_back({level[k + m - 1].lastEntry, off});
    }
    level.swap(up);
  }
}

// The tree of entries held in one flat array.
uint32_t WriteFlatTree(const uint8_t* entries, size_t n, uint16_t keyLen, uint8_t pad, std::string& out) {
  const size_t esz = static_cast<size_t>(keyLen) + 4;
  uint32_t maxRec = 1;
  for (size_t i = 0; i < n; ++i) maxRec = std::max(maxRec, KeyStore::RecnoOf(entries + i * esz, keyLen));
  size_t i = 0;
  return WriteTree([&]() { return entries + (i++) * esz; }, n, maxRec, keyLen, pad, out);
}

// ------------------------------------------------------------------ tree reader
class TreeReader {
 public:
  TreeReader(const std::string& img, uint16_t keyLen, uint8_t pad) : img_(img), keyLen_(keyLen), pad_(pad) {}

  // Appends entries (key + BE recno) in tree order; false on any damage.
  bool Read(uint32_t root, std::vector<uint8_t>& out) {
    out_ = &out;
    return Walk(root, 0);
  }

 private:
  const uint8_t* PageAt(uint32_t off) {
    if (off % kPage != 0 || off < 2 * kPage || static_cast<uint64_t>(off) + kPage > img_.size()) return nullptr;
    return reinterpret_cast<const uint8_t*>(img_.data()) + off;
  }

  bool Walk(uint32_t off, int depth) {
    if (depth > 32) return false;
    if (!visited_.insert(off).second) return false;
    const uint8_t* p = PageAt(off);
    if (!p) return false;
    uint16_t attr = Le16(p);
    uint16_t n = Le16(p + 2);
    if (attr & 2) return Leaf(p, n);
    size_t esz = static_cast<size_t>(keyLen_) + 8;
    if (n == 0 || 12 + n * esz > kPage) return false;
    for (uint16_t k = 0; k < n; ++k) {
      uint32_t child = Be32(p + 12 + k * esz + keyLen_ + 4);
      if (!Walk(child, depth + 1)) return false;
    }
    return true;
  }

  bool Leaf(const uint8_t* p, uint16_t n) {
    uint32_t recMask = Le32(p + 14);
    uint8_t dupMask = p[18], trailMask = p[19];
    int rb = p[20], db = p[21], tb = p[22], nb = p[23];
    if (nb < 1 || nb > 8 || rb + db + tb > 8 * nb || rb > 32) return false;
    if (24 + static_cast<size_t>(n) * nb > kPage) return false;
    std::vector<uint8_t> prev(keyLen_, pad_);
    size_t pos = kPage;
    size_t tableEnd = 24 + static_cast<size_t>(n) * nb;
    std::vector<uint8_t> entry(keyLen_ + 4);
    for (uint16_t k = 0; k < n; ++k) {
      uint64_t v = 0;
      for (int j = 0; j < nb; ++j) v |= static_cast<uint64_t>(p[24 + k * nb + j]) << (8 * j);
      uint32_t recno = static_cast<uint32_t>(v) & recMask;
      int dup = static_cast<int>((v >> rb) & dupMask);
      int trail = static_cast<int>((v >> (rb + db)) & trailMask);
      if (dup + trail > keyLen_) return false;
      size_t stored = static_cast<size_t>(keyLen_ - dup - trail);
      if (pos < tableEnd + stored) return false;
      pos -= stored;
      std::memcpy(entry.data(), prev.data(), static_cast<size_t>(dup));
      std::memcpy(entry.data() + dup, p + pos, stored);
      std::memset(entry.data() + dup + stored, pad_, static_cast<size_t>(trail));
      PutBe32(entry.data() + keyLen_, recno);
      std::memcpy(prev.data(), entry.data(), keyLen_);
      out_->insert(out_->end(), entry.begin(), entry.end());
    }
    return true;
  }

  const std::string& img_;
  uint16_t keyLen_;
  uint8_t pad_;
  std::vector<uint8_t>* out_ = nullptr;
  std::set<uint32_t> visited_;
};

std::string ReadWholeFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) ThrowXb(core::ecTableOpenFailed, "Cannot open index " + path + ": " + SystemErrorText(errno));
  std::string img;
  try {
    uint64_t size = FileSize(fd, path);
    if (size > (1ull << 31)) ThrowXb(core::ecIndexCorrupt, "Index " + path + " is too large");
    img.resize(size);
    if (size) PReadAll(fd, img.data(), size, 0, path);
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
  return img;
}

}  // namespace

// ------------------------------------------------------------------ keys
void EncodeNumberKey(double v, uint8_t* out) {
  if (v == 0 || std::isnan(v)) v = 0;  // -0 sorts as +0
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  if (v >= 0) {
    out[0] |= 0x80;
  } else {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(~out[i]);
  }
}

double DecodeNumberKey(const uint8_t* in) {
  uint8_t b[8];
  std::memcpy(b, in, 8);
  if (b[0] & 0x80) b[0] &= 0x7F;
  else for (auto& x : b) x = static_cast<uint8_t>(~x);
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = (bits << 8) | b[i];
  double v;
  std::memcpy(&v, &bits, 8);
  return v;
}

IndexTag::IndexTag(TagDef def, const std::vector<DbfField>& fields, const ExprSettings* settings)
    : def_(std::move(def)) {
  def_.name = UpperAscii(def_.name);
  if (def_.name.empty() || def_.name.size() > 10)
    ThrowXb(core::ecTableBadArgument, "Tag name \"" + def_.name + "\" must have 1 to 10 characters");
  for (char c : def_.name)
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
      ThrowXb(core::ecTableBadArgument, "Tag name \"" + def_.name + "\" may hold only letters, digits and _");
  if (def_.keyExpr.size() + def_.forExpr.size() + 2 > kPage)
    ThrowXb(core::ecTableBadArgument, "Key and FOR expressions of tag " + def_.name + " are too long");
  key_ = Expression::Compile(def_.keyExpr, fields, settings);
  if (!def_.forExpr.empty()) {
    for_ = Expression::Compile(def_.forExpr, fields, settings);
    if (for_.Type() != XType::Logical)
      ThrowXb(core::ecExprType, "FOR condition \"" + def_.forExpr + "\" of tag " + def_.name + " is not logical");
  }
  switch (key_.Type()) {
    case XType::Char:
      keyLen_ = key_.Width();
      if (keyLen_ < 1 || keyLen_ > 240)
        ThrowXb(core::ecExprType, "Key \"" + def_.keyExpr + "\" of tag " + def_.name + " must be 1 to 240 characters wide");
      break;
    case XType::Num:
    case XType::Date: keyLen_ = 8; break;
    case XType::Logical: keyLen_ = 1; break;
  }
  keys_.Reset(keyLen_);
  forTest_ = for_.AsDeletedTest();
  if (key_.KeyPieces(pieces_)) {
    size_t width = 0;
    for (const KeyPiece& p : pieces_) width += p.width;
    direct_ = key_.Type() != XType::Char || width == keyLen_;
  }
  if (!direct_) pieces_.clear();
}

void IndexTag::Encode(const XValue& v, uint8_t* out) const {
  switch (key_.Type()) {
    case XType::Char: {
      size_t n = std::min<size_t>(v.s.size(), keyLen_);
      std::memcpy(out, v.s.data(), n);
      std::memset(out + n, ' ', keyLen_ - n);
      break;
    }
    case XType::Num: EncodeNumberKey(v.n, out); break;
    case XType::Date: EncodeNumberKey(static_cast<double>(v.d), out); break;
    case XType::Logical: out[0] = v.l ? 'T' : 'F'; break;
  }
}

bool IndexTag::Included(const uint8_t* record, uint32_t recno) const {
  switch (forTest_) {
    case DeletedTest::NotDeleted: return record[0] != '*';
    case DeletedTest::Deleted: return record[0] == '*';
    case DeletedTest::None: break;
  }
  return !for_.Valid() || for_.EvalLogical(record, recno);
}

namespace {
// Copies n bytes, changing the case of the ASCII letters on the way, eight bytes at a time: a
// byte whose low seven bits lie in [first, last] and whose high bit is clear gets 0x20 added or
// taken away.
void CopyWithCase(const uint8_t* src, uint8_t* dst, size_t n, KeyPiece::Case cs) {
  if (cs == KeyPiece::Case::Keep) {
    std::memcpy(dst, src, n);
    return;
  }
  const bool up = cs == KeyPiece::Case::Upper;
  const uint8_t first = up ? 'a' : 'A', last = up ? 'z' : 'Z';
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t x;
    std::memcpy(&x, src + i, 8);
    const uint64_t low = x & ~kHigh;
    const uint64_t atLeastFirst = low + kOnes * (0x80 - first);  // high bit: byte >= first
    const uint64_t aboveLast = low + kOnes * (0x80 - last - 1);  // high bit: byte > last
    const uint64_t letters = atLeastFirst & ~aboveLast & ~x & kHigh;
    const uint64_t flip = letters >> 2;  // 0x20 in every letter
    x = up ? x - flip : x + flip;
    std::memcpy(dst + i, &x, 8);
  }
  for (; i < n; ++i) {
    const uint8_t ch = src[i];
    dst[i] = (ch >= first && ch <= last) ? static_cast<uint8_t>(up ? ch - 32 : ch + 32) : ch;
  }
}
}  // namespace

// Every record of a table passes through here when its tags are built, so the common keys are
// copied from the record without the evaluator; the result is the same bytes Encode() gives.
void IndexTag::WriteKey(const uint8_t* record, uint32_t recno, uint8_t* out) {
  if (!direct_) {
    key_.Eval(record, recno, tmp_);
    Encode(tmp_, out);
    return;
  }
  if (key_.Type() != XType::Char) {
    const KeyPiece& p = pieces_.front();
    const char* src = reinterpret_cast<const char*>(record + p.offset);
    switch (key_.Type()) {
      case XType::Num: EncodeNumberKey(ParseXbNumber(src, p.fieldWidth), out); break;
      case XType::Date: EncodeNumberKey(static_cast<double>(JdnFromDtos(std::string_view(src, p.fieldWidth))), out); break;
      case XType::Logical: out[0] = (*src == 'T' || *src == 't' || *src == 'Y' || *src == 'y') ? 'T' : 'F'; break;
      case XType::Char: break;
    }
    return;
  }
  for (const KeyPiece& p : pieces_) {
    const uint8_t* src = record + p.offset;
    switch (p.kind) {
      case KeyPiece::Kind::Field:
        CopyWithCase(src, out, p.width, p.letterCase);
        break;
      case KeyPiece::Kind::DtosField:
        // A valid date's text is its DTOS(); anything else is the empty date.
        if (JdnFromDtos(std::string_view(reinterpret_cast<const char*>(src), p.fieldWidth)) != 0)
          std::memcpy(out, src, 8);
        else
          std::memset(out, ' ', 8);
        break;
      case KeyPiece::Kind::StrField: {
        const std::string s = XbStr(ParseXbNumber(reinterpret_cast<const char*>(src), p.fieldWidth), p.strLen, p.strDec);
        std::memcpy(out, s.data(), std::min<size_t>(s.size(), p.width));
        break;
      }
      case KeyPiece::Kind::Literal: std::memcpy(out, p.text.data(), p.width); break;
    }
    out += p.width;
  }
}

bool IndexTag::KeyFor(const uint8_t* record, uint32_t recno, uint8_t* keyOut) {
  if (!Included(record, recno)) return false;
  WriteKey(record, recno, keyOut);
  return true;
}

void IndexTag::RawKey(const uint8_t* record, uint32_t recno, uint8_t* keyOut) { WriteKey(record, recno, keyOut); }

std::string IndexTag::SearchKey(const std::string& text, DateFormat fmt) const {
  XValue v;
  switch (key_.Type()) {
    case XType::Char: return text.substr(0, keyLen_);
    case XType::Num: v.n = ParseXbNumber(text.data(), text.size()); break;
    case XType::Date: {
      v.d = JdnFromDtos(text);
      if (v.d == 0) v.d = ParseDate(text, fmt);
      break;
    }
    case XType::Logical: v.l = !text.empty() && (text[0] == 'T' || text[0] == 't' || text[0] == 'Y' || text[0] == 'y'); break;
  }
  std::string out(keyLen_, '\0');
  Encode(v, reinterpret_cast<uint8_t*>(out.data()));
  return out;
}

std::string IndexTag::KeyText(const uint8_t* key) const {
  switch (key_.Type()) {
    case XType::Char: return std::string(reinterpret_cast<const char*>(key), keyLen_);
    case XType::Num: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.10g", DecodeNumberKey(key));
      return buf;
    }
    case XType::Date: return DtosFromJdn(static_cast<int32_t>(DecodeNumberKey(key)));
    case XType::Logical: return std::string(1, static_cast<char>(key[0]));
  }
  return {};
}

// ------------------------------------------------------------------ file
std::unique_ptr<CdxFile> CdxFile::CreateEmpty(const std::string& path) {
  auto f = std::make_unique<CdxFile>();
  f->path_ = path;
  f->dirty_ = true;
  return f;
}

IndexTag* CdxFile::FindTag(const std::string& name) {
  std::string up = UpperAscii(name);
  for (auto& t : tags_)
    if (t->Name() == up) return t.get();
  return nullptr;
}

IndexTag* CdxFile::AddTag(TagDef def, const std::vector<DbfField>& fields, const ExprSettings* settings) {
  auto tag = std::make_unique<IndexTag>(std::move(def), fields, settings);
  MarkDirty();
  for (auto& t : tags_) {
    if (t->Name() == tag->Name()) {
      t = std::move(tag);
      return t.get();
    }
  }
  if (tags_.size() >= 64) ThrowXb(core::ecTableBadArgument, "Index " + path_ + " already holds 64 tags");
  tags_.push_back(std::move(tag));
  return tags_.back().get();
}

std::unique_ptr<CdxFile> CdxFile::Open(const std::string& path, const std::vector<DbfField>& fields,
                                       const ExprSettings* settings, uint32_t recCount,
                                       std::vector<IndexTag*>& staleTags) {
  std::string img = ReadWholeFile(path);
  auto corrupt = [&](const std::string& why) { ThrowXb(core::ecIndexCorrupt, "Index " + path + " is damaged: " + why); };
  if (img.size() < 3 * kPage) corrupt("the file is too short");
  const auto* u = reinterpret_cast<const uint8_t*>(img.data());
  bool marked = std::memcmp(u + 16, kCdxDirtyMark, 4) == 0;

  // Tag directory: tag names with the offsets of their headers.
  std::vector<uint8_t> dir;
  TreeReader dirReader(img, 10, ' ');
  if (Le16(u + 12) != 10 || !dirReader.Read(Le32(u), dir)) corrupt("the tag directory cannot be read");
  struct DirEntry {
    std::string name;
    uint32_t offset;
  };
  std::vector<DirEntry> entries;
  for (size_t k = 0; k + 14 <= dir.size(); k += 14) {
    std::string name(reinterpret_cast<const char*>(dir.data() + k), 10);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
    entries.push_back({name, KeyStore::RecnoOf(dir.data() + k, 10)});
  }
  if (entries.size() > 64) corrupt("too many tags");
  std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) { return a.offset < b.offset; });

  auto f = std::make_unique<CdxFile>();
  f->path_ = path;
  for (const auto& e : entries) {
    if (e.offset % kPage != 0 || static_cast<uint64_t>(e.offset) + 2 * kPage > img.size())
      corrupt("tag " + e.name + " lies outside the file");
    const uint8_t* h = u + e.offset;
    const char* pool = reinterpret_cast<const char*>(h + kPage);
    size_t keyEnd = strnlen(pool, kPage);
    std::string keyExpr(pool, keyEnd);
    std::string forExpr;
    if (keyEnd + 1 < kPage) forExpr = std::string(pool + keyEnd + 1, strnlen(pool + keyEnd + 1, kPage - keyEnd - 1));
    if (keyExpr.empty()) corrupt("tag " + e.name + " has no key expression");
    TagDef def;
    def.name = e.name;
    def.keyExpr = keyExpr;
    def.forExpr = forExpr;
    def.descending = Le16(h + 502) != 0;
    def.unique = (h[14] & 0x01) != 0;
    std::unique_ptr<IndexTag> tag;
    try {
      tag = std::make_unique<IndexTag>(def, fields, settings);
    } catch (const EXBaseError& ex) {
      ThrowXb(core::ecIndexCorrupt, "Index " + path + ", tag " + e.name + ": " + ex.what());
    }
    std::vector<uint8_t> keys;
    bool ok = !marked && Le16(h + 12) == tag->KeyLen();
    if (ok) {
      TreeReader r(img, tag->KeyLen(), tag->PadByte());
      ok = r.Read(Le32(h), keys);
    }
    if (ok) {  // keys strictly ascending and pointing at existing records
      size_t esz = tag->KeyLen() + 4u;
      for (size_t k = 0; ok && k < keys.size(); k += esz) {
        uint32_t rn = KeyStore::RecnoOf(keys.data() + k, tag->KeyLen());
        if (rn < 1 || rn > recCount) ok = false;
        if (k > 0 && std::memcmp(keys.data() + k - esz, keys.data() + k, esz) >= 0) ok = false;
      }
    }
    if (ok) tag->Keys().Load(std::move(keys));
    else staleTags.push_back(tag.get());
    f->tags_.push_back(std::move(tag));
  }
  f->dirty_ = !staleTags.empty() || marked;
  f->diskMarked_ = marked;
  return f;
}

void CdxFile::MarkDirty() {
  dirty_ = true;
  if (diskMarked_) return;
  int fd = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {  // nothing on disk yet that could be stale
      diskMarked_ = true;
      return;
    }
    ThrowXb(core::ecTableWriteFailed, "Cannot update index " + path_ + ": " + SystemErrorText(errno));
  }
  try {
    if (FileSize(fd, path_) >= 20) {
      PWriteAll(fd, kCdxDirtyMark, 4, 16, path_);
      if (::fdatasync(fd) != 0 && errno != EINVAL)
        ThrowXb(core::ecTableWriteFailed, "Cannot flush index " + path_ + ": " + SystemErrorText(errno));
    }
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
  diskMarked_ = true;
}

std::string CdxFile::Image() const {
  // Room for every tag uncompressed, so the image is not copied again while it grows.
  size_t estimate = 4 * kPage;
  for (const auto& t : tags_) estimate += 3 * kPage + t->Keys().Size() * (t->KeyLen() + 8u) * 105 / 100;
  std::string out;
  out.reserve(estimate);
  out.assign(2 * kPage, '\0');  // file header, filled in last
  struct DirEntry {
    std::string name;
    uint32_t offset;
  };
  std::vector<DirEntry> dir;
  for (const auto& t : tags_) {
    uint32_t hdr = static_cast<uint32_t>(out.size());
    out.append(2 * kPage, '\0');
    const KeyStore& ks = t->Keys();
    KeyStore::Reader entries(ks);
    uint32_t root = WriteTree([&]() { return entries.Next(); }, ks.Size(), ks.MaxRecno(), t->KeyLen(), t->PadByte(), out);
    auto* h = reinterpret_cast<uint8_t*>(out.data()) + hdr;
    const TagDef& d = t->Def();
    PutLe32(h + 0, root);
    PutLe32(h + 4, 0);
    PutLe16(h + 12, t->KeyLen());
    h[14] = static_cast<uint8_t>(0x60 | (d.forExpr.empty() ? 0 : 0x08) | (d.unique ? 0x01 : 0));
    h[15] = 0x01;
    PutLe16(h + 502, d.descending ? 1 : 0);
    PutLe16(h + 504, static_cast<uint16_t>(d.keyExpr.size() + 1));
    PutLe16(h + 506, static_cast<uint16_t>(d.forExpr.size() + 1));
    PutLe16(h + 508, 0);
    PutLe16(h + 510, static_cast<uint16_t>(d.keyExpr.size() + 1));
    std::memcpy(h + kPage, d.keyExpr.data(), d.keyExpr.size());
    std::memcpy(h + kPage + d.keyExpr.size() + 1, d.forExpr.data(), d.forExpr.size());
    dir.push_back({t->Name(), hdr});
  }
  std::sort(dir.begin(), dir.end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  std::vector<uint8_t> entries(dir.size() * 14, ' ');
  for (size_t k = 0; k < dir.size(); ++k) {
    std::memcpy(entries.data() + k * 14, dir[k].name.data(), dir[k].name.size());
    PutBe32(entries.data() + k * 14 + 10, dir[k].offset);
  }
  uint32_t dirRoot = WriteFlatTree(entries.data(), dir.size(), 10, ' ', out);
  auto* h = reinterpret_cast<uint8_t*>(out.data());
  PutLe32(h + 0, dirRoot);
  PutLe32(h + 4, 0);
  PutLe16(h + 12, 10);
  h[14] = 0xE0;
  h[15] = 0x01;
  PutLe16(h + 504, 1);
  PutLe16(h + 506, 1);
  PutLe16(h + 510, 1);
  return out;
}

void CdxFile::Save() {
  AtomicReplaceFile(path_, Image());
  dirty_ = false;
  diskMarked_ = false;
}

}  // namespace qv::tables
