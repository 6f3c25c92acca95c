#include "ui/rich_document.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextDocumentFragment>
#include <QTextList>
#include <QTextTable>
#include <QUrl>
#include <atomic>
#include <map>
#include <cmath>
#include <vector>

#include "ui/rich_edit.h"

namespace qv::ui {

namespace {

constexpr double kTwipsPerInch = 1440.0;
constexpr double kPictureDefaultDpi = 96.0;   // a picture without a shown size
constexpr int kBoldWeightFrom = QFont::DemiBold;
const char* const kPictureScheme = "qvpic";
constexpr int kDarkTextGray = 160;

std::atomic<int> nextFieldId{1};
std::atomic<int> nextPictureId{1};

QString fromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }
std::string toUtf8(const QString& s) {
  QByteArray b = s.toUtf8();
  return std::string(b.constData(), size_t(b.size()));
}

Qt::Alignment toQtAlignment(rtf::Alignment a) {
  switch (a) {
    case rtf::Alignment::Center: return Qt::AlignHCenter;
    case rtf::Alignment::Right: return Qt::AlignRight;
    case rtf::Alignment::Justify: return Qt::AlignJustify;
    case rtf::Alignment::Left: break;
  }
  return Qt::AlignLeft;
}

rtf::Alignment fromQtAlignment(Qt::Alignment a) {
  if (a & Qt::AlignHCenter) return rtf::Alignment::Center;
  if (a & Qt::AlignJustify) return rtf::Alignment::Justify;
  if (a & Qt::AlignRight) return rtf::Alignment::Right;
  return rtf::Alignment::Left;
}

}  // namespace

QTextBlockFormat ToBlockFormat(const rtf::ParaFormat& p, const RichScale& sc, bool firstBlock,
                               double verticalUnit) {
  QTextBlockFormat b;
  b.setAlignment(toQtAlignment(p.alignment));
  b.setLeftMargin(sc.PixelsFromTwips(p.leftIndent));
  b.setRightMargin(sc.PixelsFromTwips(p.rightIndent));
  b.setTextIndent(sc.PixelsFromTwips(p.firstIndent));
  b.setTopMargin(sc.PixelsFromTwips(p.spaceBefore) * verticalUnit);
  b.setBottomMargin(sc.PixelsFromTwips(p.spaceAfter) * verticalUnit);
  if (p.lineHeight > 0)
    b.setLineHeight(sc.PixelsFromTwips(p.lineHeight) * verticalUnit, QTextBlockFormat::MinimumHeight);
  if (p.pageBreakBefore && firstBlock) b.setProperty(kLeadingPageBreakProperty, true);
  else if (p.pageBreakBefore) b.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
  return b;
}

rtf::ParaFormat FromBlockFormat(const QTextBlockFormat& b, const RichScale& sc) {
  rtf::ParaFormat p;
  p.alignment = fromQtAlignment(b.alignment());
  p.leftIndent = sc.TwipsFromPixels(b.leftMargin());
  p.rightIndent = sc.TwipsFromPixels(b.rightMargin());
  p.firstIndent = sc.TwipsFromPixels(b.textIndent());
  p.spaceBefore = sc.TwipsFromPixels(b.topMargin());
  p.spaceAfter = sc.TwipsFromPixels(b.bottomMargin());
  if (b.lineHeightType() == QTextBlockFormat::MinimumHeight)
    p.lineHeight = sc.TwipsFromPixels(b.lineHeight());
  p.pageBreakBefore = (b.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore) != 0 ||
                      b.boolProperty(kLeadingPageBreakProperty);
  return p;
}

