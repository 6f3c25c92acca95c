#include "app/contacts/phone_book.h"

#include "app/contacts/contact_import.h"
#include "app/contacts/contact_import_dialog.h"
#include "app/store/field_fit.h"
#include "app/forms/dialog_service.h"
#include "app/store/fax_store.h"
#include "app/forms/help_browser.h"
#include "app/contacts/phone_book_editor.h"
#include "app/forms/placement.h"
#include "app/forms/table_model.h"
#include "app/store/table_pair.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>
#include <QVBoxLayout>

#include <QAbstractItemView>
#include <algorithm>

namespace qv::app {

namespace {

// An address book larger than this is no address book; reading it whole would only hurt.
constexpr qint64 kMaxContactFileBytes = 32 * 1024 * 1024;
constexpr int kNameColumnChars = 31;
constexpr int kPhoneColumnChars = 25;

std::string AsciiUpper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

TPhoneBook::TPhoneBook(TFaxStore& store, QWidget* mainWindow)
    : QDialog(mainWindow), store_(store), mainWindow_(mainWindow),
      PhoneTable_(std::make_unique<TablePair>("PhoneTable")) {
  setObjectName(QStringLiteral("PhoneBook"));
  setWindowTitle(QStringLiteral("Phone Book Browser"));
  setAccessibleName(windowTitle());
  setSizeGripEnabled(true);

  model_ = new TTableModel(*PhoneTable_,
                           {{"NAME", "Name", kNameColumnChars}, {"PHONE", "Fax #", kPhoneColumnChars}}, this);
  PhoneGrid_ = new QTableView(this);
  PhoneGrid_->setObjectName(QStringLiteral("PhoneGrid"));
  PhoneGrid_->setAccessibleName(QStringLiteral("Phone book entries"));
  PhoneGrid_->setModel(model_);
  PhoneGrid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  PhoneGrid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  PhoneGrid_->setSelectionMode(QAbstractItemView::SingleSelection);
  PhoneGrid_->setAlternatingRowColors(true);
  PhoneGrid_->setWordWrap(false);
  PhoneGrid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  PhoneGrid_->verticalHeader()->setDefaultSectionSize(PhoneGrid_->fontMetrics().height() + 6);
  PhoneGrid_->horizontalHeader()->setStretchLastSection(true);
  PhoneGrid_->setColumnWidth(0, PhoneGrid_->fontMetrics().averageCharWidth() * kNameColumnChars);
  connect(PhoneGrid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid()) model_->MakeCurrent(current.row());
          });
  connect(PhoneGrid_, &QTableView::doubleClicked, this, [this] {
    if (choosing_) OKButtonClick();
    else ModifybuttonClick();
  });

  SearchEdit_ = new QLineEdit(this);
  SearchEdit_->setObjectName(QStringLiteral("SearchEdit"));
  SearchEdit_->setPlaceholderText(QStringLiteral("Type the first letters of a name"));
  SearchEdit_->setToolTip(SearchEdit_->placeholderText());
  SearchEdit_->setAccessibleName(QStringLiteral("Find a name"));
  SearchEdit_->setClearButtonEnabled(true);
  SearchEdit_->installEventFilter(this);
  connect(SearchEdit_, &QLineEdit::textEdited, this, &TPhoneBook::Search);
  auto* findLabel = new QLabel(QStringLiteral("&Find:"), this);
  findLabel->setBuddy(SearchEdit_);
  SearchStatus_ = new QLabel(this);
  SearchStatus_->setObjectName(QStringLiteral("SearchStatus"));

  auto button = [this](const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAccessibleName(QString(caption).remove(QLatin1Char('&')).remove(QStringLiteral("...")));
    b->setAutoDefault(false);
    return b;
  };
  Addbutton_ = button("Addbutton", QStringLiteral("&New"));
  Modifybutton_ = button("Modifybutton", QStringLiteral("&Edit"));
  Deletebutton_ = button("Deletebutton", QStringLiteral("&Delete"));
  Importbutton_ = button("Importbutton", QStringLiteral("&Import..."));
  Exportbutton_ = button("Exportbutton", QStringLiteral("E&xport"));
  Closebutton_ = button("Closebutton", QStringLiteral("C&lose"));
  Cancelbutton_ = button("Cancelbutton", QStringLiteral("Cance&l"));
  OKButton_ = button("OKButton", QStringLiteral("&Accept"));
  Helpbutton_ = button("Helpbutton", QStringLiteral("&Help"));
  Importbutton_->setToolTip(QStringLiteral("Add contacts from a vCard or CSV file"));
  Exportbutton_->setToolTip(QStringLiteral("Write the phone book to a vCard or CSV file"));
  auto* exportMenu = new QMenu(Exportbutton_);
  exportMenu->setObjectName(QStringLiteral("ExportMenu"));
  exportMenu->setAccessibleName(QStringLiteral("Export"));
  const std::pair<const char*, ContactFileFormat> formats[] = {{"vCard 4.0...", ContactFileFormat::VCard4},
                                                               {"vCard 3.0...", ContactFileFormat::VCard3},
                                                               {"CSV...", ContactFileFormat::Csv}};
  for (const auto& [caption, format] : formats) {
    QAction* item = exportMenu->addAction(QString::fromLatin1(caption));
    const ContactFileFormat f = format;
    connect(item, &QAction::triggered, this, [this, f] { ExportClick(f); });
  }
  Exportbutton_->setMenu(exportMenu);

