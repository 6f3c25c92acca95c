#include "app/forms/fax_viewer_form.h"

#include <QAction>
#include <QApplication>
#include <QActionGroup>
#include <QCloseEvent>
#include <QDate>
#include <QDialogButtonBox>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTime>
#include <QToolBar>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "app/forms/dialog_service.h"
#include "app/forms/help_browser.h"
#include "app/forms/placement.h"
#include "app/forms/pre_print_form.h"
#include "core/error_text.h"
#include "core/exceptions.h"
#include "faximage/marks_file.h"
#include "faximage/signature_store.h"
#include "ui/signature_picture.h"
#include "faximage/unpacker.h"
#include "ui/fax_printer.h"
#include "ui/fax_printer_status.h"
#include "ui/fax_thumbnails.h"
#include "ui/fax_viewer.h"

namespace qv::app {

namespace {

constexpr int kHelpContext = 1021;
constexpr int kStatusPanelHeight = 27;
constexpr int kViewerFontPixels = 13;
// Display scales in percent of the fax's pixels behind the View menu's captions.
constexpr int kZoomSteps[4] = {25, 50, 75, 100};
constexpr const char* kZoomCaptions[4] = {"50%", "100%", "150%", "200%"};
constexpr const char* kZoomNames[4] = {"N50", "N100", "N150", "N200"};
constexpr const char* kRotationCaptions[4] = {"No rotation", "Rotate 90 degrees", "Rotate 180 degrees",
                                              "Rotate 270 degrees"};
constexpr const char* kRotationNames[4] = {"Rotate0", "Rotate90", "Rotate180", "Rotate270"};
// Whitespace compression of the exports: runs of more than 50 blank rows become 10.
constexpr int kExportWhitespaceFrom = 50;
constexpr int kExportWhitespaceTo = 10;
// Sizes of the marks the tools make, in page units (about 200 to the inch).
constexpr int kPenWidth = 2;
constexpr int kThickPenWidth = 5;
constexpr int kTextSize = 36;
constexpr int kCheckSize = 48;
constexpr int kArrowStep = 4;        // an arrow key moves the selected mark this far
constexpr int kArrowStepLarge = 40;  // with Shift
constexpr const char* kMarkFont = "DejaVu Sans";
// The name the signature is kept under for the next fax.
constexpr const char* kSignatureName = "Signature";

}  // namespace

TFaxViewer::TFaxViewer(const std::string& iniFile, QWidget* parent) : QDialog(parent), iniFile_(iniFile) {
  setObjectName(QStringLiteral("FaxViewerForm"));
  setWindowTitle(QStringLiteral("Fax Viewer "));
  setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint);
  resize(760, 820);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  menuBar_ = new QMenuBar(this);
  menuBar_->setObjectName(QStringLiteral("MainMenu1"));
  menuBar_->setAccessibleName(QStringLiteral("Viewer menu"));
  layout->setMenuBar(menuBar_);

  auto* split = new QWidget(this);
  auto* pageRow = new QHBoxLayout(split);
  pageRow->setContentsMargins(0, 0, 0, 0);
  Thumbnails_ = new qv::ui::TQvFaxThumbnails(split);
  FaxViewer_ = new qv::ui::TQvFaxViewer(split);
  FaxViewer_->setAccessibleName(QStringLiteral("Fax page"));
  FaxViewer_->SetScaling(false);
  FaxViewer_->SetAutoScaleMode(qv::faximage::asHalfWidth);
  FaxViewer_->SetBusyCursor(Qt::WaitCursor);
  QFont font = FaxViewer_->font();
  font.setPixelSize(kViewerFontPixels);
  font.setBold(true);
  FaxViewer_->setFont(font);
  pageRow->addWidget(Thumbnails_);
  pageRow->addWidget(FaxViewer_, 1);
  layout->addWidget(split, 1);

  auto* panel = new QWidget(this);
  panel->setObjectName(QStringLiteral("ButtonPanel"));
  BuildButtons(panel);
  layout->addWidget(panel);
  StatusPanel_ = new QLabel(this);
  StatusPanel_->setObjectName(QStringLiteral("StatusPanel"));
  StatusPanel_->setAccessibleName(QStringLiteral("Status"));
  StatusPanel_->setFixedHeight(kStatusPanelHeight);
  StatusPanel_->setFrameShape(QFrame::Panel);
  StatusPanel_->setFrameShadow(QFrame::Sunken);
  layout->addWidget(StatusPanel_);

  PrinterStatus_ = new qv::ui::TQvFaxPrinterStatus(this);
  PrinterStatus_->setObjectName(QStringLiteral("PrinterStatus"));
  PrintLog_ = new qv::ui::TQvFaxPrinterLog(this);
  PrintLog_->SetLogFileName(QFileInfo(QString::fromStdString(iniFile_)).dir().filePath(QStringLiteral("FAXPRINT.LOG")));
  FaxPrinter_ = new qv::ui::TQvFaxPrinter(this);  // links the status window and the log above
  FaxPrinter_->SetCaption(QStringLiteral("QV Fax Printer"));
  FaxPrinter_->FaxFooter().Caption = QStringLiteral("Page: $P of $N");
  FaxPrinter_->FaxFooter().Enabled = false;
  FaxPrinter_->FaxHeader().Caption = QStringLiteral("File: $F");
  FaxPrinter_->FaxHeader().Enabled = false;
  FaxPrinter_->SetMultiPage(false);
  FaxPrinter_->ExecDialog = [](QDialog* d) { return Dialogs().Exec(d); };
  // Between the steps of a print the window's events run, so Abort can be clicked.
  connect(FaxPrinter_, &qv::ui::TQvFaxPrinter::FaxPrintStatus, this, [] { QApplication::processEvents(); });

