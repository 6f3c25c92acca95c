#include "ui/fax_status_window.h"

#include <QAccessible>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

#include "fax/abstract_fax.h"
#include "fax/receive_fax.h"
#include "fax/send_fax.h"
#include "ui/meter.h"

namespace qv::ui {

namespace {
constexpr int kMeterLeft = 99, kMeterTop = 7, kMeterWidth = 406, kMeterHeight = 20, kMeterStep = 10;
constexpr int kClockMs = 1000;

const char* const kPhoneCaption = "Phone number:";
const char* const kFaxFileCaption = "Fax file name:";
const char* const kCoverFileCaption = "Cover file name:";
const char* const kTotalPagesCaption = "Total pages:";
const char* const kDialAttemptCaption = "Dial attempt:";
const char* const kRemoteIdCaption = "Remote ID:";
const char* const kConnectBpsCaption = "Connect BPS:";
const char* const kResolutionCaption = "Resolution:";
const char* const kWidthCaption = "Width:";
const char* const kErrorControlCaption = "Error control:";
const char* const kCurrentPageCaption = "Current page:";
const char* const kPageLengthCaption = "Page length:";
const char* const kBytesCaption = "Bytes transferred:";
const char* const kElapsedCaption = "Elapsed time:";
const char* const kStatusCaption = "Status:";
const char* const kPageProgressCaption = "Page progress:";
const char* const kPageProgressNA = "Page progress: N/A";

void SetText(QLabel* label, const QString& text) {
  if (label->text() == text) return;
  label->setText(text);
  label->setAccessibleName(text);
}
}  // namespace

QString StatusFileName(const std::string& path) {
  QString name = QString::fromStdString(std::filesystem::path(path).filename().string());
  if (name.size() > kStatusFileNameMax) name = name.left(kStatusFileNameMax) + QStringLiteral("...");
  return name;
}

QString StatusTime(qint64 seconds) {
  if (seconds < 0) seconds = 0;
  return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0')).rightJustified(6);
}

TStandardFaxDisplay::TStandardFaxDisplay(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("StandardFaxDisplay"));
  setWindowTitle(QStringLiteral("Fax Status"));
  // No border icons: the session (or Cancel) ends it.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setModal(false);
  auto* layout = new QVBoxLayout(this);

  // The page progress row: label, then the meter at its fixed place.
  auto* progress = new QWidget(this);
  progress->setFixedHeight(kMeterTop + kMeterHeight + kMeterTop);
  pageProgress_ = new QLabel(QString::fromLatin1(kPageProgressCaption), progress);
  pageProgress_->setObjectName(QStringLiteral("PageProgressLabel"));
  pageProgress_->setAccessibleName(pageProgress_->text());
  pageProgress_->move(0, kMeterTop + 2);
  meter_ = new TQvMeter(progress);
  meter_->setObjectName(QStringLiteral("Meter"));
  meter_->setAccessibleName(QStringLiteral("Page progress"));
  meter_->setGeometry(kMeterLeft, kMeterTop, kMeterWidth, kMeterHeight);
  meter_->SetStep(kMeterStep);
  progress->setMinimumWidth(kMeterLeft + kMeterWidth);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(12);
  grid->setVerticalSpacing(2);
  layout->addLayout(grid);
  struct Field {
    const char* name;
    const char* caption;
  };
  const Field fields[] = {
      {"PhoneNumber", kPhoneCaption},     {"FaxFileName", kFaxFileCaption},
      {"CoverFileName", kCoverFileCaption}, {"TotalPages", kTotalPagesCaption},
      {"DialAttempt", kDialAttemptCaption}, {"RemoteID", kRemoteIdCaption},
      {"ConnectBPS", kConnectBpsCaption},   {"Resolution", kResolutionCaption},
      {"Width", kWidthCaption},             {"ErrorControl", kErrorControlCaption},
      {"CurrentPage", kCurrentPageCaption}, {"PageLength", kPageLengthCaption},
      {"BytesTransferred", kBytesCaption},  {"ElapsedTime", kElapsedCaption},
      {"Status", kStatusCaption}};
  int r = 0;
  for (const Field& f : fields) {
    QLabel* value = AddRow(f.name, QString::fromLatin1(f.caption));
    grid->addWidget(rows_.back().label, r, 0);
    grid->addWidget(value, r, 1);
    ++r;
  }
  // Which files are sent is of no interest to the user here.
  for (const char* hidden : {kFaxFileCaption, kCoverFileCaption}) {
    for (Row& row : rows_) {
      if (row.caption == QLatin1String(hidden)) {
        row.label->hide();
        row.value->hide();
      }
    }
  }
  layout->addWidget(progress);

  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_->setObjectName(QStringLiteral("CancelButton"));
  cancel_->setAccessibleName(QStringLiteral("Cancel"));
  connect(cancel_, &QPushButton::clicked, this, &TStandardFaxDisplay::CancelClicked);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cancel_);
  buttons->addStretch();
  layout->addLayout(buttons);
}

