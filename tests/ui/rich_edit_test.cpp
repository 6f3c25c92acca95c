// The editor widget against its model: content in and out unchanged (at any zoom), merge fields,
// the tool bar's actions, word wrap and the page layout.
#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QBuffer>
#include <QClipboard>
#include <QMimeData>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>
#include <QTextList>
#include <QTextTable>
#include <QToolBar>
#include <QToolButton>

#include "ui/rich_document.h"
#include "ui/rich_edit.h"
#include "rtf/rtf_writer.h"
#include "ui_test_support.h"

namespace qv::rtf {
// A failed comparison shows the document as RTF.
void PrintTo(const Document& doc, std::ostream* os) { *os << WriteRtf(doc); }
}  // namespace qv::rtf

using namespace qv;
using namespace qv::ui;
using namespace qv::ui::test;

namespace {

std::vector<uint8_t> PngBytes(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(Qt::white);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if ((x / 4 + y / 4) % 2) img.setPixel(x, y, qRgb(20, 40, 200));
  QByteArray b;
  QBuffer buf(&b);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "PNG");
  return {b.begin(), b.end()};
}

// A document that uses every attribute the editor can hold.
rtf::Document RichSample() {
  rtf::Document doc;
  doc.page = {12240, 15840, 1080, 720, 900, 1440};
  rtf::CharFormat bold;
  bold.bold = true;
  bold.halfPoints = 28;
  rtf::CharFormat fancy;
  fancy.fontName = "DejaVu Serif";
  fancy.italic = true;
  fancy.underline = true;
  fancy.strikeOut = true;
  fancy.color = 0x2040A0;
  fancy.halfPoints = 19;  // 9.5 points
  rtf::CharFormat sub;
  sub.verticalAlign = rtf::VerticalAlign::Subscript;
  rtf::CharFormat sup;
  sup.verticalAlign = rtf::VerticalAlign::Superscript;
  sup.halfPoints = 16;

  rtf::ParaFormat centred;
  centred.alignment = rtf::Alignment::Center;
  centred.spaceAfter = 240;
  rtf::ParaFormat indented;
  indented.alignment = rtf::Alignment::Justify;
  indented.leftIndent = 720;
  indented.rightIndent = 360;
  indented.firstIndent = -360;
  indented.spaceBefore = 120;
  indented.lineHeight = 360;
  rtf::ParaFormat newPage;
  newPage.alignment = rtf::Alignment::Right;
  newPage.pageBreakBefore = true;

  doc.paragraphs.push_back(Para({TextRun("Quarterly report", bold)}, centred));
  doc.paragraphs.push_back(Para({TextRun("Plain start, "), TextRun("styled middle", fancy),
                                 TextRun(" H"), TextRun("2", sub), TextRun("O and x"),
                                 TextRun("2", sup), TextRun(" \xC3\xA9t\xC3\xA9 \xE2\x82\xAC")},
                                indented));
  doc.paragraphs.push_back(Para({}));  // an empty line
  doc.paragraphs.push_back(Para({TextRun("Line one\nline two\tafter a tab")}));
  rtf::Run pic;
  pic.kind = rtf::Run::Kind::Picture;
  pic.picture.format = rtf::PictureFormat::Png;
  pic.picture.data = PngBytes(40, 24);
  pic.picture.pixelWidth = 40;
  pic.picture.pixelHeight = 24;
  pic.picture.widthTwips = 1200;
  pic.picture.heightTwips = 720;
  doc.paragraphs.push_back(Para({TextRun("Dear "), FieldRun(1, "[RECIPIENT]", bold),
                                 TextRun(", see "), pic, TextRun(" on "),
                                 FieldRun(4, "[DATE]"), FieldRun(4, "[DATE]")},
                                newPage));
  return doc;
}

QAction* Action(TQvRichEdit& e, const char* name) {
  QAction* a = e.findChild<QAction*>(QString::fromLatin1(name));
  EXPECT_NE(a, nullptr) << name;
  return a;
}

