#include "app/forms/fax_log_cleanup.h"

#include "app/forms/date_selector.h"
#include "app/forms/delete_for_conditions.h"
#include "app/forms/dialog_service.h"
#include "app/flows/message_pump.h"
#include "app/forms/placement.h"
#include "app/store/receive_folder.h"
#include "app/forms/table_model.h"
#include "app/store/table_pair.h"
#include "faximage/marks_file.h"
#include "tables/xbase_component.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace qv::app {

namespace {

constexpr int kProgressEvery = 500;     // records between progress texts
constexpr int kListedProblems = 10;     // problems named in the report, the rest counted
const char* const kIsDeleted = "ISDELETED";
const char* const kAsideSuffix = ".deleting";

std::vector<TTableModel::Column> SendColumns() {
  using K = TTableModel::Kind;
  return {{kIsDeleted, "Deleted?", 8, K::DeletedYesNo}, {"DATESENT", "Date Sent", 10, K::Date},
          {"TIMESENT", "Time Sent", 9},                  {"RECIPIENT", "Recipient", 20},
          {"SUBJECT", "Subject", 20},                    {"PHONE", "Phone", 15},
          {"LASTRESULT", "Last Attempt", 35}};
}

std::vector<TTableModel::Column> RecColumns() {
  using K = TTableModel::Kind;
  return {{kIsDeleted, "Deleted?", 8, K::DeletedYesNo}, {"DATEREC", "Date Rec'd", 10, K::Date},
          {"TIMEREC", "Time Rec'd", 10},                 {"FROM", "From", 20},
          {"PAGES", "Pages", 5, K::Number},              {"FAXFILE", "Fax File", 12},
          {"NOTES", "Notes", 20}};
}

QTableView* Grid(const char* name, const QString& accessibleName, QWidget* parent) {
  auto* grid = new QTableView(parent);
  grid->setObjectName(QString::fromLatin1(name));
  grid->setAccessibleName(accessibleName);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);  // read-only
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setAlternatingRowColors(true);
  grid->setWordWrap(false);
  grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
  grid->horizontalHeader()->setStretchLastSection(true);
  grid->horizontalHeader()->setHighlightSections(false);
  return grid;
}

void SizeColumns(QTableView* grid, TTableModel* model) {
  const QFontMetrics metrics = grid->fontMetrics();
  for (int c = 0; c < model->columnCount(); ++c) {
    const int label = metrics.horizontalAdvance(model->headerData(c, Qt::Horizontal).toString());
    int width = std::max(model->ColumnChars(c) * metrics.averageCharWidth(), label);
    if (model->ColumnKind(c) == TTableModel::Kind::Date) {
      width = std::max(width, metrics.horizontalAdvance(
                                  QLocale().toString(QDate(2026, 12, 28), QLocale::ShortFormat)));
    }
    grid->setColumnWidth(c, width + 12);
  }
}

// The engine's UPPER() changes ASCII letters only; the searched text is treated the same way.
std::string UpperAscii(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

const char* FieldName(ConditionField field) {
  switch (field) {
    case ConditionField::Recipient: return "RECIPIENT";
    case ConditionField::Phone: return "PHONE";
    case ConditionField::From: break;
  }
  return "FROM";
}

// Restores the engine's showing of deleted records however the bulk delete ends.
class ShowDeletedRecords {
 public:
  ShowDeletedRecords() : hidden_(TablePair::Env().Deleted()) { TablePair::Env().SetDeleted(false); }
  ~ShowDeletedRecords() { TablePair::Env().SetDeleted(hidden_); }
  ShowDeletedRecords(const ShowDeletedRecords&) = delete;
  ShowDeletedRecords& operator=(const ShowDeletedRecords&) = delete;

 private:
  bool hidden_;
};

class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

QString SystemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

}  // namespace

std::string BeforeDateExpression(bool outgoing, const QDate& date) {
  const std::string field = outgoing ? "DATESENT" : "DATEREC";
  const std::string day = date.toString(QStringLiteral("MM/dd/yyyy")).toStdString();
  return "(" + field + "<CTOD(\"" + day + "\")) .and. (.not. EMPTY(" + field + "))";
}

std::string ConditionExpression(ConditionField field, const QString& text, bool exact) {
  const std::string t = UpperAscii(text.trimmed().toStdString());
  std::string open, close;
  if (t.find('"') == std::string::npos) {
    open = close = "\"";
  } else if (t.find('\'') == std::string::npos) {
    open = close = "'";
  } else if (t.find(']') == std::string::npos) {
    open = "[";
    close = "]";
  } else {
    return std::string();
  }
  const std::string compared = std::string("ALLTRIM(UPPER(") + FieldName(field) + "))";
  const std::string literal = open + t + close;
  return exact ? compared + "==" + literal : literal + "$" + compared;
}

