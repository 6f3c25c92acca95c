// The fax viewer form, the print options form and the main window's View and Print of received
// faxes, over real fax files and real widgets.
#include "app/forms/fax_viewer_form.h"

#include "app/forms/app_texts.h"
#include "app/store/fax_store.h"
#include "app/forms/main_screen.h"
#include "app/forms/pre_print_form.h"
#include "app/store/settings.h"
#include "core/ini_file.h"
#include "faximage/marks_file.h"
#include "faximage/signature_store.h"
#include "ui/signature_picture.h"
#include "send_helpers.h"
#include "store_helpers.h"
#include "../test_support.h"
#include "../../ui/fax_files.h"
#include "ui/fax_printer.h"
#include "ui/fax_thumbnails.h"
#include "ui/fax_viewer.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDate>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSpinBox>
#include <QLineEdit>
#include <QPainter>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

namespace qv::app {
namespace {

using test::DataDir;
using test::ScriptedDialogs;
namespace uit = qv::ui::test;

// Answers the save dialog with a prepared name.
class SavingDialogs : public ScriptedDialogs {
 public:
  QString SaveFileName(QWidget*, const QString&, const QString& dir, const QString& filter) override {
    shown.push_back({QStringLiteral("save"), dir, filter, false});
    return saveAs;
  }
  QString saveAs;
};

QString Tool(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(30000)) return QString();
  return QString::fromUtf8(p.readAllStandardOutput());
}

int PdfPages(const QString& pdf) {
  const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(Tool(QStringLiteral("pdfinfo"), {pdf}));
  return m.hasMatch() ? m.captured(1).toInt() : -1;
}

class FaxViewerFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    Settings() = TSettings();
  }
  std::string Ini() const { return SettingsFileName(dir_.StdPath()); }
  // Full-width pages: page n has n black bars at its top.
  QString Fax(int pages, const char* name = "fax.qvf") {
    std::vector<uit::FaxPage> p;
    for (int i = 1; i <= pages; ++i)
      p.push_back(uit::FaxPage{1728, 600, true, [i](int x, int y) { return y < 20 && x % 200 < 100 && x / 200 < i; }});
    const QString f = dir_.File(QString::fromLatin1(name));
    EXPECT_TRUE(uit::WriteFax(f, p));
    return f;
  }
  std::unique_ptr<TFaxViewer> Open(const QString& file) {
    auto v = std::make_unique<TFaxViewer>(Ini());
    v->FaxFileName = file;
    v->PrintHeaderText = QStringLiteral("From: Dave             Received: today");
    v->show();
    return v;
  }

  DataDir dir_;
  SavingDialogs dialogs_;
};

TEST_F(FaxViewerFormTest, PageButtonsZoomAndRotation) {
  auto v = Open(Fax(3));
  EXPECT_EQ(v->windowTitle(), QStringLiteral("Fax Viewer "));
  EXPECT_EQ(v->StatusText(), QStringLiteral("Page 1 of 3"));
  for (const char* b : {"FirstButton", "PrevButton", "NextButton", "LastButton"})
    EXPECT_TRUE(v->Button(b)->isVisible()) << b;
  v->Button("NextButton")->click();
  EXPECT_EQ(v->StatusText(), QStringLiteral("Page 2 of 3"));
  v->Button("LastButton")->click();
  EXPECT_EQ(v->StatusText(), QStringLiteral("Page 3 of 3"));
  v->Button("FirstButton")->click();
  EXPECT_EQ(v->StatusText(), QStringLiteral("Page 1 of 3"));

  // The first zoom: the page is wider than the window.
  EXPECT_TRUE(v->Zoom() == 50 || v->Zoom() == 25);
  ui::TQvFaxViewer* viewer = v->Viewer();
  EXPECT_EQ(viewer->ScaledWidth(), viewer->PageWidth() * v->Zoom() / 100);
  v->Action("N150")->trigger();
  EXPECT_EQ(v->Zoom(), 75);
  EXPECT_TRUE(v->Action("N150")->isChecked());
  EXPECT_FALSE(v->Action("N100")->isChecked());
  v->Button("ZoomInButton")->click();
  EXPECT_EQ(v->Zoom(), 100);
  EXPECT_FALSE(viewer->Scaling());
  EXPECT_EQ(viewer->ScaledWidth(), viewer->PageWidth());
  v->Button("ZoomInButton")->click();  // at "200%": a beep and nothing else
  EXPECT_EQ(dialogs_.beeps, 1);
  EXPECT_EQ(v->Zoom(), 100);
  for (int i = 0; i < 3; ++i) v->Button("ZoomOutButton")->click();
  EXPECT_EQ(v->Zoom(), 25);
  EXPECT_EQ(dialogs_.beeps, 1);
  v->Button("ZoomOutButton")->click();
  EXPECT_EQ(dialogs_.beeps, 2);
  EXPECT_EQ(viewer->ScaledWidth(), viewer->PageWidth() / 4);

  v->Action("Rotate90")->trigger();
  EXPECT_EQ(viewer->Rotation(), 1);
  EXPECT_TRUE(v->Action("Rotate90")->isChecked());
  v->Action("Rotate270")->trigger();
  EXPECT_EQ(viewer->Rotation(), 3);
  EXPECT_FALSE(v->Action("Rotate90")->isChecked());
  EXPECT_TRUE(v->Action("Rotate270")->isChecked());

  // Every button says what it does to a screen reader.
  for (QPushButton* b : v->findChildren<QPushButton*>()) EXPECT_FALSE(b->accessibleName().isEmpty()) << b->objectName().toStdString();
}

