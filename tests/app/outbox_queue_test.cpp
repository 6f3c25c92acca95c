// The outbox's queue file: what is written is read back, a damaged file costs only its damaged
// entries (and is kept aside), a write that cannot happen leaves the old queue, and which failed
// tries are worth another.

#include "app/flows/outbox.h"
#include "app/store/outbox_queue.h"
#include "core/error_codes.h"
#include "core/file_util.h"

#include "../small_fs.h"
#include "test_support.h"

#include <QFile>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

TOutboxEntry Entry(int recNo, OutboxState state, const std::string& recipient) {
  TOutboxEntry e;
  e.recNo = recNo;
  e.due = 1'800'000'000 + recNo;
  e.attempts = recNo % 4;
  e.nextTry = e.due + 60;
  e.state = state;
  e.recipient = recipient;
  e.phone = "555 01" + std::to_string(recNo);
  e.subject = "Figures";
  e.reason = "Line busy";
  e.asked = recNo % 2 == 0;
  return e;
}

std::string ReadAll(const QString& path) {
  std::string bytes;
  core::ReadWholeFile(path.toStdString(), bytes);
  return bytes;
}

TEST(OutboxQueue, EveryStateAndAwkwardTextsComeBackAsWritten) {
  const std::vector<TOutboxEntry> entries = {
      Entry(1, OutboxState::kQueued, "Ann Example"),
      Entry(2, OutboxState::kSending, "Tab\there, line\nend\r\\ and back\\slash"),
      Entry(3, OutboxState::kRetryWait, ""),
      Entry(4, OutboxState::kSent, "M\xc3\xbcller GmbH"),
      Entry(5, OutboxState::kFailed, "x"),
  };
  const TOutboxParse back = ParseOutbox(FormatOutbox(entries));
  EXPECT_TRUE(back.headerOk);
  EXPECT_EQ(back.damaged, 0);
  EXPECT_EQ(back.entries, entries);
  // One line per entry after the header: a text's own line end must not split an entry.
  const std::string bytes = FormatOutbox(entries);
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 6);
}

TEST(OutboxQueue, DamagedLinesCostOnlyTheirEntries) {
  const std::vector<TOutboxEntry> entries = {Entry(1, OutboxState::kQueued, "One"), Entry(2, OutboxState::kQueued, "Two"),
                                             Entry(3, OutboxState::kRetryWait, "Three")};
  std::string bytes = FormatOutbox(entries);
  // The second entry's state is garbled, a line of noise follows, and the last line is cut short
  // (no line end), as a disk fault would leave them.
  bytes.replace(bytes.find("queued", bytes.find("\n2\t")), 6, "qu\x01ued");
  const std::string whole = FormatOutbox({Entry(9, OutboxState::kQueued, "Nine")});
  bytes += "7\tnot a number\n\n" + whole.substr(whole.find('\n') + 1, 20);
  const TOutboxParse back = ParseOutbox(bytes);
  EXPECT_TRUE(back.headerOk);
  ASSERT_EQ(back.entries.size(), 2u);
  EXPECT_EQ(back.entries[0], entries[0]);
  EXPECT_EQ(back.entries[1], entries[2]);
  EXPECT_EQ(back.damaged, 3);

  // Numbers out of range, extra fields and bad escapes are damage, not entries.
  for (const char* line : {"0\t1\t0\t1\tqueued\t0\ta\tb\tc\td", "1\t-5\t0\t1\tqueued\t0\ta\tb\tc\td",
                           "1\t1\t0\t1\tqueued\t2\ta\tb\tc\td", "1\t1\t0\t1\tqueued\t0\ta\tb\tc\td\te",
                           "1\t1\t0\t1\tqueued\t0\ta\\q\tb\tc\td", "1\t1\t0\t1\tqueued\t0\ta\tb\tc\td\\",
                           "99999999999999999999\t1\t0\t1\tqueued\t0\ta\tb\tc\td"}) {
    const TOutboxParse p = ParseOutbox(std::string(kOutboxHeader) + "\n" + line + "\n");
    EXPECT_TRUE(p.entries.empty()) << line;
    EXPECT_EQ(p.damaged, 1) << line;
  }
  // Not our file at all: nothing is taken from it.
  EXPECT_FALSE(ParseOutbox("QUORVANE OUTBOX 9\n1\t1\t0\t1\tqueued\t0\ta\tb\tc\td\n").headerOk);
  EXPECT_FALSE(ParseOutbox(std::string("\x00\xff", 2)).headerOk);
  EXPECT_TRUE(ParseOutbox("").headerOk);
}

