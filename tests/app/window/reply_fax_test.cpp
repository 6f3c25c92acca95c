// Reply and Forward from the received grid and from the viewer: the outgoing fax they make, its
// pages (the received ones as the viewer shows them, marks and turns included, one to one at
// their own resolution), and the pages file's life with the record.
#include "app/forms/main_screen.h"

#include "app/editor/enter_edit.h"
#include "app/editor/fax_editor.h"
#include "app/forms/fax_viewer_form.h"
#include "app/store/fax_store.h"
#include "app/store/table_pair.h"
#include "reply_helpers.h"
#include "send_helpers.h"
#include "store_helpers.h"
#include "ui/rich_edit.h"
#include "../send/send_flow.h"
#include "../test_support.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

const QString kPages = QStringLiteral("QVA00001.QVF");

QByteArray Bytes(const QString& file) {
  QFile f(file);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class ReplyFaxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    w_ = test::StartReadyWindow(dir_.Path());
    ASSERT_TRUE(test::AddMarkedReceivedFax(w_->Store(), "+49 30 1234567"));
    w_->RefreshGrids();
    w_->SetCurrentPage(TMainScreen::kIncomingPage);
    w_->SetButtons();
    dialogs_.Clear();
  }
  void TearDown() override {
    if (w_) w_->close();
  }

  // Queues a script for the next fax editor; it sees the editor and may change it, and its
  // Accept stores the fax unless the script returns Rejected.
  void OnEditor(std::function<int(TFaxEditor&)> script) {
    dialogs_.forms.push_back([script](QDialog* d) {
      auto* editor = qobject_cast<TFaxEditor*>(d);
      EXPECT_NE(editor, nullptr);
      if (!editor) return int(QDialog::Rejected);
      return script(*editor) == QDialog::Accepted ? test::AcceptForm(editor) : int(QDialog::Rejected);
    });
  }
  void Trigger(const char* name) {
    auto* a = w_->findChild<QAction*>(QString::fromLatin1(name));
    ASSERT_NE(a, nullptr) << name;
    ASSERT_TRUE(a->isEnabled()) << name;
    a->trigger();
  }
  TablePair& Fax() { return w_->Store().Pair(TableId::Fax); }
  bool Exists(const QString& name) const { return QFile::exists(dir_.File(name)); }

  test::DataDir dir_;
  test::ScriptedDialogs dialogs_;
  std::unique_ptr<TMainScreen> w_;
};

// The reply goes to the sender's number with "Re:", its document names the pages, and what it
// renders is the received fax as the viewer shows it, row for row: the fine page fine, the
// standard page standard, the turned page the right way up. The received fax and its marks are
// left as they were; cancelling the editor leaves nothing behind.
TEST_F(ReplyFaxTest, AReplyCarriesTheMarkedPagesOneToOneAtTheirOwnResolution) {
  const QString received = test::MarkedFaxPath(dir_.Path());
  const QByteArray faxBefore = Bytes(received);
  const QByteArray marksBefore = Bytes(dir_.File(QStringLiteral("receive/R0001.QVM")));

  OnEditor([](TFaxEditor&) { return int(QDialog::Rejected); });
  Trigger("mnuReply");
  EXPECT_FALSE(Exists(kPages)) << "a reply not made keeps no pages";
  EXPECT_FALSE(w_->Store().HasRecord(TableId::Fax));

  QString recipient, number, subject, document;
  OnEditor([&](TFaxEditor& e) {
    recipient = e.Recipient()->text();
    number = e.FaxNumber()->text();
    subject = e.Subject()->text();
    document = QString::fromStdString(e.RTDoc()->ToDocument().PlainText());
    return int(QDialog::Accepted);
  });
  Trigger("mnuReply");
  EXPECT_EQ(recipient, QStringLiteral("+49 30 1234567"));
  EXPECT_EQ(number, QStringLiteral("+49 30 1234567"));
  EXPECT_EQ(subject, QStringLiteral("Re: +49 30 1234567"));
  EXPECT_EQ(document.trimmed(), QStringLiteral("Attached: 2 pages of the fax from +49 30 1234567 <QVA00001.QVF>"));
  EXPECT_EQ(w_->CurrentPage(), TMainScreen::kOutgoingPage);
  ASSERT_TRUE(w_->Store().HasRecord(TableId::Fax));
  EXPECT_EQ(Fax().FieldString("SUBJECT"), "Re: +49 30 1234567");
  EXPECT_EQ(Fax().FieldString("PHONE"), "+49 30 1234567");
  EXPECT_TRUE(Exists(kPages));

  std::vector<bool> shownFine, sentFine;
  const auto shown = test::MarkedPages(received, &shownFine);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shownFine, (std::vector<bool>{true, false}));
  const QString rendered = w_->CreateFaxFile();
  ASSERT_FALSE(rendered.isEmpty()) << dialogs_.Infos().join(u'\n').toStdString();
  const auto sent = test::RenderedRows(rendered.toStdString(), &sentFine);
  QFile::remove(rendered);
  EXPECT_EQ(sentFine, shownFine);
  ASSERT_EQ(sent.size(), shown.size());
  for (size_t p = 0; p < sent.size(); ++p) {
    ASSERT_EQ(sent[p].raster.size(), shown[p].raster.size()) << "page " << p + 1;
    for (size_t y = 0; y < sent[p].raster.size(); ++y)
      ASSERT_EQ(sent[p].raster[y], shown[p].raster[y]) << "page " << p + 1 << " row " << y;
  }
  // The marks are in it: the pen stroke on page 1, and page 2 went round (its tick at the foot).
  const auto unmarked = test::RenderedRows(received.toStdString());
  EXPECT_NE(sent[0].raster, unmarked[0].raster);
  EXPECT_NE(sent[1].raster, unmarked[1].raster);

  EXPECT_EQ(Bytes(received), faxBefore);
  EXPECT_EQ(Bytes(dir_.File(QStringLiteral("receive/R0001.QVM"))), marksBefore);
}

