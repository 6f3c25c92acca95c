// One call of spandsp's T.30 terminal (calling, through spandsp's T.31 modem on a pseudo-terminal)
// to `qvfax receive` (our Class 1 receiver in its own process), and the check of what it filed;
// shared by the spandsp receive tests.
#pragma once

#include <tiffio.h>

#include "../../fax/e2e/fax_harness.h"
#include "fax_spandsp_peer.h"
#include "spandsp_pages.h"

namespace qv::fax::test {

struct Received {
  int exitStatus = -1;
  std::string output;
  int peerCompletion = -1;
  t30_stats_t stats{};
  int rtnHeard = 0, rtpHeard = 0, ctrHeard = 0;  // by spandsp's sender
};

// The receiver's process is stopped for `ms` once it has sent its `n`th frame of kind `fcf`.
struct Stall {
  uint8_t fcf = 0;
  int n = 0;
  int ms = 0;
};

// The data of the receiver's `frm`th carrier (1: the training check, 2: the first page) gets one
// byte of noise in every `spacing`.
struct CarrierNoise {
  int frm = 0;
  int spacing = 1;
};

// Error correction on both ends, with the codings spandsp's sender may choose from.
struct EcmLine {
  bool on = false;
  int compressions = T30_SUPPORT_T4_1D_COMPRESSION;
  int noisyCarriers = 1;  // with CarrierNoise: this many carriers from its `frm` on
};

// One call: spandsp sends `pages` to `qvfax receive --bps bps`, which files them in dir/in.
// `lateFrm`/`lateMs`: that AT+FRM of the receiver reaches the modem so much later.
inline Received ReceiveCall(const TempDir& dir, const std::vector<TiffPage>& pages, int bps, int lateFrm = 0,
                     int lateMs = 0, Stall stall = {}, CarrierNoise noise = {}, EcmLine ecm = {}) {
  Received r;
  if (!WriteTiff(dir.str("tx.tif"), pages)) return r;
  SpandspPeer peer(true, dir.str("tx.tif"), "");
  if (!peer.ok()) return r;
  if (lateFrm > 0) peer.DelayFrm(lateFrm, lateMs);
  if (noise.frm > 0) peer.NoiseOnCarrier(noise.frm, noise.spacing, ecm.noisyCarriers);
  if (ecm.on) peer.EnableEcm();
  peer.SetCompressions(ecm.compressions);
  // Real time: the receiver paces its frames for a real line.
  peer.Start(20);
  {
    ReceiverProcess rx;
    ReceiverProcess::Options o;
    o.faxClass = fcClass1;
    o.bps = bps;
    o.station = "RECEIVER 1";
    o.exitOnError = true;  // a failing case fails at once instead of at the time-out
    o.ecm = ecm.on ? "on" : "off";
    // Ringing before the receiver waits for calls would go unheard: Start waits for that.
    if (rx.Start(peer.device(), dir.str("in"), dir.str("rx.out"), o)) {
      if (stall.n > 0) peer.StallAfterFrame(rx.Pid(), stall.fcf, stall.n, stall.ms);
      peer.Ring();
      r.exitStatus = rx.WaitExit(150);
    }
    r.output = rx.Output();
  }
  for (int i = 0; i < 200 && !peer.finished(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  peer.Stop();
  r.peerCompletion = peer.finished() ? peer.completion() : -1;
  r.stats = peer.Stats();
  r.rtnHeard = peer.FramesHeard(kFcfRtn);
  r.rtpHeard = peer.FramesHeard(kFcfRtp);
  r.ctrHeard = peer.FramesHeard(kFcfCtr);
  return r;
}

// The pages of the one file the receiver wrote, checked against what was sent.
inline void ExpectFiled(const TempDir& dir, const std::vector<TiffPage>& sent) {
  std::vector<std::string> files;
  for (auto& e : fs::directory_iterator(dir.path() / "in")) files.push_back(e.path().filename().string());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0], "FAX0001.QVF");
  std::vector<ReceivedPage> pages;
  std::string station;
  ASSERT_TRUE(ReadReceived(dir.str("in/FAX0001.QVF"), pages, &station));
  EXPECT_EQ(station, "SPANDSP PEER        ");
  ASSERT_EQ(pages.size(), sent.size());
  for (size_t p = 0; p < sent.size(); ++p) {
    Raster rows;
    faximage::T4Decoder decoder([&](std::span<const uint8_t> row) { rows.emplace_back(row.begin(), row.end()); });
    decoder.startPage();
    decoder.feed(pages[p].data.data(), pages[p].data.size());
    EXPECT_TRUE(decoder.pageEnded()) << "page " << p + 1;
    EXPECT_EQ(decoder.badCodes(), 0) << "page " << p + 1;
    EXPECT_EQ((pages[p].flags & kPageHighRes) != 0, sent[p].fine) << "page " << p + 1;
    EXPECT_TRUE(rows == sent[p].rows) << "page " << p + 1 << ": " << rows.size() << " rows";
  }
}

inline std::vector<TiffPage> Pages(std::initializer_list<bool> fine, int rows) {
  std::vector<TiffPage> pages;
  int p = 0;
  for (bool f : fine) {
    TiffPage page;
    page.fine = f;
    for (int r = 0; r < rows; ++r) page.rows.push_back(PatternRow(p + 11, r));
    pages.push_back(page);
    ++p;
  }
  return pages;
}


}  // namespace qv::fax::test
