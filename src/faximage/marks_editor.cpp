#include "faximage/marks_editor.h"

#include <algorithm>
#include <climits>

namespace qv::faximage {

MarksEditor::MarksEditor(FaxMarks marks) : marks_(std::move(marks)), saved_(marks_) {}

void MarksEditor::step() {
  undo_.push_back(marks_);
  if (undo_.size() > kUndoSteps) undo_.erase(undo_.begin());
  redo_.clear();
}

int MarksEditor::Add(Mark mark) {
  step();
  marks_.marks.push_back(std::move(mark));
  selected_ = static_cast<int>(marks_.marks.size()) - 1;
  return selected_;
}

bool MarksEditor::Remove(int index) {
  if (index < 0 || index >= static_cast<int>(marks_.marks.size())) return false;
  step();
  marks_.marks.erase(marks_.marks.begin() + index);
  selected_ = -1;
  return true;
}

bool MarksEditor::Move(int index, int dx, int dy) {
  if (index < 0 || index >= static_cast<int>(marks_.marks.size()) || (dx == 0 && dy == 0)) return false;
  step();
  Mark& m = marks_.marks[static_cast<size_t>(index)];
  auto clampC = [](int v) { return std::clamp(v, -kMarkCoordinateLimit, kMarkCoordinateLimit); };
  m.x = clampC(m.x + dx);
  m.y = clampC(m.y + dy);
  for (MarkPoint& p : m.points) {
    p.x = clampC(p.x + dx);
    p.y = clampC(p.y + dy);
  }
  return true;
}

void MarksEditor::Rotate(int page, PageRotation to, int widthUnits, int heightUnits) {
  const int from = static_cast<int>(marks_.Rotation(page));
  const int turn = ((static_cast<int>(to) - from) % 360 + 360) % 360;  // clockwise, degrees
  if (turn == 0) return;
  step();
  marks_.SetRotation(page, to);
  // A point of the page as shown now, after the further turn.
  auto map = [&](int x, int y, int& ox, int& oy) {
    switch (turn) {
      case 90: ox = heightUnits - 1 - y; oy = x; break;
      case 180: ox = widthUnits - 1 - x; oy = heightUnits - 1 - y; break;
      default: ox = y; oy = widthUnits - 1 - x; break;
    }
  };
  for (Mark& m : marks_.marks) {
    if (m.page != page) continue;
    for (MarkPoint& p : m.points) map(p.x, p.y, p.x, p.y);
    if (m.points.empty()) {
      // A box keeps upright (text and signatures are not turned with the page): its corners go
      // where the page takes them, and the box is drawn around them again.
      int w = m.w, h = m.h;
      if (m.kind == MarkKind::Text || m.kind == MarkKind::Stamp) {
        w = m.size * 4;  // about a word; the anchor is what matters
        h = m.size;
      }
      int x0, y0, x1, y1;
      map(m.x, m.y, x0, y0);
      map(m.x + w - 1, m.y + h - 1, x1, y1);
      m.x = std::min(x0, x1);
      m.y = std::min(y0, y1);
    }
  }
}

bool MarksEditor::Undo() {
  if (undo_.empty()) return false;
  redo_.push_back(std::move(marks_));
  marks_ = std::move(undo_.back());
  undo_.pop_back();
  selected_ = -1;
  return true;
}

bool MarksEditor::Redo() {
  if (redo_.empty()) return false;
  undo_.push_back(std::move(marks_));
  marks_ = std::move(redo_.back());
  redo_.pop_back();
  selected_ = -1;
  return true;
}

void MarksEditor::Bounds(const Mark& m, MarkRasterizer& rasterizer, int& x, int& y, int& w, int& h) {
  switch (m.kind) {
    case MarkKind::Pen:
    case MarkKind::Highlight: {
      int x0 = INT_MAX, y0 = INT_MAX, x1 = INT_MIN, y1 = INT_MIN;
      for (const MarkPoint& p : m.points) {
        x0 = std::min(x0, p.x);
        y0 = std::min(y0, p.y);
        x1 = std::max(x1, p.x);
        y1 = std::max(y1, p.y);
      }
      const int half = m.size / 2 + 1;
      x = x0 - half;
      y = y0 - half;
      w = x1 - x0 + 2 * half;
      h = y1 - y0 + 2 * half;
      return;
    }
    case MarkKind::Text:
    case MarkKind::Stamp:
      rasterizer.TextBox(m, x, y, w, h);
      return;
    default:
      x = m.x;
      y = m.y;
      w = m.w;
      h = m.h;
  }
}

int MarksEditor::MarkAt(int page, int px, int py, MarkRasterizer& rasterizer, int slack) const {
  for (int i = static_cast<int>(marks_.marks.size()) - 1; i >= 0; --i) {
    const Mark& m = marks_.marks[static_cast<size_t>(i)];
    if (m.page != page) continue;
    int x, y, w, h;
    Bounds(m, rasterizer, x, y, w, h);
    if (px >= x - slack && px < x + w + slack && py >= y - slack && py < y + h + slack) return i;
  }
  return -1;
}

namespace {

MarkPicture CutToInk(const std::vector<uint8_t>& ink, int width, int height) {
  int x0 = width, y0 = height, x1 = -1, y1 = -1;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (ink[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]) {
        x0 = std::min(x0, x);
        y0 = std::min(y0, y);
        x1 = std::max(x1, x);
        y1 = std::max(y1, y);
      }
  MarkPicture pic;
  if (x1 < 0) return pic;
  pic.width = std::min(x1 - x0 + 1, kMarkMaxPicture);
  pic.height = std::min(y1 - y0 + 1, kMarkMaxPicture);
  const size_t stride = static_cast<size_t>((pic.width + 7) / 8);
  pic.bits.assign(stride * static_cast<size_t>(pic.height), 0);
  for (int y = 0; y < pic.height; ++y)
    for (int x = 0; x < pic.width; ++x)
      if (ink[static_cast<size_t>(y + y0) * static_cast<size_t>(width) + static_cast<size_t>(x + x0)])
        pic.bits[static_cast<size_t>(y) * stride + static_cast<size_t>(x >> 3)] |= static_cast<uint8_t>(0x80u >> (x & 7));
  return pic;
}

}  // namespace

MarkPicture PictureFromStrokes(const std::vector<std::vector<MarkPoint>>& strokes, int width) {
  int x0 = INT_MAX, y0 = INT_MAX, x1 = INT_MIN, y1 = INT_MIN;
  for (const auto& s : strokes)
    for (const MarkPoint& p : s) {
      x0 = std::min(x0, p.x);
      y0 = std::min(y0, p.y);
      x1 = std::max(x1, p.x);
      y1 = std::max(y1, p.y);
    }
  if (x1 < x0) return {};
  width = std::clamp(width, 1, kMarkMaxStrokeWidth);
  const int pad = width;
  const int w = std::min(x1 - x0 + 1 + 2 * pad, kMarkMaxPicture), h = std::min(y1 - y0 + 1 + 2 * pad, kMarkMaxPicture);
  // Drawn with the rasteriser's own pen on a fine-grid bitmap, then cut to the ink.
  PageBitmap bm;
  bm.width = w;
  bm.height = h;
  bm.stride = (w + 15) / 16 * 2;
  bm.bits.assign(static_cast<size_t>(bm.stride) * static_cast<size_t>(h), 0);
  MarkRasterizer r;
  for (const auto& s : strokes) {
    std::vector<MarkPoint> moved;
    for (const MarkPoint& p : s) moved.push_back({p.x - x0 + pad, p.y - y0 + pad});
    r.DrawMark(Mark::Stroke(MarkKind::Pen, 1, width, std::move(moved)), bm, true);
  }
  std::vector<uint8_t> ink(static_cast<size_t>(w) * static_cast<size_t>(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ink[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] = bm.black(x, y);
  return CutToInk(ink, w, h);
}

MarkPicture PictureFromGreyAlpha(const uint8_t* pixels, int width, int height, int threshold) {
  if (!pixels || width <= 0 || height <= 0) return {};
  std::vector<uint8_t> ink(static_cast<size_t>(width) * static_cast<size_t>(height));
  for (size_t i = 0; i < ink.size(); ++i) ink[i] = pixels[2 * i + 1] >= 128 && pixels[2 * i] < threshold;
  return CutToInk(ink, width, height);
}

}  // namespace qv::faximage
