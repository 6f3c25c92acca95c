#pragma once
// A bevelled progress bar of segments (the fax status window's page progress).

#include <QColor>
#include <QWidget>

namespace qv::ui {

inline constexpr int kMeterDefaultStep = 8;
inline constexpr int kMeterDefaultWidth = 150;
inline constexpr int kMeterDefaultHeight = 16;

// How much of the bar is filled: whole segments and, when they would not fit, the pixels of one
// partial segment after them.
struct TMeterSegments {
  int full = 0;
  int partial = 0;  // width in pixels; 0 when there is none
  bool operator==(const TMeterSegments&) const = default;
};

// The filled segments of a bar of the given width: none at or below min; otherwise
// (position - min) * ((width - 3) div step) div (max - min) + 1, and when that many would be
// wider than width - 4, the whole segments that fit plus the rest as a partial one. A range of
// zero width counts as full once position passes min.
TMeterSegments MeterSegments(int position, int min, int max, int width, int step);

class TQvMeter : public QWidget {
  Q_OBJECT
 public:
  enum BevelStyles { kLowered = 0, kRaised = 1 };

  explicit TQvMeter(QWidget* parent = nullptr);

  QColor BarColor() const { return barColor_; }
  void SetBarColor(const QColor& c);
  QColor BevelColor1() const { return bevel1_; }
  void SetBevelColor1(const QColor& c);
  QColor BevelColor2() const { return bevel2_; }
  void SetBevelColor2(const QColor& c);
  // 0 lowered, 1 raised, anything else no bevel.
  int BevelStyle() const { return bevelStyle_; }
  void SetBevelStyle(int style);
  int Min() const { return min_; }
  void SetMin(int v);
  int Max() const { return max_; }
  void SetMax(int v);
  int Position() const { return position_; }
  void SetPosition(int v);
  int Step() const { return step_; }
  // A step below 1 is taken as 1 (the segments would have no width).
  void SetStep(int v);

  TMeterSegments Segments() const { return segments_; }
  // How often the bar was drawn (for tests of when it repaints).
  int Paints() const { return paints_; }

  QSize sizeHint() const override { return {kMeterDefaultWidth, kMeterDefaultHeight}; }

 signals:
  // OnPosChange: the filled part changed.
  void PosChange();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Recomputes the segments; repaints and raises PosChange when they changed, or repaints anyway
  // (without the event) when forced.
  void Recalc(bool force);

  QColor barColor_, bevel1_, bevel2_;
  int bevelStyle_ = kLowered;
  int min_ = 0, max_ = 100, position_ = 0, step_ = kMeterDefaultStep;
  TMeterSegments segments_;
  int paints_ = 0;
};

}  // namespace qv::ui
