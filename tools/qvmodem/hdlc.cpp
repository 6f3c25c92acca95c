#include "qvmodem/hdlc.h"

namespace qv::modem {

uint16_t frameCheckSequence(const uint8_t* data, size_t size) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
  }
  return static_cast<uint16_t>(crc ^ 0xFFFF);
}

Bytes withFcs(const Bytes& frame) {
  Bytes out = frame;
  const uint16_t fcs = frameCheckSequence(frame.data(), frame.size());
  out.push_back(static_cast<uint8_t>(fcs & 0xFF));
  out.push_back(static_cast<uint8_t>(fcs >> 8));
  return out;
}

bool fcsValid(const Bytes& frameWithFcs) {
  if (frameWithFcs.size() < 3) return false;
  const size_t n = frameWithFcs.size() - 2;
  const uint16_t fcs = frameCheckSequence(frameWithFcs.data(), n);
  return frameWithFcs[n] == (fcs & 0xFF) && frameWithFcs[n + 1] == (fcs >> 8);
}

void appendDleStuffed(Bytes& out, const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    out.push_back(data[i]);
    if (data[i] == kDle) out.push_back(kDle);
  }
}

uint8_t reverseBits(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
  return b;
}

void T4Scanner::feed(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    const uint8_t byte = data[i];
    if (byte == 0) {
      zeros_ = zeros_ > 1'000'000 ? zeros_ : zeros_ + 8;
      continue;
    }
    for (int bit = 0; bit < 8; ++bit) {
      if ((byte >> bit) & 1) {
        if (zeros_ >= 11) {
          ++tail_.eolCount;
          tail_.trailingEols = afterEol_ ? tail_.trailingEols + 1 : 1;
          tail_.cleanTrailingEols = afterEol_ && zeros_ == 11 ? tail_.cleanTrailingEols + 1 : 1;
          afterEol_ = true;
          tagUsed_ = false;
        } else if (afterEol_ && !tagUsed_ && zeros_ == 0) {
          tagUsed_ = true;  // the 2-D tag bit right after an EOL
        } else {
          afterEol_ = false;
          tail_.trailingEols = 0;
          tail_.cleanTrailingEols = 0;
        }
        zeros_ = 0;
      } else {
        ++zeros_;
      }
    }
  }
}

T4Tail scanT4(const Bytes& data) {
  T4Scanner scanner;
  scanner.feed(data);
  return scanner.tail();
}

Bytes rtcBytes(bool twoD) {
  // 6 x (eleven 0 bits, one 1 bit [, the tag bit 1]) = 72 or 78 bits, packed LSB first.
  const int code = twoD ? 13 : 12;
  Bytes out(static_cast<size_t>(6 * code + 7) / 8, 0);
  for (int i = 0; i < 6; ++i) {
    for (int bitPos = i * code + 11; bitPos < (i + 1) * code; ++bitPos)
      out[bitPos / 8] |= static_cast<uint8_t>(1u << (bitPos % 8));
  }
  return out;
}

}  // namespace qv::modem
