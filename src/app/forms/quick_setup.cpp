#include "app/forms/quick_setup.h"

#include "app/forms/dialog_service.h"
#include "app/forms/find_modem_form.h"
#include "app/forms/internet_line_panel.h"
#include "app/flows/modem_routines.h"
#include "app/forms/placement.h"
#include "app/store/settings.h"
#include "comm/com_port.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

namespace qv::app {

namespace {
constexpr int kPorts = 6;
constexpr int kNameWidth = 35;
constexpr int kFaxNumberWidth = 20;

QLabel* WrappedLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  return label;
}
}  // namespace

TQuickSetupForm::TQuickSetupForm(QWidget* parent, const QString& dataDir)
    : QDialog(parent), port_(std::make_unique<comm::TQvComPort>()) {
  ConfigureFormPort(*port_);
  setObjectName(QStringLiteral("QuickSetupForm"));
  setWindowTitle(QStringLiteral("Quick Setup Form"));

  auto* intro = WrappedLabel(QStringLiteral("How will Quorvane reach other fax machines? Choose one of these three "
                                            "ways. You can change it later in Preferences."),
                             this);
  intro->setObjectName(QStringLiteral("WayIntro"));
  way_ = new QButtonGroup(this);
  auto* wayModem = new QRadioButton(QStringLiteral("A fax &modem on a serial or USB port"), this);
  wayModem->setObjectName(QStringLiteral("WayModem"));
  auto* wayInternet = new QRadioButton(QStringLiteral("An &Internet fax line (SIP)"), this);
  wayInternet->setObjectName(QStringLiteral("WayInternet"));
  auto* wayPractice = new QRadioButton(QStringLiteral("Try it &without either"), this);
  wayPractice->setObjectName(QStringLiteral("WayPractice"));
  way_->addButton(wayModem, kModemWay);
  way_->addButton(wayInternet, kInternetWay);
  way_->addButton(wayPractice, kPracticeWay);

  // The modem: its port, the search, the Motorola switch.
  modemPart_ = new QWidget(this);
  modemPart_->setObjectName(QStringLiteral("ModemPart"));
  auto* portText = WrappedLabel(
      QStringLiteral("Which communications port is your modem on? It is usually COM1 or COM2. "
                     "(Click on the Find Modem Port button for assistance.)"),
      modemPart_);
  comPortBox_ = new QGroupBox(modemPart_);
  comPortBox_->setObjectName(QStringLiteral("ComPort"));
  comPort_ = new QButtonGroup(this);
  auto* grid = new QGridLayout(comPortBox_);
  for (int i = 0; i < kPorts; ++i) {
    auto* radio = new QRadioButton(QStringLiteral("Com%1").arg(i + 1), comPortBox_);
    radio->setObjectName(QStringLiteral("Com%1").arg(i + 1));
    comPort_->addButton(radio, i);
    grid->addWidget(radio, i / 3, i % 3);  // three columns
  }
  findModem_ = new QPushButton(QStringLiteral("Find Modem Port"), modemPart_);
  findModem_->setObjectName(QStringLiteral("FindModemPort"));
  findModem_->setAccessibleName(QStringLiteral("Find Modem Port"));
  connect(findModem_, &QPushButton::clicked, this, &TQuickSetupForm::FindModemPortClick);
  sm56_ = new QCheckBox(QStringLiteral("My modem is a Motorola SM56"), modemPart_);
  sm56_->setObjectName(QStringLiteral("chkSM56"));
  // The polled reading takes effect at once, for the rest of the run.
  connect(sm56_, &QCheckBox::toggled, this, [](bool on) { SetPollingMode(on); });
  auto* portRow = new QHBoxLayout;
  portRow->addWidget(comPortBox_, 1);
  portRow->addWidget(findModem_, 0, Qt::AlignVCenter);
  auto* modemLayout = new QVBoxLayout(modemPart_);
  modemLayout->setContentsMargins(24, 0, 0, 6);
  modemLayout->addWidget(portText);
  modemLayout->addLayout(portRow);
  modemLayout->addWidget(sm56_);

  // The Internet fax line: its own panel; the way's choice stands for the panel's own switch.
  internetPart_ = new QWidget(this);
  internetPart_->setObjectName(QStringLiteral("InternetPart"));
  auto* internetText = WrappedLabel(
      QStringLiteral("A fax line from a telephone provider over the Internet: enter the server, the user name "
                     "and the password the provider gave you."),
      internetPart_);
  line_ = new TInternetLinePanel(dataDir, internetPart_);
  line_->UseCheck()->hide();
  auto* internetLayout = new QVBoxLayout(internetPart_);
  internetLayout->setContentsMargins(24, 0, 0, 6);
  internetLayout->addWidget(internetText);
  internetLayout->addWidget(line_);

  auto* practiceText = WrappedLabel(
      QStringLiteral("No modem and no Internet fax line yet? A practice line on this computer lets you try "
                     "Quorvane: it puts a practice fax in your Outgoing list and turns on Receive. Select the "
                     "fax, press Send and watch it arrive in your Incoming list. The faxes go to this computer "
                     "only."),
      this);
  practiceText->setObjectName(QStringLiteral("PracticeText"));
  practiceText->setContentsMargins(24, 0, 0, 0);

  auto* userText =
      new QLabel(QStringLiteral("Enter your name and fax number for identifying your sent faxes:"), this);
  auto* optional = new QLabel(QStringLiteral("(Note: these are optional fields)"), this);
  name_ = new QLineEdit(this);
  name_->setObjectName(QStringLiteral("Name"));
  name_->setMaxLength(kNameWidth);
  faxNumber_ = new QLineEdit(this);
  faxNumber_->setObjectName(QStringLiteral("FaxNumber"));
  faxNumber_->setMaxLength(kFaxNumberWidth);
  auto* fields = new QGridLayout;
  auto* nameLabel = new QLabel(QStringLiteral("&Name:"), this);
  nameLabel->setBuddy(name_);
  auto* faxLabel = new QLabel(QStringLiteral("&Fax Number:"), this);
  faxLabel->setBuddy(faxNumber_);
  fields->addWidget(nameLabel, 0, 0);
  fields->addWidget(name_, 0, 1);
  fields->addWidget(faxLabel, 1, 0);
  fields->addWidget(faxNumber_, 1, 1);

  auto* closing = WrappedLabel(
      QStringLiteral("Normally this is all that is needed to get you started sending and "
                     "receiving faxes. If you experience problems, or if you wish to fine-tune "
                     "your settings, click on the Preferences button on the main screen."),
      this);

  auto* ok = new QPushButton(QStringLiteral("Ok"), this);
  ok->setObjectName(QStringLiteral("OkButton"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cance&l"), this);
  cancel->setObjectName(QStringLiteral("CancelButton"));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(intro);
  layout->addWidget(wayModem);
  layout->addWidget(modemPart_);
  layout->addWidget(wayInternet);
  layout->addWidget(internetPart_);
  layout->addWidget(wayPractice);
  layout->addWidget(practiceText);
  layout->addSpacing(8);
  layout->addWidget(userText);
  layout->addWidget(optional);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addLayout(fields);
  layout->addSpacing(8);
  layout->addWidget(closing);
  layout->addLayout(buttons);
  setMinimumWidth(520);

  // Names for screen readers: a button's caption, an edit's label, the port choice's question.
  for (QAbstractButton* b : findChildren<QAbstractButton*>())
    if (b->accessibleName().isEmpty()) b->setAccessibleName(b->text().remove(QLatin1Char('&')));
  comPortBox_->setAccessibleName(QStringLiteral("Which communications port is your modem on?"));
  name_->setAccessibleName(QStringLiteral("Name:"));
  faxNumber_->setAccessibleName(QStringLiteral("Fax Number:"));
  // A way's description is read with its choice.
  wayModem->setAccessibleDescription(portText->text());
  wayInternet->setAccessibleDescription(internetText->text());
  wayPractice->setAccessibleDescription(practiceText->text());

  // The panel's own switch and the way's choice are one: ticking either chooses the other.
  connect(line_->UseCheck(), &QCheckBox::toggled, this, [this](bool on) {
    if (on) ChooseWay(kInternetWay);
  });
  connect(way_, &QButtonGroup::idToggled, this, [this](int, bool on) {
    if (on) WayChanged();
  });
  ChooseWay(kModemWay);
}

TQuickSetupForm::Way TQuickSetupForm::ChosenWay() const { return static_cast<Way>(std::max(way_->checkedId(), 0)); }

void TQuickSetupForm::ChooseWay(Way way) {
  if (QAbstractButton* b = way_->button(way)) b->setChecked(true);
  WayChanged();
}

void TQuickSetupForm::WayChanged() {
  const Way way = ChosenWay();
  modemPart_->setEnabled(way == kModemWay);
  internetPart_->setEnabled(way == kInternetWay);
  const QSignalBlocker quiet(line_->UseCheck());
  line_->UseCheck()->setChecked(way == kInternetWay);
}

TQuickSetupForm::~TQuickSetupForm() = default;

void TQuickSetupForm::FindModemPortClick() {
  const int found = FindModem(this, *port_);
  if (found > 0 && found != PortIndex() + 1 &&
      Dialogs().Question(this, QStringLiteral("Com Port"), QStringLiteral("Set Com Port to Com %1").arg(found), true))
    SetPortIndex(found - 1);
}

int TQuickSetupForm::PortIndex() const { return comPort_->checkedId(); }

void TQuickSetupForm::SetPortIndex(int index) {
  if (QAbstractButton* button = comPort_->button(index)) button->setChecked(true);
}

void TQuickSetupForm::Preset(const TSettings& s) {
  if (s.ComPort >= 0) SetPortIndex(s.ComPort);
  // The Internet line's panel is filled first; the practice line wins over it, as at start.
  ChooseWay(s.PracticeLine ? kPracticeWay : line_->UseCheck()->isChecked() ? kInternetWay : kModemWay);
  name_->setText(QString::fromStdString(s.Name));
  faxNumber_->setText(QString::fromStdString(s.Fax));
  const QSignalBlocker quiet(sm56_);
  sm56_->setChecked(s.UseMotorolaSM56Fix);
}

void TQuickSetupForm::Store(TSettings& s) const {
  // With no port ticked the first-run choice (COM1) is what gets stored, so that the setup is not
  // due again at the next start.
  s.ComPort = PortIndex() >= 0 ? PortIndex() : std::max(s.ComPort, 0);
  s.Name = name_->text().toStdString();
  s.Fax = faxNumber_->text().toStdString();
  s.UseMotorolaSM56Fix = sm56_->isChecked();
  s.PracticeLine = ChosenWay() == kPracticeWay;
}

bool RunQuickSetup(QWidget* mainWindow, const std::string& iniFile) {
  TSettings& s = Settings();
  // Cancel changes nothing: not even the record that the reload below refreshes (at first run
  // it holds the port taken for the missing one, which the file does not have yet).
  const TSettings before = s;
  LoadSettings(s, iniFile);
  s.FirstRun = before.FirstRun;
  TQuickSetupForm form(mainWindow, QFileInfo(QString::fromStdString(iniFile)).absolutePath() + QLatin1Char('/'));
  form.InternetLine()->LoadFrom(iniFile);
  form.Preset(s);
  form.adjustSize();
  CenterOver(&form, mainWindow);
  if (Dialogs().Exec(&form) != QDialog::Accepted) {
    s = before;  // the SM56 switch, once ticked, stays on for this run all the same
    return false;
  }
  form.Store(s);
  // An unwritable settings file must not end the first run: the choices hold for this run.
  try {
    SaveSettings(s, iniFile);
    form.InternetLine()->SaveTo(iniFile, mainWindow);
  } catch (const std::exception& e) {
    Dialogs().Information(mainWindow, QString::fromStdString(e.what()));
  }
  return true;
}

}  // namespace qv::app