namespace {

// The image shown for a picture the toolkit cannot decode: a grey box of its size.
QImage placeholderImage(int w, int h) {
  QImage img(std::max(w, 8), std::max(h, 8), QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setPen(Qt::gray);
  p.drawRect(0, 0, img.width() - 1, img.height() - 1);
  p.drawLine(0, 0, img.width() - 1, img.height() - 1);
  p.drawLine(0, img.height() - 1, img.width() - 1, 0);
  return img;
}

void insertPicture(QTextCursor& cur, QTextDocument& doc, const rtf::Picture& pic,
                   const QTextCharFormat& base, const RichLoadOptions& o) {
  const RichScale& sc = o.scale;
  QByteArray bytes(reinterpret_cast<const char*>(pic.data.data()), qsizetype(pic.data.size()));
  QImage img = QImage::fromData(bytes);
  int pw = pic.pixelWidth > 0 ? pic.pixelWidth : img.width();
  int ph = pic.pixelHeight > 0 ? pic.pixelHeight : img.height();
  if (img.isNull()) img = placeholderImage(pw, ph);
  int wTw = pic.widthTwips > 0 ? pic.widthTwips
                               : int(std::lround(std::max(pw, 1) / kPictureDefaultDpi * kTwipsPerInch));
  int hTw = pic.heightTwips > 0 ? pic.heightTwips
                                : int(std::lround(std::max(ph, 1) / kPictureDefaultDpi * kTwipsPerInch));
  QString name = QStringLiteral("%1:%2").arg(kPictureScheme).arg(nextPictureId++);
  doc.addResource(QTextDocument::ImageResource, QUrl(name), img);
  QTextImageFormat f;
  f.merge(base);
  f.setName(name);
  double w = sc.PixelsFromTwips(wTw), h = sc.PixelsFromTwips(hTw);
  if (!o.maxPictureSize.isEmpty() && (w > o.maxPictureSize.width() || h > o.maxPictureSize.height())) {
    double k = std::min(o.maxPictureSize.width() / w, o.maxPictureSize.height() / h);
    w *= k;
    h *= k;
  }
  f.setWidth(w * o.pictureUnit);
  f.setHeight(h * o.pictureUnit);
  f.setProperty(kPictureDataProperty, bytes);
  f.setProperty(kPictureFormatProperty, int(pic.format));
  f.setProperty(kPicturePixelWidthProperty, pic.pixelWidth);
  f.setProperty(kPicturePixelHeightProperty, pic.pixelHeight);
  f.setProperty(kPictureWidthTwipsProperty, pic.widthTwips);
  f.setProperty(kPictureHeightTwipsProperty, pic.heightTwips);
  cur.insertImage(f);
}

rtf::Picture readPicture(const QTextDocument& doc, const QTextImageFormat& f,
                         const RichScale& sc) {
  rtf::Picture pic;
  QByteArray bytes = f.property(kPictureDataProperty).toByteArray();
  if (!f.hasProperty(kPictureDataProperty)) {
    // Pasted from elsewhere: keep what is shown, as PNG.
    QImage img = doc.resource(QTextDocument::ImageResource, QUrl(f.name())).value<QImage>();
    if (img.isNull()) img = placeholderImage(int(f.width()), int(f.height()));
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    pic.data.assign(bytes.begin(), bytes.end());
    pic.pixelWidth = img.width();
    pic.pixelHeight = img.height();
    pic.widthTwips = sc.TwipsFromPixels(f.width() > 0 ? f.width() : img.width());
    pic.heightTwips = sc.TwipsFromPixels(f.height() > 0 ? f.height() : img.height());
    return pic;
  }
  pic.data.assign(bytes.begin(), bytes.end());
  pic.format = static_cast<rtf::PictureFormat>(f.intProperty(kPictureFormatProperty));
  pic.pixelWidth = f.intProperty(kPicturePixelWidthProperty);
  pic.pixelHeight = f.intProperty(kPicturePixelHeightProperty);
  if (f.hasProperty(kPictureWidthTwipsProperty)) {
    pic.widthTwips = f.intProperty(kPictureWidthTwipsProperty);
    pic.heightTwips = f.intProperty(kPictureHeightTwipsProperty);
  } else {
    pic.widthTwips = sc.TwipsFromPixels(f.width());
    pic.heightTwips = sc.TwipsFromPixels(f.height());
  }
  return pic;
}

QTextCharFormat fieldFormat(int kind, const QString& placeholder, const QTextCharFormat& base,
                            const RichLoadOptions& o) {
  QTextCharFormat f = base;
  f.setProperty(kFieldKindProperty, kind);
  f.setProperty(kFieldPlaceholderProperty, placeholder);
  f.setProperty(kFieldIdProperty, nextFieldId++);
  if (o.colorFields) {
    if (base.hasProperty(QTextFormat::ForegroundBrush))
      f.setProperty(kFieldTextColorProperty, base.foreground().color().rgb() & 0xFFFFFF);
    f.setForeground(QColor::fromRgb(kMergeFieldColor));
  }
  return f;
}

QString fieldText(int kind, const QString& placeholder, const RichLoadOptions& o) {
  if (o.fieldValue) {
    QString v = CutFieldValue(o.fieldValue(kind));
    if (!v.isEmpty() || o.emptyFieldsBlank) return v;
  }
  return placeholder;
}

}  // namespace

int RichScale::TwipsFromPixels(double px) const {
  return int(std::lround(px / (dpi * zoom) * kTwipsPerInch));
}

QString CutFieldValue(const QString& value) { return value.left(kMaxMergeFieldLength); }

QTextCharFormat ToCharFormat(const rtf::CharFormat& c, const RichLoadOptions& o) {
  QTextCharFormat f;
  if (!c.fontName.empty()) f.setFontFamilies(QStringList{fromUtf8(c.fontName)});
  f.setFontPointSize(c.halfPoints / 2.0 * o.scale.zoom);
  f.setFontWeight(c.bold ? QFont::Bold : QFont::Normal);
  f.setFontItalic(c.italic);
  f.setFontUnderline(c.underline);
  f.setFontStrikeOut(c.strikeOut);
  switch (c.verticalAlign) {
    case rtf::VerticalAlign::Subscript: f.setVerticalAlignment(QTextCharFormat::AlignSubScript); break;
    case rtf::VerticalAlign::Superscript: f.setVerticalAlignment(QTextCharFormat::AlignSuperScript); break;
    case rtf::VerticalAlign::Normal: f.setVerticalAlignment(QTextCharFormat::AlignNormal); break;
  }
  if (c.color) {
    QColor col = QColor::fromRgb(*c.color);
    // On a one-bit page dark text is black; only light text is left to the dithering.
    if (o.forMonochrome && qGray(col.rgb()) < kDarkTextGray) col = Qt::black;
    f.setForeground(col);
  }
  if (o.forMonochrome) {
    f.setFontStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::NoSubpixelAntialias));
    f.setFontHintingPreference(QFont::PreferFullHinting);
  }
  return f;
}

