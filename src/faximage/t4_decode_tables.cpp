#include "faximage/t4_decode_tables.h"

#include <cstddef>

namespace qv::faximage {
namespace {

// The modified Huffman codes in transmission order (first bit leftmost). The decoders keep their
// own copy because they need the codes as lookup tables, not as bit patterns to emit.
struct CodeText {
  int run;
  const char* bits;
};

const CodeText kWhiteCodes[] = {
    {0, "00110101"}, {1, "000111"}, {2, "0111"}, {3, "1000"}, {4, "1011"}, {5, "1100"},
    {6, "1110"}, {7, "1111"}, {8, "10011"}, {9, "10100"}, {10, "00111"}, {11, "01000"},
    {12, "001000"}, {13, "000011"}, {14, "110100"}, {15, "110101"}, {16, "101010"}, {17, "101011"},
    {18, "0100111"}, {19, "0001100"}, {20, "0001000"}, {21, "0010111"}, {22, "0000011"}, {23, "0000100"},
    {24, "0101000"}, {25, "0101011"}, {26, "0010011"}, {27, "0100100"}, {28, "0011000"}, {29, "00000010"},
    {30, "00000011"}, {31, "00011010"}, {32, "00011011"}, {33, "00010010"}, {34, "00010011"}, {35, "00010100"},
    {36, "00010101"}, {37, "00010110"}, {38, "00010111"}, {39, "00101000"}, {40, "00101001"}, {41, "00101010"},
    {42, "00101011"}, {43, "00101100"}, {44, "00101101"}, {45, "00000100"}, {46, "00000101"}, {47, "00001010"},
    {48, "00001011"}, {49, "01010010"}, {50, "01010011"}, {51, "01010100"}, {52, "01010101"}, {53, "00100100"},
    {54, "00100101"}, {55, "01011000"}, {56, "01011001"}, {57, "01011010"}, {58, "01011011"}, {59, "01001010"},
    {60, "01001011"}, {61, "00110010"}, {62, "00110011"}, {63, "00110100"}, {64, "11011"}, {128, "10010"},
    {192, "010111"}, {256, "0110111"}, {320, "00110110"}, {384, "00110111"}, {448, "01100100"}, {512, "01100101"},
    {576, "01101000"}, {640, "01100111"}, {704, "011001100"}, {768, "011001101"}, {832, "011010010"}, {896, "011010011"},
    {960, "011010100"}, {1024, "011010101"}, {1088, "011010110"}, {1152, "011010111"}, {1216, "011011000"}, {1280, "011011001"},
    {1344, "011011010"}, {1408, "011011011"}, {1472, "010011000"}, {1536, "010011001"}, {1600, "010011010"}, {1664, "011000"},
    {1728, "010011011"},
};
const CodeText kBlackCodes[] = {
    {0, "0000110111"}, {1, "010"}, {2, "11"}, {3, "10"}, {4, "011"}, {5, "0011"},
    {6, "0010"}, {7, "00011"}, {8, "000101"}, {9, "000100"}, {10, "0000100"}, {11, "0000101"},
    {12, "0000111"}, {13, "00000100"}, {14, "00000111"}, {15, "000011000"}, {16, "0000010111"}, {17, "0000011000"},
    {18, "0000001000"}, {19, "00001100111"}, {20, "00001101000"}, {21, "00001101100"}, {22, "00000110111"}, {23, "00000101000"},
    {24, "00000010111"}, {25, "00000011000"}, {26, "000011001010"}, {27, "000011001011"}, {28, "000011001100"}, {29, "000011001101"},
    {30, "000001101000"}, {31, "000001101001"}, {32, "000001101010"}, {33, "000001101011"}, {34, "000011010010"}, {35, "000011010011"},
    {36, "000011010100"}, {37, "000011010101"}, {38, "000011010110"}, {39, "000011010111"}, {40, "000001101100"}, {41, "000001101101"},
    {42, "000011011010"}, {43, "000011011011"}, {44, "000001010100"}, {45, "000001010101"}, {46, "000001010110"}, {47, "000001010111"},
    {48, "000001100100"}, {49, "000001100101"}, {50, "000001010010"}, {51, "000001010011"}, {52, "000000100100"}, {53, "000000110111"},
    {54, "000000111000"}, {55, "000000100111"}, {56, "000000101000"}, {57, "000001011000"}, {58, "000001011001"}, {59, "000000101011"},
    {60, "000000101100"}, {61, "000001011010"}, {62, "000001100110"}, {63, "000001100111"}, {64, "0000001111"}, {128, "000011001000"},
    {192, "000011001001"}, {256, "000001011011"}, {320, "000000110011"}, {384, "000000110100"}, {448, "000000110101"}, {512, "0000001101100"},
    {576, "0000001101101"}, {640, "0000001001010"}, {704, "0000001001011"}, {768, "0000001001100"}, {832, "0000001001101"}, {896, "0000001110010"},
    {960, "0000001110011"}, {1024, "0000001110100"}, {1088, "0000001110101"}, {1152, "0000001110110"}, {1216, "0000001110111"}, {1280, "0000001010010"},
    {1344, "0000001010011"}, {1408, "0000001010100"}, {1472, "0000001010101"}, {1536, "0000001011010"}, {1600, "0000001011011"}, {1664, "0000001100100"},
    {1728, "0000001100101"},
};
const CodeText kExtendedCodes[] = {
    {1792, "00000001000"}, {1856, "00000001100"}, {1920, "00000001101"}, {1984, "000000010010"}, {2048, "000000010011"}, {2112, "000000010100"},
    {2176, "000000010101"}, {2240, "000000010110"}, {2304, "000000010111"}, {2368, "000000011100"}, {2432, "000000011101"}, {2496, "000000011110"},
    {2560, "000000011111"},
};

}  // namespace

T4DecodeTables::T4DecodeTables() : white(build(false, kWhiteBits)), black(build(true, kBlackBits)) {
  single = white;
  single.insert(single.end(), black.begin(), black.end());
  multi = buildMulti(false);
  const std::vector<T4DecodeMulti> blackMulti = buildMulti(true);
  multi.insert(multi.end(), blackMulti.begin(), blackMulti.end());
}

std::vector<T4DecodeMulti> T4DecodeTables::buildMulti(bool blackFirst) const {
  std::vector<T4DecodeMulti> table(size_t{1} << kMultiBits);
  for (uint32_t index = 0; index < table.size(); ++index) {
    T4DecodeMulti m{0, 0, 0, 0, 0};
    bool isBlack = blackFirst;
    for (;;) {
      const int left = kMultiBits - m.bits;
      const uint32_t rest = index >> m.bits;
      if (left <= 0 || (rest & ((1u << kEolZeros) - 1)) == 0) break;  // EOL or fill may begin
      const T4DecodeEntry& e = isBlack ? black[rest] : white[rest];  // bits above `left` read as 0
      if (e.kind != kCodeRun || e.bits > left || e.run >= 64 || m.pixels + e.run > kMultiPixels) break;
      if (isBlack && e.run > 0) m.pattern |= (~uint32_t{0} << (32 - e.run)) >> m.pixels;
      m.bits = static_cast<uint8_t>(m.bits + e.bits);
      m.pixels = static_cast<uint8_t>(m.pixels + e.run);
      ++m.codes;
      isBlack = !isBlack;
    }
    if (m.codes == 0) m.bits = kNoMulti;
    m.flip = m.codes & 1;
    table[index] = m;
  }
  return table;
}

std::vector<T4DecodeEntry> T4DecodeTables::build(bool black, int tableBits) {
  struct Node {
    int child[2] = {-1, -1};
    int leafKind = -1;  // -1 inner, kCodeRun or kCodeEol
    int run = 0;
  };
  std::vector<Node> tree(1);
  auto insert = [&tree](const char* bits, int kind, int run) {
    int node = 0;
    for (const char* c = bits; *c; ++c) {
      int b = *c - '0';
      if (tree[static_cast<size_t>(node)].child[b] < 0) {
        tree[static_cast<size_t>(node)].child[b] = static_cast<int>(tree.size());
        tree.emplace_back();
      }
      node = tree[static_cast<size_t>(node)].child[b];
    }
    tree[static_cast<size_t>(node)].leafKind = kind;
    tree[static_cast<size_t>(node)].run = run;
  };
  if (black)
    for (const auto& c : kBlackCodes) insert(c.bits, kCodeRun, c.run);
  else
    for (const auto& c : kWhiteCodes) insert(c.bits, kCodeRun, c.run);
  for (const auto& c : kExtendedCodes) insert(c.bits, kCodeRun, c.run);
  insert("000000000001", kCodeEol, 0);

  std::vector<T4DecodeEntry> table(size_t{1} << tableBits);
  for (uint32_t index = 0; index < table.size(); ++index) {
    T4DecodeEntry e{0, 0, kCodeZeros};
    int node = 0;
    for (int k = 0; k < tableBits; ++k) {
      int next = tree[static_cast<size_t>(node)].child[(index >> k) & 1];
      if (next < 0) {
        e = T4DecodeEntry{0, static_cast<uint8_t>(k + 1), kCodeInvalid};
        break;
      }
      const Node& n = tree[static_cast<size_t>(next)];
      if (n.leafKind >= 0) {
        e = T4DecodeEntry{static_cast<uint16_t>(n.run), static_cast<uint8_t>(k + 1),
                  static_cast<uint8_t>(n.leafKind)};
        break;
      }
      node = next;
    }
    table[index] = e;  // kCodeZeros only where the first eleven bits are 0: never looked up
  }
  return table;
}

const T4DecodeTables& T4DecodingTables() {
  static const T4DecodeTables t;
  return t;
}

}  // namespace qv::faximage
