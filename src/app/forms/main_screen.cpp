#include "app/forms/main_screen.h"
#include "app/flows/outbox.h"

#include "app/forms/app_texts.h"
#include "app/flows/call_settings.h"
#include "app/forms/configuration_info.h"
#include "app/contacts/cover_browse.h"
#include "app/contacts/phone_book.h"
#include "app/forms/help_browser.h"
#include "app/forms/preferences.h"
#include "app/store/data_directory.h"
#include "app/forms/dialog_service.h"
#include "app/forms/edit_receive_notes.h"
#include "app/editor/enter_edit.h"
#include "app/editor/fax_editor.h"
#include "app/forms/fax_log_cleanup.h"
#include "app/forms/fax_viewer_form.h"
#include "app/flows/reply_fax.h"
#include "app/forms/pre_print_form.h"
#include "app/editor/rich_edit_memo.h"
#include "app/flows/message_pump.h"
#include "app/flows/print_jobs.h"
#include "app/store/fax_store.h"
#include "app/forms/placement.h"
#include "app/forms/quick_setup.h"
#include "app/forms/rebuild_indexes.h"
#include "app/store/receive_folder.h"
#include "app/store/settings.h"
#include "app/forms/splash_form.h"
#include "app/forms/starting_fax_form.h"
#include "app/forms/table_model.h"
#include "app/store/table_pair.h"
#include "comm/com_port.h"
#include "comm/port_names.h"
#include "faximage/marks_file.h"
#include "ui/fax_printer.h"
#include "ui/fax_printer_status.h"
#include "app/forms/internet_line_panel.h"
#include "app/store/line_settings.h"
#include "app/store/cover_templates.h"
#include "app/store/rich_text_editor.h"
#include "rtf/rtf_writer.h"
#include "fax/receive_fax.h"
#include "ui/rich_edit.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QSoundEffect>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTabBar>
#include <QTextEdit>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <exception>

#include <algorithm>

namespace qv::app {

namespace {
constexpr int kPrintTag = 99;  // the Print button's tag: View/Print prints instead of showing
constexpr int kHintHideMs = 30000;
const char* const kHintProperty = "qvHint";
const char* const kFormClass = "TMainScreen";

QString FieldText(TablePair& pair, const char* field) {
  return QString::fromStdString(pair.FieldString(field));
}

// Grid columns: the fields in display order, their labels and widths in characters.
std::vector<TTableModel::Column> FaxColumns() {
  using K = TTableModel::Kind;
  return {{"SentYesNo", "Sent", 4, K::SentYesNo}, {"DATESENT", "Date Sent", 10, K::Date},
          {"TIMESENT", "Time Sent", 9},            {"RECIPIENT", "Recipient", 20},
          {"PHONE", "Phone", 15},                  {"PAGES", "Pages", 5, K::Number},
          {"SUBJECT", "Subject", 20},              {"LASTRESULT", "Last Attempt", 35},
          // Not a field: what the outbox (its own file) says of the record.
          {"OUTBOX", "Outbox", 30, K::Outbox}};
}

std::vector<TTableModel::Column> RecColumns() {
  using K = TTableModel::Kind;
  return {{"DATEREC", "Date Rec'd", 10, K::Date}, {"TIMEREC", "Time Rec'd", 10},
          {"FROM", "From", 20},                   {"PAGES", "Pages", 5, K::Number},
          {"NOTES", "Notes", 20},                 {"FAXFILE", "Fax File", 12}};
}

QLabel* TitleBar(const QString& text, const QColor& color, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setAlignment(Qt::AlignCenter);
  label->setAutoFillBackground(true);
  QPalette palette = label->palette();
  palette.setColor(QPalette::Window, color);
  palette.setColor(QPalette::WindowText, Qt::white);
  label->setPalette(palette);
  QFont font = label->font();
  font.setBold(true);
  font.setPointSize(font.pointSize() + 2);
  label->setFont(font);
  label->setContentsMargins(0, 3, 0, 3);
  return label;
}

// The style has no printer among its standard icons: a small drawn one.
QIcon PrinterIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(60, 60, 60), 1.5));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(9.5, 3.5, 13, 10));  // paper going in
  p.setBrush(QColor(120, 130, 145));
  p.drawRoundedRect(QRectF(3.5, 12.5, 25, 11), 2, 2);  // body
  p.setBrush(Qt::white);
  p.drawRect(QRectF(8.5, 19.5, 15, 9));  // printed sheet
  p.setPen(QPen(QColor(110, 110, 110), 1));
  p.drawLine(QPointF(11, 23), QPointF(21, 23));
  p.drawLine(QPointF(11, 26), QPointF(19, 26));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(90, 200, 90));
  p.drawEllipse(QPointF(24.5, 15.5), 1.2, 1.2);
  return QIcon(pixmap);
}

QTableView* Grid(const char* name, QWidget* parent) {
  auto* grid = new QTableView(parent);
  grid->setObjectName(QString::fromLatin1(name));
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);  // read-only
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setShowGrid(true);
  grid->setAlternatingRowColors(true);
  grid->setWordWrap(false);
  grid->verticalHeader()->setVisible(true);  // the indicator column
  grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
  grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  grid->horizontalHeader()->setStretchLastSection(true);
  grid->horizontalHeader()->setHighlightSections(false);
  return grid;
}
}  // namespace

TMainScreen::TMainScreen(const QString& dataDir, QWidget* parent)
    : QMainWindow(parent), dataDir_(WithTrailingSlash(dataDir)) {
  setObjectName(QString::fromLatin1(kFormClass));
  setWindowTitle(QStringLiteral("Quorvane"));
  store_ = std::make_unique<TFaxStore>(dataDir_.toStdString());
  store_->SetPumpHook(&PumpMessages);
  BuildToolBar();
  BuildMenus();
  BuildPages();
  resize(820, 520);
  FormCreate();
}

TMainScreen::~TMainScreen() {
  outbox_.reset();  // a try running ends before receive mode and the tables go
  if (receiveMode_) receive_->Stop();
  // The grids and their models go before the tables they show.
  for (QTableView* grid : {FaxGrid_, RecFaxGrid_}) {
    if (grid && grid->selectionModel()) grid->selectionModel()->disconnect(this);
    if (grid) grid->setModel(nullptr);
  }
  delete faxModel_;
  faxModel_ = nullptr;
  delete recModel_;
  recModel_ = nullptr;
  if (store_) store_->SetReopenHook(nullptr);
  store_.reset();
}

std::string TMainScreen::IniFile() const { return SettingsFileName(dataDir_.toStdString()); }

// ---------------------------------------------------------------------------------------------
// Construction