void Select(TQvRichEdit& e, int from, int to) {
  QTextCursor c = e.TextEdit()->textCursor();
  c.setPosition(from);
  c.setPosition(to, QTextCursor::KeepAnchor);
  e.TextEdit()->setTextCursor(c);
}

class RichEditTest : public ::testing::Test {
 protected:
  void SetUp() override { App(); }
};

}  // namespace

TEST_F(RichEditTest, ContentComesBackUnchangedAtEveryZoom) {
  TQvRichEdit e;
  e.resize(900, 700);
  rtf::Document doc = RichSample();
  e.SetDocument(doc);
  EXPECT_EQ(e.ToDocument(), doc);
  EXPECT_EQ(e.PageSetup(), doc.page);
  EXPECT_EQ(e.LineCount(), int(doc.paragraphs.size())) << "a line break is no new paragraph";
  for (int zoom : {70, 80, 100, 137, 200}) {
    e.SetZoom(zoom);
    EXPECT_EQ(e.Zoom(), zoom);
    EXPECT_EQ(e.ToDocument(), doc) << "zoom " << zoom;
  }
  EXPECT_FALSE(e.IsEmpty());
  e.Clear();
  EXPECT_TRUE(e.IsEmpty());
  EXPECT_TRUE(e.ToDocument().paragraphs.empty());
  EXPECT_EQ(e.PageSetup(), doc.page) << "clearing the text keeps the page setup";
}

TEST_F(RichEditTest, ZoomScalesTheViewNotTheReportedFont) {
  TQvRichEdit e;
  rtf::Document doc;
  doc.paragraphs.push_back(Para({TextRun(Words(400))}));
  e.SetDocument(doc);
  int pages100 = e.TextEdit()->document()->pageCount();
  double height100 = e.TextEdit()->document()->pageSize().height();
  e.SetZoom(80);
  EXPECT_NEAR(e.TextEdit()->document()->pageSize().height(), height100 * 0.8, 1.0);
  EXPECT_NEAR(e.TextEdit()->document()->pageCount(), pages100, 1);
  e.SetCaretToStart();
  EXPECT_EQ(e.CurrentFont().pointSize, 12);
  EXPECT_EQ(e.TextEdit()->textCursor().position(), 0);
}

TEST_F(RichEditTest, MergeFieldsShowPlaceholderOrValueCutAndStayFields) {
  TQvRichEdit e;
  rtf::Document doc;
  doc.paragraphs.push_back(Para({TextRun("To: "), FieldRun(1, "[RECIPIENT]"), TextRun(" / "),
                                 FieldRun(3, "[SUBJECT]")}));
  e.SetDocument(doc);
  EXPECT_EQ(e.TextEdit()->toPlainText(), "To: [RECIPIENT] / [SUBJECT]");
  // Shown red.
  QTextCursor c(e.TextEdit()->document());
  c.setPosition(6);
  EXPECT_EQ(c.charFormat().foreground().color().rgb() & 0xFFFFFF, kMergeFieldColor);

  QString longName(150, QLatin1Char('N'));
  e.FieldValue = [&](int kind) { return kind == 1 ? longName : QString(); };
  e.Repaint();
  QString shown = e.TextEdit()->toPlainText();
  EXPECT_EQ(shown, "To: " + QString(kMaxMergeFieldLength, QLatin1Char('N')) + " / [SUBJECT]")
      << "a value is cut to the maximum and an empty one keeps the placeholder";
  EXPECT_EQ(e.ToDocument(), doc) << "the stored text holds the fields, not their values";

  longName = "Ann";
  e.Reformat();
  EXPECT_EQ(e.TextEdit()->toPlainText(), "To: Ann / [SUBJECT]");

  // Text typed just after a field is ordinary text, not part of the field.
  e.Clear();
  e.InsertMergeField(2, "[FAX#]");
  QTest::keyClicks(e.TextEdit(), "x");
  rtf::Document typed = e.ToDocument();
  ASSERT_EQ(typed.paragraphs.size(), 1u);
  ASSERT_EQ(typed.paragraphs[0].runs.size(), 2u);
  EXPECT_EQ(typed.paragraphs[0].runs[0].kind, rtf::Run::Kind::Field);
  EXPECT_EQ(typed.paragraphs[0].runs[0].field.kind, 2);
  EXPECT_EQ(typed.paragraphs[0].runs[1].text, "x");
  EXPECT_FALSE(typed.paragraphs[0].runs[1].format.color.has_value());
  EXPECT_EQ(CutFieldValue(QString(100, 'a') + "b"), QString(100, 'a'));
}

