// Our Class 1 sender in error correction mode through qvmodem's frame faults. The far end is a
// scripted Class 1 DTE on modem B (on a thread of its own): it offers ECM, collects the FCD frames
// of each burst and answers each PPS with MCF or with a PPR naming the frames that did not arrive,
// and CTC with CTR. The faults name the frames, so the exchange is the same on every run.
#include <thread>

#include "../../qvmodem/test_dte.h"
#include "fax/ecm_block_assembler.h"
#include "fax/soft_hdlc.h"
#include "fax_harness.h"

namespace qv::fax::test {
namespace {

using Frame = std::vector<uint8_t>;

// DIS: can receive, V.17, fine, unlimited length, 0 ms, and (octet 4) error correction.
const Frame kEcmDis = {0xFF, 0x13, 0x80, 0x00, 0x6E, 0xF8, 0x04};

struct ScriptedEcmReceiver {
  explicit ScriptedEcmReceiver(const std::string& device) : dte(device) {}

  // The whole call; `failure` says where it went wrong.
  void Run() {
    failure = Script();
    dte.close();
  }

  modem::test::TestDte dte;
  EcmBlockAssembler assembler{256};
  std::vector<uint8_t> page;
  int pprs = 0, ctcs = 0, bursts = 0;
  int firstBlockFrames = 0;  // from the first PPS
  std::string failure = "not run";

 private:
  // The frames up to the final one (FCS removed), each with its own +FRH=3.
  bool ReceiveFrames(std::vector<Frame>& frames, int timeoutMs = 20000) {
    frames.clear();
    for (;;) {
      if (dte.command("AT+FRH=3", "", timeoutMs).find("CONNECT") == std::string::npos) return false;
      bool complete = false;
      Frame f = dte.readDleBlock(timeoutMs, &complete);
      if (!complete || f.size() < 5) return false;
      f.resize(f.size() - 2);
      frames.push_back(f);
      if (dte.waitForResult(timeoutMs).find("OK") == std::string::npos) return false;
      if (f[1] & 0x10) return true;  // the final frame
    }
  }
  bool SendFrame(const Frame& f) {
    if (dte.command("AT+FTH=3").find("CONNECT") == std::string::npos) return false;
    dte.sendFrame(f);
    return dte.waitForResult().find("OK") != std::string::npos;
  }

