#include "ui/fax_viewer.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>
#include <QRegion>
#include <QScrollBar>
#include <QUrl>

#include <algorithm>
#include <array>
#include <cstring>

#include "core/error_codes.h"
#include "core/exceptions.h"
#include "faximage/qvf_file.h"

namespace qv::ui {

using qv::faximage::PageBitmap;

namespace {

constexpr int kPageScrollSteps = 10;     // a scroll-bar page and Ctrl+arrow move ten steps
constexpr int kAutoScrollMs = 50;        // marking beyond the edge scrolls at this rate
constexpr int kAutoScrollFarPixels = 20; // further out than this scrolls two steps per tick
constexpr QSize kNewControlSize(100, 50);

void Raise(int code) {
  if (code < 0) qv::core::RaiseOnError(code);
}

bool Black(const PageBitmap& b, int x, int y) { return b.black(x, y); }

void SetBlack(PageBitmap& b, int x, int y, bool black) {
  // The target keeps the source's polarity: a set bit is black unless inverted.
  const bool bit = black != b.inverted;
  uint8_t& byte = b.row(y)[x >> 3];
  const uint8_t mask = uint8_t(0x80u >> (x & 7));
  byte = bit ? uint8_t(byte | mask) : uint8_t(byte & ~mask);
}

PageBitmap WhitePage(int width, int height, bool inverted) {
  PageBitmap b;
  b.width = width;
  b.height = height;
  b.stride = ((width + 15) / 16) * 2;  // rows in whole 16-bit words, as the unpacker makes them
  b.inverted = inverted;
  b.bits.assign(size_t(b.stride) * size_t(height), inverted ? 0xFF : 0x00);
  return b;
}

std::array<QRgb, 256> Ramp(QRgb fg, QRgb bg) {
  std::array<QRgb, 256> lut{};
  for (int i = 0; i < 256; ++i) {
    auto mix = [i](int b, int f) { return (b * (255 - i) + f * i + 127) / 255; };
    lut[size_t(i)] = qRgb(mix(qRed(bg), qRed(fg)), mix(qGreen(bg), qGreen(fg)),
                          mix(qBlue(bg), qBlue(fg)));
  }
  return lut;
}

}  // namespace

PageBitmap RotatePageBitmap(const PageBitmap& src, int quarterTurns) {
  quarterTurns = ((quarterTurns % 4) + 4) % 4;
  if (quarterTurns == 0 || src.empty()) return src;
  const int w = src.width, h = src.height;
  PageBitmap dst = quarterTurns == 2 ? WhitePage(w, h, src.inverted) : WhitePage(h, w, src.inverted);
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = src.row(y);
    for (int xb = 0; xb < (w + 7) / 8; ++xb) {
      const uint8_t byte = src.inverted ? uint8_t(~row[xb]) : row[xb];
      if (byte == 0) continue;  // eight white pixels; the target is white already
      for (int bit = 0; bit < 8; ++bit) {
        const int x = xb * 8 + bit;
        if (x >= w || !(byte & (0x80 >> bit))) continue;
        switch (quarterTurns) {
          case 1: SetBlack(dst, h - 1 - y, x, true); break;
          case 2: SetBlack(dst, w - 1 - x, h - 1 - y, true); break;
          default: SetBlack(dst, y, w - 1 - x, true); break;
        }
      }
    }
  }
  return dst;
}

namespace {

// How the eight pixels of one source byte fall into target columns when a row is shrunk: the
// bits split into runs, one per target column, the first run's column being `firstCol`; `counts`
// is the count table of this split.
struct ByteSplit {
  const uint64_t* counts = nullptr;
  int firstCol = 0;
  int runs = 0;
};

// For each split pattern, the black pixels of every byte value counted per run, eight bits a
// run, packed into one word: a row's bytes then add up with one load and one addition each.
using RunCounts = std::array<uint64_t, 256>;

RunCounts CountsFor(const std::array<int, 8>& runOfBit) {
  RunCounts t{};
  for (int v = 0; v < 256; ++v) {
    uint64_t packed = 0;
    for (int bit = 0; bit < 8; ++bit)
      if (v & (0x80 >> bit) && runOfBit[size_t(bit)] >= 0) packed += uint64_t(1) << (8 * runOfBit[size_t(bit)]);
    t[size_t(v)] = packed;
  }
  return t;
}

}  // namespace