TEST_F(RichEditTest, ToolBarActionsAreNamedAndChangeFormats) {
  TQvRichEdit e;
  const char* names[] = {"NormalButton", "BoldButton", "ItalicButton", "UnderlineButton",
                         "StrikeOutButton", "SubscriptButton", "SuperscriptButton",
                         "AlignLeftButton", "AlignCenterButton", "AlignRightButton",
                         "JustifyButton", "CutButton", "CopyButton", "PasteButton",
                         "SelectAllButton", "FindButton", "ReplaceButton", "SpellButton",
                         "InsertPictureButton", "InsertPdfButton"};
  for (const char* n : names) {
    QAction* a = Action(e, n);
    ASSERT_NE(a, nullptr);
    EXPECT_FALSE(a->toolTip().isEmpty()) << n;
    QWidget* w = e.ToolBar()->widgetForAction(a);
    ASSERT_NE(w, nullptr) << n;
    EXPECT_EQ(w->objectName(), QString::fromLatin1(n));
    EXPECT_FALSE(w->accessibleName().isEmpty()) << n;
  }
  // The character and paragraph buttons are pictures, named by their captions, so the whole bar
  // fits above a letter-wide editor with room for the form's own buttons.
  for (const char* n : {"BoldButton", "SubscriptButton", "JustifyButton"}) {
    auto* button = qobject_cast<QToolButton*>(e.ToolBar()->widgetForAction(Action(e, n)));
    ASSERT_NE(button, nullptr) << n;
    EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonIconOnly) << n;
    EXPECT_FALSE(button->icon().isNull()) << n;
    EXPECT_EQ(button->accessibleName(), Action(e, n)->text()) << n;
  }
  constexpr int kEditorFormWidth = 760;
  EXPECT_LE(e.ToolBar()->sizeHint().width(), kEditorFormWidth);

  rtf::Document doc;
  doc.paragraphs.push_back(Para({TextRun("alpha beta gamma")}));
  e.SetDocument(doc);
  Select(e, 6, 10);  // "beta"
  Action(e, "BoldButton")->trigger();
  Action(e, "ItalicButton")->trigger();
  Action(e, "UnderlineButton")->trigger();
  Action(e, "StrikeOutButton")->trigger();
  Action(e, "SuperscriptButton")->trigger();
  Action(e, "AlignCenterButton")->trigger();
  rtf::Document out = e.ToDocument();
  ASSERT_EQ(out.paragraphs[0].runs.size(), 3u);
  const rtf::CharFormat& f = out.paragraphs[0].runs[1].format;
  EXPECT_EQ(out.paragraphs[0].runs[1].text, "beta");
  EXPECT_TRUE(f.bold && f.italic && f.underline && f.strikeOut);
  EXPECT_EQ(f.verticalAlign, rtf::VerticalAlign::Superscript);
  EXPECT_EQ(out.paragraphs[0].format.alignment, rtf::Alignment::Center);
  EXPECT_TRUE(Action(e, "BoldButton")->isChecked()) << "the buttons follow the selection";

  Action(e, "SubscriptButton")->trigger();
  EXPECT_EQ(e.ToDocument().paragraphs[0].runs[1].format.verticalAlign, rtf::VerticalAlign::Subscript);
  Action(e, "NormalButton")->trigger();
  out = e.ToDocument();
  ASSERT_EQ(out.paragraphs[0].runs.size(), 1u) << "normal makes the run plain again";
  EXPECT_FALSE(out.paragraphs[0].runs[0].format.bold);
  Action(e, "JustifyButton")->trigger();
  EXPECT_EQ(e.CurrentParagraph().alignment, rtf::Alignment::Justify);

  Action(e, "SelectAllButton")->trigger();
  EXPECT_EQ(e.TextEdit()->textCursor().selectedText(), "alpha beta gamma");
  Action(e, "CutButton")->trigger();
  EXPECT_TRUE(e.IsEmpty());
  Action(e, "PasteButton")->trigger();
  EXPECT_EQ(e.TextEdit()->toPlainText(), "alpha beta gamma");

  QSignalSpy spell(&e, &TQvRichEdit::SpellCheckRequested);
  Action(e, "SpellButton")->trigger();
  EXPECT_EQ(spell.count(), 1);
}