TEST_F(FaxViewerFormTest, OnePageFaxHasNoPageButtonsAndABadFileSaysSo) {
  auto v = Open(Fax(1));
  for (const char* b : {"FirstButton", "PrevButton", "NextButton", "LastButton"})
    EXPECT_FALSE(v->Button(b)->isVisible()) << b;
  EXPECT_EQ(v->StatusText(), QStringLiteral("Page 1 of 1"));

  QFile junk(dir_.File(QStringLiteral("junk.qvf")));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write(QByteArray(200, 'x'));
  junk.close();
  auto bad = Open(junk.fileName());
  EXPECT_EQ(bad->StatusText(), QStringLiteral("No file loaded"));
  ASSERT_EQ(dialogs_.Count(QStringLiteral("error")), 1);
  EXPECT_EQ(dialogs_.shown.back().text, QStringLiteral("Error opening fax file"));
  EXPECT_TRUE(bad->Viewer()->FileName().isEmpty());
}

TEST_F(FaxViewerFormTest, ExportsThePageShownAndTheWholeFax) {
  auto v = Open(Fax(3));
  v->Button("NextButton")->click();
  dialogs_.saveAs = dir_.File(QStringLiteral("page2.dcx"));
  v->Action("ExportDCX")->trigger();
  QFile dcx(dialogs_.saveAs);
  ASSERT_TRUE(dcx.open(QIODevice::ReadOnly));
  const QByteArray d = dcx.readAll();
  ASSERT_GT(d.size(), 16);
  auto u32 = [&](int at) {
    return uint32_t(uint8_t(d[at])) | uint32_t(uint8_t(d[at + 1])) << 8 | uint32_t(uint8_t(d[at + 2])) << 16 |
           uint32_t(uint8_t(d[at + 3])) << 24;
  };
  EXPECT_EQ(u32(0), 0x3ADE68B1u);
  EXPECT_NE(u32(4), 0u);  // one page ...
  EXPECT_EQ(u32(8), 0u);  // ... and the list ends
  // The page in it is page 2: two bars, cut at the second bar's right edge (300 pixels).
  const int pcx = int(u32(4));
  const int xmax = uint8_t(d[pcx + 8]) | uint8_t(d[pcx + 9]) << 8;
  EXPECT_EQ(xmax + 1, 304);

  dialogs_.saveAs = dir_.File(QStringLiteral("all.pdf"));
  v->Action("ExportPDF")->trigger();
  EXPECT_EQ(PdfPages(dialogs_.saveAs), 3);
  // Cancelled: nothing is written.
  dialogs_.saveAs.clear();
  v->Action("ExportBMP")->trigger();
  EXPECT_EQ(dialogs_.Count(QStringLiteral("error")), 0);
}

// A file dropped on the viewer that is no fax is refused with a message and leaves the window as
// it was: the fax, its page, its turn, its thumbnails, and Print still prints it. The turn chosen
// reaches the thumbnails and the print; the Export menu says the exports are not turned.
TEST_F(FaxViewerFormTest, ADroppedFileThatIsNoFaxChangesNothingAndTheTurnIsPrinted) {
  const QString fax = Fax(3);
  auto v = Open(fax);
  v->Button("NextButton")->click();
  QAction* note = v->Action("ExportOrientationNote");
  ASSERT_NE(note, nullptr);
  EXPECT_FALSE(note->isVisible());
  v->Action("Rotate180")->trigger();
  EXPECT_EQ(v->Thumbnails()->Rotation(), 2);
  EXPECT_TRUE(note->isVisible());
  EXPECT_FALSE(note->isEnabled());

  const QString text = dir_.File(QStringLiteral("letter.txt"));
  QFile f(text);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("Dear Sir, this is a letter, not a fax.\n");
  f.close();
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(text)});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(v->Viewer()->viewport(), &enter);
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(v->Viewer()->viewport(), &drop);
  ASSERT_EQ(dialogs_.Count(QStringLiteral("error")), 1);
  EXPECT_TRUE(dialogs_.shown.back().text.contains(QStringLiteral("-8001"))) << dialogs_.shown.back().text.toStdString();
  EXPECT_EQ(v->Viewer()->FileName(), fax);
  EXPECT_EQ(v->StatusText(), QStringLiteral("Page 2 of 3"));
  EXPECT_EQ(v->Viewer()->Rotation(), 2);
  EXPECT_TRUE(v->Action("Rotate180")->isChecked());
  EXPECT_EQ(v->Thumbnails()->count(), 3);
  EXPECT_EQ(v->Thumbnails()->Rotation(), 2);

  const QString pdf = dir_.File(QStringLiteral("turned.pdf"));
  v->Printer()->SetOutputPdf(pdf);
  dialogs_.forms.push_back([](QDialog* d) {
    auto* form = qobject_cast<TPrePrintForm*>(d);
    if (!form) return int(QDialog::Rejected);
    form->PrintMultiPage()->setChecked(false);
    form->StretchToFit()->setChecked(true);
    form->PrintHeader()->setChecked(false);
    form->PrintFooter()->setChecked(false);
    form->OkButton()->click();
    return form->result();
  });
  v->PrintClick(false);
  EXPECT_EQ(PdfPages(pdf), 3);
  EXPECT_EQ(v->Printer()->Rotation(), 2);
  // Page 1's bar lies at the top of the fax page: turned, it is at the foot of the drawn page,
  // right of the middle (the bars start at the left edge).
  const QString prefix = dir_.File(QStringLiteral("sheet"));
  Tool(QStringLiteral("pdftoppm"), {QStringLiteral("-gray"), QStringLiteral("-r"), QStringLiteral("30"),
                                    QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                                    QStringLiteral("1"), QStringLiteral("-singlefile"), pdf, prefix});
  const QImage sheet(prefix + QStringLiteral(".pgm"));
  ASSERT_FALSE(sheet.isNull());
  int top = -1, left = sheet.width();
  for (int y = 0; y < sheet.height(); ++y)
    for (int x = 0; x < sheet.width(); ++x)
      if (qGray(sheet.pixel(x, y)) < 128) {
        if (top < 0) top = y;
        left = std::min(left, x);
      }
  ASSERT_GE(top, 0);
  EXPECT_GT(left, sheet.width() / 2);
  EXPECT_GT(top, sheet.height() / 8);
}

