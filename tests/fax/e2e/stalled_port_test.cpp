// A port that stops taking bytes once the call is under way: the send must end with the
// time-out error and a history entry, not leave the session waiting on a short command.
#include "fax_harness.h"

namespace qv::fax::test {
namespace {

// Answers OK to every command line while the start-up checks run; once the session's machine
// has registered its handler the output buffer stays full for good.
class StallingChannel final : public FaxChannel {
 public:
  int ReadChar(uint8_t& c) override {
    if (replies_.empty()) return -1;
    c = static_cast<uint8_t>(replies_.front());
    replies_.erase(replies_.begin());
    return 0;
  }
  bool HasInput() override { return !replies_.empty(); }
  void PurgeInput() override { replies_.clear(); }
  int SendBlock(const uint8_t* data, size_t count) override {
    if (stalled_) return 0;
    for (size_t i = 0; i < count; ++i)
      if (data[i] == '\r') replies_ += "\r\nOK\r\n";
    return static_cast<int>(count);
  }
  int OutputUsed() override { return stalled_ ? 8192 : 0; }
  int OutputFree() override { return stalled_ ? 0 : 8192; }
  int OutputSize() override { return 8192; }
  void PurgeOutput() override { ++purges; }
  int SetBaud(int) override { return 0; }
  int CurrentBaud() override { return 19200; }
  void DriveDtr(bool) override {}
  void DriveRts(bool) override {}
  bool CheckCarrier() override { return false; }
  void SetSoftwareFlow(int, int, int) override {}
  void ClearSoftwareFlow() override {}
  int NewTimerTrigger() override { return ++handles_; }
  int NewStatusTrigger(int) override { return ++handles_; }
  int ArmTimerTrigger(int, int, bool) override { return 0; }  // time-outs never fire here
  int ArmStatusTrigger(int, int, bool) override { return 0; }
  int DeleteTrigger(int) override { return 0; }
  int RegisterHandler(Handler) override {
    stalled_ = true;
    return 0;
  }
  void UnregisterHandler() override {}
  bool SetDispatchBusy(bool) override { return false; }
  void LogFaxState(int, int) override {}

  int purges = 0;

 private:
  std::string replies_;
  bool stalled_ = false;
  int handles_ = 0;
};

TEST(StalledPort, SenderEndsTheCallWithTimeoutAndLogsIt) {
  core::MessageLoop::instance().bindToCurrentThread();
  TempDir dir;
  MakeQvf(dir.str("doc.qvf"), 1, false);
  TQvSendFax send;
  auto channel = std::make_unique<StallingChannel>();
  StallingChannel* ch = channel.get();
  send.SetChannel(std::move(channel));
  TQvFaxLog log;
  log.FaxHistoryName = dir.str("send.his");
  send.SetFaxLog(&log);
  Events sent;
  sent.Attach(send);
  send.FaxClass = fcClass2;
  send.ExitOnError = true;
  send.PhoneNumber = "555";
  send.SetFaxFile(dir.str("doc.qvf"));
  send.StartSending();
  // one 10 s stall plus the finish; without the report the session never ends
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(PumpUntil({&sent}, 40)) << sent.Trail();
  // the stalled port is waited for once, not again for every later command
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(18));
  EXPECT_EQ(sent.finishCode, core::ecFatalTimeout);
  EXPECT_EQ(sent.errors, std::vector<int>{core::ecFatalTimeout});
  EXPECT_EQ(sent.logs, (std::vector<int>{1, 3}));
  EXPECT_GE(ch->purges, 1);  // the unsent rest is thrown away, not left to trickle out later
  EXPECT_FALSE(ReadText(dir.str("send.his")).empty());
  EXPECT_FALSE(send.Active());
}

}  // namespace
}  // namespace qv::fax::test
