#include "ui/rich_edit.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QActionGroup>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QPaintEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <cmath>
#include <functional>
#include <memory>

#include "rtf/rtf_reader.h"
#include "rtf/rtf_writer.h"
#include "ui/find_replace_dialog.h"
#include "ui/picture_import.h"
#include "ui/rich_document.h"

namespace qv::ui {

namespace {

constexpr int kMinZoom = 10;
constexpr int kMaxZoom = 500;
constexpr int kPageGapPixels = 3;          // the band drawn where one page ends and the next begins
const QColor kDeskColor(0xA0, 0xA0, 0xA0);  // around the pages
const QColor kPageEdgeColor(0x60, 0x60, 0x60);
// The clipboard format of rich text, as word processors offer and take it.
constexpr char kRtfMimeType[] = "text/rtf";
constexpr char kRtfMimeTypeAlt[] = "application/rtf";
// Undo steps kept across a change of zoom (each is replayed as a whole document).
constexpr int kMaxZoomUndoSteps = 100;

// The editing surface: a QTextEdit whose document is laid out in pages of the page setup. The
// widget resets the document's page size to "one endless page" whenever it relayouts (resize, wrap
// mode), so the page size is put back after each of those.
class PagedTextEdit : public QTextEdit {
 public:
  explicit PagedTextEdit(QWidget* parent) : QTextEdit(parent) {
    // Scroll bars that come and go change the viewport width, and the widget answers that with a
    // relayout that drops the pages; fixed scroll bars keep it to real resizes.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Connected after the widget's own handler, so this runs after any relayout it does.
    connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            [this] { applyPageSize(); });
  }

  QSizeF pagePixels;  // the whole sheet, in document pixels

  // The editor's own clipboard handling: the selection as RTF beside the toolkit's formats, and
  // RTF taken in through the memo's reader (so that fields, lists and tables stay what they are).
  std::function<QByteArray()> selectionRtf;
  std::function<bool(const QMimeData*)> pasteRtf;
  // A key the editor handles itself (a merge field is deleted whole); true when handled.
  std::function<bool(QKeyEvent*)> editKey;

  void applyPageSize() {
    if (pagePixels.isEmpty() || applying_) return;
    if (document()->pageSize() == pagePixels) return;
    applying_ = true;
    document()->setPageSize(pagePixels);
    applying_ = false;
  }

 private:
  bool applying_ = false;

 public:

 protected:
  // Any event may have relayouted (resize, show, polish, font or style change).
  bool event(QEvent* e) override {
    bool r = QTextEdit::event(e);
    applyPageSize();
    return r;
  }
  QMimeData* createMimeDataFromSelection() const override {
    // The toolkit's data makes its formats on first use, and that first use drops any format set
    // beside them: its formats are taken over into plain data here.
    std::unique_ptr<QMimeData> base(QTextEdit::createMimeDataFromSelection());
    auto* m = new QMimeData;
    for (const QString& format : base->formats()) m->setData(format, base->data(format));
    if (selectionRtf) m->setData(QString::fromLatin1(kRtfMimeType), selectionRtf());
    return m;
  }
  bool canInsertFromMimeData(const QMimeData* source) const override {
    return source->hasFormat(QString::fromLatin1(kRtfMimeType)) || QTextEdit::canInsertFromMimeData(source);
  }
  void insertFromMimeData(const QMimeData* source) override {
    if (pasteRtf && pasteRtf(source)) return;
    QTextEdit::insertFromMimeData(source);
  }
  void keyPressEvent(QKeyEvent* e) override {
    if (editKey && editKey(e)) return;
    QTextEdit::keyPressEvent(e);
  }

  bool viewportEvent(QEvent* e) override {
    bool r = QTextEdit::viewportEvent(e);
    if (e->type() != QEvent::Paint) applyPageSize();
    return r;
  }

