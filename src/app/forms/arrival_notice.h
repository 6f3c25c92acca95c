#pragma once
// Tells the user that faxes arrived while receive mode runs: a tray icon with the count since
// receive mode started, and a desktop notification (the sender's ID and the page count) for a fax
// that arrives while the main window is not in front, or whose print-out failed. Without a tray or notification service
// both stay silent: receiving goes on as before.

#include <QObject>
#include <QString>

class QSystemTrayIcon;
class QWidget;

namespace qv::app {

class TArrivalNotice : public QObject {
  Q_OBJECT
 public:
  explicit TArrivalNotice(QWidget* window);
  ~TArrivalNotice() override;

  // Receive mode on: the count starts from nought and the tray icon shows; off: it goes.
  void SetReceiveMode(bool on);
  // A fax has its record. `windowActive`: the user has the main window in front, so it needs no
  // notification. `printProblem`: print on receipt was asked for and failed, for this reason; the
  // notification says so. Returns whether a notification was handed to the desktop.
  bool FaxArrived(const QString& file, const QString& from, int pages, bool windowActive,
                  const QString& printProblem = QString());

  int Count() const { return count_; }
  bool TrayShown() const;
  QString ToolTip() const;
  // The last notification composed (whether or not the desktop could show it), for the tests
  // and for the tray's own tooltip.
  QString LastTitle() const { return lastTitle_; }
  QString LastText() const { return lastText_; }
  QString LastFile() const { return lastFile_; }

  static QString TitleFor(const QString& from);
  static QString TextFor(const QString& from, int pages, const QString& printProblem = QString());

 signals:
  // The user clicked the notification: the fax it told about should open.
  void openRequested(const QString& file);
  // The user clicked the tray icon: the main window should come to the front.
  void showRequested();

 private:
  void UpdateToolTip();

  QWidget* window_;
  QSystemTrayIcon* tray_ = nullptr;
  bool receiveMode_ = false;
  int count_ = 0;
  QString lastTitle_, lastText_, lastFile_;
};

}  // namespace qv::app
