#pragma once
// TQvFaxViewer: one page of a QVF fax at a time in a scrolling widget. Pages are decoded by the
// unpacker, scaled for display (HorizMult/HorizDiv, VertMult/VertDiv), turned by quarter turns,
// scrolled with keys, scroll bars and the mouse; a dragged rectangle can be copied to the
// clipboard, and a fax file dropped on the widget is shown.
//
// Operations are direct calls; what the widget tells its owner comes as signals (PageChange,
// ViewerError, DropFile). Errors of calls are raised as the exception of their code
// (core/exceptions.h): -2 missing file, -8001 not a QVF file, -1002 bad page, -8050 no page
// shown, -8051 nothing marked, -8 a page that cannot be turned.

#include <QAbstractScrollArea>
#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <QTimer>

#include <vector>

#include "faximage/page_marks.h"
#include "faximage/unpacker.h"
#include "faximage/unpacker_bitmap.h"
#include "faximage/unpacker_state.h"

namespace qv::ui {

using qv::faximage::TAutoScaleMode;

// A page bitmap turned by quarter turns clockwise (0-3). Bits beyond the width are white in the
// result whatever they were in the source.
qv::faximage::PageBitmap RotatePageBitmap(const qv::faximage::PageBitmap& src, int quarterTurns);

// The page drawn at width x height in two colours, as RGB32. Shrinking with `smooth` averages the
// source pixels each target pixel covers (grey levels between bg and fg), so a page fitted to a
// window stays readable; otherwise and when enlarging each target pixel takes the nearest source
// pixel.
QImage RenderPageImage(const qv::faximage::PageBitmap& page, int width, int height, QRgb fg,
                       QRgb bg, bool smooth);

class TQvCustomFaxViewer : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit TQvCustomFaxViewer(QWidget* parent = nullptr);
  ~TQvCustomFaxViewer() override;

  // The fax shown. An empty name forgets it. A new name resets rotation and the scale factors to
  // 1 (apply a zoom after assigning); the same name again does nothing. Errors raise, and leave
  // the fax shown, its page, turn and zoom as they were.
  QString FileName() const { return fileName_; }
  void SetFileName(const QString& name);

  QColor FGColor() const { return fg_; }
  void SetFGColor(const QColor& c);
  QColor BGColor() const { return bg_; }
  void SetBGColor(const QColor& c);

  // With Scaling off the page is shown 1:1 whatever the factors hold.
  bool Scaling() const { return scaling_; }
  void SetScaling(bool on);
  // A factor of 0 is ignored.
  int HorizMult() const { return horizMult_; }
  void SetHorizMult(int v);
  int HorizDiv() const { return horizDiv_; }
  void SetHorizDiv(int v);
  int VertMult() const { return vertMult_; }
  void SetVertMult(int v);
  int VertDiv() const { return vertDiv_; }
  void SetVertDiv(int v);
  // Greyscale filtering when the page is shown smaller than coded (on by default).
  bool SmoothScaling() const { return smooth_; }
  void SetSmoothScaling(bool on);

  // Standard-resolution rows are doubled in height (default) or halved in width, so that the page
  // keeps the proportions of the paper; asNone shows the rows as coded.
  TAutoScaleMode AutoScaleMode() const { return autoScale_; }
  void SetAutoScaleMode(TAutoScaleMode mode);

  // Runs of more than From blank rows shown as To rows (From > To > 0).
  bool WhitespaceCompression() const { return wsOn_; }
  void SetWhitespaceCompression(bool on);
  int WhitespaceFrom() const { return wsFrom_; }
  void SetWhitespaceFrom(int rows);
  int WhitespaceTo() const { return wsTo_; }
  void SetWhitespaceTo(int rows);

  // Scroll steps in pixels; 0 leaves a step unchanged.
  int HorizScroll() const { return horzStep_; }
  void SetHorizScroll(int px);
  int VertScroll() const { return vertStep_; }
  void SetVertScroll(int px);

  // Decode every page at once and keep them (page turns cost nothing afterwards).
  bool LoadWholeFax() const { return loadWhole_; }
  void SetLoadWholeFax(bool on);

  // The cursor shown while a page is decoded.
  Qt::CursorShape BusyCursor() const { return busyCursor_; }
  void SetBusyCursor(Qt::CursorShape c) { busyCursor_ = c; }

  bool AcceptDragged() const { return acceptDragged_; }
  void SetAcceptDragged(bool on) { acceptDragged_ = on; }

  // Marks and per-page rotation drawn on the pages (nullptr: the fax as received). Pages with marks
  // are shown full width, so a mark right of the last black pixel is not cut off; with white-space
  // compression on, rows no longer stand where the marks were put, and the marks are left out.
  // The page shown is decoded again at once; errors raise as SetActivePage's do.
  const std::shared_ptr<const qv::faximage::FaxMarks>& Marks() const { return marks_; }
  void SetMarks(std::shared_ptr<const qv::faximage::FaxMarks> marks);

  // 0-3 quarter turns clockwise; only the difference to the current turn is applied.
  int Rotation() const { return rotation_; }
  void SetRotation(int r);

  // Current page (1-based; 0 without a file). Assigning 0 or a page above NumPages raises
  // EBadArgument; the current page or no file is ignored.
  int ActivePage() const { return fileName_.isEmpty() ? 0 : currentPage_; }
  void SetActivePage(int page);
  int NumPages() const { return fileName_.isEmpty() ? 0 : int(pages_.size()); }
  // Width and height of the current page bitmap (after rotation, before display scaling).
  int PageWidth() const;
  int PageHeight() const;
  // Page size after display scaling.
  int ScaledWidth() const { return scaledW_; }
  int ScaledHeight() const { return scaledH_; }
  // PageFlags of the page decoded last.
  int PageFlags() const { return lastPageFlags_; }