  void paintEvent(QPaintEvent* e) override {
    const int dx = horizontalScrollBar()->value();
    const int dy = verticalScrollBar()->value();
    const double pw = pagePixels.width(), ph = pagePixels.height();
    const int pages = std::max(1, document()->pageCount());
    {
      // The desk to the right of and below the sheets.
      QPainter p(viewport());
      QRect vr = viewport()->rect();
      int right = int(std::ceil(pw)) - dx;
      if (right < vr.right()) p.fillRect(QRect(right, 0, vr.right() - right + 1, vr.height()), kDeskColor);
      int bottom = int(std::ceil(ph * pages)) - dy;
      if (bottom < vr.bottom()) p.fillRect(QRect(0, bottom, vr.width(), vr.bottom() - bottom + 1), kDeskColor);
    }
    QTextEdit::paintEvent(e);
    QPainter p(viewport());
    p.translate(-dx, -dy);
    p.setPen(QPen(kPageEdgeColor, 1));
    p.setBrush(Qt::NoBrush);
    for (int k = 0; k < pages; ++k) p.drawRect(QRectF(0, k * ph, pw - 1, ph - 1));
    // Page breaks: a band across the sheet at every page boundary.
    for (int k = 1; k < pages; ++k)
      p.fillRect(QRectF(0, k * ph - kPageGapPixels / 2.0, pw, kPageGapPixels), kDeskColor);
  }
};

// Pictures of the character and alignment buttons, drawn rather than shipped: a word per
// button made the bar wider than the editor and pushed the form's own buttons out of sight.
enum class Glyph {
  None, Bold, Italic, Underline, StrikeOut, Subscript, Superscript,
  AlignLeft, AlignCenter, AlignRight, Justify, Cut, Copy, Paste, SelectAll, Find
};

constexpr int kGlyphSize = 32;  // drawn large and scaled down, so it stays sharp on dense screens

QIcon GlyphIcon(Glyph glyph, const QColor& ink) {
  QPixmap pix(kGlyphSize, kGlyphSize);
  pix.fill(Qt::transparent);
  QPainter p(&pix);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setPen(QPen(ink, 3));
  QFont f(QStringLiteral("DejaVu Serif"));
  f.setPixelSize(26);
  const QRect box(0, 0, kGlyphSize, kGlyphSize);
  auto letter = [&](const QString& text, const QRect& r) { p.setFont(f); p.drawText(r, Qt::AlignCenter, text); };
  switch (glyph) {
    case Glyph::Bold: f.setBold(true); letter(QStringLiteral("B"), box); break;
    case Glyph::Italic: f.setItalic(true); letter(QStringLiteral("I"), box); break;
    case Glyph::Underline:
      f.setUnderline(true);
      letter(QStringLiteral("U"), box);
      break;
    case Glyph::StrikeOut:
      f.setStrikeOut(true);
      letter(QStringLiteral("S"), box);
      break;
    case Glyph::Subscript:
    case Glyph::Superscript: {
      f.setPixelSize(22);
      letter(QStringLiteral("x"), QRect(0, 2, 20, 28));
      f.setPixelSize(14);
      letter(QStringLiteral("2"), glyph == Glyph::Subscript ? QRect(18, 16, 14, 16) : QRect(18, 0, 14, 16));
      break;
    }
    case Glyph::AlignLeft:
    case Glyph::AlignCenter:
    case Glyph::AlignRight:
    case Glyph::Justify: {
      // Four rows of text, long and short in turn, set the way the button sets paragraphs.
      for (int row = 0; row < 4; ++row) {
        const int y = 6 + row * 7;
        const int full = kGlyphSize - 6;
        const int len = (glyph == Glyph::Justify || row % 2 == 0) ? full : full * 3 / 5;
        int x = 3;
        if (glyph == Glyph::AlignCenter) x = (kGlyphSize - len) / 2;
        if (glyph == Glyph::AlignRight) x = kGlyphSize - 3 - len;
        p.drawLine(x, y, x + len, y);
      }
      break;
    }
    case Glyph::Cut: {
      // Scissors: two rings and the crossing blades.
      p.drawEllipse(QRect(3, 20, 9, 9));
      p.drawEllipse(QRect(20, 20, 9, 9));
      p.drawLine(10, 21, 23, 3);
      p.drawLine(22, 21, 9, 3);
      break;
    }
    case Glyph::Copy:
      p.drawRect(QRect(3, 3, 16, 19));
      p.drawRect(QRect(12, 10, 16, 19));
      break;
    case Glyph::Paste:
      // A clipboard with its clip and a sheet on it.
      p.drawRect(QRect(4, 5, 20, 24));
      p.drawRect(QRect(10, 2, 8, 6));
      p.drawRect(QRect(14, 13, 14, 16));
      break;
    case Glyph::SelectAll: {
      QPen dashed(ink, 3, Qt::DashLine);
      p.setPen(dashed);
      p.drawRect(QRect(3, 4, 26, 24));
      p.setPen(QPen(ink, 3));
      p.drawLine(9, 12, 23, 12);
      p.drawLine(9, 20, 23, 20);
      break;
    }
    case Glyph::Find:
      // A magnifying glass.
      p.drawEllipse(QRect(3, 3, 18, 18));
      p.setPen(QPen(ink, 5));
      p.drawLine(18, 18, 28, 28);
      break;
    case Glyph::None: break;
  }
  return QIcon(pix);
}

struct ActionSpec {
  const char* objectName;
  const char* text;
  const char* tip;
  const char* shortcut;
  Glyph glyph = Glyph::None;  // shown instead of the text when set; the text stays its name
};

}  // namespace

