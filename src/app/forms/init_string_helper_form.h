#pragma once
// The initialisation-string assistant: builds a modem initialisation string from the modem's
// make and the early hang-up symptom.

#include <QDialog>
#include <QString>

class QButtonGroup;
class QCheckBox;
class QLabel;

namespace qv::app {

// Modem types of the assistant, in list order.
enum TInitModemType {
  imtHayes = 0,
  imtUsRobotics,
  imtSportster288,
  imtSportsterLate336,
  imtSportsterX2,
  imtCirrusLogic,
  imtCount
};

// Whether a text's S7 value asks for the long answer wait: above 65, or above 90 with "&H3".
bool InitTextHasLongWait(const QString& text);
// The type a text was most likely made for (first match wins).
int InitTextModemType(const QString& text);
// The string the assistant makes for a type.
QString BuildInitString(int type, bool earlyHangup, bool sending);

class TModemInitStringHelperForm : public QDialog {
  Q_OBJECT
 public:
  enum Choice { chCancel, chOk, chBlank };

  TModemInitStringHelperForm(const QString& text, bool sending, QWidget* parent = nullptr);

  int ModemType() const;
  void SetModemType(int type);
  bool EarlyHangup() const;
  void SetEarlyHangup(bool on);
  Choice Chosen() const { return choice_; }

 private:
  QButtonGroup* modemType_ = nullptr;
  QCheckBox* checkAT7_ = nullptr;
  Choice choice_ = chCancel;
};

// Runs the assistant over text for the sending or receiving direction; result gets the string
// to use (the text itself on Cancel, empty on "Leave it Blank"). True unless cancelled.
bool ShowInitHelper(QWidget* parent, const QString& text, bool sending, QString& result);

}  // namespace qv::app
