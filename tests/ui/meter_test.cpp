#include "ui/meter.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "ui_test_support.h"

namespace qv::ui {
namespace {

TEST(MeterSegments, FillFollowsThePositionAndEndsInAPartialSegment) {
  // The status window's meter: 406 pixels, steps of 10 -> 40 segments over the range.
  EXPECT_EQ(MeterSegments(0, 0, 100, 406, 10), (TMeterSegments{0, 0}));
  EXPECT_EQ(MeterSegments(-5, 0, 100, 406, 10), (TMeterSegments{0, 0}));
  EXPECT_EQ(MeterSegments(1, 0, 100, 406, 10), (TMeterSegments{1, 0}));
  EXPECT_EQ(MeterSegments(50, 0, 100, 406, 10), (TMeterSegments{21, 0}));
  EXPECT_EQ(MeterSegments(97, 0, 100, 406, 10), (TMeterSegments{39, 0}));
  // 41 segments would be 410 pixels, wider than 402: 40 whole ones and 2 pixels more.
  EXPECT_EQ(MeterSegments(100, 0, 100, 406, 10), (TMeterSegments{40, 2}));
  EXPECT_EQ(MeterSegments(150, 0, 100, 406, 10), (TMeterSegments{40, 2}));
  // The default meter: 150 pixels, steps of 8.
  EXPECT_EQ(MeterSegments(100, 0, 100, 150, 8), (TMeterSegments{18, 2}));
  // A range that does not start at 0.
  EXPECT_EQ(MeterSegments(60, 50, 150, 406, 10), (TMeterSegments{5, 0}));
  EXPECT_EQ(MeterSegments(50, 50, 150, 406, 10), (TMeterSegments{0, 0}));
  // Degenerate bars and ranges neither divide by zero nor overflow.
  EXPECT_EQ(MeterSegments(10, 5, 5, 406, 10), (TMeterSegments{40, 2}));
  EXPECT_EQ(MeterSegments(10, 0, 100, 3, 10), (TMeterSegments{0, 0}));
  EXPECT_EQ(MeterSegments(2000000000, -2000000000, 2000000000, 406, 10), (TMeterSegments{40, 2}));
  EXPECT_EQ(MeterSegments(5, 0, 10, 20, 0).full, 9);  // a step of 0 is taken as 1
}

TEST(Meter, RepaintsAndTellsOnlyWhenTheFillChanges) {
  test::App();
  TQvMeter meter;
  EXPECT_EQ(meter.size(), QSize(150, 16));
  EXPECT_EQ(meter.Min(), 0);
  EXPECT_EQ(meter.Max(), 100);
  EXPECT_EQ(meter.Step(), 8);
  EXPECT_EQ(meter.BevelStyle(), 0);
  meter.setGeometry(0, 0, 406, 20);
  meter.SetStep(10);
  meter.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&meter));
  QSignalSpy changes(&meter, &TQvMeter::PosChange);
  const int paints = meter.Paints();
  meter.SetPosition(50);
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(meter.Paints(), paints + 1);
  meter.SetPosition(52);  // still 21 segments
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(meter.Paints(), paints + 1);
  meter.SetPosition(100);  // the partial segment appears
  EXPECT_EQ(changes.count(), 2);
  EXPECT_EQ(meter.Segments(), (TMeterSegments{40, 2}));
  // A resize or a new step repaints without the event.
  const int before = meter.Paints();
  meter.resize(300, 20);
  meter.SetStep(10);
  EXPECT_EQ(changes.count(), 2);
  EXPECT_GE(meter.Paints(), before + 2);
  EXPECT_EQ(meter.Segments(), (TMeterSegments{29, 6}));
  meter.SetPosition(0);
  EXPECT_EQ(changes.count(), 3);
  EXPECT_EQ(meter.Segments(), (TMeterSegments{0, 0}));
}

TEST(Meter, DrawsSegmentsWithGapsAndTheBevel) {
  test::App();
  TQvMeter meter;
  meter.resize(406, 20);
  meter.SetStep(10);
  meter.SetBarColor(Qt::blue);
  meter.SetBevelColor1(Qt::white);
  meter.SetBevelColor2(Qt::black);
  meter.SetPosition(50);
  QImage img(meter.size(), QImage::Format_RGB32);
  img.fill(Qt::gray);
  meter.render(&img);
  EXPECT_EQ(img.pixelColor(2, 5), QColor(Qt::blue));    // first segment starts at 2
  EXPECT_EQ(img.pixelColor(9, 5), QColor(Qt::blue));
  EXPECT_NE(img.pixelColor(10, 5), QColor(Qt::blue));   // the gap between segments
  EXPECT_EQ(img.pixelColor(12, 5), QColor(Qt::blue));
  EXPECT_EQ(img.pixelColor(209, 5), QColor(Qt::blue));  // segment 21 ends at 210
  EXPECT_NE(img.pixelColor(215, 5), QColor(Qt::blue));
  EXPECT_EQ(img.pixelColor(0, 10), QColor(Qt::black));  // lowered: dark top and left
  EXPECT_EQ(img.pixelColor(405, 10), QColor(Qt::white));
  meter.SetBevelStyle(1);
  meter.render(&img);
  EXPECT_EQ(img.pixelColor(0, 10), QColor(Qt::white));
}

}  // namespace
}  // namespace qv::ui