// Forward asks for a number; the fax goes where the user said. Its pages live as long as a record
// names them: a clone shares them, deleting one record keeps them for the other, deleting the
// last removes them.
TEST_F(ReplyFaxTest, ForwardGoesToTheChosenNumberAndItsPagesGoWithTheLastRecordThatNamesThem) {
  QString number, subject;
  OnEditor([&](TFaxEditor& e) {
    number = e.FaxNumber()->text();
    subject = e.Subject()->text();
    e.Recipient()->setText(QStringLiteral("Accounts"));
    e.FaxNumber()->setText(QStringLiteral("555 0123"));
    return int(QDialog::Accepted);
  });
  Trigger("mnuForward");
  EXPECT_TRUE(number.isEmpty());
  EXPECT_EQ(subject, QStringLiteral("Fwd: +49 30 1234567"));
  ASSERT_TRUE(w_->Store().HasRecord(TableId::Fax));
  EXPECT_EQ(Fax().FieldString("PHONE"), "555 0123");
  EXPECT_EQ(Fax().FieldString("RECIPIENT"), "Accounts");
  ASSERT_TRUE(Exists(kPages));

  OnEditor([](TFaxEditor&) { return int(QDialog::Accepted); });
  Trigger("mnuClone");
  w_->RefreshGrids();
  w_->SetButtons();

  dialogs_.answers = {true};
  Trigger("mnuDelete");
  EXPECT_TRUE(w_->Store().HasRecord(TableId::Fax));
  EXPECT_TRUE(Exists(kPages)) << "the other record still sends them";
  const QString rendered = w_->CreateFaxFile();
  EXPECT_FALSE(rendered.isEmpty()) << dialogs_.Infos().join(u'\n').toStdString();
  QFile::remove(rendered);

  dialogs_.answers = {true};
  Trigger("mnuDelete");
  EXPECT_FALSE(w_->Store().HasRecord(TableId::Fax));
  EXPECT_FALSE(Exists(kPages));
  EXPECT_TRUE(QFile::exists(test::MarkedFaxPath(dir_.Path()))) << "the received fax stays";
}

// A record deleted another way than by Delete (Fax Log Cleanup marks records and packs them):
// Rebuild Indexes removes the pages no record names any more, and keeps those still named.
TEST_F(ReplyFaxTest, RebuildIndexesRemovesThePagesNoRecordNamesAnyMore) {
  OnEditor([](TFaxEditor&) { return int(QDialog::Accepted); });
  Trigger("mnuReply");
  w_->SetCurrentPage(TMainScreen::kIncomingPage);
  w_->SetButtons();
  OnEditor([](TFaxEditor& e) {
    e.FaxNumber()->setText(QStringLiteral("555 0123"));
    return int(QDialog::Accepted);
  });
  Trigger("mnuForward");
  const QString forwarded = QStringLiteral("QVA00002.QVF");
  ASSERT_TRUE(Exists(kPages));
  ASSERT_TRUE(Exists(forwarded));

  for (Fax().First(); !Fax().Eof() && Fax().FieldString("SUBJECT").rfind("Re:", 0) != 0; Fax().Next()) {
  }
  ASSERT_FALSE(Fax().Eof());
  ASSERT_TRUE(Fax().DeleteRecord());
  Fax().Refresh();
  EXPECT_TRUE(Exists(kPages)) << "a deleted record can be recalled until the table is packed";

  Trigger("mnuRebuildIndexes");
  EXPECT_FALSE(Exists(kPages));
  EXPECT_TRUE(Exists(forwarded));
  Fax().First();
  EXPECT_EQ(Fax().FieldString("SUBJECT"), "Fwd: +49 30 1234567");
  const QString rendered = w_->CreateFaxFile();
  EXPECT_FALSE(rendered.isEmpty()) << dialogs_.Infos().join(u'\n').toStdString();
  QFile::remove(rendered);
}