QImage RenderPageImage(const PageBitmap& page, int width, int height, QRgb fg, QRgb bg,
                       bool smooth) {
  if (width <= 0 || height <= 0) return QImage();
  QImage img(width, height, QImage::Format_RGB32);
  if (img.isNull()) return img;
  img.fill(bg);
  if (page.empty()) return img;
  const int w = page.width, h = page.height;
  const auto lut = Ramp(fg, bg);
  const bool shrinkX = smooth && width < w;
  const bool shrinkY = smooth && height < h;
  const int bytes = (w + 7) / 8;

  // Columns: with shrinking each source column adds to the target column it falls into;
  // otherwise each target column samples its nearest source column.
  std::vector<int> colOf(size_t(w), 0), colCount(size_t(width), 0), srcCol(size_t(width), 0);
  if (shrinkX) {
    for (int x = 0; x < w; ++x) {
      const int tx = int(int64_t(x) * width / w);
      colOf[size_t(x)] = tx;
      ++colCount[size_t(tx)];
    }
  } else {
    for (int tx = 0; tx < width; ++tx) srcCol[size_t(tx)] = int(int64_t(tx) * w / width);
  }
  // The byte splits and their count tables; a shrink repeats a few patterns along the row.
  std::vector<ByteSplit> split(shrinkX ? size_t(bytes) : 0);
  std::vector<RunCounts> tables;
  if (shrinkX) {
    std::vector<std::array<int, 8>> patterns;
    std::vector<size_t> tableOf(size_t(bytes), 0);
    for (int xb = 0; xb < bytes; ++xb) {
      std::array<int, 8> runOfBit;
      runOfBit.fill(-1);
      const int first = colOf[size_t(xb * 8)];
      int runs = 0;
      for (int bit = 0; bit < 8; ++bit) {
        const int x = xb * 8 + bit;
        if (x >= w) break;
        runOfBit[size_t(bit)] = colOf[size_t(x)] - first;
        runs = runOfBit[size_t(bit)] + 1;
      }
      const auto found = std::find(patterns.begin(), patterns.end(), runOfBit);
      tableOf[size_t(xb)] = size_t(found - patterns.begin());
      if (found == patterns.end()) {
        patterns.push_back(runOfBit);
        tables.push_back(CountsFor(runOfBit));
      }
      split[size_t(xb)].firstCol = first;
      split[size_t(xb)].runs = runs;
    }
    // The tables have stopped moving: each byte points straight at its own.
    for (int xb = 0; xb < bytes; ++xb) split[size_t(xb)].counts = tables[tableOf[size_t(xb)]].data();
  }
  // The packed counts hold up to 255 per run: eight pixels a run, so up to 31 rows per band.
  const int maxBand = shrinkY ? (h + height - 1) / height : 1;
  const bool packed = shrinkX && maxBand <= 31;
  // The grey of a target pixel from its black count, for each count of source pixels it covers:
  // the same rounding as a division per pixel, looked up. Column widths and band heights each
  // take at most two values, so a handful of tables serve the page.
  const int maxCols = shrinkX ? *std::max_element(colCount.begin(), colCount.end()) : 1;
  const int minCols = shrinkX ? *std::min_element(colCount.begin(), colCount.end()) : 1;
  const int minBand = shrinkY ? std::max(1, h / height) : 1;
  std::vector<std::vector<QRgb>> greyOf(size_t(maxCols * maxBand) + 1);
  for (int c : {minCols, maxCols})
    for (int r : {minBand, maxBand}) {
      const int total = std::max(1, c * r);
      std::vector<QRgb>& g = greyOf[size_t(total)];
      if (!g.empty()) continue;
      g.resize(size_t(total) + 1);
      for (int a = 0; a <= total; ++a) g[size_t(a)] = lut[size_t(std::min(255, (a * 255 + total / 2) / total))];
    }
  // Per target column: 1 when it is one of the wider columns.
  std::vector<uint8_t> wide(size_t(width), 0);
  if (shrinkX)
    for (int tx = 0; tx < width; ++tx) wide[size_t(tx)] = colCount[size_t(tx)] == maxCols ? 1 : 0;

  // Packed counting goes eight source bytes (a group) at a time: groups without ink in a band
  // are passed over, the others counted and written without a test per byte or pixel (a count
  // of 0 writes the background the image already has). When no target column takes pixels of
  // two bytes, each byte's counts go straight to its own columns; otherwise they gather in `acc`
  // and a column is written once the group after it has been counted.
  const int groups = (bytes + 7) / 8;
  bool straddle = false;
  int maxRuns = 0;
  for (int xb = 0; xb < (shrinkX ? bytes : 0); ++xb) {
    straddle = straddle || (xb > 0 && colOf[size_t(xb * 8)] == colOf[size_t(xb * 8 - 1)]);
    maxRuns = std::max(maxRuns, split[size_t(xb)].runs);
  }
  std::vector<int> acc(size_t(width) + 8, 0);  // 8 beyond: a byte's unused runs add 0 there
  std::vector<uint64_t> band(packed ? size_t(groups) * 8 : 0, 0);
  std::vector<uint8_t> inked(packed ? size_t(groups) : 0, 0);
  const uint8_t flip = page.inverted ? 0xFF : 0x00;
  const uint64_t flip8 = page.inverted ? ~uint64_t(0) : 0;
  for (int ty = 0; ty < height; ++ty) {
    const int y0 = int(int64_t(ty) * h / height);
    const int y1 = shrinkY ? std::max(y0 + 1, int(int64_t(ty + 1) * h / height)) : y0 + 1;
    const int rows = y1 - y0;
    auto* out = reinterpret_cast<QRgb*>(img.scanLine(ty));
    if (shrinkX) {
      const QRgb* const grey[2] = {greyOf[size_t(std::max(1, minCols * rows))].data(),
                                   greyOf[size_t(maxCols * rows)].data()};
      bool any = false;
      if (packed) {
        for (int y = y0; y < y1; ++y) {
          const uint8_t* row = page.row(y);
          for (int g = 0; g < groups; ++g) {
            const int xb = g * 8, n = std::min(8, bytes - xb);
            bool ink = false;
            if (n == 8) {
              uint64_t word;
              std::memcpy(&word, row + xb, sizeof word);
              ink = (word ^ flip8) != 0;
            } else {  // the short last group
              for (int i = 0; i < n; ++i) ink = ink || uint8_t(row[xb + i] ^ flip) != 0;
            }
            if (!ink) continue;
            any = true;
            inked[size_t(g)] = 1;
            const ByteSplit* sp = split.data() + xb;
            uint64_t* b = band.data() + xb;
            for (int i = 0; i < n; ++i) b[i] += sp[i].counts[uint8_t(row[xb + i] ^ flip)];
          }
        }
        if (!any) continue;
        auto write = [&](int c) {
          out[c] = grey[wide[size_t(c)]][acc[size_t(c)]];
          acc[size_t(c)] = 0;
        };
        int pending = -1;  // a column that holds counts not yet written
        for (int g = 0; g < groups; ++g) {
          if (!inked[size_t(g)]) continue;
          inked[size_t(g)] = 0;
          const int xb = g * 8, n = std::min(8, bytes - xb);
          const ByteSplit* sp = split.data() + xb;
          uint64_t* b = band.data() + xb;
          if (!straddle) {
            for (int i = 0; i < n; ++i) {
              uint64_t counts = b[i];
              b[i] = 0;
              QRgb* o = out + sp[i].firstCol;
              const uint8_t* wd = wide.data() + sp[i].firstCol;
              for (int r = 0; r < sp[i].runs; ++r, counts >>= 8) o[r] = grey[wd[r]][counts & 0xFF];
            }
            continue;
          }
          const int first = sp[0].firstCol;
          if (pending >= 0 && pending < first) write(pending);
          for (int i = 0; i < n; ++i) {
            uint64_t counts = b[i];
            b[i] = 0;
            int* a = acc.data() + sp[i].firstCol;
            for (int r = 0; r < maxRuns; ++r, counts >>= 8) a[r] += int(counts & 0xFF);
          }
          const int next = xb + 8 < bytes ? sp[8].firstCol : width;
          for (int c = first; c < next; ++c) write(c);
          const int last = sp[n - 1].firstCol + sp[n - 1].runs - 1;
          pending = last >= next ? next : -1;
        }
        if (pending >= 0) write(pending);
        continue;
      }
      std::fill(acc.begin(), acc.end(), 0);
      for (int y = y0; y < y1; ++y) {
        const uint8_t* row = page.row(y);
        for (int xb = 0; xb < bytes; ++xb) {
          const uint8_t byte = page.inverted ? uint8_t(~row[xb]) : row[xb];
          if (byte == 0) continue;
          any = true;
          // Only the black bits: one step per set bit, highest (leftmost pixel) first.
          for (unsigned bits = byte; bits != 0;) {
            const int bit = __builtin_clz(bits) - 24;
            bits &= ~(0x80u >> bit);
            const int x = xb * 8 + bit;
            if (x < w) ++acc[size_t(colOf[size_t(x)])];
          }
        }
      }
      if (!any) continue;
      for (int tx = 0; tx < width; ++tx)
        if (acc[size_t(tx)] != 0) out[tx] = grey[wide[size_t(tx)]][acc[size_t(tx)]];
    } else {
      // Columns sampled; rows averaged when shrinking vertically only.
      for (int tx = 0; tx < width; ++tx) {
        const int sx = srcCol[size_t(tx)];
        int n = 0;
        for (int y = y0; y < y1; ++y) n += Black(page, sx, y);
        if (n == 0) continue;
        out[tx] = rows == 1 ? fg : lut[size_t((n * 255 + rows / 2) / rows)];
      }
    }
  }
  return img;
}