QLabel* TStandardFaxDisplay::AddRow(const char* name, const QString& caption) {
  auto* label = new QLabel(caption, this);
  label->setObjectName(QString::fromLatin1(name) + QStringLiteral("Label"));
  auto* value = new QLabel(this);
  value->setObjectName(QString::fromLatin1(name));
  value->setMinimumWidth(240);
  value->setTextInteractionFlags(Qt::TextSelectableByKeyboard);
  label->setBuddy(value);
  label->setAccessibleName(caption);
  value->setAccessibleDescription(caption);
  rows_.push_back({caption, label, value});
  return value;
}

QLabel* TStandardFaxDisplay::Value(const QString& caption) const {
  for (const Row& row : rows_)
    if (row.caption == caption) return row.value;
  return nullptr;
}

// ---------------------------------------------------------------------------------------------

TQvFaxStatus::TQvFaxStatus(QWidget* owner) : owner_(owner) {}

TQvFaxStatus::~TQvFaxStatus() {
  if (Fax) Fax->ComponentRemoved(this);
  DestroyDisplay();
}

void TQvFaxStatus::CreateDisplay() {
  if (display_) return;
  display_ = new TStandardFaxDisplay(owner_);
  display_->setWindowTitle(QString::fromStdString(Caption));
  QObject::connect(display_, &TStandardFaxDisplay::CancelClicked, display_, [this] {
    if (Fax) Fax->AbortFax();
  });
  clock_ = new QTimer(display_);
  clock_->setInterval(kClockMs);
  QObject::connect(clock_, &QTimer::timeout, display_, [this] { Refresh(); });
}

void TQvFaxStatus::DestroyDisplay() {
  delete display_;
  display_ = nullptr;
  clock_ = nullptr;
  Visible = false;
}

void TQvFaxStatus::UpdateDisplay(bool first, bool last) {
  if (!display_) CreateDisplay();
  if (last) {
    display_->hide();
    clock_->stop();
    Visible = false;
    return;
  }
  if (first) {
    elapsed_.invalidate();
    countdown_.invalidate();
    display_->adjustSize();
    // Centred on the screen, not over a form: it follows the call wherever the user is.
    if (QScreen* screen = owner_ ? owner_->screen() : QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      display_->move(area.center() - QPoint(display_->width() / 2, display_->height() / 2));
    }
    display_->show();
    clock_->start();
    Visible = true;
  }
  Refresh();
}

QString TQvFaxStatus::ElapsedText() const {
  return elapsed_.isValid() ? StatusTime(elapsed_.elapsed() / 1000) : QStringLiteral("00:00");
}