// ---------------------------------------------------------------------------------------------
// Construction

TDMForm::TDMForm(TablePair& fax, TablePair& rec, const QString& dataDir, QWidget* mainWindow,
                 QWidget* parent)
    : QDialog(parent), fax_(fax), rec_(rec), dataDir_(dataDir), mainWindow_(mainWindow) {
  setObjectName(QStringLiteral("DMForm"));
  setWindowTitle(QStringLiteral("Fax Log Cleanup Utility"));
  setSizeGripEnabled(true);

  auto* menuBar = new QMenuBar(this);
  menuBar->setObjectName(QStringLiteral("MainMenu1"));
  mnuActions_ = menuBar->addMenu(QStringLiteral("Actions"));
  mnuActions_->setObjectName(QStringLiteral("mnuActions"));
  auto item = [this](QMenu* menu, const char* name, const QString& caption, void (TDMForm::*slot)()) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, slot);
    return action;
  };
  item(mnuActions_, "mnuToggleDeletedState", QStringLiteral("Delete Current Fax"),
       &TDMForm::mnuToggleDeletedStateClick);
  item(mnuActions_, "mnuAllBeforeDate", QStringLiteral("Delete All Before A Particular Date"),
       &TDMForm::mnuAllBeforeDateClick);
  // Archived faxes are a variant this program does not have.
  QAction* archived = mnuActions_->addAction(QStringLiteral("Delete All Archived Faxes"));
  archived->setObjectName(QStringLiteral("mnuDeleteAllArchivedFaxes"));
  archived->setVisible(false);
  mnuDeleteAllthatHaveBeenSent_ =
      item(mnuActions_, "mnuDeleteAllthatHaveBeenSent", QStringLiteral("Delete All that Have Been Sent"),
           &TDMForm::mnuDeleteAllthatHaveBeenSentClick);
  mnuDeleteAllThatHaveNOTBeenSent_ =
      item(mnuActions_, "mnuDeleteAllThatHaveNOTBeenSent",
           QStringLiteral("Delete All That Have NOT Been Sent"),
           &TDMForm::mnuDeleteAllThatHaveNOTBeenSentClick);
  item(mnuActions_, "mnuDeleteAllFaxesMeetingCertainConditions",
       QStringLiteral("Delete All Faxes Meeting Certain Conditions..."),
       &TDMForm::mnuDeleteAllFaxesMeetingCertainConditionsClick);
  item(mnuActions_, "DeleteAllFaxes1", QStringLiteral("Delete All Faxes"), &TDMForm::DeleteAllFaxes1Click);

  popup_ = new QMenu(this);
  popup_->setObjectName(QStringLiteral("PopupMenu1"));
  item(popup_, "ToggleDeletedState1", QStringLiteral("Delete"), &TDMForm::mnuToggleDeletedStateClick);

  PageControl1_ = new QTabWidget(this);
  PageControl1_->setObjectName(QStringLiteral("PageControl1"));
  outgoing_ = new QWidget(PageControl1_);
  outgoing_->setObjectName(QStringLiteral("outgoing"));
  incoming_ = new QWidget(PageControl1_);
  incoming_->setObjectName(QStringLiteral("incoming"));
  SendGrid_ = Grid("SendGrid", QStringLiteral("Outgoing Faxes"), outgoing_);
  RecGrid_ = Grid("RecGrid", QStringLiteral("Incoming Faxes"), incoming_);
  for (auto [page, grid] : {std::pair{outgoing_, SendGrid_}, std::pair{incoming_, RecGrid_}}) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(grid);
  }
  PageControl1_->addTab(outgoing_, QStringLiteral("Outgoing Faxes"));
  PageControl1_->addTab(incoming_, QStringLiteral("Incoming Faxes"));
  connect(PageControl1_, &QTabWidget::currentChanged, this, [this] { UpdateControls(); });

  progress_ = new QLabel(this);
  progress_->setObjectName(QStringLiteral("ProgressLabel"));
  progress_->setAccessibleName(QStringLiteral("Progress"));
  auto* help = new QPushButton(QStringLiteral("Help"), this);
  help->setObjectName(QStringLiteral("HelpButton"));
  help->setAccessibleName(QStringLiteral("Help"));
  help->setAutoDefault(false);
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  close->setObjectName(QStringLiteral("CloseButton"));
  close->setAccessibleName(QStringLiteral("Close"));
  connect(help, &QPushButton::clicked, this, &TDMForm::HelpClick);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(progress_, 1);
  buttons->addWidget(help);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->setMenuBar(menuBar);
  layout->addWidget(PageControl1_, 1);
  layout->addLayout(buttons);
  resize(760, 440);
}