  BuildMenus();

  connect(FaxViewer_, &qv::ui::TQvFaxViewer::PageChange, this, [this] {
    ShowStatus();
    Thumbnails_->SetCurrentPage(FaxViewer_->ActivePage());
  });
  connect(FaxViewer_, &qv::ui::TQvFaxViewer::ViewerError, this, &TFaxViewer::ViewerError);
  connect(FaxViewer_, &qv::ui::TQvFaxViewer::PagePointer, this, &TFaxViewer::PagePointer);
  FaxViewer_->installEventFilter(this);
  connect(FaxViewer_, &qv::ui::TQvFaxViewer::DropFile, this, [this](const QString& f) {
    file_ = f;
    zoom_ = 66;
    ApplyZoom(50);
    // The dropped fax is shown as it came.
    for (QAction* a : rotationItems_) a->setChecked(false);
    exportNote_->setVisible(false);
    Thumbnails_->SetRotation(0);
    Thumbnails_->SetFaxFile(f, FaxViewer_->NumPages());
    for (const char* n : {"FirstButton", "PrevButton", "NextButton", "LastButton"})
      Button(n)->setVisible(FaxViewer_->NumPages() > 1);
    ShowStatus();
  });
  connect(Thumbnails_, &qv::ui::TQvFaxThumbnails::PageChosen, this, [this](int page) {
    if (!FaxViewer_->FileName().isEmpty()) FaxViewer_->SetActivePage(page);
  });

  try {
    RestorePlacement(this, QStringLiteral("TFaxViewer"), iniFile_);
  } catch (...) {
    // A placement that cannot be read leaves the default one.
  }
}

TFaxViewer::~TFaxViewer() = default;

QPushButton* TFaxViewer::Button(const char* name) const {
  return findChild<QPushButton*>(QLatin1String(name));
}

QAction* TFaxViewer::Action(const char* name) const {
  return findChild<QAction*>(QLatin1String(name));
}

void TFaxViewer::BuildButtons(QWidget* panel) {
  auto* row = new QHBoxLayout(panel);
  auto add = [&](const char* name, const QString& caption, const QString& hint, QStyle::StandardPixmap icon,
                 auto slot) {
    auto* b = new QPushButton(caption, panel);
    b->setObjectName(QLatin1String(name));
    b->setToolTip(hint);
    b->setAccessibleName(hint.isEmpty() ? caption : hint);
    if (icon != QStyle::SP_CustomBase) b->setIcon(style()->standardIcon(icon));
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, slot);
    row->addWidget(b);
    return b;
  };
  add("FirstButton", QString(), QStringLiteral("First page"), QStyle::SP_MediaSkipBackward,
      [this] { FaxViewer_->FirstPage(); })->hide();
  add("PrevButton", QString(), QStringLiteral("Previous page"), QStyle::SP_MediaSeekBackward,
      [this] { FaxViewer_->PrevPage(); })->hide();
  add("NextButton", QString(), QStringLiteral("Next page"), QStyle::SP_MediaSeekForward,
      [this] { FaxViewer_->NextPage(); })->hide();
  add("LastButton", QString(), QStringLiteral("Last page"), QStyle::SP_MediaSkipForward,
      [this] { FaxViewer_->LastPage(); })->hide();
  add("PrinterSetupButton", QStringLiteral("Setup"), QStringLiteral("Printer setup"),
      QStyle::SP_FileDialogDetailedView, [this] { PrinterSetupButtonClick(); });
  add("Printbutton", QStringLiteral("Print"), QStringLiteral("Print"), QStyle::SP_DialogSaveButton,
      [this] { PrintClick(false); })->setProperty("tag", 1);
  add("PrintSinglePageButton", QStringLiteral("Page"), QStringLiteral("Print current page"),
      QStyle::SP_FileIcon, [this] { PrintClick(true); })->setProperty("tag", 2);
  add("ZoomInButton", QStringLiteral("+"), QStringLiteral("Zoom in"), QStyle::SP_CustomBase,
      [this] { ZoomInButtonClick(); });
  add("ZoomOutButton", QStringLiteral("-"), QStringLiteral("Zoom out"), QStyle::SP_CustomBase,
      [this] { ZoomOutButtonClick(); });
  add("ReplyButton", QStringLiteral("Re&ply"), QStringLiteral("Send this fax back to its sender, with your marks"),
      QStyle::SP_ArrowBack, [this] { ReplyClick(false); });
  add("ForwardButton", QStringLiteral("For&ward"), QStringLiteral("Send this fax on to another number, with your marks"),
      QStyle::SP_ArrowForward, [this] { ReplyClick(true); });
  row->addStretch(1);
  add("Helpbutton", QStringLiteral("&Help"), QStringLiteral("Get Windows help for Fax Viewer"),
      QStyle::SP_DialogHelpButton, [] { ShowHelpTopic(kHelpContext); });
  QPushButton* close = add("CloseButton", QStringLiteral("C&lose"), QStringLiteral("Close the Fax Viewer"),
                           QStyle::SP_DialogCloseButton, [this] { reject(); });
  close->setAutoDefault(true);
  close->setDefault(true);
}