rtf::CharFormat FromCharFormat(const QTextCharFormat& f, const RichScale& sc) {
  rtf::CharFormat c;
  QStringList fam = f.fontFamilies().toStringList();
  if (!fam.isEmpty()) c.fontName = toUtf8(fam.first());
  if (f.fontPointSize() > 0) c.halfPoints = int(std::lround(f.fontPointSize() * 2.0 / sc.zoom));
  c.bold = f.fontWeight() >= kBoldWeightFrom;
  c.italic = f.fontItalic();
  c.underline = f.fontUnderline();
  c.strikeOut = f.fontStrikeOut();
  switch (f.verticalAlignment()) {
    case QTextCharFormat::AlignSubScript: c.verticalAlign = rtf::VerticalAlign::Subscript; break;
    case QTextCharFormat::AlignSuperScript: c.verticalAlign = rtf::VerticalAlign::Superscript; break;
    default: break;
  }
  if (f.hasProperty(kFieldIdProperty)) {
    // Red is how a field is shown, not its colour.
    if (f.hasProperty(kFieldTextColorProperty))
      c.color = uint32_t(f.intProperty(kFieldTextColorProperty));
    else if (f.hasProperty(QTextFormat::ForegroundBrush) &&
             (f.foreground().color().rgb() & 0xFFFFFF) != kMergeFieldColor)
      c.color = f.foreground().color().rgb() & 0xFFFFFF;
  } else if (f.hasProperty(QTextFormat::ForegroundBrush) && f.foreground().style() != Qt::NoBrush) {
    c.color = f.foreground().color().rgb() & 0xFFFFFF;
  }
  return c;
}

