#pragma once
// A date chosen on a calendar, with buttons that move it by years and months.

#include <QDate>
#include <QDialog>

class QCalendarWidget;
class QLabel;

namespace qv::app {

class TDateSelector : public QDialog {
  Q_OBJECT
 public:
  explicit TDateSelector(QWidget* parent = nullptr);

  QDate Date() const;
  void SetDate(const QDate& date);
  // The panel's text: the selected date as "Wednesday, December 9, 2026".
  QString PanelText() const;

 private:
  void Move(int years, int months);
  void UpdatePanel();

  QCalendarWidget* Calendar_;
  QLabel* Panel1_;
};

// The panel's form of a date.
QString LongDateText(const QDate& date);

}  // namespace qv::app
