// The nine pages of the preferences wizard: controls and their layout. The behaviour is in
// preferences.cpp.

#include "app/forms/preferences.h"

#include "app/flows/call_settings.h"
#include "app/flows/modem_routines.h"
#include "app/forms/app_texts.h"
#include "app/forms/internet_line_panel.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace qv::app {

namespace {

constexpr int kFaxNumberWidth = 20;
constexpr int kNameWidth = 35;
constexpr int kModemStringWidth = 40;
constexpr int kRings = 8;
const char* const kRates[] = {"2400", "4800", "7200", "9600", "12000", "14400"};

QString Plain(QString caption) {
  // The accessible name is what a person reads: no mnemonic markers.
  caption.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
  caption.remove(QLatin1Char('&'));
  caption.replace(QStringLiteral("\x01"), QStringLiteral("&"));
  return caption;
}

QLabel* Text(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  return label;
}

template <class W>
W* Named(W* w, const char* name, const QString& accessible) {
  w->setObjectName(QString::fromLatin1(name));
  w->setAccessibleName(Plain(accessible));
  return w;
}

QPushButton* Button(const char* name, const QString& caption, QWidget* parent) {
  return Named(new QPushButton(caption, parent), name, caption);
}

QCheckBox* Check(const char* name, const QString& caption, QWidget* parent) {
  return Named(new QCheckBox(caption, parent), name, caption);
}

// An edit with its label on the row; the label names it.
QLineEdit* Edit(QFormLayout* form, const char* name, const QString& label, QWidget* parent, int maxLength = 0) {
  auto* edit = Named(new QLineEdit(parent), name, label);
  if (maxLength > 0) edit->setMaxLength(maxLength);
  auto* l = new QLabel(label, parent);
  l->setBuddy(edit);
  form->addRow(l, edit);
  return edit;
}

QGroupBox* RadioGroup(const char* name, const QString& caption, const QStringList& items, int columns,
                      QButtonGroup*& group, QWidget* parent) {
  auto* box = Named(new QGroupBox(caption, parent), name, caption);
  group = new QButtonGroup(box);
  auto* grid = new QGridLayout(box);
  for (int i = 0; i < items.size(); ++i) {
    auto* radio = new QRadioButton(items[i], box);
    radio->setObjectName(QString::fromLatin1(name) + QString::number(i));
    radio->setAccessibleName(Plain(items[i]));
    group->addButton(radio, i);
    grid->addWidget(radio, i / columns, i % columns);
  }
  return box;
}

QComboBox* RateList(const char* name, const QString& label, QWidget* parent) {
  auto* combo = Named(new QComboBox(parent), name, label);
  for (const char* r : kRates) combo->addItem(QString::fromLatin1(r));
  return combo;
}

QStringList ClassItems() {
  QStringList out;
  for (int code = 0; code < kFaxClassSettings; ++code) out << QString::fromStdString(FaxClassName(code));
  return out;
}

// A page; the wizard's PageLabel carries its title.
QWidget* Page(QVBoxLayout*& layout, const QString& title) {
  auto* page = new QWidget;
  page->setAccessibleName(title);
  layout = new QVBoxLayout(page);
  return page;
}

}  // namespace

QWidget* TPreferences::BuildIntroPage() {
  QVBoxLayout* l;
  QWidget* page = Page(l, QStringLiteral("Wizard Information"));
  l->addWidget(Text(QStringLiteral("This wizard takes you through the settings of Quorvane: the modem and its "
                                   "port, how faxes are sent and how they are received."),
                    page));
  l->addWidget(Text(QStringLiteral("Use Next and Back to move from page to page, or choose a page from the list "
                                   "above. Finish saves the settings; Cancel leaves them as they were."),
                    page));
  FirstTimeLabel_ = Named(Text(QStringLiteral("While the default settings will work for most people, be sure to "
                                              "verify that the COMMUNICATIONS PORT and FAX CLASS settings are "
                                              "correct before continuing to use the program."),
                               page),
                          "FirstTimeLabel",
                          QStringLiteral("While the default settings will work for most people, be sure to verify "
                                         "that the COMMUNICATIONS PORT and FAX CLASS settings are correct before "
                                         "continuing to use the program."));
  QFont bold = FirstTimeLabel_->font();
  bold.setBold(true);
  FirstTimeLabel_->setFont(bold);
  l->addWidget(FirstTimeLabel_);
  l->addStretch();
  return page;
}