void ApplyPageSetup(QTextDocument& doc, const rtf::PageSetup& page, const RichScale& sc) {
  doc.setDocumentMargin(0);
  doc.setUseDesignMetrics(true);
  doc.setPageSize(QSizeF(sc.PixelsFromTwips(page.paperWidth), sc.PixelsFromTwips(page.paperHeight)));
  QTextFrameFormat ff = doc.rootFrame()->frameFormat();
  ff.setLeftMargin(sc.PixelsFromTwips(page.marginLeft));
  ff.setRightMargin(sc.PixelsFromTwips(page.marginRight));
  ff.setTopMargin(sc.PixelsFromTwips(page.marginTop));
  ff.setBottomMargin(sc.PixelsFromTwips(page.marginBottom));
  doc.rootFrame()->setFrameFormat(ff);
}

void InsertPictureAt(QTextCursor& cursor, const rtf::Picture& picture,
                     const RichLoadOptions& options) {
  insertPicture(cursor, *cursor.document(), picture, cursor.charFormat(), options);
}

void InsertMergeFieldAt(QTextCursor& cursor, int kind, const QString& placeholder,
                        const RichLoadOptions& o) {
  QTextCharFormat base = cursor.charFormat();
  for (int p : {int(kFieldKindProperty), int(kFieldPlaceholderProperty), int(kFieldIdProperty),
                int(kFieldTextColorProperty)})
    base.clearProperty(p);
  QString text = fieldText(kind, placeholder, o);
  if (text.isEmpty()) text = placeholder;
  cursor.insertText(text, fieldFormat(kind, placeholder, base, o));
  cursor.setCharFormat(base);
}

namespace {

constexpr int kTableBorderTwips = 15;   // 0.75 point: one pixel on the screen, three on the fax page
constexpr int kCellPaddingTwips = 108;  // the space word processors leave around a cell's text

QTextListFormat::Style toQtListStyle(rtf::ListStyle s) {
  switch (s) {
    case rtf::ListStyle::Decimal: return QTextListFormat::ListDecimal;
    case rtf::ListStyle::LowerAlpha: return QTextListFormat::ListLowerAlpha;
    case rtf::ListStyle::UpperAlpha: return QTextListFormat::ListUpperAlpha;
    case rtf::ListStyle::LowerRoman: return QTextListFormat::ListLowerRoman;
    case rtf::ListStyle::UpperRoman: return QTextListFormat::ListUpperRoman;
    case rtf::ListStyle::Bullet:
    case rtf::ListStyle::None: break;
  }
  return QTextListFormat::ListDisc;
}

rtf::ListStyle fromQtListStyle(QTextListFormat::Style s) {
  switch (s) {
    case QTextListFormat::ListDisc:
    case QTextListFormat::ListCircle:
    case QTextListFormat::ListSquare: return rtf::ListStyle::Bullet;
    case QTextListFormat::ListDecimal: return rtf::ListStyle::Decimal;
    case QTextListFormat::ListLowerAlpha: return rtf::ListStyle::LowerAlpha;
    case QTextListFormat::ListUpperAlpha: return rtf::ListStyle::UpperAlpha;
    case QTextListFormat::ListLowerRoman: return rtf::ListStyle::LowerRoman;
    case QTextListFormat::ListUpperRoman: return rtf::ListStyle::UpperRoman;
    default: break;
  }
  return rtf::ListStyle::Bullet;  // a style of its own (none of ours): shown with a mark
}

void markSpacer(QTextCursor& cur) {
  QTextBlockFormat f = cur.blockFormat();
  f.setProperty(kSpacerBlockProperty, true);
  cur.setBlockFormat(f);
}

// Puts the memo's paragraphs into a QTextDocument at a cursor.
class Inserter {
 public:
  Inserter(QTextCursor& cur, const RichLoadOptions& o)
      : cur_(cur), doc_(*cur.document()), o_(o),
        last_(ToCharFormat(rtf::CharFormat{}, o)) {}

