#include "faximage/fax_converter.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/exceptions.h"
#include "core/message_loop.h"
#include "faximage/t4_coder.h"
#include "image_files.h"
#include "qvf_pages.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;
namespace fs = std::filesystem;

TEST(FaxConverter, DefaultsAndPropertyRules) {
  TQvFaxConverter c;
  EXPECT_EQ(c.InputDocumentType(), idNone);
  EXPECT_EQ(c.Options(), 13u);
  EXPECT_EQ(c.Resolution(), frNormal);
  EXPECT_EQ(c.Width(), fwNormal);
  EXPECT_EQ(c.TopMargin(), 0);
  EXPECT_EQ(c.LeftMargin(), 50);
  EXPECT_EQ(c.LinesPerPage(), 60);
  EXPECT_EQ(c.TabStop(), 4);
  EXPECT_EQ(c.FontFile(), "QVFAX.FNT");
  EXPECT_EQ(c.FontType(), ffStandard);
  EXPECT_EQ(c.StationID(), "");
  c.SetOptions(coYieldOften);
  EXPECT_EQ(c.Options(), static_cast<TFaxCvtOptionsSet>(coYield | coYieldOften));
  c.SetDocumentFile("/some/folder/LETTER.TXT");
  EXPECT_EQ(c.OutFileName(), "/some/folder/LETTER.QVF");
}

TEST(FaxConverter, RefusesNoneAndBitmapBeforeTouchingFiles) {
  TempDir dir;
  TQvFaxConverter c;
  c.SetDocumentFile(dir.file("in.txt"));
  WriteAll(dir.file("in.txt"), {'a'});
  for (TFaxInputDocumentType t : {idNone, idBitmap}) {
    c.SetInputDocumentType(t);
    try {
      c.ConvertToFile();
      FAIL() << "no exception";
    } catch (const qv::core::EBadArgument& e) {
      EXPECT_EQ(e.ErrorCode(), -1002);
    }
    EXPECT_FALSE(fs::exists(dir.file("in.QVF")));
  }
}

TEST(FaxConverter, OutputAndInputNameRules) {
  TempDir dir;
  WriteAll(dir.file("note.TXT"), {'h', 'i', '\r', '\n'});
  TQvFaxConverter c;
  c.SetInputDocumentType(idText);
  c.SetDocumentFile(dir.file("note"));  // DefaultExt "TXT" is added for reading
  c.SetOutFileName(dir.file("result"));  // "QVF" is added
  c.ConvertToFile();
  EXPECT_TRUE(fs::exists(dir.file("result.QVF")));
  c.SetOutFileName("");  // then the input's own name with ".QVF"
  c.ConvertToFile();
  EXPECT_TRUE(fs::exists(dir.file("note.QVF")));
}

TEST(FaxConverter, TopMarginRowsOnEveryPageAtAnyWidth) {
  TempDir dir;
  WriteAll(dir.file("two.txt"), {'a', '\r', '\n', '\f', 'b'});
  for (TFaxWidth w : {fwNormal, fwWide}) {
    TQvFaxConverter c;
    c.SetInputDocumentType(idText);
    c.SetWidth(w);
    c.SetTopMargin(3);
    c.SetDocumentFile(dir.file("two.txt"));
    c.ConvertToFile();
    auto pages = ReadQvfPages(dir.file("two.QVF"));
    ASSERT_EQ(pages.size(), 2u);
    for (const auto& p : pages) {
      EXPECT_EQ(p.Flags, w == fwWide ? (pfRowRecords | pfWide) : pfRowRecords);
      ASSERT_GE(p.RecordLengths.size(), 4u);
      for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(p.RecordLengths[static_cast<size_t>(i)], 6);
        // White across the page's whole width, 2048 pixels on wide pages.
        EXPECT_TRUE(AllWhite(p.Rows[static_cast<size_t>(i)])) << i;
        EXPECT_EQ(p.Rows[static_cast<size_t>(i)].size(), w == fwWide ? 2048u : 1728u);
      }
      EXPECT_TRUE(p.EndsWithEndOfPage);
    }
    // At standard width the top-margin record is the fixed blank row.
    std::vector<uint8_t> f = ReadAll(dir.file("two.QVF"));
    if (w == fwNormal) {
      EXPECT_TRUE(std::equal(kBlankCodedRow.begin(), kBlankCodedRow.end(), f.begin() + 82));
    }
  }
}

