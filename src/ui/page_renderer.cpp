#include "ui/page_renderer.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QTextDocument>
#include <algorithm>
#include <bit>
#include <cstring>
#include <cmath>
#include <memory>
#include <vector>

#include "ui/rich_document.h"

// The screen resolution the toolkit's picture handler measures pictures against.
Q_GUI_EXPORT int qt_defaultDpiY();

namespace qv::ui {

namespace {

constexpr double kMetersPerInch = 0.0254;
constexpr int kWhite = 255;
constexpr int kThreshold = 128;
// Text this long is content even when it is only blanks.
constexpr size_t kBlankTextLimit = 256;

// Eight grey pixels as one word, leftmost pixel in the low byte, whatever the machine's order.
inline uint64_t loadPixels8(const uint8_t* p) {
  uint64_t v;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&v, p, sizeof v);
  } else {
    v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  }
  return v;
}

// Whether all eight pixels of a word are pure black (0) or pure white (255).
inline bool pureBlackWhite8(uint64_t v) {
  constexpr uint64_t kLowBits = 0x0101010101010101ull;
  return v == ((v >> 7) & kLowBits) * 0xFF;
}

// The eight pixels as one byte of fax row, black (below the threshold, i.e. the high bit clear)
// as 1, leftmost pixel in the high bit: the multiplication moves the bit of byte i to bit 63 - i
// (no two partial products meet, so nothing carries).
static_assert(kThreshold == 128, "the packing reads the threshold from the high bit");
inline uint8_t packBlack8(uint64_t v) {
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  return uint8_t((((~v & kHighBits) >> 7) * 0x8040201008040201ull) >> 56);
}

// Floyd-Steinberg from 8-bit grey into a one-bit image (index 1 = black). Pure black and white
// pixels carry no error, so text drawn without antialiasing passes through unchanged and only
// pictures (and light-coloured text) are dithered. Rows without any grey are packed directly,
// eight pixels at a time.
void ditherToMono(const QImage& gray, QImage& mono, std::vector<int>& errBuf) {
  const int w = gray.width(), h = gray.height();
  const int words = w / 8;
  errBuf.assign(size_t(2 * (w + 2)), 0);
  int* cur = errBuf.data() + 1;
  int* next = errBuf.data() + (w + 2) + 1;
  bool carry = false;  // error pending for the current row
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = gray.constScanLine(y);
    uint8_t* dst = mono.scanLine(y);
    bool grey = carry;
    if (!grey) {
      int i = 0;
      for (; i < words; ++i) {
        const uint64_t v = loadPixels8(src + 8 * i);
        if (!pureBlackWhite8(v)) break;
        dst[i] = packBlack8(v);
      }
      grey = i < words;
      if (!grey && w % 8 != 0) {
        dst[words] = 0;
        for (int x = 8 * words; x < w && !grey; ++x) {
          grey = src[x] != 0 && src[x] != kWhite;
          if (src[x] == 0) dst[x >> 3] |= uint8_t(0x80 >> (x & 7));
        }
      }
      if (!grey) continue;
    }
    std::fill(dst, dst + (w + 7) / 8, 0);
    std::fill(next - 1, next + w + 1, 0);
    bool anyErr = false;
    for (int x = 0; x < w; ++x) {
      int v = src[x] + cur[x] / 16;
      int out = v < kThreshold ? 0 : kWhite;
      if (out == 0) dst[x >> 3] |= uint8_t(0x80 >> (x & 7));
      int e = v - out;
      if (e != 0) {
        anyErr = true;
        cur[x + 1] += e * 7;
        next[x - 1] += e * 3;
        next[x] += e * 5;
        next[x + 1] += e;
      }
    }
    std::swap(cur, next);
    carry = anyErr;
    if (!carry) std::fill(cur - 1, cur + w + 1, 0);
  }
}

QImage makeMono(int w, int h) {
  QImage img(w, h, QImage::Format_Mono);
  img.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  img.fill(0);
  const int dpm = int(std::lround(kRenderDpi / kMetersPerInch));
  img.setDotsPerMeterX(dpm);
  img.setDotsPerMeterY(dpm);
  return img;
}

}  // namespace

struct PageRenderer::Impl {
  QImage device;  // the 200-dpi paint device the layout measures fonts on
  std::unique_ptr<QTextDocument> doc;
  QRect textRect;
  int pages = 1;
  mutable QImage gray;
  mutable std::vector<int> errBuf;
};