void TFaxViewer::BuildMenus() {
  QMenu* view = menuBar_->addMenu(QStringLiteral("&View"));
  view->setObjectName(QStringLiteral("View1"));
  for (int i = 0; i < 4; ++i) {
    QAction* a = view->addAction(QLatin1String(kZoomCaptions[i]));
    a->setObjectName(QLatin1String(kZoomNames[i]));
    a->setCheckable(true);
    const int z = kZoomSteps[i];
    connect(a, &QAction::triggered, this, [this, z] { ApplyZoom(z); });
    zoomItems_[i] = a;
  }
  view->addSeparator();
  QAction* fit = view->addAction(QStringLiteral("Fit Page"));
  fit->setObjectName(QStringLiteral("FitPage"));
  connect(fit, &QAction::triggered, this, [this] {
    // Any zoom chosen afterwards is applied again.
    zoom_ = 0;
    for (QAction* a : zoomItems_) a->setChecked(false);
    FaxViewer_->FitToWindow(true);
  });

  QMenu* rotation = menuBar_->addMenu(QStringLiteral("Rotation"));
  rotation->setObjectName(QStringLiteral("Rotation1"));
  for (int i = 0; i < 4; ++i) {
    QAction* a = rotation->addAction(QLatin1String(kRotationCaptions[i]));
    a->setObjectName(QLatin1String(kRotationNames[i]));
    a->setCheckable(true);
    connect(a, &QAction::triggered, this, [this, i] { SetRotationItem(i); });
    rotationItems_[i] = a;
  }

  QMenu* marks = menuBar_->addMenu(QStringLiteral("&Marks"));
  marks->setObjectName(QStringLiteral("Marks1"));
  showMarks_ = marks->addAction(QStringLiteral("Show Marks"));
  showMarks_->setObjectName(QStringLiteral("ShowMarks"));
  showMarks_->setCheckable(true);
  showMarks_->setChecked(true);
  connect(showMarks_, &QAction::toggled, this, [this](bool on) { SetShowMarks(on); });
  turnPage_ = marks->addAction(QStringLiteral("Turn This Page Upside Down"));
  turnPage_->setObjectName(QStringLiteral("TurnPageUpsideDown"));
  connect(turnPage_, &QAction::triggered, this, [this] { TurnPageUpsideDown(); });
  marks->addSeparator();
  BuildMarkTools(marks);

  QMenu* exports = menuBar_->addMenu(QStringLiteral("Export"));
  exports->setObjectName(QStringLiteral("Export1"));
  // The picture and document exports write the pages as they were received; while the view is
  // turned the menu says so, rather than letting a user expect the turned page in the file.
  exportNote_ = exports->addAction(QStringLiteral("Exports keep the fax's own orientation (not rotated)"));
  exportNote_->setObjectName(QStringLiteral("ExportOrientationNote"));
  exportNote_->setEnabled(false);
  exportNote_->setVisible(false);
  for (const char* kind : {"BMP", "PCX", "DCX"}) {
    QAction* a = exports->addAction(QStringLiteral("Export this page as %1 File").arg(QLatin1String(kind)));
    a->setObjectName(QStringLiteral("Export%1").arg(QLatin1String(kind)));
    const QString k = QLatin1String(kind);
    connect(a, &QAction::triggered, this, [this, k] { ExportClick(k); });
  }
  exports->addSeparator();
  for (const char* kind : {"PDF", "TIFF"}) {
    QAction* a = exports->addAction(QStringLiteral("Export the fax as %1 File").arg(QLatin1String(kind)));
    a->setObjectName(QStringLiteral("Export%1").arg(QLatin1String(kind)));
    const QString k = QLatin1String(kind);
    connect(a, &QAction::triggered, this, [this, k] { ExportClick(k); });
  }
}

void TFaxViewer::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (firstActivation_) FormActivate();
}

void TFaxViewer::FormActivate() {
  if (!firstActivation_) return;
  firstActivation_ = false;
  file_ = FaxFileName;
  for (QAction* a : rotationItems_) a->setChecked(false);
  Button("ReplyButton")->setVisible(ReplyEnabled);
  Button("ForwardButton")->setVisible(ReplyEnabled);
  const bool printers = qv::ui::TQvFaxPrinter::PrinterInstalled();
  // Without a system printer the print dialog still offers a PDF file, so setup stays usable.
  Button("Printbutton")->setEnabled(printers);
  try {
    FaxViewer_->BeginUpdate();
    FaxViewer_->SetFileName(file_);
    FaxViewer_->EndUpdate();
    int z = 50;
    const int pageWidth = FaxViewer_->PageWidth();
    if (pageWidth > 0 && FaxViewer_->width() < pageWidth)
      z = int(std::lround(double(FaxViewer_->width()) / pageWidth * 150));
    ApplyZoom(z > 36 ? 50 : 25);
    ShowStatus();
  } catch (const std::exception&) {
    FaxViewer_->EndUpdate();
    try {
      FaxViewer_->SetFileName(QString());
    } catch (...) {
    }
    Dialogs().Error(this, QStringLiteral("Error opening fax file"));
    StatusPanel_->setText(QStringLiteral("No file loaded"));
  }
  LoadMarks();
  if (!MarksEditable) {
    for (QAction* a : toolActions_) a->setEnabled(false);
    for (const char* n : {"DrawSignature", "SignatureFromPicture", "TypedSignature", "SaveMarks"})
      Action(n)->setEnabled(false);
    turnPage_->setEnabled(false);
    findChild<QToolBar*>(QStringLiteral("MarkTools"))->hide();
  }
  const bool several = FaxViewer_->NumPages() > 1;
  for (const char* n : {"FirstButton", "PrevButton", "NextButton", "LastButton"}) Button(n)->setVisible(several);
  Thumbnails_->SetFaxFile(FaxViewer_->FileName(), FaxViewer_->NumPages());
  Thumbnails_->SetCurrentPage(FaxViewer_->ActivePage());
  FaxViewer_->setFocus();
  QApplication::restoreOverrideCursor();
}

