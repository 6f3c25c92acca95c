#pragma once
// The notice shown while receive mode starts and once it runs: a small window on top of the others
// that goes away by itself after 15 seconds, on a click, or with "Ok".

#include <QWidget>

class QCheckBox;
class QFrame;
class QPushButton;
class QTimer;

namespace qv::app {

inline constexpr int kStartingFaxFormMs = 15000;

class TStartingFaxForm : public QWidget {
  Q_OBJECT
 public:
  explicit TStartingFaxForm(QWidget* parent = nullptr);

  // "Please wait ..." only.
  void SetStartingLook();
  // The three ready lines, "Ok" and "Do not show this again".
  void SetReadyLook();
  bool ReadyLook() const;

  QFrame* ReadyPanel() const { return ReadyPanel_; }
  QFrame* StartingPanel() const { return StartingPanel_; }
  QPushButton* okbutton() const { return okbutton_; }
  QCheckBox* DoNotShow() const { return DoNotShow_; }
  QTimer* Timer1() const { return Timer1_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QFrame* ReadyPanel_ = nullptr;
  QFrame* StartingPanel_ = nullptr;
  QPushButton* okbutton_ = nullptr;
  QCheckBox* DoNotShow_ = nullptr;
  QTimer* Timer1_ = nullptr;
};

}  // namespace qv::app
