// Calls in every page coding, with and without error correction: the sender codes each page of
// its MH file for the coding the session settled on (Class 2/2.0: the one the modem reports),
// qvmodem passes it through, and the receiver files MH rows again; what arrives is the sent page,
// pixel for pixel.
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "fax_harness.h"

namespace qv::fax::test {
namespace {

// The far side of these calls must offer error correction and codings of its own choosing, which
// `qvfax receive` has no switches for: it is this test program again, running only
// CodingPeer.Receive with its settings in this variable ("device;folder;class;ecm;coding").
constexpr const char* kPeerVariable = "QV_CODING_PEER";

std::string ClassName(TFaxClass c) { return c == fcClass1 ? "1" : c == fcClass2 ? "2" : "2.0"; }

std::string SelfPath() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Our receiver as a process of its own, set up from kPeerVariable. It says "waiting" once it waits
// for the call, and ends with "result CODE coding N ecm E".
TEST(CodingPeer, Receive) {
  const char* settings = std::getenv(kPeerVariable);
  if (!settings) GTEST_SKIP() << "only the far side of a coding call runs this";
  std::vector<std::string> f;
  std::stringstream ss(settings);
  for (std::string item; std::getline(ss, item, ';');) f.push_back(item);
  ASSERT_EQ(f.size(), 5u);
  core::MessageLoop::instance().bindToCurrentThread();
  comm::TQvComPort port;
  port.SetDeviceName(f[0]);
  port.SetAutoOpen(false);
  TQvReceiveFax receive;
  receive.SetComPort(&port);
  port.SetOpen(true);
  ASSERT_TRUE(port.Open());
  Events events;
  events.Attach(receive);
  receive.SetDestinationDir(f[1]);
  receive.FaxClass = f[2] == "1" ? fcClass1 : f[2] == "2" ? fcClass2 : fcClass2_0;
  receive.DesiredECM = f[3] == "1";
  receive.DesiredCoding = static_cast<LineCoding>(std::atoi(f[4].c_str()));
  receive.DesiredBPS = 14400;
  receive.OneFax = true;
  receive.ExitOnError = true;
  receive.StationID = "receiver 1";
  receive.StartReceiving();
  auto& loop = core::MessageLoop::instance();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  bool announced = false;
  while (!events.finished && std::chrono::steady_clock::now() < deadline) {
    loop.waitAndPump(20);
    if (!announced && events.Saw(fpWaiting)) {
      std::printf("waiting\n");
      std::fflush(stdout);
      announced = true;
    }
  }
  std::printf("result %d coding %d ecm %d\n", events.finished ? events.finishCode : 1,
              static_cast<int>(receive.SessionCoding()), receive.SessionECM() ? 1 : 0);
  std::fflush(stdout);
  port.SetOpen(false);
}

// A call from the test's own sender on modem A to a CodingPeer on modem B.
struct CodingCall {
  TempDir dir;
  std::unique_ptr<ModemPair> modems;
  qv::test::ChildProcess peer;
  comm::TQvComPort portA;
  TQvSendFax send;
  Events sent;