TQvCustomFaxViewer::TQvCustomFaxViewer(QWidget* parent) : QAbstractScrollArea(parent) {
  setObjectName(QStringLiteral("FaxViewer"));
  setFocusPolicy(Qt::StrongFocus);
  setAcceptDrops(true);  // the running widget always takes dropped files
  viewport()->setAcceptDrops(true);
  setFrameShape(QFrame::Box);
  resize(kNewControlSize);
  viewport()->setAutoFillBackground(false);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);  // paint covers the whole viewport
  autoScroll_.setInterval(kAutoScrollMs);
  connect(&autoScroll_, &QTimer::timeout, this, &TQvCustomFaxViewer::AutoScrollTick);
}

TQvCustomFaxViewer::~TQvCustomFaxViewer() { EndMarking(); }

// --- File and pages ----------------------------------------------------------------------------

void TQvCustomFaxViewer::SetFileName(const QString& name) {
  if (name == fileName_) return;
  // A file that fails its checks leaves the fax shown as it was, turn and zoom included.
  Raise(LoadFile(name));
}

int TQvCustomFaxViewer::LoadFile(const QString& name) {
  if (name.isEmpty()) {
    ForgetFile();
    rotation_ = 0;
    horizMult_ = horizDiv_ = vertMult_ = vertDiv_ = 1;
    return qv::core::ecOK;
  }
  // Everything is checked and the first pages decoded before the fax shown is let go: a dropped
  // file that is no fax, or one that cannot be read, changes nothing on screen.
  const std::string file = name.toStdString();
  if (!QFileInfo(name).isFile()) return qv::core::ecFileNotFound;
  if (!qv::faximage::IsQvfFile(file)) return qv::core::ecFaxBadFormat;
  qv::faximage::QvfFileHeader header;
  int rc = qv::faximage::ReadFaxHeader(file, header);
  if (rc < 0) return rc;
  if (header.PageCount == 0) return qv::core::ecFaxBadFormat;
  std::vector<Page> pages(header.PageCount);
  int flags = 0;
  const int first = loadWhole_ ? int(pages.size()) : 1;
  for (int p = 1; p <= first; ++p) {
    rc = DecodeFrom(name, p, 0, pages[size_t(p - 1)].bitmap, flags);
    if (rc < 0) return rc;
    pages[size_t(p - 1)].decoded = true;
  }
  ForgetFile();
  fileName_ = name;
  pages_ = std::move(pages);
  lastPageFlags_ = flags;
  rotation_ = 0;
  horizMult_ = horizDiv_ = vertMult_ = vertDiv_ = 1;
  currentPage_ = 1;
  InitPage();
  return qv::core::ecOK;
}