TEST_F(RichEditTest, ParagraphAndFontAttributesAtTheCaret) {
  TQvRichEdit e;
  e.SetZoom(80);
  rtf::Document doc;
  doc.paragraphs.push_back(Para({TextRun("first")}));
  doc.paragraphs.push_back(Para({TextRun("second")}));
  e.SetDocument(doc);
  QTextCursor c = e.TextEdit()->textCursor();
  c.setPosition(8);
  e.TextEdit()->setTextCursor(c);
  ParagraphAttributes p;
  p.firstIndent = 283;
  p.leftIndent = 1134;
  p.rightIndent = 567;
  p.spaceBefore = 240;
  p.spaceAfter = 100;
  p.lineHeight = 400;
  p.pageBreakBefore = true;
  e.SetCurrentParagraph(p);
  EXPECT_EQ(e.CurrentParagraph(), p);
  rtf::Document out = e.ToDocument();
  EXPECT_EQ(out.paragraphs[1].format, p);
  EXPECT_EQ(out.paragraphs[0].format, rtf::ParaFormat{});

  FontAttributes f{"DejaVu Serif", 15, true, false, true};
  Select(e, 0, 5);
  e.SetCurrentFont(f);
  EXPECT_EQ(e.CurrentFont(), f);
  EXPECT_EQ(e.ToDocument().paragraphs[0].runs[0].format.halfPoints, 30);
}

TEST_F(RichEditTest, DefaultFontIsTheFontOfNewText) {
  TQvRichEdit e;
  FontAttributes f{"DejaVu Sans Mono", 11, false, true, false};
  e.SetDefaultFont(f);
  e.TextEdit()->setFocus();
  QTest::keyClicks(e.TextEdit(), "typed");
  rtf::Document out = e.ToDocument();
  ASSERT_EQ(out.paragraphs.size(), 1u);
  ASSERT_EQ(out.paragraphs[0].runs.size(), 1u);
  EXPECT_EQ(out.paragraphs[0].runs[0].format.fontName, "DejaVu Sans Mono");
  EXPECT_EQ(out.paragraphs[0].runs[0].format.halfPoints, 22);
  EXPECT_TRUE(out.paragraphs[0].runs[0].format.italic);
  e.Clear();
  QTest::keyClicks(e.TextEdit(), "again");
  EXPECT_EQ(e.ToDocument().paragraphs[0].runs[0].format.halfPoints, 22)
      << "the default survives clearing";
}

TEST_F(RichEditTest, WordWrapOffKeepsLongLinesWhole) {
  TQvRichEdit e;
  e.resize(800, 600);
  rtf::Document doc;
  doc.paragraphs.push_back(Para({TextRun(Words(120))}));
  e.SetDocument(doc);
  QTextDocument* d = e.TextEdit()->document();
  auto lines = [&] {
    d->documentLayout()->blockBoundingRect(d->begin());  // lays the block out
    return d->begin().layout()->lineCount();
  };
  EXPECT_TRUE(e.WordWrap());
  EXPECT_GT(lines(), 3);
  e.SetWordWrap(false);
  EXPECT_FALSE(e.WordWrap());
  EXPECT_EQ(lines(), 1);
  e.SetWordWrap(true);
  EXPECT_GT(lines(), 3);
  EXPECT_EQ(e.ToDocument(), doc);
}

