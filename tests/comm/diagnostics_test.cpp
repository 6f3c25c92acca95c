// The byte trace and the dispatch log: buffers and the exact text of their files.
#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "comm/dispatcher.h"
#include "comm/loopback_dispatcher.h"
#include "core/error_codes.h"

namespace qv::comm {
namespace {

namespace fs = std::filesystem;
using namespace qv::core;

int64_t gNow = 0;
int64_t FixedClock() { return gNow; }

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<uint8_t> Entries(std::initializer_list<std::pair<char, int>> list) {
  std::vector<uint8_t> v;
  for (auto& [kind, byte] : list) {
    v.push_back(static_cast<uint8_t>(kind));
    v.push_back(static_cast<uint8_t>(byte));
  }
  return v;
}

class DiagnosticsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qvcomm-diag-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    gNow = 1000;
    TQvBaseDispatcher::SetLogClockForTesting(&FixedClock);
    d_ = std::make_unique<TQvLoopbackDispatcher>(false);
    ASSERT_EQ(d_->OpenPort("loopback", 19200, kNoParity, 8, 1, 4096, 4096, true, true), 0);
  }
  void TearDown() override {
    d_.reset();
    TQvBaseDispatcher::SetLogClockForTesting(nullptr);
    fs::remove_all(dir_);
  }
  fs::path dir_;
  std::unique_ptr<TQvLoopbackDispatcher> d_;
};

TEST(TraceTextTest, RunsHeadersCodesAndLineWrapping) {
  // Runs of one kind, an empty line between runs; hex codes from 0 to 32 and 127 up.
  EXPECT_EQ(TQvBaseDispatcher::FormatTrace(Entries({{'T', 'A'}, {'T', ' '}, {'T', 13}, {'R', 255}, {'X', '!'}}), true),
            "Transmit: \r\nA[20][0D]\r\n\r\nReceive: \r\n[FF]\r\n\r\nSpecial-X: \r\n!\r\n");
  // Decimal codes are 3, 4 or 5 wide; a space is itself.
  EXPECT_EQ(TQvBaseDispatcher::FormatTrace(Entries({{'R', 1}, {'R', ' '}, {'R', 10}, {'R', 200}}), false),
            "Receive: \r\n[1] [10][200]\r\n");
  // 26 items of width 3 fill 78 columns; the 27th starts a new line.
  std::vector<uint8_t> many;
  for (int i = 0; i < 30; ++i) {
    many.push_back('R');
    many.push_back(1);
  }
  std::string line1, line2;
  for (int i = 0; i < 26; ++i) line1 += "[1]";
  for (int i = 0; i < 4; ++i) line2 += "[1]";
  EXPECT_EQ(TQvBaseDispatcher::FormatTrace(many, false), "Receive: \r\n" + line1 + "\r\n" + line2 + "\r\n");
  EXPECT_EQ(TQvBaseDispatcher::FormatTrace({}, true), "");
}

TEST_F(DiagnosticsTest, TraceKeepsTheNewestEntries) {
  EXPECT_EQ(d_->BeginTrace(4000001), ecBadArgument);
  ASSERT_EQ(d_->BeginTrace(5), 0);
  const char* bytes = "abcdefg";
  const char kinds[] = {'R', 'R', 'T', 'T', 'T', 'T', 'R'};
  for (int i = 0; i < 7; ++i) d_->TraceByte(kinds[i], static_cast<uint8_t>(bytes[i]));
  fs::path file = dir_ / "QVCOMM.TRC";
  ASSERT_EQ(d_->WriteTraceFile(file.string(), false, true), 0);
  EXPECT_EQ(ReadFile(file), "Transmit: \r\ncdef\r\n\r\nReceive: \r\ng\r\n");
  EXPECT_FALSE(d_->Tracing());

  // Appending adds to the file; a trace with nothing in it writes nothing.
  ASSERT_EQ(d_->BeginTrace(5), 0);
  d_->TraceByte('T', 'z');
  ASSERT_EQ(d_->WriteTraceFile(file.string(), true, true), 0);
  EXPECT_EQ(ReadFile(file), "Transmit: \r\ncdef\r\n\r\nReceive: \r\ng\r\nTransmit: \r\nz\r\n");
  ASSERT_EQ(d_->BeginTrace(5), 0);
  fs::path empty = dir_ / "empty.trc";
  ASSERT_EQ(d_->WriteTraceFile(empty.string(), false, true), 0);
  EXPECT_FALSE(fs::exists(empty));

  // Pausing stops recording; a failed dump reports the I/O error and still releases the trace.
  ASSERT_EQ(d_->BeginTrace(5), 0);
  d_->PauseTrace();
  d_->TraceByte('T', 'p');
  d_->ResumeTrace();
  d_->TraceByte('T', 'q');
  EXPECT_EQ(d_->WriteTraceFile((dir_ / "no" / "such.trc").string(), false, true), ecPathNotFound);
  EXPECT_FALSE(d_->Tracing());
  EXPECT_EQ(d_->WriteTraceFile(file.string(), false, true), ecTracingNotEnabled);
}