void TFaxViewer::LoadMarks() {
  if (FaxViewer_->FileName().isEmpty()) return;
  qv::faximage::FaxMarks loaded;
  qv::faximage::MarksError error;
  const std::string fax = QFile::encodeName(FaxViewer_->FileName()).toStdString();
  marksDamaged_ = qv::faximage::LoadMarks(fax, loaded, error) == qv::faximage::MarksLoad::Damaged;
  marks_ = qv::faximage::MarksEditor(std::move(loaded));
  turnPage_->setEnabled(!marksDamaged_);
  if (marksDamaged_) {
    Dialogs().Information(this, QStringLiteral("The marks of this fax cannot be read (%1: %2).\r"
                                               "The fax is shown without them; the marks file is left as it is.")
                                    .arg(QString::fromStdString(qv::faximage::MarksFileName(fax)),
                                         QString::fromStdString(error.Describe())));
    return;
  }
  MarksChanged();
}

std::shared_ptr<const qv::faximage::FaxMarks> TFaxViewer::ShownMarks() const {
  if (!showMarks_->isChecked() || marks_.Marks().empty()) return nullptr;
  return std::make_shared<const qv::faximage::FaxMarks>(marks_.Marks());
}

void TFaxViewer::SetShowMarks(bool on) {
  if (showMarks_->isChecked() != on) showMarks_->setChecked(on);  // comes back here through toggled
  if (FaxViewer_->FileName().isEmpty()) return;
  try {
    FaxViewer_->SetMarks(ShownMarks());
  } catch (const std::exception&) {
    Dialogs().Error(this, QStringLiteral("Error opening fax file"));
  }
  Thumbnails_->SetMarks(ShownMarks());
}

bool TFaxViewer::TurnPageUpsideDown() {
  if (FaxViewer_->FileName().isEmpty() || marksDamaged_ || !MarksEditable) return false;
  const int page = FaxViewer_->ActivePage();
  const auto now = marks_.Marks().Rotation(page);
  const auto to = now == qv::faximage::PageRotation::Half ? qv::faximage::PageRotation::None
                                                          : qv::faximage::PageRotation::Half;
  // The page's size as shown, in units (fine rows): the full-width page as the marks see it.
  qv::faximage::PageBitmap shown;
  {
    qv::faximage::UnpackerState st;
    st.setAutoScale(qv::faximage::kUnpackDoubleHeight);
    auto current = std::make_shared<const qv::faximage::FaxMarks>(marks_.Marks());
    st.Marks = current;
    qv::faximage::UnpackPageFullWidth(st, QFile::encodeName(FaxViewer_->FileName()).toStdString(), page, shown);
  }
  marks_.Rotate(page, to, shown.width, shown.height);
  if (!qv::faximage::SaveMarks(QFile::encodeName(FaxViewer_->FileName()).toStdString(), marks_.Marks())) {
    const QString why = QString::fromLocal8Bit(std::strerror(errno));
    marks_.Undo();
    Dialogs().Error(this, QStringLiteral("The marks of this fax cannot be saved: %1").arg(why));
    return false;
  }
  marks_.SetSaved();
  SetShowMarks(true);
  return true;
}