// Pages that are gone or damaged stop the fax with a message that names them: Send refuses
// before the dialog, View shows nothing, and no working file is left.
TEST_F(ReplyFaxTest, MissingOrDamagedPagesAreAClearErrorNeverABlankFax) {
  OnEditor([](TFaxEditor&) { return int(QDialog::Accepted); });
  Trigger("mnuReply");
  ASSERT_TRUE(Exists(kPages));
  const QString missing = QStringLiteral("The pages attached to this fax are missing or damaged: QVA00001.QVF");

  for (bool damaged : {false, true}) {
    SCOPED_TRACE(damaged);
    QFile::remove(dir_.File(kPages));
    if (damaged) {
      QFile f(dir_.File(kPages));
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write("not a fax at all");
    }
    dialogs_.Clear();
    EXPECT_TRUE(w_->CreateFaxFile().isEmpty());
    EXPECT_EQ(dialogs_.Infos(), QStringList{missing});

    dialogs_.Clear();
    w_->findChild<QToolButton*>(QStringLiteral("SendButton"))->click();
    EXPECT_EQ(dialogs_.Infos(), (QStringList{missing, QStringLiteral("Error creating fax file")}));
    EXPECT_EQ(dialogs_.Count(QStringLiteral("form")), 0) << "no Send Fax dialog";
    EXPECT_FALSE(Fax().FieldBool("SENT"));
    EXPECT_TRUE(test::FilesLike(dir_.Path(), QStringLiteral("QRV*.QVF")).isEmpty());
  }
}

// The viewer of a received fax offers Reply and Forward; Reply saves the marks just made and
// hands over to the same flow, so the new mark goes out too. An outgoing fax's view offers neither.
TEST_F(ReplyFaxTest, ReplyFromTheViewerTakesTheMarksJustMade) {
  dialogs_.forms.push_back([](QDialog* d) {
    auto* v = qobject_cast<TFaxViewer*>(d);
    EXPECT_NE(v, nullptr);
    if (!v) return int(QDialog::Rejected);
    v->show();
    v->FormActivate();
    EXPECT_TRUE(v->Button("ReplyButton")->isVisible());
    EXPECT_TRUE(v->Button("ForwardButton")->isVisible());
    EXPECT_FALSE(v->Button("ReplyButton")->accessibleName().isEmpty());
    v->Action("TurnPageUpsideDown")->trigger();  // page 1 turned for good, saved at once
    v->Button("ReplyButton")->click();
    return v->result();
  });
  QString subject;
  OnEditor([&](TFaxEditor& e) {
    subject = e.Subject()->text();
    return int(QDialog::Accepted);
  });
  w_->findChild<QToolButton*>(QStringLiteral("ViewFaxButton"))->click();
  EXPECT_EQ(subject, QStringLiteral("Re: +49 30 1234567"));
  ASSERT_TRUE(Exists(kPages));
  const auto shown = test::MarkedPages(test::MarkedFaxPath(dir_.Path()));
  const auto sent = test::RenderedRows(dir_.File(kPages).toStdString());
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].raster, shown[0].raster) << "page 1 as turned in the viewer";

  // An outgoing fax shown from its rendered copy: no Reply.
  dialogs_.forms.push_back([](QDialog* d) {
    auto* v = qobject_cast<TFaxViewer*>(d);
    if (!v) return int(QDialog::Rejected);
    v->show();
    v->FormActivate();
    EXPECT_FALSE(v->Button("ReplyButton")->isVisible());
    return int(QDialog::Rejected);
  });
  w_->SetCurrentPage(TMainScreen::kOutgoingPage);
  w_->SetButtons();
  w_->findChild<QToolButton*>(QStringLiteral("ViewFaxButton"))->click();
  EXPECT_EQ(dialogs_.Count(QStringLiteral("form")), 3);
}

}  // namespace
}  // namespace qv::app
