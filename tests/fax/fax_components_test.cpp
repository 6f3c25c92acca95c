#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/error_text.h"
#include "core/exceptions.h"
#include "core/message_loop.h"
#include "fax/fax_log.h"
#include "fax/receive_fax.h"
#include "fax/send_fax.h"

namespace fs = std::filesystem;

namespace qv::fax {
namespace {

class TempDir {
 public:
  TempDir() {
    path_ = fs::temp_directory_path() / ("qvfax_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    fs::create_directories(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string str() const { return path_.string(); }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
  static inline int counter_ = 0;
};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(FaxComponents, DefaultsOfBothSides) {
  TQvSendFax send;
  TQvReceiveFax receive;
  EXPECT_EQ(send.FaxClass, fcUnknown);
  EXPECT_EQ(receive.FaxClass, fcDetect);
  EXPECT_EQ(send.FaxFileExt, "");
  EXPECT_EQ(receive.FaxFileExt, "QVF");
  EXPECT_EQ(send.DesiredBPS, 9600);
  EXPECT_EQ(send.StatusInterval, 1);
  EXPECT_EQ(send.DialAttempts, 3);
  EXPECT_EQ(send.DialWait, 60);
  EXPECT_EQ(send.MaxSendCount, 50);
  EXPECT_EQ(send.BufferMinimum, 1000);
  EXPECT_TRUE(send.DetectBusy);
  EXPECT_TRUE(send.ToneDial);
  EXPECT_TRUE(send.UseMPS);
  EXPECT_EQ(receive.AnswerOnRing, 1);
  EXPECT_EQ(receive.NameScheme, 1);
  EXPECT_EQ(send.LastError(), 0);
  EXPECT_EQ(send.ComPort(), nullptr);
}

TEST(FaxComponents, ModemInitGetsAtAndIsUpperCased) {
  TQvSendFax send;
  send.SetModemInit("e0v1&d2");
  EXPECT_EQ(send.ModemInit(), "ATE0V1&D2");
  send.SetModemInit("atz");
  EXPECT_EQ(send.ModemInit(), "ATZ");
  send.SetModemInit("");
  EXPECT_EQ(send.ModemInit(), "");
  send.SetModemInit(std::string(60, 'x'));
  EXPECT_EQ(send.ModemInit().size(), 40u);
}

TEST(FaxComponents, StatusTexts) {
  EXPECT_EQ(TQvAbstractFax::StatusText(0), "");
  EXPECT_EQ(TQvAbstractFax::StatusText(44), "");
  EXPECT_EQ(TQvAbstractFax::StatusText(43), "Finished");
  EXPECT_EQ(TQvAbstractFax::StatusText(1), "Initializing modem for fax processing");
  EXPECT_EQ(TQvAbstractFax::StatusText(28), "Got Class 2 FHNG code");
}

TEST(FaxComponents, FaxFileIsTheFirstOfTheList) {
  TQvSendFax send;
  send.FaxFileList = {"A.QVF", "B.QVF"};
  EXPECT_EQ(send.FaxFile(), "A.QVF");
  send.SetFaxFile("C.QVF");
  EXPECT_EQ(send.FaxFileList, std::vector<std::string>{"C.QVF"});
}

TEST(FaxComponents, StartWithoutPortRaisesPortNotAssigned) {
  TQvSendFax send;
  send.SetFaxFile("x.qvf");
  send.PhoneNumber = "1";
  try {
    send.StartSending();
    FAIL() << "no exception";
  } catch (const std::exception& e) {
    EXPECT_EQ(core::ErrorCodeFromException(e), -1005);
  }
  TQvReceiveFax receive;
  EXPECT_THROW(receive.StartReceiving(), core::EQvException);
  EXPECT_FALSE(receive.Active());
}

TEST(FaxComponents, AutomaticFileNames) {
  TempDir dir;
  TQvReceiveFax receive;
  receive.SetDestinationDir(dir.str());
  EXPECT_EQ(receive.DestinationDir().back(), '/');
  EXPECT_EQ(receive.NextFileName(), (dir / "FAX0001.QVF").string());
  std::ofstream(dir / "FAX0001.QVF") << "x";
  std::ofstream(dir / "FAX0002.QVF") << "x";
  EXPECT_EQ(receive.NextFileName(), (dir / "FAX0003.QVF").string());
  receive.NameScheme = 2;
  std::string name = fs::path(receive.NextFileName()).filename().string();
  EXPECT_EQ(name.size(), std::string("MMDD0001.QVF").size());
  EXPECT_EQ(name.substr(4), "0001.QVF");
  receive.NameScheme = 7;
  EXPECT_EQ(receive.NextFileName(), (dir / "noname.qvf").string());
}

TEST(FaxLog, TransmitStartWritesOneLinePerDocument) {
  core::MessageLoop::instance().bindToCurrentThread();
  TempDir dir;
  TQvSendFax send;
  TQvFaxLog log;
  log.FaxHistoryName = (dir / "QVFAX.HIS").string();
  send.SetFaxLog(&log);
  EXPECT_EQ(log.Fax, &send);
  send.FaxFileList = {"ONE.QVF", "TWO.QVF"};
  send.PhoneNumber = "5551234";
  log.WriteLogEntry(1);
  log.WriteLogEntry(2);
  std::string text = ReadFile(dir / "QVFAX.HIS");
  EXPECT_EQ(text.find("Transmit ONE.QVF to 5551234 started at "), 0u);
  EXPECT_NE(text.find("\r\nTransmit TWO.QVF to 5551234 started at "), std::string::npos);
  EXPECT_NE(text.find("Transmit to  finished OK at "), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 6), " 0\r\n\r\n");
  // Receive codes are not written for a transmitter.
  log.WriteLogEntry(5);
  EXPECT_EQ(ReadFile(dir / "QVFAX.HIS"), text);
}

TEST(FaxLog, ReceiveEntriesAndNoFileWithoutName) {
  TempDir dir;
  TQvReceiveFax receive;
  TQvFaxLog log;
  log.FaxHistoryName = (dir / "HIST.TXT").string();
  receive.SetFaxLog(&log);
  receive.SetFaxFile("/tmp/FAX0001.QVF");
  log.WriteLogEntry(4);
  log.WriteLogEntry(5);
  log.WriteLogEntry(6);
  std::string text = ReadFile(dir / "HIST.TXT");
  EXPECT_EQ(text.find("Receive /tmp/FAX0001.QVF from  started at "), 0u);
  EXPECT_NE(text.find("\r\nReceive finished OK at "), std::string::npos);
  EXPECT_NE(text.find("\r\n\r\nReceive skipped at "), std::string::npos);
  log.WriteLogEntry(1);  // a transmit code from a receiver: nothing
  EXPECT_EQ(ReadFile(dir / "HIST.TXT"), text);

  TQvFaxLog quiet;
  quiet.FaxHistoryName = "";
  TQvReceiveFax other;
  other.SetFaxLog(&quiet);
  quiet.WriteLogEntry(5);
  EXPECT_TRUE(fs::is_empty(dir.str()) == false);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.str()), fs::directory_iterator()), 1);
}