void TFaxViewer::BuildMarkTools(QMenu* menu) {
  auto* bar = new QToolBar(this);
  bar->setObjectName(QStringLiteral("MarkTools"));
  bar->setAccessibleName(QStringLiteral("Marking tools"));
  layout()->addWidget(bar);
  // The tool bar sits above the page: take it out and put it back at the top.
  auto* box = static_cast<QVBoxLayout*>(layout());
  box->removeWidget(bar);
  box->insertWidget(0, bar);
  auto* group = new QActionGroup(this);
  auto tool = [&](const char* name, const QString& caption, MarkTool t) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(QLatin1String(name));
    a->setCheckable(true);
    a->setToolTip(caption);
    group->addAction(a);
    bar->addAction(a);
    a->setProperty("tool", int(t));
    connect(a, &QAction::triggered, this, [this, t] { SetTool(t); });
    toolActions_.push_back(a);
    return a;
  };
  auto command = [&](const char* name, const QString& caption, const QKeySequence& key, auto slot) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(QLatin1String(name));
    a->setToolTip(caption);
    if (!key.isEmpty()) a->setShortcut(key);
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  tool("MarkBrowse", QStringLiteral("Browse (No Marking Tool)"), MarkTool::Browse)->setChecked(true);
  tool("MarkSelect", QStringLiteral("Select and Move Marks"), MarkTool::Select);
  tool("MarkPen", QStringLiteral("Pen"), MarkTool::Pen);
  tool("MarkThickPen", QStringLiteral("Thick Pen"), MarkTool::ThickPen);
  tool("MarkHighlight", QStringLiteral("Highlighter"), MarkTool::Highlight);
  tool("MarkText", QStringLiteral("Text Box"), MarkTool::Text);
  tool("MarkDate", QStringLiteral("Date Stamp (Today)"), MarkTool::Date);
  tool("MarkReceived", QStringLiteral("Date Stamp (Received)"), MarkTool::Received);
  tool("MarkCheck", QStringLiteral("Check Mark"), MarkTool::Check);
  tool("MarkWhiteout", QStringLiteral("White-out"), MarkTool::Whiteout);
  tool("MarkSignature", QStringLiteral("Signature"), MarkTool::Signature);
  menu->addSeparator();
  command("DrawSignature", QStringLiteral("Draw a Signature..."), {}, [this] { DrawSignature(); });
  command("SignatureFromPicture", QStringLiteral("Signature from a Picture File..."), {}, [this] { SignatureFromFile(); });
  command("TypedSignature", QStringLiteral("Type a Signature..."), {}, [this] { TypedSignature(); });
  menu->addSeparator();
  bar->addSeparator();
  bar->addAction(command("DeleteMark", QStringLiteral("Delete Mark"), QKeySequence(Qt::Key_Delete), [this] {
    if (marks_.Remove(marks_.Selected())) MarksChanged();
  }));
  bar->addAction(command("UndoMark", QStringLiteral("Undo"), QKeySequence(Qt::CTRL | Qt::Key_Z), [this] {
    if (marks_.Undo()) MarksChanged();
  }));
  bar->addAction(command("RedoMark", QStringLiteral("Redo"), QKeySequence(Qt::CTRL | Qt::Key_Y), [this] {
    if (marks_.Redo()) MarksChanged();
  }));
  bar->addAction(command("SaveMarks", QStringLiteral("Save Marks"), QKeySequence(Qt::CTRL | Qt::Key_S),
                         [this] { SaveMarksFile(); }));
  // A tool button's accessible name is its action's text; say so for every button all the same.
  for (QAction* a : bar->actions())
    if (QWidget* w = bar->widgetForAction(a)) w->setAccessibleName(a->text());
  MarksChanged();
}

std::string TFaxViewer::DataDir() const {
  return QFile::encodeName(QFileInfo(QString::fromStdString(iniFile_)).absolutePath()).toStdString() + "/";
}

QString TFaxViewer::ReceivedStampText(const QString& date, const QString& time) {
  const QDate d = QDate::fromString(date.trimmed(), QStringLiteral("yyyyMMdd"));
  if (!d.isValid()) return QString();
  QTime t = QTime::fromString(time.trimmed(), QStringLiteral("hh:mm"));
  if (!t.isValid()) t = QTime::fromString(time.trimmed(), QStringLiteral("h:mm"));
  QString text = QStringLiteral("Received ") + d.toString(QStringLiteral("dd.MM.yyyy"));
  if (t.isValid()) text += QLatin1Char(' ') + t.toString(QStringLiteral("hh:mm"));
  return text;
}

void TFaxViewer::SetTool(MarkTool tool) {
  if (!MarksEditable) tool = MarkTool::Browse;
  if (tool == MarkTool::Received && ReceivedStamp.isEmpty()) {
    Dialogs().Information(this, QStringLiteral("This fax has no date of receipt to stamp."));
    tool = MarkTool::Browse;
  }
  if (tool != MarkTool::Browse && (marksDamaged_ || FaxViewer_->FileName().isEmpty())) tool = MarkTool::Browse;
  if (tool != MarkTool::Browse && FaxViewer_->Rotation() != 0) {
    Dialogs().Information(this, QStringLiteral("Marks are put on the page as it is kept: choose \"No rotation\" first."));
    tool = MarkTool::Browse;
  }
  if (tool == MarkTool::Signature && signature_.empty() &&
      !qv::faximage::LoadSignature(DataDir(), kSignatureName, signature_)) {
    Dialogs().Information(this, QStringLiteral("No signature is kept yet: draw one, type one or take one from a picture file."));
    tool = MarkTool::Browse;
  }
  tool_ = tool;
  for (QAction* a : toolActions_) a->setChecked(a->property("tool").toInt() == int(tool));
  FaxViewer_->SetPointerTool(tool != MarkTool::Browse);
  if (tool != MarkTool::Browse && !showMarks_->isChecked()) SetShowMarks(true);
  if (tool != MarkTool::Select) marks_.Select(-1);
  MarksChanged();
}

void TFaxViewer::MarksChanged() {
  SetShowMarks(showMarks_->isChecked());
  QRect frame;
  const int sel = marks_.Selected();
  if (sel >= 0 && marks_.Marks().marks[size_t(sel)].page == FaxViewer_->ActivePage()) {
    qv::faximage::MarkRasterizer r;
    int x, y, w, h;
    qv::faximage::MarksEditor::Bounds(marks_.Marks().marks[size_t(sel)], r, x, y, w, h);
    frame = QRect(x, y, w, h);
  }
  FaxViewer_->SetFrame(frame);
  Action("UndoMark")->setEnabled(marks_.CanUndo());
  Action("RedoMark")->setEnabled(marks_.CanRedo());
  Action("DeleteMark")->setEnabled(sel >= 0);
  Action("SaveMarks")->setEnabled(marks_.Modified() && !marksDamaged_);
}