// The marks beside a fax are shown and can be hidden; turning a page keeps the turn in the marks
// file and takes the marks along; the received file is never written; a new viewer reads the
// same marks back.
TEST_F(FaxViewerFormTest, MarksShownHiddenAndAPageTurnedForGood) {
  const QString fax = Fax(2);
  const std::string faxPath = fax.toStdString();
  qv::faximage::FaxMarks marks;
  marks.marks.push_back(qv::faximage::Mark::Box(qv::faximage::MarkKind::Whiteout, 1, 0, 0, 400, 20));
  marks.marks.push_back(qv::faximage::Mark::Stroke(qv::faximage::MarkKind::Pen, 1, 2, {{400, 300}, {700, 300}}));
  ASSERT_TRUE(qv::faximage::SaveMarks(faxPath, marks));
  QFile in(fax);
  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  const QByteArray received = in.readAll();
  in.close();

  auto v = Open(fax);
  EXPECT_EQ(v->StatusText(), QStringLiteral("Page 1 of 2"));
  EXPECT_EQ(v->Marks(), marks);
  const qv::faximage::PageBitmap* bm = v->Viewer()->CurrentBitmap();
  ASSERT_NE(bm, nullptr);
  EXPECT_FALSE(bm->black(50, 10)) << "the white-out covers the bar";
  EXPECT_TRUE(bm->black(500, 300)) << "the pen line";

  v->Action("ShowMarks")->trigger();
  bm = v->Viewer()->CurrentBitmap();
  EXPECT_TRUE(bm->black(50, 10));
  EXPECT_FALSE(bm->black(500, 300));
  v->Action("ShowMarks")->trigger();

  // The PDF export carries the marks, as poppler renders it at the fax's resolution.
  dialogs_.saveAs = dir_.File(QStringLiteral("marked.pdf"));
  v->ExportClick(QStringLiteral("PDF"));
  const QString prefix = dir_.File(QStringLiteral("marked"));
  Tool(QStringLiteral("pdftoppm"), {QStringLiteral("-mono"), QStringLiteral("-rx"), QStringLiteral("204"), QStringLiteral("-ry"),
                                    QStringLiteral("196"), QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                                    QStringLiteral("1"), QStringLiteral("-singlefile"), dialogs_.saveAs, prefix});
  const QImage rendered(prefix + QStringLiteral(".pbm"));
  ASSERT_EQ(rendered.size(), QSize(1728, 600));
  EXPECT_EQ(qGray(rendered.pixel(50, 10)), 255);
  EXPECT_EQ(qGray(rendered.pixel(500, 300)), 0);

  ASSERT_TRUE(v->TurnPageUpsideDown());
  bm = v->Viewer()->CurrentBitmap();
  ASSERT_EQ(bm->width, 1728);
  EXPECT_TRUE(bm->black(1727 - 500, 599 - 300)) << "the line went round with the page";
  EXPECT_FALSE(bm->black(1727 - 50, 599 - 10)) << "and so did the white-out";
  EXPECT_FALSE(bm->black(500, 300)) << "nothing left where the line was";
  EXPECT_EQ(v->Marks().Rotation(1), qv::faximage::PageRotation::Half);
  EXPECT_EQ(v->Marks().Rotation(2), qv::faximage::PageRotation::None);
  v->close();

  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  EXPECT_TRUE(in.readAll() == received) << "the received file is byte for byte as it arrived";
  in.close();
  qv::faximage::FaxMarks saved;
  qv::faximage::MarksError error;
  ASSERT_EQ(qv::faximage::LoadMarks(faxPath, saved, error), qv::faximage::MarksLoad::Loaded) << error.Describe();
  auto again = Open(fax);
  EXPECT_EQ(again->Marks(), saved);
  EXPECT_EQ(saved.Rotation(1), qv::faximage::PageRotation::Half);
}