TEST_F(DiagnosticsTest, LogFileText) {
  ASSERT_EQ(d_->BeginLog(2000), 0);
  gNow = 1007;
  int handle = d_->NewStatusTrigger(stOutBuffUsed);
  gNow = 13345;
  ASSERT_EQ(d_->SendString("AT\r"), 0);
  ASSERT_EQ(d_->SendBlock("", 0), 0);  // nothing to send, nothing logged
  gNow = 1000 + 10000000;
  d_->AddLogEntry(11, 31, 0, nullptr, 5);
  gNow = 2000;
  d_->AddLogEntry(1, 4, 1, "x", 0x91);
  gNow = 2001;
  std::string ones(20, '\x01');
  ASSERT_EQ(d_->SendString(ones), 0);
  gNow = 2002;
  ASSERT_EQ(d_->DeleteTrigger(handle), 0);
  gNow = 2003;
  ASSERT_EQ(d_->SetAvailThreshold(5), 0);

  fs::path file = dir_ / "QVCOMM.LOG";
  ASSERT_EQ(d_->WriteLogFile(file.string(), false, true), 0);
  EXPECT_FALSE(d_->Logging());
  std::string text = ReadFile(file);

  struct utsname u;
  ASSERT_EQ(uname(&u), 0);
  std::string os = std::string("Operating System : ") + u.sysname + " " + u.release + "\r\n";
  std::string head = "QVCOMM v1.00\r\nCompiler : ";
  ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
  size_t osAt = text.find("\r\n", head.size()) + 2;
  EXPECT_GT(osAt, head.size() + 4);  // a compiler name is there
  ASSERT_EQ(text.compare(osAt, os.size(), os), 0) << text;
  std::string body = text.substr(osAt + os.size());

  std::string eight, four;
  for (int i = 0; i < 8; ++i) eight += "[01]";
  for (int i = 0; i < 4; ++i) four += "[01]";
  std::string pad(44, ' ');
  std::string expected =
      "Time      Type      SubType       Data      OtherData\r\n"
      "--------  --------  ------------  --------  ---------\r\n"
      "0000.007  TrigAllc  Status        0000000c  (Output buffer used)\r\n"
      "0012.345  Dispatch  WriteCom      00000003  AT[0D]\r\n"
      "1000.0000  Fax       tfGetEntry    00000005  \r\n"
      "0001.000  Dispatch  Modem status  00000091  x (DCTS CTS DCD)\r\n"
      "0001.001  Dispatch  WriteCom      00000014  " + eight + "\r\n" + pad + eight + "\r\n" + pad + four + "\r\n"
      "0001.002  TrigDisp  Status        0000000c  (Output buffer used)\r\n"
      "0001.003  TrDatChg  Avail         00000005  \r\n";
  EXPECT_EQ(body, expected);
}

TEST_F(DiagnosticsTest, LogRingDropsTheOldestAndOversizedData) {
  ASSERT_EQ(d_->BeginLog(60), 0);
  d_->AddLogEntry(19, 0, 10, "0123456789", 1);
  d_->AddLogEntry(19, 0, 10, "abcdefghij", 2);
  d_->AddLogEntry(19, 0, 10, "ABCDEFGHIJ", 3);  // pushes out the first
  d_->AddLogEntry(19, 0, 60, std::string(60, 'x').c_str(), 4);  // data as large as the ring: dropped
  fs::path file = dir_ / "ring.log";
  ASSERT_EQ(d_->WriteLogFile(file.string(), false, false), 0);
  std::string text = ReadFile(file);
  EXPECT_EQ(text.find("00000001"), std::string::npos);
  EXPECT_EQ(text.find("00000002"), std::string::npos);  // pushed out to make room for entry 4
  EXPECT_NE(text.find("0000.000  User                    00000003  ABCDEFGHIJ\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("0000.000  User                    00000004  \r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("xxx"), std::string::npos);

  // Nothing logged: no file.
  ASSERT_EQ(d_->BeginLog(100), 0);
  fs::path none = dir_ / "none.log";
  ASSERT_EQ(d_->WriteLogFile(none.string(), false, true), 0);
  EXPECT_FALSE(fs::exists(none));
  EXPECT_EQ(d_->BeginLog(16000001), ecBadArgument);
}

}  // namespace
}  // namespace qv::comm