void TFaxViewer::PagePointer(int phase, QPoint at) {
  using qv::faximage::Mark;
  using qv::faximage::MarkKind;
  const int page = FaxViewer_->ActivePage();
  const bool press = phase == qv::ui::TQvFaxViewer::ppPress;
  const bool release = phase == qv::ui::TQvFaxViewer::ppRelease;
  switch (tool_) {
    case MarkTool::Browse: return;
    case MarkTool::Pen:
    case MarkTool::ThickPen:
    case MarkTool::Highlight: {
      if (press) stroke_.clear();
      if (stroke_.size() < qv::faximage::kMarkMaxPoints) stroke_.push_back({at.x(), at.y()});
      if (!release) return;
      const MarkKind kind = tool_ == MarkTool::Highlight ? MarkKind::Highlight : MarkKind::Pen;
      const int width = tool_ == MarkTool::Pen ? kPenWidth
                        : tool_ == MarkTool::ThickPen ? kThickPenWidth
                                                      : qv::faximage::kMarkHighlightDefault;
      marks_.Add(Mark::Stroke(kind, page, width, std::move(stroke_)));
      stroke_.clear();
      marks_.Select(-1);
      break;
    }
    case MarkTool::Whiteout: {
      if (press) dragFrom_ = at;
      if (!release) return;
      const QRect box = QRect(dragFrom_, at).normalized();
      if (box.width() < 2 || box.height() < 2) return;
      marks_.Add(Mark::Box(MarkKind::Whiteout, page, box.x(), box.y(), box.width(), box.height()));
      marks_.Select(-1);
      break;
    }
    case MarkTool::Select: {
      if (press) {
        qv::faximage::MarkRasterizer r;
        marks_.Select(marks_.MarkAt(page, at.x(), at.y(), r));
        dragFrom_ = at;
        break;
      }
      if (!release || marks_.Selected() < 0 || at == dragFrom_) return;
      marks_.Move(marks_.Selected(), at.x() - dragFrom_.x(), at.y() - dragFrom_.y());
      break;
    }
    default: {
      // The rest are placed with a click where the button comes up.
      if (!release) return;
      if (tool_ == MarkTool::Check) {
        marks_.Add(Mark::Box(MarkKind::Check, page, at.x() - kCheckSize / 2, at.y() - kCheckSize / 2, kCheckSize,
                             kCheckSize));
      } else if (tool_ == MarkTool::Signature) {
        marks_.Add(Mark::Signature(page, at.x(), at.y(), signature_.width, signature_.height, signature_));
      } else if (tool_ == MarkTool::Text) {
        QString text;
        if (!AskText(QStringLiteral("Text Box"), text)) return;
        marks_.Add(Mark::Words(MarkKind::Text, page, at.x(), at.y(), kTextSize, kMarkFont, text.toStdString()));
      } else {
        const QString stamp = tool_ == MarkTool::Received
                                  ? ReceivedStamp
                                  : QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"));
        marks_.Add(Mark::Words(MarkKind::Stamp, page, at.x(), at.y(), kTextSize, kMarkFont, stamp.toStdString()));
      }
      marks_.Select(-1);
      break;
    }
  }
  MarksChanged();
}

bool TFaxViewer::AskText(const QString& caption, QString& text) {
  QDialog d(this);
  d.setObjectName(QStringLiteral("MarkTextForm"));
  d.setWindowTitle(caption);
  auto* box = new QVBoxLayout(&d);
  auto* label = new QLabel(QStringLiteral("&Text:"), &d);
  auto* edit = new QLineEdit(&d);
  edit->setObjectName(QStringLiteral("MarkTextEdit"));
  edit->setAccessibleName(QStringLiteral("Text"));
  edit->setMaxLength(int(qv::faximage::kMarkMaxText));
  label->setBuddy(edit);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
  connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
  box->addWidget(label);
  box->addWidget(edit);
  box->addWidget(buttons);
  if (Dialogs().Exec(&d) != QDialog::Accepted) return false;
  text = edit->text().trimmed();
  return !text.isEmpty();
}

void TFaxViewer::KeepSignature(qv::faximage::MarkPicture picture) {
  if (picture.empty()) return;
  signature_ = std::move(picture);
  // Kept for the next fax; a signature that cannot be kept still serves this one.
  if (!qv::faximage::SaveSignature(DataDir(), kSignatureName, signature_))
    Dialogs().Information(this, QStringLiteral("The signature cannot be kept for later; it is used on this fax only."));
  SetTool(MarkTool::Signature);
}