  connect(Addbutton_, &QPushButton::clicked, this, &TPhoneBook::AddbuttonClick);
  connect(Modifybutton_, &QPushButton::clicked, this, &TPhoneBook::ModifybuttonClick);
  connect(Deletebutton_, &QPushButton::clicked, this, &TPhoneBook::DeletebuttonClick);
  connect(Importbutton_, &QPushButton::clicked, this, &TPhoneBook::ImportbuttonClick);
  connect(Closebutton_, &QPushButton::clicked, this, [this] { done(kModalCancel); });
  connect(Cancelbutton_, &QPushButton::clicked, this, [this] { done(kModalCancel); });
  connect(OKButton_, &QPushButton::clicked, this, &TPhoneBook::OKButtonClick);
  connect(Helpbutton_, &QPushButton::clicked, this, &TPhoneBook::HelpbuttonClick);

  // The managing layout: Accept and Cancel hidden, Close shown.
  OKButton_->setVisible(false);
  Cancelbutton_->setVisible(false);

  auto* search = new QHBoxLayout;
  search->addWidget(findLabel);
  search->addWidget(SearchEdit_, 1);
  auto* side = new QVBoxLayout;
  for (QPushButton* b : {Addbutton_, Modifybutton_, Deletebutton_, Importbutton_, Exportbutton_}) side->addWidget(b);
  side->addStretch();
  for (QPushButton* b : {OKButton_, Cancelbutton_, Closebutton_, Helpbutton_}) side->addWidget(b);
  auto* left = new QVBoxLayout;
  left->addLayout(search);
  left->addWidget(PhoneGrid_, 1);
  left->addWidget(SearchStatus_);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(side);
  resize(560, 420);
}

TPhoneBook::~TPhoneBook() { PhoneTable_->Close(); }

bool TPhoneBook::OpenTable() {
  if (!store_.OpenPhoneDBF(*PhoneTable_)) return false;
  PhoneTable_->First();
  Reload();
  SetButtons();
  return true;
}

void TPhoneBook::SetChoosing() {
  choosing_ = true;
  Closebutton_->setVisible(false);
  OKButton_->setVisible(true);
  Cancelbutton_->setVisible(true);
  OKButton_->setDefault(true);  // Enter in the search field accepts the entry found
  SetButtons();
}

void TPhoneBook::SetChoosingMany() {
  SetChoosing();
  many_ = true;
  PhoneGrid_->setSelectionMode(QAbstractItemView::ExtendedSelection);
}

void TPhoneBook::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  SetButtons();
  SearchEdit_->setFocus();
}

