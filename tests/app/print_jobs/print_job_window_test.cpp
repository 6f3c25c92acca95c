// The main window and a print job: the notice (its controls named for assistive tools), then a
// job that named no number takes recipient and number from the phone book before the fax editor
// opens on it.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <QLabel>
#include <QTableView>
#include <QPushButton>

#include "app/contacts/phone_book.h"
#include "app/editor/enter_edit.h"
#include "app/editor/fax_editor.h"
#include "app/forms/main_screen.h"
#include "app/store/fax_store.h"
#include "app/store/table_pair.h"
#include "printer/print_job.h"
#include "printer/spool_writer.h"
#include "../test_support.h"
#include "../window/send_helpers.h"

namespace qv::app {
namespace {

TEST(PrintJobWindow, AJobWithoutANumberGetsOneFromThePhoneBookAndOpensInTheEditor) {
  test::App();
  test::DataDir data;
  test::ScriptedDialogs dialogs;
  const std::string root = data.StdPath() + "spool";
  const QByteArray spoolBefore = qgetenv("QUORVANE_SPOOL");
  qputenv("QUORVANE_SPOOL", QByteArray::fromStdString(root));
  {
    TFaxStore store(data.StdPath());
    TablePair book("book");
    ASSERT_TRUE(store.OpenPhoneDBF(book));
    std::string why;
    ASSERT_TRUE(store.StoreRecord(TableId::Phone, book, true, {{"NAME", "Bea Example"}, {"PHONE", "555 0123"}}, {},
                                  &why))
        << why;
  }
  printer::TSpoolRequest job;
  job.root = root;
  job.user = ::getpwuid(::geteuid())->pw_name;
  job.title = "Price list";
  job.documents = {"%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
                   "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
                   "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]>>endobj\n"
                   "trailer<</Root 1 0 R>>\n%%EOF\n"};
  std::string message;
  ASSERT_EQ(printer::WriteSpoolJob(job, &message), printer::TSpoolResult::kWritten) << message;

  QString noticeText, editorNumber, editorRecipient;
  dialogs.forms.push_back([&](QDialog* d) {
    auto* check = d->findChild<QPushButton*>(QStringLiteral("CheckButton"));
    auto* later = d->findChild<QPushButton*>(QStringLiteral("LaterButton"));
    auto* text = d->findChild<QLabel*>(QStringLiteral("JobText"));
    EXPECT_TRUE(check && later && text);
    if (!check || !later || !text) return int(QDialog::Rejected);
    EXPECT_EQ(check->accessibleName(), QStringLiteral("Check and Send"));
    EXPECT_EQ(later->accessibleName(), QStringLiteral("Later"));
    EXPECT_FALSE(text->accessibleName().isEmpty());
    EXPECT_TRUE(check->isEnabled());
    noticeText = text->text();
    check->click();
    return d->result();
  });
  dialogs.forms.push_back([](QDialog* d) {
    auto* book = qobject_cast<TPhoneBook*>(d);
    EXPECT_NE(book, nullptr);
    if (!book) return int(QDialog::Rejected);
    EXPECT_TRUE(book->Choosing());
    book->PhoneGrid()->selectRow(0);
    book->OKButtonClick();
    return book->result();
  });
  dialogs.forms.push_back([&](QDialog* d) {
    auto* editor = qobject_cast<TFaxEditor*>(d);
    EXPECT_NE(editor, nullptr);
    if (!editor) return int(QDialog::Rejected);
    editorNumber = editor->FaxNumber()->text();
    editorRecipient = editor->Recipient()->text();
    return int(QDialog::Rejected);  // the user closes it: the fax waits in the list
  });
  auto w = test::StartReadyWindow(data.Path());
  QStringList forms;
  for (const auto& s : dialogs.shown)
    if (s.kind == QLatin1String("form")) forms << s.caption;
  EXPECT_EQ(forms, (QStringList{QStringLiteral("Fax Printer"), QStringLiteral("Phone Book Browser"),
                                QStringLiteral("Fax Editor")}));
  EXPECT_EQ(noticeText, QStringLiteral("A print job arrived: \"Price list\", 1 page.\n"
                                       "It is now an outgoing fax. Check it and send it?"));
  EXPECT_EQ(editorNumber, QStringLiteral("555 0123"));
  EXPECT_EQ(editorRecipient, QStringLiteral("Bea Example"));
  TablePair& fax = w->Store().Pair(TableId::Fax);
  EXPECT_EQ(fax.FieldString("PHONE"), "555 0123");
  EXPECT_EQ(fax.FieldString("SUBJECT"), "Price list");
  EXPECT_TRUE(printer::ListJobFolders(root + "/" + job.user).empty());
  w->close();
  qputenv("QUORVANE_SPOOL", spoolBefore);
}

}  // namespace
}  // namespace qv::app
