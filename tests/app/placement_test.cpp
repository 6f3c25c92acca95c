#include "app/forms/placement.h"

#include "app/store/settings.h"
#include "core/ini_file.h"
#include "test_support.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

using test::DataDir;

TEST(Placement, ClampMovesTheRectangleIntoTheScreen) {
  const QSize screen(800, 600);
  // Beyond the right edge: moved left by the excess, so its right edge is the screen's.
  EXPECT_EQ(ClampToScreen(QRect(700, 100, 300, 200), screen), QRect(500, 100, 300, 200));
  // Negative left and top: moved to 1.
  EXPECT_EQ(ClampToScreen(QRect(-50, -20, 300, 200), screen), QRect(1, 1, 300, 200));
  // Below the bottom edge.
  EXPECT_EQ(ClampToScreen(QRect(10, 500, 300, 200), screen), QRect(10, 400, 300, 200));
  // Wider than the screen: the right edge rule first, then the left edge wins.
  EXPECT_EQ(ClampToScreen(QRect(100, 0, 1000, 200), screen).left(), 1);
  // Inside: unchanged.
  EXPECT_EQ(ClampToScreen(QRect(10, 10, 300, 200), screen), QRect(10, 10, 300, 200));
}

TEST(Placement, SectionCarriesTheResolutionAbove96) {
  EXPECT_EQ(PlacementSection(QStringLiteral("TMainScreen"), 96), QStringLiteral("TMainScreen_Placement"));
  EXPECT_EQ(PlacementSection(QStringLiteral("TMainScreen"), 120),
            QStringLiteral("TMainScreen_Placement120"));
}

class PlacementWidget : public ::testing::Test {
 protected:
  void SetUp() override { test::App(); }
  QSize Screen() const {
    const QRect r = QGuiApplication::primaryScreen()->availableGeometry();
    return QSize(r.x() + r.width(), r.y() + r.height());
  }
  std::string Section() const {
    return PlacementSection(QStringLiteral("TTestForm"),
                            qRound(QGuiApplication::primaryScreen()->logicalDotsPerInch()))
        .toStdString();
  }
  DataDir dir_;
};

TEST_F(PlacementWidget, SaveAndRestoreRoundTrip) {
  const std::string ini = SettingsFileName(dir_.StdPath());
  QWidget form;
  form.setGeometry(40, 50, 300, 200);
  SavePlacement(&form, QStringLiteral("TTestForm"), ini);
  core::TIniFile file(ini);
  EXPECT_EQ(file.ReadInteger(Section(), "Left", -1), 40);
  EXPECT_EQ(file.ReadInteger(Section(), "Top", -1), 50);
  EXPECT_EQ(file.ReadInteger(Section(), "Right", -1), 340);
  EXPECT_EQ(file.ReadInteger(Section(), "Bottom", -1), 250);
  EXPECT_EQ(file.ReadString(Section(), "Maximized", ""), "0");

  QWidget other;
  other.resize(100, 100);
  RestorePlacement(&other, QStringLiteral("TTestForm"), ini);
  EXPECT_EQ(other.geometry(), QRect(40, 50, 300, 200));
}

TEST_F(PlacementWidget, RestoreClampsAStoredRectangleBeyondTheRightEdge) {
  const std::string ini = SettingsFileName(dir_.StdPath());
  const QSize screen = Screen();
  core::TIniFile file(ini);
  file.WriteInteger(Section(), "Left", screen.width() - 100);
  file.WriteInteger(Section(), "Top", 20);
  file.WriteInteger(Section(), "Right", screen.width() + 200);
  file.WriteInteger(Section(), "Bottom", 220);
  QWidget form;
  RestorePlacement(&form, QStringLiteral("TTestForm"), ini);
  EXPECT_EQ(form.geometry().x() + form.geometry().width(), screen.width());
  EXPECT_EQ(form.geometry().width(), 300);
  EXPECT_EQ(form.geometry().y(), 20);
}

TEST_F(PlacementWidget, NothingStoredCentresTheForm) {
  const std::string ini = SettingsFileName(dir_.StdPath());
  QWidget form;
  form.resize(200, 100);
  RestorePlacement(&form, QStringLiteral("TTestForm"), ini);
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(form.geometry().x(), screen.x() + (screen.width() - 200) / 2);
  EXPECT_EQ(form.geometry().y(), screen.y() + (screen.height() - 100) / 2);
}

TEST_F(PlacementWidget, StoredMaximizedMaximizes) {
  const std::string ini = SettingsFileName(dir_.StdPath());
  core::TIniFile(ini).WriteBool(Section(), "Maximized", true);
  QWidget form;
  RestorePlacement(&form, QStringLiteral("TTestForm"), ini);
  EXPECT_TRUE(form.windowState() & Qt::WindowMaximized);
}

TEST_F(PlacementWidget, DialogsCentreOverTheMainWindow) {
  QWidget main;
  main.setGeometry(100, 80, 600, 400);
  QWidget dialog;
  dialog.resize(200, 100);
  CenterOver(&dialog, &main);
  EXPECT_EQ(dialog.pos(), QPoint(100 + (600 - 200) / 2, 80 + (400 - 100) / 2));
  // The main window itself is centred on the screen.
  CenterOver(&main, &main);
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(main.pos().x(), screen.x() + (screen.width() - main.width()) / 2);
}

}  // namespace
}  // namespace qv::app
