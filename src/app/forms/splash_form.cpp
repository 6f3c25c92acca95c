#include "app/forms/splash_form.h"

#include "core/product_version.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace qv::app {

namespace {
// A small drawing of a fax machine with a page coming out of it.
QPixmap FaxPicture() {
  QPixmap pixmap(96, 96);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(40, 40, 40), 2));
  p.setBrush(Qt::white);
  p.drawRect(28, 6, 40, 44);  // the page
  p.setPen(QPen(QColor(120, 120, 120), 2));
  for (int y = 14; y < 44; y += 6) p.drawLine(34, y, 62, y);
  p.setPen(QPen(QColor(40, 40, 40), 2));
  p.setBrush(QColor(70, 100, 160));
  p.drawRoundedRect(8, 44, 80, 42, 6, 6);  // the machine
  p.setBrush(QColor(220, 220, 220));
  p.drawRect(16, 54, 30, 12);  // display
  p.setBrush(Qt::white);
  for (int row = 0; row < 2; ++row)
    for (int col = 0; col < 3; ++col) p.drawRect(54 + col * 10, 54 + row * 12, 6, 6);
  return pixmap;
}
}  // namespace

TSplashform::TSplashform(QWidget* parent, const QString& dataDir, const QString& line) : QDialog(parent) {
  setObjectName(QStringLiteral("Splashform"));
  setWindowTitle(QStringLiteral("About Quorvane"));

  auto* picture = new QLabel(this);
  picture->setObjectName(QStringLiteral("Image1"));
  picture->setPixmap(FaxPicture());

  auto* title = new QLabel(QStringLiteral("Quorvane"), this);
  QFont big = title->font();
  big.setPointSize(big.pointSize() + 8);
  big.setBold(true);
  title->setFont(big);
  auto* bits = new QLabel(QStringLiteral("32-bit version"), this);
  bits->setObjectName(QStringLiteral("BitsLabel"));
  // The release as the project numbers it, the same as every command's --version.
  auto* version = new QLabel(QStringLiteral("Version ") + QString::fromLatin1(core::kProductVersion), this);
  version->setObjectName(QStringLiteral("VersionLabel"));

  auto* ok = new QPushButton(QStringLiteral("Ok"), this);
  ok->setObjectName(QStringLiteral("OkButton"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* texts = new QVBoxLayout;
  texts->addWidget(title);
  texts->addWidget(bits);
  texts->addWidget(version);
  texts->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(picture);
  top->addSpacing(16);
  top->addLayout(texts);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  if (!dataDir.isEmpty()) {
    auto* where = new QLabel(QStringLiteral("Data directory: ") + dataDir, this);
    where->setObjectName(QStringLiteral("DataDirLabel"));
    where->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    where->setAccessibleName(where->text());
    layout->addWidget(where);
  }
  if (!line.isEmpty()) {
    auto* used = new QLabel(QStringLiteral("Line in use: ") + line, this);
    used->setObjectName(QStringLiteral("LineLabel"));
    used->setWordWrap(true);
    used->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    used->setAccessibleName(used->text());
    layout->addWidget(used);
  }
  ok->setAccessibleName(QStringLiteral("Ok"));
  picture->setAccessibleName(QStringLiteral("A fax machine"));
  layout->addLayout(buttons);
  setFixedSize(sizeHint());
}

}  // namespace qv::app