QToolButton* TMainScreen::ToolButton(const char* name, const QString& caption, const QString& hint,
                                     int icon, void (TMainScreen::*slot)()) {
  auto* button = new QToolButton(this);
  button->setObjectName(QString::fromLatin1(name));
  button->setText(caption);
  button->setIcon(style()->standardIcon(static_cast<QStyle::StandardPixmap>(icon)));
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setAutoRaise(true);
  button->setMinimumWidth(64);
  button->setToolTipDuration(kHintHideMs);
  SetHint(button, hint);
  connect(button, &QToolButton::clicked, this, slot);
  return button;
}

void TMainScreen::BuildToolBar() {
  auto* bar = new QToolBar(this);
  bar->setObjectName(QStringLiteral("ButtonBar"));
  bar->setMovable(false);
  bar->setFloatable(false);
  bar->setIconSize(QSize(24, 24));
  bar->toggleViewAction()->setVisible(false);
  addToolBar(Qt::TopToolBarArea, bar);

  Newbutton_ = ToolButton("Newbutton", QStringLiteral("&New"), QStringLiteral("Create a new fax"),
                          QStyle::SP_FileIcon, &TMainScreen::NewbuttonClick);
  EditButton_ = ToolButton("EditButton", QStringLiteral("&Edit"),
                           QStringLiteral("Edit the currently selected fax"),
                           QStyle::SP_FileDialogDetailedView, &TMainScreen::EditButtonClick);
  DeleteButton_ = ToolButton("DeleteButton", QStringLiteral("&Delete"),
                             QStringLiteral("Delete  the currently selected fax"),
                             QStyle::SP_TrashIcon, &TMainScreen::DeleteButtonClick);
  SendButton_ = ToolButton("SendButton", QStringLiteral("&Send"),
                           QStringLiteral("Send the currently selected fax"),
                           QStyle::SP_ArrowForward, &TMainScreen::SendButtonClick);
  ReceiveButton_ = ToolButton("ReceiveButton", QStringLiteral("&Receive"),
                              QStringLiteral("Start receiving faxes"), QStyle::SP_ArrowDown,
                              &TMainScreen::ReceiveButtonClick);
  ViewFaxButton_ = ToolButton("ViewFaxButton", QStringLiteral("&View"),
                              QStringLiteral("View the current fax"),
                              QStyle::SP_FileDialogContentsView, &TMainScreen::mnuViewPrintClick);
  Printbutton_ = ToolButton("Printbutton", QStringLiteral("&Print"),
                            QStringLiteral("Print the current fax"), QStyle::SP_DriveFDIcon,
                            &TMainScreen::PrintbuttonClick);
  Printbutton_->setIcon(PrinterIcon());
  Printbutton_->setProperty("tag", kPrintTag);
  Exitbutton_ = ToolButton("Exitbutton", QStringLiteral("E&xit"), QStringLiteral("Exit the program"),
                           QStyle::SP_DialogCloseButton, &TMainScreen::FormCloseRequest);

  for (QToolButton* b : {Newbutton_, EditButton_, DeleteButton_, SendButton_, ReceiveButton_,
                         ViewFaxButton_, Printbutton_}) {
    bar->addWidget(b);
  }
  auto* spacer = new QWidget(bar);
  spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  bar->addWidget(spacer);
  bar->addWidget(Exitbutton_);
}

QAction* TMainScreen::MenuItem(QMenu* menu, const char* name, const QString& caption,
                               const QString& hint, void (TMainScreen::*slot)()) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(QString::fromLatin1(name));
  SetHint(action, hint);
  connect(action, &QAction::triggered, this, slot);
  return action;
}

void TMainScreen::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("File1"));
  mnuNew_ = MenuItem(file, "mnuNew", QStringLiteral("&New Fax"), QStringLiteral("Create a new fax"),
                     &TMainScreen::NewbuttonClick);
  mnuEdit_ = MenuItem(file, "mnuEdit", QStringLiteral("&Edit Fax"),
                      QStringLiteral("Edit the currently selected fax"),
                      &TMainScreen::EditButtonClick);
  mnuClone_ = MenuItem(file, "mnuClone", QStringLiteral("Clone Fax"),
                       QStringLiteral("Clone the currently selected fax"),
                       &TMainScreen::mnuCloneClick);
  mnuDelete_ = MenuItem(file, "mnuDelete", QStringLiteral("Delete Fax"),
                        QStringLiteral("Delete the currently selected fax"),
                        &TMainScreen::DeleteButtonClick);
  MenuItem(file, "FaxlogCleanup1", QStringLiteral("Fax Log Cleanup"), QString(),
           &TMainScreen::FaxlogCleanup1Click);
  file->addSeparator();
  mnuSend_ = MenuItem(file, "mnuSend", QStringLiteral("Send Fax"),
                      QStringLiteral("Send the currently selected fax"),
                      &TMainScreen::SendButtonClick);
  mnuSend_->setShortcut(QKeySequence(QStringLiteral("Ctrl+S")));
  mnuReceive_ = MenuItem(file, "mnuReceive", QStringLiteral("Receive Faxes"), QString(),
                         &TMainScreen::ReceiveButtonClick);
  mnuReceive_->setShortcut(QKeySequence(QStringLiteral("Ctrl+R")));
  mnuViewPrint_ = MenuItem(file, "mnuViewPrint", QStringLiteral("View/Print Fax"),
                           QStringLiteral("See a preview of and optionally  print the fax"),
                           &TMainScreen::mnuViewPrintClick);
  mnuViewPrint_->setShortcut(QKeySequence(QStringLiteral("Ctrl+V")));
  mnuReply_ = MenuItem(file, "mnuReply", QStringLiteral("Repl&y to Fax"),
                       QStringLiteral("Send the received fax back to its sender, with your marks on it"),
                       &TMainScreen::mnuReplyClick);
  mnuForward_ = MenuItem(file, "mnuForward", QStringLiteral("&Forward Fax"),
                         QStringLiteral("Send the received fax, with your marks on it, to another number"),
                         &TMainScreen::mnuForwardClick);
  file->addSeparator();
  MenuItem(file, "mnuCover", QStringLiteral("C&over Sheets"),
           QStringLiteral("Create or modify cover page templates"), &TMainScreen::mnuCoverClick);
  MenuItem(file, "mnuPhoneBook", QStringLiteral("&Phone Book"),
           QStringLiteral("Create or modify phone book entries"),
           &TMainScreen::mnuPhoneBookClick);
  file->addSeparator();
  MenuItem(file, "mnuRebuildIndexes", QStringLiteral("Rebuild &Indexes"),
           QStringLiteral("Do this every 2 weeks "), &TMainScreen::mnuRebuildIndexesClick);
  MenuItem(file, "mnuPreferences", QStringLiteral("P&references"),
           QStringLiteral("Set Quorvane preferences"), &TMainScreen::mnuPreferencesClick);
  file->addSeparator();
  QAction* exit = MenuItem(file, "Exit1", QStringLiteral("E&xit"), QStringLiteral("Exit to Windows"),
                           &TMainScreen::FormCloseRequest);
  exit->setShortcut(QKeySequence(QStringLiteral("Ctrl+X")));

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("Help1"));
  QAction* contents = MenuItem(help, "Contents1", QStringLiteral("Contents"),
                               QStringLiteral("Open the Quorvane help file"),
                               &TMainScreen::Contents1Click);
  Q_UNUSED(contents);
  MenuItem(help, "FrequentlyAskedQuestionsFAQ1", QStringLiteral("Frequently Asked Questions (FAQ)"),
           QString(), &TMainScreen::FaqClick);
  MenuItem(help, "TroubleshootingTips1", QStringLiteral("Technical Help"), QString(),
           &TMainScreen::TechnicalHelpClick);
  MenuItem(help, "TechnicalSupport1", QStringLiteral("Technical Support"), QString(),
           &TMainScreen::TechnicalSupportClick);
  help->addSeparator();
  MenuItem(help, "About1", QStringLiteral("About"), QStringLiteral("Information about Quorvane"),
           &TMainScreen::About1Click);
  MenuItem(help, "ConfigurationInformation1", QStringLiteral("Configuration Information"),
           QString(), &TMainScreen::ConfigurationInformation1Click);
  MenuItem(help, "VisitOurInternetWebsite1", QStringLiteral("Visit Our Internet Website"),
           QString(), &TMainScreen::VisitOurInternetWebsite1Click);
  help->addSeparator();
  mnuShowHint_ = MenuItem(help, "mnuShowHint", QStringLiteral("Show Hints"), QString(),
                          &TMainScreen::mnuShowHintClick);
  mnuShowHint_->setCheckable(true);
  mnuShowHint_->setChecked(true);
}

