#pragma once
// The modem-port search: tries COM1 to COM6 (all at once, each on a port object of its own,
// configured like the given one) and reports which answer like a modem.

#include <QDialog>
#include <QString>

#include <array>
#include <functional>

class QLabel;
class QPushButton;

namespace qv::comm {
class TQvComPort;
}

namespace qv::app {

class TFindModemForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kNoModem = -1;

  TFindModemForm(qv::comm::TQvComPort& port, QWidget* parent = nullptr);

  // Called before each port is opened with its number and the port object that will try it
  // (to aim it at a device of the caller's choosing); without one the COM mapping applies.
  void SetDeviceChooser(std::function<void(int, qv::comm::TQvComPort&)> chooser) { chooser_ = std::move(chooser); }
  // Runs the search once (the form starts it itself when first shown).
  void Search();
  bool Done() const { return done_; }
  // The first port that answered (1 to 6), or kNoModem.
  int Result() const { return result_; }
  QString RowText(int port) const;
  QString Summary() const;

 signals:
  void searchFinished();

 protected:
  void showEvent(QShowEvent* event) override;
  void reject() override;

 private:
  // Opens one probe port: empty when open, otherwise its row text after "Com n: " (busy is set
  // when someone else holds the port).
  QString OpenForTest(qv::comm::TQvComPort& port, bool& busy);

  qv::comm::TQvComPort& port_;
  std::array<QLabel*, 6> rows_{};
  QLabel* summary_ = nullptr;
  QPushButton* ok_ = nullptr;
  std::function<void(int, qv::comm::TQvComPort&)> chooser_;
  int result_ = kNoModem;
  bool started_ = false;
  bool done_ = false;
};

// Runs the search modally over mainWindow on the given port; returns the port found or -1.
int FindModem(QWidget* mainWindow, qv::comm::TQvComPort& port);

}  // namespace qv::app
