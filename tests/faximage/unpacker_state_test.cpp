#include "faximage/unpacker_state.h"

#include <gtest/gtest.h>

#include "core/error_codes.h"
#include "core/message_loop.h"
#include "t4_test_coder.h"
#include "temp_dir.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;
using qv::core::MessageLoop;

namespace {

using Rows = std::vector<std::vector<uint8_t>>;

struct RecordingSink : UnpackRowSink {
  Rows rows;
  int starts = 0, ends = 0;
  int startPage(const UnpackerState&) override { return ++starts, 0; }
  int row(std::span<const uint8_t> r) override {
    rows.emplace_back(r.begin(), r.end());
    return 0;
  }
  int endPage(const UnpackerState&) override { return ++ends, 0; }
};

Rows TextRows(int count, int width, int seed = 1) {
  std::mt19937 rng(static_cast<unsigned>(seed));
  Rows rows;
  for (int i = 0; i < count; ++i) rows.push_back(RandomRow(rng, width));
  return rows;
}

class UnpackPageTest : public ::testing::Test {
 protected:
  std::string write(QvfBuilder& b, const std::string& name = "fax.qvf") {
    std::string path = dir.file(name);
    b.save(path);
    return path;
  }
  TempDir dir;
  UnpackerState st;
  RecordingSink sink;
};

}  // namespace

TEST_F(UnpackPageTest, RowRecordPageGivesItsRowsAndRawPageToo) {
  Rows rows = TextRows(40, 1728);
  QvfBuilder b;
  b.recordPage(rows, 1728, true).rawPage(rows, 1728, true);
  std::string path = write(b);
  ASSERT_EQ(UnpackPage(st, path, 1, sink), 0);
  EXPECT_EQ(sink.rows, rows);
  EXPECT_EQ(st.PageHeader.PageFlags, pfRowRecords | pfHighRes);
  EXPECT_EQ(st.BadCodes, 0u);
  RecordingSink raw;
  ASSERT_EQ(UnpackPage(st, path, 2, raw), 0);
  EXPECT_EQ(raw.rows, rows);
  EXPECT_EQ(raw.starts, 1);
  EXPECT_EQ(raw.ends, 1);
}

// Page 3 is found by walking the headers of pages 1 and 2 whatever their kind.
TEST_F(UnpackPageTest, WalksToLaterPages) {
  QvfBuilder b;
  b.rawPage(TextRows(3, 2048, 1), 2048, false)
      .recordPage(TextRows(5, 1728, 2), 1728, false)
      .recordPage(TextRows(7, 2048, 3), 2048, true);
  std::string path = write(b);
  ASSERT_EQ(UnpackPage(st, path, 3, sink), 0);
  EXPECT_EQ(sink.rows, TextRows(7, 2048, 3));
  EXPECT_EQ(st.FaxHeader.PageCount, 3);
  EXPECT_EQ(st.CurrentPage, 3);
}

TEST_F(UnpackPageTest, AutoScaleAppliesToStandardPagesOnly) {
  Rows rows = {RowWithPixel(1728, 0), RowWithPixel(1728, 3), RowWithPixel(1728, 1727)};
  QvfBuilder b;
  b.recordPage(rows, 1728, false).recordPage(rows, 1728, true);
  std::string path = write(b);

  st.setAutoScale(kUnpackDoubleHeight);
  ASSERT_EQ(UnpackPage(st, path, 1, sink), 0);
  ASSERT_EQ(sink.rows.size(), 6u);
  EXPECT_EQ(sink.rows[0], rows[0]);
  EXPECT_EQ(sink.rows[1], rows[0]);
  RecordingSink fine;
  ASSERT_EQ(UnpackPage(st, path, 2, fine), 0);
  EXPECT_EQ(fine.rows, rows);

  st.setAutoScale(kUnpackHalfWidth);
  EXPECT_EQ(st.UnpackFlags & (kUnpackDoubleHeight | kUnpackHalfWidth), kUnpackHalfWidth);
  RecordingSink half;
  ASSERT_EQ(UnpackPage(st, path, 1, half), 0);
  ASSERT_EQ(half.rows.size(), 3u);
  EXPECT_EQ(half.rows[0], RowWithPixel(864, 0));    // pixels 0 and 1 -> 0
  EXPECT_EQ(half.rows[1], RowWithPixel(864, 1));    // pixels 2 and 3 -> 1
  EXPECT_EQ(half.rows[2], RowWithPixel(864, 863));  // 1726 and 1727 -> 863

  st.setAutoScale(kUnpackDoubleHeight | kUnpackHalfWidth);  // both at once: ignored
  EXPECT_EQ(st.UnpackFlags & (kUnpackDoubleHeight | kUnpackHalfWidth), kUnpackHalfWidth);
}

