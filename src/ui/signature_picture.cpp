#include "ui/signature_picture.h"

#include <QImage>
#include <QFontMetrics>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>

#include <algorithm>

#include <vector>

#include "faximage/marks_editor.h"

namespace qv::ui {

namespace {
// A typed signature is drawn this many pixels high, near the height of a handwritten one on paper
// at the fax's resolution.
constexpr int kTypedSignaturePixels = 64;
}  // namespace

qv::faximage::MarkPicture SignatureFromPictureFile(const QString& file, QString* error) {
  auto fail = [error](const QString& why) {
    if (error) *error = why;
    return qv::faximage::MarkPicture{};
  };
  QImageReader reader(file);
  // Refuse a huge picture before decoding it: a signature is a few hundred pixels across.
  const QSize size = reader.size();
  if (size.isValid() && (size.width() > qv::faximage::kMarkMaxPicture || size.height() > qv::faximage::kMarkMaxPicture))
    return fail(QStringLiteral("The picture %1 is too large for a signature (at most %2 x %2 pixels).")
                    .arg(file)
                    .arg(qv::faximage::kMarkMaxPicture));
  QImage image = reader.read();
  if (image.isNull()) return fail(QStringLiteral("The picture %1 cannot be read: %2").arg(file, reader.errorString()));
  if (image.width() > qv::faximage::kMarkMaxPicture || image.height() > qv::faximage::kMarkMaxPicture)
    return fail(QStringLiteral("The picture %1 is too large for a signature.").arg(file));
  qv::faximage::MarkPicture pic = InkOf(image);
  if (pic.empty()) return fail(QStringLiteral("The picture %1 holds no dark ink to take as a signature.").arg(file));
  return pic;
}

qv::faximage::MarkPicture InkOf(QImage image) {
  image = image.convertToFormat(QImage::Format_ARGB32);
  std::vector<uint8_t> greyAlpha(size_t(image.width()) * size_t(image.height()) * 2);
  size_t i = 0;
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      greyAlpha[i++] = static_cast<uint8_t>(qGray(row[x]));
      greyAlpha[i++] = static_cast<uint8_t>(qAlpha(row[x]));
    }
  }
  return qv::faximage::PictureFromGreyAlpha(greyAlpha.data(), image.width(), image.height());
}

qv::faximage::MarkPicture SignatureFromTypedName(const QString& name) {
  if (name.trimmed().isEmpty()) return {};
  QFont font(QStringLiteral("cursive"), 1);
  font.setStyleHint(QFont::Cursive);
  font.setItalic(true);
  font.setPixelSize(kTypedSignaturePixels);
  const QFontMetrics metrics(font);
  const QRect box = metrics.boundingRect(name.trimmed());
  QImage image(std::min(box.width() + 8, qv::faximage::kMarkMaxPicture), kTypedSignaturePixels * 2,
               QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setFont(font);
  p.setPen(Qt::black);
  p.drawText(QPoint(4 - box.left(), metrics.ascent() + kTypedSignaturePixels / 4), name.trimmed());
  p.end();
  return InkOf(image);
}

SignaturePad::SignaturePad(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("SignaturePad"));
  setAccessibleName(QStringLiteral("Signature drawing area"));
  setMinimumSize(kPadWidth, kPadHeight);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void SignaturePad::Clear() {
  strokes_.clear();
  update();
}

qv::faximage::MarkPicture SignaturePad::Picture() const {
  return qv::faximage::PictureFromStrokes(strokes_, kPadPenWidth);
}

void SignaturePad::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  const QPoint p = e->position().toPoint();
  strokes_.push_back({{p.x(), p.y()}});
  update();
}

void SignaturePad::mouseMoveEvent(QMouseEvent* e) {
  if (strokes_.empty() || !(e->buttons() & Qt::LeftButton)) return;
  const QPoint p = e->position().toPoint();
  strokes_.back().push_back({p.x(), p.y()});
  update();
}

void SignaturePad::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  p.setPen(QPen(Qt::black, kPadPenWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  for (const auto& stroke : strokes_) {
    if (stroke.size() == 1) p.drawPoint(stroke[0].x, stroke[0].y);
    for (size_t i = 1; i < stroke.size(); ++i)
      p.drawLine(stroke[i - 1].x, stroke[i - 1].y, stroke[i].x, stroke[i].y);
  }
}

}  // namespace qv::ui