int TQvCustomFaxViewer::Decode(int page, PageBitmap& out) {
  int flags = 0;
  const int rc = DecodeFrom(fileName_, page, rotation_, out, flags);
  if (rc == qv::core::ecOK) lastPageFlags_ = flags;
  return rc;
}

int TQvCustomFaxViewer::DecodeFrom(const QString& file, int page, int rotation, PageBitmap& out, int& flags) {
  qv::faximage::UnpackerState state;
  const bool marked = FullWidth() && file == fileName_;
  // Marks are drawn on whole columns: a standard page with marks keeps its proportions by doubled
  // rows rather than halved columns, or its marks would not show.
  const TAutoScaleMode mode = marked && autoScale_ == qv::faximage::asHalfWidth ? qv::faximage::asDoubleHeight : autoScale_;
  state.setAutoScale(mode == qv::faximage::asDoubleHeight ? qv::faximage::kUnpackDoubleHeight
                     : mode == qv::faximage::asHalfWidth  ? qv::faximage::kUnpackHalfWidth
                                                          : 0);
  if (wsOn_) {
    const int rc = state.setWhitespace(wsFrom_, wsTo_);
    if (rc < 0) return rc;
  }
  QApplication::setOverrideCursor(busyCursor_);
  int rc;
  if (marked) {
    // Marks may lie anywhere on the page: the full width, turned and marked as the user sees it.
    state.Marks = marks_;
    if (!markDrawer_) markDrawer_ = std::make_shared<qv::faximage::MarkRasterizer>();
    state.MarkDrawer = markDrawer_;
    rc = qv::faximage::UnpackPageFullWidth(state, file.toStdString(), page, out);
  } else {
    // The export form of the page: a blank page still has its rows, so it shows as a white page.
    rc = qv::faximage::UnpackPageForExport(state, file.toStdString(), page, out);
  }
  QApplication::restoreOverrideCursor();
  if (rc < 0) return rc;
  flags = state.PageHeader.PageFlags;
  if (rotation != 0) out = RotatePageBitmap(out, rotation);
  return qv::core::ecOK;
}

void TQvCustomFaxViewer::ForgetFile() {
  EndMarking();
  fileName_.clear();
  pages_.clear();
  currentPage_ = 0;
  display_ = QImage();
  scaledW_ = scaledH_ = 0;
  marked_ = false;
  markRect_ = QRect();
  SetupScrollBars();
  viewport()->update();
}

void TQvCustomFaxViewer::InitPage() {
  if (initialising_ || fileName_.isEmpty()) return;
  initialising_ = true;
  horizontalScrollBar()->setValue(0);
  verticalScrollBar()->setValue(0);
  EndMarking();
  marked_ = false;
  markRect_ = QRect();
  Rescale();
  SetupScrollBars();
  viewport()->update();
  initialising_ = false;
  emit PageChange();
}

bool TQvCustomFaxViewer::Effective(int& hm, int& hd, int& vm, int& vd) const {
  hm = hd = vm = vd = 1;
  if (!scaling_) return false;
  if (horizMult_ != horizDiv_) { hm = horizMult_; hd = horizDiv_; }
  if (vertMult_ != vertDiv_) { vm = vertMult_; vd = vertDiv_; }
  return hm != hd || vm != vd;
}

void TQvCustomFaxViewer::Rescale() {
  const PageBitmap* b = CurrentBitmap();
  if (!b) {
    display_ = QImage();
    scaledW_ = scaledH_ = 0;
    return;
  }
  int hm, hd, vm, vd;
  Effective(hm, hd, vm, vd);
  scaledW_ = std::max(1, int(int64_t(b->width) * hm / hd));
  scaledH_ = std::max(1, int(int64_t(b->height) * vm / vd));
  display_ = RenderPageImage(*b, scaledW_, scaledH_, fg_.rgb(), bg_.rgb(), smooth_);
}

const PageBitmap* TQvCustomFaxViewer::CurrentBitmap() const {
  if (fileName_.isEmpty() || currentPage_ < 1 || currentPage_ > int(pages_.size())) return nullptr;
  const Page& p = pages_[size_t(currentPage_ - 1)];
  return p.decoded ? &p.bitmap : nullptr;
}

