#include "app/forms/placement.h"

#include "core/ini_file.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace qv::app {

namespace {
QScreen* ScreenOf(QWidget* form) {
  QScreen* screen = form ? form->screen() : nullptr;
  return screen ? screen : QGuiApplication::primaryScreen();
}

int DotsPerInch(QWidget* form) {
  QScreen* screen = ScreenOf(form);
  return screen ? static_cast<int>(std::lround(screen->logicalDotsPerInch())) : 96;
}

QRect ScreenRect(QWidget* form) {
  QScreen* screen = ScreenOf(form);
  return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}
}  // namespace

QString PlacementSection(const QString& formClass, int dotsPerInch) {
  QString section = formClass + QStringLiteral("_Placement");
  if (dotsPerInch > 96) section += QString::number(dotsPerInch);
  return section;
}

QRect ClampToScreen(QRect rect, const QSize& screen) {
  if (rect.x() + rect.width() > screen.width()) {
    rect.moveLeft(rect.x() - (rect.x() + rect.width() - screen.width()));
  }
  if (rect.x() < 0) rect.moveLeft(1);
  if (rect.y() + rect.height() > screen.height()) {
    rect.moveTop(rect.y() - (rect.y() + rect.height() - screen.height()));
  }
  if (rect.y() < 0) rect.moveTop(1);
  return rect;
}

void SavePlacement(QWidget* form, const QString& formClass, const std::string& iniFile) {
  const std::string section = PlacementSection(formClass, DotsPerInch(form)).toStdString();
  const QRect r = form->isMaximized() ? form->normalGeometry() : form->geometry();
  core::TIniFile ini(iniFile);
  ini.WriteInteger(section, "Left", r.x());
  ini.WriteInteger(section, "Top", r.y());
  ini.WriteInteger(section, "Right", r.x() + r.width());
  ini.WriteInteger(section, "Bottom", r.y() + r.height());
  ini.WriteBool(section, "Maximized", form->isMaximized());
}

void RestorePlacement(QWidget* form, const QString& formClass, const std::string& iniFile) {
  const std::string section = PlacementSection(formClass, DotsPerInch(form)).toStdString();
  core::TIniFile ini(iniFile);
  const int left = ini.ReadInteger(section, "Left", 0);
  const int top = ini.ReadInteger(section, "Top", 0);
  const int right = ini.ReadInteger(section, "Right", 0);
  const int bottom = ini.ReadInteger(section, "Bottom", 0);
  if (ini.ReadBool(section, "Maximized", form->isMaximized())) {
    form->setWindowState(form->windowState() | Qt::WindowMaximized);
    return;
  }
  QRect rect;
  if (bottom == 0) {
    QWidget* owner = form->parentWidget() ? form->parentWidget()->window() : nullptr;
    CenterOver(form, owner);
    rect = form->geometry();
  } else {
    rect = QRect(left, top, right - left, bottom - top);
  }
  const QRect screen = ScreenRect(form);
  rect = ClampToScreen(rect, QSize(screen.x() + screen.width(), screen.y() + screen.height()));
  form->setGeometry(rect);
}

void CenterOver(QWidget* form, QWidget* mainWindow) {
  const QSize size = form->size();
  QRect area;
  if (!mainWindow || mainWindow == form || mainWindow->isMaximized()) {
    area = ScreenRect(form);
  } else {
    area = mainWindow->geometry();
  }
  form->move(area.x() + (area.width() - size.width()) / 2,
             area.y() + (area.height() - size.height()) / 2);
}

}  // namespace qv::app
