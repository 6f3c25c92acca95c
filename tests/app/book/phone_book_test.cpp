// The phone book browser and editor over a real phone book table in a temporary data directory:
// creation, the add/edit/delete/choose flows and their texts, incremental search, and contact
// import and export.
#include "app/forms/help_browser.h"
#include "app/contacts/phone_book.h"

#include "app/contacts/contact_import_dialog.h"
#include "app/store/fax_store.h"
#include "app/contacts/phone_book_editor.h"
#include "app/forms/table_model.h"
#include "app/store/table_pair.h"
#include "tables/xb_engine.h"
#include "book_support.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>

#include <algorithm>
#include <memory>

namespace qv::app {
namespace {

using test::Find;
using test::Type;

class PhoneBookTest : public test::BookTest {
 protected:
  std::unique_ptr<TPhoneBook> Open() {
    auto book = std::make_unique<TPhoneBook>(store_, &main_);
    EXPECT_TRUE(book->OpenTable());
    return book;
  }

  static bool Add(TablePair& t, const std::string& name, const std::string& phone) {
    return t.Append() && t.SetFieldString("NAME", name) && t.SetFieldString("PHONE", phone) && t.Post();
  }

  // Every entry as "name|number", in the table's order.
  static QStringList Entries(TablePair& t) {
    QStringList out;
    for (t.First(); !t.Eof(); t.Next())
      out << QString::fromStdString(t.FieldString("NAME") + "|" + t.FieldString("PHONE"));
    return out;
  }

  // Queues the editor's answer: the values typed, then Accept (or Cancel).
  void AnswerEditor(const QString& name, const QString& number, bool accept = true) {
    dialogs_.forms.push_back([=](QDialog* d) {
      auto* editor = qobject_cast<TPhoneBookEditor*>(d);
      if (!editor) return 0;
      editor->Name()->setText(name);
      editor->Number()->setText(number);
      return accept ? kModalAccept : kModalCancel;
    });
  }