void TMainScreen::BuildPages() {
  auto* browse = new QWidget(this);
  browse->setObjectName(QStringLiteral("BrowsePanel"));
  auto* browseLayout = new QVBoxLayout(browse);
  browseLayout->setContentsMargins(4, 4, 4, 0);
  browseLayout->setSpacing(0);

  NoteBook_ = new QStackedWidget(browse);
  NoteBook_->setObjectName(QStringLiteral("NoteBook"));

  auto* sent = new QWidget(NoteBook_);
  sent->setObjectName(QStringLiteral("Sent"));
  auto* sentLayout = new QVBoxLayout(sent);
  sentLayout->setContentsMargins(0, 0, 0, 0);
  sentLayout->setSpacing(0);
  sentLayout->addWidget(TitleBar(QStringLiteral("Outgoing Faxes"), QColor(0, 0, 160), sent));
  FaxGrid_ = Grid("FaxGrid", sent);
  sentLayout->addWidget(FaxGrid_);

  auto* received = new QWidget(NoteBook_);
  received->setObjectName(QStringLiteral("Received"));
  auto* recLayout = new QVBoxLayout(received);
  recLayout->setContentsMargins(0, 0, 0, 0);
  recLayout->setSpacing(0);
  recLayout->addWidget(TitleBar(QStringLiteral("Incoming Faxes"), QColor(0, 128, 0), received));
  RecFaxGrid_ = Grid("RecFaxGrid", received);
  recLayout->addWidget(RecFaxGrid_);

  NoteBook_->addWidget(sent);
  NoteBook_->addWidget(received);
  browseLayout->addWidget(NoteBook_, 1);

  TabSet1_ = new QTabBar(browse);
  TabSet1_->setObjectName(QStringLiteral("TabSet1"));
  TabSet1_->setShape(QTabBar::RoundedSouth);
  TabSet1_->addTab(QStringLiteral("Outgoing"));
  TabSet1_->addTab(QStringLiteral("Incoming"));
  TabSet1_->setExpanding(false);
  browseLayout->addWidget(TabSet1_, 0, Qt::AlignLeft);
  connect(TabSet1_, &QTabBar::currentChanged, this, [this](int index) {
    NoteBook_->setCurrentIndex(index);
    SetButtons();
  });
  setCentralWidget(browse);

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  status_->setMinimumHeight(status_->fontMetrics().height() + 4);
  statusBar()->addWidget(status_, 1);
  practiceNote_ = new QLabel(QString::fromLatin1(kPracticeLineNote), this);
  practiceNote_->setObjectName(QStringLiteral("PracticeLineNote"));
  practiceNote_->setAccessibleName(QString::fromLatin1(kPracticeLineNote));
  practiceNote_->setStyleSheet(QStringLiteral("QLabel { font-weight: bold; color: #8a4b00; padding: 0 6px; }"));
  practiceNote_->setVisible(false);
  statusBar()->addPermanentWidget(practiceNote_);
  statusBar()->setSizeGripEnabled(true);

  connect(FaxGrid_, &QTableView::doubleClicked, this, [this] { mnuViewPrintClick(); });
  connect(RecFaxGrid_, &QTableView::doubleClicked, this, [this] { mnuViewPrintClick(); });
}