QWidget* TPreferences::BuildModemPage() {
  QVBoxLayout* l;
  QWidget* page = Page(l, QStringLiteral("Modem and Communications Port"));
  QStringList ports;
  for (int i = 1; i <= kComPorts; ++i) ports << QStringLiteral("Com%1").arg(i);
  ComPortBox_ = RadioGroup("ComPort", QStringLiteral("Communications Port"), ports, 3, ComPort_, page);
  FindModemButton_ = Button("FindModemButton", QStringLiteral("Find Modem Port"), page);
  ToneOrPulseBox_ = RadioGroup("ToneOrPulse", QStringLiteral("Dialing"), {QStringLiteral("Tone"), QStringLiteral("Pulse")},
                               2, ToneOrPulse_, page);
  auto* top = new QHBoxLayout;
  top->addWidget(ComPortBox_, 1);
  auto* side = new QVBoxLayout;
  side->addWidget(FindModemButton_);
  side->addStretch();
  top->addLayout(side);
  top->addWidget(ToneOrPulseBox_);
  l->addLayout(top);

  // Where each COM number leads on this machine.
  auto* devices = Named(new QGroupBox(QStringLiteral("Serial device of each port"), page), "PortDevices",
                        QStringLiteral("Serial device of each port"));
  auto* grid = new QGridLayout(devices);
  for (int i = 0; i < kComPorts; ++i) {
    auto* combo = new QComboBox(devices);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setObjectName(QStringLiteral("PortDevice%1").arg(i + 1));
    combo->setAccessibleName(QStringLiteral("Device of Com%1").arg(i + 1));
    combo->setMinimumContentsLength(28);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    PortDevice_[i] = combo;
    auto* label = new QLabel(QStringLiteral("Com%1:").arg(i + 1), devices);
    label->setBuddy(combo);
    grid->addWidget(label, i / 2, (i % 2) * 2);
    grid->addWidget(combo, i / 2, (i % 2) * 2 + 1);
  }
  RefreshDevicesButton_ = Button("RefreshDevicesButton", QStringLiteral("Look for devices again"), devices);
  grid->addWidget(RefreshDevicesButton_, 3, 0, 1, 4, Qt::AlignLeft);
  l->addWidget(devices);

  auto* form = new QFormLayout;
  ResetString_ = Edit(form, "ResetString", QStringLiteral("Reset string sent before faxing:"), page, kModemStringWidth);
  ResetAfterString_ = Edit(form, "ResetAfterString", QStringLiteral("Reset string sent after faxing:"), page,
                           kModemStringWidth);
  l->addLayout(form);
  chkSM56_ = Check("chkSM56", QStringLiteral("My modem is a Motorola SM56"), page);
  l->addWidget(chkSM56_);
  // No modem at all: a SIP account is the line.
  InternetLine_ = new TInternetLinePanel(dataDir_, page);
  l->addWidget(InternetLine_);
  // Neither: the practice line. Choosing a port or the Internet line leaves it.
  chkPracticeLine_ = Check("chkPracticeLine", QString::fromLatin1(kPracticeLineChoiceText), page);
  l->addWidget(chkPracticeLine_);
  connect(chkPracticeLine_, &QCheckBox::toggled, this, [this](bool on) {
    if (on) InternetLine_->UseCheck()->setChecked(false);
  });
  connect(InternetLine_->UseCheck(), &QCheckBox::toggled, this, [this](bool on) {
    if (on) chkPracticeLine_->setChecked(false);
  });
  connect(ComPort_, &QButtonGroup::idClicked, this, [this] { chkPracticeLine_->setChecked(false); });
  l->addStretch();
  return page;
}

QWidget* TPreferences::BuildSendPage1() {
  QVBoxLayout* l;
  QWidget* page = Page(l, QStringLiteral("Sending Faxes - Part 1"));
  FaxClassBox_ = RadioGroup("FaxClass", QStringLiteral("Fax &class for SENDING Faxes"), ClassItems(), 2, FaxClass_, page);
  CheckFaxClassButton_ = Button("CheckFaxClassButton", QStringLiteral("Check Fax Class"), page);
  auto* row = new QHBoxLayout;
  row->addWidget(FaxClassBox_, 1);
  row->addWidget(CheckFaxClassButton_, 0, Qt::AlignTop);
  l->addLayout(row);
  auto* form = new QFormLayout;
  TransferRate_ = RateList("TransferRate", QStringLiteral("Maximum transfer rate (bps):"), page);
  auto* rateLabel = new QLabel(QStringLiteral("Maximum transfer rate (bps):"), page);
  rateLabel->setBuddy(TransferRate_);
  form->addRow(rateLabel, TransferRate_);
  ModemInit_ = Edit(form, "ModemInit", QStringLiteral("Modem initialization string:"), page, kModemStringWidth);
  l->addLayout(form);
  HelpWithInitbutton_ = Button("HelpWithInitbutton", QStringLiteral("Help with Init Strings"), page);
  l->addWidget(HelpWithInitbutton_, 0, Qt::AlignLeft);
  l->addStretch();
  return page;
}