  void Insert(const rtf::Document& doc) {
    const std::vector<rtf::Paragraph>& ps = doc.paragraphs;
    for (size_t i = 0; i < ps.size();) {
      if (ps[i].cell.table == 0) {
        paragraph(cur_, ps[i], intoBlock_, intoBlock_ && cur_.block() == doc_.begin());
        intoBlock_ = false;
        ++i;
        continue;
      }
      size_t end = i + 1;
      while (end < ps.size() && ps[end].cell.table == ps[i].cell.table) ++end;
      table(ps, i, end);
      i = end;
    }
    // The block the toolkit keeps after a last table holds no paragraph.
    if (intoBlock_ && !ps.empty() && cur_.block().length() <= 1 && cur_.block() != doc_.begin()) markSpacer(cur_);
  }

 private:
  // One paragraph at `c`: into its block when `useBlock` (taking the paragraph's formats only when
  // the block is empty), else as a new block.
  void paragraph(QTextCursor& c, const rtf::Paragraph& para, bool useBlock, bool documentStart) {
    QTextBlockFormat bf = ToBlockFormat(para.format, o_.scale, documentStart, o_.pictureUnit);
    if (!para.runs.empty()) last_ = ToCharFormat(para.runs.front().format, o_);
    if (!useBlock) {
      c.insertBlock(bf, last_);
      list(c, para);
    } else if (c.block().length() <= 1) {
      c.setBlockFormat(bf);
      c.setBlockCharFormat(last_);
      list(c, para);
    }
    for (const rtf::Run& r : para.runs) {
      QTextCharFormat cf = ToCharFormat(r.format, o_);
      switch (r.kind) {
        case rtf::Run::Kind::Text:
          // A line break within the paragraph is the toolkit's line separator (a '\n' would
          // start a new paragraph).
          if (!r.text.empty())
            c.insertText(fromUtf8(r.text).replace(QLatin1Char('\n'), QChar::LineSeparator), cf);
          break;
        case rtf::Run::Kind::Field: {
          QString ph = fromUtf8(r.field.placeholder);
          QString text = fieldText(r.field.kind, ph, o_);
          if (!text.isEmpty()) c.insertText(text, fieldFormat(r.field.kind, ph, cf, o_));
          break;
        }
        case rtf::Run::Kind::Picture:
          insertPicture(c, doc_, r.picture, cf, o_);
          break;
      }
      last_ = cf;
    }
  }

  void list(QTextCursor& c, const rtf::Paragraph& para) {
    if (para.list.style == rtf::ListStyle::None) return;
    const int level = std::clamp(para.list.level, 0, rtf::kMaxListLevel);
    // An item of this level ends the deeper levels' lists: their numbers start again.
    for (auto it = lists_.begin(); it != lists_.end();)
      it = it->first.first == para.list.list && it->first.second > level ? lists_.erase(it) : std::next(it);
    const std::pair<int, int> key{para.list.list, level};
    auto found = lists_.find(key);
    if (found != lists_.end() && found->second) {
      found->second->add(c.block());
      return;
    }
    QTextListFormat f;
    f.setStyle(toQtListStyle(para.list.style));
    f.setIndent(level + 1);
    f.setProperty(kListIdProperty, para.list.list);
    lists_[key] = c.createList(f);
  }

