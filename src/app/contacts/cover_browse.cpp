#include "app/contacts/cover_browse.h"

#include "app/contacts/contact_import.h"
#include "app/contacts/cover_editor.h"
#include "app/editor/default_font.h"
#include "app/forms/dialog_service.h"
#include "app/store/fax_store.h"
#include "app/forms/help_browser.h"
#include "app/contacts/phone_book_editor.h"
#include "app/forms/placement.h"
#include "app/editor/rich_edit_memo.h"
#include "app/store/settings.h"
#include "app/forms/table_model.h"
#include "app/store/table_pair.h"
#include "ui/rich_edit.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTextEdit>
#include <QVBoxLayout>

namespace qv::app {

namespace {
constexpr int kDescriptionColumnChars = 50;
const char* const kNewDescription = "{description}";
const char* const kClonePrefix = "[clone]";
}  // namespace

TCoverBrowse::TCoverBrowse(TFaxStore& store, QWidget* mainWindow)
    : QDialog(mainWindow), store_(store), mainWindow_(mainWindow),
      dataDir_(QString::fromStdString(store.DataDir())) {
  setObjectName(QStringLiteral("CoverBrowse"));
  setWindowTitle(QStringLiteral("Cover Sheet Template Browser"));
  setAccessibleName(windowTitle());
  setSizeGripEnabled(true);

  // The grid is bound to the main window's cover table.
  model_ = new TTableModel(Table(), {{"DESCRIPT", "Description", kDescriptionColumnChars}}, this);
  CoverGrid_ = new QTableView(this);
  CoverGrid_->setObjectName(QStringLiteral("CoverGrid"));
  CoverGrid_->setAccessibleName(QStringLiteral("Cover sheet templates"));
  CoverGrid_->setModel(model_);
  CoverGrid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  CoverGrid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  CoverGrid_->setSelectionMode(QAbstractItemView::SingleSelection);
  CoverGrid_->setAlternatingRowColors(true);
  CoverGrid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  CoverGrid_->verticalHeader()->setDefaultSectionSize(CoverGrid_->fontMetrics().height() + 6);
  CoverGrid_->horizontalHeader()->setStretchLastSection(true);
  connect(CoverGrid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid()) model_->MakeCurrent(current.row());
          });
  connect(CoverGrid_, &QTableView::doubleClicked, this, [this] {
    if (Acceptbutton_->isVisibleTo(this)) AcceptbuttonClick();
    else ModifyButtonClick();
  });

  auto button = [this](const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
    b->setAutoDefault(false);
    return b;
  };
  NewButton_ = button("NewButton", QStringLiteral("&New"));
  ModifyButton_ = button("ModifyButton", QStringLiteral("&Edit"));
  CloneButton_ = button("CloneButton", QStringLiteral("&Clone"));
  DeleteButton_ = button("DeleteButton", QStringLiteral("&Delete"));
  CloseButton_ = button("CloseButton", QStringLiteral("C&lose"));
  CancelButton_ = button("CancelButton", QStringLiteral("Cance&l"));
  Acceptbutton_ = button("Acceptbutton", QStringLiteral("&Accept"));
  HelpButton_ = button("HelpButton", QStringLiteral("&Help"));
  connect(NewButton_, &QPushButton::clicked, this, &TCoverBrowse::NewButtonClick);
  connect(ModifyButton_, &QPushButton::clicked, this, &TCoverBrowse::ModifyButtonClick);
  connect(CloneButton_, &QPushButton::clicked, this, &TCoverBrowse::CloneButtonClick);
  connect(DeleteButton_, &QPushButton::clicked, this, &TCoverBrowse::DeleteButtonClick);
  connect(CloseButton_, &QPushButton::clicked, this, [this] { done(kModalCancel); });
  connect(CancelButton_, &QPushButton::clicked, this, [this] { done(kModalCancel); });
  connect(Acceptbutton_, &QPushButton::clicked, this, &TCoverBrowse::AcceptbuttonClick);
  connect(HelpButton_, &QPushButton::clicked, this, &TCoverBrowse::HelpButtonClick);
  Acceptbutton_->setVisible(false);
  CancelButton_->setVisible(false);

  auto* side = new QVBoxLayout;
  for (QPushButton* b : {NewButton_, ModifyButton_, CloneButton_, DeleteButton_}) side->addWidget(b);
  side->addStretch();
  for (QPushButton* b : {Acceptbutton_, CancelButton_, CloseButton_, HelpButton_}) side->addWidget(b);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(CoverGrid_, 1);
  layout->addLayout(side);
  resize(520, 360);
  Reload();
}

TCoverBrowse::~TCoverBrowse() = default;

TablePair& TCoverBrowse::Table() { return store_.Pair(TableId::Cover); }

bool TCoverBrowse::HasRecord() {
  TablePair& t = Table();
  return t.IsOpen() && t.RecNo() != t.RecCount() + 1;
}

void TCoverBrowse::SetChoosing() {
  CloseButton_->setVisible(false);
  Acceptbutton_->setVisible(true);
  CancelButton_->setVisible(true);
  Acceptbutton_->setDefault(true);
  SetButtons();
}

void TCoverBrowse::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  SetButtons();
  CoverGrid_->setFocus();
}

// Edit, Clone and Delete stay enabled so that, on an empty table, they answer with the beep;
// accepting nothing would load nothing, so Accept needs a template.
void TCoverBrowse::SetButtons() { Acceptbutton_->setEnabled(HasRecord()); }