TEST_F(RichEditTest, PagesOfThePageSizeWithBreaksStartingPages) {
  TQvRichEdit e;
  e.resize(900, 700);
  e.show();
  rtf::Document doc;
  doc.paragraphs.push_back(Para({TextRun("cover line")}));
  rtf::ParaFormat brk;
  brk.pageBreakBefore = true;
  doc.paragraphs.push_back(Para({TextRun("page two")}, brk));
  doc.paragraphs.push_back(Para({TextRun("page three")}, brk));
  e.SetDocument(doc);
  QTest::qWait(0);
  QTextDocument* d = e.TextEdit()->document();
  const double ph = d->pageSize().height();
  EXPECT_NEAR(ph, 15840 / 1440.0 * e.TextEdit()->logicalDpiY(), 1.0) << "the sheet height";
  EXPECT_EQ(d->pageCount(), 3);
  QTextBlock b = d->begin().next();
  double y2 = d->documentLayout()->blockBoundingRect(b).top();
  double y3 = d->documentLayout()->blockBoundingRect(b.next()).top();
  EXPECT_GE(y2, ph) << "the break starts page two";
  EXPECT_GE(y3, 2 * ph);
  // A resize relayouts the widget; the pages must stay.
  e.resize(500, 400);
  QTest::qWait(0);
  EXPECT_EQ(d->pageCount(), 3);
  EXPECT_EQ(e.LineCount(), 3);
  QImage shot = e.grab().toImage();
  EXPECT_FALSE(shot.isNull());
}

