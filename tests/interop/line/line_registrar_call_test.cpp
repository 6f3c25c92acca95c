// A fax between two Quorvane ends through a real SIP server: two qvline instances registered
// with Debian's kamailio (digest authentication), our Class 1 engine (qvfax) on each modem. The
// sender dials digits, which the line calls in its account's domain through the server (answering
// its 407 challenge); the server finds the receiver by its registration. The page must arrive
// pixel for pixel. Real time on 127.0.0.1, every process bounded and ended by the test.
#include <gtest/gtest.h>

#include "../../fax/e2e/fax_harness.h"
#include "../fax/spandsp_pages.h"
#include "faximage/t4_decoder.h"
#include "line/line_status.h"
#include "registered_line.h"

namespace qv::line::test {
namespace {

using namespace qv::fax;
using namespace qv::fax::test;

TEST(LineThroughRegistrar, AFaxFromOneRegisteredLineToAnotherArrivesPixelExact) {
  TempDir dir;
  Kamailio server;
  ASSERT_TRUE(server.Start(dir.str(""), {{"1001", "sender-pw"}, {"1002", "receiver-pw"}}));
  RegisteredLine sender, receiver;
  ASSERT_TRUE(sender.Start(dir.str(""), "a", server.uri(), "1001", "sender-pw"));
  ASSERT_TRUE(receiver.Start(dir.str(""), "b", server.uri(), "1002", "receiver-pw"));
  ASSERT_TRUE(sender.WaitFor(std::string(status::kRegistered), 10)) << sender.Output() << sender.Log();
  ASSERT_TRUE(receiver.WaitFor(std::string(status::kRegistered), 10)) << receiver.Output() << receiver.Log();

  auto doc = MakeQvf(dir.str("doc.qvf"), 1, false, 60);
  ReceiverProcess rx;
  ReceiverProcess::Options ro;
  ro.faxClass = fcClass1;
  ro.bps = 9600;
  ro.exitOnError = true;
  ASSERT_TRUE(rx.Start(receiver.device(), dir.str("in"), dir.str("rx.out"), ro));
  SenderProcess tx;
  SenderProcess::Options so;
  so.faxClass = fcClass1;
  so.bps = 9600;
  so.attempts = 1;
  so.number = "1002";
  ASSERT_TRUE(tx.Start(sender.device(), dir.str("doc.qvf"), dir.str("tx.out"), so));
  const int sent = tx.WaitExit(90);
  const int received = rx.WaitExit(30);
  sender.Stop();
  receiver.Stop();
  EXPECT_EQ(sent, 0) << tx.Output() << sender.Log() << receiver.Log();
  EXPECT_EQ(received, 0) << rx.Output() << receiver.Log();
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

  // The INVITE went to the number in the account's domain, through the server, which asked the
  // sender to authenticate; the receiver took it because it came from the server.
  const std::string a = sender.Log(), b = receiver.Log();
  EXPECT_NE(a.find("-> INVITE sip:1002@" + std::string(kTestDomain)), std::string::npos) << a;
  EXPECT_NE(a.find("<- SIP/2.0 407"), std::string::npos) << a;
  EXPECT_NE(b.find("incoming call from sip:1001@" + std::string(kTestDomain)), std::string::npos) << b;
  EXPECT_EQ(b.find("refused an INVITE"), std::string::npos) << b;
}

}  // namespace
}  // namespace qv::line::test