TEST_F(UnpackPageTest, InvertedRowsKeepBlankRowsEmpty) {
  Rows rows = {RowWithPixel(1728, 9), BlankRow(1728), BlankRow(1728), RowWithPixel(1728, 9)};
  QvfBuilder b;
  b.recordPage(rows, 1728, true);
  std::string path = write(b);
  st.Invert = true;
  ASSERT_EQ(st.setWhitespace(1, 1), 0);
  ASSERT_EQ(UnpackPage(st, path, 1, sink), 0);
  ASSERT_EQ(sink.rows.size(), 3u);
  EXPECT_EQ(sink.rows[0][1], 0xBF);
  EXPECT_EQ(sink.rows[0][0], 0xFF);
  EXPECT_TRUE(sink.rows[1].empty());
}

// From 10, To 2: a run of 30 blank rows between text becomes 2, a run of 5 stays 5; a trailing run
// is shortened the same way, or dropped when From = To.
TEST_F(UnpackPageTest, WhitespaceCompression) {
  auto text = RowWithPixel(1728, 100);
  Rows rows;
  rows.push_back(text);
  for (int i = 0; i < 30; ++i) rows.push_back(BlankRow(1728));
  rows.push_back(text);
  for (int i = 0; i < 5; ++i) rows.push_back(BlankRow(1728));
  rows.push_back(text);
  for (int i = 0; i < 12; ++i) rows.push_back(BlankRow(1728));
  QvfBuilder b;
  b.recordPage(rows, 1728, true);
  std::string path = write(b);

  ASSERT_EQ(st.setWhitespace(10, 2), 0);
  ASSERT_EQ(UnpackPage(st, path, 1, sink), 0);
  std::vector<size_t> sizes;
  for (auto& r : sink.rows) sizes.push_back(r.size());
  std::vector<size_t> expected = {216, 0, 0, 216, 0, 0, 0, 0, 0, 216, 0, 0};
  EXPECT_EQ(sizes, expected);

  ASSERT_EQ(st.setWhitespace(10, 10), 0);
  RecordingSink same;
  ASSERT_EQ(UnpackPage(st, path, 1, same), 0);
  EXPECT_EQ(same.rows.size(), 1u + 10 + 1 + 5 + 1);

  EXPECT_EQ(st.setWhitespace(2, 10), qv::core::ecBadArgument);
  EXPECT_EQ(st.setWhitespace(0, 3), qv::core::ecBadArgument);
  EXPECT_EQ(st.WhitespaceFrom, 10) << "a refused pair changes nothing";
  ASSERT_EQ(st.setWhitespace(0, 0), 0);
  RecordingSink off;
  ASSERT_EQ(UnpackPage(st, path, 1, off), 0);
  EXPECT_EQ(off.rows, rows);
}

TEST_F(UnpackPageTest, FileErrors) {
  EXPECT_EQ(UnpackPage(st, "", 1, sink), qv::core::ecFileNotFound);
  EXPECT_EQ(UnpackPage(st, dir.file("missing.qvf"), 1, sink), qv::core::ecFileNotFound);

  QvfBuilder b;
  b.recordPage(TextRows(2, 1728), 1728, true);
  auto good = b.bytes();
  b.bytes()[5] = 0x1B;  // "QVF10" and a byte other than 0x1A
  EXPECT_EQ(UnpackPage(st, write(b, "sig.qvf"), 1, sink), qv::core::ecFaxBadFormat);

  QvfBuilder two;
  two.recordPage(TextRows(2, 1728), 1728, true);
  std::string path = write(two, "one.qvf");
  EXPECT_EQ(UnpackPage(st, path, 2, sink), qv::core::ecFaxBadFormat);
  EXPECT_EQ(UnpackPage(st, path, 0, sink), qv::core::ecFaxBadFormat);

  QvfBuilder none;  // PageCount 0
  EXPECT_EQ(UnpackPage(st, write(none, "none.qvf"), 1, sink), qv::core::ecFaxBadFormat);

  QvfBuilder empty;
  empty.page({}, 0);  // raw page without data
  EXPECT_EQ(UnpackPage(st, write(empty, "empty.qvf"), 1, sink), qv::core::ecFaxBadFormat);

  QvfBuilder cut;  // header cut short
  cut.bytes().resize(40);
  EXPECT_EQ(UnpackPage(st, write(cut, "cut.qvf"), 1, sink), qv::core::ecReadPastEof);

  QvfBuilder back;  // page 1 length pointing backwards: page 2 cannot be found
  back.recordPage(TextRows(1, 1728), 1728, true).recordPage(TextRows(1, 1728), 1728, true);
  back.bytes()[64 + 3] = 0x80;
  EXPECT_EQ(UnpackPage(st, write(back, "back.qvf"), 2, sink), qv::core::ecFaxBadFormat);
  // The page's own length negative: damaged like any other chain, not read on into what follows.
  EXPECT_EQ(UnpackPage(st, write(back, "back.qvf"), 1, sink), qv::core::ecFaxBadFormat);
}