PageBitmap TQvCustomFaxViewer::PageBitmapOf(int page) {
  if (page < 1 || page > NumPages()) Raise(qv::core::ecBadArgument);
  const Page& p = pages_[size_t(page - 1)];
  if (p.decoded) return p.bitmap;
  PageBitmap b;
  Raise(Decode(page, b));
  return b;
}

int TQvCustomFaxViewer::PageWidth() const {
  const PageBitmap* b = CurrentBitmap();
  return b ? b->width : 0;
}

int TQvCustomFaxViewer::PageHeight() const {
  const PageBitmap* b = CurrentBitmap();
  return b ? b->height : 0;
}

void TQvCustomFaxViewer::SetActivePage(int page) {
  if (fileName_.isEmpty()) return;
  if (page < 1 || page > NumPages()) Raise(qv::core::ecBadArgument);
  if (page == currentPage_ || initialising_) return;
  Page& target = pages_[size_t(page - 1)];
  if (!target.decoded) {
    PageBitmap b;
    const int rc = Decode(page, b);
    if (rc < 0) {
      // The page on screen stays (a damaged or vanished file still shows what was read).
      emit ViewerError(rc);
      return;
    }
    if (!loadWhole_) {
      for (Page& p : pages_) {
        p.decoded = false;
        p.bitmap = PageBitmap{};
      }
    }
    target.bitmap = std::move(b);
    target.decoded = true;
  }
  currentPage_ = page;
  InitPage();
}

void TQvCustomFaxViewer::FirstPage() {
  if (fileName_.isEmpty()) return;
  if (currentPage_ == 1) ScrollHome();
  else SetActivePage(1);
}

void TQvCustomFaxViewer::LastPage() {
  if (fileName_.isEmpty()) return;
  if (currentPage_ == NumPages()) ScrollHome();
  else SetActivePage(NumPages());
}

void TQvCustomFaxViewer::NextPage() {
  if (!fileName_.isEmpty() && currentPage_ < NumPages()) SetActivePage(currentPage_ + 1);
}

void TQvCustomFaxViewer::PrevPage() {
  if (!fileName_.isEmpty() && currentPage_ > 1) SetActivePage(currentPage_ - 1);
}

void TQvCustomFaxViewer::SetLoadWholeFax(bool on) {
  if (on == loadWhole_) return;
  loadWhole_ = on;
  if (fileName_.isEmpty()) return;
  if (on) {
    for (int p = 1; p <= NumPages(); ++p) {
      Page& page = pages_[size_t(p - 1)];
      if (page.decoded) continue;
      const int rc = Decode(p, page.bitmap);
      if (rc < 0) {
        ForgetFile();
        Raise(rc);
      }
      page.decoded = true;
    }
  } else {
    for (int p = 1; p <= NumPages(); ++p) {
      if (p == currentPage_) continue;
      pages_[size_t(p - 1)] = Page{};
    }
  }
}

void TQvCustomFaxViewer::SetMarks(std::shared_ptr<const qv::faximage::FaxMarks> marks) {
  if (marks && marks->empty()) marks.reset();
  marks_ = std::move(marks);
  if (fileName_.isEmpty()) return;
  // The page stays where it was scrolled to: marks come and go while the user works on one place.
  const int h = horizontalScrollBar()->value(), v = verticalScrollBar()->value();
  for (Page& p : pages_) {
    p.decoded = false;
    p.bitmap = PageBitmap{};
  }
  const int page = currentPage_;
  PageBitmap b;
  const int rc = Decode(page, b);
  if (rc < 0) Raise(rc);
  pages_[size_t(page - 1)].bitmap = std::move(b);
  pages_[size_t(page - 1)].decoded = true;
  InitPage();
  horizontalScrollBar()->setValue(h);
  verticalScrollBar()->setValue(v);
}

void TQvCustomFaxViewer::SetRotation(int r) {
  r = ((r % 4) + 4) % 4;
  if (!CurrentBitmap() || r == rotation_) {
    if (!CurrentBitmap()) rotation_ = r;
    return;
  }
  const int turn = (r - rotation_ + 4) % 4;
  try {
    for (int p = 1; p <= NumPages(); ++p) {
      Page& page = pages_[size_t(p - 1)];
      if (!page.decoded || (!loadWhole_ && p != currentPage_)) continue;
      page.bitmap = RotatePageBitmap(page.bitmap, turn);
    }
  } catch (const std::bad_alloc&) {
    Raise(qv::core::ecOutOfMemory);
  }
  rotation_ = r;
  InitPage();
}

// --- Display settings --------------------------------------------------------------------------

void TQvCustomFaxViewer::SetFGColor(const QColor& c) {
  fg_ = c;
  Rescale();
  viewport()->update();
}

void TQvCustomFaxViewer::SetBGColor(const QColor& c) {
  bg_ = c;
  Rescale();
  viewport()->update();
}

void TQvCustomFaxViewer::ApplyScaleChange() {
  if (!updating_ && CurrentBitmap()) InitPage();
}

void TQvCustomFaxViewer::SetScaling(bool on) {
  if (on == scaling_) return;
  scaling_ = on;
  ApplyScaleChange();
}

void TQvCustomFaxViewer::SetHorizMult(int v) {
  if (v == 0 || v == horizMult_) return;
  horizMult_ = v;
  if (scaling_) ApplyScaleChange();
}

