// Shared by the faximage tests: a small T.4 modified Huffman coder written straight from the code
// tables, so decoder tests build their own code streams, plus a page builder for QVF files.
#pragma once

#include <cstdint>
#include <map>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace qv::faximage::testing {

struct CodeText {
  int run;
  const char* bits;
};

inline const CodeText kWhiteCodes[] = {
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
inline const CodeText kBlackCodes[] = {
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
inline const CodeText kExtendedCodes[] = {
    {1792, "00000001000"}, {1856, "00000001100"}, {1920, "00000001101"}, {1984, "000000010010"}, {2048, "000000010011"}, {2112, "000000010100"},
    {2176, "000000010101"}, {2240, "000000010110"}, {2304, "000000010111"}, {2368, "000000011100"}, {2432, "000000011101"}, {2496, "000000011110"},
    {2560, "000000011111"},
};

// Bits in transmission order, packed least significant bit first.
class BitWriter {
 public:
  void bits(const std::string& s) {
    for (char c : s) bit(c == '1');
  }
  void bit(bool one) {
    if (n_ % 8 == 0) bytes_.push_back(0);
    if (one) bytes_.back() |= static_cast<uint8_t>(1u << (n_ % 8));
    ++n_;
  }
  void zeros(int count) {
    for (int i = 0; i < count; ++i) bit(false);
  }
  void alignWithZeros() {
    while (n_ % 8) bit(false);
  }
  void eol() { bits("000000000001"); }
  // Fill so that the EOL's final 1 is the last bit of a byte.
  void alignedEol() {
    while ((n_ + 12) % 8) bit(false);
    eol();
  }
  void rtc() {
    for (int i = 0; i < 6; ++i) eol();
  }
  void run(bool black, int length) {
    auto find = [](const CodeText* table, size_t n, int run) -> const char* {
      for (size_t i = 0; i < n; ++i)
        if (table[i].run == run) return table[i].bits;
      return nullptr;
    };
    const CodeText* own = black ? kBlackCodes : kWhiteCodes;
    size_t ownSize = black ? std::size(kBlackCodes) : std::size(kWhiteCodes);
    while (length >= 2560) {
      bits(find(kExtendedCodes, std::size(kExtendedCodes), 2560));
      length -= 2560;
    }
    if (length >= 64) {
      int makeup = length / 64 * 64;
      const char* code = makeup <= 1728 ? find(own, ownSize, makeup)
                                         : find(kExtendedCodes, std::size(kExtendedCodes), makeup);
      bits(code);
      length -= makeup;
    }
    bits(find(own, ownSize, length));
  }
  // Codes the runs of a row (1 = black, leftmost pixel in the high bit) of `width` pixels.
  void row(const std::vector<uint8_t>& pixels, int width) {
    bool black = false;
    int x = 0;
    while (x < width) {
      int start = x;
      while (x < width && (((pixels[static_cast<size_t>(x >> 3)] >> (7 - (x & 7))) & 1) != 0) == black) ++x;
      run(black, x - start);
      black = !black;
    }
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  size_t bitCount() const { return n_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t n_ = 0;
};

inline std::vector<uint8_t> RandomRow(std::mt19937& rng, int width, int blackPercent = 30) {
  std::vector<uint8_t> row(static_cast<size_t>((width + 7) / 8), 0);
  // Runs of random length so that make-up codes and long runs both occur.
  std::uniform_int_distribution<int> len(1, 300), pct(0, 99);
  int x = 0;
  bool black = pct(rng) < blackPercent;
  while (x < width) {
    int n = std::min(width - x, pct(rng) < 80 ? len(rng) % 40 + 1 : len(rng) * 4);
    if (black)
      for (int i = x; i < x + n; ++i) row[static_cast<size_t>(i >> 3)] |= static_cast<uint8_t>(0x80u >> (i & 7));
    x += n;
    black = !black;
  }
  return row;
}

}  // namespace qv::faximage::testing

namespace qv::faximage::testing {

// One coded row as a row record's payload: aligned EOL, the codes, fill, one 0x00 byte.
inline std::vector<uint8_t> CodedRowRecord(const std::vector<uint8_t>& pixels, int width) {
  BitWriter w;
  w.bits("0000000000000001");
  w.row(pixels, width);
  std::vector<uint8_t> out = w.bytes();
  out.push_back(0);
  return out;
}

inline const std::vector<uint8_t> kEndOfPageRecord = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00,
                                                      0x08, 0x80, 0x00, 0x08, 0x80, 0x00};

// Builds QVF files byte by byte, as the format lays them out.
class QvfBuilder {
 public:
  QvfBuilder() {
    bytes_ = {'Q', 'V', 'F', '1', '0', 0x1A};
    bytes_.resize(64, 0);
    bytes_[34] = 64;
  }
  // A converter-style page of row records (end-of-page record appended).
  QvfBuilder& recordPage(const std::vector<std::vector<uint8_t>>& rows, int width, bool fine) {
    std::vector<uint8_t> data;
    auto add = [&data](const std::vector<uint8_t>& rec) {
      data.push_back(static_cast<uint8_t>(rec.size() & 0xFF));
      data.push_back(static_cast<uint8_t>(rec.size() >> 8));
      data.insert(data.end(), rec.begin(), rec.end());
    };
    for (const auto& r : rows) add(CodedRowRecord(r, width));
    add(kEndOfPageRecord);
    return page(data, static_cast<uint16_t>(4 | (fine ? 1 : 0) | (width == 2048 ? 2 : 0)));
  }
  // A receiver-style raw page: EOL before each row, RTC at the end (unless told otherwise).
  QvfBuilder& rawPage(const std::vector<std::vector<uint8_t>>& rows, int width, bool fine,
                      bool rtc = true, int32_t imageLength = -1) {
    BitWriter w;
    for (const auto& r : rows) {
      w.eol();
      w.row(r, width);
    }
    if (rtc) w.rtc();
    return page(w.bytes(), static_cast<uint16_t>((fine ? 1 : 0) | (width == 2048 ? 2 : 0)), imageLength);
  }
  QvfBuilder& page(const std::vector<uint8_t>& data, uint16_t flags, int32_t imageLength = -1) {
    uint32_t len = imageLength < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(imageLength);
    uint8_t header[16] = {static_cast<uint8_t>(len), static_cast<uint8_t>(len >> 8),
                          static_cast<uint8_t>(len >> 16), static_cast<uint8_t>(len >> 24),
                          static_cast<uint8_t>(flags), static_cast<uint8_t>(flags >> 8)};
    bytes_.insert(bytes_.end(), header, header + 16);
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    ++pages_;
    bytes_[32] = static_cast<uint8_t>(pages_);
    bytes_[33] = static_cast<uint8_t>(pages_ >> 8);
    return *this;
  }
  std::vector<uint8_t>& bytes() { return bytes_; }
  void save(const std::string& path) const {
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes_.data(), 1, bytes_.size(), f);
    std::fclose(f);
  }

 private:
  std::vector<uint8_t> bytes_;
  int pages_ = 0;
};

inline std::vector<uint8_t> BlankRow(int width) { return std::vector<uint8_t>(static_cast<size_t>(width / 8), 0); }

inline std::vector<uint8_t> RowWithPixel(int width, int x) {
  auto row = BlankRow(width);
  row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
  return row;
}

}  // namespace qv::faximage::testing