TDMForm::~TDMForm() {
  RestoreQueries();
  for (QTableView* grid : {SendGrid_, RecGrid_}) {
    if (grid->selectionModel()) grid->selectionModel()->disconnect(this);
    grid->setModel(nullptr);
  }
  delete sendModel_;
  delete recModel_;
}

// ---------------------------------------------------------------------------------------------
// Activation, pages and controls

void TDMForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormActivate();
}

void TDMForm::FormActivate() {
  if (activated_) return;
  activated_ = true;
  // Every record is to be seen here, whatever the tables were showing.
  faxQuery_ = fax_.QueryText();
  recQuery_ = rec_.QueryText();
  queriesSaved_ = true;
  fax_.Query(std::string());
  rec_.Query(std::string());
  fax_.Refresh();
  rec_.Refresh();
  SetCurrentPage(kOutgoingPage);

  sendModel_ = new TTableModel(fax_, SendColumns());
  recModel_ = new TTableModel(rec_, RecColumns());
  for (auto [grid, model] : {std::pair{SendGrid_, sendModel_}, std::pair{RecGrid_, recModel_}}) {
    model->Reload();
    grid->setModel(model);
    SizeColumns(grid, model);
    QTableView* g = grid;
    TTableModel* m = model;
    connect(grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this, g, m] { SyncCurrentRecord(g, m); });
    connect(grid, &QTableView::doubleClicked, this,
            [this, g, m](const QModelIndex& index) { GridDoubleClick(g, m, index); });
    connect(grid, &QWidget::customContextMenuRequested, this,
            [this, g](const QPoint& at) { popup_->popup(g->viewport()->mapToGlobal(at)); });
  }
  UpdateControls();
}

int TDMForm::CurrentPage() const { return PageControl1_->currentIndex(); }
void TDMForm::SetCurrentPage(int page) { PageControl1_->setCurrentIndex(page); }
QString TDMForm::ProgressText() const { return progress_->text(); }

TablePair& TDMForm::PageTable() { return Outgoing() ? fax_ : rec_; }
TTableModel* TDMForm::PageModel() { return Outgoing() ? sendModel_ : recModel_; }
QTableView* TDMForm::PageGrid() { return Outgoing() ? SendGrid_ : RecGrid_; }

void TDMForm::UpdateControls() {
  const bool outgoing = Outgoing();
  mnuDeleteAllthatHaveBeenSent_->setVisible(outgoing);
  mnuDeleteAllThatHaveNOTBeenSent_->setVisible(outgoing);
  for (auto [grid, model] : {std::pair{SendGrid_, sendModel_}, std::pair{RecGrid_, recModel_}}) {
    const bool filled = model && model->rowCount() > 0;
    grid->setEnabled(filled);
    grid->setContextMenuPolicy(filled ? Qt::CustomContextMenu : Qt::NoContextMenu);
    if (!model) continue;
    const int row = model->RowOfCurrent();
    if (row >= 0) {
      const QSignalBlocker quiet(grid->selectionModel());
      grid->selectRow(row);
      grid->setCurrentIndex(model->index(row, 0));
    }
  }
  mnuActions_->menuAction()->setEnabled(PageGrid()->isEnabled());
  const bool noOutgoing = !sendModel_ || sendModel_->rowCount() == 0;
  const bool noIncoming = !recModel_ || recModel_->rowCount() == 0;
  PageControl1_->setTabText(kOutgoingPage, noOutgoing ? QStringLiteral("OutGoing Faxes (none)")
                                                      : QStringLiteral("Outgoing Faxes"));
  PageControl1_->setTabText(kIncomingPage, noIncoming ? QStringLiteral("Incoming Faxes (none)")
                                                      : QStringLiteral("Incoming Faxes"));
}

void TDMForm::SyncCurrentRecord(QTableView* grid, TTableModel* model) {
  const int row = grid->currentIndex().row();
  if (row >= 0) model->MakeCurrent(row);
}

void TDMForm::GridDoubleClick(QTableView* grid, TTableModel* model, const QModelIndex& index) {
  if (!index.isValid()) return;
  if (QString::fromLatin1(model->ColumnAt(index.column()).field).compare(QLatin1String(kIsDeleted), Qt::CaseInsensitive) != 0) {
    return;
  }
  model->MakeCurrent(index.row());
  if (PageGrid() == grid) mnuToggleDeletedStateClick();
}

