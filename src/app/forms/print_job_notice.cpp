#include "app/forms/print_job_notice.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/flows/print_jobs.h"

namespace qv::app {

QString TPrintJobNotice::TextFor(const TTakenJob& job, bool canSend) {
  QString to;
  if (!job.recipient.isEmpty()) to = QStringLiteral(" to ") + job.recipient;
  if (!job.phone.isEmpty()) to += QStringLiteral(" (%1)").arg(job.phone);
  QString text = QStringLiteral("A print job arrived: \"%1\", %2 %3%4.\n")
                     .arg(job.title.isEmpty() ? QStringLiteral("untitled") : job.title)
                     .arg(job.pages)
                     .arg(job.pages == 1 ? QStringLiteral("page") : QStringLiteral("pages"))
                     .arg(to);
  text += canSend ? QStringLiteral("It is now an outgoing fax. Check it and send it?")
                  : QStringLiteral("It is now an outgoing fax. Send it when receive mode has ended.");
  return text;
}

TPrintJobNotice::TPrintJobNotice(const TTakenJob& job, bool canSend, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("PrintJobNotice"));
  setWindowTitle(QStringLiteral("Fax Printer"));
  JobText_ = new QLabel(TextFor(job, canSend), this);
  JobText_->setObjectName(QStringLiteral("JobText"));
  JobText_->setAccessibleName(QStringLiteral("Print job"));
  JobText_->setWordWrap(true);
  JobText_->setMinimumWidth(fontMetrics().averageCharWidth() * 60);

  CheckButton_ = new QPushButton(QStringLiteral("&Check and Send"), this);
  CheckButton_->setObjectName(QStringLiteral("CheckButton"));
  CheckButton_->setAccessibleName(QStringLiteral("Check and Send"));
  CheckButton_->setToolTip(QStringLiteral("Open the fax in the editor, then send it"));
  CheckButton_->setEnabled(canSend);
  LaterButton_ = new QPushButton(canSend ? QStringLiteral("&Later") : QStringLiteral("OK"), this);
  LaterButton_->setObjectName(QStringLiteral("LaterButton"));
  LaterButton_->setAccessibleName(canSend ? QStringLiteral("Later") : QStringLiteral("OK"));
  LaterButton_->setToolTip(QStringLiteral("Keep the fax in the outgoing faxes"));
  (canSend ? CheckButton_ : LaterButton_)->setDefault(true);
  connect(CheckButton_, &QPushButton::clicked, this, &QDialog::accept);
  connect(LaterButton_, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(CheckButton_);
  buttons->addWidget(LaterButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(JobText_);
  layout->addLayout(buttons);
}

QString TPrintJobNotice::Text() const { return JobText_->text(); }

}  // namespace qv::app