  void table(const std::vector<rtf::Paragraph>& ps, size_t begin, size_t end) {
    // Rows follow one another in the paragraphs' order; the grid has the widest row's columns.
    int rows = 0, columns = 1;
    for (size_t i = begin; i < end; ++i) {
      if (i == begin || ps[i].cell.row != ps[i - 1].cell.row) ++rows;
      columns = std::max(columns, std::clamp(ps[i].cell.column, 0, rtf::kMaxTableColumns - 1) + 1);
    }
    QTextTableFormat tf;
    const bool borders = ps[begin].cell.borders;
    tf.setBorder(borders ? o_.scale.PixelsFromTwips(kTableBorderTwips) * o_.pictureUnit : 0);
    tf.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    tf.setBorderBrush(QBrush(Qt::black));
    tf.setCellSpacing(0);
    tf.setCellPadding(o_.scale.PixelsFromTwips(kCellPaddingTwips) * o_.pictureUnit);
    tf.setAlignment(Qt::AlignLeft);
    tf.setMargin(0);
    QList<QTextLength> widths;
    for (int c = 0; c < columns; ++c) {
      int twips = 0;
      for (size_t i = begin; i < end && twips == 0; ++i)
        if (ps[i].cell.column == c && ps[i].cell.width > 0) twips = std::min(ps[i].cell.width, rtf::kMaxCellWidthTwips);
      // A column without a width takes an even share of the text width.
      widths.push_back(twips > 0 ? QTextLength(QTextLength::FixedLength, o_.scale.PixelsFromTwips(twips))
                                 : QTextLength(QTextLength::PercentageLength, 100.0 / columns));
    }
    tf.setColumnWidthConstraints(widths);
    // The table follows the cursor's block; one that holds no paragraph is the toolkit's.
    if (intoBlock_ && cur_.block().length() <= 1) markSpacer(cur_);
    cur_.movePosition(QTextCursor::EndOfBlock);
    QTextTable* t = cur_.insertTable(rows, columns, tf);
    int row = -1, column = -1;
    QTextCursor cc;
    bool firstInCell = false;
    for (size_t i = begin; i < end; ++i) {
      if (i == begin || ps[i].cell.row != ps[i - 1].cell.row) {
        ++row;
        column = -1;
      }
      const int c = std::clamp(ps[i].cell.column, 0, columns - 1);
      if (c != column) {
        column = c;
        cc = t->cellAt(row, c).lastCursorPosition();
        firstInCell = cc.block().length() <= 1;
      }
      paragraph(cc, ps[i], firstInCell, false);
      firstInCell = false;
    }
    cur_ = t->lastCursorPosition();
    cur_.movePosition(QTextCursor::NextBlock);
    intoBlock_ = true;
  }

  QTextCursor& cur_;
  QTextDocument& doc_;
  const RichLoadOptions& o_;
  bool intoBlock_ = true;  // the next paragraph goes into the cursor's block (continues it)
  QTextCharFormat last_;
  std::map<std::pair<int, int>, QTextList*> lists_;  // (list, level) -> the list its next item joins
};

}  // namespace

void InsertDocumentAt(QTextCursor& cursor, const rtf::Document& doc, const RichLoadOptions& o) {
  cursor.beginEditBlock();
  if (cursor.hasSelection()) cursor.removeSelectedText();
  Inserter(cursor, o).Insert(doc);
  cursor.endEditBlock();
}

void LoadIntoTextDocument(const rtf::Document& doc, QTextDocument& out, const RichLoadOptions& o) {
  bool undo = out.isUndoRedoEnabled();
  out.setUndoRedoEnabled(false);
  out.clear();
  if (o.paginate) ApplyPageSetup(out, doc.page, o.scale);
  out.setIndentWidth(o.scale.PixelsFromTwips(rtf::kListIndentTwips) * o.pictureUnit);
  QTextCursor cur(&out);
  cur.beginEditBlock();
  Inserter(cur, o).Insert(doc);
  cur.endEditBlock();
  out.setUndoRedoEnabled(undo);
  out.setModified(false);
}

namespace {

// The outermost table a block is in: a table inside a cell keeps its text in the outer cell.
QTextTable* outerTable(const QTextDocument& doc, const QTextBlock& b) {
  QTextTable* outer = nullptr;
  for (QTextFrame* f = QTextCursor(b).currentFrame(); f && f != doc.rootFrame(); f = f->parentFrame())
    if (auto* t = qobject_cast<QTextTable*>(f)) outer = t;
  return outer;
}

}  // namespace

