#include "app/forms/main_screen.h"

#include "app/editor/fax_editor.h"
#include "app/store/fax_store.h"
#include "app/store/table_pair.h"
#include "faximage/qvf_file.h"
#include "rtf/rtf_reader.h"
#include "send_helpers.h"
#include "store_helpers.h"
#include "ui/document_fax.h"
#include "../../small_fs.h"
#include "../test_support.h"

#include <QFile>
#include <QFileInfo>
#include <QToolBar>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

using test::AddFaxWithMemos;
using test::FilesLike;
using test::RtfPages;

const QString kNoContents = QStringLiteral("Fax has no contents or cover sheet");

// The image bytes of each page of a QVF file.
std::vector<QByteArray> PageImages(const QString& file) {
  std::vector<QByteArray> out;
  faximage::QvfFileHeader h;
  if (faximage::ReadFaxHeader(file.toStdString(), h) != 0) return out;
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return out;
  const QByteArray all = f.readAll();
  for (int p = 1; p <= h.PageCount; ++p) {
    faximage::QvfPageHeader ph;
    int64_t off = 0;
    if (faximage::ReadPageHeader(file.toStdString(), p, ph, &off) != 0) break;
    out.push_back(all.mid(qsizetype(off), ph.ImageLength));
  }
  return out;
}

// The pages the desktop renderer makes of one RTF text on its own.
std::vector<QByteArray> RenderedAlone(const std::string& rtf, const QString& dir,
                                      std::function<QString(int)> fields = {}) {
  rtf::Document doc;
  EXPECT_TRUE(rtf::ReadRtf(rtf, doc));
  const QString out = dir + QStringLiteral("alone.qvf");
  ui::DocumentFaxOptions options;
  options.fieldValue = std::move(fields);
  EXPECT_EQ(ui::WriteDocumentFax(doc, out.toStdString(), options), 0);
  auto pages = PageImages(out);
  QFile::remove(out);
  return pages;
}

class CreateFaxFileTest : public ::testing::Test {
 protected:
  void SetUp() override { test::App(); }
  // Everything in the data directory that rendering may make.
  QStringList WorkFiles() const {
    QStringList all;
    for (const char* p : {"QRV_*.QVF", "QRVAX*.QVF", "QRV1.QVF", "_TMP.BMP", "Eraseme.rtf"})
      all += FilesLike(dir_.Path(), QString::fromLatin1(p));
    return all;
  }
  test::DataDir dir_;
  test::ScriptedDialogs dialogs_;
};

TEST_F(CreateFaxFileTest, CoverThenDocumentBecomeOneFileAndNoPageFileStays) {
  auto w = test::StartReadyWindow(dir_.Path());
  const std::string cover = RtfPages(2, "Cover"), doc = RtfPages(3, "Document");
  ASSERT_TRUE(AddFaxWithMemos(w->Store(), cover, doc));
  // A name taken by another file is passed over.
  QFile taken(dir_.File(QStringLiteral("QRV_1.QVF")));
  ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
  taken.close();
  dialogs_.Clear();

  const QString file = w->CreateFaxFile();
  EXPECT_TRUE(dialogs_.shown.empty());
  EXPECT_EQ(file, dir_.File(QStringLiteral("QRV_2.QVF")));
  EXPECT_EQ(w->PageCount(), 5);
  const auto pages = PageImages(file);
  ASSERT_EQ(pages.size(), 5u);
  // Cover pages first, then the document's, each as the renderer draws it.
  const auto coverAlone = RenderedAlone(cover, dir_.Path());
  const auto docAlone = RenderedAlone(doc, dir_.Path());
  ASSERT_EQ(coverAlone.size(), 2u);
  ASSERT_EQ(docAlone.size(), 3u);
  EXPECT_EQ(pages[0], coverAlone[0]);
  EXPECT_EQ(pages[1], coverAlone[1]);
  EXPECT_EQ(pages[2], docAlone[0]);
  EXPECT_EQ(pages[4], docAlone[2]);
  EXPECT_NE(pages[0], pages[2]);
  EXPECT_EQ(WorkFiles(), (QStringList{QStringLiteral("QRV_1.QVF"), QStringLiteral("QRV_2.QVF")}));
  // The window is usable again.
  EXPECT_TRUE(w->findChild<QToolBar*>(QStringLiteral("ButtonBar"))->isEnabled());
  EXPECT_TRUE(w->StatusText().isEmpty());
  QFile::remove(file);

  // A document alone starts at the first name; a cover alone likewise.
  ASSERT_TRUE(AddFaxWithMemos(w->Store(), "", RtfPages(1, "Only")));
  w->RefreshGrids();
  TablePair& fax = w->Store().Pair(TableId::Fax);
  fax.Go(fax.RecCount());
  const QString single = w->CreateFaxFile();
  EXPECT_EQ(single, dir_.File(QStringLiteral("QRV_2.QVF")));
  EXPECT_EQ(w->PageCount(), 1);
  EXPECT_EQ(PageImages(single).size(), 1u);
}

