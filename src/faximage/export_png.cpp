#include "faximage/export_png.h"

#include <array>

#include "faximage/buffered_writer.h"
#include "faximage/unpacker_bitmap.h"

namespace qv::faximage {

namespace {

class DeflateBits {
 public:
  explicit DeflateBits(std::vector<uint8_t>& out) : out_(out) {}
  void put(uint32_t value, int bits) {  // least significant bit first
    acc_ |= static_cast<uint64_t>(value) << n_;
    n_ += bits;
    while (n_ >= 8) {
      out_.push_back(static_cast<uint8_t>(acc_));
      acc_ >>= 8;
      n_ -= 8;
    }
  }
  // Huffman codes go out most significant bit first.
  void code(uint32_t code, int bits) {
    uint32_t r = 0;
    for (int i = 0; i < bits; ++i) r |= ((code >> i) & 1) << (bits - 1 - i);
    put(r, bits);
  }
  void flush() {
    if (n_ > 0) put(0, 8 - n_);
  }

 private:
  std::vector<uint8_t>& out_;
  uint64_t acc_ = 0;
  int n_ = 0;
};

void Symbol(DeflateBits& bits, int sym) {
  if (sym < 144) bits.code(0x30 + sym, 8);
  else if (sym < 256) bits.code(0x190 + sym - 144, 9);
  else if (sym < 280) bits.code(sym - 256, 7);
  else bits.code(0xC0 + sym - 280, 8);
}

void Match(DeflateBits& bits, int length) {  // distance 1
  static constexpr std::array<int, 29> kBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  static constexpr std::array<int, 29> kExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  int i = 28;
  while (kBase[static_cast<size_t>(i)] > length) --i;
  Symbol(bits, 257 + i);
  if (kExtra[static_cast<size_t>(i)]) bits.put(static_cast<uint32_t>(length - kBase[static_cast<size_t>(i)]), kExtra[static_cast<size_t>(i)]);
  bits.code(0, 5);  // distance code 0: distance 1
}

uint32_t Crc32(const uint8_t* data, size_t n, uint32_t crc = 0) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void PutBe32(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}

void Chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
  PutBe32(png, static_cast<uint32_t>(data.size()));
  size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  PutBe32(png, Crc32(png.data() + start, png.size() - start));
}

}  // namespace

std::vector<uint8_t> ZlibCompress(std::span<const uint8_t> data) {
  std::vector<uint8_t> out = {0x78, 0x01};
  DeflateBits bits(out);
  bits.put(1, 1);  // final block
  bits.put(1, 2);  // fixed Huffman codes
  size_t i = 0;
  while (i < data.size()) {
    Symbol(bits, data[i]);
    size_t run = 0;
    while (i + 1 + run < data.size() && data[i + 1 + run] == data[i]) ++run;
    ++i;
    while (run >= 3) {
      int len = static_cast<int>(std::min<size_t>(run, 258));
      if (run - static_cast<size_t>(len) > 0 && run - static_cast<size_t>(len) < 3) len -= 3;  // keep a valid tail
      Match(bits, len);
      run -= static_cast<size_t>(len);
      i += static_cast<size_t>(len);
    }
  }
  Symbol(bits, 256);
  bits.flush();
  uint32_t a = 1, b = 0;
  for (uint8_t byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBe32(out, (b << 16) | a);
  return out;
}

int UnpackPageToPng(UnpackerState& state, const std::string& inFile, int page, const std::string& outFile) {
  PageBitmap bitmap;
  int rc = UnpackPageFullWidth(state, inFile, page, bitmap);
  if (rc < 0) return rc;

  const size_t rowBytes = static_cast<size_t>((bitmap.width + 7) / 8);
  std::vector<uint8_t> raw;
  raw.reserve((rowBytes + 1) * static_cast<size_t>(bitmap.height));
  for (int y = 0; y < bitmap.height; ++y) {
    raw.push_back(0);  // filter: none
    const uint8_t* row = bitmap.row(y);
    for (size_t i = 0; i < rowBytes; ++i) raw.push_back(static_cast<uint8_t>(~row[i]));  // 1 = white
  }
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  PutBe32(ihdr, static_cast<uint32_t>(bitmap.width));
  PutBe32(ihdr, static_cast<uint32_t>(bitmap.height));
  ihdr.insert(ihdr.end(), {1, 0, 0, 0, 0});  // 1 bit, greyscale, deflate, no filter, no interlace
  Chunk(png, "IHDR", ihdr);
  Chunk(png, "IDAT", ZlibCompress(raw));
  Chunk(png, "IEND", {});

  return WriteWholeFile(outFile, png.data(), png.size());
}

}  // namespace qv::faximage