  TFaxStore store_{dir_.StdPath()};
};

TEST_F(PhoneBookTest, FirstUseCreatesTheTableWithItsLayoutAndTag) {
  {
    auto book = Open();
    EXPECT_TRUE(QFile::exists(dir_.File("QRVPB.DBF")));
    EXPECT_TRUE(QFile::exists(dir_.File("QRVPB.CDX")));
    EXPECT_EQ(book->windowTitle(), QStringLiteral("Phone Book Browser"));
    EXPECT_EQ(book->Model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
    EXPECT_EQ(book->Model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Fax #"));
  }
  using namespace qv::tables;
  ASSERT_NE(xb_Use(dir_.StdPath() + "QRVPB.DBF", "", xbmExclusive, xbdFOX), 0);
  ASSERT_EQ(xb_FieldCount(), 2);
  EXPECT_EQ(xb_FieldName(1), "NAME");
  EXPECT_EQ(xb_FieldType(1), 'C');
  EXPECT_EQ(xb_FieldWidth(1), 35);
  EXPECT_EQ(xb_FieldName(2), "PHONE");
  EXPECT_EQ(xb_FieldWidth(2), 25);
  const int tag = xb_TagArea("NAME");
  EXPECT_GT(tag, 0);
  EXPECT_EQ(xb_IndexKey(tag), "UPPER(NAME)");
  xb_Close();
}

TEST_F(PhoneBookTest, ModesAndTheButtonRules) {
  auto book = Open();
  book->show();
  auto* ok = Find<QPushButton>(*book, "OKButton");
  auto* close = Find<QPushButton>(*book, "Closebutton");
  auto* cancel = Find<QPushButton>(*book, "Cancelbutton");
  auto* edit = Find<QPushButton>(*book, "Modifybutton");
  auto* del = Find<QPushButton>(*book, "Deletebutton");
  // Managing: Close only.
  EXPECT_TRUE(close->isVisible());
  EXPECT_FALSE(ok->isVisible());
  EXPECT_FALSE(cancel->isVisible());
  book->SetChoosing();
  EXPECT_FALSE(close->isVisible());
  EXPECT_TRUE(ok->isVisible());
  EXPECT_TRUE(cancel->isVisible());
  // Empty: Accept, Edit and Delete disabled; called anyway they beep and change nothing.
  EXPECT_FALSE(ok->isEnabled());
  EXPECT_FALSE(edit->isEnabled());
  EXPECT_FALSE(del->isEnabled());
  book->ModifybuttonClick();
  book->DeletebuttonClick();
  book->OKButtonClick();
  EXPECT_EQ(dialogs_.beeps, 3);
  EXPECT_EQ(dialogs_.Count(QStringLiteral("form")), 0);

  AnswerEditor(QStringLiteral("Jane Doe"), QStringLiteral("555 0100"));
  Find<QPushButton>(*book, "Addbutton")->click();
  EXPECT_TRUE(ok->isEnabled());
  EXPECT_TRUE(edit->isEnabled());
  EXPECT_TRUE(del->isEnabled());
  ok->click();
  EXPECT_EQ(book->result(), kModalAccept);
  EXPECT_EQ(book->ResultName(), QStringLiteral("Jane Doe"));
  EXPECT_EQ(book->ResultNumber(), QStringLiteral("555 0100"));
}

TEST_F(PhoneBookTest, NewEditAndDeleteWithTheirTexts) {
  auto book = Open();
  TablePair& t = book->PhoneTable();
  // The editor as it comes up.
  dialogs_.forms.push_back([](QDialog* d) {
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Phone Book Editor"));
    auto* name = Find<QLineEdit>(*d, "Name");
    auto* number = Find<QLineEdit>(*d, "Number");
    EXPECT_EQ(name->toolTip(), QStringLiteral("Type the recipient's name here"));
    EXPECT_EQ(number->toolTip(), QStringLiteral("Type the fax number here"));
    EXPECT_EQ(name->maxLength(), 35);
    EXPECT_EQ(number->maxLength(), 25);
    for (const char* b : {"OKButton", "Cancelbutton", "Helpbutton"}) EXPECT_FALSE(Find<QPushButton>(*d, b)->accessibleName().isEmpty());
    name->setText(QStringLiteral("Zed"));
    number->setText(QStringLiteral("1"));
    return kModalCancel;
  });
  book->AddbuttonClick();
  EXPECT_TRUE(Entries(t).isEmpty());  // cancelled: nothing added

  AnswerEditor(QStringLiteral("Bob"), QStringLiteral("555 0101"));
  book->AddbuttonClick();
  // A name of 35 characters with non-ASCII letters is cut to the field without breaking one.
  AnswerEditor(QString::fromUtf8("\xC3\x89milie Fran\xC3\xA7oise Ren\xC3\xA9\x65 Dupont-Lefe"), QStringLiteral("02"));
  book->AddbuttonClick();
  ASSERT_EQ(Entries(t).size(), 2);
  EXPECT_EQ(Entries(t)[0], QStringLiteral("Bob|555 0101"));
  EXPECT_TRUE(QString::fromStdString(Entries(t)[1].toStdString()).startsWith(QString::fromUtf8("\xC3\x89milie")));
  EXPECT_FALSE(Entries(t)[1].contains(QChar::ReplacementCharacter));

  // Edit: preset with the current entry, stored on Accept.
  ASSERT_TRUE(book->Model()->MakeCurrent(0));
  dialogs_.forms.push_back([](QDialog* d) {
    auto* editor = qobject_cast<TPhoneBookEditor*>(d);
    EXPECT_EQ(editor->Name()->text(), QStringLiteral("Bob"));
    EXPECT_EQ(editor->Number()->text(), QStringLiteral("555 0101"));
    editor->Number()->setText(QStringLiteral("555 0199"));
    return kModalAccept;
  });
  book->ModifybuttonClick();
  EXPECT_EQ(Entries(t)[0], QStringLiteral("Bob|555 0199"));

  // Delete: declined keeps the entry, the question as the user reads it.
  ASSERT_TRUE(book->Model()->MakeCurrent(0));
  dialogs_.Clear();
  dialogs_.answers.push_back(false);
  book->DeletebuttonClick();
  ASSERT_EQ(dialogs_.Count(QStringLiteral("question")), 1);
  EXPECT_EQ(dialogs_.shown[0].caption, QStringLiteral("Delete"));
  EXPECT_EQ(dialogs_.shown[0].text, QStringLiteral("Delete the current phone book entry?:\r\nBob"));
  EXPECT_FALSE(dialogs_.shown[0].defaultYes);
  EXPECT_EQ(Entries(t).size(), 2);
  EXPECT_EQ(book->Model()->rowCount(), 2);
  dialogs_.answers.push_back(true);
  book->DeletebuttonClick();
  EXPECT_EQ(Entries(t).size(), 1);
  EXPECT_EQ(book->Model()->rowCount(), 1);
}

TEST_F(PhoneBookTest, HelpTopics) {
  auto book = Open();
  QList<int> topics;
  QObject::connect(book.get(), &TPhoneBook::HelpRequested, [&](int t) { topics << t; });
  book->HelpbuttonClick();
  dialogs_.forms.push_back([](QDialog* d) {
    Find<QPushButton>(*d, "Helpbutton")->click();
    return kModalCancel;
  });
  book->AddbuttonClick();
  // The import preview's Help leads to the page on importing, which exists in the guide.
  const QString path = dir_.File(QStringLiteral("one.csv"));
  ASSERT_TRUE(test::WriteFile(path, "Name,Fax\r\nAnn,555 0100\r\n"));
  dialogs_.forms.push_back([](QDialog* d) {
    Find<QPushButton>(*d, "HelpButton")->click();
    return kModalCancel;
  });
  book->ImportFile(path);
  EXPECT_EQ(topics, (QList<int>{1019, 1020, kContactImportHelpTopic}));
  const QUrl url = HelpTopicUrl(kContactImportHelpTopic);
  EXPECT_TRUE(url.toLocalFile().endsWith(QStringLiteral("/contacts.html"))) << url.toString().toStdString();
  EXPECT_TRUE(QFileInfo(url.toLocalFile()).isFile()) << url.toLocalFile().toStdString();
}

TEST_F(PhoneBookTest, SearchLandsOnTheFirstMatchAtTheFirstKeystrokeInTenThousandEntries) {
  std::vector<std::string> names;
  {
    TablePair fill("PhoneTable");
    ASSERT_TRUE(store_.OpenPhoneDBF(fill));
    const char* surnames[] = {"Adams", "baker", "Clark", "Davis", "Evans", "Miller", "mills", "Moore", "Nash", "Young"};
    for (int i = 0; i < 10000; ++i) {
      // Interleaved so that the physical order is not the name order.
      const std::string name = std::string(surnames[(i * 7) % 10]) + " " + std::to_string((i * 7919) % 10000);
      names.push_back(name);
      ASSERT_TRUE(Add(fill, name, std::to_string(i)));
    }
  }
  auto upper = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  };
  std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) { return upper(a) < upper(b); });
  auto firstWithPrefix = [&](const std::string& prefix) {
    for (const std::string& n : names)
      if (upper(n).rfind(upper(prefix), 0) == 0 || upper(n) > upper(prefix)) return n;
    return names.back();
  };