rtf::Document ReadTextDocument(const QTextDocument& in, const RichScale& sc,
                               const rtf::PageSetup& page, const QTextDocument* resources) {
  rtf::Document doc;
  doc.page = page;
  const QTextDocument& images = resources ? *resources : in;
  // Lists and tables are numbered in the order they begin.
  std::map<std::pair<bool, quintptr>, int> listNumbers;  // (by our number?, number or object)
  std::map<const QTextTable*, int> tableNumbers;
  for (QTextBlock b = in.begin(); b.isValid(); b = b.next()) {
    if (b.length() <= 1 && b.blockFormat().boolProperty(kSpacerBlockProperty)) continue;
    rtf::Paragraph para;
    para.format = FromBlockFormat(b.blockFormat(), sc);
    if (QTextList* l = b.textList()) {
      const QTextListFormat lf = l->format();
      const std::pair<bool, quintptr> key =
          lf.hasProperty(kListIdProperty) ? std::pair<bool, quintptr>{true, quintptr(lf.intProperty(kListIdProperty))}
                                          : std::pair<bool, quintptr>{false, quintptr(l)};
      auto [it, added] = listNumbers.emplace(key, int(listNumbers.size()) + 1);
      para.list.style = fromQtListStyle(lf.style());
      para.list.list = it->second;
      para.list.level = std::clamp(lf.indent() - 1, 0, rtf::kMaxListLevel);
    }
    if (QTextTable* t = outerTable(in, b)) {
      auto [it, added] = tableNumbers.emplace(t, int(tableNumbers.size()) + 1);
      const QTextTableCell cell = t->cellAt(b.position());
      const QTextTableFormat tf = t->format();
      para.cell.table = it->second;
      para.cell.row = cell.row();
      para.cell.column = std::min(cell.column(), rtf::kMaxTableColumns - 1);
      const QList<QTextLength> widths = tf.columnWidthConstraints();
      if (cell.column() < widths.size() && widths[cell.column()].type() == QTextLength::FixedLength)
        para.cell.width = std::min(sc.TwipsFromPixels(widths[cell.column()].rawValue()), rtf::kMaxCellWidthTwips);
      para.cell.borders = tf.border() > 0 && tf.borderStyle() != QTextFrameFormat::BorderStyle_None;
    }
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      QTextFragment frag = it.fragment();
      if (!frag.isValid()) continue;
      QTextCharFormat cf = frag.charFormat();
      if (!cf.hasProperty(QTextFormat::FontPointSize))
        cf.setFontPointSize(in.defaultFont().pointSizeF());
      QString text = frag.text();
      if (cf.isImageFormat()) {
        rtf::Run r;
        r.kind = rtf::Run::Kind::Picture;
        r.format = FromCharFormat(cf, sc);
        r.picture = readPicture(images, cf.toImageFormat(), sc);
        for (QChar ch : text)
          if (ch == QChar::ObjectReplacementCharacter) para.runs.push_back(r);
        continue;
      }
      if (cf.hasProperty(kFieldIdProperty)) {
        int id = cf.intProperty(kFieldIdProperty);
        if (!para.runs.empty() && para.runs.back().kind == rtf::Run::Kind::Field &&
            cf.hasProperty(kFieldIdProperty) && it != b.begin()) {
          // A field split into fragments (an edit inside it) is still one field.
          QTextBlock::iterator prev = it;
          --prev;
          if (prev.fragment().charFormat().intProperty(kFieldIdProperty) == id) continue;
        }
        rtf::Run r;
        r.kind = rtf::Run::Kind::Field;
        r.format = FromCharFormat(cf, sc);
        r.field.kind = cf.intProperty(kFieldKindProperty);
        r.field.placeholder = toUtf8(cf.stringProperty(kFieldPlaceholderProperty));
        para.runs.push_back(std::move(r));
        continue;
      }
      rtf::CharFormat f = FromCharFormat(cf, sc);
      std::string s = toUtf8(QString(text).replace(QChar::LineSeparator, QLatin1Char('\n')));
      if (!para.runs.empty() && para.runs.back().kind == rtf::Run::Kind::Text &&
          para.runs.back().format == f) {
        para.runs.back().text += s;
      } else {
        rtf::Run r;
        r.format = f;
        r.text = std::move(s);
        para.runs.push_back(std::move(r));
      }
    }
    doc.paragraphs.push_back(std::move(para));
  }
  // The toolkit always holds one block; an untouched one is no paragraph of the memo.
  if (doc.paragraphs.size() == 1 && doc.paragraphs[0].runs.empty() &&
      doc.paragraphs[0].format == rtf::ParaFormat{} && doc.paragraphs[0].list == rtf::ListItem{} &&
      doc.paragraphs[0].cell == rtf::TableCell{})
    doc.paragraphs.clear();
  return doc;
}

