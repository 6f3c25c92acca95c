// Where received faxes are filed and what gets a record: the fallback name once every counter name
// is taken, and Class 2 calls whose page the modem rejects. Whole calls through qvmodem pairs, a
// sender in another process, the real main window offscreen.

#include "app/forms/app_texts.h"
#include "app/forms/arrival_notice.h"
#include "app/forms/fax_viewer_form.h"
#include "app/store/receive_folder.h"
#include "faximage/qvf_file.h"
#include "../receive/receive_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

namespace qv::app {
namespace {

using fax::test::MakeQvf;
using fax::test::PageMatches;
using fax::test::ReadReceived;
using fax::test::ReceivedPage;
using test::ModemPair;
using test::ReceiveLab;
using test::Records;
using test::ScriptedDialogs;
using test::TempDir;
using test::WaitFor;

constexpr int kCallMs = 120000;
constexpr int kFaxFileWidth = 12;  // the received table's FAXFILE field

QStringList ReceiveFolderFiles(const ReceiveLab& lab) {
  return QDir(lab.Path() + QStringLiteral("receive")).entryList(QDir::Files, QDir::Name);
}

// Runs the process in a working directory of its own, so that a file created there by mistake is
// seen (and never lands in the build tree).
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const QString& dir) : old_(QDir::currentPath()) { QDir::setCurrent(dir); }
  ~WorkingDirectory() { QDir::setCurrent(old_); }

 private:
  QString old_;
};

// Every counter name taken (FAX0001 .. FAX9999): the next faxes are filed in the receive folder
// under names the record holds whole, and View and Delete find them by their records.
TEST(ReceiveFiling, AfterTheLastCounterNameFaxesAreFiledInTheFolderUnderNamesTheRecordHolds) {
  TempDir tmp;
  ReceiveLab lab;
  const QString cwd = QString::fromStdString(tmp.str("cwd"));
  ASSERT_TRUE(QDir().mkpath(cwd));
  WorkingDirectory inCwd(cwd);
  ASSERT_TRUE(QDir(lab.Path()).mkpath(QStringLiteral("receive")));
  for (int n = 1; n <= 9999; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "FAX%04d.QVF", n);
    QFile f(lab.ReceiveFile(QString::fromLatin1(name)));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  ModemPair modems(tmp);
  ASSERT_TRUE(modems.ready());
  lab.Set("Ports", "COM2", modems.b());
  ScriptedDialogs dialogs;
  auto w = lab.Open();
  w->ReceiveButtonClick();
  ASSERT_TRUE(w->ReceiveMode());

  const auto first = MakeQvf(tmp.str("first.qvf"), 1, false, 40, 4);
  auto sender = test::SendFax(modems, tmp.str("first.qvf"), tmp.str("send1.out"), "TEN THOUSAND");
  ASSERT_TRUE(WaitFor([&] { return Records(w->Store()).size() == 1; }, kCallMs))
      << fax::test::ReadText(tmp.str("send1.out"));
  ASSERT_TRUE(WaitFor([&] { return sender->Exited(); }, kCallMs));
  MakeQvf(tmp.str("second.qvf"), 2, false, 40, 5);
  sender = test::SendFax(modems, tmp.str("second.qvf"), tmp.str("send2.out"), "TEN THOUSAND ONE");
  ASSERT_TRUE(WaitFor([&] { return Records(w->Store()).size() == 2; }, kCallMs))
      << fax::test::ReadText(tmp.str("send2.out"));
  ASSERT_TRUE(WaitFor([&] { return sender->Exited(); }, kCallMs));
  w->ReceiveButtonClick();
  ASSERT_FALSE(w->ReceiveMode());

  auto records = Records(w->Store());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].file, "NONAME.QVF");
  EXPECT_EQ(records[1].file, "NONAME01.QVF");
  for (const auto& r : records) {
    EXPECT_LE(r.file.size(), size_t(kFaxFileWidth)) << r.file;
    EXPECT_TRUE(QFile::exists(lab.ReceiveFile(QString::fromStdString(r.file)))) << r.file;
  }
  EXPECT_TRUE(QDir(cwd).entryList(QDir::Files).isEmpty()) << QDir(cwd).entryList(QDir::Files).join(u' ').toStdString();
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(lab.ReceiveFile(QStringLiteral("NONAME.QVF")).toStdString(), pages));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_TRUE(PageMatches(pages[0], first[0]));

  // View opens the file the record names; Delete takes the record and the file.
  QString viewed;
  dialogs.forms.push_back([&](QDialog* d) {
    if (auto* viewer = qobject_cast<TFaxViewer*>(d)) viewed = viewer->FaxFileName;
    return int(QDialog::Rejected);
  });
  w->ViewReceivedFile(QStringLiteral("NONAME01.QVF"));
  EXPECT_EQ(QFileInfo(viewed).fileName(), QStringLiteral("NONAME01.QVF"));
  EXPECT_FALSE(dialogs.Infos().contains(QString::fromLatin1(kFaxFileMissingText)));
  dialogs.answers.push_back(true);
  w->DeleteButtonClick();
  records = Records(w->Store());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].file, "NONAME.QVF");
  EXPECT_FALSE(QFile::exists(lab.ReceiveFile(QStringLiteral("NONAME01.QVF"))));
  EXPECT_TRUE(QFile::exists(lab.ReceiveFile(QStringLiteral("NONAME.QVF"))));

  // With the fallbacks used up too, a call cannot be stored: the user is told, and nothing of an
  // earlier fax is overwritten.
  for (int n = 1; n <= 99; ++n) {
    QFile f(lab.ReceiveFile(QStringLiteral("NONAME%1.QVF").arg(n, 2, 10, QLatin1Char('0'))));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  const auto before = std::filesystem::file_size(lab.ReceiveFile(QStringLiteral("NONAME.QVF")).toStdString());
  QStringList errors;
  test::AnswerErrorDialogs(dialogs, errors);
  w->ReceiveButtonClick();
  ASSERT_TRUE(w->ReceiveMode());
  sender = test::SendFax(modems, tmp.str("first.qvf"), tmp.str("send3.out"), "NO ROOM");
  ASSERT_TRUE(WaitFor([&] { return !errors.isEmpty(); }, kCallMs)) << fax::test::ReadText(tmp.str("send3.out"));
  EXPECT_EQ(errors[0], QStringLiteral("Failed To Receive Incoming Fax|Quorvane failed to receive an incoming fax."
                                      "\n\nThe error message was:   No free file name is left in the receive "
                                      "folder. Delete received faxes that are no longer needed."));
  EXPECT_EQ(Records(w->Store()).size(), 1u);
  EXPECT_EQ(std::filesystem::file_size(lab.ReceiveFile(QStringLiteral("NONAME.QVF")).toStdString()), before);
  ASSERT_TRUE(WaitFor([&] { return sender->Exited(); }, kCallMs));
  w->ReceiveButtonClick();
}

