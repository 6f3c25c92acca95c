#pragma once

// Writers for small test pictures (BMP, TIFF, PCX, DCX) built from bit rows (1 = black).

#include <cstdint>
#include <string>
#include <vector>

#include "test_util.h"

namespace qv::faximage::testing {

using BitRows = std::vector<std::vector<uint8_t>>;  // each row (width + 7) / 8 bytes, 1 = black

inline void put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
inline void put32(std::vector<uint8_t>& v, uint32_t x) {
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}

// A 1-bit BMP. whiteIsOne: palette entry 1 is white (bits inverted on disk).
inline std::vector<uint8_t> MakeBmp1(int w, const BitRows& rows, bool whiteIsOne = true,
                                     bool topDown = false) {
  int h = static_cast<int>(rows.size());
  int stride = (w + 31) / 32 * 4;
  std::vector<uint8_t> v = {'B', 'M'};
  put32(v, static_cast<uint32_t>(62 + stride * h));
  put32(v, 0);
  put32(v, 62);
  put32(v, 40);
  put32(v, static_cast<uint32_t>(w));
  put32(v, static_cast<uint32_t>(topDown ? -h : h));
  put16(v, 1);
  put16(v, 1);
  put32(v, 0);
  put32(v, static_cast<uint32_t>(stride * h));
  put32(v, 2835);
  put32(v, 2835);
  put32(v, 2);
  put32(v, 0);
  if (whiteIsOne) { put32(v, 0); put32(v, 0xFFFFFF); }
  else { put32(v, 0xFFFFFF); put32(v, 0); }
  for (int i = 0; i < h; ++i) {
    const auto& r = rows[static_cast<size_t>(topDown ? i : h - 1 - i)];
    for (int b = 0; b < stride; ++b) {
      uint8_t byte = b < static_cast<int>(r.size()) ? r[static_cast<size_t>(b)] : 0;
      v.push_back(whiteIsOne ? static_cast<uint8_t>(~byte) : byte);
    }
  }
  return v;
}

// A 24-bit BMP from grey levels (0..255 per pixel, row-major, top row first).
inline std::vector<uint8_t> MakeBmp24(int w, int h, const std::vector<uint8_t>& grey) {
  int stride = (w * 3 + 3) / 4 * 4;
  std::vector<uint8_t> v = {'B', 'M'};
  put32(v, static_cast<uint32_t>(54 + stride * h));
  put32(v, 0);
  put32(v, 54);
  put32(v, 40);
  put32(v, static_cast<uint32_t>(w));
  put32(v, static_cast<uint32_t>(h));
  put16(v, 1);
  put16(v, 24);
  for (int i = 0; i < 6; ++i) put32(v, 0);
  for (int y = h - 1; y >= 0; --y) {
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) v.push_back(grey[static_cast<size_t>(y * w + x)]);
    for (int p = w * 3; p < stride; ++p) v.push_back(0);
  }
  return v;
}

inline std::vector<uint8_t> PackBits(const std::vector<uint8_t>& row) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < row.size()) {
    size_t run = 1;
    while (i + run < row.size() && row[i + run] == row[i] && run < 128) ++run;
    if (run >= 2) {
      out.push_back(static_cast<uint8_t>(1 - static_cast<int>(run)));
      out.push_back(row[i]);
      i += run;
    } else {
      size_t lit = 1;
      while (i + lit < row.size() && lit < 128 &&
             !(i + lit + 1 < row.size() && row[i + lit] == row[i + lit + 1]))
        ++lit;
      out.push_back(static_cast<uint8_t>(lit - 1));
      out.insert(out.end(), row.begin() + static_cast<long>(i), row.begin() + static_cast<long>(i + lit));
      i += lit;
    }
  }
  return out;
}

struct TiffOptions {
  bool BigEndian = false;
  bool PackBits = false;
  int Photometric = 0;  // 0: 0 is white; 1: 0 is black
  int RowsPerStrip = 0;  // 0: one strip
  int BitsPerSample = 1;
  int Compression = -1;  // -1: from PackBits
};

