#pragma once
// A signature taken from a picture file (a scan or a photo of a signature, or a PNG with a
// transparent background) as the bilevel picture a signature mark carries.

#include <QImage>
#include <QString>
#include <QWidget>

#include <vector>

#include "faximage/page_marks.h"

namespace qv::ui {

// Reads any picture Qt reads; the ink is what is opaque and dark (see PictureFromGreyAlpha). An
// empty picture and `error` set when the file cannot be read, is larger than a signature may be,
// or holds no ink.
qv::faximage::MarkPicture SignatureFromPictureFile(const QString& file, QString* error = nullptr);

// The ink of any picture: what is opaque and dark.
qv::faximage::MarkPicture InkOf(QImage image);

// A signature typed as a name, in a script font: the keyboard's way to sign. Empty for an empty
// name.
qv::faximage::MarkPicture SignatureFromTypedName(const QString& name);

// A small white area to draw a signature on with the mouse or a tablet pen.
class SignaturePad : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kPadWidth = 360;
  static constexpr int kPadHeight = 120;
  static constexpr int kPadPenWidth = 3;

  explicit SignaturePad(QWidget* parent = nullptr);
  void Clear();
  bool Empty() const { return strokes_.empty(); }
  // The strokes as a signature picture, cut to their extent; empty when nothing was drawn.
  qv::faximage::MarkPicture Picture() const;

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void paintEvent(QPaintEvent* e) override;

 private:
  std::vector<std::vector<qv::faximage::MarkPoint>> strokes_;
};

}  // namespace qv::ui