bool TPhoneBook::eventFilter(QObject* watched, QEvent* event) {
  // Up and down in the search field walk the list, so the keyboard never has to leave it.
  if (watched == SearchEdit_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp || key == Qt::Key_PageDown) {
      QCoreApplication::sendEvent(PhoneGrid_, event);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

bool TPhoneBook::HasRecord() {
  return PhoneTable_->IsOpen() && PhoneTable_->RecNo() != PhoneTable_->RecCount() + 1;
}

void TPhoneBook::SetButtons() {
  Modifybutton_->setEnabled(HasRecord());
  Deletebutton_->setEnabled(Modifybutton_->isEnabled());
  if (OKButton_->isVisibleTo(this)) OKButton_->setEnabled(Modifybutton_->isEnabled());
  Exportbutton_->setEnabled(Modifybutton_->isEnabled());
}

void TPhoneBook::Reload() {
  model_->Reload();
  rowOfRecNo_.clear();
  for (int row = 0; row < model_->rowCount(); ++row) rowOfRecNo_.insert(model_->RecNoOfRow(row), row);
  SelectCurrent();
}

void TPhoneBook::SelectCurrent() {
  const int row = HasRecord() ? rowOfRecNo_.value(PhoneTable_->RecNo(), -1) : -1;
  if (row < 0) {
    PhoneGrid_->selectionModel()->clearSelection();
    return;
  }
  const QModelIndex index = model_->index(row, 0);
  PhoneGrid_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                           QItemSelectionModel::Rows);
  PhoneGrid_->scrollTo(index);
}

int TPhoneBook::CurrentRow() const {
  return PhoneGrid_->selectionModel()->currentIndex().isValid() ? PhoneGrid_->selectionModel()->currentIndex().row()
                                                                : -1;
}

QString TPhoneBook::CurrentName() { return Q(PhoneTable_->FieldString("NAME")); }

void TPhoneBook::AddbuttonClick() {
  TPhoneBookEditor editor(this);
  connect(&editor, &TPhoneBookEditor::HelpRequested, this, &TPhoneBook::HelpRequested);
  editor.adjustSize();
  CenterOver(&editor, mainWindow_);
  if (Dialogs().Exec(&editor) == kModalAccept && PhoneTable_->Append()) {
    PhoneTable_->SetFieldString("NAME", FitField(editor.Name()->text().toStdString(), kPhoneNameWidth));
    PhoneTable_->SetFieldString("PHONE", FitField(editor.Number()->text().toStdString(), kPhoneNumberWidth));
    PhoneTable_->Post();
    Reload();
  }
  SetButtons();
}

void TPhoneBook::ModifybuttonClick() {
  if (!HasRecord()) {
    Dialogs().Beep();
    return;
  }
  TPhoneBookEditor editor(this);
  connect(&editor, &TPhoneBookEditor::HelpRequested, this, &TPhoneBook::HelpRequested);
  editor.Name()->setText(Q(PhoneTable_->FieldString("NAME")));
  editor.Number()->setText(Q(PhoneTable_->FieldString("PHONE")));
  editor.adjustSize();
  CenterOver(&editor, mainWindow_);
  if (Dialogs().Exec(&editor) == kModalAccept && PhoneTable_->Edit()) {
    PhoneTable_->SetFieldString("NAME", FitField(editor.Name()->text().toStdString(), kPhoneNameWidth));
    PhoneTable_->SetFieldString("PHONE", FitField(editor.Number()->text().toStdString(), kPhoneNumberWidth));
    PhoneTable_->Post();
    Reload();
  }
  SetButtons();
}

void TPhoneBook::DeletebuttonClick() {
  if (!HasRecord()) {
    Dialogs().Beep();
    return;
  }
  if (Dialogs().Question(this, QStringLiteral("Delete"),
                         QStringLiteral("Delete the current phone book entry?:\r\n") + CurrentName(), false)) {
    if (PhoneTable_->DeleteRecord()) PhoneTable_->Refresh();
  }
  Reload();
  SetButtons();
}

void TPhoneBook::OKButtonClick() {
  if (!HasRecord()) {
    Dialogs().Beep();
    return;
  }
  resultName_ = CurrentName();
  resultNumber_ = Q(PhoneTable_->FieldString("PHONE"));
  results_.clear();
  if (many_) {
    QList<int> rows;
    for (const QModelIndex& index : PhoneGrid_->selectionModel()->selectedRows()) rows << index.row();
    std::sort(rows.begin(), rows.end());
    for (int row : rows) {
      if (!model_->MakeCurrent(row)) continue;
      results_.push_back({CurrentName(), Q(PhoneTable_->FieldString("PHONE")).trimmed()});
    }
    if (results_.empty()) {
      Dialogs().Beep();
      return;
    }
  }
  done(kModalAccept);
}

void TPhoneBook::HelpbuttonClick() { emit HelpRequested(kPhoneBookHelpTopic); }

void TPhoneBook::Search(const QString& text) {
  SearchStatus_->clear();
  if (text.isEmpty() || !HasRecord()) return;
  const std::string key = FitField(AsciiUpper(text.toStdString()), kPhoneNameWidth);
  if (!PhoneTable_->SeekNear(key)) return;
  SelectCurrent();
  // The seek stops on the next name when none begins with the text: say so.
  if (AsciiUpper(PhoneTable_->FieldString("NAME")).rfind(key, 0) != 0) {
    SearchStatus_->setText(QStringLiteral("No name begins with \"%1\"").arg(text));
  }
  SearchStatus_->setAccessibleName(SearchStatus_->text());
}

std::vector<std::string> TPhoneBook::ExistingKeys() {
  std::vector<std::string> keys;
  const int recNo = PhoneTable_->RecNo();
  for (PhoneTable_->First(); !PhoneTable_->Eof(); PhoneTable_->Next()) {
    keys.push_back(EntryKey(PhoneTable_->FieldString("NAME"), PhoneTable_->FieldString("PHONE")));
  }
  PhoneTable_->Go(recNo);
  return keys;
}

void TPhoneBook::ImportbuttonClick() {
  const QString path = Dialogs().OpenFileName(
      this, QStringLiteral("Import Contacts"), QString(),
      QStringLiteral("Address books (*.vcf *.vcard *.csv *.txt);;vCard (*.vcf *.vcard);;CSV (*.csv);;All files (*)"));
  if (!path.isEmpty()) ImportFile(path);
}

int TPhoneBook::ImportFile(const QString& path) {
  const QString caption = QStringLiteral("Import Contacts");
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    Dialogs().Information(this, QStringLiteral("The file %1 cannot be read: %2").arg(path, file.errorString()),
                          caption);
    return 0;
  }
  if (file.size() > kMaxContactFileBytes) {
    Dialogs().Information(this, QStringLiteral("The file %1 is too large to be an address book.").arg(path), caption);
    return 0;
  }
  const QByteArray bytes = file.readAll();
  const ContactList parsed = ParseContacts(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
  if (parsed.contacts.empty() && parsed.skipped.empty()) {
    Dialogs().Information(this, QStringLiteral("No contacts were found in %1.").arg(path), caption);
    return 0;
  }
  const ImportPlan plan = PlanImport(parsed, ExistingKeys());
  TImportPreview preview(path, parsed, plan, this);
  connect(&preview, &TImportPreview::HelpRequested, this, &TPhoneBook::HelpRequested);
  CenterOver(&preview, mainWindow_);
  if (Dialogs().Exec(&preview) != kModalAccept || plan.add.empty()) return 0;

  int added = 0;
  for (const Contact& c : plan.add) {
    if (!PhoneTable_->Append()) break;
    PhoneTable_->SetFieldString("NAME", c.name);
    PhoneTable_->SetFieldString("PHONE", c.number);
    if (PhoneTable_->Post()) ++added;
  }
  PhoneTable_->Refresh();
  Reload();
  SetButtons();
  if (added < static_cast<int>(plan.add.size())) {
    Dialogs().Information(this,
                          QStringLiteral("Only %1 of %2 contacts could be added to the phone book.")
                              .arg(added)
                              .arg(plan.add.size()),
                          caption);
  }
  return added;
}

void TPhoneBook::ExportClick(ContactFileFormat format) {
  const bool csv = format == ContactFileFormat::Csv;
  const QString path = Dialogs().SaveFileName(
      this, QStringLiteral("Export Phone Book"), csv ? QStringLiteral("phonebook.csv") : QStringLiteral("phonebook.vcf"),
      csv ? QStringLiteral("CSV (*.csv)") : QStringLiteral("vCard (*.vcf)"));
  if (!path.isEmpty()) ExportFile(path, format);
}

bool TPhoneBook::ExportFile(const QString& path, ContactFileFormat format) {
  std::vector<Contact> contacts;
  const int recNo = PhoneTable_->RecNo();
  for (PhoneTable_->First(); !PhoneTable_->Eof(); PhoneTable_->Next()) {
    contacts.push_back({PhoneTable_->FieldString("NAME"), PhoneTable_->FieldString("PHONE"), {}});
  }
  PhoneTable_->Go(recNo);
  const std::string text = format == ContactFileFormat::Csv    ? WriteContactsCsv(contacts)
                           : format == ContactFileFormat::VCard3 ? WriteVCards(contacts, 3)
                                                                 : WriteVCards(contacts, 4);
  // Written beside and renamed over, so a failure never leaves half a file.
  QSaveFile file(path);
  const bool ok = file.open(QIODevice::WriteOnly) &&
                  file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size()) &&
                  file.commit();
  if (!ok) {
    Dialogs().Information(this, QStringLiteral("The phone book cannot be written to %1: %2").arg(path, file.errorString()),
                          QStringLiteral("Export Phone Book"));
  }
  return ok;
}