// ---------------------------------------------------------------------------------------------
// Deleting

bool TDMForm::DeleteCurrentRecord(TablePair& pair, ReceiveFolder* receive, Problems& problems) {
  const QString name = QString::fromStdString(pair.FieldString("FAXFILE")).trimmed();
  const QString path = receive ? receive->FilePath(name) : QString();
  // A received fax's file is first put aside, so that a record the table refuses to delete
  // gets it back: the record and its file go together or not at all.
  QString aside;
  if (!path.isEmpty()) {
    const QFileInfo info(path);
    if (info.isSymLink() || info.exists()) {
      if (info.isDir()) {
        problems.keptFiles << name + QStringLiteral(": not a file");
        return false;
      }
      aside = path + QLatin1String(kAsideSuffix);
      if (std::rename(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) != 0) {
        problems.keptFiles << name + QStringLiteral(": ") + SystemError(errno);
        return false;
      }
    }
  }
  if (!pair.DeleteRecord()) {
    if (!aside.isEmpty()) std::rename(QFile::encodeName(aside).constData(), QFile::encodeName(path).constData());
    const QString what = receive ? QStringLiteral("from ") + QString::fromStdString(pair.FieldString("FROM"))
                                  : QStringLiteral("to ") + QString::fromStdString(pair.FieldString("RECIPIENT"));
    problems.keptRecords << QStringLiteral("record %1 (%2)").arg(pair.RecNo()).arg(what.trimmed());
    return false;
  }
  if (!aside.isEmpty()) ::unlink(QFile::encodeName(aside).constData());
  // The marks go with the fax: left behind, they would turn up on the next fax filed under
  // the same name.
  if (!path.isEmpty()) qv::faximage::RemoveMarks(QFile::encodeName(path).toStdString());
  deleted_ = true;
  return true;
}

void TDMForm::ReportProblems(const Problems& problems) {
  auto listed = [](const QStringList& items) {
    QStringList shown = items.mid(0, kListedProblems);
    if (items.size() > kListedProblems) shown << QStringLiteral("and %1 more").arg(items.size() - kListedProblems);
    return shown.join(QStringLiteral("\r"));
  };
  if (!problems.keptFiles.isEmpty()) {
    Dialogs().Information(this, QStringLiteral("%1 fax file(s) could not be removed; their records are kept:\r")
                                    .arg(problems.keptFiles.size()) + listed(problems.keptFiles));
  }
  if (!problems.keptRecords.isEmpty()) {
    Dialogs().Information(this, QStringLiteral("%1 record(s) could not be deleted and are kept:\r")
                                    .arg(problems.keptRecords.size()) + listed(problems.keptRecords));
  }
}

void TDMForm::mnuToggleDeletedStateClick() {
  TablePair& pair = PageTable();
  TTableModel* model = PageModel();
  if (!model || model->rowCount() == 0 || pair.RecNo() == pair.RecCount() + 1) {
    Dialogs().Beep();
    return;
  }
  if (!Dialogs().Question(this, QStringLiteral("DELETE"), QStringLiteral("Delete this fax? (action is permanent)"),
                          true)) {
    return;
  }
  const int recNo = pair.RecNo();
  pair.Next();
  const int next = pair.RecNo();
  pair.Go(recNo);
  Problems problems;
  ReceiveFolder receive(dataDir_);
  DeleteCurrentRecord(pair, Outgoing() ? nullptr : &receive, problems);
  pair.Refresh();
  if (next != recNo) pair.Go(next);  // the last record has no next; the table finds its own
  model->Reload();
  UpdateControls();
  ReportProblems(problems);
}