struct TQvRichEdit::Impl {
  TQvRichEdit* q = nullptr;
  PagedTextEdit* edit = nullptr;
  QToolBar* toolBar = nullptr;
  QToolBar* commandBar = nullptr;
  QFrame* notice = nullptr;      // pictures left out of the last load
  QLabel* noticeText = nullptr;
  int skippedPictures = 0;
  int zoom = 100;
  bool wordWrap = true;
  rtf::PageSetup page;
  FontAttributes defaultFont;
  bool loading = false;  // internal content changes are not the user's
  int lastFieldCount = -1;
  bool movingCaret = false;  // keepOutOfFields is moving it
  int lastCaret = 0;

  QAction* bold = nullptr;
  QAction* italic = nullptr;
  QAction* underline = nullptr;
  QAction* strike = nullptr;
  QAction* sub = nullptr;
  QAction* super = nullptr;
  QAction* alignLeft = nullptr;
  QAction* alignCenter = nullptr;
  QAction* alignRight = nullptr;
  QAction* justify = nullptr;

  RichScale scale() const {
    return RichScale{double(edit->logicalDpiY()), zoom / 100.0};
  }
  RichLoadOptions options() const {
    RichLoadOptions o;
    o.scale = scale();
    o.fieldValue = q->FieldValue;
    o.maxPictureSize = QSizeF(o.scale.PixelsFromTwips(page.paperWidth - page.marginLeft - page.marginRight),
                              o.scale.PixelsFromTwips(page.paperHeight - page.marginTop - page.marginBottom));
    return o;
  }

