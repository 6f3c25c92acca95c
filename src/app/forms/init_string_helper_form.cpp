#include "app/forms/init_string_helper_form.h"

#include "app/forms/dialog_service.h"
#include "app/forms/placement.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace qv::app {

namespace {

constexpr int kS7Digits = 3;
constexpr int kNormalWaitLimit = 65;
constexpr int kUsrWaitLimit = 90;

const char* const kTypeNames[imtCount] = {
    "Hayes Compatible modem   or   UNKNOWN",
    "US Robotics/3COM Modem   or   WinModem",
    "US Robotics/3COM Sportster 28.8 or Early 33.6 model",
    "US Robotics/3COM Late Model Sportster 33.6 model",
    "US Robotics/3COM Sportster X2 modem",
    "Cirrus Logic or AT&&T modem",  // "&&" shows as one ampersand
};

}  // namespace

bool InitTextHasLongWait(const QString& text) {
  const int at = text.indexOf(QStringLiteral("S7="), 0, Qt::CaseInsensitive);
  if (at < 0) return false;
  QString digits = text.mid(at + 3, kS7Digits);
  while (!digits.isEmpty() && !digits.back().isDigit()) digits.chop(1);
  bool ok = false;
  const int value = digits.toInt(&ok);
  if (!ok) return false;
  const bool usr = text.contains(QStringLiteral("&H3"), Qt::CaseInsensitive);
  return value > (usr ? kUsrWaitLimit : kNormalWaitLimit);
}

int InitTextModemType(const QString& text) {
  const QString up = text.toUpper();
  if (up.contains(QStringLiteral("S36=0"))) return imtSportster288;
  if (up.contains(QStringLiteral("S33=34"))) return imtSportsterX2;
  if (up.contains(QStringLiteral("S36=8"))) return imtSportsterLate336;
  if (up.contains(QStringLiteral("\\Q3"))) return imtCirrusLogic;
  if (up.contains(QStringLiteral("&R2"))) return imtUsRobotics;
  return imtHayes;
}

QString BuildInitString(int type, bool earlyHangup, bool sending) {
  QString wait = QStringLiteral("S7=65");
  if (sending && earlyHangup) wait = QStringLiteral("S7=120");
  else if (sending && type != imtHayes) wait = QStringLiteral("S7=90");
  const QString usr = QStringLiteral("AT&H3&I2&R2");
  switch (type) {
    case imtUsRobotics: return usr + wait;
    case imtSportster288: return usr + wait + QStringLiteral("S36=0");
    case imtSportsterLate336: return usr + wait + QStringLiteral("S36=8");
    case imtSportsterX2: return usr + wait + QStringLiteral("S36=8S33=34");
    case imtCirrusLogic: return QStringLiteral("AT&F&C1&D2\\Q3") + wait;
    default: return QStringLiteral("AT&F&C1&D2&K3") + wait;
  }
}

TModemInitStringHelperForm::TModemInitStringHelperForm(const QString& text, bool sending, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("ModemInitStringHelperForm"));
  setWindowTitle(QStringLiteral("Modem Initialization String Helper"));
  auto* layout = new QVBoxLayout(this);
  auto* box = new QGroupBox(QStringLiteral("I have a:"), this);
  box->setObjectName(QStringLiteral("ModemType"));
  box->setAccessibleName(QStringLiteral("I have a:"));
  modemType_ = new QButtonGroup(this);
  auto* boxLayout = new QVBoxLayout(box);
  for (int i = 0; i < imtCount; ++i) {
    auto* radio = new QRadioButton(QString::fromLatin1(kTypeNames[i]), box);
    radio->setObjectName(QStringLiteral("ModemType%1").arg(i));
    radio->setAccessibleName(radio->text().replace(QStringLiteral("&&"), QStringLiteral("&")));
    modemType_->addButton(radio, i);
    boxLayout->addWidget(radio);
  }
  layout->addWidget(box);
  checkAT7_ = new QCheckBox(this);
  checkAT7_->setObjectName(QStringLiteral("CheckAT7"));
  auto* hangupLabel = new QLabel(
      QStringLiteral("The Faxmodem frequently hangs up before the faxmodem/fax machine on the other "
                     "end answers and/or I have problems with international calls"),
      this);
  hangupLabel->setObjectName(QStringLiteral("CheckAT7Label"));
  hangupLabel->setWordWrap(true);
  hangupLabel->setBuddy(checkAT7_);
  checkAT7_->setAccessibleName(hangupLabel->text());
  auto* hangupRow = new QHBoxLayout;
  hangupRow->addWidget(checkAT7_, 0, Qt::AlignTop);
  hangupRow->addWidget(hangupLabel, 1);
  layout->addLayout(hangupRow);
  // The answer wait matters only when dialling out.
  checkAT7_->setVisible(sending);
  hangupLabel->setVisible(sending);

  auto* ok = new QPushButton(QStringLiteral("Ok"), this);
  ok->setObjectName(QStringLiteral("OkButton"));
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("CancelButton"));
  auto* blank = new QPushButton(QStringLiteral("Leave it Blank"), this);
  blank->setObjectName(QStringLiteral("BlankButton"));
  for (QPushButton* b : {ok, cancel, blank}) b->setAccessibleName(b->text());
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, [this] {
    choice_ = chOk;
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, [this] {
    choice_ = chCancel;
    reject();
  });
  connect(blank, &QPushButton::clicked, this, [this] {
    choice_ = chBlank;
    accept();
  });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addWidget(blank);
  layout->addLayout(buttons);
  setMinimumWidth(460);

  SetEarlyHangup(InitTextHasLongWait(text));
  SetModemType(InitTextModemType(text));
}

int TModemInitStringHelperForm::ModemType() const { return modemType_->checkedId(); }

void TModemInitStringHelperForm::SetModemType(int type) {
  if (QAbstractButton* b = modemType_->button(type)) b->setChecked(true);
}

bool TModemInitStringHelperForm::EarlyHangup() const { return checkAT7_->isChecked(); }
void TModemInitStringHelperForm::SetEarlyHangup(bool on) { checkAT7_->setChecked(on); }

bool ShowInitHelper(QWidget* parent, const QString& text, bool sending, QString& result) {
  result = text;
  TModemInitStringHelperForm form(text, sending, parent);
  form.adjustSize();
  CenterOver(&form, parent ? parent->window() : nullptr);
  const int code = Dialogs().Exec(&form);
  if (code != QDialog::Accepted || form.Chosen() == TModemInitStringHelperForm::chCancel) return false;
  if (form.Chosen() == TModemInitStringHelperForm::chBlank) {
    result.clear();
  } else {
    // The box counts only where it is shown.
    result = BuildInitString(form.ModemType(), sending && form.EarlyHangup(), sending);
  }
  return true;
}

}  // namespace qv::app