inline std::vector<uint8_t> MakeTiff(int w, const BitRows& rows, const TiffOptions& o = {}) {
  int h = static_cast<int>(rows.size());
  int rps = o.RowsPerStrip > 0 ? o.RowsPerStrip : h;
  std::vector<uint8_t> v;
  auto p16 = [&](uint32_t x) {
    if (o.BigEndian) { v.push_back(static_cast<uint8_t>(x >> 8)); v.push_back(static_cast<uint8_t>(x)); }
    else put16(v, x);
  };
  auto p32 = [&](uint32_t x) {
    if (o.BigEndian) { p16(x >> 16); p16(x & 0xFFFF); }
    else put32(v, x);
  };
  v.push_back(o.BigEndian ? 'M' : 'I');
  v.push_back(o.BigEndian ? 'M' : 'I');
  p16(42);
  p32(8);
  // Strips first (after the directory, placed later), so build them separately.
  std::vector<std::vector<uint8_t>> strips;
  for (int y = 0; y < h; y += rps) {
    std::vector<uint8_t> s;
    for (int r = y; r < std::min(h, y + rps); ++r) {
      std::vector<uint8_t> row = rows[static_cast<size_t>(r)];
      if (o.Photometric == 1) for (auto& b : row) b = static_cast<uint8_t>(~b);
      if (o.PackBits) { auto pb = PackBits(row); s.insert(s.end(), pb.begin(), pb.end()); }
      else s.insert(s.end(), row.begin(), row.end());
    }
    strips.push_back(s);
  }
  const int nStrips = static_cast<int>(strips.size());
  const int entries = 9;
  uint32_t ifdEnd = 8 + 2 + entries * 12 + 4;
  uint32_t offArray = ifdEnd, cntArray = offArray + (nStrips > 1 ? 4 * nStrips : 0);
  uint32_t data = cntArray + (nStrips > 1 ? 4 * nStrips : 0);
  std::vector<uint32_t> offs, cnts;
  for (auto& s : strips) { offs.push_back(data); cnts.push_back(static_cast<uint32_t>(s.size())); data += static_cast<uint32_t>(s.size()); }
  p16(entries);
  auto entry = [&](int tag, int type, uint32_t count, uint32_t value) {
    p16(static_cast<uint32_t>(tag)); p16(static_cast<uint32_t>(type)); p32(count);
    if (type == 3 && count == 1) { p16(value); p16(0); }
    else p32(value);
  };
  int comp = o.Compression >= 0 ? o.Compression : (o.PackBits ? 32773 : 1);
  entry(256, 4, 1, static_cast<uint32_t>(w));
  entry(257, 4, 1, static_cast<uint32_t>(h));
  entry(258, 3, 1, static_cast<uint32_t>(o.BitsPerSample));
  entry(259, 3, 1, static_cast<uint32_t>(comp));
  entry(262, 3, 1, static_cast<uint32_t>(o.Photometric));
  entry(273, 4, static_cast<uint32_t>(nStrips), nStrips > 1 ? offArray : offs[0]);
  entry(277, 3, 1, 1);
  entry(278, 4, 1, static_cast<uint32_t>(rps));
  entry(279, 4, static_cast<uint32_t>(nStrips), nStrips > 1 ? cntArray : cnts[0]);
  p32(0);
  if (nStrips > 1) { for (auto x : offs) p32(x); for (auto x : cnts) p32(x); }
  for (auto& s : strips) v.insert(v.end(), s.begin(), s.end());
  return v;
}

// A 1-bit PCX (bits of 1 are white on disk); bytesPerLine defaults to the even row size.
inline std::vector<uint8_t> MakePcx(int w, const BitRows& rows, int bytesPerLine = 0) {
  int bpl = bytesPerLine ? bytesPerLine : ((w + 7) / 8 + 1) / 2 * 2;
  std::vector<uint8_t> v(128, 0);
  v[0] = 10; v[1] = 5; v[2] = 1; v[3] = 1;
  v[8] = static_cast<uint8_t>((w - 1) & 0xFF); v[9] = static_cast<uint8_t>((w - 1) >> 8);
  int h = static_cast<int>(rows.size());
  v[10] = static_cast<uint8_t>((h - 1) & 0xFF); v[11] = static_cast<uint8_t>((h - 1) >> 8);
  v[65] = 1;
  v[66] = static_cast<uint8_t>(bpl & 0xFF); v[67] = static_cast<uint8_t>(bpl >> 8);
  v[68] = 1;
  for (const auto& r : rows) {
    std::vector<uint8_t> line(static_cast<size_t>(bpl), 0xFF);
    for (size_t b = 0; b < r.size() && b < line.size(); ++b) line[b] = static_cast<uint8_t>(~r[b]);
    // Padding bits of the last image byte stay white (1) as paint programs write them.
    if (w % 8) line[static_cast<size_t>(w / 8)] |= static_cast<uint8_t>(0xFF >> (w % 8));
    for (size_t i = 0; i < line.size();) {
      size_t run = 1;
      while (i + run < line.size() && line[i + run] == line[i] && run < 63) ++run;
      if (run > 1 || line[i] >= 192) { v.push_back(static_cast<uint8_t>(192 | run)); v.push_back(line[i]); }
      else v.push_back(line[i]);
      i += run;
    }
  }
  return v;
}

inline std::vector<uint8_t> MakeDcx(const std::vector<std::vector<uint8_t>>& pcxPages) {
  std::vector<uint8_t> v;
  put32(v, 0x3ADE68B1);
  uint32_t at = 4100;
  for (const auto& p : pcxPages) { put32(v, at); at += static_cast<uint32_t>(p.size()); }
  v.resize(4100, 0);
  for (const auto& p : pcxPages) v.insert(v.end(), p.begin(), p.end());
  return v;
}

// Rows of a test pattern: diagonal stripes and a frame, w pixels wide.
inline BitRows Pattern(int w, int h, int seed = 0) {
  BitRows rows;
  for (int y = 0; y < h; ++y) {
    std::vector<uint8_t> r(static_cast<size_t>((w + 7) / 8), 0);
    for (int x = 0; x < w; ++x) {
      bool on = x == 0 || x == w - 1 || y == 0 || y == h - 1 || ((x + y + seed) / 3) % 4 == 0;
      if (on) r[static_cast<size_t>(x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
    rows.push_back(r);
  }
  return rows;
}

// Expected coded row for an image row placed at `offsetBytes`: margin white pixels first.
inline std::vector<int> PlacedRow(const std::vector<uint8_t>& imageRow, int imageWidth,
                                  int offsetBytes, int margin, int width, bool doubled = false) {
  std::vector<int> px(static_cast<size_t>(width), 0);
  for (int x = margin; x < width; ++x) {
    int rx = doubled ? (x - margin) / 2 : x - margin;  // raster pixel
    int ix = rx - offsetBytes * 8;                       // image pixel
    if (ix >= 0 && ix < imageWidth)
      px[static_cast<size_t>(x)] = (imageRow[static_cast<size_t>(ix >> 3)] >> (7 - (ix & 7))) & 1;
  }
  return px;
}

}  // namespace qv::faximage::testing
