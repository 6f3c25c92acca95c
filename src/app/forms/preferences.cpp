#include "app/forms/preferences.h"

#include "app/forms/check_fax_class_form.h"
#include "app/forms/dialog_service.h"
#include "app/forms/find_modem_form.h"
#include "app/forms/help_browser.h"
#include "app/forms/init_string_helper_form.h"
#include "app/forms/internet_line_panel.h"
#include "app/flows/modem_routines.h"
#include "app/forms/placement.h"
#include "app/store/settings.h"
#include "comm/com_port.h"
#include "comm/port_names.h"
#include "comm/serial_devices.h"
#include "core/ini_file.h"
#include "fax/send_fax.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPrinterInfo>
#include <QPushButton>
#include <QSoundEffect>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

namespace qv::app {

namespace {

constexpr int kRates[] = {2400, 4800, 7200, 9600, 12000, 14400};
constexpr int kDefaultRatePosition = 3;  // 9600
constexpr int kLastPage = kPreferencePages - 1;
const char* const kPageTexts[kPreferencePages] = {
    "Wizard Information",       "Modem and Communications Port", "Sending Faxes - Part 1",
    "Sending Faxes - Part 2",   "Sending Faxes - Part 3",        "Receiving Faxes - Part 1",
    "Receiving Faxes - Part 2", "Receiving Faxes - Part 3",      "Advanced"};
const char* const kPortsSection = "Ports";

std::string Std(const QString& s) { return s.toStdString(); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

void Select(QButtonGroup* group, int id) {
  if (QAbstractButton* b = group->button(id)) {
    b->setChecked(true);
  } else if (QAbstractButton* checked = group->checkedButton()) {
    // A stored value outside the choices shows no choice at all.
    group->setExclusive(false);
    checked->setChecked(false);
    group->setExclusive(true);
  }
}

int ToInteger(const QString& text) {
  bool ok = false;
  const int v = text.trimmed().toInt(&ok);
  if (!ok) throw EConvertError("'" + Std(text) + "' is not a valid integer value");
  return v;
}

}  // namespace

int RateToPosition(int bps) {
  for (int i = 0; i < 6; ++i)
    if (kRates[i] == bps) return i;
  return kDefaultRatePosition;
}

int PositionToRate(int position) {
  return position >= 0 && position < 6 ? kRates[position] : kRates[kDefaultRatePosition];
}

TPortDevices LoadPortDevices(const std::string& iniFile) {
  TPortDevices out;
  core::TIniFile ini(iniFile);
  for (int i = 0; i < kComPorts; ++i) {
    const int n = i + 1;
    out[i] = Q(ini.ReadString(kPortsSection, "COM" + std::to_string(n), comm::DefaultDevicePath(n)));
  }
  return out;
}

void SavePortDevices(const TPortDevices& devices, const std::string& iniFile) {
  core::TIniFile ini(iniFile);
  ini.BeginUpdate();
  for (int i = 0; i < kComPorts; ++i) {
    const int n = i + 1;
    const std::string key = "COM" + std::to_string(n);
    const std::string path = Std(devices[i].trimmed());
    // An empty field means the built-in default; a key is kept only when it says something.
    if (path.empty() || (path == comm::DefaultDevicePath(n) && !ini.ValueExists(kPortsSection, key)))
      ini.DeleteKey(kPortsSection, key);
    else
      ini.WriteString(kPortsSection, key, path);
  }
  ini.CommitUpdate();
}

TPreferences::TPreferences(const QString& dataDir, QWidget* parent)
    : QDialog(parent), dataDir_(dataDir), port_(std::make_unique<comm::TQvComPort>()),
      fax_(std::make_unique<fax::TQvSendFax>()) {
  setObjectName(QStringLiteral("Preferences"));
  setWindowTitle(QStringLiteral("Preferences Wizard"));
  ConfigureFormPort(*port_);

  PageLabel_ = new QLabel(this);
  PageLabel_->setObjectName(QStringLiteral("PageLabel"));
  QFont big = PageLabel_->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.2);
  PageLabel_->setFont(big);
  PageCombo_ = new QComboBox(this);
  PageCombo_->setObjectName(QStringLiteral("PageCombo"));
  PageCombo_->setAccessibleName(QStringLiteral("Page"));
  for (const char* t : kPageTexts) PageCombo_->addItem(QString::fromLatin1(t));
  auto* top = new QHBoxLayout;
  top->addWidget(PageLabel_, 1);
  top->addWidget(PageCombo_);