TEST_F(RichEditTest, RtfInAndOutThroughTheMemo) {
  TQvRichEdit a, b;
  rtf::Document doc = RichSample();
  doc.paragraphs[0].format.pageBreakBefore = true;  // kept even on the first paragraph
  a.SetDocument(doc);
  std::string memo = a.SaveRtf();
  ASSERT_EQ(memo.rfind("{\\rtf", 0), 0u);
  std::string error;
  ASSERT_TRUE(b.LoadRtf(memo, &error)) << error;
  EXPECT_EQ(b.ToDocument(), doc);
  EXPECT_EQ(b.TextEdit()->document()->pageCount(), 2) << "no empty first page";

  // A damaged memo is refused with a message and the shown content stays.
  QSignalSpy changed(&b, &TQvRichEdit::ContentChanged);
  EXPECT_FALSE(b.LoadRtf("{\\rtf1 {\\b unbalanced", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(b.ToDocument(), doc);
  EXPECT_EQ(changed.count(), 0);
}

namespace {

rtf::Paragraph ListPara(const std::string& text, rtf::ListStyle style, int list, int level) {
  rtf::Paragraph p = Para({TextRun(text)});
  p.list = {style, list, level};
  return p;
}

rtf::Paragraph CellPara(const std::string& text, int table, int row, int column, int width, bool borders = true) {
  rtf::Paragraph p = Para(text.empty() ? std::vector<rtf::Run>{} : std::vector<rtf::Run>{TextRun(text)});
  p.cell = {table, row, column, width, borders};
  return p;
}

// Lists (nested, numbered again after a lower level, interrupted) and tables (one first in the
// document, one after text, cells of several paragraphs and empty ones).
rtf::Document ListsAndTablesSample() {
  rtf::Document doc;
  doc.paragraphs.push_back(CellPara("Item", 1, 0, 0, 2880));
  doc.paragraphs.push_back(CellPara("Price", 1, 0, 1, 1440));
  doc.paragraphs.push_back(CellPara("Paper", 1, 1, 0, 2880));
  doc.paragraphs.push_back(CellPara("A4, white", 1, 1, 0, 2880));
  doc.paragraphs.push_back(CellPara("", 1, 1, 1, 1440));
  doc.paragraphs.push_back(Para({TextRun("Steps:")}));
  doc.paragraphs.push_back(ListPara("Dial", rtf::ListStyle::Decimal, 1, 0));
  doc.paragraphs.push_back(ListPara("wait for the tone", rtf::ListStyle::LowerAlpha, 1, 1));
  doc.paragraphs.push_back(ListPara("Send", rtf::ListStyle::Decimal, 1, 0));
  doc.paragraphs.push_back(ListPara("check the report", rtf::ListStyle::LowerAlpha, 1, 1));
  doc.paragraphs.push_back(Para({TextRun("Notes:")}));
  doc.paragraphs.push_back(ListPara("bullet", rtf::ListStyle::Bullet, 2, 0));
  doc.paragraphs.push_back(ListPara("Confirm", rtf::ListStyle::Decimal, 1, 0));
  doc.paragraphs.push_back(CellPara("plain", 2, 0, 0, 2000, false));
  doc.paragraphs.push_back(CellPara("grid", 2, 0, 1, 3000, false));
  return doc;
}

QMimeData* Clipboard() { return const_cast<QMimeData*>(QApplication::clipboard()->mimeData()); }

}  // namespace

TEST_F(RichEditTest, ListsAndTablesAreShownAsTheyAreStored) {
  TQvRichEdit e;
  e.resize(900, 700);
  const rtf::Document doc = ListsAndTablesSample();
  e.SetDocument(doc);
  EXPECT_EQ(e.ToDocument(), doc);
  QTextDocument* d = e.TextEdit()->document();
  // The numbers the reader sees: a deeper level starts again after each item of a lower one.
  std::vector<QString> markers;
  for (QTextBlock b = d->begin(); b.isValid(); b = b.next())
    if (b.textList())
      markers.push_back(b.textList()->format().style() == QTextListFormat::ListDisc ? QStringLiteral("disc")
                                                                                     : b.textList()->itemText(b));
  EXPECT_EQ(markers, (std::vector<QString>{"1.", "a.", "2.", "a.", "disc", "3."}));
  int tables = 0;
  for (QTextFrame* f : d->rootFrame()->childFrames())
    if (auto* t = qobject_cast<QTextTable*>(f)) {
      ++tables;
      EXPECT_EQ(t->columns(), 2);
    }
  EXPECT_EQ(tables, 2);
  for (int zoom : {70, 150}) {
    e.SetZoom(zoom);
    EXPECT_EQ(e.ToDocument(), doc) << "zoom " << zoom;
  }
  TQvRichEdit back;
  std::string error;
  ASSERT_TRUE(back.LoadRtf(e.SaveRtf(), &error)) << error;
  rtf::Document stored = back.ToDocument();
  EXPECT_EQ(stored, doc);

  // Columns without a width share the text width.
  rtf::Document shared = doc;
  shared.paragraphs.end()[-1].cell.width = shared.paragraphs.end()[-2].cell.width = 0;
  e.SetDocument(shared);
  EXPECT_EQ(e.ToDocument(), shared);
}

TEST_F(RichEditTest, PastedListsAndTablesAreStoredAsShown) {
  TQvRichEdit e;
  e.resize(900, 700);
  e.show();
  auto* html = new QMimeData;
  html->setHtml("<p>Before</p><ul><li>one</li><li>two<ul><li>deeper</li></ul></li></ul>"
                "<ol><li>first</li><li>second</li></ol>"
                "<table border=\"1\"><tr><td>a</td><td>b</td></tr><tr><td>c</td><td>d</td></tr></table>"
                "<p>After</p>");
  QApplication::clipboard()->setMimeData(html);
  e.TextEdit()->setFocus();
  QTest::keyClick(e.TextEdit(), Qt::Key_V, Qt::ControlModifier);
  ASSERT_NE(e.TextEdit()->toPlainText().indexOf("deeper"), -1) << "pasted";
  const rtf::Document shown = e.ToDocument();
  std::vector<std::pair<std::string, rtf::ListItem>> items;
  std::vector<std::pair<std::string, rtf::TableCell>> cells;
  for (const rtf::Paragraph& p : shown.paragraphs) {
    const std::string text = p.runs.empty() ? std::string() : p.runs[0].text;
    if (p.list.style != rtf::ListStyle::None) items.push_back({text, p.list});
    if (p.cell.table != 0) cells.push_back({text, p.cell});
  }
  ASSERT_EQ(items.size(), 5u) << rtf::WriteRtf(shown);
  EXPECT_EQ(items[0].second.style, rtf::ListStyle::Bullet);
  EXPECT_EQ(items[1].second.list, items[0].second.list);
  EXPECT_EQ(items[2].first, "deeper");
  EXPECT_EQ(items[2].second.level, 1);
  EXPECT_EQ(items[3].second.style, rtf::ListStyle::Decimal);
  EXPECT_EQ(items[4].second.list, items[3].second.list);
  ASSERT_EQ(cells.size(), 4u);
  EXPECT_EQ(cells[1].first, "b");
  EXPECT_EQ(cells[1].second.column, 1);
  EXPECT_EQ(cells[2].second.row, 1);
  EXPECT_TRUE(cells[0].second.borders);

  // What is stored reads back as what was shown; the pasted table's columns, which share the
  // text width, are stored with the widths of their shares.
  TQvRichEdit back;
  std::string error;
  ASSERT_TRUE(back.LoadRtf(e.SaveRtf(), &error)) << error;
  rtf::Document stored = back.ToDocument();
  for (rtf::Paragraph& p : stored.paragraphs)
    if (p.cell.table != 0) {
      EXPECT_EQ(p.cell.width, (e.PageSetup().paperWidth - e.PageSetup().marginLeft - e.PageSetup().marginRight) / 2);
      p.cell.width = 0;
    }
  EXPECT_EQ(stored, shown);
  EXPECT_EQ(back.TextEdit()->toPlainText(), e.TextEdit()->toPlainText());
}

TEST_F(RichEditTest, ZoomKeepsTheUndoHistory) {
  TQvRichEdit e;
  e.resize(900, 700);
  e.show();
  rtf::Document doc;
  doc.paragraphs.push_back(Para({TextRun("Start")}));
  e.SetDocument(doc);
  QTextEdit* t = e.TextEdit();
  t->setFocus();
  t->moveCursor(QTextCursor::End);
  QTest::keyClicks(t, " one");
  Select(e, 0, 5);
  Action(e, "BoldButton")->trigger();
  t->moveCursor(QTextCursor::End);
  QTest::keyClick(t, Qt::Key_Return);
  QTest::keyClicks(t, "two");
  const rtf::Document typed = e.ToDocument();
  QTest::keySequence(t, QKeySequence::Undo);  // one step undone before the zoom
  const rtf::Document undoneOnce = e.ToDocument();
  ASSERT_NE(undoneOnce, typed);

  e.SetZoom(70);
  EXPECT_EQ(e.ToDocument(), undoneOnce);
  EXPECT_EQ(e.Zoom(), 70);
  QTest::keySequence(t, QKeySequence::Redo);
  EXPECT_EQ(e.ToDocument(), typed) << "the redo step survives the zoom";
  for (int i = 0; i < 20 && t->document()->isUndoAvailable(); ++i)
    QTest::keySequence(t, QKeySequence::Undo);
  EXPECT_EQ(e.ToDocument(), doc) << "every step undone, at the zoom it is now shown in";
  e.SetZoom(100);
  while (t->document()->isRedoAvailable()) QTest::keySequence(t, QKeySequence::Redo);
  EXPECT_EQ(e.ToDocument(), typed);
  EXPECT_TRUE(e.ToDocument().paragraphs[0].runs[0].format.bold);
  EXPECT_EQ(e.ToDocument().paragraphs[0].runs[0].format.halfPoints, 24) << "sizes of the new zoom";
}

TEST_F(RichEditTest, AMergeFieldIsOneUnitUnderEditing) {
  TQvRichEdit e;
  e.resize(900, 700);
  e.show();
  rtf::Document doc;
  doc.paragraphs.push_back(Para({TextRun("Dear "), FieldRun(1, "[RECIPIENT]"), TextRun(",")}));
  e.SetDocument(doc);
  QTextEdit* t = e.TextEdit();
  t->setFocus();
  const int fieldStart = 5, fieldEnd = 5 + 11;

  // Clicking or moving into the field puts the caret past it; typing there is outside it.
  QTextCursor c = t->textCursor();
  c.setPosition(fieldStart + 4);
  t->setTextCursor(c);
  EXPECT_EQ(t->textCursor().position(), fieldEnd);
  QTest::keyClick(t, Qt::Key_Left);
  EXPECT_EQ(t->textCursor().position(), fieldStart) << "moving left skips the field whole";
  QTest::keyClick(t, Qt::Key_Right);
  EXPECT_EQ(t->textCursor().position(), fieldEnd);
  QTest::keyClicks(t, "xy");
  rtf::Document out = e.ToDocument();
  ASSERT_EQ(out.paragraphs[0].runs.size(), 3u);
  EXPECT_EQ(out.paragraphs[0].runs[1].field, (rtf::MergeField{1, "[RECIPIENT]"}));
  EXPECT_EQ(out.paragraphs[0].runs[2].text, "xy,");

  // A selection that ends inside a field takes it in whole.
  c.setPosition(0);
  c.setPosition(fieldStart + 3, QTextCursor::KeepAnchor);
  t->setTextCursor(c);
  EXPECT_EQ(t->textCursor().selectionEnd(), fieldEnd);

  // Copy and paste of "Dear [RECIPIENT]" gives a field again, here and in another editor.
  QTest::keyClick(t, Qt::Key_C, Qt::ControlModifier);
  t->moveCursor(QTextCursor::End);
  QTest::keyClick(t, Qt::Key_V, Qt::ControlModifier);
  out = e.ToDocument();
  ASSERT_EQ(out.paragraphs.size(), 1u);
  std::vector<int> kinds;
  for (const rtf::Run& r : out.paragraphs[0].runs)
    if (r.kind == rtf::Run::Kind::Field) kinds.push_back(r.field.kind);
  EXPECT_EQ(kinds, (std::vector<int>{1, 1}));
  EXPECT_EQ(out.PlainText(), "Dear [RECIPIENT]xy,Dear [RECIPIENT]");
  TQvRichEdit other;
  other.FieldValue = [](int kind) { return kind == 1 ? QStringLiteral("Ann") : QString(); };
  other.TextEdit()->setFocus();
  QTest::keyClick(other.TextEdit(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(other.TextEdit()->toPlainText(), "Dear Ann") << "the pasted field shows its value";
  ASSERT_EQ(other.ToDocument().paragraphs.size(), 1u);
  EXPECT_EQ(other.ToDocument().paragraphs[0].runs.back().kind, rtf::Run::Kind::Field);
  EXPECT_TRUE(Clipboard()->hasText()) << "other programs still get the text";

  // Backspace after a field, and Delete before one, remove the whole field.
  t->moveCursor(QTextCursor::End);
  QTest::keyClick(t, Qt::Key_Backspace);
  EXPECT_EQ(t->toPlainText(), "Dear [RECIPIENT]xy,Dear ");
  c = t->textCursor();
  c.setPosition(fieldStart);
  t->setTextCursor(c);
  QTest::keyClick(t, Qt::Key_Delete);
  EXPECT_EQ(t->toPlainText(), "Dear xy,Dear ");
  EXPECT_EQ(e.ToDocument().paragraphs[0].runs.size(), 1u);
}
