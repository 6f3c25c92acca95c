#include "ui/meter.h"

#include <QPainter>
#include <QPalette>

#include <algorithm>

namespace qv::ui {

namespace {
constexpr int kBevel = 2;  // the bar's inner area starts this far from each edge
}

TMeterSegments MeterSegments(int position, int min, int max, int width, int step) {
  TMeterSegments s;
  step = std::max(step, 1);
  const int room = width - 2 * kBevel;
  if (position <= min || room <= 0) return s;
  const long long fit = std::max(0, (width - 3) / step);
  long long n = max > min ? (static_cast<long long>(position) - min) * fit / (static_cast<long long>(max) - min) + 1
                          : fit + 1;
  if (n * step > room) {
    s.full = room / step;
    s.partial = room % step;
  } else {
    s.full = static_cast<int>(n);
  }
  return s;
}

TQvMeter::TQvMeter(QWidget* parent) : QWidget(parent) {
  const QPalette pal = palette();
  barColor_ = pal.color(QPalette::Highlight);
  bevel1_ = pal.color(QPalette::Light);
  bevel2_ = pal.color(QPalette::Dark);
  resize(kMeterDefaultWidth, kMeterDefaultHeight);
}

void TQvMeter::SetBarColor(const QColor& c) {
  barColor_ = c;
  update();
}
void TQvMeter::SetBevelColor1(const QColor& c) {
  bevel1_ = c;
  update();
}
void TQvMeter::SetBevelColor2(const QColor& c) {
  bevel2_ = c;
  update();
}
void TQvMeter::SetBevelStyle(int style) {
  bevelStyle_ = style;
  update();
}
void TQvMeter::SetMin(int v) {
  min_ = v;
  Recalc(false);
}
void TQvMeter::SetMax(int v) {
  max_ = v;
  Recalc(false);
}
void TQvMeter::SetPosition(int v) {
  position_ = v;
  Recalc(false);
}
void TQvMeter::SetStep(int v) {
  step_ = std::max(v, 1);
  Recalc(true);
}

void TQvMeter::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Recalc(true);
}

void TQvMeter::Recalc(bool force) {
  const TMeterSegments now = MeterSegments(position_, min_, max_, width(), step_);
  const bool changed = now.full != segments_.full || (now.partial > 0) != (segments_.partial > 0);
  segments_ = now;
  if (changed || force) {
    // Drawn at once, as the meter moves while the call runs and not between events.
    repaint();
    if (changed && !force) emit PosChange();
  }
}

void TQvMeter::paintEvent(QPaintEvent*) {
  ++paints_;
  QPainter p(this);
  const int w = width(), h = height();
  if (bevelStyle_ == kLowered || bevelStyle_ == kRaised) {
    const QColor topLeft = bevelStyle_ == kLowered ? bevel2_ : bevel1_;
    const QColor bottomRight = bevelStyle_ == kLowered ? bevel1_ : bevel2_;
    p.setPen(topLeft);
    p.drawLine(0, 0, w - 1, 0);
    p.drawLine(0, 0, 0, h - 1);
    p.setPen(bottomRight);
    p.drawLine(0, h - 1, w - 1, h - 1);
    p.drawLine(w - 1, 0, w - 1, h - 1);
  }
  // Segment i spans x from i * step + 2 to (i + 1) * step, y from 2 to height - 2.
  const int top = kBevel, bottom = h - kBevel;
  for (int i = 0; i < segments_.full; ++i)
    p.fillRect(QRect(QPoint(i * step_ + kBevel, top), QPoint((i + 1) * step_ - 1, bottom - 1)), barColor_);
  if (segments_.partial > 0) {
    const int left = segments_.full * step_ + kBevel;
    p.fillRect(QRect(left, top, segments_.partial, bottom - top), barColor_);
  }
}

}  // namespace qv::ui
