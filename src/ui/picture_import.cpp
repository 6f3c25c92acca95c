#include "ui/picture_import.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <cmath>

#include "ui/page_renderer.h"

#ifdef QV_HAVE_POPPLER
#include <poppler-qt6.h>
#endif

namespace qv::ui {

namespace {

constexpr double kTwipsPerInch = 1440.0;
constexpr double kPointsPerInch = 72.0;
constexpr double kDefaultDpi = 96.0;
constexpr double kMetersPerInch = 0.0254;
constexpr qint64 kMaxPictureFileBytes = 32 * 1024 * 1024;

void setError(std::string* error, const QString& text) {
  if (error) *error = text.toStdString();
}

std::vector<uint8_t> pngBytes(const QImage& img) {
  QByteArray b;
  QBuffer buf(&b);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "PNG");
  return {b.begin(), b.end()};
}

// Fits w x h twips into the maximum, keeping the aspect; never enlarges.
void fit(double& w, double& h, int maxW, int maxH) {
  if (maxW > 0 && maxH > 0 && (w > maxW || h > maxH)) {
    double k = std::min(maxW / w, maxH / h);
    w *= k;
    h *= k;
  }
}

}  // namespace

bool LoadPictureFile(const QString& fileName, int maxW, int maxH, rtf::Picture& out,
                     std::string* error) {
  QFile f(fileName);
  if (!f.open(QIODevice::ReadOnly)) {
    setError(error, QStringLiteral("Cannot open the picture \"%1\".").arg(fileName));
    return false;
  }
  if (f.size() > kMaxPictureFileBytes) {
    setError(error, QStringLiteral("The picture \"%1\" is too large (more than 32 MB).").arg(fileName));
    return false;
  }
  QByteArray bytes = f.readAll();
  QBuffer buf(&bytes);
  QImageReader reader(&buf);
  QByteArray kind = reader.format().toLower();
  QImage img = reader.read();
  if (img.isNull()) {
    setError(error, QStringLiteral("\"%1\" is not a picture that can be read (PNG, JPEG or BMP).").arg(fileName));
    return false;
  }
  rtf::Picture pic;
  if (kind == "png") {
    pic.format = rtf::PictureFormat::Png;
    pic.data.assign(bytes.begin(), bytes.end());
  } else if (kind == "jpeg" || kind == "jpg") {
    pic.format = rtf::PictureFormat::Jpeg;
    pic.data.assign(bytes.begin(), bytes.end());
  } else {
    pic.format = rtf::PictureFormat::Png;  // BMP and the rest travel as PNG
    pic.data = pngBytes(img);
  }
  pic.pixelWidth = img.width();
  pic.pixelHeight = img.height();
  double dpiX = img.dotsPerMeterX() > 0 ? img.dotsPerMeterX() * kMetersPerInch : kDefaultDpi;
  double dpiY = img.dotsPerMeterY() > 0 ? img.dotsPerMeterY() * kMetersPerInch : kDefaultDpi;
  double w = img.width() / dpiX * kTwipsPerInch, h = img.height() / dpiY * kTwipsPerInch;
  fit(w, h, maxW, maxH);
  pic.widthTwips = std::max(1, int(std::lround(w)));
  pic.heightTwips = std::max(1, int(std::lround(h)));
  out = std::move(pic);
  return true;
}

bool PdfAvailable() {
#ifdef QV_HAVE_POPPLER
  return true;
#else
  return false;
#endif
}

bool LoadPdfPages(const QString& fileName, int maxW, int maxH, std::vector<rtf::Picture>& out,
                  std::string* error, const PdfProgress& progress) {
#ifndef QV_HAVE_POPPLER
  (void)maxW;
  (void)maxH;
  (void)out;
  (void)progress;
  setError(error, QStringLiteral("PDF pages cannot be read in this build."));
  return false;
#else
  if (!QFile::exists(fileName)) {
    setError(error, QStringLiteral("Cannot open the PDF \"%1\".").arg(fileName));
    return false;
  }
  std::unique_ptr<Poppler::Document> doc = Poppler::Document::load(fileName);
  if (!doc) {
    setError(error, QStringLiteral("\"%1\" is not a PDF that can be read.").arg(fileName));
    return false;
  }
  if (doc->isLocked()) {
    setError(error, QStringLiteral("\"%1\" is protected by a password.").arg(fileName));
    return false;
  }
  const int total = doc->numPages();
  if (total < 1) {
    setError(error, QStringLiteral("\"%1\" has no pages.").arg(fileName));
    return false;
  }
  if (total > kMaxPdfPages) {
    setError(error, QStringLiteral("\"%1\" has %2 pages; at most %3 can be inserted.")
                        .arg(fileName).arg(total).arg(kMaxPdfPages));
    return false;
  }
  // Crisp text: glyphs and lines without antialiasing; photographs stay grey and are dithered
  // when the page is sent.
  doc->setRenderHint(Poppler::Document::Antialiasing, false);
  doc->setRenderHint(Poppler::Document::TextAntialiasing, false);
  doc->setRenderHint(Poppler::Document::TextHinting, true);
  std::vector<rtf::Picture> pages;
  for (int i = 0; i < total; ++i) {
    if (progress && !progress(i, total)) {
      setError(error, QStringLiteral("Inserting the PDF was cancelled."));
      return false;
    }
    std::unique_ptr<Poppler::Page> page = doc->page(i);
    if (!page) {
      setError(error, QStringLiteral("Page %1 of \"%2\" cannot be read.").arg(i + 1).arg(fileName));
      return false;
    }
    QSizeF pts = page->pageSizeF();
    if (pts.width() <= 0 || pts.height() <= 0) {
      setError(error, QStringLiteral("Page %1 of \"%2\" has no size.").arg(i + 1).arg(fileName));
      return false;
    }
    double w = pts.width() / kPointsPerInch * kTwipsPerInch;
    double h = pts.height() / kPointsPerInch * kTwipsPerInch;
    fit(w, h, maxW, maxH);
    // Drawn at the size it is sent at, so the renderer places its pixels one to one.
    double dpi = kRenderDpi * (w / kTwipsPerInch) / (pts.width() / kPointsPerInch);
    QImage img = page->renderToImage(dpi, dpi);
    if (img.isNull()) {
      setError(error, QStringLiteral("Page %1 of \"%2\" cannot be drawn.").arg(i + 1).arg(fileName));
      return false;
    }
    img = img.convertToFormat(QImage::Format_Grayscale8);
    rtf::Picture pic;
    pic.format = rtf::PictureFormat::Png;
    pic.data = pngBytes(img);
    pic.pixelWidth = img.width();
    pic.pixelHeight = img.height();
    pic.widthTwips = std::max(1, int(std::lround(w)));
    pic.heightTwips = std::max(1, int(std::lround(h)));
    pages.push_back(std::move(pic));
  }
  if (progress) progress(total, total);
  out = std::move(pages);
  return true;
#endif
}

int PdfPageCount(const QString& fileName, std::string* error) {
#ifndef QV_HAVE_POPPLER
  setError(error, QStringLiteral("PDF files cannot be read in this build."));
  (void)fileName;
  return -1;
#else
  std::unique_ptr<Poppler::Document> doc = Poppler::Document::load(fileName);
  if (!doc || doc->isLocked()) {
    setError(error, QStringLiteral("\"%1\" is not a PDF that can be read.").arg(fileName));
    return -1;
  }
  return doc->numPages();
#endif
}

}  // namespace qv::ui