  bool Open(TFaxClass cls, bool peerEcm, LineCoding peerCoding, const std::vector<std::string>& modemOptions) {
    core::MessageLoop::instance().bindToCurrentThread();
    modems = std::make_unique<ModemPair>(dir, modemOptions);
    if (!modems->ready()) return false;
    fs::create_directories(dir.path() / "in");
    const std::string settings = modems->b() + ";" + dir.str("in") + ";" + ClassName(cls) + ";" +
                                 (peerEcm ? "1" : "0") + ";" + std::to_string(static_cast<int>(peerCoding));
    if (!peer.StartToFile({SelfPath(), "--gtest_filter=CodingPeer.Receive"}, dir.str("peer.out"),
                          {std::string(kPeerVariable) + "=" + settings}))
      return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (PeerSaid().find("waiting") == std::string::npos) {
      if (peer.Ended() || std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    portA.SetDeviceName(modems->a());
    portA.SetAutoOpen(false);
    send.SetComPort(&portA);
    portA.SetOpen(true);
    if (!portA.Open()) return false;
    sent.Attach(send);
    send.FaxClass = cls;
    send.DesiredBPS = 14400;
    send.StationID = "sender 2";
    send.PhoneNumber = "5551234";
    return true;
  }
  // Pumps this thread's loop until the sender has finished and the peer has ended.
  bool Wait(int seconds) {
    auto& loop = core::MessageLoop::instance();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      loop.waitAndPump(20);
      if (sent.finished && peer.Ended()) return true;
    }
    return false;
  }
  std::string PeerSaid() const { return ReadText(dir.str("peer.out")); }
  // The peer's last line: its finish code, the coding and ECM of its session; false when missing.
  bool PeerResult(int& code, int& coding, int& ecm) const {
    const std::string text = PeerSaid();
    const size_t at = text.rfind("result ");
    return at != std::string::npos && std::sscanf(text.c_str() + at, "result %d coding %d ecm %d", &code, &coding, &ecm) == 3;
  }
  std::string Trail() const { return "sender " + sent.Trail() + "; receiver said:\n" + PeerSaid(); }
  ~CodingCall() {
    if (send.Active()) send.AbortFax();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (send.Active() && std::chrono::steady_clock::now() < deadline) core::MessageLoop::instance().waitAndPump(20);
    core::MessageLoop::instance().pumpPending();
    portA.SetOpen(false);
  }
};

struct Case {
  TFaxClass cls;
  bool ecm;                  // both ends ask for error correction
  LineCoding cap;            // the sender's DesiredCoding (the receiver offers MMR)
  LineCoding expected;       // what the call must settle on
  std::vector<std::string> modemOptions = {};
  int pages = 2;
  bool rejectedOnce = false;  // the receiving modem rejects the first try of a page (line noise)
};

// One call of a case: two fine pages (the second of another pattern), pixel-exact in the file.
void RunCase(const Case& c) {
  SCOPED_TRACE(std::string("Class ") + ClassName(c.cls) + (c.ecm ? " ECM " : " no ECM ") +
               "cap " + CodingName(c.cap));
  CodingCall call;
  ASSERT_TRUE(call.Open(c.cls, c.ecm, LineCoding::MMR, c.modemOptions)) << call.PeerSaid();
  auto rows = MakeQvf(call.dir.str("doc.qvf"), c.pages, true, 80);
  call.send.DesiredECM = c.ecm;
  call.send.DesiredCoding = c.cap;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(120)) << call.Trail();
  EXPECT_EQ(call.sent.finishCode, 0) << call.Trail();
  EXPECT_TRUE(call.sent.errors.empty()) << call.Trail();
  EXPECT_EQ(call.send.SessionCoding(), c.expected) << CodingName(call.send.SessionCoding());
  EXPECT_EQ(call.send.SessionECM(), c.ecm);
  EXPECT_EQ(call.sent.Saw(fpPageError), c.rejectedOnce) << call.Trail();
  int code = -1, coding = -1, ecm = -1;
  ASSERT_TRUE(call.PeerResult(code, coding, ecm)) << call.PeerSaid();
  EXPECT_EQ(code, 0) << call.Trail();
  EXPECT_EQ(coding, static_cast<int>(c.expected));
  EXPECT_EQ(ecm, c.ecm ? 1 : 0);
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(call.dir.str("in/FAX0001.QVF"), pages)) << call.Trail();
  ASSERT_EQ(pages.size(), static_cast<size_t>(c.pages));
  for (int p = 0; p < c.pages; ++p) {
    EXPECT_TRUE(PageMatches(pages[p], rows[p])) << "page " << p + 1;
    EXPECT_EQ(pages[p].flags & kPageHighRes, kPageHighRes);
  }
}

// Every coding each class can negotiate, with error correction and without (MMR needs it: a
// sender that allows MMR without ECM gets MR).
void EveryCoding(TFaxClass cls) {
  for (bool ecm : {false, true})
    for (LineCoding cap : {LineCoding::MH, LineCoding::MR, LineCoding::MMR}) {
      const LineCoding expected = !ecm && cap == LineCoding::MMR ? LineCoding::MR : cap;
      RunCase({cls, ecm, cap, expected});
    }
}

TEST(Class2Coding, EveryCodingWithAndWithoutEcmClass2) { EveryCoding(fcClass2); }
TEST(Class2Coding, EveryCodingWithAndWithoutEcmClass20) { EveryCoding(fcClass2_0); }

// Class 1 codes the line itself: MR goes without error correction too (EOLs with tag bits, each
// line filled to the scan-line time), MMR only with it.
TEST(Class2Coding, Class1MrWithoutEcmAndMmrWithIt) {
  RunCase({fcClass1, false, LineCoding::MMR, LineCoding::MR});
  RunCase({fcClass1, true, LineCoding::MMR, LineCoding::MMR});
}

// The modems' own lists bound the coding: both DTEs would take MMR, but a modem that lists MH only
// or MH and MR keeps the call to what it can do.
TEST(Class2Coding, TheModemsListsBoundTheCoding) {
  RunCase({fcClass2, true, LineCoding::MMR, LineCoding::MH, {"--a-codings", "mh"}});
  RunCase({fcClass2_0, true, LineCoding::MMR, LineCoding::MR, {"--b-codings", "mh,mr"}});
}

// Noise on the line: with error correction the modems send the hit frames again and the page
// arrives whole; the same noise without it spoils the page (the receiving modem rejects it).
TEST(Class2Coding, EcmCarriesAPageThroughNoise) {
  for (TFaxClass cls : {fcClass2, fcClass2_0}) {
    SCOPED_TRACE(cls == fcClass2 ? "Class 2" : "Class 2.0");
    const std::vector<std::string> noise = {"--corrupt-page", "1", "--noise-spacing", "300"};
    RunCase({cls, true, LineCoding::MMR, LineCoding::MMR, noise, 1, false});
    RunCase({cls, false, LineCoding::MR, LineCoding::MR, noise, 1, true});
  }
}

}  // namespace
}  // namespace qv::fax::test