void TQvCustomFaxViewer::SetHorizDiv(int v) {
  if (v == 0 || v == horizDiv_) return;
  horizDiv_ = v;
  if (scaling_) ApplyScaleChange();
}

void TQvCustomFaxViewer::SetVertMult(int v) {
  if (v == 0 || v == vertMult_) return;
  vertMult_ = v;
  if (scaling_) ApplyScaleChange();
}

void TQvCustomFaxViewer::SetVertDiv(int v) {
  if (v == 0 || v == vertDiv_) return;
  vertDiv_ = v;
  if (scaling_) ApplyScaleChange();
}

void TQvCustomFaxViewer::SetSmoothScaling(bool on) {
  if (on == smooth_) return;
  smooth_ = on;
  Rescale();
  viewport()->update();
}

void TQvCustomFaxViewer::EndUpdate() {
  updating_ = false;
  InitPage();
}

void TQvCustomFaxViewer::FitToWindow(bool wholePage) {
  const PageBitmap* b = CurrentBitmap();
  if (!b) return;
  const int vw = std::max(1, viewport()->width() - (wholePage ? 0 : verticalScrollBar()->sizeHint().width()));
  const int vh = std::max(1, viewport()->height());
  // One factor for both directions keeps the page's proportions.
  int mult = vw, div = b->width;
  if (wholePage && int64_t(vh) * b->width < int64_t(vw) * b->height) {
    mult = vh;
    div = b->height;
  }
  BeginUpdate();
  scaling_ = true;
  horizMult_ = vertMult_ = mult;
  horizDiv_ = vertDiv_ = div;
  EndUpdate();
}

// Decode settings (auto-scale, white space) apply to the pages decoded from now on, as with a
// newly assigned file.
void TQvCustomFaxViewer::SetAutoScaleMode(TAutoScaleMode mode) {
  if (mode == autoScale_) return;
  autoScale_ = mode;
}

void TQvCustomFaxViewer::SetWhitespaceCompression(bool on) { wsOn_ = on; }
void TQvCustomFaxViewer::SetWhitespaceFrom(int rows) { wsFrom_ = rows; }
void TQvCustomFaxViewer::SetWhitespaceTo(int rows) { wsTo_ = rows; }

void TQvCustomFaxViewer::SetHorizScroll(int px) {
  if (px > 0) horzStep_ = px;
  SetupScrollBars();
}

void TQvCustomFaxViewer::SetVertScroll(int px) {
  if (px > 0) vertStep_ = px;
  SetupScrollBars();
}

// --- Scrolling ---------------------------------------------------------------------------------

int TQvCustomFaxViewer::HScrollPos() const { return horizontalScrollBar()->value(); }
int TQvCustomFaxViewer::VScrollPos() const { return verticalScrollBar()->value(); }

void TQvCustomFaxViewer::SetupScrollBars() {
  const QSize vp = viewport()->size();
  QScrollBar* v = verticalScrollBar();
  QScrollBar* h = horizontalScrollBar();
  v->setRange(0, std::max(0, scaledH_ - vp.height()));
  h->setRange(0, std::max(0, scaledW_ - vp.width()));
  v->setSingleStep(vertStep_);
  h->setSingleStep(horzStep_);
  v->setPageStep(std::max(vertStep_ * kPageScrollSteps, 1));
  h->setPageStep(std::max(horzStep_ * kPageScrollSteps, 1));
}

void TQvCustomFaxViewer::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  SetupScrollBars();
}

void TQvCustomFaxViewer::scrollContentsBy(int, int) { viewport()->update(); }

void TQvCustomFaxViewer::ScrollBy(int dx, int dy) {
  if (dx) horizontalScrollBar()->setValue(horizontalScrollBar()->value() + dx);
  if (dy) verticalScrollBar()->setValue(verticalScrollBar()->value() + dy);
}

void TQvCustomFaxViewer::ScrollHome() {
  horizontalScrollBar()->setValue(0);
  verticalScrollBar()->setValue(0);
}

void TQvCustomFaxViewer::keyPressEvent(QKeyEvent* e) {
  if (marking_) return;
  if (e->matches(QKeySequence::Copy) && marked_) {
    CopyToClipboard();
    e->accept();
    return;
  }
  const bool ctrl = e->modifiers() & Qt::ControlModifier;
  const int steps = ctrl ? kPageScrollSteps : 1;
  QScrollBar* v = verticalScrollBar();
  QScrollBar* h = horizontalScrollBar();
  switch (e->key()) {
    case Qt::Key_PageUp:
      if (ctrl) v->setValue(0);
      else PrevPage();
      break;
    case Qt::Key_PageDown:
      if (ctrl) v->setValue(v->maximum());
      else NextPage();
      break;
    case Qt::Key_Home:
      if (ctrl) FirstPage();
      else h->setValue(0);
      break;
    case Qt::Key_End:
      if (ctrl) LastPage();
      else h->setValue(h->maximum());
      break;
    case Qt::Key_Up: ScrollBy(0, -vertStep_ * steps); break;
    case Qt::Key_Down: ScrollBy(0, vertStep_ * steps); break;
    case Qt::Key_Left: ScrollBy(-horzStep_ * steps, 0); break;
    case Qt::Key_Right: ScrollBy(horzStep_ * steps, 0); break;
    default: QAbstractScrollArea::keyPressEvent(e); return;
  }
  e->accept();
}