void TFaxViewer::DrawSignature() {
  QDialog d(this);
  d.setObjectName(QStringLiteral("DrawSignatureForm"));
  d.setWindowTitle(QStringLiteral("Draw a Signature"));
  auto* box = new QVBoxLayout(&d);
  box->addWidget(new QLabel(QStringLiteral("Sign with the mouse or a tablet pen:"), &d));
  auto* pad = new qv::ui::SignaturePad(&d);
  box->addWidget(pad);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
  QPushButton* clear = buttons->addButton(QStringLiteral("C&lear"), QDialogButtonBox::ResetRole);
  clear->setObjectName(QStringLiteral("ClearSignature"));
  clear->setAccessibleName(QStringLiteral("Clear the signature"));
  connect(clear, &QPushButton::clicked, pad, &qv::ui::SignaturePad::Clear);
  connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
  box->addWidget(buttons);
  if (Dialogs().Exec(&d) != QDialog::Accepted) return;
  if (pad->Empty()) {
    Dialogs().Information(this, QStringLiteral("Nothing was drawn; the signature is left as it was."));
    return;
  }
  KeepSignature(pad->Picture());
}

void TFaxViewer::SignatureFromFile() {
  const QString file = Dialogs().OpenFileName(this, QStringLiteral("Signature from a Picture File"), QString(),
                                              QStringLiteral("Pictures (*.png *.bmp *.jpg *.jpeg *.gif *.tif *.tiff)"));
  if (file.isEmpty()) return;
  QString why;
  qv::faximage::MarkPicture pic = qv::ui::SignatureFromPictureFile(file, &why);
  if (pic.empty()) {
    Dialogs().Error(this, why);
    return;
  }
  KeepSignature(std::move(pic));
}

void TFaxViewer::TypedSignature() {
  QString name;
  if (!AskText(QStringLiteral("Type a Signature"), name)) return;
  KeepSignature(qv::ui::SignatureFromTypedName(name));
}

