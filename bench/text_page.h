#pragma once
// The fine text page the coder and fax benchmarks measure with, shared so their figures compare.
#include <cstdint>
#include <random>
#include <vector>

namespace qv::bench {

// A fine-resolution text page: 60 lines of 20 x 32 pixel glyphs from x = 50, as the text
// converter lays them out, over about 2200 rows.
inline std::vector<std::vector<uint8_t>> MakeTextPage() {
  constexpr int kRowBytes = 1728 / 8;
  std::mt19937 rng(2026);
  std::vector<std::vector<uint8_t>> glyphs(96, std::vector<uint8_t>(20 * 32, 0));
  for (auto& g : glyphs) {
    std::uniform_int_distribution<int> strokes(2, 5), pos(2, 16), len(6, 24), dir(0, 1);
    for (int s = strokes(rng); s > 0; --s) {
      int x = pos(rng), y = pos(rng) + 4, n = len(rng);
      bool vertical = dir(rng);
      for (int i = 0; i < n; ++i)
        for (int t = 0; t < 2; ++t) {
          int gx = vertical ? x + t : x + i % 16, gy = vertical ? y + i % 24 : y + t;
          if (gx < 20 && gy < 32) g[static_cast<size_t>(gy * 20 + gx)] = 1;
        }
    }
  }
  std::vector<std::vector<uint8_t>> rows(2200, std::vector<uint8_t>(kRowBytes, 0));
  std::uniform_int_distribution<int> chars(40, 84), glyph(0, 95), space(0, 99);
  for (int line = 0; line < 60; ++line) {
    int count = chars(rng);
    for (int c = 0; c < count; ++c) {
      if (space(rng) < 16) continue;
      const auto& g = glyphs[static_cast<size_t>(glyph(rng))];
      for (int gy = 0; gy < 32; ++gy)
        for (int gx = 0; gx < 20; ++gx)
          if (g[static_cast<size_t>(gy * 20 + gx)]) {
            int x = 50 + c * 20 + gx, y = 100 + line * 32 + gy;
            rows[static_cast<size_t>(y)][static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
          }
    }
  }
  return rows;
}

}  // namespace qv::bench