// --- Painting ----------------------------------------------------------------------------------

void TQvCustomFaxViewer::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  const QRect area = viewport()->rect();
  const QPoint scroll(HScrollPos(), VScrollPos());
  const QRect visible =
      display_.isNull() ? QRect() : QRect(scroll, area.size()).intersected(display_.rect());
  if (visible.isEmpty()) {
    p.fillRect(area, bg_);
    return;
  }
  // The page covers most of the viewport: only the rest is filled.
  const QRect drawn(visible.topLeft() - scroll, visible.size());
  const QRegion rest = QRegion(area).subtracted(drawn);
  for (const QRect& r : rest) p.fillRect(r, bg_);
  p.drawImage(drawn.topLeft(), display_, visible);
  if (marked_ && !markRect_.isEmpty()) {
    // The mark shows inverted.
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    p.fillRect(markRect_.translated(-scroll), Qt::white);
  }
  if (!frame_.isEmpty() && rotation_ == 0) {
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setPen(QPen(Qt::blue, 1, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(ViewportPointOf(frame_.topLeft()), ViewportPointOf(frame_.bottomRight())));
  }
}

// --- Marking -----------------------------------------------------------------------------------

void TQvCustomFaxViewer::SetPointerTool(bool on) {
  if (on == pointerTool_) return;
  const bool wasFullWidth = FullWidth();
  pointerTool_ = on;
  pointerDown_ = false;
  EndMarking();
  marked_ = false;
  markRect_ = QRect();
  viewport()->setCursor(on ? Qt::CrossCursor : Qt::ArrowCursor);
  // The page is shown as it will be marked from the first mark on, so it does not change size
  // under the pointer when the first mark comes.
  if (wasFullWidth != FullWidth()) SetMarks(marks_);
  viewport()->update();
}

void TQvCustomFaxViewer::UnitsPerPixel(int& ux, int& uy) const {
  // A fine page has a unit per pixel; a standard one has rows of two units, and its columns are
  // two units wide too when it is shown at half width.
  const bool fine = lastPageFlags_ & qv::faximage::pfHighRes;
  const TAutoScaleMode mode =
      FullWidth() && autoScale_ == qv::faximage::asHalfWidth ? qv::faximage::asDoubleHeight : autoScale_;
  ux = !fine && mode == qv::faximage::asHalfWidth ? 2 : 1;
  uy = !fine && mode != qv::faximage::asDoubleHeight ? 2 : 1;
}

bool TQvCustomFaxViewer::UnitsAt(QPoint viewportPoint, QPoint& units) const {
  if (!CurrentBitmap() || rotation_ != 0) return false;
  int hm, hd, vm, vd;
  Effective(hm, hd, vm, vd);
  int ux, uy;
  UnitsPerPixel(ux, uy);
  const QPoint pt = viewportPoint + QPoint(HScrollPos(), VScrollPos());
  units = QPoint(int(int64_t(pt.x()) * hd / hm) * ux, int(int64_t(pt.y()) * vd / vm) * uy);
  return true;
}

QPoint TQvCustomFaxViewer::ViewportPointOf(QPoint units) const {
  int hm, hd, vm, vd;
  Effective(hm, hd, vm, vd);
  int ux, uy;
  UnitsPerPixel(ux, uy);
  return QPoint(int(int64_t(units.x()) / ux * hm / hd), int(int64_t(units.y()) / uy * vm / vd)) -
         QPoint(HScrollPos(), VScrollPos());
}

void TQvCustomFaxViewer::SetFrame(const QRect& units) {
  frame_ = units;
  viewport()->update();
}

void TQvCustomFaxViewer::mousePressEvent(QMouseEvent* e) {
  if (pointerTool_ && e->button() == Qt::LeftButton) {
    setFocus(Qt::MouseFocusReason);
    QPoint u;
    pointerDown_ = UnitsAt(e->position().toPoint(), u);
    if (pointerDown_) emit PagePointer(ppPress, u);
    return;
  }
  if (e->button() != Qt::LeftButton || !CurrentBitmap()) {
    QAbstractScrollArea::mousePressEvent(e);
    return;
  }
  setFocus(Qt::MouseFocusReason);
  const QPoint pt = e->position().toPoint() + QPoint(HScrollPos(), VScrollPos());
  markAnchor_ = QPoint(std::clamp(pt.x(), 0, scaledW_ - 1), std::clamp(pt.y(), 0, scaledH_ - 1));
  markRect_ = QRect(markAnchor_, QSize(0, 0));
  marked_ = true;
  marking_ = true;
  lastMouse_ = e->position().toPoint();
  viewport()->update();
}

void TQvCustomFaxViewer::ExtendMark(QPoint viewportPoint) {
  const QPoint pt = viewportPoint + QPoint(HScrollPos(), VScrollPos());
  // The pixel under the mouse is included; the rectangle is kept normalised and on the page.
  const int x = std::clamp(pt.x(), 0, scaledW_ - 1);
  const int y = std::clamp(pt.y(), 0, scaledH_ - 1);
  const int left = std::min(x, markAnchor_.x()), right = std::max(x, markAnchor_.x());
  const int top = std::min(y, markAnchor_.y()), bottom = std::max(y, markAnchor_.y());
  markRect_ = (left == right && top == bottom) ? QRect(markAnchor_, QSize(0, 0))
                                               : QRect(QPoint(left, top), QPoint(right, bottom));
  viewport()->update();
}