  std::string Script() {
    dte.command("ATE0");
    if (dte.command("AT+FCLASS=1").find("OK") == std::string::npos) return "class 1";
    if (dte.waitFor("RING", 30000).empty()) return "no ring";
    if (dte.command("ATA", "", 20000).find("CONNECT") == std::string::npos) return "answer";
    dte.sendFrame(kEcmDis);
    if (dte.waitForResult().find("OK") == std::string::npos) return "DIS";
    std::vector<Frame> frames;
    if (!ReceiveFrames(frames) || ClassifyFcf(frames.back()[2]) != FrameKind::Dcs) {
      std::string seen = "DCS, got";
      for (const Frame& f : frames) seen += " " + std::to_string(f.size() > 2 ? f[2] : -1);
      return seen;
    }
    const SessionParams dcs = DecodeDcs(frames.back().data() + 3, frames.back().size() - 3);
    if (!dcs.ecm) return "DCS without ECM";
    if (dte.command(std::string("AT+FRM=") + TrainingCode(dcs.speedIndex), "", 10000).find("CONNECT") == std::string::npos)
      return "TCF carrier";
    dte.readDleBlock(10000);
    dte.waitForResult(10000);
    if (!SendFrame(BuildSimpleFrame(kFcfCfr, true))) return "CFR";
    int speed = dcs.speedIndex;
    bool longTraining = false;
    for (;;) {
      // A burst of frames, then its PPS (or a CTC).
      const char* mod = longTraining ? TrainingCode(speed) : PageDataCode(speed);
      const std::string carrier = dte.command(std::string("AT+FRM=") + mod, "", 20000);
      if (carrier.find("CONNECT") != std::string::npos) {
        bool complete = false;
        const auto octets = dte.readDleBlock(30000, &complete);
        if (!complete) return "burst data";
        dte.waitForResult(10000);
        ++bursts;
        HdlcDeframer deframer;
        deframer.Put(octets);
        for (const Frame& f : deframer.Take())
          if (f.size() > 4 && f[2] == kFcfFcd) assembler.addFrame(std::span<const uint8_t>(f).subspan(3));
      } else if (carrier.find("+FCERROR") == std::string::npos) {
        // +FCERROR: the sender is on V.21 instead (its CTC after the fourth PPR).
        return "burst carrier";
      }
      if (!ReceiveFrames(frames)) return "PPS";
      const Frame& cmd = frames.back();
      if (ClassifyFcf(cmd[2]) == FrameKind::Ctc) {
        ++ctcs;
        speed = DecodeCtcSpeed(cmd.data() + 3, cmd.size() - 3);
        if (speed == 0) return "CTC speed";
        longTraining = true;
        if (!SendFrame(BuildSimpleFrame(kFcfCtr, true))) return "CTR";
        continue;
      }
      longTraining = false;
      if (ClassifyFcf(cmd[2]) != FrameKind::Pps || cmd.size() < 7) return "not a PPS";
      const bool endOfPage = cmd[3] != kPpsNull;
      if (firstBlockFrames == 0) firstBlockFrames = cmd[6] + 1;
      const auto answer = assembler.onPps(cmd[4], cmd[5], cmd[6] + 1, endOfPage);
      if (answer == EcmBlockAssembler::Answer::kResend) {
        ++pprs;
        uint8_t map[32];
        std::copy(assembler.pprMap().begin(), assembler.pprMap().end(), map);
        if (!SendFrame(BuildPprFrame(map))) return "PPR";
        continue;
      }
      if (!SendFrame(BuildSimpleFrame(kFcfMcf, true))) return "MCF";
      if (assembler.pageComplete()) page = assembler.takePage();
      if (endOfPage && ClassifyFcf(static_cast<uint8_t>(cmd[3])) == FrameKind::Eop) break;
    }
    if (!ReceiveFrames(frames) || ClassifyFcf(frames.back()[2]) != FrameKind::Dcn) return "DCN";
    dte.command("ATH0");
    return "";
  }
};

// The test page of RunWithFaults goes in this many frames: the call's frames 1 to kPageFrames are
// its first burst, the resends follow.
constexpr int kPageFrames = 12;

struct EcmFaultsRun {
  std::vector<std::string> faults;
  int pprs, ctcs;
  long framesResent;
};

void RunWithFaults(const EcmFaultsRun& run) {
  SCOPED_TRACE(::testing::PrintToString(run.faults));
  TempDir dir;
  core::MessageLoop::instance().bindToCurrentThread();
  ModemPair modems(dir, run.faults);
  ASSERT_TRUE(modems.ready());
  // A page of some 3 KB: a dozen frames.
  auto rows = MakeQvf(dir.str("doc.qvf"), 1, true, 330);
  ScriptedEcmReceiver far(modems.b());
  std::thread farThread([&] { far.Run(); });
  comm::TQvComPort port;
  port.SetDeviceName(modems.a());
  port.SetAutoOpen(false);
  TQvSendFax send;
  send.SetComPort(&port);
  port.SetOpen(true);
  ASSERT_TRUE(port.Open());
  Events sent;
  sent.Attach(send);
  send.FaxClass = fcClass1;
  send.DesiredBPS = 14400;
  send.DesiredECM = true;
  send.StationID = "sender 2";
  send.PhoneNumber = "5551234";
  send.SetFaxFile(dir.str("doc.qvf"));
  send.StartSending();
  const bool ended = PumpUntil({&sent}, 120);
  farThread.join();
  ASSERT_TRUE(ended) << sent.Trail();
  EXPECT_EQ(far.failure, "");
  EXPECT_EQ(far.firstBlockFrames, kPageFrames);  // the frame numbers of the faults count on it
  EXPECT_EQ(sent.finishCode, 0) << sent.Trail();
  EXPECT_TRUE(send.SessionECM());
  EXPECT_EQ(far.pprs, run.pprs);
  EXPECT_EQ(far.ctcs, run.ctcs);
  EXPECT_EQ(send.EcmFramesResent(), run.framesResent);
  // The page the receiver put together from the frames is the page sent, pixel for pixel.
  ReceivedPage got;
  got.data = far.page;
  EXPECT_TRUE(PageMatches(got, rows[0]));
  core::MessageLoop::instance().pumpPending();
  port.SetOpen(false);
}

// A lost frame and a damaged one: one PPR asks for both, the resend completes the block.
// The same frame failing through four PPRs: the sender goes on at a lower speed (CTC), where it
// arrives.
TEST(Class1EcmFaults, PprResendsAndCtcThroughQvmodemFrameFaults) {
  RunWithFaults({{"--drop-frame", "2", "--corrupt-frame", "5"}, 1, 0, 2});
  RunWithFaults({{"--drop-frame", "2", "--corrupt-frame", "5", "--corrupt-frame", "13", "--corrupt-frame", "15",
                  "--corrupt-frame", "16"},
                 4, 1, 5});
}

}  // namespace
}  // namespace qv::fax::test
