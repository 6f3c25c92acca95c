// Our Class 1 sender and our Class 1 receiver (a `qvfax receive` process) in error correction
// mode, through qvmodem's frame faults: a block that cannot get through is given up (EOR/ERR) and
// neither side takes the page for delivered; 64-octet frames when the sender is asked for them.
// The faults name the frames by their number in the call, so every run is the same exchange.
#include "fax_harness.h"

namespace qv::fax::test {
namespace {

// A fine page of this many rows goes in 12 frames of 256 octets (and four times as many of 64).
constexpr int kRows = 330;
constexpr int kFramesPerPage = 12;

// "--drop-frame N" for each frame number.
std::vector<std::string> DropFrames(std::initializer_list<int> frames) {
  std::vector<std::string> options;
  for (int f : frames) options.insert(options.end(), {"--drop-frame", std::to_string(f)});
  return options;
}

struct EcmCall {
  RemoteCall call;
  std::vector<PageRows> rows;

  // Sends `pages` fine pages with error correction at 14400 through modems with `faults`.
  bool Run(int pages, const std::vector<std::string>& faults, int frameSize = kEcmFrameSizeLarge) {
    if (!call.Open({.faxClass = fcClass1, .bps = 14400, .exitOnError = true, .ecm = "on", .coding = "mh"}, faults))
      return false;
    rows = MakeQvf(call.dir.str("doc.qvf"), pages, true, kRows);
    call.send.FaxClass = fcClass1;
    call.send.DesiredBPS = 14400;
    call.send.DesiredECM = true;
    call.send.DesiredCoding = LineCoding::MH;  // frame counts as the faults expect them
    call.send.EcmFrameSize = frameSize;
    call.send.SetFaxFile(call.dir.str("doc.qvf"));
    call.send.StartSending();
    return call.Wait(120);
  }
  std::vector<ReceivedPage> Pages() const {
    std::vector<ReceivedPage> pages;
    ReadReceived(call.dir.str("in/FAX0001.QVF"), pages);
    return pages;
  }
};

// Frame 2 of the page and each of its three resends are lost: the sender's fourth PPR for the
// block shows no progress, so it gives the block up (EOR); the receiver answers ERR. The page did
// not arrive whole: the receiver keeps it out of the file and says so, and the sender's call
// fails (the fax must go again) rather than counting the page as sent.
TEST(Class1EcmPairing, ABlockGivenUpIsNeitherFiledNorCountedAsSent) {
  EcmCall run;
  const int resends[] = {kFramesPerPage + 1, kFramesPerPage + 2, kFramesPerPage + 3};
  ASSERT_TRUE(run.Run(1, DropFrames({2, resends[0], resends[1], resends[2]}))) << run.call.Trail();
  const Events received = run.call.receiver.Read();
  const std::string said = run.call.receiver.Output();
  EXPECT_EQ(run.call.sent.finishCode, core::ecFaxPageError) << run.call.Trail();
  EXPECT_TRUE(run.call.sent.Saw(fpPageError)) << run.call.Trail();
  EXPECT_EQ(run.call.sent.logs, (std::vector<int>{1, 3}));
  EXPECT_EQ(run.call.send.EcmFramesResent(), 4);  // one frame, four times asked for
  // Not one page of the fax arrived whole: the receiver's call fails too, and leaves no file.
  EXPECT_EQ(received.finishCode, core::ecFaxPageError) << said;
  EXPECT_EQ(received.logs, (std::vector<int>{4, 7})) << said;
  EXPECT_NE(said.find("page 1 arrived damaged and was left out"), std::string::npos) << said;
  EXPECT_TRUE(run.call.ReceivedFiles().empty()) << said;
}

// Two pages; the block of page 2 is given up. Page 1 is filed whole and page 2 is not; the
// receiver's document ends with its last page as T.30 ends it, and names the page it left out
// (the program's record of it says "Incomplete"); the sender's call fails.
TEST(Class1EcmPairing, APageAfterAGivenUpBlockIsNotFiledAndTheWholePagesAre) {
  EcmCall run;
  const int p2 = kFramesPerPage;  // frames of page 2 are kFramesPerPage + 1 ... in the call
  ASSERT_TRUE(run.Run(2, DropFrames({p2 + 3, 2 * p2 + 1, 2 * p2 + 2, 2 * p2 + 3}))) << run.call.Trail();
  const Events received = run.call.receiver.Read();
  const std::string said = run.call.receiver.Output();
  EXPECT_EQ(run.call.sent.finishCode, core::ecFaxPageError) << run.call.Trail();
  EXPECT_EQ(received.logs, (std::vector<int>{4, 5})) << said;
  EXPECT_NE(said.find("page 2 arrived damaged and was left out"), std::string::npos) << said;
  const auto pages = run.Pages();
  ASSERT_EQ(pages.size(), 1u) << said;
  EXPECT_TRUE(PageMatches(pages[0], run.rows[0]));
}

// 64-octet frames when the sender is asked for them: the DCS says so, the receiver takes the page
// in four times as many frames, and a frame lost past the 12th (there is no such frame in 256-octet
// framing of this page) is asked for again and the page arrives whole.
TEST(Class1EcmPairing, SixtyFourOctetFramesArriveWhole) {
  EcmCall run;
  ASSERT_TRUE(run.Run(2, DropFrames({40}), kEcmFrameSizeSmall)) << run.call.Trail();
  const std::string said = run.call.receiver.Output();
  EXPECT_EQ(run.call.sent.finishCode, 0) << run.call.Trail();
  EXPECT_EQ(run.call.receiver.Read().finishCode, 0) << said;
  EXPECT_EQ(run.call.send.SessionEcmFrameSize(), kEcmFrameSizeSmall);
  EXPECT_EQ(run.call.send.EcmFramesResent(), 1);
  EXPECT_NE(said.find("ECM on, MH, 1 frame resent"), std::string::npos) << said;
  const auto pages = run.Pages();
  ASSERT_EQ(pages.size(), 2u) << said;
  for (size_t p = 0; p < pages.size(); ++p) EXPECT_TRUE(PageMatches(pages[p], run.rows[p])) << "page " << p + 1;
}

}  // namespace
}  // namespace qv::fax::test