QWidget* TPreferences::BuildSendPage2() {
  QVBoxLayout* l;
  QWidget* page = Page(l, QStringLiteral("Sending Faxes - Part 2"));
  auto* form = new QFormLayout;
  FaxNumber_ = Edit(form, "FaxNumber", QStringLiteral("Your fax number:"), page, kFaxNumberWidth);
  Name_ = Edit(form, "Name", QStringLiteral("Your name (for the fax header):"), page, kNameWidth);
  DialPrefix_ = Edit(form, "DialPrefix", QStringLiteral("Dial prefix:"), page);
  DialSuffix_ = Edit(form, "DialSuffix", QStringLiteral("Dial suffix:"), page);
  l->addLayout(form);
  UseECM_ = Check("UseECM", QStringLiteral("Use error correction (ECM) when sending"), page);
  l->addWidget(UseECM_);
  l->addStretch();
  return page;
}

QWidget* TPreferences::BuildSendPage3() {
  QVBoxLayout* l;
  QWidget* page = Page(l, QStringLiteral("Sending Faxes - Part 3"));
  auto* form = new QFormLayout;
  DialAttempts_ = Edit(form, "DialAttempts", QStringLiteral("Dial attempts:"), page);
  RetryWait_ = Edit(form, "RetryWait", QStringLiteral("Seconds between dial attempts:"), page);
  l->addLayout(form);
  CheckBlindDial_ = Check("CheckBlindDial", QStringLiteral("Dial without waiting for a dial tone (blind dial)"), page);
  CheckIgnoreBusy_ = Check("CheckIgnoreBusy", QStringLiteral("Ignore busy signals"), page);
  RenegotiateBetween_ = Check("RenegotiateBetween", QStringLiteral("Renegotiate between pages"), page);
  l->addWidget(CheckBlindDial_);
  l->addWidget(CheckIgnoreBusy_);
  l->addWidget(RenegotiateBetween_);
  l->addStretch();
  return page;
}

QWidget* TPreferences::BuildReceivePage1() {
  QVBoxLayout* l;
  QWidget* page = Page(l, QStringLiteral("Receiving Faxes - Part 1"));
  FaxClassReceiveBox_ = RadioGroup("FaxClassReceive", QStringLiteral("Fax class for RECEIVING Faxes"), ClassItems(), 2,
                                   FaxClassReceive_, page);
  CheckRecFaxClassbutton_ = Button("CheckRecFaxClassbutton", QStringLiteral("Check Fax Class"), page);
  auto* sameClass = Button("SameClassButton", QStringLiteral("Same as SEND"), page);
  auto* row = new QHBoxLayout;
  row->addWidget(FaxClassReceiveBox_, 1);
  auto* side = new QVBoxLayout;
  side->addWidget(CheckRecFaxClassbutton_);
  side->addWidget(sameClass);
  side->addStretch();
  row->addLayout(side);
  l->addLayout(row);
  auto* grid = new QGridLayout;
  TransferRateReceive_ = RateList("TransferRateReceive", QStringLiteral("Maximum transfer rate (bps):"), page);
  auto* rateLabel = new QLabel(QStringLiteral("Maximum transfer rate (bps):"), page);
  rateLabel->setBuddy(TransferRateReceive_);
  auto* sameRate = Button("SameRateButton", QStringLiteral("Same as SEND"), page);
  ModemInitReceive_ = Named(new QLineEdit(page), "ModemInitReceive", QStringLiteral("Modem initialization string:"));
  ModemInitReceive_->setMaxLength(kModemStringWidth);
  auto* initLabel = new QLabel(QStringLiteral("Modem initialization string:"), page);
  initLabel->setBuddy(ModemInitReceive_);
  auto* sameInit = Button("SameInitButton", QStringLiteral("Same as SEND"), page);
  grid->addWidget(rateLabel, 0, 0);
  grid->addWidget(TransferRateReceive_, 0, 1);
  grid->addWidget(sameRate, 0, 2);
  grid->addWidget(initLabel, 1, 0);
  grid->addWidget(ModemInitReceive_, 1, 1);
  grid->addWidget(sameInit, 1, 2);
  l->addLayout(grid);
  HelpWithInitRECButton_ = Button("HelpWithInitRECButton", QStringLiteral("Help With Init Strings"), page);
  l->addWidget(HelpWithInitRECButton_, 0, Qt::AlignLeft);
  l->addStretch();
  connect(sameClass, &QPushButton::clicked, this, [this] {
    if (QAbstractButton* b = FaxClassReceive_->button(FaxClass_->checkedId())) b->setChecked(true);
  });
  connect(sameRate, &QPushButton::clicked, this,
          [this] { TransferRateReceive_->setCurrentIndex(TransferRate_->currentIndex()); });
  connect(sameInit, &QPushButton::clicked, this, [this] { ModemInitReceive_->setText(ModemInit_->text()); });
  return page;
}