rtf::Document ReadSelection(const QTextCursor& cursor, const RichScale& scale, const rtf::PageSetup& page) {
  // The selection as a document of its own; its formats (fields, pictures, lists) come along.
  QTextDocument part;
  part.setDefaultFont(cursor.document()->defaultFont());
  QTextCursor c(&part);
  c.insertFragment(cursor.selection());
  return ReadTextDocument(part, scale, page, cursor.document());
}

std::optional<FieldSpan> FieldSpanAt(const QTextDocument& doc, int position) {
  if (position < 0 || position >= doc.characterCount()) return std::nullopt;
  const QTextBlock b = doc.findBlock(position);
  // The block's fields: runs of fragments of one instance id.
  std::optional<FieldSpan> span;
  int spanId = -1;
  for (auto it = b.begin(); !it.atEnd(); ++it) {
    const QTextFragment frag = it.fragment();
    const QTextCharFormat cf = frag.charFormat();
    const int id = cf.hasProperty(kFieldIdProperty) ? cf.intProperty(kFieldIdProperty) : -1;
    if (span && id == spanId) {
      span->end = frag.position() + frag.length();
      continue;
    }
    if (span && span->start <= position && position < span->end) return span;
    span.reset();
    if (id >= 0) {
      span = FieldSpan{frag.position(), frag.position() + frag.length()};
      spanId = id;
    }
  }
  if (span && span->start <= position && position < span->end) return span;
  return std::nullopt;
}

int RefreshMergeFields(QTextDocument& doc, const RichLoadOptions& o) {
  struct Span { int start, length; QTextCharFormat format; };
  std::vector<Span> spans;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
    int lastId = -1;
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      QTextFragment frag = it.fragment();
      QTextCharFormat cf = frag.charFormat();
      if (!cf.hasProperty(kFieldIdProperty)) { lastId = -1; continue; }
      int id = cf.intProperty(kFieldIdProperty);
      if (id == lastId && !spans.empty()) {
        spans.back().length = frag.position() + frag.length() - spans.back().start;
      } else {
        spans.push_back({frag.position(), frag.length(), cf});
      }
      lastId = id;
    }
  }
  QTextCursor cur(&doc);
  bool editing = false;
  for (auto it = spans.rbegin(); it != spans.rend(); ++it) {
    QString text = fieldText(it->format.intProperty(kFieldKindProperty),
                             it->format.stringProperty(kFieldPlaceholderProperty), o);
    if (text.isEmpty()) text = it->format.stringProperty(kFieldPlaceholderProperty);
    cur.setPosition(it->start);
    cur.setPosition(it->start + it->length, QTextCursor::KeepAnchor);
    if (cur.selectedText() == text) continue;
    if (!editing) { cur.beginEditBlock(); editing = true; }
    cur.insertText(text, it->format);
  }
  if (editing) cur.endEditBlock();
  return int(spans.size());
}

}  // namespace qv::ui