  auto book = Open();
  book->show();
  ASSERT_EQ(book->Model()->rowCount(), 10000);
  QLineEdit* search = book->SearchEdit();
  auto current = [&] { return book->PhoneTable().FieldString("NAME"); };
  Type(search, QStringLiteral("m"));
  EXPECT_EQ(current(), firstWithPrefix("m"));
  EXPECT_EQ(current().substr(0, 6), "Miller");
  EXPECT_EQ(book->CurrentRow(), static_cast<int>(std::find(names.begin(), names.end(), current()) - names.begin()));
  Type(search, QStringLiteral("IlLs"));
  EXPECT_EQ(current(), firstWithPrefix("mills"));
  EXPECT_EQ(current().substr(0, 5), "mills");
  EXPECT_TRUE(Find<QLabel>(*book, "SearchStatus")->text().isEmpty());
  // No name begins so: the next one is shown, and the status says so.
  search->clear();
  Type(search, QStringLiteral("Mo0"));
  EXPECT_EQ(current(), firstWithPrefix("Mo0"));
  EXPECT_EQ(Find<QLabel>(*book, "SearchStatus")->text(), QStringLiteral("No name begins with \"Mo0\""));
  search->clear();
  Type(search, QStringLiteral("zz"));
  EXPECT_EQ(current(), names.back());
  EXPECT_EQ(book->CurrentRow(), 9999);
  // Accept hands back what the search found.
  book->SetChoosing();
  search->clear();
  Type(search, QStringLiteral("nash"));
  book->OKButtonClick();
  EXPECT_EQ(book->ResultName().toStdString(), firstWithPrefix("nash"));
}

// Writes a file, imports it with the preview answered `accept`, and returns the preview's summary.
class ImportTest : public PhoneBookTest {
 protected:
  QString Import(TPhoneBook& book, const QString& name, const QByteArray& bytes, bool accept = true,
                 int* added = nullptr, QStringList* preview = nullptr) {
    const QString path = dir_.File(name);
    EXPECT_TRUE(test::WriteFile(path, bytes));
    QString summary;
    dialogs_.forms.push_back([&](QDialog* d) {
      auto* p = qobject_cast<TImportPreview*>(d);
      if (!p) return 0;
      summary = p->Summary();
      if (preview) {
        for (int r = 0; r < p->PreviewGrid()->rowCount(); ++r)
          *preview << p->PreviewGrid()->item(r, 0)->text() + "|" + p->PreviewGrid()->item(r, 1)->text() + "|" +
                          p->PreviewGrid()->item(r, 2)->text();
      }
      EXPECT_EQ(p->ImportButton()->isEnabled(), p->PreviewGrid()->rowCount() > 0);
      return accept ? kModalAccept : kModalCancel;
    });
    const int n = book.ImportFile(path);
    if (added) *added = n;
    return summary;
  }
};

TEST_F(ImportTest, PreviewCountsSkipsAndReimportAddsNothing) {
  auto book = Open();
  const QByteArray vcf =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Jane Doe\r\nTEL;TYPE=CELL:555 0101\r\nTEL;TYPE=WORK,FAX:555 0102\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Max M\xC3\xBCller\r\nTEL;TYPE=work:+49 30 1\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:No Number\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Jane Doe\r\nTEL;TYPE=fax:555-0102\r\nEND:VCARD\r\n";
  QStringList preview;
  int added = 0;
  // Cancelled: nothing written.
  Import(*book, QStringLiteral("a.vcf"), vcf, false, &added);
  EXPECT_EQ(added, 0);
  EXPECT_TRUE(Entries(book->PhoneTable()).isEmpty());

  const QString summary = Import(*book, QStringLiteral("a.vcf"), vcf, true, &added, &preview);
  EXPECT_EQ(summary, QStringLiteral("2 contacts to add; 2 skipped: 1 no phone or fax number, 1 appears earlier in this file."));
  EXPECT_EQ(preview, (QStringList{QStringLiteral("Jane Doe|555 0102|"),
                                  QString::fromUtf8("Max M\xC3\xBCller|+49 30 1|no fax number; took the work number")}));
  EXPECT_EQ(added, 2);
  EXPECT_EQ(Entries(book->PhoneTable()),
            (QStringList{QStringLiteral("Jane Doe|555 0102"), QString::fromUtf8("Max M\xC3\xBCller|+49 30 1")}));
  EXPECT_EQ(book->Model()->rowCount(), 2);

  // Again: everything is already there, the Import button is disabled, nothing is added.
  const QString again = Import(*book, QStringLiteral("a.vcf"), vcf, true, &added);
  EXPECT_EQ(again, QStringLiteral("0 contacts to add; 4 skipped: 1 no phone or fax number, 3 already in the phone book."));
  EXPECT_EQ(added, 0);
  EXPECT_EQ(Entries(book->PhoneTable()).size(), 2);
}

TEST_F(ImportTest, CsvWithBomAndQuotingAndBadFiles) {
  auto book = Open();
  const QByteArray csv =
      "\xEF\xBB\xBF\"First Name\",\"Last Name\",\"Business Fax\",\"Mobile Phone\"\r\n"
      "\"Anne\",\"O'Neil, Jr.\",\"\",\"07700 900000\"\r\n"
      "\"Carl\",\"Smith\",\"555\r\n0199\",\"\"\r\n";
  int added = 0;
  EXPECT_EQ(Import(*book, QStringLiteral("b.csv"), csv, true, &added), QStringLiteral("2 contacts to add."));
  EXPECT_EQ(added, 2);
  EXPECT_EQ(Entries(book->PhoneTable()),
            // A number broken over lines inside its quotes is stored on one line.
            (QStringList{QStringLiteral("Anne O'Neil, Jr.|07700 900000"), QStringLiteral("Carl Smith|555 0199")}));

  dialogs_.Clear();
  EXPECT_EQ(book->ImportFile(dir_.File(QStringLiteral("missing.vcf"))), 0);
  ASSERT_EQ(dialogs_.Infos().size(), 1);
  EXPECT_TRUE(dialogs_.Infos()[0].startsWith(QStringLiteral("The file ")));
  ASSERT_TRUE(test::WriteFile(dir_.File(QStringLiteral("empty.csv")), QByteArray("\xEF\xBB\xBF")));
  EXPECT_EQ(book->ImportFile(dir_.File(QStringLiteral("empty.csv"))), 0);
  EXPECT_TRUE(dialogs_.Infos().last().startsWith(QStringLiteral("No contacts were found")));
  EXPECT_EQ(dialogs_.Count(QStringLiteral("form")), 0);
  EXPECT_EQ(Entries(book->PhoneTable()).size(), 2);
}

TEST_F(ImportTest, ExportThenImportIntoAnotherPhoneBookGivesTheSameEntries) {
  QStringList original;
  {
    auto book = Open();
    ASSERT_TRUE(Add(book->PhoneTable(), "Smith, John; Jr.", "+1 555 0100"));
    ASSERT_TRUE(Add(book->PhoneTable(), "Quote \"Q\" \\ back", "555-0101"));
    ASSERT_TRUE(Add(book->PhoneTable(), "\xC3\x89milie \xC3\x84lvsborg", "0046 31 00"));
    original = Entries(book->PhoneTable());
    EXPECT_TRUE(book->ExportFile(dir_.File(QStringLiteral("out4.vcf")), ContactFileFormat::VCard4));
    EXPECT_TRUE(book->ExportFile(dir_.File(QStringLiteral("out3.vcf")), ContactFileFormat::VCard3));
    EXPECT_TRUE(book->ExportFile(dir_.File(QStringLiteral("out.csv")), ContactFileFormat::Csv));
    // A file that cannot be written is reported, and no partial file is left.
    dialogs_.Clear();
    EXPECT_FALSE(book->ExportFile(dir_.File(QStringLiteral("no/such/dir/x.vcf")), ContactFileFormat::VCard4));
    EXPECT_EQ(dialogs_.Infos().size(), 1);
  }
  for (const char* file : {"out4.vcf", "out3.vcf", "out.csv"}) {
    test::DataDir other;
    TFaxStore otherStore(other.StdPath());
    TPhoneBook book(otherStore, &main_);
    ASSERT_TRUE(book.OpenTable());
    QFile f(dir_.File(QString::fromLatin1(file)));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    int added = 0;
    const QString summary = Import(book, QStringLiteral("in"), f.readAll(), true, &added);
    EXPECT_EQ(summary, QStringLiteral("3 contacts to add.")) << file;
    EXPECT_EQ(Entries(book.PhoneTable()), original) << file;
  }
}

TEST_F(PhoneBookTest, PythonDbfReadsThePhoneBookAndCoverTables) {
  QProcess probe;
  probe.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import dbf")});
  if (!probe.waitForFinished(30000) || probe.exitCode() != 0) GTEST_SKIP() << "python3-dbf is not installed";
  {
    auto book = Open();
    ASSERT_TRUE(Add(book->PhoneTable(), "Jane Doe", "555 0100"));
    ASSERT_TRUE(store_.OpenCoverDBF());
    store_.Close(TableId::Cover);
  }
  const QString script = QStringLiteral(
      "import sys, dbf\n"
      "for name in sys.argv[1:]:\n"
      "    t = dbf.Table(name)\n"
      "    t.open(dbf.READ_ONLY)\n"
      "    print(','.join(t.field_names))\n"
      "    for r in t:\n"
      "        v = r[t.field_names[0]].rstrip()\n"
      "        second = r[t.field_names[1]]\n"
      "        print(v, '|', second.rstrip() if len(second) < 40 else ('RTF' if second.startswith('{\\\\rtf') else 'memo?'))\n"
      "    t.close()\n");
  QProcess py;
  py.start(QStringLiteral("/usr/bin/python3"),
           {QStringLiteral("-c"), script, dir_.File(QStringLiteral("QRVPB.DBF")), dir_.File(QStringLiteral("QRVCOV.DBF"))});
  ASSERT_TRUE(py.waitForFinished(30000));
  const QString out = QString::fromUtf8(py.readAllStandardOutput());
  EXPECT_EQ(py.exitCode(), 0) << py.readAllStandardError().toStdString();
  EXPECT_EQ(out, QStringLiteral("name,phone\nJane Doe | 555 0100\ndescript,cover\n"
                                "Plain cover sheet | RTF\nBusiness letterhead | RTF\nConfidential notice | RTF\n"));
}

TEST_F(PhoneBookTest, RunPhoneBookChoosesAndReportsATableThatCannotOpen) {
  {
    auto book = Open();
    ASSERT_TRUE(Add(book->PhoneTable(), "Jane Doe", "555 0100"));
  }
  dialogs_.forms.push_back([](QDialog* d) {
    auto* book = qobject_cast<TPhoneBook*>(d);
    EXPECT_TRUE(book->Choosing());
    EXPECT_FALSE(Find<QPushButton>(*d, "Closebutton")->isVisibleTo(d));
    book->OKButtonClick();
    return book->result();
  });
  QString name, number;
  EXPECT_TRUE(RunPhoneBook(store_, &main_, true, &name, &number));
  EXPECT_EQ(name, QStringLiteral("Jane Doe"));
  EXPECT_EQ(number, QStringLiteral("555 0100"));

  // A phone book file that is no table: a clear message, no browser.
  ASSERT_TRUE(QFile::remove(dir_.File(QStringLiteral("QRVPB.DBF"))));
  ASSERT_TRUE(test::WriteFile(dir_.File(QStringLiteral("QRVPB.DBF")), QByteArray("not a table")));
  dialogs_.Clear();
  EXPECT_FALSE(RunPhoneBook(store_, &main_, true, &name, &number));
  EXPECT_EQ(dialogs_.Infos(), QStringList{QString::fromLatin1(kPhoneBookOpenFailedText)});
  EXPECT_EQ(dialogs_.Count(QStringLiteral("form")), 0);
}

}  // namespace
}  // namespace qv::app
