#pragma once

// Bit-level helpers shared by every T.4/T.6 coder and decoder: the least-significant-bit-first
// packer that writes codes, the 64-bit loads the decoders refill from, and the pixel helpers for
// packed rows (1 = black, leftmost pixel in the high bit of the first byte).

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace qv::faximage {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the bit packer assumes little-endian");

// Eight row bytes as one word, first pixel in the top bit.
inline uint64_t LoadBigEndian64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

// Eight coded bytes as one word, first transmitted bit in bit 0.
inline uint64_t LoadLe64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline uint64_t LowMask(int n) { return n >= 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1; }

// Tops up a bit buffer (next bit in bit 0) from the input: whole 64-bit loads while eight bytes
// remain, byte by byte at the end. Bits above nbits are either 0 or the true next bits, so or-ing
// them in again is harmless. Afterwards nbits > 56 unless the input ran out.
inline void RefillBits(uint64_t& acc, int& nbits, const uint8_t*& p, const uint8_t* end) {
  if (end - p >= 8) {
    if (nbits <= 56) {
      acc |= LoadLe64(p) << nbits;
      int take = (63 - nbits) >> 3;
      p += take;
      nbits += take << 3;
    }
  } else {
    while (nbits <= 56 && p < end) {
      acc |= uint64_t{*p++} << nbits;
      nbits += 8;
    }
  }
}

// Least-significant-bit-first packer: codes (at most 32 bits each) collect in a 64-bit word and
// go out 32 bits at a time. The caller guarantees room at `out`.
struct BitPacker {
  uint64_t acc;
  int bits;
  uint8_t* out;

  inline void put(uint32_t code, uint32_t n) {
    acc |= static_cast<uint64_t>(code) << bits;
    bits += static_cast<int>(n);
    if (bits >= 32) {
      uint32_t lo = static_cast<uint32_t>(acc);
      std::memcpy(out, &lo, 4);  // little-endian host: first bit lands in bit 0 of out[0]
      out += 4;
      acc >>= 32;
      bits -= 32;
    }
  }
  // Any number of 0 bits (fill).
  inline void zeros(int n) {
    while (n > 0) {
      int k = n > 32 ? 32 : n;
      put(0, static_cast<uint32_t>(k));
      n -= k;
    }
  }
};

// A BitPacker over a growing buffer, for whole pages: reserve room before each row, code the row
// with the packer, then commit. The packer's output pointer is valid until the next reserve.
class BitStreamWriter {
 public:
  BitPacker& reserve(size_t maxBytes) {
    const size_t need = used_ + maxBytes + 8;
    if (buf_.size() < need) buf_.resize(need > 2 * buf_.size() ? need : 2 * buf_.size());
    bp_.out = buf_.data() + used_;
    return bp_;
  }
  void commit() { used_ = static_cast<size_t>(bp_.out - buf_.data()); }
  uint64_t bitCount() const { return uint64_t{used_} * 8 + static_cast<uint64_t>(bp_.bits); }
  // The stream so far, the last byte padded with 0 bits; the writer is empty afterwards.
  std::vector<uint8_t> take() {
    reserve(8);
    uint64_t rest = bp_.acc;
    std::memcpy(bp_.out, &rest, 8);
    used_ += static_cast<size_t>((bp_.bits + 7) / 8);
    buf_.resize(used_);
    std::vector<uint8_t> out;
    out.swap(buf_);
    used_ = 0;
    bp_ = BitPacker{0, 0, nullptr};
    return out;
  }

 private:
  std::vector<uint8_t> buf_;
  size_t used_ = 0;
  BitPacker bp_{0, 0, nullptr};
};

// Sets pixels [x, x + n) of the row to black; n > 0.
inline void FillBlack(uint8_t* row, int x, int n) {
  int end = x + n;
  int first = x >> 3, last = (end - 1) >> 3;
  uint8_t head = static_cast<uint8_t>(0xFFu >> (x & 7));
  uint8_t tail = static_cast<uint8_t>(0xFFu << (7 - ((end - 1) & 7)));
  if (first == last) {
    row[first] |= static_cast<uint8_t>(head & tail);
    return;
  }
  row[first] |= head;
  if (last - first > 1) std::memset(row + first + 1, 0xFF, static_cast<size_t>(last - first - 1));
  row[last] |= tail;
}

}  // namespace qv::faximage