  void applyGeometry() {
    RichScale sc = scale();
    QTextDocument* doc = edit->document();
    edit->pagePixels = QSizeF(sc.PixelsFromTwips(page.paperWidth), sc.PixelsFromTwips(page.paperHeight));
    ApplyPageSetup(*doc, page, sc);
    edit->setLineWrapMode(QTextEdit::FixedPixelWidth);
    edit->setLineWrapColumnOrWidth(int(std::lround(edit->pagePixels.width())));
    edit->setWordWrapMode(wordWrap ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    edit->applyPageSize();
  }

  QTextCharFormat defaultCharFormat() const {
    rtf::CharFormat c;
    c.fontName = defaultFont.name.toStdString();
    c.halfPoints = defaultFont.pointSize * 2;
    c.bold = defaultFont.bold;
    c.italic = defaultFont.italic;
    c.underline = defaultFont.underline;
    return ToCharFormat(c, options());
  }

  void applyDefaultFontToDocument() {
    QFont f = edit->document()->defaultFont();
    if (!defaultFont.name.isEmpty()) f.setFamilies({defaultFont.name});
    f.setPointSizeF(defaultFont.pointSize * zoom / 100.0);
    edit->document()->setDefaultFont(f);
  }

  void load(const rtf::Document& doc, int caret) {
    loading = true;
    applyDefaultFontToDocument();
    page = doc.page;
    edit->pagePixels = QSizeF(scale().PixelsFromTwips(page.paperWidth),
                              scale().PixelsFromTwips(page.paperHeight));
    LoadIntoTextDocument(doc, *edit->document(), options());
    applyGeometry();
    if (doc.paragraphs.empty() || doc.IsEmpty()) {
      QTextCursor c(edit->document());
      c.select(QTextCursor::Document);
      c.setBlockCharFormat(defaultCharFormat());
      edit->setCurrentCharFormat(defaultCharFormat());
    }
    QTextCursor c(edit->document());
    c.setPosition(std::clamp(caret, 0, edit->document()->characterCount() - 1));
    edit->setTextCursor(c);
    loading = false;
    updateActions();
  }

  void mergeChar(const QTextCharFormat& f) {
    edit->mergeCurrentCharFormat(f);
    edit->setFocus();
  }

  void updateActions() {
    QTextCharFormat f = edit->currentCharFormat();
    bold->setChecked(f.fontWeight() >= QFont::DemiBold);
    italic->setChecked(f.fontItalic());
    underline->setChecked(f.fontUnderline());
    strike->setChecked(f.fontStrikeOut());
    sub->setChecked(f.verticalAlignment() == QTextCharFormat::AlignSubScript);
    super->setChecked(f.verticalAlignment() == QTextCharFormat::AlignSuperScript);
    Qt::Alignment a = edit->alignment();
    if (a & Qt::AlignHCenter) alignCenter->setChecked(true);
    else if (a & Qt::AlignJustify) justify->setChecked(true);
    else if (a & Qt::AlignRight) alignRight->setChecked(true);
    else alignLeft->setChecked(true);
  }

  // Text typed right after a merge field must not become part of it.
  // A merge field is one unit: the caret never stands inside one. It moves on past the field in
  // the direction it was going; a selection's ends take in whole fields.
  void keepOutOfFields() {
    if (movingCaret) return;
    QTextDocument* doc = edit->document();
    QTextCursor c = edit->textCursor();
    const int pos = c.position(), anchor = c.anchor();
    auto inside = [&](int p) -> std::optional<FieldSpan> {
      std::optional<FieldSpan> span = FieldSpanAt(*doc, p);
      if (span && span->start < p) return span;
      return std::nullopt;
    };
    int newPos = pos, newAnchor = anchor;
    if (auto span = inside(pos)) {
      if (c.hasSelection()) newPos = anchor <= span->start ? span->end : span->start;
      else newPos = lastCaret <= span->start ? span->end : span->start;
      if (!c.hasSelection() && lastCaret > span->start && lastCaret < span->end) newPos = span->end;
    }
    if (c.hasSelection()) {
      if (auto span = inside(anchor)) newAnchor = anchor < pos ? span->start : span->end;
    } else {
      newAnchor = newPos;
    }
    lastCaret = newPos;
    if (newPos == pos && newAnchor == anchor) return;
    movingCaret = true;
    c.setPosition(newAnchor);
    c.setPosition(newPos, QTextCursor::KeepAnchor);
    edit->setTextCursor(c);
    movingCaret = false;
  }

  // Backspace and Delete next to a merge field take the whole field.
  bool deleteField(QKeyEvent* e) {
    const bool back = e->matches(QKeySequence::DeleteStartOfWord) || e->key() == Qt::Key_Backspace;
    const bool forward = e->matches(QKeySequence::DeleteEndOfWord) || e->key() == Qt::Key_Delete;
    if (!back && !forward) return false;
    QTextCursor c = edit->textCursor();
    if (c.hasSelection()) return false;
    std::optional<FieldSpan> span = FieldSpanAt(*edit->document(), back ? c.position() - 1 : c.position());
    if (!span) return false;
    c.setPosition(span->start);
    c.setPosition(span->end, QTextCursor::KeepAnchor);
    c.removeSelectedText();
    edit->setTextCursor(c);
    return true;
  }

  QByteArray selectionRtf() const {
    const std::string rtf = rtf::WriteRtf(ReadSelection(edit->textCursor(), scale(), page));
    return QByteArray(rtf.data(), qsizetype(rtf.size()));
  }

  // Rich text from the clipboard through the memo's reader; false (the toolkit's paste follows)
  // when there is none or it cannot be read.
  bool pasteRtf(const QMimeData* source) {
    QByteArray bytes;
    for (const char* type : {kRtfMimeType, kRtfMimeTypeAlt})
      if (source->hasFormat(QString::fromLatin1(type))) {
        bytes = source->data(QString::fromLatin1(type));
        break;
      }
    if (bytes.isEmpty()) return false;
    rtf::Document doc;
    if (!rtf::ReadRtf(std::string_view(bytes.constData(), size_t(bytes.size())), doc)) return false;
    QTextCursor c = edit->textCursor();
    InsertDocumentAt(c, doc, options());
    edit->setTextCursor(c);
    edit->ensureCursorVisible();
    return true;
  }

  void leaveField() {
    QTextCharFormat f = edit->currentCharFormat();
    if (!f.hasProperty(kFieldIdProperty)) return;
    QTextCursor c = edit->textCursor();
    if (c.hasSelection()) return;
    for (int p : {int(kFieldKindProperty), int(kFieldPlaceholderProperty), int(kFieldIdProperty)})
      f.clearProperty(p);
    if (f.hasProperty(kFieldTextColorProperty)) {
      f.setForeground(QColor::fromRgb(uint32_t(f.intProperty(kFieldTextColorProperty))));
      f.clearProperty(kFieldTextColorProperty);
    } else {
      f.clearForeground();
    }
    edit->setCurrentCharFormat(f);
  }

  QAction* makeAction(const ActionSpec& s, bool checkable) {
    QAction* a = new QAction(QObject::tr(s.text), q);
    a->setObjectName(QString::fromLatin1(s.objectName));
    a->setToolTip(QObject::tr(s.tip));
    a->setStatusTip(QObject::tr(s.tip));
    a->setCheckable(checkable);
    if (s.shortcut && *s.shortcut) {
      a->setShortcut(QKeySequence(QString::fromLatin1(s.shortcut)));
      a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    }
    toolBar->addAction(a);
    if (s.glyph != Glyph::None) a->setIcon(GlyphIcon(s.glyph, q->palette().color(QPalette::ButtonText)));
    if (QWidget* w = toolBar->widgetForAction(a)) {
      if (auto* button = qobject_cast<QToolButton*>(w); button && s.glyph != Glyph::None)
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
      w->setObjectName(QString::fromLatin1(s.objectName));
      w->setAccessibleName(a->text().remove(QLatin1Char('&')));
      w->setToolTip(a->toolTip());
    }
    return a;
  }

  void buildToolBar() {
    toolBar = new QToolBar(q);
    toolBar->setObjectName("RichEditToolBar");
    toolBar->setAccessibleName(QObject::tr("Formatting"));
    toolBar->setIconSize(QSize(16, 16));
    toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);

    QAction* normal = makeAction({"NormalButton", "Normal", "Plain text: no bold, italic, underline, strike-out or sub/superscript", ""}, false);
    QObject::connect(normal, &QAction::triggered, q, [this] {
      QTextCharFormat f;
      f.setFontWeight(QFont::Normal);
      f.setFontItalic(false);
      f.setFontUnderline(false);
      f.setFontStrikeOut(false);
      f.setVerticalAlignment(QTextCharFormat::AlignNormal);
      mergeChar(f);
    });
    bold = makeAction({"BoldButton", "Bold", "Bold", "Ctrl+B", Glyph::Bold}, true);
    QObject::connect(bold, &QAction::triggered, q, [this](bool on) {
      QTextCharFormat f;
      f.setFontWeight(on ? QFont::Bold : QFont::Normal);
      mergeChar(f);
    });
    italic = makeAction({"ItalicButton", "Italic", "Italic", "Ctrl+I", Glyph::Italic}, true);
    QObject::connect(italic, &QAction::triggered, q, [this](bool on) {
      QTextCharFormat f;
      f.setFontItalic(on);
      mergeChar(f);
    });
    underline = makeAction({"UnderlineButton", "Underline", "Underline", "Ctrl+U", Glyph::Underline}, true);
    QObject::connect(underline, &QAction::triggered, q, [this](bool on) {
      QTextCharFormat f;
      f.setFontUnderline(on);
      mergeChar(f);
    });
    strike = makeAction({"StrikeOutButton", "Strike-out", "Strike-out", "", Glyph::StrikeOut}, true);
    QObject::connect(strike, &QAction::triggered, q, [this](bool on) {
      QTextCharFormat f;
      f.setFontStrikeOut(on);
      mergeChar(f);
    });
    sub = makeAction({"SubscriptButton", "Subscript", "Subscript", "", Glyph::Subscript}, true);
    super = makeAction({"SuperscriptButton", "Superscript", "Superscript", "", Glyph::Superscript}, true);
    QObject::connect(sub, &QAction::triggered, q, [this](bool on) {
      QTextCharFormat f;
      f.setVerticalAlignment(on ? QTextCharFormat::AlignSubScript : QTextCharFormat::AlignNormal);
      mergeChar(f);
    });
    QObject::connect(super, &QAction::triggered, q, [this](bool on) {
      QTextCharFormat f;
      f.setVerticalAlignment(on ? QTextCharFormat::AlignSuperScript : QTextCharFormat::AlignNormal);
      mergeChar(f);
    });
    toolBar->addSeparator();

    auto* group = new QActionGroup(q);
    auto align = [&](const ActionSpec& s, Qt::Alignment a) {
      QAction* act = makeAction(s, true);
      group->addAction(act);
      QObject::connect(act, &QAction::triggered, q, [this, a] {
        edit->setAlignment(a);
        edit->setFocus();
      });
      return act;
    };
    alignLeft = align({"AlignLeftButton", "Align Left", "Align left", "Ctrl+L", Glyph::AlignLeft}, Qt::AlignLeft);
    alignCenter = align({"AlignCenterButton", "Center", "Center", "Ctrl+E", Glyph::AlignCenter}, Qt::AlignHCenter);
    alignRight = align({"AlignRightButton", "Align Right", "Align right", "Ctrl+R", Glyph::AlignRight}, Qt::AlignRight);
    justify = align({"JustifyButton", "Justify", "Justify", "Ctrl+J", Glyph::Justify}, Qt::AlignJustify);
    toolBar->addSeparator();

    QAction* cut = makeAction({"CutButton", "Cut", "Cut the selection to the clipboard", "", Glyph::Cut}, false);
    QObject::connect(cut, &QAction::triggered, edit, &QTextEdit::cut);
    QAction* copy = makeAction({"CopyButton", "Copy", "Copy the selection to the clipboard", "", Glyph::Copy}, false);
    QObject::connect(copy, &QAction::triggered, edit, &QTextEdit::copy);
    QAction* paste = makeAction({"PasteButton", "Paste", "Paste from the clipboard", "", Glyph::Paste}, false);
    QObject::connect(paste, &QAction::triggered, edit, &QTextEdit::paste);
    QAction* all = makeAction({"SelectAllButton", "Select All", "Select all text", "", Glyph::SelectAll}, false);
    QObject::connect(all, &QAction::triggered, edit, &QTextEdit::selectAll);
    toolBar->addSeparator();

    QAction* find = makeAction({"FindButton", "Find", "Find text", "Ctrl+F", Glyph::Find}, false);
    QObject::connect(find, &QAction::triggered, q, [this] { showFind(false); });
    QAction* replace = makeAction({"ReplaceButton", "Replace", "Find and replace text", "Ctrl+H"}, false);
    QObject::connect(replace, &QAction::triggered, q, [this] { showFind(true); });
    QAction* spell = makeAction({"SpellButton", "Spell", "Check the spelling", "F7"}, false);
    QObject::connect(spell, &QAction::triggered, q, &TQvRichEdit::SpellCheckRequested);
    toolBar->addSeparator();
    QAction* picture = makeAction({"InsertPictureButton", "Picture", "Insert a picture (PNG, JPEG or BMP)", ""}, false);
    QObject::connect(picture, &QAction::triggered, q, &TQvRichEdit::InsertPictureRequested);
    QAction* pdf = makeAction({"InsertPdfButton", "PDF Pages", "Insert the pages of a PDF, each as a full page", ""}, false);
    pdf->setEnabled(PdfAvailable());
    QObject::connect(pdf, &QAction::triggered, q, &TQvRichEdit::InsertPdfRequested);
  }