void TMainScreen::FormCreate() {
  firstActivation_ = true;
  SetCurrentPage(kOutgoingPage);
  if (!store_->OpenFaxDBF()) {
    Dialogs().Information(this, QString::fromLatin1(kOpenFaxFailedText));
    QMetaObject::invokeMethod(this, &TMainScreen::close, Qt::QueuedConnection);
  } else if (!store_->OpenRecFaxDBF()) {
    Dialogs().Information(this, QString::fromLatin1(kOpenRecFailedText));
    QMetaObject::invokeMethod(this, &TMainScreen::close, Qt::QueuedConnection);
  } else {
    tablesOpen_ = true;
  }

  TSettings& s = Settings();
  LoadSettings(s, IniFile());
  // COMn names map to device paths through the [Ports] section of the same settings file.
  qv::comm::SetPortSettingsFile(IniFile());
  s.FirstRun = false;
  if (s.ComPort == -1) {
    quickSetupDue_ = true;
    s.FirstRun = true;
    s.ComPort = 0;
  }
  helpFile_ = dataDir_ + QStringLiteral("qrv.hlp");
  receiveMode_ = false;
  QDir(dataDir_).mkdir(QString::fromLatin1(kReceiveFolder));  // a failure is not fatal
  mnuShowHint_->setChecked(s.HintsOn);
  ApplyHints();
  ConnectReceiveComponent();

  faxModel_ = new TTableModel(store_->Pair(TableId::Fax), FaxColumns(), this);
  // The grid reads the queue for a record's state and next try; the table has no field for it.
  faxModel_->SetRecordText([this](int recNo) { return outbox_ ? outbox_->StateText(recNo) : QString(); });
  recModel_ = new TTableModel(store_->Pair(TableId::Rec), RecColumns(), this);
  FaxGrid_->setModel(faxModel_);
  RecFaxGrid_->setModel(recModel_);
  for (auto [grid, model] : {std::pair{FaxGrid_, faxModel_}, std::pair{RecFaxGrid_, recModel_}}) {
    const int charWidth = grid->fontMetrics().averageCharWidth();
    for (int c = 0; c < model->columnCount(); ++c) {
      const int labelWidth = grid->fontMetrics().horizontalAdvance(model->headerData(c, Qt::Horizontal).toString());
      int width = std::max(model->ColumnChars(c) * charWidth, labelWidth);
      if (model->ColumnKind(c) == TTableModel::Kind::Date) {
        // Dates take the width of the longest one in the user's short format.
        width = std::max(width, grid->fontMetrics().horizontalAdvance(
                                    QLocale().toString(QDate(2026, 12, 28), QLocale::ShortFormat)));
      }
      grid->setColumnWidth(c, width + 12);
    }
    TableId id = model == faxModel_ ? TableId::Fax : TableId::Rec;
    connect(grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this, id] { SyncCurrentRecord(id); });
  }
  store_->SetReopenHook([this](TableId id, bool reopened) {
    TTableModel* model = id == TableId::Fax ? faxModel_ : id == TableId::Rec ? recModel_ : nullptr;
    if (!model) return;
    if (reopened) model->EndSuspend(); else model->BeginSuspend();
  });
  if (tablesOpen_) receive_->RecoverInterrupted();
  SetButtons();
  RefreshGrids();
}

// ---------------------------------------------------------------------------------------------
// Pages, hints and status

int TMainScreen::CurrentPage() const { return TabSet1_->currentIndex(); }

void TMainScreen::SetCurrentPage(int page) {
  TabSet1_->setCurrentIndex(page);
  NoteBook_->setCurrentIndex(page);
}

void TMainScreen::SetStatus(const QString& text) { status_->setText(text); }
QString TMainScreen::StatusText() const { return status_->text(); }

void TMainScreen::SetHint(QObject* control, const QString& hint) {
  control->setProperty(kHintProperty, hint);
  if (auto* action = qobject_cast<QAction*>(control)) action->setStatusTip(hint);
}

void TMainScreen::ApplyHints() {
  const bool on = Settings().HintsOn;
  for (QToolButton* b : {Newbutton_, EditButton_, DeleteButton_, SendButton_, ReceiveButton_,
                         ViewFaxButton_, Printbutton_, Exitbutton_}) {
    b->setToolTip(on ? b->property(kHintProperty).toString() : QString());
  }
}

bool TMainScreen::event(QEvent* event) {
  if (event->type() == QEvent::StatusTip) {
    // Menu hints go to the status panel, when hints are on.
    if (Settings().HintsOn) status_->setText(static_cast<QStatusTipEvent*>(event)->tip());
    return true;
  }
  return QMainWindow::event(event);
}

void TMainScreen::mnuShowHintClick() {
  Settings().HintsOn = mnuShowHint_->isChecked();
  try {
    SaveSettings(Settings(), IniFile());
  } catch (const std::exception& e) {
    Dialogs().Information(this, QString::fromStdString(e.what()));
  }
  ApplyHints();
  SetStatus(QString());
}

// ---------------------------------------------------------------------------------------------
// Button rules

void TMainScreen::RefreshGrids() {
  if (faxModel_) faxModel_->Reload();
  if (recModel_) recModel_->Reload();
  for (auto [grid, model] : {std::pair{FaxGrid_, faxModel_}, std::pair{RecFaxGrid_, recModel_}}) {
    if (!grid || !model) continue;
    const int row = model->RowOfCurrent();
    if (row >= 0) {
      const QSignalBlocker quiet(grid->selectionModel());
      grid->selectRow(row);
      grid->setCurrentIndex(model->index(row, 0));
    }
  }
}

void TMainScreen::SyncCurrentRecord(TableId id) {
  QTableView* grid = id == TableId::Fax ? FaxGrid_ : RecFaxGrid_;
  TTableModel* model = id == TableId::Fax ? faxModel_ : recModel_;
  const int row = grid->currentIndex().row();
  if (row >= 0) model->MakeCurrent(row);
}

void TMainScreen::SetButtons() {
  if (!store_) return;
  // A changed order changes what the grid lists.
  if (store_->SyncOrder(TableId::Fax) && faxModel_) faxModel_->Reload();
  if (store_->SyncOrder(TableId::Rec) && recModel_) recModel_->Reload();
  const bool outgoing = store_->HasRecord(TableId::Fax);
  const bool received = store_->HasRecord(TableId::Rec);
  const bool outgoingPage = CurrentPage() == kOutgoingPage;

  FaxGrid_->setEnabled(outgoing);
  RecFaxGrid_->setEnabled(received);
  Newbutton_->setEnabled(outgoingPage);
  mnuNew_->setEnabled(outgoingPage);
  mnuClone_->setEnabled(outgoingPage && outgoing);
  SendButton_->setEnabled(outgoing);
  mnuSend_->setEnabled(outgoing);
  mnuReceive_->setEnabled(!receiveMode_);

  const bool pageHasRecord = outgoingPage ? outgoing : received;
  EditButton_->setEnabled(pageHasRecord);
  DeleteButton_->setEnabled(pageHasRecord);
  mnuViewPrint_->setEnabled(pageHasRecord);
  ViewFaxButton_->setEnabled(pageHasRecord);
  Printbutton_->setEnabled(ViewFaxButton_->isEnabled());
  mnuDelete_->setEnabled(DeleteButton_->isEnabled());
  mnuEdit_->setEnabled(EditButton_->isEnabled());
  mnuReply_->setEnabled(!outgoingPage && received);
  mnuForward_->setEnabled(mnuReply_->isEnabled());
}

void TMainScreen::SetReceiveMode(bool on) {
  receiveMode_ = on;
  ReceiveButton_->setText(on ? QStringLiteral("STOP") : QStringLiteral("&Receive"));
  SetHint(ReceiveButton_,
          on ? QStringLiteral("Stop receiving faxes") : QStringLiteral("Start receiving faxes"));
  ApplyHints();
  SetButtons();
}

bool TMainScreen::Guarded() {
  if (!receiveMode_) return false;
  Dialogs().Information(this, QString::fromLatin1(kGuardText));
  return true;
}

