// Status messages reach the UI thread without stopping the machine: a UI thread that is busy for
// a while gets them all afterwards, in order, each showing the figures of its own moment.
#include "fax_harness.h"

namespace qv::fax::test {
namespace {

// One status as its handler saw it.
struct Seen {
  int code = 0;
  int page = 0;
  long bytes = 0;
  int pageLength = 0;
  int attempt = 0;
  std::string remote;
};

// The UI thread is held inside the first status of page data until the whole call is over (the
// far side has filed the fax and ended). The statuses queued meanwhile must still tell the call's
// story: each page started, the end of the document, the end of the call, in that order, with the
// page and the byte count each had when it was sent; and the held handler itself keeps seeing
// its own moment while the machine moves on.
TEST(StatusMessages, HandledLateTheyShowTheFiguresOfTheirMomentInOrder) {
  RemoteCall call;
  ASSERT_TRUE(call.Open({fcClass1, 9600})) << call.receiver.Output();
  MakeQvf(call.dir.str("doc.qvf"), 3, false, 120);
  call.send.FaxClass = fcClass1;
  call.send.SetFaxFile(call.dir.str("doc.qvf"));

  std::vector<Seen> seen;
  bool held = false;
  int receiverExit = -2;
  Seen before, after;
  auto record = call.send.OnFaxStatus;
  call.send.OnFaxStatus = [&](TQvAbstractFax* cp, bool first, bool last) {
    record(cp, first, last);
    auto now = [&] {
      return Seen{cp->ProgressCode(), call.send.CurrentPageShown(), cp->BytesTransferred(), cp->PageLength(),
                  call.send.DialAttempt(), cp->RemoteID()};
    };
    seen.push_back(now());
    if (!held && cp->ProgressCode() == fpSendPage && call.send.CurrentPageShown() == 1) {
      held = true;
      before = now();
      // Busy until the far side has the whole fax and has gone (it answers one call only).
      receiverExit = call.receiver.WaitExit(120);
      after = now();
    }
  };
  call.send.StartSending();
  ASSERT_TRUE(call.Wait(150)) << call.Trail();
  ASSERT_TRUE(held) << call.Trail();
  EXPECT_EQ(receiverExit, 0) << call.Trail();
  EXPECT_EQ(call.sent.finishCode, 0) << call.Trail();
  EXPECT_EQ(call.receiver.Read().finishCode, 0) << call.Trail();

  // The held handler saw its own moment throughout, although the call ended meanwhile.
  EXPECT_EQ(after.code, before.code);
  EXPECT_EQ(after.page, before.page);
  EXPECT_EQ(after.bytes, before.bytes);
  EXPECT_EQ(after.remote, before.remote);
  EXPECT_EQ(before.attempt, 1);

  // Pages 1, 2, 3 started, then the end of the document, then the end of the call, in order;
  // the page shown never goes back and no byte count runs past its page.
  std::vector<std::pair<int, int>> story;
  int lastPage = 0;
  for (const Seen& s : seen) {
    EXPECT_GE(s.page, lastPage) << "status " << s.code;
    lastPage = std::max(lastPage, s.page);
    if (s.code == fpSendPage) EXPECT_LE(s.bytes, s.pageLength + 4096) << "page " << s.page;
    const std::pair<int, int> step{s.code, s.code == fpSendPage ? s.page : 0};
    if (story.empty() || story.back() != step) story.push_back(step);
  }
  std::vector<std::pair<int, int>> wanted = {{fpSendPage, 1}, {fpSendPage, 2}, {fpSendPage, 3}, {fpSendEop, 0},
                                             {fpFinished, 0}};
  size_t next = 0;
  for (const auto& step : story)
    if (next < wanted.size() && step == wanted[next]) ++next;
  std::string told;
  for (const auto& [code, page] : story) told += " " + std::to_string(code) + (page ? "/p" + std::to_string(page) : "");
  EXPECT_EQ(next, wanted.size()) << "statuses as handled:" << told;
  EXPECT_EQ(story.back().first, fpFinished) << told;
}

}  // namespace
}  // namespace qv::fax::test