bool TFaxViewer::SaveMarksFile() {
  if (FaxViewer_->FileName().isEmpty() || marksDamaged_) return false;
  if (!qv::faximage::SaveMarks(QFile::encodeName(FaxViewer_->FileName()).toStdString(), marks_.Marks())) {
    Dialogs().Error(this, QStringLiteral("The marks of this fax cannot be saved: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    return false;
  }
  marks_.SetSaved();
  MarksChanged();
  return true;
}

bool TFaxViewer::eventFilter(QObject* o, QEvent* e) {
  // The keyboard's way to place a stamp, text, tick or signature: Enter puts it in the middle of
  // the page's visible part and selects it, so the arrow keys take it to its place.
  const bool placing = tool_ == MarkTool::Text || tool_ == MarkTool::Date || tool_ == MarkTool::Received ||
                       tool_ == MarkTool::Check || tool_ == MarkTool::Signature;
  if (o == FaxViewer_ && e->type() == QEvent::KeyPress && placing) {
    const int key = static_cast<QKeyEvent*>(e)->key();
    QPoint at;
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && FaxViewer_->UnitsAt(FaxViewer_->viewport()->rect().center(), at)) {
      const size_t before = marks_.Marks().marks.size();
      PagePointer(qv::ui::TQvFaxViewer::ppRelease, at);
      if (marks_.Marks().marks.size() > before) {
        SetTool(MarkTool::Select);
        marks_.Select(int(before));
        MarksChanged();
      }
      return true;
    }
  }
  // Arrow keys move the selected mark instead of scrolling the page.
  if (o == FaxViewer_ && e->type() == QEvent::KeyPress && tool_ == MarkTool::Select && marks_.Selected() >= 0) {
    auto* k = static_cast<QKeyEvent*>(e);
    const int step = k->modifiers() & Qt::ShiftModifier ? kArrowStepLarge : kArrowStep;
    int dx = 0, dy = 0;
    switch (k->key()) {
      case Qt::Key_Left: dx = -step; break;
      case Qt::Key_Right: dx = step; break;
      case Qt::Key_Up: dy = -step; break;
      case Qt::Key_Down: dy = step; break;
      default: return QDialog::eventFilter(o, e);
    }
    if (marks_.Move(marks_.Selected(), dx, dy)) MarksChanged();
    return true;
  }
  return QDialog::eventFilter(o, e);
}

void TFaxViewer::ApplyZoom(int z) {
  if (z == zoom_) return;
  zoom_ = z;
  if (z == 100) {
    FaxViewer_->SetScaling(false);
  } else {
    FaxViewer_->BeginUpdate();
    FaxViewer_->SetScaling(true);
    FaxViewer_->SetHorizMult(z);
    FaxViewer_->SetHorizDiv(100);
    FaxViewer_->SetVertMult(z);
    FaxViewer_->SetVertDiv(100);
    FaxViewer_->EndUpdate();
  }
  for (int i = 0; i < 4; ++i) zoomItems_[i]->setChecked(kZoomSteps[i] == z);
}

void TFaxViewer::ZoomInButtonClick() {
  if (zoom_ == 100) {
    Dialogs().Beep();
    return;
  }
  ApplyZoom(zoom_ < 50 ? 50 : zoom_ < 75 ? 75 : 100);
}

void TFaxViewer::ZoomOutButtonClick() {
  if (zoom_ == 25) {
    Dialogs().Beep();
    return;
  }
  ApplyZoom(zoom_ > 75 ? 75 : zoom_ > 50 ? 50 : 25);
}

void TFaxViewer::SetRotationItem(int rotation) {
  try {
    FaxViewer_->SetRotation(rotation);
  } catch (const std::exception& e) {
    Dialogs().Error(this, QString::fromLocal8Bit(e.what()));
  }
  for (int i = 0; i < 4; ++i) rotationItems_[i]->setChecked(i == rotation);
  // The page pictures beside the view, and a print from here, follow the turn of the view.
  Thumbnails_->SetRotation(FaxViewer_->Rotation());
  exportNote_->setVisible(FaxViewer_->Rotation() != 0);
}

QString TFaxViewer::StatusText() const { return StatusPanel_->text(); }

void TFaxViewer::ShowStatus() {
  if (FaxViewer_->FileName().isEmpty()) {
    StatusPanel_->setText(QStringLiteral("No file loaded"));
    return;
  }
  const QString pages =
      QStringLiteral("Page %1 of %2").arg(FaxViewer_->ActivePage()).arg(FaxViewer_->NumPages());
  StatusPanel_->setText(PageCaptionPrefix.isEmpty() ? pages : PageCaptionPrefix + QStringLiteral(": ") + pages);
}

void TFaxViewer::ViewerError(int code) {
  Dialogs().Error(this, QStringLiteral("Viewer error %1").arg(code) + QStringLiteral("\r") +
                            QString::fromStdString(qv::core::ErrorText(code)));
  ShowStatus();
}

void TFaxViewer::ExportClick(const QString& kind) {
  if (FaxViewer_->FileName().isEmpty()) return;
  const QString ext = kind == QLatin1String("TIFF") ? QStringLiteral("TIF") : kind;
  const QString name = Dialogs().SaveFileName(this, QStringLiteral("Export"), QStringLiteral("*.") + ext,
                                              ext + QStringLiteral(" File (*.") + ext.toLower() + QStringLiteral(")"));
  if (name.isEmpty()) return;
  qv::faximage::TQvFaxUnpacker unpacker;
  unpacker.SetWhitespaceCompression(FaxViewer_->WhitespaceCompression());
  unpacker.SetWhitespaceFrom(FaxViewer_->WhitespaceFrom());
  unpacker.SetWhitespaceTo(FaxViewer_->WhitespaceTo());
  unpacker.SetAutoScaleMode(qv::faximage::asNone);
  unpacker.SetInFileName(FaxViewer_->FileName().toStdString());
  unpacker.SetOutFileName(name.toStdString());
  // The PDF and TIFF documents show the fax as the user sees it, marks and page turns included
  // while they are shown; with white-space compression rows move and the marks would not fit.
  if (!FaxViewer_->WhitespaceCompression()) unpacker.SetMarks(ShownMarks());
  const int page = FaxViewer_->ActivePage();
  try {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (kind == QLatin1String("BMP")) unpacker.UnpackPageToBmp(page);
    else if (kind == QLatin1String("PCX")) unpacker.UnpackPageToPcx(page);
    else if (kind == QLatin1String("DCX")) unpacker.UnpackPageToDcx(page);
    else if (kind == QLatin1String("PDF")) unpacker.UnpackFileToPdf();
    else unpacker.UnpackFileToTiff();
    QApplication::restoreOverrideCursor();
  } catch (const std::exception& e) {
    QApplication::restoreOverrideCursor();
    Dialogs().Error(this, QStringLiteral("The fax could not be exported to %1:\r%2").arg(name, QString::fromLocal8Bit(e.what())));
  }
}

void TFaxViewer::PrinterSetupButtonClick() {
  if (FaxViewer_->FileName().isEmpty()) return;
  FaxPrinter_->SetFileName(FaxViewer_->FileName());
  if (!printRange_) {
    FaxPrinter_->SetFirstPageToPrint(1);
    FaxPrinter_->SetLastPageToPrint(FaxPrinter_->PageCount());
  }
  FaxPrinter_->PrintSetup(this);
  printRange_ = true;
  // A PDF file chosen in the dialog is a printer too.
  if (FaxPrinter_->Printer().outputFormat() == QPrinter::PdfFormat) Button("Printbutton")->setEnabled(true);
}

void TFaxViewer::PrintClick(bool currentPageOnly) {
  const QString file = FaxViewer_->FileName();
  if (file.trimmed().isEmpty()) return;
  FaxPrinter_->SetRotation(FaxViewer_->Rotation());
  FaxPrinter_->SetMarks(ShownMarks());
  RunPrintFlow(this, *FaxPrinter_, file, PrintHeaderText, currentPageOnly ? FaxViewer_->ActivePage() : 0,
               printRange_, iniFile_);
}

void TFaxViewer::ReplyClick(bool forward) {
  // The reply carries the marks as the file keeps them: unsaved ones are saved first.
  if (marks_.Modified() && !marksDamaged_ && !SaveMarksFile()) return;
  request_ = forward ? ReplyRequest::kForward : ReplyRequest::kReply;
  accept();
}

void TFaxViewer::done(int r) {
  if (marks_.Modified() && !marksDamaged_ && !FaxViewer_->FileName().isEmpty()) {
    switch (Dialogs().YesNoCancel(this, QStringLiteral("Fax Viewer"), QStringLiteral("Save the marks on this fax?"))) {
      case DialogService::Choice::Yes:
        if (!SaveMarksFile()) return;
        break;
      case DialogService::Choice::No: break;
      default: return;
    }
  }
  if (!placementSaved_) {
    placementSaved_ = true;
    try {
      SavePlacement(this, QStringLiteral("TFaxViewer"), iniFile_);
    } catch (...) {
      // Placement is a convenience.
    }
  }
  QDialog::done(r);
}

void TFaxViewer::closeEvent(QCloseEvent* e) { QDialog::closeEvent(e); }

}  // namespace qv::app