void TMainScreen::NotAvailable() {
  Dialogs().Information(this, QString::fromLatin1(kNotAvailableText));
}

// ---------------------------------------------------------------------------------------------
// Commands

void TMainScreen::NewbuttonClick() {
  if (Guarded()) {
    cloneRequest_ = false;  // a refused clone must not turn the next New into a clone
    return;
  }
  {
    TFaxEditor editor(dataDir_, this);
    connect(&editor, &TFaxEditor::HelpRequested, this, &TMainScreen::HelpTopic);
    editor.SetFaxStore(store_.get());
    TRichEditMemo cover(*editor.RTCover());
    TRichEditMemo doc(*editor.RTDoc());
    TablePair& fax = store_->Pair(TableId::Fax);
    if (cloneRequest_) {
      LoadEditorFromRecord(editor, cover, doc);
      editor.Subject()->setText(QStringLiteral("[clone]") + FieldText(fax, "SUBJECT"));
    } else {
      editor.ApplyDefaultFont(Settings());
    }
    // The editor stores the fax itself on Accept, so that a failed store keeps it open. A store
    // that failed and was taken back changed the table too (a record appended and removed).
    bool storeTried = false;
    editor.SetStoreHandler([&] {
      storeTried = true;
      if (!editor.Recipients().empty()) return StoreBroadcast(editor, cover, doc);
      return StoreEditorInRecord(editor, cover, doc, true);
    });
    if (Dialogs().Exec(&editor) == QDialog::Accepted || storeTried) {
      PumpMessages();
      store_->FaxTableCloseAndOpen();
      PumpMessages();
      RefreshGrids();
    }
  }
  cloneRequest_ = false;
  SetButtons();
}

void TMainScreen::LoadEditorFromRecord(TFaxEditor& editor, TRichEditMemo& cover,
                                       TRichEditMemo& doc) {
  TablePair& fax = store_->Pair(TableId::Fax);
  store_->LoadRichText(cover, "RTFCOVER", fax);
  store_->LoadRichText(doc, "RTFDOC", fax);
  for (TRichEditMemo* memo : {&cover, &doc}) {
    if (memo->LoadError().isEmpty()) continue;
    const bool isCover = memo == &cover;
    // The user decides whether the unreadable memo may be replaced; unless so it stays as stored
    // and its editor read-only (StoreEditorInRecord does not write a read-only editor back).
    const bool replace = Dialogs().Question(
        this, QStringLiteral("Fax Editor"),
        (isCover ? QStringLiteral("The cover sheet of this fax cannot be read: ")
                 : QStringLiteral("The document of this fax cannot be read: ")) +
            memo->LoadError() +
            QStringLiteral("\r\rReplace it with what you write now when you accept the fax?\r"
                           "(No keeps it as stored; it cannot be changed here.)"),
        false);
    if (!replace) (isCover ? editor.RTCover() : editor.RTDoc())->TextEdit()->setReadOnly(true);
  }
  editor.Recipient()->setText(FieldText(fax, "RECIPIENT"));
  editor.Subject()->setText(FieldText(fax, "SUBJECT"));
  editor.FaxNumber()->setText(FieldText(fax, "PHONE"));
}

// A fax to several recipients: one record each (the recipient in the fields too, when it has a
// number), the same cover sheet and document, all queued to go out now. The merge fields are
// filled per record when each is rendered. A store that fails part-way keeps in the editor only
// the recipients still without their fax; those stored are queued.
bool TMainScreen::StoreBroadcast(TFaxEditor& editor, TRichEditMemo& cover, TRichEditMemo& doc) {
  std::vector<TPhoneEntry> to;
  const TPhoneEntry own{editor.Recipient()->text().trimmed(), editor.FaxNumber()->text().trimmed()};
  if (!own.number.isEmpty()) to.push_back(own);
  for (const TPhoneEntry& e : editor.Recipients())
    if (std::find(to.begin(), to.end(), e) == to.end()) to.push_back(e);
  std::vector<int> made;
  bool ok = true;
  size_t done = 0;
  for (; done < to.size() && ok; ++done) {
    ok = StoreEditorAs(editor, cover, doc, true, to[done].name, to[done].number);
    if (ok) made.push_back(store_->Pair(TableId::Fax).RecNo());
  }
  for (int recNo : made) outbox_->Enqueue(recNo, outbox_->Now());
  if (!ok) {
    editor.SetRecipients(std::vector<TPhoneEntry>(to.begin() + static_cast<long>(done) - 1, to.end()));
    if (!own.number.isEmpty() && done > 1) {
      editor.Recipient()->clear();
      editor.FaxNumber()->clear();
    }
  }
  return ok;
}

bool TMainScreen::StoreEditorInRecord(TFaxEditor& editor, TRichEditMemo& cover, TRichEditMemo& doc,
                                      bool append) {
  return StoreEditorAs(editor, cover, doc, append, editor.Recipient()->text(), editor.FaxNumber()->text());
}

bool TMainScreen::StoreEditorAs(TFaxEditor& editor, TRichEditMemo& cover, TRichEditMemo& doc, bool append,
                                const QString& recipient, const QString& number) {
  std::vector<TFaxStore::MemoText> memos;
  if (append || !editor.RTCover()->TextEdit()->isReadOnly()) memos.push_back({"RTFCOVER", &cover});
  if (append || !editor.RTDoc()->TextEdit()->isReadOnly()) memos.push_back({"RTFDOC", &doc});
  std::string why;
  if (store_->StoreRecord(TableId::Fax, store_->Pair(TableId::Fax), append,
                          {{"RECIPIENT", recipient.toStdString()},
                           {"SUBJECT", editor.Subject()->text().toStdString()},
                           {"PHONE", number.toStdString()}},
                          memos, &why)) {
    return true;
  }
  Dialogs().Error(&editor, QStringLiteral("The fax could not be stored: ") + QString::fromStdString(why) +
                               QStringLiteral("\rIt is still in the editor."));
  return false;
}

void TMainScreen::mnuCloneClick() {
  if (!store_->HasRecord(TableId::Fax)) {
    Dialogs().Beep();
    return;
  }
  cloneRequest_ = true;
  NewbuttonClick();
}

void TMainScreen::EditButtonClick() {
  if (Guarded()) return;
  if (CurrentPage() == kIncomingPage) {
    EditReceivedNotes();
  } else if (!store_->HasRecord(TableId::Fax)) {
    Dialogs().Beep();
  } else {
    EditOutgoing();
  }
  SetButtons();
}