  // Changes between the two are applied at once by EndUpdate.
  void BeginUpdate() { updating_ = true; }
  void EndUpdate();

  void FirstPage();
  void LastPage();
  void NextPage();
  void PrevPage();

  // Scales the page to the viewport: the whole page, or its width only (keeps proportions).
  void FitToWindow(bool wholePage);

  // Marking in scaled page coordinates.
  bool Marked() const { return marked_; }
  QRect MarkRect() const { return markRect_; }
  void SelectAll();
  void Select(const QRect& rect);
  // Copies the marked block (in page pixels) to the clipboard as an image.
  void CopyToClipboard();
  // The marked block as a two-colour image in page pixels, as the clipboard gets it.
  QImage MarkedImage() const;

  // The current page bitmap as decoded and turned (PageBitmap::black tells a pixel's colour), or
  // nullptr.
  const qv::faximage::PageBitmap* CurrentBitmap() const;
  // A page's bitmap: the kept one, or a fresh decode (raises on error); turned like the others.
  qv::faximage::PageBitmap PageBitmapOf(int page);

  int HScrollPos() const;
  int VScrollPos() const;

  // The marking tools: while on, the left button no longer marks a block for the clipboard;
  // presses, drags and releases on the page come as PagePointer in page units (the units of a
  // Mark: 204 columns and 196 rows per inch of the page as shown), whatever the zoom.
  enum PointerPhase { ppPress, ppDrag, ppRelease };
  bool PointerTool() const { return pointerTool_; }
  void SetPointerTool(bool on);
  // The page-unit point under a viewport point; false without a page or while the view is turned
  // (the marks' units are those of the page as it is kept, not of a turned view).
  bool UnitsAt(QPoint viewportPoint, QPoint& units) const;
  // A frame drawn round a box in page units (the selected mark); an empty box draws none.
  void SetFrame(const QRect& units);
  QRect Frame() const { return frame_; }
  // Viewport point of a page-unit point (the inverse of UnitsAt), for tests and the frame.
  QPoint ViewportPointOf(QPoint units) const;

 signals:
  void PagePointer(int phase, QPoint units);
  void PageChange();
  void ViewerError(int code);
  void DropFile(const QString& fileName);

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  struct Page {
    bool decoded = false;
    int rotation = 0;  // quarter turns the kept bitmap has had
    qv::faximage::PageBitmap bitmap;
  };

  // Shows `name` (empty: no fax); on any error the fax shown stays as it was.
  int LoadFile(const QString& name);
  // A page of the fax shown, turned by the current rotation.
  int Decode(int page, qv::faximage::PageBitmap& out);
  // A page of `file` turned by `rotation`; `flags` gets its page flags.
  int DecodeFrom(const QString& file, int page, int rotation, qv::faximage::PageBitmap& out, int& flags);
  void InitPage();
  void Rescale();
  void SetupScrollBars();
  void ForgetFile();
  void ApplyScaleChange();
  bool Effective(int& hm, int& hd, int& vm, int& vd) const;
  void EndMarking();
  void ExtendMark(QPoint viewportPoint);
  void AutoScrollTick();
  void ScrollBy(int dx, int dy);
  void ScrollHome();

  QString fileName_;
  std::vector<Page> pages_;
  int currentPage_ = 0;
  int rotation_ = 0;
  bool loadWhole_ = false;
  Qt::CursorShape busyCursor_ = Qt::ArrowCursor;
  bool acceptDragged_ = true;
  QColor fg_ = Qt::black;
  QColor bg_ = Qt::white;
  bool scaling_ = false;
  int horizMult_ = 1, horizDiv_ = 1, vertMult_ = 1, vertDiv_ = 1;
  bool smooth_ = true;
  TAutoScaleMode autoScale_ = qv::faximage::asDoubleHeight;
  bool wsOn_ = false;
  int wsFrom_ = 0, wsTo_ = 0;
  int horzStep_ = 8, vertStep_ = 8;
  bool updating_ = false;
  bool initialising_ = false;
  int lastPageFlags_ = 0;

  std::shared_ptr<const qv::faximage::FaxMarks> marks_;
  std::shared_ptr<qv::faximage::MarkRasterizer> markDrawer_;  // fonts kept from page to page

  QImage display_;  // the current page at its scaled size
  int scaledW_ = 0, scaledH_ = 0;

  bool marked_ = false;
  QRect markRect_;
  QPoint markAnchor_;
  bool marking_ = false;
  QPoint lastMouse_;
  QTimer autoScroll_;
  bool pointerTool_ = false;
  bool pointerDown_ = false;
  QRect frame_;
  // Pages decoded full width, as marks are drawn: while there are marks or a marking tool is on.
  bool FullWidth() const { return (marks_ || pointerTool_) && !wsOn_; }
  // Page units per pixel of the unscaled bitmap shown, across and down.
  void UnitsPerPixel(int& ux, int& uy) const;
};

class TQvFaxViewer : public TQvCustomFaxViewer {
  Q_OBJECT
 public:
  using TQvCustomFaxViewer::TQvCustomFaxViewer;
};

}  // namespace qv::ui
