#pragma once
// The fax-class check: asks the modem which fax classes it supports and recommends one.

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace qv::comm {
class TQvComPort;
}
namespace qv::fax {
class TQvAbstractFax;
}

namespace qv::app {

struct TFaxClassCheck {
  int Recommended = -1;  // 0 Class 1, 1 Class 2, 2 Class 2.0, -1 none
  QString Name;          // "Class 1", "Class 2", "Class 2.0" or empty
  bool Class1 = false;
  bool Class2 = false;
  bool Class2_0 = false;
};

class TCheckFaxClassForm : public QDialog {
  Q_OBJECT
 public:
  TCheckFaxClassForm(qv::comm::TQvComPort& port, qv::fax::TQvAbstractFax& fax, int portNumber,
                     QWidget* parent = nullptr);

  // Runs the check once (the form starts it itself when first shown).
  void Check();
  bool Done() const { return done_; }
  const TFaxClassCheck& Result() const { return result_; }
  QString Status() const;
  // Rows top to bottom (Class 2.0, Class 2, Class 1 once the modem answered).
  QStringList Rows() const;
  bool RowBold(int row) const;

 signals:
  void checkFinished();

 protected:
  void showEvent(QShowEvent* event) override;
  void reject() override;

 private:
  void SetStatus(const QString& text);
  void RowsUnknown();
  // The work up to the end step; the end step itself is common.
  void Run();

  qv::comm::TQvComPort& port_;
  qv::fax::TQvAbstractFax& fax_;
  int portNumber_;
  QLabel* status_ = nullptr;
  QLabel* rows_[3] = {};
  QPushButton* ok_ = nullptr;
  TFaxClassCheck result_;
  bool started_ = false;
  bool done_ = false;
};

// Runs the check modally over mainWindow.
TFaxClassCheck CheckFaxClass(QWidget* mainWindow, qv::comm::TQvComPort& port,
                             qv::fax::TQvAbstractFax& fax, int portNumber);

}  // namespace qv::app
