#include "ui/fax_printer_status.h"

#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/fax_printer.h"

namespace qv::ui {

namespace {
QLabel* Value(QWidget* parent, const char* name, const QString& accessible) {
  auto* l = new QLabel(parent);
  l->setObjectName(QLatin1String(name));
  l->setAccessibleName(accessible);
  l->setMinimumWidth(160);
  return l;
}
}  // namespace

TQvFaxPrinterStatus::TQvFaxPrinterStatus(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("StandardFaxPrinterStatusDisplay"));
  setWindowTitle(QStringLiteral("Print Status"));
  setModal(false);
  auto* layout = new QVBoxLayout(this);

  auto* info = new QGroupBox(QStringLiteral("Fax Information"), this);
  info->setObjectName(QStringLiteral("FaxInformation"));
  auto* form = new QFormLayout(info);
  fileName_ = Value(info, "fpFileName", QStringLiteral("Filename"));
  totalPages_ = Value(info, "fpTotalPages", QStringLiteral("Total Pages"));
  resolution_ = Value(info, "fpResolution", QStringLiteral("Resolution"));
  width_ = Value(info, "fpWidth", QStringLiteral("Width"));
  firstPage_ = Value(info, "fpFirstPage", QStringLiteral("First Page to Print"));
  lastPage_ = Value(info, "fpLastPage", QStringLiteral("Last Page to Print"));
  form->addRow(QStringLiteral("Filename"), fileName_);
  form->addRow(QStringLiteral("Total Pages"), totalPages_);
  form->addRow(QStringLiteral("Resolution"), resolution_);
  form->addRow(QStringLiteral("Width"), width_);
  form->addRow(QStringLiteral("First Page to Print"), firstPage_);
  form->addRow(QStringLiteral("Last Page to Print"), lastPage_);
  layout->addWidget(info);

  auto* state = new QGroupBox(QStringLiteral("Status"), this);
  state->setObjectName(QStringLiteral("StatusGroup"));
  auto* sl = new QVBoxLayout(state);
  status_ = Value(state, "fpStatus", QStringLiteral("Status"));
  sl->addWidget(status_);
  layout->addWidget(state);

  abort_ = new QPushButton(QStringLiteral("Abort"), this);
  abort_->setObjectName(QStringLiteral("fpAbort"));
  abort_->setAccessibleName(QStringLiteral("Abort"));
  layout->addWidget(abort_, 0, Qt::AlignHCenter);
  connect(abort_, &QPushButton::clicked, this, [this] {
    if (printer_) printer_->PrintAbort();
  });
}

QString TQvFaxPrinterStatus::StatusLine() const {
  if (!printer_) return QString();
  return QStringLiteral("%1 %2 of %3")
      .arg(FaxPrintProgressText(printer_->Progress()))
      .arg(printer_->CurrentPrintPage())
      .arg(printer_->LastPageToPrint());
}

void TQvFaxPrinterStatus::Refresh() {
  if (!printer_) return;
  fileName_->setText(QFileInfo(printer_->FileName()).fileName().toUpper());
  fileName_->setToolTip(printer_->FileName());
  totalPages_->setText(QString::number(printer_->PageCount()));
  resolution_->setText(printer_->FaxResolution() ? QStringLiteral("high") : QStringLiteral("standard"));
  width_->setText(printer_->FaxWidthCode() ? QStringLiteral("2048") : QStringLiteral("1728"));
  firstPage_->setText(QString::number(printer_->FirstPageToPrint()));
  lastPage_->setText(QString::number(printer_->LastPageToPrint()));
  status_->setText(StatusLine());
}

}  // namespace qv::ui