  void buildNotice() {
    notice = new QFrame(q);
    notice->setObjectName("PictureNotice");
    notice->setAccessibleName(QObject::tr("Pictures left out"));
    notice->setFrameShape(QFrame::StyledPanel);
    notice->setAutoFillBackground(true);
    QPalette pal = notice->palette();
    pal.setColor(QPalette::Window, QColor(0xFF, 0xF4, 0xCE));  // a pale warning yellow
    pal.setColor(QPalette::WindowText, Qt::black);
    notice->setPalette(pal);
    noticeText = new QLabel(notice);
    noticeText->setObjectName("PictureNoticeText");
    noticeText->setWordWrap(true);
    auto* close = new QToolButton(notice);
    close->setObjectName("PictureNoticeClose");
    close->setText(QObject::tr("Close"));
    close->setAccessibleName(QObject::tr("Close the notice"));
    close->setAutoRaise(true);
    QObject::connect(close, &QToolButton::clicked, notice, &QWidget::hide);
    auto* row = new QHBoxLayout(notice);
    row->setContentsMargins(6, 3, 3, 3);
    row->addWidget(noticeText, 1);
    row->addWidget(close);
    notice->hide();
  }

  void showFind(bool replaceMode) {
    auto* dlg = new TFindReplaceDialog(edit, replaceMode, q);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->SetFindText(edit->textCursor().selectedText());
    dlg->show();
  }
};