int TDMForm::DeleteFor(const std::string& expression) {
  const bool received = !Outgoing();
  TablePair& pair = PageTable();
  TTableModel* model = PageModel();
  std::string error;
  if (!pair.SetCondition(expression, &error)) {
    Dialogs().Information(this, QStringLiteral("The faxes to delete cannot be chosen: ") + QString::fromStdString(error));
    return 0;
  }
  const int recNo = pair.RecNo();
  const int order = pair.IndexOrd();
  const int total = pair.RecCount();
  int count = 0;
  Problems problems;
  ReceiveFolder receive(dataDir_);
  {
    WaitCursor wait;
    model->BeginSuspend();
    pair.SetOrder(0);
    {
      ShowDeletedRecords all;
      pair.First();
      int checked = 0;
      while (!pair.Eof()) {
        if (!pair.IsDeleted() && pair.ConditionTrue() && DeleteCurrentRecord(pair, received ? &receive : nullptr, problems)) ++count;
        const int here = pair.RecNo();
        pair.Next();
        if (!pair.Eof() && pair.RecNo() == here) break;  // the table cannot move on: stop, not spin
        if (++checked % kProgressEvery == 0) {
          progress_->setText(QStringLiteral("Deleting... %1 of %2 faxes checked, %3 deleted")
                                 .arg(checked).arg(total).arg(count));
          PumpMessages();
        }
      }
    }
    pair.SetCondition(std::string());
    pair.Refresh();
    pair.SetOrder(order);
    pair.Go(recNo);  // may be gone: the table then stands on a neighbour
    model->EndSuspend();
    progress_->clear();
  }
  Dialogs().Information(this, QString::number(count) + QStringLiteral(" deleted."));
  ReportProblems(problems);
  UpdateControls();
  return count;
}

// ---------------------------------------------------------------------------------------------
// Commands

void TDMForm::mnuAllBeforeDateClick() {
  TDateSelector selector(this);
  selector.setWindowTitle(QStringLiteral("Delete all before..."));
  selector.SetDate(QDate::currentDate());
  selector.adjustSize();
  CenterOver(&selector, mainWindow_);
  if (Dialogs().Exec(&selector) != QDialog::Accepted) return;
  const QDate date = selector.Date();
  const std::string expression = BeforeDateExpression(Outgoing(), date);
  const QString question = QStringLiteral("Delete all ") +
                           (Outgoing() ? QStringLiteral("outgoing") : QStringLiteral("received")) +
                           QStringLiteral(" faxes prior to ") + QLocale().toString(date, QLocale::ShortFormat) +
                           QStringLiteral(" (action is permanent)?");
  if (Dialogs().Question(this, QStringLiteral("DELETE"), question, false)) DeleteFor(expression);
}

void TDMForm::mnuDeleteAllthatHaveBeenSentClick() {
  if (!Outgoing()) return;
  if (Dialogs().Question(this, QStringLiteral("DELETE"),
                         QStringLiteral("Delete all outgoing faxes which have been sent? (action is permanent)"),
                         false)) {
    DeleteFor(kSentExpression);
  }
}

void TDMForm::mnuDeleteAllThatHaveNOTBeenSentClick() {
  if (!Outgoing()) return;
  if (Dialogs().Question(this, QStringLiteral("DELETE"),
                         QStringLiteral("Delete all outgoing faxes which have NOT been sent? (action is permanent)"),
                         false)) {
    DeleteFor(kNotSentExpression);
  }
}

void TDMForm::mnuDeleteAllFaxesMeetingCertainConditionsClick() {
  TDeleteForConditions conditions(this);
  TablePair& pair = PageTable();
  if (Outgoing()) {
    conditions.SetupOutgoing(QString::fromStdString(pair.FieldString("RECIPIENT")),
                             QString::fromStdString(pair.FieldString("PHONE")));
  } else {
    conditions.SetupReceived(QString::fromStdString(pair.FieldString("FROM")));
  }
  conditions.adjustSize();
  CenterOver(&conditions, mainWindow_);
  if (Dialogs().Exec(&conditions) != QDialog::Accepted) return;
  const std::string expression = ConditionExpression(conditions.Field(), conditions.Text(), conditions.Exact());
  if (expression.empty()) {
    Dialogs().Information(this, QStringLiteral("The text cannot hold \", ' and ] all at once."));
    return;
  }
  DeleteFor(expression);
}

void TDMForm::DeleteAllFaxes1Click() {
  const QString question = QStringLiteral("Delete all ") +
                           (Outgoing() ? QStringLiteral("outgoing") : QStringLiteral("received")) +
                           QStringLiteral(" faxes ? (action is permanent)");
  if (Dialogs().Question(this, QStringLiteral("DELETE ALL"), question, false)) DeleteFor(kAllFaxesExpression);
}

void TDMForm::HelpClick() { emit HelpRequested(kFaxLogCleanupHelpTopic); }

// ---------------------------------------------------------------------------------------------
// Closing

void TDMForm::RestoreQueries() {
  if (!queriesSaved_) return;
  queriesSaved_ = false;
  fax_.Query(faxQuery_);
  rec_.Query(recQuery_);
  fax_.Refresh();
  rec_.Refresh();
}

void TDMForm::done(int result) {
  RestoreQueries();
  QDialog::done(result);
}

}  // namespace qv::app
