// The command-line programs end to end: their output lines and exit statuses.
#include <array>
#include <thread>

#include "fax_harness.h"

namespace qv::fax::test {
namespace {

struct Output {
  int status = -1;
  std::string text;
};

Output RunQvfax(const std::string& args) {
  Output out;
  std::string cmd = std::string(QV_BIN_DIR) + "/qvfax " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  std::array<char, 512> buf;
  while (fgets(buf.data(), buf.size(), p)) out.text += buf.data();
  int rc = pclose(p);
  out.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

TEST(QvfaxCli, DemoSendsTheSamplePageAndExportsIt) {
  TempDir dir;
  Output out = RunQvfax("demo --dir " + dir.str("demo"));
  EXPECT_EQ(out.status, 0) << out.text;
  EXPECT_NE(out.text.find("send: 0 Sent"), std::string::npos) << out.text;
  EXPECT_NE(out.text.find("received fax: " + dir.str("demo") + "/received/FAX0001.QVF"), std::string::npos);
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(dir.str("demo/received/FAX0001.QVF"), pages));
  EXPECT_EQ(pages.size(), 1u);
  EXPECT_TRUE(fs::file_size(dir.str("demo/received-page1.png")) > 100);
}

TEST(QvfaxCli, SendAndReceiveReportTheirResults) {
  TempDir dir;
  ModemPair modems(dir);
  ASSERT_TRUE(modems.ready());
  MakeQvf(dir.str("doc.qvf"), 2, false);
  std::string recvCmd = std::string(QV_BIN_DIR) + "/qvfax receive --device " + modems.b() + " --dir " +
                        dir.str("in") + " --once --class 2 --station REMOTE > " + dir.str("recv.out") + " 2>&1 &";
  ASSERT_EQ(std::system(recvCmd.c_str()), 0);
  // The call goes out once the receiver waits for it.
  for (int i = 0; i < 300 && ReadText(dir.str("recv.out")).find("status 20:") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_NE(ReadText(dir.str("recv.out")).find("status 20:"), std::string::npos) << ReadText(dir.str("recv.out"));
  Output out = RunQvfax("send --device " + modems.a() + " --number 123 --class 1 --station LOCAL " + dir.str("doc.qvf"));
  EXPECT_EQ(out.status, 0) << out.text;
  EXPECT_NE(out.text.find("status 2: Dialing"), std::string::npos) << out.text;
  EXPECT_NE(out.text.find("log: Transmit " + dir.str("doc.qvf") + " to 123 started at "), std::string::npos);
  EXPECT_NE(out.text.find("log: Transmit to REMOTE finished OK at "), std::string::npos);
  EXPECT_NE(out.text.find("\n0 Sent\n"), std::string::npos);
  for (int i = 0; i < 100 && ReadText(dir.str("recv.out")).find(" received") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::string recv = ReadText(dir.str("recv.out"));
  EXPECT_NE(recv.find("received " + dir.str("in") + "/FAX0001.QVF"), std::string::npos) << recv;
  EXPECT_NE(recv.find("0 1 fax received"), std::string::npos) << recv;
}

// Receive mode's main loop sleeps until a message or a signal comes: Ctrl+C must wake it (the
// loop no longer looks on a clock) and end receive mode as the normal way out, exit status 0.
TEST(QvfaxCli, CtrlCEndsReceiveModeCleanly) {
  TempDir dir;
  ModemPair modems(dir);
  ASSERT_TRUE(modems.ready());
  qv::test::ChildProcess recv;
  ASSERT_TRUE(recv.StartToFile({std::string(QV_BIN_DIR) + "/qvfax", "receive", "--device", modems.b(), "--dir",
                                dir.str("in"), "--class", "1"},
                               dir.str("recv.out")));
  for (int i = 0; i < 300 && ReadText(dir.str("recv.out")).find("status 20:") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_NE(ReadText(dir.str("recv.out")).find("status 20:"), std::string::npos) << ReadText(dir.str("recv.out"));
  recv.Signal(SIGINT);
  // The bound covers the modem's hang-up; a signal that did not wake the loop would leave it
  // asleep far longer (its wait is only a safety net of a minute).
  ASSERT_TRUE(recv.WaitEnd(40000)) << ReadText(dir.str("recv.out"));
  EXPECT_EQ(recv.ExitStatus(), 0) << ReadText(dir.str("recv.out"));
  EXPECT_NE(ReadText(dir.str("recv.out")).find("0 0 faxes received"), std::string::npos) << ReadText(dir.str("recv.out"));
}

TEST(QvfaxCli, BusyNumberEndsWithItsCodeAndExitStatus) {
  TempDir dir;
  ModemPair modems(dir, {"--dial-result", "busy"});
  ASSERT_TRUE(modems.ready());
  MakeQvf(dir.str("doc.qvf"), 1, false);
  Output out = RunQvfax("send --device " + modems.a() + " --number 123 --attempts 1 " + dir.str("doc.qvf"));
  EXPECT_EQ(out.status, 1);
  EXPECT_NE(out.text.find("error -8064: Called fax number was busy"), std::string::npos) << out.text;
  EXPECT_NE(out.text.find("\n-8064 Called fax number was busy\n"), std::string::npos) << out.text;
  Output bad = RunQvfax("send --number 1 x.qvf");
  EXPECT_EQ(bad.status, 2);
}

}  // namespace
}  // namespace qv::fax::test