TQvRichEdit::TQvRichEdit(QWidget* parent) : QWidget(parent), d_(new Impl) {
  d_->q = this;
  d_->edit = new PagedTextEdit(this);
  d_->edit->setObjectName("RichEditText");
  d_->edit->setAccessibleName(tr("Text"));
  d_->edit->setAcceptRichText(true);
  d_->buildToolBar();
  d_->buildNotice();
  auto* box = new QVBoxLayout(this);
  box->setContentsMargins(0, 0, 0, 0);
  box->setSpacing(0);
  box->addWidget(d_->toolBar);
  box->addWidget(d_->notice);
  box->addWidget(d_->edit, 1);

  QObject::connect(d_->edit, &QTextEdit::currentCharFormatChanged, this,
                   [this](const QTextCharFormat&) { d_->updateActions(); });
  d_->edit->selectionRtf = [this] { return d_->selectionRtf(); };
  d_->edit->pasteRtf = [this](const QMimeData* m) { return d_->pasteRtf(m); };
  d_->edit->editKey = [this](QKeyEvent* e) { return d_->deleteField(e); };
  QObject::connect(d_->edit, &QTextEdit::cursorPositionChanged, this, [this] {
    d_->keepOutOfFields();
    d_->leaveField();
    d_->updateActions();
  });
  QObject::connect(d_->edit->document(), &QTextDocument::contentsChanged, this, [this] {
    if (!d_->loading) emit ContentChanged();
  });
  d_->load(rtf::Document{}, 0);
}

TQvRichEdit::~TQvRichEdit() { delete d_; }

void TQvRichEdit::Clear() {
  rtf::Document empty;
  empty.page = d_->page;
  d_->load(empty, 0);
  ShowSkippedPictures(0);
  emit ContentChanged();
}

rtf::Document TQvRichEdit::ToDocument() const {
  return ReadTextDocument(*d_->edit->document(), d_->scale(), d_->page);
}

void TQvRichEdit::SetDocument(const rtf::Document& doc) {
  d_->load(doc, 0);
  ShowSkippedPictures(0);
  emit ContentChanged();
}

bool TQvRichEdit::IsEmpty() const { return d_->edit->document()->isEmpty(); }

int TQvRichEdit::TextLength() const {
  return int(d_->edit->document()->toPlainText().size());
}

int TQvRichEdit::LineCount() const { return d_->edit->document()->blockCount(); }

int TQvRichEdit::Zoom() const { return d_->zoom; }