void TCoverBrowse::Reload() {
  model_->Reload();
  const int row = model_->RowOfCurrent();
  if (row >= 0) {
    const QModelIndex index = model_->index(row, 0);
    CoverGrid_->selectionModel()->setCurrentIndex(index,
                                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    CoverGrid_->scrollTo(index);
  }
  SetButtons();
}

void TCoverBrowse::NewButtonClick() {
  TablePair& t = Table();
  {
    TCoverEditor editor(dataDir_, mainWindow_);
    connect(&editor, &TCoverEditor::HelpRequested, this, &TCoverBrowse::HelpRequested);
    TRichEditMemo memo(*editor.RTCover());
    if (cloneRequest_) {
      editor.CoverDescription()->setText(QString::fromLatin1(kClonePrefix) +
                                         QString::fromStdString(t.FieldString("DESCRIPT")));
      store_.LoadRichText(memo, "COVER", t);
      if (!memo.LoadError().isEmpty()) {
        Dialogs().Error(this, QStringLiteral("The text of this template cannot be read: ") + memo.LoadError());
      }
    } else {
      editor.CoverDescription()->setText(QString::fromLatin1(kNewDescription));
      ApplyDefaultFont(*editor.RTCover(), Settings());
    }
    editor.SetStoreHandler([&] { return StoreTemplate(editor, memo, true); });
    if (Dialogs().Exec(&editor) == kModalAccept) {
      t.Go(t.RecCount());  // the new template, appended last, becomes the current one
      Reload();
    }
  }
  cloneRequest_ = false;  // the request was for this one new template only
  SetButtons();
}

bool TCoverBrowse::StoreTemplate(TCoverEditor& editor, TRichEditMemo& memo, bool append) {
  std::vector<TFaxStore::MemoText> memos;
  // A text that could not be read is not replaced by the empty editor that stood in for it.
  if (append || memo.LoadError().isEmpty()) memos.push_back({"COVER", &memo});
  std::string why;
  if (store_.StoreRecord(TableId::Cover, Table(), append,
                         {{"DESCRIPT", editor.CoverDescription()->text().toStdString()}}, memos, &why)) {
    return true;
  }
  Dialogs().Error(&editor, QStringLiteral("The cover sheet template could not be stored: ") +
                               QString::fromStdString(why) +
                               QStringLiteral("\rIt is still in the editor."));
  return false;
}

void TCoverBrowse::CloneButtonClick() {
  if (!HasRecord()) {
    Dialogs().Beep();
    return;
  }
  cloneRequest_ = true;
  NewButtonClick();
}

void TCoverBrowse::ModifyButtonClick() {
  if (!HasRecord()) {
    Dialogs().Beep();
    return;
  }
  TablePair& t = Table();
  TCoverEditor editor(dataDir_, mainWindow_);
  connect(&editor, &TCoverEditor::HelpRequested, this, &TCoverBrowse::HelpRequested);
  editor.CoverDescription()->setText(QString::fromStdString(t.FieldString("DESCRIPT")));
  TRichEditMemo memo(*editor.RTCover());
  store_.LoadRichText(memo, "COVER", t);
  const bool readable = memo.LoadError().isEmpty();
  if (!readable) {
    // Saving the empty stand-in would destroy the stored text: it stays as it is.
    Dialogs().Error(this, QStringLiteral("The text of this template cannot be read: ") + memo.LoadError() +
                              QStringLiteral("\rIt is kept as stored and cannot be changed here."));
    editor.RTCover()->TextEdit()->setReadOnly(true);
  }
  editor.SetStoreHandler([&] { return StoreTemplate(editor, memo, false); });
  if (Dialogs().Exec(&editor) == kModalAccept) Reload();
}

void TCoverBrowse::DeleteButtonClick() {
  if (!HasRecord()) {
    Dialogs().Beep();
    return;
  }
  TablePair& t = Table();
  if (Dialogs().Question(this, QStringLiteral("Delete"),
                         QStringLiteral("Delete the current cover template?:\r\n") +
                             QString::fromStdString(t.FieldString("DESCRIPT")),
                         false)) {
    if (t.DeleteRecord()) t.Refresh();
  }
  Reload();
}

void TCoverBrowse::AcceptbuttonClick() {
  if (!HasRecord()) {
    Dialogs().Beep();
    return;
  }
  done(kModalAccept);
}

void TCoverBrowse::HelpButtonClick() { emit HelpRequested(kCoverBrowseHelpTopic); }

bool RunCoverBrowse(TFaxStore& store, QWidget* mainWindow, bool choosing,
                    const std::function<void(TablePair&)>& accepted) {
  if (!store.OpenCoverDBF()) {
    Dialogs().Information(mainWindow, QString::fromLatin1(kCoverOpenFailedText));
    return false;
  }
  bool ok = false;
  {
    TCoverBrowse browser(store, mainWindow);
    QObject::connect(&browser, &TCoverBrowse::HelpRequested, &browser, [](int topic) { ShowHelpTopic(topic); });
    browser.adjustSize();
    CenterOver(&browser, mainWindow);
    if (choosing) browser.SetChoosing();
    ok = Dialogs().Exec(&browser) == kModalAccept;
    if (ok && accepted) accepted(store.Pair(TableId::Cover));
  }
  store.Close(TableId::Cover);
  return ok;
}

}  // namespace qv::app