// Each side formats its own events and none of the other side's: one entry per event, with the
// texts the history file has always had.
TEST(FaxLog, EachSideWritesAnEntryForEachOfItsEventsOnly) {
  auto startsWith = [](const std::string& s, const std::string& p) { return s.rfind(p, 0) == 0; };
  auto endsWith = [](const std::string& s, const std::string& e) {
    return s.size() >= e.size() && s.compare(s.size() - e.size(), e.size(), e) == 0;
  };
  TQvSendFax send;
  TQvFaxLog sendLog;
  send.SetFaxLog(&sendLog);
  send.FaxFileList = {"ONE.QVF"};
  send.PhoneNumber = "5551234";
  const std::string noError = "  (" + core::ErrorText(0) + ") 0\r\n\r\n";
  EXPECT_TRUE(startsWith(sendLog.EntryText(lcTransmitStarted), "Transmit ONE.QVF to 5551234 started at "));
  EXPECT_TRUE(endsWith(sendLog.EntryText(lcTransmitStarted), "\r\n"));
  EXPECT_TRUE(startsWith(sendLog.EntryText(lcTransmitOk), "Transmit to  finished OK at "));
  EXPECT_TRUE(endsWith(sendLog.EntryText(lcTransmitOk), " 0\r\n\r\n"));
  EXPECT_TRUE(startsWith(sendLog.EntryText(lcTransmitFailed), "Transmit failed at "));
  EXPECT_TRUE(endsWith(sendLog.EntryText(lcTransmitFailed), "\r\n" + noError));

  TQvReceiveFax receive;
  TQvFaxLog receiveLog;
  receive.SetFaxLog(&receiveLog);
  receive.SetFaxFile("FAX0001.QVF");
  EXPECT_TRUE(startsWith(receiveLog.EntryText(lcReceiveStarted), "Receive FAX0001.QVF from  started at "));
  EXPECT_TRUE(startsWith(receiveLog.EntryText(lcReceiveOk), "Receive finished OK at "));
  EXPECT_TRUE(startsWith(receiveLog.EntryText(lcReceiveSkipped), "Receive skipped at "));
  EXPECT_TRUE(startsWith(receiveLog.EntryText(lcReceiveFailed), "Receive failed at "));
  EXPECT_TRUE(endsWith(receiveLog.EntryText(lcReceiveFailed), "\r\n  (" + core::ErrorText(0) + ")\r\n\r\n"));
  for (int code : {lcReceiveOk, lcReceiveSkipped}) {
    const std::string text = receiveLog.EntryText(code);
    EXPECT_TRUE(endsWith(text, "\r\n\r\n")) << code;
    EXPECT_EQ(text.find("\r\n"), text.size() - 4) << code;  // one line, then the empty one
  }

  for (int code = 0; code <= 8; ++code) {
    const bool transmit = code >= lcTransmitStarted && code <= lcTransmitFailed;
    const bool receiveCode = code >= lcReceiveStarted && code <= lcReceiveFailed;
    EXPECT_EQ(sendLog.EntryText(code).empty(), !transmit) << code;
    EXPECT_EQ(receiveLog.EntryText(code).empty(), !receiveCode) << code;
  }
}

TEST(FaxLog, UnwritableHistoryRaisesIoError) {
  TQvReceiveFax receive;
  TQvFaxLog log;
  log.FaxHistoryName = "/nonexistent-dir/x/QVFAX.HIS";
  receive.SetFaxLog(&log);
  EXPECT_THROW(log.WriteLogEntry(5), core::EInOutError);
}

TEST(FaxLog, DestroyingTheLogUnlinksItFromTheFax) {
  TQvReceiveFax receive;
  {
    TQvFaxLog log;
    receive.SetFaxLog(&log);
    EXPECT_EQ(receive.FaxLog(), &log);
  }
  EXPECT_EQ(receive.FaxLog(), nullptr);
}

TEST(FaxLog, DestroyingTheFaxUnlinksTheLog) {
  TQvFaxLog log;
  {
    TQvSendFax send;
    send.SetFaxLog(&log);
    EXPECT_EQ(log.Fax, &send);
  }
  EXPECT_EQ(log.Fax, nullptr);
  log.WriteLogEntry(1);  // no fax linked: nothing, no crash
}

}  // namespace
}  // namespace qv::fax