void TQvRichEdit::SetZoom(int percent) {
  percent = std::clamp(percent, kMinZoom, kMaxZoom);
  if (percent == d_->zoom) return;
  // Lengths and font sizes are scaled in the document itself, so the layout (and the page
  // breaks) at any zoom is the layout at 100 % drawn larger or smaller. The toolkit's undo steps
  // hold lengths and sizes of the zoom they were made at, so the history is taken as the content
  // of each of its states and made again at the new zoom, each state one undo step as before.
  QTextDocument* td = d_->edit->document();
  const int caret = d_->edit->textCursor().position();
  const bool modified = td->isModified();
  d_->loading = true;
  // The toolkit counts undo commands, several to a step; undo() and redo() go a step at a time.
  std::vector<rtf::Document> forward, back;  // nearest first
  const rtf::Document current = ToDocument();
  while (int(forward.size()) < kMaxZoomUndoSteps && td->isRedoAvailable()) {
    td->redo();
    forward.push_back(ToDocument());
  }
  for (size_t i = 0; i < forward.size(); ++i) td->undo();
  while (int(back.size()) < kMaxZoomUndoSteps && td->isUndoAvailable()) {
    td->undo();
    back.push_back(ToDocument());
  }
  std::vector<rtf::Document> states(back.rbegin(), back.rend());
  states.push_back(current);
  states.insert(states.end(), forward.begin(), forward.end());
  const size_t redoSteps = forward.size();
  d_->zoom = percent;
  d_->load(states.front(), 0);
  d_->loading = true;
  for (size_t i = 1; i < states.size(); ++i) {
    QTextCursor c(td);
    c.beginEditBlock();
    c.select(QTextCursor::Document);
    c.removeSelectedText();
    c.setBlockFormat(QTextBlockFormat());
    InsertDocumentAt(c, states[i], d_->options());
    c.endEditBlock();
  }
  for (size_t i = 0; i < redoSteps; ++i) td->undo();
  QTextCursor c(td);
  c.setPosition(std::clamp(caret, 0, td->characterCount() - 1));
  d_->edit->setTextCursor(c);
  d_->loading = false;
  td->setModified(modified);
  d_->updateActions();
}

bool TQvRichEdit::WordWrap() const { return d_->wordWrap; }

void TQvRichEdit::SetWordWrap(bool on) {
  d_->wordWrap = on;
  d_->applyGeometry();
}

void TQvRichEdit::SetPageSize(int widthTwips, int heightTwips) {
  d_->page.paperWidth = widthTwips;
  d_->page.paperHeight = heightTwips;
  d_->applyGeometry();
}

void TQvRichEdit::SetMargins(int leftTwips, int topTwips, int rightTwips, int bottomTwips) {
  d_->page.marginLeft = leftTwips;
  d_->page.marginTop = topTwips;
  d_->page.marginRight = rightTwips;
  d_->page.marginBottom = bottomTwips;
  d_->applyGeometry();
}

rtf::PageSetup TQvRichEdit::PageSetup() const { return d_->page; }

ParagraphAttributes TQvRichEdit::CurrentParagraph() const {
  return FromBlockFormat(d_->edit->textCursor().blockFormat(), d_->scale());
}

void TQvRichEdit::SetCurrentParagraph(const ParagraphAttributes& attrs) {
  QTextCursor c = d_->edit->textCursor();
  QTextDocument* doc = d_->edit->document();
  QTextBlock first = doc->findBlock(std::min(c.selectionStart(), c.selectionEnd()));
  QTextBlock last = doc->findBlock(std::max(c.selectionStart(), c.selectionEnd()));
  c.beginEditBlock();
  for (QTextBlock b = first; b.isValid(); b = b.next()) {
    QTextCursor bc(b);
    bc.setBlockFormat(ToBlockFormat(attrs, d_->scale(), b == doc->begin()));
    if (b == last) break;
  }
  c.endEditBlock();
  d_->edit->setTextCursor(c);
  d_->updateActions();
}

FontAttributes TQvRichEdit::CurrentFont() const {
  QTextCharFormat f = d_->edit->currentCharFormat();
  FontAttributes a;
  QStringList fam = f.fontFamilies().toStringList();
  a.name = fam.isEmpty() ? d_->edit->document()->defaultFont().family() : fam.first();
  double pt = f.fontPointSize() > 0 ? f.fontPointSize() : d_->edit->document()->defaultFont().pointSizeF();
  a.pointSize = int(std::lround(pt * 100.0 / d_->zoom));
  a.bold = f.fontWeight() >= QFont::DemiBold;
  a.italic = f.fontItalic();
  a.underline = f.fontUnderline();
  return a;
}

void TQvRichEdit::SetCurrentFont(const FontAttributes& font) {
  QTextCharFormat f;
  if (!font.name.isEmpty()) f.setFontFamilies({font.name});
  f.setFontPointSize(font.pointSize * d_->zoom / 100.0);
  f.setFontWeight(font.bold ? QFont::Bold : QFont::Normal);
  f.setFontItalic(font.italic);
  f.setFontUnderline(font.underline);
  d_->edit->mergeCurrentCharFormat(f);
  d_->updateActions();
}

