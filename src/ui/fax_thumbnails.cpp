#include "ui/fax_thumbnails.h"

#include <QIcon>
#include <QPixmap>

#include "faximage/unpacker_bitmap.h"
#include "faximage/unpacker_state.h"
#include "ui/fax_viewer.h"

namespace qv::ui {

namespace {
constexpr int kThumbnailHeight = 136;  // room for an A4 page at kThumbnailWidth
}

QImage MakeFaxThumbnail(const QString& faxFile, int page, int width, int rotation,
                        std::shared_ptr<const qv::faximage::FaxMarks> marks) {
  qv::faximage::UnpackerState state;
  state.setAutoScale(qv::faximage::kUnpackDoubleHeight);
  state.Marks = std::move(marks);
  qv::faximage::PageBitmap bm;
  if (qv::faximage::UnpackPageFullWidth(state, faxFile.toStdString(), page, bm) < 0 || bm.empty())
    return QImage();
  if (rotation % 4 != 0) bm = RotatePageBitmap(bm, rotation);
  // Standard rows are doubled, so a pixel is as tall as it is wide near enough.
  const int height = std::max(1, int(int64_t(bm.height) * width / bm.width));
  return RenderPageImage(bm, width, height, qRgb(0, 0, 0), qRgb(255, 255, 255), true);
}

TQvFaxThumbnails::TQvFaxThumbnails(QWidget* parent) : QListWidget(parent) {
  setObjectName(QStringLiteral("Thumbnails"));
  setAccessibleName(QStringLiteral("Pages"));
  setViewMode(QListView::IconMode);
  setFlow(QListView::TopToBottom);
  setWrapping(false);
  setMovement(QListView::Static);
  setIconSize(QSize(kThumbnailWidth, kThumbnailHeight));
  setUniformItemSizes(true);
  setSpacing(4);
  setFixedWidth(kThumbnailWidth + 40);
  timer_.setInterval(0);
  connect(&timer_, &QTimer::timeout, this, &TQvFaxThumbnails::MakeNext);
  connect(this, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { emit PageChosen(row(item) + 1); });
  connect(this, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { emit PageChosen(row(item) + 1); });
}

void TQvFaxThumbnails::SetMarks(std::shared_ptr<const qv::faximage::FaxMarks> marks) {
  marks_ = std::move(marks);
  if (file_.isEmpty()) return;
  const int current = currentRow();
  SetFaxFile(file_, pages_);
  if (current >= 0) SetCurrentPage(current + 1);
}

void TQvFaxThumbnails::SetRotation(int quarterTurns) {
  quarterTurns = ((quarterTurns % 4) + 4) % 4;
  if (quarterTurns == rotation_) return;
  rotation_ = quarterTurns;
  const int current = currentRow();
  SetFaxFile(file_, pages_);
  if (current >= 0) SetCurrentPage(current + 1);
}

void TQvFaxThumbnails::SetFaxFile(const QString& faxFile, int pages) {
  timer_.stop();
  clear();
  file_ = faxFile;
  pages_ = faxFile.isEmpty() ? 0 : pages;
  done_ = 0;
  for (int p = 1; p <= pages_; ++p) {
    auto* item = new QListWidgetItem(QStringLiteral("Page %1").arg(p), this);
    item->setSizeHint(QSize(kThumbnailWidth + 16, kThumbnailHeight + 24));
    item->setTextAlignment(Qt::AlignHCenter);
  }
  if (pages_ > 0) timer_.start();
}

void TQvFaxThumbnails::SetCurrentPage(int page) {
  if (page >= 1 && page <= count()) {
    const QSignalBlocker block(this);
    setCurrentRow(page - 1);
    scrollToItem(item(page - 1));
  }
}

void TQvFaxThumbnails::MakeNext() {
  if (done_ >= pages_) {
    timer_.stop();
    emit Finished();
    return;
  }
  const QImage img = MakeFaxThumbnail(file_, done_ + 1, kThumbnailWidth, rotation_, marks_);
  if (QListWidgetItem* it = item(done_)) {
    if (!img.isNull()) it->setIcon(QIcon(QPixmap::fromImage(img)));
    else it->setText(QStringLiteral("Page %1 (unreadable)").arg(done_ + 1));
  }
  ++done_;
  if (done_ >= pages_) {
    timer_.stop();
    emit Finished();
  }
}

}  // namespace qv::ui