bool TMainScreen::EditOutgoing() {
  TFaxEditor editor(dataDir_, this);
  connect(&editor, &TFaxEditor::HelpRequested, this, &TMainScreen::HelpTopic);
  editor.SetFaxStore(store_.get());
  TRichEditMemo cover(*editor.RTCover());
  TRichEditMemo doc(*editor.RTDoc());
  LoadEditorFromRecord(editor, cover, doc);
  bool storeTried = false;
  editor.SetStoreHandler([&] {
    storeTried = true;
    return StoreEditorInRecord(editor, cover, doc, false);
  });
  const bool stored = Dialogs().Exec(&editor) == QDialog::Accepted;
  if (stored || storeTried) RefreshGrids();
  return stored;
}

void TMainScreen::EditReceivedNotes() {
  TablePair& rec = store_->Pair(TableId::Rec);
  if (!store_->HasRecord(TableId::Rec)) {
    Dialogs().Beep();
    return;
  }
  const int recNo = rec.RecNo();
  TEditReceiveNotes form(FieldText(rec, "FROM"), FieldText(rec, "NOTES"), this);
  form.adjustSize();
  CenterOver(&form, this);
  if (Dialogs().Exec(&form) != QDialog::Accepted) return;
  if (recNo > 0) rec.Go(recNo);
  if (rec.Edit()) {
    rec.SetFieldString("NOTES", form.Notes().toStdString());
    rec.Post();
  }
  RefreshGrids();
}

void TMainScreen::DeleteButtonClick() {
  if (CurrentPage() == kIncomingPage) {
    if (Guarded()) return;
    TablePair& rec = store_->Pair(TableId::Rec);
    if (!store_->HasRecord(TableId::Rec)) {
      Dialogs().Beep();
    } else if (Dialogs().Question(this, QStringLiteral("Delete"),
                                  QStringLiteral("Delete the current fax?\r\n(from: \"") +
                                      FieldText(rec, "FROM") + QStringLiteral("\")"),
                                  false)) {
      const QString image = ReceiveFilePath(dataDir_, FieldText(rec, "FAXFILE"));
      if (rec.DeleteRecord()) {
        rec.Refresh();
        if (!image.isEmpty()) {
          QFile::remove(image);
          // Its marks go with it, or they would turn up on the next fax filed under the name.
          qv::faximage::RemoveMarks(QFile::encodeName(image).toStdString());
        }
      }
      RefreshGrids();
    }
  } else {
    TablePair& fax = store_->Pair(TableId::Fax);
    if (!store_->HasRecord(TableId::Fax)) {
      Dialogs().Beep();
    } else if (Dialogs().Question(this, QStringLiteral("Delete"),
                                  QStringLiteral("Delete the current fax?\r\n(subject: \"") +
                                      FieldText(fax, "SUBJECT") + QStringLiteral("\")"),
                                  false)) {
      // Its attached pages (a reply's) go with it; the record goes even if they cannot.
      RemoveRecordAttachment(*store_, dataDir_);
      if (fax.DeleteRecord()) fax.Refresh();
      RefreshGrids();
    }
  }
  SetButtons();
}

// SendButtonClick: send_command.cpp.

void TMainScreen::mnuViewPrintClick() { ViewOrPrint(false); }

void TMainScreen::PrintbuttonClick() {
  ViewOrPrint(Printbutton_->property("tag").toInt() == kPrintTag);
}

