#pragma once
// A TIFF file held in memory, for libtiff in the coder benchmarks (no disk in the timed loops).

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qv::bench {

// A TIFF file in memory for libtiff.
struct MemFile {
  std::vector<uint8_t> data;
  toff_t pos = 0;
};
inline tsize_t memRead(thandle_t h, tdata_t buf, tsize_t n) {
  auto* m = static_cast<MemFile*>(h);
  tsize_t k = std::min<tsize_t>(n, static_cast<tsize_t>(m->data.size() - std::min<size_t>(m->pos, m->data.size())));
  if (k > 0) std::memcpy(buf, m->data.data() + m->pos, static_cast<size_t>(k));
  m->pos += static_cast<toff_t>(std::max<tsize_t>(k, 0));
  return k;
}
inline tsize_t memWrite(thandle_t h, tdata_t buf, tsize_t n) {
  auto* m = static_cast<MemFile*>(h);
  if (m->pos + static_cast<toff_t>(n) > m->data.size()) m->data.resize(m->pos + static_cast<toff_t>(n));
  std::memcpy(m->data.data() + m->pos, buf, static_cast<size_t>(n));
  m->pos += static_cast<toff_t>(n);
  return n;
}
inline toff_t memSeek(thandle_t h, toff_t off, int whence) {
  auto* m = static_cast<MemFile*>(h);
  if (whence == SEEK_SET) m->pos = off;
  else if (whence == SEEK_CUR) m->pos += off;
  else m->pos = m->data.size() + off;
  return m->pos;
}
inline int memClose(thandle_t) { return 0; }
inline toff_t memSize(thandle_t h) { return static_cast<MemFile*>(h)->data.size(); }
inline int memMap(thandle_t, tdata_t*, toff_t*) { return 0; }
inline void memUnmap(thandle_t, tdata_t, toff_t) {}

inline TIFF* memOpen(MemFile& m, const char* mode) {
  m.pos = 0;
  return TIFFClientOpen("mem", mode, &m, memRead, memWrite, memSeek, memClose, memSize, memMap, memUnmap);
}

}  // namespace qv::bench