// A raw page is read only as far as its length says, so a page without RTC does not run on into
// the next page; and a raw page whose data stops early shows what arrived.
TEST_F(UnpackPageTest, RawPagesStopAtTheirOwnData) {
  Rows first = TextRows(4, 1728, 5), second = TextRows(6, 1728, 6);
  QvfBuilder b;
  b.rawPage(first, 1728, true, /*rtc=*/false).rawPage(second, 1728, true);
  std::string path = write(b);
  ASSERT_EQ(UnpackPage(st, path, 1, sink), 0);
  EXPECT_EQ(sink.rows, Rows(first.begin(), first.end() - 1))
      << "the last row has no EOL after it, the next page's rows must not appear";

  QvfBuilder unfinished;  // receiver stopped before the header was completed: length 0, no RTC
  unfinished.rawPage(second, 1728, true, false, 0);
  RecordingSink partial;
  ASSERT_EQ(UnpackPage(st, write(unfinished, "partial.qvf"), 1, partial), 0);
  EXPECT_EQ(partial.rows.size(), second.size() - 1);

  QvfBuilder longer;  // length beyond the end of the file
  longer.rawPage(second, 1728, true, true, 1 << 20);
  RecordingSink cut;
  ASSERT_EQ(UnpackPage(st, write(longer, "long.qvf"), 1, cut), 0);
  EXPECT_EQ(cut.rows, second);
}

TEST_F(UnpackPageTest, StatusReportsBytesUpToImageLength) {
  QvfBuilder b;
  b.recordPage(TextRows(30, 1728), 1728, true);
  std::string path = write(b);
  int64_t last = -1, total = 0;
  int calls = 0;
  bool monotonic = true;
  st.StatusSink = [&](const std::string& name, int page, int64_t done, int64_t all) {
    EXPECT_EQ(name, path);
    EXPECT_EQ(page, 1);
    monotonic = monotonic && done >= last && done <= all;
    last = done;
    total = all;
    ++calls;
  };
  ASSERT_EQ(UnpackPage(st, path, 1, sink), 0);
  EXPECT_TRUE(monotonic);
  EXPECT_EQ(total, st.ImageLength);
  EXPECT_EQ(last, st.ImageLength);
  EXPECT_GT(calls, 30);
  EXPECT_EQ(sink.rows.size(), 30u);
}

// While yielding, pending messages run; one of them can abort the page, and the quit message
// stops it with -1003 and stays posted for the outer loop.
TEST_F(UnpackPageTest, YieldAbortAndQuit) {
  MessageLoop& loop = MessageLoop::instance();
  loop.bindToCurrentThread();
  loop.takeQuit();
  QvfBuilder b;
  b.recordPage(TextRows(100, 1728), 1728, true);
  std::string path = write(b);

  st.UnpackFlags |= kUnpackYield;
  int ran = 0;
  loop.post([&] { ++ran; });
  ASSERT_EQ(UnpackPage(st, path, 1, sink), 0);
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(sink.rows.size(), 100u);

  RecordingSink aborted;
  struct AbortAfter : RecordingSink {
    UnpackerState* st;
    int row(std::span<const uint8_t> r) override {
      if (rows.size() == 20) MessageLoop::instance().post([s = st] { s->UnpackFlags |= kUnpackAbort; });
      return RecordingSink::row(r);
    }
  } abortSink;
  abortSink.st = &st;
  ASSERT_EQ(UnpackPage(st, path, 1, abortSink), 0);
  EXPECT_GE(abortSink.rows.size(), 21u);
  EXPECT_LT(abortSink.rows.size(), 40u);
  EXPECT_EQ(abortSink.ends, 1);
  st.UnpackFlags &= ~kUnpackAbort;

  loop.postQuit();
  RecordingSink quit;
  EXPECT_EQ(UnpackPage(st, path, 1, quit), qv::core::ecGotQuitMsg);
  EXPECT_TRUE(loop.quitPosted());
  loop.takeQuit();
}

TEST_F(UnpackPageTest, SinkErrorStopsUnpacking) {
  struct Failing : RecordingSink {
    int row(std::span<const uint8_t> r) override { return rows.size() == 3 ? qv::core::ecOutOfMemory : RecordingSink::row(r); }
  } failing;
  QvfBuilder b;
  b.recordPage(TextRows(10, 1728), 1728, true);
  EXPECT_EQ(UnpackPage(st, write(b), 1, failing), qv::core::ecOutOfMemory);
  EXPECT_EQ(failing.rows.size(), 3u);
  EXPECT_EQ(failing.ends, 0);
}
