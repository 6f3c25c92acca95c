#pragma once
// TQvFaxThumbnails: a strip of small pictures of every page of a fax. The pictures are made one
// page per turn of the event loop, so a long fax never holds the window up; choosing one asks for
// that page.

#include <QImage>
#include <QListWidget>
#include <QString>
#include <QTimer>

#include <memory>

#include "faximage/page_marks.h"

namespace qv::ui {

// Width of a thumbnail in pixels; the height follows from the page's proportions.
inline constexpr int kThumbnailWidth = 96;

// A thumbnail of one page: the whole coded width, standard rows doubled, greyscale-filtered,
// turned by `rotation` quarter turns clockwise. Null on a page that cannot be decoded.
// With marks, the page turned and marked as the user sees it.
QImage MakeFaxThumbnail(const QString& faxFile, int page, int width = kThumbnailWidth, int rotation = 0,
                        std::shared_ptr<const qv::faximage::FaxMarks> marks = nullptr);

class TQvFaxThumbnails : public QListWidget {
  Q_OBJECT
 public:
  explicit TQvFaxThumbnails(QWidget* parent = nullptr);

  // Starts making the pictures of `faxFile` (page count `pages`); empty clears the strip.
  void SetFaxFile(const QString& faxFile, int pages);
  // Marks the page shown in the viewer.
  void SetCurrentPage(int page);
  // The pages turned as the viewer shows them (0-3 quarter turns clockwise); the pictures are
  // made again.
  int Rotation() const { return rotation_; }
  void SetRotation(int quarterTurns);
  // The marks (and page turns) drawn on the pictures; they are made again.
  void SetMarks(std::shared_ptr<const qv::faximage::FaxMarks> marks);
  // Pages whose picture is made so far.
  int Done() const { return done_; }
  bool Building() const { return timer_.isActive(); }

 signals:
  void PageChosen(int page);
  void Finished();

 private:
  void MakeNext();

  QString file_;
  int pages_ = 0;
  int done_ = 0;
  int rotation_ = 0;
  std::shared_ptr<const qv::faximage::FaxMarks> marks_;
  QTimer timer_;
};

}  // namespace qv::ui