void TQvFaxStatus::Refresh() {
  if (!Fax) return;
  const int code = Fax->ProgressCode();
  // Elapsed time runs from the connection until the end of the call.
  if ((code == fax::fpSessionParams || code == fax::fpGotRemoteId) && !elapsed_.isValid()) elapsed_.start();
  if (code == fax::fpFinished || code == fax::fpCancel || code == fax::fpGotHangup) elapsed_.invalidate();
  auto* send = dynamic_cast<fax::TQvSendFax*>(Fax);
  // The redial countdown runs while the line is busy and the component waits to dial again.
  if (code == fax::fpBusyWait) {
    if (!countdown_.isValid()) {
      countdown_.start();
      countdownSeconds_ = send ? send->DialRetryWait : 0;
    }
  } else {
    countdown_.invalidate();
  }

  TStandardFaxDisplay& d = *display_;
  auto value = [&](const char* caption) { return d.Value(QString::fromLatin1(caption)); };
  if (send) {
    SetText(value(kPhoneCaption), QString::fromStdString(send->PhoneNumber));
    SetText(value(kFaxFileCaption), StatusFileName(send->FaxFile()));
    SetText(value(kCoverFileCaption), StatusFileName(send->CoverFile));
    SetText(value(kDialAttemptCaption), QString::number(send->DialAttempt()));
  } else {
    SetText(value(kPhoneCaption), QString());
    SetText(value(kFaxFileCaption), StatusFileName(Fax->FaxFile()));
    SetText(value(kCoverFileCaption), QString());
    SetText(value(kDialAttemptCaption), QStringLiteral("1"));
  }
  SetText(value(kTotalPagesCaption), QString::number(Fax->TotalPages()));
  SetText(value(kRemoteIdCaption), QString::fromStdString(Fax->RemoteID()));
  SetText(value(kConnectBpsCaption), QString::number(Fax->ConnectBPS()));
  SetText(value(kResolutionCaption), Fax->SessionFine() ? QStringLiteral("high") : QStringLiteral("standard"));
  SetText(value(kWidthCaption), Fax->SessionWide() ? QStringLiteral("2048") : QStringLiteral("1728"));
  // Error correction, the page coding and the frames sent again: what the call ran with.
  long resent = 0;
  if (send) resent = send->EcmFramesResent();
  if (auto* receive = dynamic_cast<fax::TQvReceiveFax*>(Fax)) resent = receive->EcmFramesResent();
  SetText(value(kErrorControlCaption),
          QString::fromStdString(fax::ErrorControlText(Fax->SessionECM(), Fax->SessionCoding(), resent)));
  const int page = send ? send->CurrentPageShown() : Fax->CurrentPage();
  SetText(value(kCurrentPageCaption), page == 0 ? QStringLiteral("<cover page>") : QString::number(page));
  const int length = Fax->PageLength();
  const long bytes = Fax->BytesTransferred();
  SetText(value(kPageLengthCaption), QString::number(length));
  SetText(value(kBytesCaption), QString::number(bytes));
  RefreshTimes();

  if (send) {
    d.meter_->show();
    SetText(d.pageProgress_, QString::fromLatin1(kPageProgressCaption));
    d.meter_->SetMin(0);
    d.meter_->SetMax(100);
    d.meter_->SetPosition(length > 0 ? int(std::min<long long>(100, (long long)bytes * 100 / length)) : 0);
  } else {
    d.meter_->hide();
    SetText(d.pageProgress_, QString::fromLatin1(kPageProgressNA));
  }
}

void TQvFaxStatus::RefreshTimes() {
  if (!display_ || !Fax) return;
  SetText(display_->Value(QString::fromLatin1(kElapsedCaption)), ElapsedText());
  const int code = Fax->ProgressCode();
  QString status = QString::fromStdString(fax::StatusText(code));
  if (code == fax::fpBusyWait && countdown_.isValid())
    status += StatusTime(countdownSeconds_ - countdown_.elapsed() / 1000);
  SetText(display_->Value(QString::fromLatin1(kStatusCaption)), status);
}

}  // namespace qv::ui
