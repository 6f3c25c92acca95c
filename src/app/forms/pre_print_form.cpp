#include "app/forms/pre_print_form.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

#include "app/forms/dialog_service.h"
#include "app/forms/placement.h"
#include "app/store/settings.h"
#include "ui/fax_printer.h"

namespace qv::app {

namespace {

constexpr int kMaxPage = 1000;
constexpr const char* kFooterCaption = "Page: $P of $N";

QSpinBox* PageSpin(QWidget* parent, const char* name, const QString& label, const QString& hint) {
  auto* s = new QSpinBox(parent);
  s->setObjectName(QLatin1String(name));
  s->setRange(1, kMaxPage);
  s->setValue(1);
  s->setToolTip(hint);
  s->setAccessibleName(label);
  s->setAccessibleDescription(hint);
  return s;
}

QCheckBox* Check(QWidget* parent, const char* name, const QString& caption, const QString& hint) {
  auto* c = new QCheckBox(caption, parent);
  c->setObjectName(QLatin1String(name));
  c->setToolTip(DisplayText(hint));
  c->setAccessibleName(caption);
  return c;
}

}  // namespace

TPrePrintForm::TPrePrintForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("PrePrintForm"));
  setWindowTitle(QStringLiteral("Print"));
  // A dialog frame without the title-bar buttons.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  FromPage_ = PageSpin(this, "FromPage", QStringLiteral("From Page:"), QStringLiteral("Starting page to print from"));
  ToPage_ = PageSpin(this, "ToPage", QStringLiteral("To Page:"), QStringLiteral("Ending page to print from"));
  auto* fromLabel = new QLabel(QStringLiteral("From Page:"), this);
  fromLabel->setBuddy(FromPage_);
  auto* toLabel = new QLabel(QStringLiteral("To Page:"), this);
  toLabel->setBuddy(ToPage_);
  grid->addWidget(fromLabel, 0, 0);
  grid->addWidget(FromPage_, 0, 1);
  grid->addWidget(toLabel, 0, 2);
  grid->addWidget(ToPage_, 0, 3);
  layout->addLayout(grid);
  PrintMultiPage_ = Check(this, "PrintMultiPage", QStringLiteral("Print 4 faxes to a page"),
                          QStringLiteral("Print four fax pages per printed page (two\rfax pages per printed page if landscape)"));
  StretchToFit_ = Check(this, "StretchToFit", QStringLiteral("Stretch/shrink faxes to fit on page"),
                        QStringLiteral("Stretch or shrink each page so that it fits on a full sheet of printed paper"));
  PrintHeader_ = Check(this, "PrintHeader", QStringLiteral("Print Header"),
                       QStringLiteral("Print a header giving identifying info about the fax"));
  PrintFooter_ = Check(this, "PrintFooter", QStringLiteral("Print Footer"),
                       QStringLiteral("Prints page numbers in the footer"));
  for (QCheckBox* c : {PrintMultiPage_, StretchToFit_, PrintHeader_, PrintFooter_}) layout->addWidget(c);
  auto* buttons = new QDialogButtonBox(this);
  OkButton_ = buttons->addButton(QStringLiteral("Ok"), QDialogButtonBox::AcceptRole);
  OkButton_->setObjectName(QStringLiteral("OkButton"));
  OkButton_->setDefault(true);
  CancelButton_ = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  CancelButton_->setObjectName(QStringLiteral("CancelButton"));
  connect(OkButton_, &QPushButton::clicked, this, &TPrePrintForm::OkButtonClick);
  connect(CancelButton_, &QPushButton::clicked, this, &QDialog::reject);
  layout->addWidget(buttons);
}

void TPrePrintForm::OkButtonClick() {
  if (!ToPage_->isEnabled() || ToPage_->value() >= FromPage_->value()) {
    accept();
    return;
  }
  Dialogs().Beep();
}

bool RunPrintFlow(QWidget* parent, qv::ui::TQvFaxPrinter& printer, const QString& faxFile,
                  const QString& headerText, int currentPage, bool& rangeSet,
                  const std::string& iniFile) {
  if (faxFile.trimmed().isEmpty()) return false;
  TSettings& s = Settings();
  LoadPrintOptions(s, iniFile);
  printer.SetFileName(faxFile);
  const int pages = printer.PageCount();
  if (!rangeSet) {
    printer.SetFirstPageToPrint(1);
    printer.SetLastPageToPrint(pages);
  }
  rangeSet = true;

  TPrePrintForm form(parent);
  const bool single = currentPage > 0;
  if (single) {
    form.FromPage()->setValue(currentPage);
    form.ToPage()->setValue(currentPage);
    form.FromPage()->setEnabled(false);
    form.ToPage()->setEnabled(false);
    form.PrintMultiPage()->setEnabled(false);
  } else {
    form.FromPage()->setMaximum(std::max(pages, 1));
    form.ToPage()->setMaximum(std::max(pages, 1));
    form.FromPage()->setValue(std::max(printer.FirstPageToPrint(), 1));
    form.ToPage()->setValue(std::max(printer.LastPageToPrint(), 1));
  }
  form.PrintHeader()->setEnabled(true);
  form.PrintFooter()->setEnabled(true);
  form.PrintMultiPage()->setChecked(s.PrintMultiPage);
  form.StretchToFit()->setChecked(s.PrintStretch);
  form.PrintHeader()->setChecked(s.PrintHeader);
  form.PrintFooter()->setChecked(s.PrintFooter);
  form.adjustSize();
  CenterOver(&form, parent ? parent->window() : nullptr);
  const bool ok = Dialogs().Exec(&form) == QDialog::Accepted;

  int from = single ? currentPage : form.FromPage()->value();
  int to = single ? currentPage : form.ToPage()->value();
  if (!single) s.PrintMultiPage = form.PrintMultiPage()->isChecked();
  s.PrintHeader = form.PrintHeader()->isChecked();
  s.PrintFooter = form.PrintFooter()->isChecked();
  s.PrintStretch = form.StretchToFit()->isChecked();
  try {
    SavePrintOptions(s, iniFile);
  } catch (const std::exception&) {
    // The options are a convenience; printing goes on without storing them.
  }
  if (!ok) return false;

  printer.SetFirstPageToPrint(from);
  printer.SetLastPageToPrint(to);
  printer.SetPrintScale(s.PrintStretch ? qv::ui::psFitToPage : qv::ui::psNone);
  printer.SetMultiPage(single ? false : s.PrintMultiPage);
  printer.FaxHeader().Enabled = s.PrintHeader;
  printer.FaxFooter().Enabled = s.PrintFooter;
  printer.FaxFooter().Caption = s.PrintFooter ? QString::fromLatin1(kFooterCaption) : QString();
  printer.FaxHeader().Caption = s.PrintHeader ? headerText : QString();
  printer.SetImposeWait(s.ImposeWaitBeforePrinting);
  bool printed = true;
  try {
    printer.PrintFax();
  } catch (const std::exception& e) {
    // The user learns why nothing came out of the printer.
    Dialogs().Information(parent, QString::fromLocal8Bit(e.what()));
    printed = false;
  }
  if (single) {
    printer.SetFirstPageToPrint(1);
    printer.SetLastPageToPrint(pages);
  }
  return printed;
}

}  // namespace qv::app