// A mouse drag on the page in viewport pixels, through the points given.
void Drag(QWidget* viewport, const std::vector<QPoint>& path) {
  QTest::mousePress(viewport, Qt::LeftButton, {}, path.front());
  for (size_t i = 1; i < path.size(); ++i) QTest::mouseMove(viewport, path[i]);
  QTest::mouseRelease(viewport, Qt::LeftButton, {}, path.back());
}

void Click(QWidget* viewport, QPoint at) { Drag(viewport, {at}); }

// A form script that types `text` in the form's text field and presses OK.
std::function<int(QDialog*)> TypeIn(const QString& text) {
  return [text](QDialog* d) {
    auto* edit = d->findChild<QLineEdit*>(QStringLiteral("MarkTextEdit"));
    if (!edit) return int(QDialog::Rejected);
    QTest::keyClicks(edit, text);
    return int(QDialog::Accepted);
  };
}

// Every marking tool used the way a person uses it: the mouse on the page, the keyboard for text,
// moving and deleting, undo and redo. The marks are saved, survive closing and reopening exactly,
// and the received fax file is not touched.
TEST_F(FaxViewerFormTest, EveryMarkingToolByMouseAndKeysSurvivesReopening) {
  using qv::faximage::MarkKind;
  const QString fax = Fax(1);
  QFile in(fax);
  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  const QByteArray received = in.readAll();
  in.close();
  // A signature picture as a scanner or a drawing program leaves it: ink on a transparent ground.
  const QString png = dir_.File(QStringLiteral("sig.png"));
  {
    QImage img(120, 40, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setPen(QPen(Qt::black, 4));
    p.drawLine(5, 30, 115, 10);
    p.end();
    ASSERT_TRUE(img.save(png));
  }

  auto v = std::make_unique<TFaxViewer>(Ini());
  v->FaxFileName = fax;
  v->ReceivedStamp = QStringLiteral("Received 10.12.2026 14:03");
  v->show();
  v->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(v.get(), 5000));
  v->ApplyZoom(100);  // one pixel a unit: the page bitmap shows where each mark went
  QWidget* vp = v->Viewer()->viewport();
  ASSERT_GE(vp->width(), 500);
  ASSERT_GE(vp->height(), 500);
  auto black = [&](int x, int y) { return v->Viewer()->CurrentBitmap()->black(x, y); };

  // Every button of the tool bar has a name a screen reader says.
  auto* bar = v->findChild<QToolBar*>(QStringLiteral("MarkTools"));
  ASSERT_NE(bar, nullptr);
  for (QAction* a : bar->actions()) {
    if (a->isSeparator()) continue;
    QWidget* w = bar->widgetForAction(a);
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(w->accessibleName().isEmpty()) << a->objectName().toStdString();
  }

  v->Action("MarkPen")->trigger();
  Drag(vp, {{100, 100}, {150, 100}, {200, 100}});
  EXPECT_TRUE(black(150, 100)) << "the pen line is on the page as it is drawn";
  v->Action("MarkThickPen")->trigger();
  Drag(vp, {{100, 150}, {200, 150}});
  EXPECT_TRUE(black(150, 152)) << "the thick pen is wider than the fine one";
  EXPECT_FALSE(black(150, 102));
  v->Action("MarkHighlight")->trigger();
  Drag(vp, {{100, 200}, {300, 200}});
  v->Action("MarkText")->trigger();
  dialogs_.forms.push_back(TypeIn(QStringLiteral("Approved")));
  Click(vp, {300, 250});
  v->Action("MarkDate")->trigger();
  Click(vp, {300, 320});
  v->Action("MarkReceived")->trigger();
  Click(vp, {300, 390});
  v->Action("MarkCheck")->trigger();
  Click(vp, {50, 300});
  EXPECT_TRUE(black(10, 10)) << "the fax's bar before the white-out";
  v->Action("MarkWhiteout")->trigger();
  // (QTest reads the point (0, 0) as "the middle of the widget".)
  Drag(vp, {{1, 1}, {60, 12}, {121, 26}});
  EXPECT_FALSE(black(10, 10)) << "white-out covers the bar";

  // A signature drawn in the small window with the mouse.
  dialogs_.forms.push_back([](QDialog* d) {
    auto* pad = d->findChild<qv::ui::SignaturePad*>();
    if (!pad) return int(QDialog::Rejected);
    d->show();
    Drag(pad, {{20, 80}, {60, 30}, {100, 90}, {160, 40}});
    return int(QDialog::Accepted);
  });
  v->Action("DrawSignature")->trigger();
  ASSERT_EQ(v->Tool(), TFaxViewer::MarkTool::Signature);
  ASSERT_FALSE(v->CurrentSignature().empty());
  EXPECT_GE(v->CurrentSignature().width, 130) << "the stroke's extent";
  Click(vp, {50, 420});
  // Kept for the next fax, for this user only.
  qv::faximage::MarkPicture kept;
  ASSERT_TRUE(qv::faximage::LoadSignature(dir_.StdPath(), "Signature", kept));
  EXPECT_EQ(kept, v->CurrentSignature());
  // One from a picture file, and one typed (the keyboard's way to sign).
  dialogs_.openFiles.push_back(png);
  v->Action("SignatureFromPicture")->trigger();
  Click(vp, {300, 440});
  dialogs_.forms.push_back(TypeIn(QStringLiteral("Dave Miller")));
  v->Action("TypedSignature")->trigger();
  Click(vp, {50, 470});

  const auto& m = v->Marks().marks;
  ASSERT_EQ(m.size(), 11u);
  const MarkKind kinds[] = {MarkKind::Pen,   MarkKind::Pen,   MarkKind::Highlight, MarkKind::Text,
                            MarkKind::Stamp, MarkKind::Stamp, MarkKind::Check,     MarkKind::Whiteout,
                            MarkKind::Signature, MarkKind::Signature, MarkKind::Signature};
  for (size_t i = 0; i < m.size(); ++i) EXPECT_EQ(m[i].kind, kinds[i]) << i;
  EXPECT_EQ(m[0].size, 2);
  EXPECT_EQ(m[1].size, 5);
  EXPECT_EQ(m[0].points.front(), (qv::faximage::MarkPoint{100, 100}));
  EXPECT_EQ(m[0].points.back(), (qv::faximage::MarkPoint{200, 100}));
  EXPECT_EQ(m[3].text, "Approved");
  EXPECT_EQ(m[4].text, QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy")).toStdString());
  EXPECT_EQ(m[5].text, "Received 10.12.2026 14:03");
  EXPECT_EQ(m[7].x, 1);
  EXPECT_EQ(m[7].w, 121) << "both corners under the pointer are covered";
  EXPECT_EQ(m[7].h, 26);
  EXPECT_NE(m[9].picture, m[8].picture);
  EXPECT_NE(m[10].picture, m[9].picture);
  EXPECT_TRUE(black(m[9].x + m[9].w / 2, m[9].y + m[9].h / 2)) << "the line of the picture's signature";

  // Select the check mark, drag it, nudge it with the keyboard.
  const qv::faximage::Mark check = m[6];
  v->Action("MarkSelect")->trigger();
  Drag(vp, {{50, 300}, {60, 310}, {70, 320}});
  EXPECT_EQ(v->SelectedMark(), 6);
  QTest::keyClick(v->Viewer(), Qt::Key_Right);
  QTest::keyClick(v->Viewer(), Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(v->Marks().marks[6].x, check.x + 20 + 4);
  EXPECT_EQ(v->Marks().marks[6].y, check.y + 20 + 40);
  EXPECT_FALSE(v->Viewer()->Frame().isEmpty()) << "the selection is framed";
  // Delete it, undo and redo by their keys.
  QTest::keyClick(v->Viewer(), Qt::Key_Delete);
  EXPECT_EQ(v->Marks().marks.size(), 10u);
  QTest::keyClick(v->Viewer(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(v->Marks().marks.size(), 11u);
  QTest::keyClick(v->Viewer(), Qt::Key_Y, Qt::ControlModifier);
  EXPECT_EQ(v->Marks().marks.size(), 10u);
  QTest::keyClick(v->Viewer(), Qt::Key_Z, Qt::ControlModifier);
  ASSERT_EQ(v->Marks().marks.size(), 11u);
  EXPECT_TRUE(v->MarksModified());
  QTest::keyClick(v->Viewer(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_FALSE(v->MarksModified());
  const qv::faximage::FaxMarks marked = v->Marks();
  dialogs_.Clear();
  v->close();
  EXPECT_EQ(dialogs_.Count(QStringLiteral("choice")), 0) << "saved marks are not asked about";
  v.reset();

  auto again = Open(fax);
  EXPECT_EQ(again->Marks(), marked);
  EXPECT_FALSE(again->MarksModified());
  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  EXPECT_TRUE(in.readAll() == received) << "the received file is byte for byte as it arrived";
  in.close();

  // A mark put on and the viewer closed: the user is asked; No leaves the file as saved.
  again->ApplyZoom(50);  // half size: a click lands on twice its pixel position in units
  again->Action("MarkCheck")->trigger();
  Click(again->Viewer()->viewport(), {100, 100});
  ASSERT_EQ(again->Marks().marks.size(), 12u);
  EXPECT_EQ(again->Marks().marks.back().x, 200 - 24);
  EXPECT_EQ(again->Marks().marks.back().y, 200 - 24);
  dialogs_.choices.push_back(DialogService::Choice::Cancel);
  again->close();
  EXPECT_TRUE(again->isVisible()) << "Cancel keeps the viewer open with its marks";
  dialogs_.choices.push_back(DialogService::Choice::No);
  again->close();
  EXPECT_FALSE(again->isVisible());
  qv::faximage::FaxMarks onDisk;
  qv::faximage::MarksError error;
  ASSERT_EQ(qv::faximage::LoadMarks(fax.toStdString(), onDisk, error), qv::faximage::MarksLoad::Loaded);
  EXPECT_EQ(onDisk, marked);
}

// A standard-resolution fax in the viewer (shown at half width without marks): marks drawn on it
// show, land where the pointer was in page units, and keep the page's proportions.
TEST_F(FaxViewerFormTest, MarksOnAStandardPageShowWhereTheyWereDrawn) {
  const QString fax = dir_.File(QStringLiteral("standard.qvf"));
  ASSERT_TRUE(uit::WriteFax(fax, {uit::FaxPage{1728, 300, false, [](int, int y) { return y < 10; }}}));
  auto v = Open(fax);
  v->ApplyZoom(50);
  QWidget* vp = v->Viewer()->viewport();
  v->Action("MarkThickPen")->trigger();
  Drag(vp, {{100, 100}, {300, 100}});
  ASSERT_EQ(v->Marks().marks.size(), 1u);
  // The page was already shown as it is marked: the second stroke lands by the same measure.
  Drag(vp, {{100, 120}, {300, 120}});
  ASSERT_EQ(v->Marks().marks.size(), 2u);
  EXPECT_EQ(v->Marks().marks[1].points.front(), (qv::faximage::MarkPoint{200, 240}));
  // Half size of a page shown in fine rows: a pixel is two units each way.
  EXPECT_EQ(v->Marks().marks[0].points.front(), (qv::faximage::MarkPoint{200, 200}));
  const qv::faximage::PageBitmap* bm = v->Viewer()->CurrentBitmap();
  ASSERT_NE(bm, nullptr);
  EXPECT_EQ(bm->width, 1728);
  EXPECT_EQ(bm->height, 600) << "rows doubled, so the page keeps its proportions";
  EXPECT_TRUE(bm->black(400, 200)) << "the mark shows on a standard page";
  EXPECT_TRUE(bm->black(400, 5)) << "and so does the fax";
  // Scrolled across at full size: the mark lands under the pointer and the page stays where it was.
  v->ApplyZoom(100);
  v->Viewer()->horizontalScrollBar()->setValue(300);
  ASSERT_EQ(v->Viewer()->HScrollPos(), 300);
  v->Action("MarkCheck")->trigger();
  Click(vp, {100, 300});
  EXPECT_EQ(v->Marks().marks.back().x, 400 - 24);
  EXPECT_EQ(v->Marks().marks.back().y, 300 - 24);
  EXPECT_EQ(v->Viewer()->HScrollPos(), 300) << "putting a mark on does not scroll the page away";
  EXPECT_TRUE(v->SaveMarksFile());
}

// Without a mouse: Enter places a stamp in the middle of what is shown and selects it, the arrow
// keys take it to its place.
TEST_F(FaxViewerFormTest, AStampPlacedAndMovedFromTheKeyboard) {
  auto v = Open(Fax(1));
  v->ApplyZoom(100);
  v->Action("MarkDate")->trigger();
  v->Viewer()->setFocus();
  QTest::keyClick(v->Viewer(), Qt::Key_Return);
  ASSERT_EQ(v->Marks().marks.size(), 1u);
  EXPECT_EQ(v->Marks().marks[0].kind, qv::faximage::MarkKind::Stamp);
  QPoint middle;
  ASSERT_TRUE(v->Viewer()->UnitsAt(v->Viewer()->viewport()->rect().center(), middle));
  EXPECT_EQ(v->Marks().marks[0].x, middle.x());
  EXPECT_EQ(v->Tool(), TFaxViewer::MarkTool::Select);
  EXPECT_EQ(v->SelectedMark(), 0);
  QTest::keyClick(v->Viewer(), Qt::Key_Left, Qt::ShiftModifier);
  QTest::keyClick(v->Viewer(), Qt::Key_Up);
  EXPECT_EQ(v->Marks().marks[0].x, middle.x() - 40);
  EXPECT_EQ(v->Marks().marks[0].y, middle.y() - 4);
  EXPECT_EQ(v->Marks().marks.size(), 1u) << "arrows move, they place nothing";
  EXPECT_TRUE(v->SaveMarksFile());
}

// A damaged marks file: the fax still opens, the user is told which file and why, and nothing is
// saved over the file (a turn is refused).
TEST_F(FaxViewerFormTest, DamagedMarksFileIsReportedAndLeftAlone) {
  const QString fax = Fax(2);
  const QString marksFile = QString::fromStdString(qv::faximage::MarksFileName(fax.toStdString()));
  {
    QFile f(marksFile);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("QVMARKS 1\nblot 1\n");
  }
  auto v = Open(fax);
  EXPECT_EQ(v->StatusText(), QStringLiteral("Page 1 of 2"));
  ASSERT_EQ(dialogs_.Infos().size(), 1);
  EXPECT_TRUE(dialogs_.Infos()[0].contains(marksFile)) << dialogs_.Infos()[0].toStdString();
  EXPECT_TRUE(dialogs_.Infos()[0].contains(QStringLiteral("line 2: unknown mark \"blot\"")));
  EXPECT_TRUE(v->MarksDamaged());
  EXPECT_TRUE(v->Viewer()->CurrentBitmap()->black(50, 10)) << "the fax as received";
  EXPECT_FALSE(v->TurnPageUpsideDown());
  EXPECT_FALSE(v->Action("TurnPageUpsideDown")->isEnabled());
  v->Action("MarkPen")->trigger();
  EXPECT_EQ(v->Tool(), TFaxViewer::MarkTool::Browse) << "no marking over marks that could not be read";
  v->close();
  QFile f(marksFile);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("QVMARKS 1\nblot 1\n"));
}

TEST_F(FaxViewerFormTest, PrintOptionsRangeAndStoredChoices) {
  auto v = Open(Fax(5));
  const QString pdf = dir_.File(QStringLiteral("print.pdf"));
  v->Printer()->SetOutputPdf(pdf);
  bool beeped = false;
  dialogs_.forms.push_back([&](QDialog* d) {
    auto* f = qobject_cast<TPrePrintForm*>(d);
    EXPECT_NE(f, nullptr);
    if (!f) return int(QDialog::Rejected);
    EXPECT_EQ(f->windowTitle(), QStringLiteral("Print"));
    EXPECT_EQ(f->FromPage()->value(), 1);
    EXPECT_EQ(f->ToPage()->value(), 5);
    EXPECT_EQ(f->ToPage()->maximum(), 5);
    // From 5 to 2: Ok beeps and the form stays.
    f->FromPage()->setValue(5);
    f->ToPage()->setValue(2);
    f->OkButton()->click();
    beeped = dialogs_.beeps == 1 && f->result() != QDialog::Accepted;
    f->FromPage()->setValue(2);
    f->ToPage()->setValue(4);
    f->PrintMultiPage()->setChecked(true);
    f->PrintHeader()->setChecked(true);
    f->PrintFooter()->setChecked(true);
    f->OkButton()->click();
    return f->result();
  });
  v->PrintClick(false);  // (the Print button is off on a machine without printers)
  EXPECT_TRUE(beeped);
  ASSERT_EQ(PdfPages(pdf), 1);  // pages 2 to 4, four to a sheet
  const QString text = Tool(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
  EXPECT_TRUE(text.contains(QStringLiteral("From: Dave"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("Page: 3 of 5"))) << text.toStdString();
  // The log beside the settings file.
  QFile log(dir_.File(QStringLiteral("FAXPRINT.LOG")));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  EXPECT_TRUE(log.readAll().contains(" finished at "));
  // Stored in the settings file, and offered the next time (also after a restart).
  TSettings fresh;
  LoadPrintOptions(fresh, Ini());
  EXPECT_TRUE(fresh.PrintMultiPage);
  EXPECT_TRUE(fresh.PrintHeader);
  EXPECT_TRUE(fresh.PrintFooter);
  EXPECT_FALSE(fresh.PrintStretch);
  Settings() = TSettings();

  // Print current page on page 3: only that page, never four to a sheet; the next Print offers
  // the range chosen before.
  v->Viewer()->SetActivePage(3);
  dialogs_.forms.push_back([&](QDialog* d) {
    auto* f = qobject_cast<TPrePrintForm*>(d);
    EXPECT_FALSE(f->FromPage()->isEnabled());
    EXPECT_FALSE(f->ToPage()->isEnabled());
    EXPECT_FALSE(f->PrintMultiPage()->isEnabled());
    EXPECT_EQ(f->FromPage()->value(), 3);
    EXPECT_TRUE(f->PrintMultiPage()->isChecked());  // as stored, though it does not apply
    EXPECT_TRUE(f->PrintHeader()->isChecked());
    return int(QDialog::Accepted);
  });
  v->Button("PrintSinglePageButton")->click();
  EXPECT_EQ(PdfPages(pdf), 1);
  EXPECT_TRUE(Tool(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}).contains(QStringLiteral("Page: 3 of 5")));
  EXPECT_EQ(v->Printer()->FirstPageToPrint(), 1);
  EXPECT_EQ(v->Printer()->LastPageToPrint(), 5);
  int offeredFrom = 0, offeredTo = 0;
  dialogs_.forms.push_back([&](QDialog* d) {
    auto* f = qobject_cast<TPrePrintForm*>(d);
    offeredFrom = f->FromPage()->value();
    offeredTo = f->ToPage()->value();
    return int(QDialog::Rejected);
  });
  v->PrintClick(false);  // (the Print button is off on a machine without printers)
  EXPECT_EQ(offeredFrom, 1);
  EXPECT_EQ(offeredTo, 5);
}

class ViewFromMainWindowTest : public FaxViewerFormTest {
 protected:
  std::unique_ptr<TMainScreen> Start() {
    core::TIniFile(Ini()).WriteInteger("Modem", "ComPort", 0);
    {
      TFaxStore store(dir_.StdPath());
      store.OpenFaxDBF();
      store.OpenRecFaxDBF();
      store.RebuildIndexes(nullptr);
    }
    auto w = std::make_unique<TMainScreen>(dir_.Path());
    w->show();
    QElapsedTimer clock;
    clock.start();
    while (!w->FirstActivationDone() && w->TablesOpen() && clock.elapsed() < 10000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    dialogs_.Clear();
    return w;
  }
};

TEST_F(ViewFromMainWindowTest, ViewAndPrintOfAReceivedFax) {
  auto w = Start();
  ASSERT_TRUE(test::AddReceived(w->Store(), "  Dave  ", "FAX0001.QVF", "20261201", "10:30"));
  // The record's file is a real fax.
  ASSERT_TRUE(uit::WriteFax(dir_.File(QStringLiteral("receive/FAX0001.QVF")),
                            {uit::NumberedPage(1), uit::NumberedPage(2)}));
  w->RefreshGrids();
  w->SetCurrentPage(TMainScreen::kIncomingPage);
  w->SetButtons();
  QString shownFile, header, status, stamp;
  bool markable = false;
  int pages = 0;
  dialogs_.forms.push_back([&](QDialog* d) {
    auto* v = qobject_cast<TFaxViewer*>(d);
    EXPECT_NE(v, nullptr);
    if (!v) return int(QDialog::Rejected);
    v->FormActivate();
    shownFile = v->FaxFileName;
    header = v->PrintHeaderText;
    stamp = v->ReceivedStamp;
    markable = v->Action("MarkPen")->isEnabled();
    status = w->StatusText();
    pages = v->Viewer()->NumPages();
    return int(QDialog::Rejected);
  });
  w->findChild<QToolButton*>(QStringLiteral("ViewFaxButton"))->click();
  EXPECT_EQ(QFileInfo(shownFile).fileName(), QStringLiteral("FAX0001.QVF"));
  EXPECT_EQ(pages, 2);
  EXPECT_EQ(status, QString::fromLatin1(kLoadingViewerText));
  EXPECT_EQ(stamp, QStringLiteral("Received 01.12.2026 10:30")) << "the stamp from the record, not the clock";
  EXPECT_TRUE(markable);
  EXPECT_TRUE(header.startsWith(QStringLiteral("From: Dave             Received: "))) << header.toStdString();
  EXPECT_TRUE(header.endsWith(QStringLiteral("             Fax File: ") + shownFile.toLower())) << header.toStdString();
  EXPECT_EQ(w->StatusText(), QString());
  EXPECT_TRUE(dialogs_.Infos().isEmpty());

  // Print: the options form, then the main window's printer (into a PDF here).
  const QString pdf = dir_.File(QStringLiteral("main.pdf"));
  w->FaxPrinter().SetOutputPdf(pdf);
  dialogs_.forms.push_back([&](QDialog* d) {
    auto* f = qobject_cast<TPrePrintForm*>(d);
    EXPECT_NE(f, nullptr);
    if (!f) return int(QDialog::Rejected);
    EXPECT_EQ(f->ToPage()->value(), 2);
    f->PrintHeader()->setChecked(true);
    return int(QDialog::Accepted);
  });
  w->findChild<QToolButton*>(QStringLiteral("Printbutton"))->click();
  EXPECT_EQ(PdfPages(pdf), 2);
  EXPECT_TRUE(Tool(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}).contains(QStringLiteral("From: Dave")));
  EXPECT_TRUE(QFileInfo::exists(dir_.File(QStringLiteral("FAXPRINT.LOG"))));

  // A record whose file is gone.
  ASSERT_TRUE(QFile::remove(dir_.File(QStringLiteral("receive/FAX0001.QVF"))));
  w->findChild<QToolButton*>(QStringLiteral("ViewFaxButton"))->click();
  EXPECT_EQ(dialogs_.Infos(), QStringList{QString::fromLatin1(kFaxFileMissingText)});
}

TEST_F(ViewFromMainWindowTest, AnOutgoingFaxIsShownFromAFileRenderedForItAndRemovedAfter) {
  auto w = Start();
  ASSERT_TRUE(test::AddFaxWithMemos(w->Store(), test::RtfPages(1, "Cover"), test::RtfPages(2, "Letter"), "Ann Example",
                                    "5550100", "Figures"));
  w->RefreshGrids();
  w->SetCurrentPage(TMainScreen::kOutgoingPage);
  w->SetButtons();
  QString shownFile, header;
  int pages = 0;
  bool existedWhileShown = false;
  bool markable = true;
  dialogs_.forms.push_back([&](QDialog* d) {
    auto* v = qobject_cast<TFaxViewer*>(d);
    EXPECT_NE(v, nullptr);
    if (!v) return int(QDialog::Rejected);
    v->FormActivate();
    shownFile = v->FaxFileName;
    header = v->PrintHeaderText;
    existedWhileShown = QFileInfo::exists(shownFile);
    pages = v->Viewer()->NumPages();
    markable = v->Action("MarkPen")->isEnabled() || v->Action("TurnPageUpsideDown")->isEnabled();
    return int(QDialog::Rejected);
  });
  w->findChild<QToolButton*>(QStringLiteral("ViewFaxButton"))->click();
  EXPECT_TRUE(existedWhileShown);
  EXPECT_FALSE(markable) << "marks beside a passing copy would be left behind";
  EXPECT_EQ(pages, 3);
  EXPECT_TRUE(header.startsWith(QStringLiteral("To: Ann Example             Subject: Figures             Sent: ")))
      << header.toStdString();
  EXPECT_FALSE(QFileInfo::exists(shownFile)) << shownFile.toStdString();
  EXPECT_TRUE(dialogs_.Infos().isEmpty());

  // A fax with nothing in it: the rendering's message, then the command's.
  ASSERT_TRUE(test::AddFaxWithMemos(w->Store(), "", ""));
  w->RefreshGrids();
  dialogs_.Clear();
  w->findChild<QToolButton*>(QStringLiteral("ViewFaxButton"))->click();
  EXPECT_EQ(dialogs_.Infos(), (QStringList{QStringLiteral("Fax has no contents or cover sheet"),
                                           QString::fromLatin1(kCreateFaxFailedText)}));
  EXPECT_EQ(dialogs_.Count(QStringLiteral("form")), 0);
}

}  // namespace
}  // namespace qv::app
