#include "app/forms/arrival_notice.h"

#include <QApplication>
#include <QIcon>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QWidget>

namespace qv::app {

namespace {
constexpr int kNotificationMs = 10000;
const char* const kProgramName = "Quorvane";
}  // namespace

TArrivalNotice::TArrivalNotice(QWidget* window) : QObject(window), window_(window) {}

TArrivalNotice::~TArrivalNotice() = default;

QString TArrivalNotice::TitleFor(const QString& from) {
  const QString id = from.trimmed();
  return id.isEmpty() ? QStringLiteral("Fax received") : QStringLiteral("Fax received from ") + id;
}

QString TArrivalNotice::TextFor(const QString& from, int pages, const QString& printProblem) {
  const QString id = from.trimmed();
  const QString count = pages == 1 ? QStringLiteral("1 page") : QString::number(pages) + QStringLiteral(" pages");
  QString text = (id.isEmpty() ? QStringLiteral("A sender without identification") : id) + QStringLiteral(" sent ") +
                 count + QStringLiteral(".");
  if (!printProblem.trimmed().isEmpty()) {
    QString why = printProblem.trimmed();
    if (!why.endsWith(QLatin1Char('.'))) why += QLatin1Char('.');
    text += QStringLiteral(" It could not be printed: ") + why;
  }
  return text + QStringLiteral(" Click to view it.");
}

bool TArrivalNotice::TrayShown() const { return tray_ && tray_->isVisible(); }

QString TArrivalNotice::ToolTip() const {
  QString tip = QString::fromLatin1(kProgramName) + QStringLiteral(": receiving faxes");
  if (count_ > 0)
    tip += QStringLiteral(" - ") + QString::number(count_) +
           (count_ == 1 ? QStringLiteral(" fax received") : QStringLiteral(" faxes received"));
  return tip;
}

void TArrivalNotice::UpdateToolTip() {
  if (tray_) tray_->setToolTip(ToolTip());
}

void TArrivalNotice::SetReceiveMode(bool on) {
  if (on == receiveMode_) return;
  receiveMode_ = on;
  if (on) {
    count_ = 0;
    lastTitle_.clear();
    lastText_.clear();
    lastFile_.clear();
    // Desktops without a tray (or a session without a desktop) get none; that is no error.
    if (!tray_ && QSystemTrayIcon::isSystemTrayAvailable()) {
      QIcon icon = window_ ? window_->windowIcon() : QIcon();
      if (icon.isNull()) icon = QApplication::style()->standardIcon(QStyle::SP_DriveNetIcon);
      tray_ = new QSystemTrayIcon(icon, this);
      connect(tray_, &QSystemTrayIcon::messageClicked, this, [this] {
        if (!lastFile_.isEmpty()) emit openRequested(lastFile_);
      });
      connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) emit showRequested();
      });
    }
    UpdateToolTip();
    if (tray_) tray_->show();
  } else if (tray_) {
    tray_->hide();
  }
}

bool TArrivalNotice::FaxArrived(const QString& file, const QString& from, int pages, bool windowActive,
                                const QString& printProblem) {
  ++count_;
  UpdateToolTip();
  // The grid shows the fax to a user with the window in front, but not a print-out that failed.
  if (windowActive && printProblem.trimmed().isEmpty()) return false;
  lastTitle_ = TitleFor(from);
  lastText_ = TextFor(from, pages, printProblem);
  lastFile_ = file;
  if (!tray_ || !tray_->isVisible() || !QSystemTrayIcon::supportsMessages()) return false;
  tray_->showMessage(lastTitle_, lastText_,
                     printProblem.trimmed().isEmpty() ? QSystemTrayIcon::Information : QSystemTrayIcon::Warning,
                     kNotificationMs);
  return true;
}

}  // namespace qv::app