bool RunPhoneBookMany(TFaxStore& store, QWidget* mainWindow, std::vector<TPhoneEntry>& chosen) {
  TPhoneBook book(store, mainWindow);
  QObject::connect(&book, &TPhoneBook::HelpRequested, &book, [](int topic) { ShowHelpTopic(topic); });
  if (!book.OpenTable()) {
    Dialogs().Information(mainWindow, QString::fromLatin1(kPhoneBookOpenFailedText));
    return false;
  }
  book.SetChoosingMany();
  CenterOver(&book, mainWindow);
  if (Dialogs().Exec(&book) != kModalAccept) return false;
  chosen = book.Results();
  return !chosen.empty();
}

bool RunPhoneBook(TFaxStore& store, QWidget* mainWindow, bool choosing, QString* name, QString* number) {
  TPhoneBook book(store, mainWindow);
  QObject::connect(&book, &TPhoneBook::HelpRequested, &book, [](int topic) { ShowHelpTopic(topic); });
  if (!book.OpenTable()) {
    Dialogs().Information(mainWindow, QString::fromLatin1(kPhoneBookOpenFailedText));
    return false;
  }
  if (choosing) book.SetChoosing();
  CenterOver(&book, mainWindow);
  if (Dialogs().Exec(&book) != kModalAccept) return false;
  if (name) *name = book.ResultName();
  if (number) *number = book.ResultNumber();
  return true;
}

}  // namespace qv::app