class RejectedPages : public ::testing::Test {
 protected:
  // A Class 2 receiving modem (the sender is Class 1) with the given faults on the line or modem.
  bool Open(const std::vector<std::string>& modemOptions) {
    modems_ = std::make_unique<ModemPair>(tmp_, modemOptions);
    if (!modems_->ready()) return false;
    lab_.Set("Ports", "COM2", modems_->b());
    lab_.Set("Modem", "FaxClassReceive", "2");
    test::AnswerErrorDialogs(dialogs_, errors_);
    w_ = lab_.Open();
    w_->ReceiveButtonClick();
    return w_->ReceiveMode();
  }
  QStringList RecLog() const { return test::ReadLines(lab_.Path() + QStringLiteral("Lastrec.log")); }

  TempDir tmp_;
  ReceiveLab lab_;
  std::unique_ptr<ModemPair> modems_;
  ScriptedDialogs dialogs_;
  QStringList errors_;
  std::unique_ptr<TMainScreen> w_;
};

// The modem rejects the only page every time it comes (the line corrupts it at every speed) and
// the sender gives up: no fax arrived, so there is no record, no file and no arrival notice; the
// call is a failed one, in the receive log and to the user.
TEST_F(RejectedPages, ACallWhoseOnlyPageIsRejectedLeavesNoRecordAndNoFile) {
  ASSERT_TRUE(Open({"--corrupt-page", "0"}));
  MakeQvf(tmp_.str("doc.qvf"), 1, false, 60, 6);
  auto sender = test::SendFax(*modems_, tmp_.str("doc.qvf"), tmp_.str("send.out"), "REJECTED");
  ASSERT_TRUE(WaitFor([&] { return sender->Exited(); }, kCallMs)) << fax::test::ReadText(tmp_.str("send.out"));
  // The receiver has settled the call (as failed, or wrongly as a fax) once it waits for the next.
  ASSERT_TRUE(WaitFor([&] { return (!errors_.isEmpty() || !Records(w_->Store()).empty()) && !w_->ReceivingNow(); },
                      kCallMs))
      << fax::test::ReadText(tmp_.str("send.out"));
  EXPECT_TRUE(Records(w_->Store()).empty());
  ASSERT_FALSE(errors_.isEmpty());
  EXPECT_TRUE(errors_[0].startsWith(QStringLiteral("Failed To Receive Incoming Fax|"))) << errors_[0].toStdString();
  EXPECT_TRUE(ReceiveFolderFiles(lab_).isEmpty()) << ReceiveFolderFiles(lab_).join(u' ').toStdString();
  EXPECT_EQ(w_->ArrivalNotice().Count(), 0);
  EXPECT_FALSE(QFile::exists(lab_.Path() + QStringLiteral("Receiving.tmp")));
  EXPECT_TRUE(w_->ReceiveMode());
  w_->ReceiveButtonClick();
  EXPECT_TRUE(RecLog().join(u'\n').contains(QStringLiteral("Failed to receive a fax: "))) << RecLog().join(u'\n').toStdString();
}

// The modem rejects the only page once; the sender sends it again after its post-page message
// said it was the last: the copy that came through is the fax, with its record.
TEST_F(RejectedPages, TheLastPageSentAgainAfterARejectionIsFiled) {
  ASSERT_TRUE(Open({"--b-rtn-page", "1"}));
  const auto rows = MakeQvf(tmp_.str("doc.qvf"), 1, false, 60, 7);
  auto sender = test::SendFax(*modems_, tmp_.str("doc.qvf"), tmp_.str("send.out"), "SECOND TRY");
  ASSERT_TRUE(WaitFor([&] { return Records(w_->Store()).size() == 1 && !w_->ReceivingNow(); }, kCallMs))
      << fax::test::ReadText(tmp_.str("send.out"));
  ASSERT_TRUE(WaitFor([&] { return sender->Exited(); }, kCallMs));
  const auto records = Records(w_->Store());
  EXPECT_EQ(records[0].file, "FAX0001.QVF");
  EXPECT_EQ(records[0].pages, 1);
  EXPECT_EQ(records[0].from, "SECOND TRY");
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(lab_.ReceiveFile(QStringLiteral("FAX0001.QVF")).toStdString(), pages));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_TRUE(PageMatches(pages[0], rows[0]));
  EXPECT_TRUE(errors_.isEmpty()) << errors_.join(u'\n').toStdString();
  EXPECT_EQ(w_->ArrivalNotice().Count(), 1);
  w_->ReceiveButtonClick();
}

}  // namespace
}  // namespace qv::app
