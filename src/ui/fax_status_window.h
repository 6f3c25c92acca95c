#pragma once
// The standard fax status display: a small window that follows a fax session (number, pages,
// remote station, rates, progress of the page, elapsed time, redial countdown) and cancels it.

#include <QDialog>
#include <QElapsedTimer>
#include <QString>

#include "fax/fax_status.h"

class QLabel;
class QPushButton;
class QTimer;

namespace qv::ui {

class TQvMeter;

inline constexpr int kStatusFileNameMax = 20;

// A file name as the status window shows it: without its folder, cut to 20 characters and "..."
// when longer.
QString StatusFileName(const std::string& path);
// Seconds as minutes ":" two-digit seconds, right-aligned in 6 characters.
QString StatusTime(qint64 seconds);

class TStandardFaxDisplay : public QDialog {
  Q_OBJECT
 public:
  explicit TStandardFaxDisplay(QWidget* parent = nullptr);

  // The value label of a field by its caption ("Phone number:", ...); null for an unknown one.
  QLabel* Value(const QString& caption) const;
  QLabel* PageProgressLabel() const { return pageProgress_; }
  TQvMeter* Meter() const { return meter_; }
  QPushButton* CancelButton() const { return cancel_; }

 signals:
  void CancelClicked();

 protected:
  // Not closed by the user: the session decides when the window goes.
  void reject() override {}

 private:
  friend class TQvFaxStatus;
  QLabel* AddRow(const char* name, const QString& caption);

  struct Row {
    QString caption;
    QLabel* label;
    QLabel* value;
  };
  std::vector<Row> rows_;
  QLabel* pageProgress_ = nullptr;
  TQvMeter* meter_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

// The concrete status display of the fax components: creates the window, keeps the elapsed-time
// and redial timers and fills the window on every status event.
class TQvFaxStatus : public fax::TQvAbstractFaxStatus {
 public:
  // owner: the form the window belongs to (it stays usable while that form is modal).
  explicit TQvFaxStatus(QWidget* owner = nullptr);
  ~TQvFaxStatus() override;

  void CreateDisplay() override;
  void DestroyDisplay() override;
  void UpdateDisplay(bool first, bool last) override;

  TStandardFaxDisplay* Display() const { return display_; }
  bool ElapsedRunning() const { return elapsed_.isValid(); }
  bool CountdownRunning() const { return countdown_.isValid(); }

 private:
  void Refresh();
  void RefreshTimes();
  QString ElapsedText() const;

  QWidget* owner_ = nullptr;
  TStandardFaxDisplay* display_ = nullptr;
  QTimer* clock_ = nullptr;  // keeps times and progress moving between status events
  QElapsedTimer elapsed_;
  QElapsedTimer countdown_;
  int countdownSeconds_ = 0;
};

}  // namespace qv::ui