TEST(FaxConverter, StatusEventsAndAbort) {
  TempDir dir;
  std::string text;
  for (int i = 0; i < 10; ++i) text += "line\r\n";
  WriteAll(dir.file("t.txt"), std::vector<uint8_t>(text.begin(), text.end()));
  TQvFaxConverter c;
  c.SetInputDocumentType(idText);
  c.SetDocumentFile(dir.file("t.txt"));
  int starting = 0, ending = 0, calls = 0, lastLines = 0;
  int64_t total = 0;
  c.OnStatus = [&](TQvCustomFaxConverter* sender, bool s, bool e, int pages, int lines,
                   int64_t, int64_t toConvert, bool& abort) {
    EXPECT_EQ(sender, &c);
    ++calls;
    starting += s;
    ending += e;
    if (!s && !e) {
      EXPECT_EQ(pages, 1);
    }
    lastLines = lines;
    total = toConvert;
    abort = false;
  };
  c.ConvertToFile();
  EXPECT_EQ(starting, 1);
  EXPECT_EQ(ending, 1);
  EXPECT_EQ(calls, 2 + 10 * 16 + 1);
  EXPECT_EQ(lastLines, 161);
  EXPECT_EQ(total, static_cast<int64_t>(text.size()));

  c.OnStatus = [&](TQvCustomFaxConverter*, bool, bool, int, int lines, int64_t, int64_t,
                   bool& abort) { abort = lines == 20; };
  try {
    c.ConvertToFile();
    FAIL() << "no exception";
  } catch (const qv::core::EQvException& e) {
    EXPECT_EQ(e.ErrorCode(), -8003);
  }
  EXPECT_FALSE(fs::exists(dir.file("t.QVF")));
}

TEST(FaxConverter, QuitMessageWhileYieldingStopsAndDeletes) {
  TempDir dir;
  WriteAll(dir.file("q.txt"), {'a', '\f', 'b', '\f', 'c'});
  auto& loop = qv::core::MessageLoop::instance();
  loop.bindToCurrentThread();
  TQvFaxConverter c;
  c.SetInputDocumentType(idText);
  c.SetDocumentFile(dir.file("q.txt"));
  bool ran = false;
  loop.post([&] { ran = true; });
  loop.postQuit();
  try {
    c.ConvertToFile();
    FAIL() << "no exception";
  } catch (const qv::core::EQvException& e) {
    EXPECT_EQ(e.ErrorCode(), -1003);
  }
  EXPECT_TRUE(ran);               // pending work ran while yielding
  EXPECT_TRUE(loop.quitPosted());  // and the quit stays for the outer loop
  loop.takeQuit();
  EXPECT_FALSE(fs::exists(dir.file("q.QVF")));

  // Without coYield nothing is pumped and the conversion completes.
  loop.postQuit();
  c.SetOptions(coCenterImage);
  c.ConvertToFile();
  loop.takeQuit();
  EXPECT_EQ(ReadQvfPages(dir.file("q.QVF")).size(), 3u);
}

TEST(FaxConverter, FileErrorsLeaveNoOutput) {
  TempDir dir;
  TQvFaxConverter c;
  c.SetInputDocumentType(idBmp);
  c.SetDocumentFile(dir.file("missing.bmp"));
  try {
    c.ConvertToFile();
    FAIL();
  } catch (const qv::core::EQvException& e) {
    EXPECT_EQ(e.ErrorCode(), -2);
  } catch (const std::exception& e) {
    EXPECT_EQ(qv::core::ErrorCodeFromException(e), -2) << e.what();
  }
  EXPECT_FALSE(fs::exists(dir.file("missing.QVF")));

  WriteAll(dir.file("ok.bmp"), MakeBmp1(16, Pattern(16, 4)));
  c.SetDocumentFile(dir.file("ok.bmp"));
  c.SetOutFileName(dir.file("no/such/dir/out.QVF"));
  try {
    c.ConvertToFile();
    FAIL();
  } catch (const std::exception& e) {
    EXPECT_EQ(qv::core::ErrorCodeFromException(e), -3) << e.what();
  }
}

TEST(FaxConverter, UserRowsThroughEvents) {
  TempDir dir;
  TQvFaxConverter c;
  c.SetInputDocumentType(idUser);
  c.SetDefUserExtension("ROW");
  c.SetDocumentFile(dir.file("rows"));
  c.SetLeftMargin(0);
  std::string opened;
  int closed = 0, rows = 0;
  c.OnOpenUserFile = [&](TQvCustomFaxConverter*, const std::string& name) { opened = name; };
  c.OnCloseUserFile = [&](TQvCustomFaxConverter*) { ++closed; };
  c.OnReadUserLine = [&](TQvCustomFaxConverter*, uint8_t* data, int& len, bool& eop, bool& more) {
    ++rows;
    if (rows == 3 || rows == 5) {
      eop = true;
      more = rows == 3;
      return;
    }
    data[0] = 0xF0;
    len = 1;
  };
  c.ConvertToFile();
  EXPECT_EQ(opened, dir.file("rows.ROW"));
  EXPECT_EQ(closed, 1);
  auto pages = ReadQvfPages(dir.file("rows.QVF"));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].Rows.size(), 2u);
  EXPECT_EQ(pages[1].Rows.size(), 1u);
  std::vector<int> want(1728, 0);
  for (int x = 0; x < 4; ++x) want[static_cast<size_t>(x)] = 1;
  EXPECT_EQ(pages[1].Rows[0], want);

  // Without a row handler the page ends at once.
  c.OnReadUserLine = nullptr;
  c.ConvertToFile();
  pages = ReadQvfPages(dir.file("rows.QVF"));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_TRUE(pages[0].Rows.empty());
}