void TQvRichEdit::SetDefaultFont(const FontAttributes& font) {
  d_->defaultFont = font;
  d_->applyDefaultFontToDocument();
  if (IsEmpty()) {
    QTextCursor c(d_->edit->document());
    c.select(QTextCursor::Document);
    c.setBlockCharFormat(d_->defaultCharFormat());
    d_->edit->setCurrentCharFormat(d_->defaultCharFormat());
    d_->updateActions();
  }
}

void TQvRichEdit::InsertMergeField(int kind, const QString& placeholder) {
  QTextCursor c = d_->edit->textCursor();
  InsertMergeFieldAt(c, kind, placeholder, d_->options());
  d_->edit->setTextCursor(c);
}

bool TQvRichEdit::InsertPicture(const QString& fileName, std::string* error) {
  const rtf::PageSetup& pg = d_->page;
  rtf::Picture pic;
  if (!LoadPictureFile(fileName, pg.paperWidth - pg.marginLeft - pg.marginRight,
                       int((pg.paperHeight - pg.marginTop - pg.marginBottom) * kFullPageShare), pic,
                       error))
    return false;
  QTextCursor c = d_->edit->textCursor();
  InsertPictureAt(c, pic, d_->options());
  d_->edit->setTextCursor(c);
  return true;
}

bool TQvRichEdit::InsertPdfPages(const QString& fileName, std::string* error,
                                 const std::function<bool(int, int)>& progress) {
  const rtf::PageSetup& pg = d_->page;
  std::vector<rtf::Picture> pages;
  if (!LoadPdfPages(fileName, pg.paperWidth - pg.marginLeft - pg.marginRight,
                    int((pg.paperHeight - pg.marginTop - pg.marginBottom) * kFullPageShare), pages,
                    error, progress))
    return false;
  QTextCursor c = d_->edit->textCursor();
  c.beginEditBlock();
  for (const rtf::Picture& pic : pages) {
    // Each page on a page of its own: a new paragraph that breaks before it, unless the caret
    // already stands in an empty first paragraph.
    bool emptyStart = c.block() == d_->edit->document()->begin() && c.block().length() <= 1;
    if (!emptyStart) {
      ParagraphAttributes attrs;
      attrs.pageBreakBefore = true;
      c.insertBlock(ToBlockFormat(attrs, d_->scale()));
    }
    InsertPictureAt(c, pic, d_->options());
  }
  c.endEditBlock();
  d_->edit->setTextCursor(c);
  return true;
}

void TQvRichEdit::SetCaretToStart() {
  d_->edit->moveCursor(QTextCursor::Start);
  d_->edit->ensureCursorVisible();
}

void TQvRichEdit::Reformat() {
  d_->loading = true;
  RefreshMergeFields(*d_->edit->document(), d_->options());
  d_->loading = false;
  d_->applyGeometry();
  QTextDocument* doc = d_->edit->document();
  doc->markContentsDirty(0, doc->characterCount());
  d_->edit->viewport()->update();
}

void TQvRichEdit::Repaint() {
  d_->loading = true;
  RefreshMergeFields(*d_->edit->document(), d_->options());
  d_->loading = false;
  d_->edit->viewport()->update();
}

QTextEdit* TQvRichEdit::TextEdit() const { return d_->edit; }
QToolBar* TQvRichEdit::ToolBar() const { return d_->toolBar; }

QToolBar* TQvRichEdit::CommandBar() {
  if (!d_->commandBar) {
    d_->commandBar = new QToolBar(this);
    d_->commandBar->setObjectName("RichEditCommandBar");
    d_->commandBar->setAccessibleName(tr("Commands"));
    d_->commandBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    static_cast<QVBoxLayout*>(layout())->insertWidget(1, d_->commandBar);
  }
  return d_->commandBar;
}

int TQvRichEdit::SkippedPictures() const { return d_->skippedPictures; }

QWidget* TQvRichEdit::PictureNotice() const { return d_->notice; }

void TQvRichEdit::ShowSkippedPictures(int count) {
  d_->skippedPictures = count;
  if (count <= 0) {
    d_->notice->hide();
    return;
  }
  // Said once per load: the user learns what is missing before saving stores the text without it.
  d_->noticeText->setText(
      count == 1 ? tr("1 picture in this text is of a kind the editor cannot show (only PNG and JPEG "
                      "pictures are kept) and was left out. Saving stores the text without it.")
                 : tr("%1 pictures in this text are of a kind the editor cannot show (only PNG and JPEG "
                      "pictures are kept) and were left out. Saving stores the text without them.")
                       .arg(count));
  d_->noticeText->setAccessibleName(d_->noticeText->text());
  d_->notice->show();
}

}  // namespace qv::ui
