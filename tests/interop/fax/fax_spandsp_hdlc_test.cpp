// Our software HDLC for error correction frames, judged by spandsp's HDLC receiver and
// transmitter: what we frame it reads with good check sequences, and what it frames we read.
#include <gtest/gtest.h>

#include <random>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "fax/soft_hdlc.h"
#include "fax/t30_frames.h"

namespace qv::fax {
namespace {

std::vector<std::vector<uint8_t>> EcmBlock(int count, size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> data(size);
    for (auto& b : data) {
      const unsigned r = rng() % 4;
      b = r == 0 ? 0x7E : r == 1 ? 0xFF : r == 2 ? 0x10 : static_cast<uint8_t>(rng());
    }
    frames.push_back(BuildFcdFrame(static_cast<uint8_t>(i), data.data(), data.size()));
  }
  for (int i = 0; i < 3; ++i) frames.push_back(BuildRcpFrame());
  return frames;
}

struct Heard {
  std::vector<std::vector<uint8_t>> good;
  int bad = 0;
};

void OnFrame(void* user, const uint8_t* msg, int len, int ok) {
  auto* h = static_cast<Heard*>(user);
  if (len < 0) return;  // status reports (carrier, framing)
  if (ok)
    h->good.emplace_back(msg, msg + len);
  else
    ++h->bad;
}

TEST(SoftHdlcJudged, SpandspReadsOurBurstsWithGoodChecks) {
  for (size_t size : {256u, 64u}) {
    SCOPED_TRACE(size);
    const auto frames = EcmBlock(40, size, static_cast<unsigned>(size));
    const auto burst = HdlcBurst(frames, 360);
    Heard heard;
    // CRC-16, frames reported with their check sequence stripped, 5 flags before the first.
    hdlc_rx_state_t* rx = hdlc_rx_init(nullptr, false, false, 5, &OnFrame, &heard);
    ASSERT_NE(rx, nullptr);
    for (uint8_t b : burst)
      for (int i = 0; i < 8; ++i) hdlc_rx_put_bit(rx, (b >> i) & 1);
    hdlc_rx_free(rx);
    EXPECT_EQ(heard.bad, 0);
    EXPECT_EQ(heard.good, frames);
  }
}

TEST(SoftHdlcJudged, WeReadSpandspsFraming) {
  const auto frames = EcmBlock(30, 256, 9);
  hdlc_tx_state_t* tx = hdlc_tx_init(nullptr, false, 2, false, nullptr, nullptr);
  ASSERT_NE(tx, nullptr);
  hdlc_tx_flags(tx, 50);
  // Bits as the transmitter gives them, packed least significant first as a modem hands them on.
  std::vector<uint8_t> line;
  uint8_t octet = 0;
  int n = 0;
  auto pull = [&](int bits) {
    for (int i = 0; i < bits; ++i) {
      octet |= static_cast<uint8_t>((hdlc_tx_get_bit(tx) & 1) << n);
      if (++n == 8) {
        line.push_back(octet);
        octet = 0;
        n = 0;
      }
    }
  };
  for (const auto& f : frames)
    while (hdlc_tx_frame(tx, f.data(), f.size()) != 0) pull(8);  // it queues one frame at a time
  pull(8 * 2000);
  hdlc_tx_free(tx);
  HdlcDeframer d;
  d.Put(line);
  EXPECT_EQ(d.Take(), frames);
}

}  // namespace
}  // namespace qv::fax
