#pragma once
// Which faxes a bulk delete takes: those from a sender, to a recipient or to a fax number,
// matching the text exactly or containing it.

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace qv::app {

enum class ConditionField { From, Recipient, Phone };

class TDeleteForConditions : public QDialog {
  Q_OBJECT
 public:
  explicit TDeleteForConditions(QWidget* parent = nullptr);

  // The outgoing page offers RECIPIENT and FAX #, preset from the current fax; the received
  // page offers FROM only.
  void SetupOutgoing(const QString& recipient, const QString& phone);
  void SetupReceived(const QString& from);

  ConditionField Field() const;
  QString Text() const;  // the edit of the selected choice
  bool Exact() const;

  QRadioButton* rFrom() const { return rFrom_; }
  QRadioButton* rRecipient() const { return rRecipient_; }
  QRadioButton* rPhone() const { return rPhone_; }
  QLineEdit* FaxFROM() const { return FaxFROM_; }
  QLineEdit* FaxRECIPIENT() const { return FaxRECIPIENT_; }
  QLineEdit* FaxPHONE() const { return FaxPHONE_; }
  QCheckBox* ExactMatch() const { return ExactMatch_; }

 public slots:
  // Ok: refuses a blank text, then asks for confirmation; only Yes closes the dialog.
  void OkClick();

 private:
  QRadioButton* rFrom_;
  QRadioButton* rRecipient_;
  QRadioButton* rPhone_;
  QLineEdit* FaxFROM_;
  QLineEdit* FaxRECIPIENT_;
  QLineEdit* FaxPHONE_;
  QCheckBox* ExactMatch_;
};

}  // namespace qv::app