PageRenderer::PageRenderer(const rtf::Document& source, std::function<QString(int kind)> fieldValue)
    : d_(new Impl) {
  const int dpm = int(std::lround(kRenderDpi / kMetersPerInch));
  d_->device = QImage(8, 8, QImage::Format_Grayscale8);
  d_->device.setDotsPerMeterX(dpm);
  d_->device.setDotsPerMeterY(dpm);

  // The text area of the page setup at 200 dpi, kept inside the drawing margins.
  RichScale sc{double(kRenderDpi), 1.0};
  const rtf::PageSetup& pg = source.page;
  const int areaW = kRenderPageWidth - 2 * kRenderMargin;
  const int areaH = kRenderPageHeight - 2 * kRenderMargin;
  int textW = int(std::lround(sc.PixelsFromTwips(pg.paperWidth - pg.marginLeft - pg.marginRight)));
  int textH = int(std::lround(sc.PixelsFromTwips(pg.paperHeight - pg.marginTop - pg.marginBottom)));
  textW = std::clamp(textW, 1, areaW);
  textH = std::clamp(textH, 1, areaH);
  int left = std::clamp(int(std::lround(sc.PixelsFromTwips(pg.marginLeft))), kRenderMargin,
                        kRenderPageWidth - kRenderMargin - textW);
  int top = std::clamp(int(std::lround(sc.PixelsFromTwips(pg.marginTop))), kRenderMargin,
                       kRenderPageHeight - kRenderMargin - textH);
  d_->textRect = QRect(left, top, textW, textH);

  d_->doc = std::make_unique<QTextDocument>();
  QTextDocument& doc = *d_->doc;
  doc.documentLayout()->setPaintDevice(&d_->device);
  // Advances from the fonts' design, not hinted at one resolution: the editor on the screen breaks
  // lines and pages where the fax pages do.
  doc.setUseDesignMetrics(true);
  QFont base = doc.defaultFont();
  base.setPointSizeF(rtf::CharFormat{}.halfPoints / 2.0);
  base.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::NoSubpixelAntialias));
  base.setHintingPreference(QFont::PreferFullHinting);
  doc.setDefaultFont(base);

  RichLoadOptions o;
  o.scale = sc;
  o.forMonochrome = true;
  o.colorFields = false;
  o.paginate = false;
  o.maxPictureSize = QSizeF(textW, textH);
  o.pictureUnit = double(qt_defaultDpiY()) / kRenderDpi;
  if (fieldValue) {
    o.fieldValue = std::move(fieldValue);
    o.emptyFieldsBlank = true;
  }
  // Margin and page size before the content, so the text is laid out once, at its final width.
  doc.setDocumentMargin(0);
  doc.setPageSize(QSizeF(textW, textH));
  LoadIntoTextDocument(source, doc, o);
  d_->pages = std::max(1, doc.pageCount());
}

PageRenderer::~PageRenderer() { delete d_; }

int PageRenderer::PageCount() const { return d_->pages; }

QRect PageRenderer::TextRect() const { return d_->textRect; }

int PageRenderer::RenderPage(int page, QImage& out) const {
  if (page < 1) page = 1;
  if (out.width() != kRenderPageWidth || out.height() != kRenderPageHeight ||
      out.format() != QImage::Format_Mono)
    out = makeMono(kRenderPageWidth, kRenderPageHeight);
  else {
    out.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    out.fill(0);
  }
  if (page > d_->pages) return 0;

  QImage& gray = d_->gray;
  if (gray.isNull()) {
    gray = QImage(kRenderPageWidth, kRenderPageHeight, QImage::Format_Grayscale8);
    gray.setDotsPerMeterX(d_->device.dotsPerMeterX());
    gray.setDotsPerMeterY(d_->device.dotsPerMeterY());
  }
  gray.fill(kWhite);
  {
    QPainter p(&gray);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, false);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);  // pictures scaled smoothly, then dithered
    const QRect& tr = d_->textRect;
    const double pageTop = double(page - 1) * tr.height();
    p.setClipRect(tr);
    p.translate(tr.left(), tr.top() - pageTop);
    QAbstractTextDocumentLayout::PaintContext ctx;
    ctx.clip = QRectF(0, pageTop, tr.width(), tr.height());
    ctx.palette.setColor(QPalette::Text, Qt::black);
    d_->doc->documentLayout()->draw(&p, ctx);
  }
  ditherToMono(gray, out, d_->errBuf);
  return page < d_->pages ? page + 1 : 0;
}

bool IsBlankForSending(const rtf::Document& doc) {
  if (doc.IsEmpty()) return true;
  for (const rtf::Paragraph& p : doc.paragraphs)
    for (const rtf::Run& r : p.runs)
      if (r.kind == rtf::Run::Kind::Picture) return false;
  const std::string text = doc.PlainText();
  // Characters, not bytes: UTF-8 continuation bytes do not count.
  size_t chars = size_t(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
  if (chars >= kBlankTextLimit) return false;
  // Every line, not only the first ones: a short text may hold its one word on any line.
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

}  // namespace qv::ui
