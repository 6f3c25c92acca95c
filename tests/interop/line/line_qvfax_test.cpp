// `qvfax send` and `qvfax receive` over an Internet fax line each starts for itself: no modem,
// no device given, the two lines calling each other directly on 127.0.0.1. The page must arrive
// pixel for pixel, both ends must say how the line carried the call, and both lines must be gone
// afterwards. Real time: e2e, alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "../../fax/e2e/fax_harness.h"
#include "../fax/spandsp_pages.h"
#include "faximage/t4_decoder.h"
#include "line/line_status.h"
#include "registered_line.h"

namespace qv::line::test {
namespace {

using namespace qv::fax;
using namespace qv::fax::test;

// qvfax with the options the test gives, nothing added.
class Qvfax : public QvfaxProcess {
 public:
  bool Run(const std::string& mode, const std::vector<std::string>& args, const std::string& out) {
    return Launch(mode, args, out);
  }
  bool WaitFor(const std::string& text, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Output().find(text) != std::string::npos) return true;
      if (Exited()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
};

// The lines qvfax started (their modem links live in folders of this name) that are still there.
int LineFolders() {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/tmp"))
    if (e.path().filename().string().rfind("qvfax-line-", 0) == 0) ++n;
  return n;
}

TEST(QvfaxOverTheLine, SendsToAReceiverOnALineOfItsOwnPixelExact) {
  TempDir dir;
  const int before = LineFolders();
  const int receiverPort = FreeUdpPort();
  auto doc = MakeQvf(dir.str("doc.qvf"), 1, false, 60);
  Qvfax rx;
  ASSERT_TRUE(rx.Run("receive",
                     {"--sip-listen", "127.0.0.1:" + std::to_string(receiverPort), "--line-log", dir.str("rx.log"),
                      "--dir", dir.str("in"), "--once", "--exit-on-error", "--class", "1", "--station", "FAR"},
                     dir.str("rx.out")));
  ASSERT_TRUE(rx.WaitFor("status 20:", 30)) << rx.Output();
  Qvfax tx;
  ASSERT_TRUE(tx.Run("send",
                     {"--peer", "127.0.0.1:" + std::to_string(receiverPort), "--line-log", dir.str("tx.log"),
                      "--number", "1234", "--class", "1", "--bps", "9600", "--attempts", "1", dir.str("doc.qvf")},
                     dir.str("tx.out")));
  EXPECT_EQ(tx.WaitExit(90), 0) << tx.Output() << ReadText(dir.str("tx.log"));
  EXPECT_EQ(rx.WaitExit(30), 0) << rx.Output() << ReadText(dir.str("rx.log"));
  EXPECT_NE(tx.Output().find("line: G.711 PCMU, 9600 bps\n0 Sent"), std::string::npos) << tx.Output();
  EXPECT_NE(rx.Output().find("line: G.711 PCMU, 9600 bps"), std::string::npos) << rx.Output();
  EXPECT_NE(rx.Output().find("0 1 fax received"), std::string::npos) << rx.Output();

  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(dir.str("in/FAX0001.QVF"), pages)) << rx.Output();
  ASSERT_EQ(pages.size(), 1u);
  Raster rows;
  faximage::T4Decoder decoder([&](std::span<const uint8_t> row) { rows.emplace_back(row.begin(), row.end()); });
  decoder.startPage();
  decoder.feed(pages[0].data.data(), pages[0].data.size());
  EXPECT_EQ(decoder.badCodes(), 0);
  size_t lead = 0;
  EXPECT_TRUE(SameRows(rows, doc[0].raster, &lead));
  // Each end stopped its line: the lines' logs say so, and no modem link is left.
  EXPECT_NE(ReadText(dir.str("tx.log")).find("stopped"), std::string::npos) << ReadText(dir.str("tx.log"));
  EXPECT_NE(ReadText(dir.str("rx.log")).find("stopped"), std::string::npos) << ReadText(dir.str("rx.log"));
  EXPECT_EQ(LineFolders(), before);
}

// With a SIP account: qvfax's line registers with kamailio, dials digits through it to a line
// registered there, and the page arrives.
TEST(QvfaxOverTheLine, SendsThroughARegistrarWithItsAccount) {
  TempDir dir;
  Kamailio server;
  ASSERT_TRUE(server.Start(dir.str(""), {{"1001", "sender-pw"}, {"1002", "receiver-pw"}}));
  RegisteredLine receiver;
  ASSERT_TRUE(receiver.Start(dir.str(""), "b", server.uri(), "1002", "receiver-pw"));
  ASSERT_TRUE(receiver.WaitFor(std::string(line::status::kRegistered), 10)) << receiver.Output() << receiver.Log();
  auto doc = MakeQvf(dir.str("doc.qvf"), 1, true, 40);
  ReceiverProcess rx;
  ReceiverProcess::Options ro;
  ro.faxClass = fcClass1;
  ro.exitOnError = true;
  ASSERT_TRUE(rx.Start(receiver.device(), dir.str("in"), dir.str("rx.out"), ro));
  {
    std::ofstream(dir.str("a.secret")) << "sender-pw\n";
  }
  chmod(dir.str("a.secret").c_str(), 0600);
  Qvfax tx;
  ASSERT_TRUE(tx.Run("send",
                     {"--registrar", server.uri(), "--user", "1001", "--password-file", dir.str("a.secret"), "--domain", kTestDomain,
                      "--line-log", dir.str("tx.log"), "--number", "1002", "--class", "1", "--attempts", "1",
                      dir.str("doc.qvf")},
                     dir.str("tx.out")));
  EXPECT_EQ(tx.WaitExit(90), 0) << tx.Output() << ReadText(dir.str("tx.log")) << receiver.Log();
  EXPECT_EQ(rx.WaitExit(30), 0) << rx.Output();
  receiver.Stop();
  EXPECT_NE(tx.Output().find("line: G.711 PCMU, 9600 bps"), std::string::npos) << tx.Output();
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(dir.str("in/FAX0001.QVF"), pages)) << rx.Output();
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_TRUE(PageMatches(pages[0], doc[0]));
  const std::string log = ReadText(dir.str("tx.log"));
  // Digits dialled in the account's domain, through the server, which asked the line to
  // authenticate.
  EXPECT_NE(log.find("-> INVITE sip:1002@" + std::string(kTestDomain)), std::string::npos) << log;
  EXPECT_NE(log.find("<- SIP/2.0 407"), std::string::npos) << log;
  EXPECT_EQ(tx.Output().find("sender-pw"), std::string::npos);
  EXPECT_EQ(log.find("sender-pw"), std::string::npos);
}

// Options that cannot make a line are refused before any line starts, in words.
TEST(QvfaxOverTheLine, OptionsThatMakeNoLineAreRefused) {
  TempDir dir;
  MakeQvf(dir.str("doc.qvf"), 1, false, 10);
  const struct {
    std::vector<std::string> args;
    const char* said;
  } cases[] = {
      {{"--peer", "127.0.0.1:5060", "--device", "/dev/null"}, "no --port or --device with it"},
      {{"--registrar", "sip:127.0.0.1"}, "--registrar needs --user and --password-file"},
      {{"--peer", "127.0.0.1:5060", "--user", "1001"}, "--user, --password-file and --domain go with --registrar"},
      {{"--peer", "127.0.0.1:5060", "--registrar", "sip:127.0.0.1", "--user", "1", "--password-file", "f"},
       "give either --peer or --registrar"},
      {{"--peer"}, "--peer needs HOST:PORT"},
      {{"--peer", "127.0.0.1:5060", "--t38", "maybe"}, "--t38 is on or off"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    // The line's options last, so that one without its value is at the end.
    std::vector<std::string> args = {"--number", "1", dir.str("doc.qvf")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    qv::test::ChildProcess send;
    ASSERT_TRUE(send.StartToFile([&] {
      std::vector<std::string> a = {QV_BIN_DIR "/qvfax", "send"};
      a.insert(a.end(), args.begin(), args.end());
      return a;
    }(), dir.str("send.out")));
    ASSERT_TRUE(send.WaitEnd(10000));
    EXPECT_EQ(send.ExitStatus(), 2);
    EXPECT_NE(ReadText(dir.str("send.out")).find(c.said), std::string::npos) << ReadText(dir.str("send.out"));
  }
}

}  // namespace
}  // namespace qv::line::test
