#pragma once
// Window placement kept in the settings file, and the centring rule for dialogs.

#include <QRect>
#include <QSize>
#include <QString>

#include <string>

class QWidget;

namespace qv::app {

// Placement section of a form class: name + "_Placement", with the screen's pixels per inch
// appended when above 96.
QString PlacementSection(const QString& formClass, int dotsPerInch);

// Moves a rectangle into a screen of the given size: a right edge beyond the width moves it left by
// the excess, a negative left edge moves it right to 1; the same vertically.
QRect ClampToScreen(QRect rect, const QSize& screen);

// Rectangles are stored Windows style: Right and Bottom are left + width and top + height.
void SavePlacement(QWidget* form, const QString& formClass, const std::string& iniFile);
void RestorePlacement(QWidget* form, const QString& formClass, const std::string& iniFile);

// Centres a dialog over the main window, or on the screen when the main window is maximised,
// missing, or the form is the main window itself.
void CenterOver(QWidget* form, QWidget* mainWindow);

}  // namespace qv::app