QWidget* TPreferences::BuildReceivePage2() {
  QVBoxLayout* l;
  QWidget* page = Page(l, QStringLiteral("Receiving Faxes - Part 2"));
  QStringList rings;
  for (int i = 1; i <= kRings; ++i) rings << QString::number(i);
  AnswerOnRingBox_ = RadioGroup("AnswerOnRing", QStringLiteral("Answer on ring"), rings, 4, AnswerOnRing_, page);
  l->addWidget(AnswerOnRingBox_);
  ReceiveAtStartup_ = Check("ReceiveAtStartup", QStringLiteral("Start receiving faxes when the program starts"), page);
  UseECMReceive_ = Check("UseECMReceive", QStringLiteral("Use error correction (ECM) when receiving"), page);
  l->addWidget(ReceiveAtStartup_);
  l->addWidget(UseECMReceive_);
  l->addStretch();
  return page;
}

QWidget* TPreferences::BuildReceivePage3() {
  QVBoxLayout* l;
  QWidget* page = Page(l, QStringLiteral("Receiving Faxes - Part 3"));
  auto* soundLabel = new QLabel(QStringLiteral("Sound played when a fax arrives:"), page);
  WaveFileEdit_ = Named(new QLineEdit(page), "WaveFileEdit", QStringLiteral("Sound played when a fax arrives:"));
  soundLabel->setBuddy(WaveFileEdit_);
  SelectWavButton_ = Button("SelectWavButton", QStringLiteral("&Choose"), page);
  PlayWAVbutton_ = Button("PlayWAVbutton", QStringLiteral("Play &Now"), page);
  NoWAVButton_ = Button("NoWAVButton", QStringLiteral("None"), page);
  l->addWidget(soundLabel);
  auto* row = new QHBoxLayout;
  row->addWidget(WaveFileEdit_, 1);
  row->addWidget(SelectWavButton_);
  row->addWidget(PlayWAVbutton_);
  row->addWidget(NoWAVButton_);
  l->addLayout(row);
  PrintFaxOnReceipt_ = Check("PrintFaxOnReceipt", QStringLiteral("Print each fax when it arrives, on:"), page);
  PrintFaxOnReceiptPrinter_ = Named(new QComboBox(page), "PrintFaxOnReceiptPrinter", QStringLiteral("Printer"));
  l->addWidget(PrintFaxOnReceipt_);
  l->addWidget(PrintFaxOnReceiptPrinter_);
  DisableReceivingFaxesNotification_ = Check("DisableReceivingFaxesNotification",
                                             QStringLiteral("Do not show the notice when receive mode starts"), page);
  l->addWidget(DisableReceivingFaxesNotification_);
  l->addStretch();
  return page;
}

QWidget* TPreferences::BuildAdvancedPage() {
  QVBoxLayout* l;
  QWidget* page = Page(l, QStringLiteral("Advanced"));
  auto* warning = Text(QStringLiteral("Change these settings only when the troubleshooting section of the help "
                                      "tells you to: they work around problems of particular hardware."),
                       page);
  warning->setObjectName(QStringLiteral("WarningLabel"));
  warning->setAccessibleName(warning->text());
  l->addWidget(warning);
  ImposeWaitBeforePrinting_ = Check("ImposeWaitBeforePrinting", QStringLiteral("RAGE MOBILITY Printing/Viewing Problems"), page);
  UseAltHeaderFont_ = Check("UseAltHeaderFont", QStringLiteral("Use the alternate font for the fax page header"), page);
  UseAlternateNameReceive_ = Check("UseAlternateNameReceive", QStringLiteral("Use alternate naming method for incoming faxes"), page);
  l->addWidget(ImposeWaitBeforePrinting_);
  l->addWidget(UseAltHeaderFont_);
  l->addWidget(UseAlternateNameReceive_);
  l->addStretch();
  return page;
}

}  // namespace qv::app
