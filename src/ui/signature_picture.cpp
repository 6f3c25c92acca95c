#include "ui/signature_picture.h"

#include <QImage>
#include <QImageReader>

#include <vector>

#include "faximage/marks_editor.h"

namespace qv::ui {

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
  qv::faximage::MarkPicture pic = qv::faximage::PictureFromGreyAlpha(greyAlpha.data(), image.width(), image.height());
  if (pic.empty()) return fail(QStringLiteral("The picture %1 holds no dark ink to take as a signature.").arg(file));
  return pic;
}

}  // namespace qv::ui