void TMainScreen::ViewOrPrint(bool print) {
  const bool incoming = CurrentPage() == kIncomingPage;
  if (!store_->HasRecord(incoming ? TableId::Rec : TableId::Fax)) {
    Dialogs().Beep();
    return;
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  SetStatus(QString::fromLatin1(kPreparingViewText));
  PumpMessages();
  auto restore = [this] {
    QApplication::restoreOverrideCursor();
    SetStatus(QString());
    SetButtons();
  };
  const QString joint(13, QLatin1Char(' '));
  QString file;
  QString header;
  QString receivedStamp;
  if (incoming) {
    TablePair& rec = store_->Pair(TableId::Rec);
    file = ReceiveFilePath(dataDir_, FieldText(rec, "FAXFILE"));
    if (file.isEmpty() || !QFileInfo(file).isFile()) {
      restore();
      Dialogs().Information(this, QString::fromLatin1(kFaxFileMissingText));
      return;
    }
    header = QStringLiteral("From: ") + FieldText(rec, "FROM").trimmed() + joint + QStringLiteral("Received: ") +
             QString::fromStdString(store_->GetDatetimeAsString(false)) + joint + QStringLiteral("Fax File: ") +
             QDir::toNativeSeparators(file).toLower();
    receivedStamp = TFaxViewer::ReceivedStampText(QString::fromStdString(rec.FieldDate("DATEREC")),
                                                  FieldText(rec, "TIMEREC"));
  } else {
    // An outgoing fax is shown from a fax file rendered for the purpose, removed afterwards.
    file = CreateFaxFile();
    if (file.isEmpty()) {
      restore();
      Dialogs().Information(this, QString::fromLatin1(kCreateFaxFailedText));
      return;
    }
    TablePair& fax = store_->Pair(TableId::Fax);
    header = QStringLiteral("To: ") + FieldText(fax, "RECIPIENT").trimmed() + joint + QStringLiteral("Subject: ") +
             FieldText(fax, "SUBJECT").trimmed() + joint + QStringLiteral("Sent: ") +
             QString::fromStdString(store_->GetDatetimeAsString(true));
  }
  struct RenderedFile {
    QString name;
    ~RenderedFile() {
      if (!name.isEmpty()) QFile::remove(name);
    }
  } rendered{incoming ? QString() : file};
  if (print) {
    QApplication::restoreOverrideCursor();
    bool rangeSet = false;  // the whole fax is offered every time
    RunPrintFlow(this, FaxPrinter(), file, header, 0, rangeSet, IniFile());
  } else {
    SetStatus(QString::fromLatin1(kLoadingViewerText));
    TFaxViewer viewer(IniFile(), this);
    viewer.FaxFileName = file;
    viewer.PrintHeaderText = header;
    viewer.ReceivedStamp = receivedStamp;
    viewer.MarksEditable = incoming;
    viewer.ReplyEnabled = incoming;
    QApplication::restoreOverrideCursor();
    Dialogs().Exec(&viewer);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (viewer.Request() != TFaxViewer::ReplyRequest::kNone) {
      restore();
      ReplyToReceived(viewer.Request() == TFaxViewer::ReplyRequest::kForward);
      return;
    }
  }
  restore();
}

void TMainScreen::mnuReplyClick() { ReplyToReceived(false); }
void TMainScreen::mnuForwardClick() { ReplyToReceived(true); }

void TMainScreen::ReplyToReceived(bool forward) {
  // It makes an outgoing record, as New does.
  if (Guarded()) return;
  if (!store_->HasRecord(TableId::Rec)) {
    Dialogs().Beep();
    return;
  }
  class Watch : public TFlowObserver {
   public:
    explicit Watch(QWidget* w) : w_(w) {}
    void FlowBusy(bool busy) override {
      if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
      else QApplication::restoreOverrideCursor();
    }
    void FlowInformation(const QString& text) override { Dialogs().Information(w_, text); }

   private:
    QWidget* w_;
  } watch(this);
  TReplyFax reply(*store_, dataDir_, forward ? ReplyKind::kForward : ReplyKind::kReply);
  if (!reply.Prepare(watch)) {
    SetButtons();
    return;
  }
  {
    TFaxEditor editor(dataDir_, this);
    connect(&editor, &TFaxEditor::HelpRequested, this, &TMainScreen::HelpTopic);
    editor.SetFaxStore(store_.get());
    editor.ApplyDefaultFont(Settings());
    editor.RTDoc()->SetDocument(reply.Document());
    editor.Recipient()->setText(reply.Recipient());
    editor.Subject()->setText(reply.Subject());
    editor.FaxNumber()->setText(reply.Number());
    TRichEditMemo cover(*editor.RTCover());
    TRichEditMemo doc(*editor.RTDoc());
    bool stored = false;
    editor.SetStoreHandler([&] {
      stored = !editor.Recipients().empty() ? StoreBroadcast(editor, cover, doc)
                                             : StoreEditorInRecord(editor, cover, doc, true);
      // Once a record names the pages they are its own (deleting it deletes them).
      if (stored) reply.Keep();
      return stored;
    });
    Dialogs().Exec(&editor);
    if (stored) {
      PumpMessages();
      store_->FaxTableCloseAndOpen();
      PumpMessages();
      SetCurrentPage(kOutgoingPage);
    }
  }
  RefreshGrids();
  SetButtons();
}

qv::ui::TQvFaxPrinter& TMainScreen::FaxPrinter() {
  if (!faxPrinter_) {
    faxPrinter_ = new qv::ui::TQvFaxPrinter(this);
    auto* status = new qv::ui::TQvFaxPrinterStatus(this);
    status->setObjectName(QStringLiteral("PrinterStatus"));
    faxPrinter_->SetStatusDisplay(status);
    auto* log = new qv::ui::TQvFaxPrinterLog(faxPrinter_);
    log->SetLogFileName(dataDir_ + QStringLiteral("FAXPRINT.LOG"));
    faxPrinter_->SetFaxPrinterLog(log);
    faxPrinter_->ExecDialog = [](QDialog* d) { return Dialogs().Exec(d); };
    connect(faxPrinter_, &qv::ui::TQvFaxPrinter::FaxPrintStatus, this, [] { QApplication::processEvents(); });
  }
  return *faxPrinter_;
}

void TMainScreen::mnuCoverClick() {
  if (Guarded()) return;
  RunCoverBrowse(*store_, this, false);
}

void TMainScreen::mnuPhoneBookClick() {
  if (Guarded()) return;
  RunPhoneBook(*store_, this, false);
}

void TMainScreen::mnuPreferencesClick() {
  if (Guarded()) return;
  const bool practiceWasOn = Settings().PracticeLine;
  if (ShowPreferences(this, IniFile())) ApplyLine(practiceWasOn);
}

void TMainScreen::ApplyLine(bool practiceWasOn) {
  if (Settings().PracticeLine) {
    StopInternetLine();
    StartPracticeLine();
    if (!practiceWasOn && PracticeLineRunning()) {
      // Receive mode shows the Incoming page as it starts; the practice fax then brings the user
      // back to the Outgoing one, where it waits to be sent.
      if (!receiveMode_) ReceiveButtonClick();
      AddPracticeFax();
    }
  } else {
    StopPracticeLine();
    ApplyInternetLine();
  }
}

void TMainScreen::StartPracticeLine() {
  if (PracticeLineRunning()) {
    ShowPracticeNote(true);
    return;
  }
  practice_ = std::make_unique<TPracticeLine>(ModemProgram(), dataDir_);
  const QString why = practice_->Start();
  if (!why.isEmpty()) {
    practice_.reset();
    ShowPracticeNote(false);
    Dialogs().Error(this, why);
    return;
  }
  connect(practice_.get(), &TPracticeLine::failed, this, [this](const QString& text) {
    ShowPracticeNote(false);
    Dialogs().Error(this, text);
  });
  ShowPracticeNote(true);
}

void TMainScreen::StopPracticeLine() {
  practice_.reset();
  ShowPracticeNote(false);
}

void TMainScreen::ShowPracticeNote(bool on) {
  practiceNote_->setVisible(on);
  setWindowTitle(on ? QStringLiteral("Quorvane - ") + QString::fromLatin1(kPracticeLineNote)
                    : QStringLiteral("Quorvane"));
}

void TMainScreen::AddPracticeFax() {
  RtfBuffer doc;
  doc.SetRtf(rtf::WriteRtf(PracticeFaxDocument()));
  std::string why;
  const std::string name = Settings().Name.empty() ? std::string("Me") : Settings().Name;
  if (!store_->StoreRecord(TableId::Fax, store_->Pair(TableId::Fax), true,
                           {{"SUBJECT", "Practice fax"},
                            {"RECIPIENT", name + " (practice line)"},
                            // The practice line rings its other end whatever is dialled.
                            {"PHONE", "555 0100"}},
                           {{"RTFDOC", &doc}}, &why)) {
    Dialogs().Error(this, QStringLiteral("The practice fax could not be stored: ") + QString::fromStdString(why));
    return;
  }
  const int recNo = store_->Pair(TableId::Fax).RecNo();
  store_->FaxTableCloseAndOpen();
  store_->Pair(TableId::Fax).Go(recNo);
  SetCurrentPage(kOutgoingPage);
  RefreshGrids();
  SetButtons();
}

void TMainScreen::StopInternetLine() {
  if (linePort_) qv::comm::SetPortOverride(linePort_, "");
  linePort_ = 0;
  line_.reset();
}

void TMainScreen::ApplyInternetLine() {
  TLineSettings settings;
  try {
    settings = LoadLineSettings(IniFile());
  } catch (...) {
  }
  StopInternetLine();
  if (!settings.enabled) return;
  line_ = std::make_unique<TInternetLine>(LineProgram(), dataDir_);
  const QString why = line_->Start(settings, TLineSecret(dataDir_).Load(settings.user));
  if (!why.isEmpty()) {
    line_.reset();
    Dialogs().Error(this, QStringLiteral("The Internet fax line did not start: %1").arg(why));
    return;
  }
  linePort_ = Settings().ComPort + 1;
  qv::comm::SetPortOverride(linePort_, line_->Device().toStdString());
  connect(line_.get(), &TInternetLine::statusChanged, this, [this](const QString& text) {
    SetStatus(QStringLiteral("Internet fax line: ") + text);
  });
  connect(line_.get(), &TInternetLine::failed, this, [this](const QString& text) {
    StopInternetLine();
    Dialogs().Error(this, text);
  });
}

void TMainScreen::FaxlogCleanup1Click() {
  if (Guarded()) return;
  bool deleted = false;
  {
    TDMForm form(store_->Pair(TableId::Fax), store_->Pair(TableId::Rec), dataDir_, this, this);
    connect(&form, &TDMForm::HelpRequested, this, &TMainScreen::HelpTopic);
    CenterOver(&form, this);
    Dialogs().Exec(&form);
    deleted = form.AnythingDeleted();
  }
  RefreshGrids();
  if (deleted) RebuildIndexes();
  SetButtons();
}

void TMainScreen::ConfigurationInformation1Click() { ShowConfigurationInfo(this, dataDir_, IniFile()); }

void TMainScreen::VisitOurInternetWebsite1Click() {
  if (Guarded()) return;
  NotAvailable();
}

void TMainScreen::HelpTopic(int topic) { ShowHelpTopic(topic); }

void TMainScreen::Contents1Click() { HelpTopic(1009); }
void TMainScreen::FaqClick() { HelpTopic(911); }
void TMainScreen::TechnicalHelpClick() { HelpTopic(10000); }
void TMainScreen::TechnicalSupportClick() { HelpTopic(1025); }

QString TMainScreen::LineInUse() const {
  const TSettings& s = Settings();
  if (s.PracticeLine)
    return QString::fromLatin1(kPracticeLineNote) + (PracticeLineRunning() ? QString() : QStringLiteral(" (not running)"));
  TLineSettings line;
  try {
    line = LoadLineSettings(IniFile());
  } catch (...) {
    // Unreadable: no Internet line is set up as far as anyone can tell.
  }
  if (line.enabled)
    return QStringLiteral("Internet fax line, user %1 at %2").arg(line.user, line.server) +
           (line_ && line_->Running() ? QString() : QStringLiteral(" (not running)"));
  const int com = SendComNumber(s);
  return QStringLiteral("Fax modem on COM%1 (%2)").arg(com).arg(QString::fromStdString(qv::comm::PortDevicePath(com)));
}

void TMainScreen::About1Click() {
  TSplashform about(this, dataDir_, LineInUse());
  CenterOver(&about, this);
  Dialogs().Exec(&about);
}

void TMainScreen::mnuRebuildIndexesClick() {
  if (Guarded()) return;
  RebuildIndexes();
}

void TMainScreen::RebuildIndexes() {
  // Packing renumbers the outgoing records: a try of the outbox would record its outcome in
  // another fax's record. The rebuild waits for the fax to go, and no try starts meanwhile.
  if (outbox_ && outbox_->Sending()) {
    Dialogs().Information(this, QStringLiteral("A queued fax is being sent now. Rebuild the indexes when it has gone out."));
    return;
  }
  if (outbox_) outbox_->Hold(true);
  faxModel_->BeginSuspend();
  recModel_->BeginSuspend();
  {
    TRebuildInd form(*store_, this);
    CenterOver(&form, this);
    Dialogs().Exec(&form);
  }
  // The pages of replies whose records the pack removed.
  RemoveUnnamedAttachments(*store_, dataDir_);
  recModel_->EndSuspend();
  faxModel_->EndSuspend();
  if (outbox_) outbox_->Hold(false);
  RefreshGrids();
  SetButtons();
}

void TMainScreen::FaxArrived() {
  const QString wav = QString::fromStdString(Settings().Wav);
  if (wav.isEmpty() || !QFileInfo(wav).isFile()) return;
  if (!sound_) sound_ = new QSoundEffect(this);
  sound_->setSource(QUrl::fromLocalFile(wav));
  sound_->play();
}

// ---------------------------------------------------------------------------------------------
// Activation and closing

void TMainScreen::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (firstActivation_ && !activationQueued_) {
    activationQueued_ = true;
    QTimer::singleShot(0, this, &TMainScreen::FormActivate);
  }
}