TEST(OutboxQueue, ADamagedFileIsKeptAsideAndReportedAndTheRestIsRead) {
  test::App();
  test::DataDir dir;
  std::vector<TOutboxEntry> entries = {Entry(1, OutboxState::kQueued, "One"), Entry(2, OutboxState::kQueued, "Two")};
  ASSERT_TRUE(WriteOutbox(dir.StdPath(), entries));
  std::vector<TOutboxEntry> read;
  std::string problem;
  ASSERT_TRUE(ReadOutbox(dir.StdPath(), read, problem));
  EXPECT_EQ(read, entries);
  EXPECT_TRUE(problem.empty());

  const std::string damaged = ReadAll(dir.File(QStringLiteral("OUTBOX.QUE"))) + "garbage\n";
  ASSERT_TRUE(core::AtomicWriteFile(dir.StdPath() + "OUTBOX.QUE", damaged));
  ASSERT_TRUE(ReadOutbox(dir.StdPath(), read, problem));
  EXPECT_EQ(read, entries);
  EXPECT_NE(problem.find("1 queued fax could not be read"), std::string::npos) << problem;
  EXPECT_EQ(ReadAll(dir.File(QStringLiteral("OUTBOX.BAD"))), damaged);

  ASSERT_TRUE(core::AtomicWriteFile(dir.StdPath() + "OUTBOX.QUE", "\x7f" "ELF binary"));
  ASSERT_TRUE(ReadOutbox(dir.StdPath(), read, problem));
  EXPECT_TRUE(read.empty());
  EXPECT_NE(problem.find("could not be read"), std::string::npos) << problem;

  // No file: an empty queue, nothing to report.
  QFile::remove(dir.File(QStringLiteral("OUTBOX.QUE")));
  ASSERT_TRUE(ReadOutbox(dir.StdPath(), read, problem));
  EXPECT_TRUE(read.empty());
  EXPECT_TRUE(problem.empty());
}

TEST(OutboxQueue, AFullDiskLeavesTheQueueAsItWas) {
  test::App();
  SmallFs fs(256 * 1024);
  if (!fs.ok()) GTEST_SKIP() << fs.reason();
  const std::string dir = fs / "";
  std::vector<TOutboxEntry> entries = {Entry(1, OutboxState::kQueued, "One")};
  ASSERT_TRUE(WriteOutbox(dir, entries));
  fs.Fill("filler");
  std::vector<TOutboxEntry> many;
  for (int i = 1; i < 5000; ++i) many.push_back(Entry(i, OutboxState::kQueued, std::string(200, 'x')));
  EXPECT_FALSE(WriteOutbox(dir, many));
  std::vector<TOutboxEntry> read;
  std::string problem;
  ASSERT_TRUE(ReadOutbox(dir, read, problem));
  EXPECT_EQ(read, entries);
  EXPECT_TRUE(problem.empty());
}

TEST(OutboxRetry, BusyAndNoAnswerAreTriedAgainAWrongNumberOrARefusalIsNot) {
  for (int code : {core::ecFaxBusy, core::ecFaxNoAnswer, core::ecFaxNoDialTone, core::ecFaxNoCarrier,
                   core::ecFaxTrainError, core::ecFatalTimeout})
    EXPECT_TRUE(OutboxRetryWorthwhile(true, code)) << code;
  for (int code : {0, core::ecFaxVoiceCall, core::ecFaxDataCall, core::ecFaxBadMachine, core::ecFileRejected,
                   core::ecCancelRequested})
    EXPECT_FALSE(OutboxRetryWorthwhile(true, code)) << code;
  // The port or the modem failed before the call: another program may have held it.
  EXPECT_TRUE(OutboxRetryWorthwhile(false, 0));
}

}  // namespace
}  // namespace qv::app