TEST_F(CreateFaxFileTest, MergeFieldsShowTheRecord) {
  auto w = test::StartReadyWindow(dir_.Path());
  const std::string cover =
      "{\\rtf1\\ansi\\fs40 To: {\\field{\\*\\fldinst MERGEFIELD RECIPIENT}{\\fldrslt [RECIPIENT]}}"
      "\\par Fax: {\\field{\\*\\fldinst MERGEFIELD FAXNUMBER}{\\fldrslt [FAXNUMBER]}}"
      "\\par Re: {\\field{\\*\\fldinst MERGEFIELD SUBJECT}{\\fldrslt [SUBJECT]}}\\par}";
  ASSERT_TRUE(AddFaxWithMemos(w->Store(), cover, "", "Ann Example", "5550100", "Figures"));
  const QString file = w->CreateFaxFile();
  ASSERT_FALSE(file.isEmpty());
  const auto pages = PageImages(file);
  ASSERT_EQ(pages.size(), 1u);
  const auto filled = RenderedAlone(cover, dir_.Path(), [](int kind) {
    switch (kind) {
      case kFieldRecipient: return QStringLiteral("Ann Example");
      case kFieldFaxNumber: return QStringLiteral("5550100");
      case kFieldSubject: return QStringLiteral("Figures");
      default: return QString();
    }
  });
  const auto placeholders = RenderedAlone(cover, dir_.Path());
  EXPECT_EQ(pages[0], filled.at(0));
  EXPECT_NE(pages[0], placeholders.at(0));
  QFile::remove(file);
}

TEST_F(CreateFaxFileTest, NothingToSendSaysSoAndMakesNoFile) {
  auto w = test::StartReadyWindow(dir_.Path());
  // Empty memos, and memos of blank lines only, count as nothing.
  ASSERT_TRUE(AddFaxWithMemos(w->Store(), "", ""));
  dialogs_.Clear();
  EXPECT_TRUE(w->CreateFaxFile().isEmpty());
  EXPECT_EQ(dialogs_.Infos(), QStringList{kNoContents});

  ASSERT_TRUE(AddFaxWithMemos(w->Store(), "{\\rtf1\\ansi \\par   \\par\\tab \\par}", "{\\rtf1 }"));
  TablePair& fax = w->Store().Pair(TableId::Fax);
  fax.Go(fax.RecCount());
  dialogs_.Clear();
  EXPECT_TRUE(w->CreateFaxFile().isEmpty());
  EXPECT_EQ(dialogs_.Infos(), QStringList{kNoContents});
  EXPECT_TRUE(WorkFiles().isEmpty());
  EXPECT_TRUE(w->findChild<QToolBar*>(QStringLiteral("ButtonBar"))->isEnabled());
}

TEST_F(CreateFaxFileTest, AFailedRenderingLeavesNoWorkingFile) {
  auto w = test::StartReadyWindow(dir_.Path());
  ASSERT_TRUE(AddFaxWithMemos(w->Store(), RtfPages(2, "Cover"), RtfPages(3, "Document")));
  // The document's file cannot be made (its name is taken by a folder): the cover's file goes too.
  ASSERT_TRUE(QDir(dir_.Path()).mkdir(QStringLiteral("QRVAX3.QVF")));
  dialogs_.Clear();
  EXPECT_TRUE(w->CreateFaxFile().isEmpty());
  EXPECT_EQ(dialogs_.Count(QStringLiteral("info")), 1);
  EXPECT_TRUE(WorkFiles().isEmpty()) << WorkFiles().join(u' ').toStdString();
  EXPECT_TRUE(w->findChild<QToolBar*>(QStringLiteral("ButtonBar"))->isEnabled());
}

TEST_F(CreateFaxFileTest, AFullDiskLeavesNoWorkingFileAndTheRecordAlone) {
  SmallFs fs(4 * 1024 * 1024);
  if (!fs.ok()) GTEST_SKIP() << fs.reason();
  const QString dir = QString::fromStdString(fs / "");
  {
    auto w = test::StartReadyWindow(dir);
    ASSERT_TRUE(AddFaxWithMemos(w->Store(), RtfPages(2, "Cover"), RtfPages(3, "Document")));
    // Room for the memo's working file, not for five fax pages.
    fs.Fill("filler", 48 * 1024);
    dialogs_.Clear();
    EXPECT_TRUE(w->CreateFaxFile().isEmpty());
    ASSERT_EQ(dialogs_.Count(QStringLiteral("info")), 1);
    EXPECT_EQ(dialogs_.Infos().at(0), QStringLiteral("Disk is full"));
    QStringList left;
    for (const char* p : {"QRV_*.QVF", "QRVAX*.QVF", "_TMP.BMP", "Eraseme.rtf"})
      left += FilesLike(dir, QString::fromLatin1(p));
    EXPECT_TRUE(left.isEmpty()) << left.join(u' ').toStdString();
    TablePair& fax = w->Store().Pair(TableId::Fax);
    EXPECT_EQ(fax.FieldInt("PAGES"), 0);
    EXPECT_FALSE(fax.FieldBool("SENT"));
    QFile::remove(QString::fromStdString(fs / "filler"));
    w->close();
  }
  QDir(dir).removeRecursively();
}

}  // namespace
}  // namespace qv::app