void TMainScreen::FormActivate() {
  if (!firstActivation_ || !tablesOpen_) return;
  const bool minimised = isMinimized();
  RestorePlacement(this, QString::fromLatin1(kFormClass), IniFile());
  SetButtons();
  if (minimised) {
    showMinimized();
  } else {
    raise();
    activateWindow();
  }
  PumpMessages();
  const bool practiceWasOn = Settings().PracticeLine;
  if (quickSetupDue_ && RunQuickSetup(this, IniFile())) quickSetupDue_ = false;
  // Tables made a moment ago carry every tag: only an older version's are offered a rebuild.
  if (!store_->HasTag(TableId::Fax, "DATEND") || !store_->HasTag(TableId::Rec, "DATEND")) {
    if (Dialogs().Question(this, QString::fromLatin1(kReindexCaption),
                           QString::fromLatin1(kReindexText), true)) {
      RebuildIndexes();
    }
  }
  ApplyLine(practiceWasOn);
  if (Settings().AtStartup && !receiveMode_) ReceiveButtonClick();
  // After receive mode: a queued fax that is due steps around it.
  StartOutbox();
  firstActivation_ = false;
  StartPrintJobs();
}

void TMainScreen::FormCloseRequest() { close(); }

void TMainScreen::closeEvent(QCloseEvent* event) {
  if (ReceivingNow() &&
      !Dialogs().Question(this, QStringLiteral("Exit"), QString::fromLatin1(kReceivingExitText),
                          true)) {
    event->ignore();
    return;
  }
  // The outbox and receive mode end while the tables are open, so a call or try they cut short
  // still gets its record.
  StopOutbox();
  if (receiveMode_) receive_->Stop();
  StopInternetLine();
  StopPracticeLine();
  PumpMessages();
  faxModel_->BeginSuspend();
  recModel_->BeginSuspend();
  store_->Close(TableId::Fax);
  store_->Close(TableId::Rec);
  tablesOpen_ = false;
  PumpMessages();
  SetButtons();
  SaveOnClose();
  event->accept();
}

void TMainScreen::SaveOnClose() {
  if (closeSaved_) return;
  closeSaved_ = true;
  // A read-only data directory must not keep the program from closing: say so and go on.
  try {
    SavePlacement(this, QString::fromLatin1(kFormClass), IniFile());
    SaveSettings(Settings(), IniFile());
  } catch (const std::exception& e) {
    Dialogs().Information(this, QString::fromStdString(e.what()));
  }
}

}  // namespace qv::app
