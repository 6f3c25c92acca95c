#include "ui/rich_document.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QUrl>
#include <atomic>
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

void LoadIntoTextDocument(const rtf::Document& doc, QTextDocument& out, const RichLoadOptions& o) {
  bool undo = out.isUndoRedoEnabled();
  out.setUndoRedoEnabled(false);
  out.clear();
  if (o.paginate) ApplyPageSetup(out, doc.page, o.scale);
  QTextCursor cur(&out);
  cur.beginEditBlock();
  QTextCharFormat last = ToCharFormat(rtf::CharFormat{}, o);
  for (size_t i = 0; i < doc.paragraphs.size(); ++i) {
    const rtf::Paragraph& para = doc.paragraphs[i];
    QTextBlockFormat bf = ToBlockFormat(para.format, o.scale, i == 0, o.pictureUnit);
    if (!para.runs.empty()) last = ToCharFormat(para.runs.front().format, o);
    if (i == 0) {
      cur.setBlockFormat(bf);
      cur.setBlockCharFormat(last);
    } else {
      cur.insertBlock(bf, last);
    }
    for (const rtf::Run& r : para.runs) {
      QTextCharFormat cf = ToCharFormat(r.format, o);
      switch (r.kind) {
        case rtf::Run::Kind::Text:
          // A line break within the paragraph is the toolkit's line separator (a '\n' would
          // start a new paragraph).
          if (!r.text.empty())
            cur.insertText(fromUtf8(r.text).replace(QLatin1Char('\n'), QChar::LineSeparator), cf);
          break;
        case rtf::Run::Kind::Field: {
          QString ph = fromUtf8(r.field.placeholder);
          QString text = fieldText(r.field.kind, ph, o);
          if (!text.isEmpty()) cur.insertText(text, fieldFormat(r.field.kind, ph, cf, o));
          break;
        }
        case rtf::Run::Kind::Picture:
          insertPicture(cur, out, r.picture, cf, o);
          break;
      }
      last = cf;
    }
  }
  cur.endEditBlock();
  out.setUndoRedoEnabled(undo);
  out.setModified(false);
}

rtf::Document ReadTextDocument(const QTextDocument& in, const RichScale& sc,
                               const rtf::PageSetup& page) {
  rtf::Document doc;
  doc.page = page;
  for (QTextBlock b = in.begin(); b.isValid(); b = b.next()) {
    rtf::Paragraph para;
    para.format = FromBlockFormat(b.blockFormat(), sc);
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
        r.picture = readPicture(in, cf.toImageFormat(), sc);
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
      doc.paragraphs[0].format == rtf::ParaFormat{})
    doc.paragraphs.clear();
  return doc;
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