void TQvCustomFaxViewer::mouseMoveEvent(QMouseEvent* e) {
  if (pointerTool_) {
    QPoint u;
    if (pointerDown_ && UnitsAt(e->position().toPoint(), u)) emit PagePointer(ppDrag, u);
    return;
  }
  if (!marking_) {
    QAbstractScrollArea::mouseMoveEvent(e);
    return;
  }
  lastMouse_ = e->position().toPoint();
  ExtendMark(lastMouse_);
  if (viewport()->rect().contains(lastMouse_)) autoScroll_.stop();
  else if (!autoScroll_.isActive()) autoScroll_.start();
}

void TQvCustomFaxViewer::AutoScrollTick() {
  if (!marking_) {
    autoScroll_.stop();
    return;
  }
  const QRect r = viewport()->rect();
  if (r.contains(lastMouse_)) {
    autoScroll_.stop();
    return;
  }
  auto stepFor = [](int pos, int low, int high, int step) {
    if (pos < low) return -(low - pos > kAutoScrollFarPixels ? 2 : 1) * step;
    if (pos > high) return (pos - high > kAutoScrollFarPixels ? 2 : 1) * step;
    return 0;
  };
  ScrollBy(stepFor(lastMouse_.x(), r.left(), r.right(), horzStep_),
           stepFor(lastMouse_.y(), r.top(), r.bottom(), vertStep_));
  ExtendMark(lastMouse_);
}

void TQvCustomFaxViewer::mouseReleaseEvent(QMouseEvent* e) {
  if (pointerTool_ && e->button() == Qt::LeftButton) {
    QPoint u;
    if (pointerDown_ && UnitsAt(e->position().toPoint(), u)) emit PagePointer(ppRelease, u);
    pointerDown_ = false;
    return;
  }
  if (!marking_ || e->button() != Qt::LeftButton) {
    QAbstractScrollArea::mouseReleaseEvent(e);
    return;
  }
  EndMarking();
  if (markRect_.isEmpty()) {
    marked_ = false;
    markRect_ = QRect();
  }
  viewport()->update();
}

void TQvCustomFaxViewer::EndMarking() {
  marking_ = false;
  autoScroll_.stop();
}

void TQvCustomFaxViewer::SelectAll() {
  if (!CurrentBitmap()) Raise(qv::core::ecNoImageLoaded);
  marked_ = true;
  markRect_ = QRect(0, 0, scaledW_, scaledH_);
  viewport()->update();
}

void TQvCustomFaxViewer::Select(const QRect& rect) {
  if (!CurrentBitmap()) Raise(qv::core::ecNoImageLoaded);
  markRect_ = rect.normalized().intersected(QRect(0, 0, scaledW_, scaledH_));
  marked_ = !markRect_.isEmpty();
  viewport()->update();
}

QImage TQvCustomFaxViewer::MarkedImage() const {
  const PageBitmap* b = CurrentBitmap();
  if (!b) Raise(qv::core::ecNoImageLoaded);
  if (!marked_ || markRect_.isEmpty()) Raise(qv::core::ecNoImageBlockMarked);
  int hm, hd, vm, vd;
  Effective(hm, hd, vm, vd);
  QImage img(markRect_.size(), QImage::Format_Mono);
  img.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  img.fill(0);
  // The mark's size on screen, filled from the page pixels it stands for (stretched when scaled).
  for (int ty = 0; ty < img.height(); ++ty) {
    const int sy = std::min(b->height - 1, int(int64_t(markRect_.top() + ty) * vd / vm));
    uchar* out = img.scanLine(ty);
    for (int tx = 0; tx < img.width(); ++tx) {
      const int sx = std::min(b->width - 1, int(int64_t(markRect_.left() + tx) * hd / hm));
      if (b->black(sx, sy)) out[tx >> 3] |= uchar(0x80 >> (tx & 7));
    }
  }
  return img;
}

void TQvCustomFaxViewer::CopyToClipboard() {
  const QImage img = MarkedImage();
  QApplication::clipboard()->setImage(img);
}

// --- Dropped files -----------------------------------------------------------------------------

namespace {
QString FirstLocalFile(const QMimeData* mime) {
  if (!mime || !mime->hasUrls()) return QString();
  for (const QUrl& url : mime->urls())
    if (url.isLocalFile()) return url.toLocalFile();
  return QString();
}
}  // namespace

void TQvCustomFaxViewer::dragEnterEvent(QDragEnterEvent* e) {
  if (!FirstLocalFile(e->mimeData()).isEmpty()) e->acceptProposedAction();
}

void TQvCustomFaxViewer::dragMoveEvent(QDragMoveEvent* e) {
  if (!FirstLocalFile(e->mimeData()).isEmpty()) e->acceptProposedAction();
}

void TQvCustomFaxViewer::dropEvent(QDropEvent* e) {
  const QString file = FirstLocalFile(e->mimeData());
  if (file.isEmpty()) return;
  e->acceptProposedAction();
  const int rc = file == fileName_ ? 0 : LoadFile(file);
  if (rc < 0) emit ViewerError(rc);
  else emit DropFile(fileName_);
}

}  // namespace qv::ui