  NoteBook_ = new QStackedWidget(this);
  NoteBook_->setObjectName(QStringLiteral("NoteBook"));
  for (QWidget* page : {BuildIntroPage(), BuildModemPage(), BuildSendPage1(), BuildSendPage2(), BuildSendPage3(),
                        BuildReceivePage1(), BuildReceivePage2(), BuildReceivePage3(), BuildAdvancedPage()})
    NoteBook_->addWidget(page);

  auto button = [this](const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(QString::fromLatin1(name));
    QString plain = caption;
    b->setAccessibleName(plain.remove(QLatin1Char('&')));
    b->setAutoDefault(false);
    return b;
  };
  Helpbutton_ = button("Helpbutton", QStringLiteral("&Help"));
  Cancelbutton_ = button("Cancelbutton", QStringLiteral("Cance&l"));
  BackButton_ = button("BackButton", QStringLiteral("< Back"));
  Nextbutton_ = button("Nextbutton", QStringLiteral("Next >"));
  Finishbutton_ = button("Finishbutton", QStringLiteral("&Finish"));
  ProblemSolverButton_ = button("ProblemSolverButton", QStringLiteral("Technical Help"));
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(Helpbutton_);
  bottom->addWidget(ProblemSolverButton_);
  bottom->addStretch();
  bottom->addWidget(BackButton_);
  bottom->addWidget(Nextbutton_);
  bottom->addWidget(Finishbutton_);
  bottom->addWidget(Cancelbutton_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(NoteBook_, 1);
  layout->addLayout(bottom);
  setMinimumSize(600, 480);

  connect(Helpbutton_, &QPushButton::clicked, this, &TPreferences::HelpbuttonClick);
  connect(ProblemSolverButton_, &QPushButton::clicked, this, &TPreferences::ProblemSolverButtonClick);
  connect(Cancelbutton_, &QPushButton::clicked, this, &QDialog::reject);
  connect(BackButton_, &QPushButton::clicked, this, &TPreferences::BackButtonClick);
  connect(Nextbutton_, &QPushButton::clicked, this, &TPreferences::NextbuttonClick);
  connect(Finishbutton_, &QPushButton::clicked, this, &TPreferences::FinishbuttonClick);
  connect(PageCombo_, &QComboBox::activated, this, [this](int page) { SetCurrentPage(page); });
  connect(FindModemButton_, &QPushButton::clicked, this, &TPreferences::FindModemButtonClick);
  connect(CheckFaxClassButton_, &QPushButton::clicked, this, &TPreferences::CheckFaxClassButtonClick);
  connect(CheckRecFaxClassbutton_, &QPushButton::clicked, this, &TPreferences::CheckFaxClassButtonClick);
  connect(HelpWithInitbutton_, &QPushButton::clicked, this, &TPreferences::HelpWithInitbuttonClick);
  connect(HelpWithInitRECButton_, &QPushButton::clicked, this, &TPreferences::HelpWithInitRECButtonClick);
  connect(SelectWavButton_, &QPushButton::clicked, this, &TPreferences::SelectWavButtonClick);
  connect(PlayWAVbutton_, &QPushButton::clicked, this, &TPreferences::PlayWAVbuttonClick);
  connect(NoWAVButton_, &QPushButton::clicked, this, &TPreferences::NoWAVButtonClick);
  connect(RefreshDevicesButton_, &QPushButton::clicked, this, &TPreferences::RefreshDevicesClick);
  // The polled reading follows the box at once, finished or not.
  connect(chkSM56_, &QCheckBox::toggled, this, [](bool on) { SetPollingMode(on); });

  FillPrinters();
  RefreshDevicesClick();
  SetCurrentPage(0);
}

TPreferences::~TPreferences() {
  try {
    port_->SetOpen(false);
  } catch (...) {
  }
}

void TPreferences::FillPrinters() {
  PrintFaxOnReceiptPrinter_->clear();
  PrintFaxOnReceiptPrinter_->addItem(QString::fromLatin1(kDefaultPrinterEntry));
  PrintFaxOnReceiptPrinter_->addItems(QPrinterInfo::availablePrinterNames());
}

void TPreferences::RefreshDevicesClick() {
  QStringList names;
  for (const comm::SerialDevice& d : comm::ListSerialDevices()) {
    for (const std::string& stable : d.StableNames) names << Q(stable);
    names << Q(d.Path);
  }
  for (QComboBox* combo : PortDevice_) {
    const QString current = combo->currentText();
    combo->clear();
    combo->addItems(names);
    combo->setEditText(current);
  }
}

void TPreferences::SetFirstTime(bool firstTime) {
  firstTime_ = firstTime;
  FirstTimeLabel_->setVisible(firstTime_);
  UpdateButtons();
}

void TPreferences::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FirstTimeLabel_->setVisible(firstTime_);
  UpdateButtons();
}

int TPreferences::CurrentPage() const { return NoteBook_->currentIndex(); }

void TPreferences::SetCurrentPage(int page) {
  if (page < 0 || page > kLastPage) return;
  NoteBook_->setCurrentIndex(page);
  UpdateButtons();
}

QString TPreferences::PageText(int page) const { return QString::fromLatin1(kPageTexts[page]); }

int TPreferences::PageHelpTopic(int page) {
  if (page == 0) return kHelpWizardIntro;
  if (page == 1) return kHelpModemPage;
  if (page >= 2 && page <= 4) return kHelpSendingPages;
  if (page >= 5 && page <= 7) return kHelpReceivingPages;
  return 0;
}

void TPreferences::UpdateButtons() {
  const int page = CurrentPage();
  BackButton_->setEnabled(page > 0);
  Nextbutton_->setEnabled(page < kLastPage);
  Finishbutton_->setEnabled(!firstTime_ || page == kLastPage);
  PageCombo_->setCurrentIndex(page);
  PageLabel_->setText(PageText(page));
  PageLabel_->setAccessibleName(PageLabel_->text());
}

void TPreferences::BackButtonClick() { SetCurrentPage(CurrentPage() - 1); }
void TPreferences::NextbuttonClick() { SetCurrentPage(CurrentPage() + 1); }

QString TPreferences::ValidationError() const {
  for (QLineEdit* edit : {DialAttempts_, RetryWait_}) {
    try {
      ToInteger(edit->text());
    } catch (const EConvertError& e) {
      return QString::fromStdString(e.what());
    }
  }
  return QString();
}

void TPreferences::FinishbuttonClick() {
  // A number field that is no number stops here, with the wizard and every edit still there.
  const QString problem = ValidationError();
  if (!problem.isEmpty()) {
    Dialogs().Error(this, problem);
    SetCurrentPage(4);
    QLineEdit* bad = DialAttempts_;
    try {
      ToInteger(DialAttempts_->text());
      bad = RetryWait_;
    } catch (const EConvertError&) {
    }
    bad->setFocus();
    bad->selectAll();
    return;
  }
  if (Dialogs().Question(this, QStringLiteral("Save Preferences"), QStringLiteral("Save changes?"), true)) accept();
}

void TPreferences::HelpbuttonClick() {
  if (const int topic = PageHelpTopic(CurrentPage())) ShowHelpTopic(topic);
}

void TPreferences::ProblemSolverButtonClick() { ShowHelpTopic(kHelpTechnical); }

int TPreferences::PortPosition() const { return ComPort_->checkedId(); }

void TPreferences::AimPort(int comNumber) {
  // The device the modem page shows for the port, so that a device just typed in is tried.
  const QString device = comNumber >= 1 && comNumber <= kComPorts ? PortDevice_[comNumber - 1]->currentText().trimmed()
                                                                  : QString();
  port_->SetDeviceName(Std(device));
}

void TPreferences::FindModemButtonClick() {
  const int selected = PortPosition();
  int found = TFindModemForm::kNoModem;
  {
    TFindModemForm form(*port_, this);
    form.SetDeviceChooser([this](int n, comm::TQvComPort& probe) {
      AimPort(n);
      probe.SetDeviceName(port_->DeviceName());
    });
    form.adjustSize();
    CenterOver(&form, this);
    Dialogs().Exec(&form);
    found = form.Result();
  }
  port_->SetDeviceName("");
  port_->SetComNumber(selected + 1);
  if (found > 0 && found != selected + 1 &&
      Dialogs().Question(this, QStringLiteral("Com Port"), QStringLiteral("Set Com Port to Com %1").arg(found), true))
    Select(ComPort_, found - 1);
}

void TPreferences::CheckFaxClassButtonClick() {
  const int number = PortPosition() + 1;
  AimPort(number);
  const TFaxClassCheck check = CheckFaxClass(this, *port_, *fax_, number);
  port_->SetDeviceName("");
  if (check.Recommended >= 0 && check.Recommended + 1 != FaxClassReceive_->checkedId() &&
      Dialogs().Question(this, QStringLiteral("Fax Class"),
                         QStringLiteral("Set fax class as ") + check.Name + QStringLiteral(" ?"), true))
    Select(FaxClassReceive_, check.Recommended + 1);
}

void TPreferences::HelpWithInitbuttonClick() {
  QString result;
  ShowInitHelper(this, ModemInit_->text(), true, result);
  ModemInit_->setText(result);
}

void TPreferences::HelpWithInitRECButtonClick() {
  QString result;
  ShowInitHelper(this, ModemInitReceive_->text(), false, result);
  ModemInitReceive_->setText(result);
}

void TPreferences::SelectWavButtonClick() {
  const QString current = WaveFileEdit_->text();
  const QString start = QFileInfo(current).isFile() ? current : dataDir_;
  const QString chosen = Dialogs().OpenFileName(this, QStringLiteral("Choose a sound"), start,
                                                QStringLiteral("WAVE files (*.wav)"));
  if (chosen.toUpper().contains(QStringLiteral(".WAV"))) WaveFileEdit_->setText(chosen);
}

void TPreferences::PlayWAVbuttonClick() {
  const QString file = WaveFileEdit_->text();
  if (!QFileInfo(file).isFile()) return;
  if (!sound_) sound_ = new QSoundEffect(this);
  sound_->setSource(QUrl::fromLocalFile(file));
  sound_->play();  // does not wait
}

void TPreferences::NoWAVButtonClick() { WaveFileEdit_->clear(); }

void TPreferences::LoadControls(const TSettings& s, const TPortDevices& devices) {
  WaveFileEdit_->setText(Q(s.Wav));
  FaxNumber_->setText(Q(s.Fax));
  Name_->setText(Q(s.Name));
  DialPrefix_->setText(Q(s.DialPrefix));
  DialSuffix_->setText(Q(s.DialSuffix));
  ModemInit_->setText(Q(s.InitString));
  ModemInitReceive_->setText(Q(s.InitStringReceive));
  ResetString_->setText(Q(s.ResetString));
  ResetAfterString_->setText(Q(s.ResetAfterString));
  DialAttempts_->setText(QString::number(s.DialAttempts));
  RetryWait_->setText(QString::number(s.RetryWait));
  Select(ComPort_, s.ComPort);
  Select(FaxClass_, s.FaxClass);
  Select(FaxClassReceive_, s.FaxClassReceive);
  Select(ToneOrPulse_, s.ToneOrPulse);
  Select(AnswerOnRing_, s.AnswerOnRing - 1);
  TransferRate_->setCurrentIndex(RateToPosition(s.MaximumBPS));
  TransferRateReceive_->setCurrentIndex(RateToPosition(s.MaximumBPSReceive));
  ReceiveAtStartup_->setChecked(s.AtStartup);
  CheckBlindDial_->setChecked(s.BlindDial);
  CheckIgnoreBusy_->setChecked(s.IgnoreBusy);
  RenegotiateBetween_->setChecked(s.RenegotiateBetween);
  UseECMReceive_->setChecked(s.ECMReceive);
  UseECM_->setChecked(s.ECM);
  PrintFaxOnReceipt_->setChecked(s.PrintOnReceipt);
  const int printer = PrintFaxOnReceiptPrinter_->findText(Q(s.PrintOnReceiptPrinter));
  PrintFaxOnReceiptPrinter_->setCurrentIndex(printer > 0 ? printer : 0);
  DisableReceivingFaxesNotification_->setChecked(s.DisableReceivingFaxesNotification);
  ImposeWaitBeforePrinting_->setChecked(s.ImposeWaitBeforePrinting);
  {
    const QSignalBlocker quiet(chkSM56_);  // showing the setting is no change of it
    chkSM56_->setChecked(s.UseMotorolaSM56Fix);
  }
  chkPracticeLine_->setChecked(s.PracticeLine);
  UseAltHeaderFont_->setChecked(s.UseAlternateHeaderFont);
  UseAlternateNameReceive_->setChecked(s.GlobalUseAlternateNamingRec);
  for (int i = 0; i < kComPorts; ++i) PortDevice_[i]->setEditText(devices[i]);
  port_->SetComNumber(std::max(s.ComPort, 0) + 1);
}

TPortDevices TPreferences::PortDevices() const {
  TPortDevices out;
  for (int i = 0; i < kComPorts; ++i) out[i] = PortDevice_[i]->currentText().trimmed();
  return out;
}

void TPreferences::StoreControls(TSettings& s) const {
  // Both numbers are converted before anything is copied: a bad one leaves the record as it was.
  const int dialAttempts = ToInteger(DialAttempts_->text());
  const int retryWait = ToInteger(RetryWait_->text());
  s.Wav = Std(WaveFileEdit_->text());
  s.Fax = Std(FaxNumber_->text());
  s.Name = Std(Name_->text());
  s.DialPrefix = Std(DialPrefix_->text());
  s.DialSuffix = Std(DialSuffix_->text());
  s.InitString = Std(ModemInit_->text());
  s.DialAttempts = dialAttempts;
  s.RetryWait = retryWait;
  s.ComPort = ComPort_->checkedId();
  s.PracticeLine = chkPracticeLine_->isChecked();
  s.FaxClass = FaxClass_->checkedId();
  s.AtStartup = ReceiveAtStartup_->isChecked();
  s.AnswerOnRing = AnswerOnRing_->checkedId() + 1;
  s.BlindDial = CheckBlindDial_->isChecked();
  s.IgnoreBusy = CheckIgnoreBusy_->isChecked();
  s.ToneOrPulse = ToneOrPulse_->checkedId();
  s.MaximumBPS = PositionToRate(TransferRate_->currentIndex());
  s.ResetString = Std(ResetString_->text());
  s.ResetAfterString = Std(ResetAfterString_->text());
  s.RenegotiateBetween = RenegotiateBetween_->isChecked();
  s.ECMReceive = UseECMReceive_->isChecked();
  s.ECM = UseECM_->isChecked();
  s.InitStringReceive = Std(ModemInitReceive_->text());
  s.FaxClassReceive = FaxClassReceive_->checkedId();
  s.MaximumBPSReceive = PositionToRate(TransferRateReceive_->currentIndex());
  s.PrintOnReceipt = PrintFaxOnReceipt_->isChecked();
  s.PrintOnReceiptPrinter = Std(PrintFaxOnReceiptPrinter_->currentText());
  s.DisableReceivingFaxesNotification = DisableReceivingFaxesNotification_->isChecked();
  s.ImposeWaitBeforePrinting = ImposeWaitBeforePrinting_->isChecked();
  s.UseMotorolaSM56Fix = chkSM56_->isChecked();
  SetPollingMode(s.UseMotorolaSM56Fix);
  s.UseAlternateHeaderFont = UseAltHeaderFont_->isChecked();
  s.GlobalUseAlternateNamingRec = UseAlternateNameReceive_->isChecked();
}

bool ShowPreferences(QWidget* mainWindow, const std::string& iniFile) {
  TSettings& s = Settings();
  const QString dataDir = QFileInfo(Q(iniFile)).absolutePath() + QLatin1Char('/');
  TPreferences wizard(dataDir, mainWindow);
  wizard.SetFirstTime(s.FirstRun);
  s.FirstRun = false;
  TPortDevices devices;
  try {
    devices = LoadPortDevices(iniFile);
  } catch (...) {
    for (int i = 0; i < kComPorts; ++i) devices[i] = Q(comm::DefaultDevicePath(i + 1));
  }
  wizard.LoadControls(s, devices);
  wizard.InternetLine()->LoadFrom(iniFile);
  wizard.adjustSize();
  CenterOver(&wizard, mainWindow);
  if (Dialogs().Exec(&wizard) != QDialog::Accepted) return false;
  try {
    TSettings edited = s;
    wizard.StoreControls(edited);
    SaveSettings(edited, iniFile);
    s = edited;
    SavePortDevices(wizard.PortDevices(), iniFile);
    wizard.InternetLine()->SaveTo(iniFile, mainWindow);
  } catch (const std::exception& e) {
    // Nothing half-done: the record keeps its values when the file could not take the new ones.
    Dialogs().Error(mainWindow, QString::fromStdString(e.what()));
    return false;
  }
  return true;
}

}  // namespace qv::app
