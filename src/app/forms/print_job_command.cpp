// The main window's part of the fax printer: the print-jobs flow watches the user's spool folder
// from the first activation on; every job it made into an outgoing fax is told in a short notice,
// and "Check and Send" takes the fax through the phone book (when the job named no number), the
// fax editor and the Send Fax dialog.

#include "app/forms/main_screen.h"

#include "app/contacts/phone_book.h"
#include "app/editor/enter_edit.h"
#include "app/flows/print_jobs.h"
#include "app/forms/dialog_service.h"
#include "app/forms/placement.h"
#include "app/forms/print_job_notice.h"
#include "app/store/fax_store.h"
#include "app/store/table_pair.h"
#include "printer/spool_writer.h"

#include <QApplication>

namespace qv::app {

void TMainScreen::StartPrintJobs() {
  if (printJobs_ || !tablesOpen_) return;
  const std::string folder = printer::OwnSpoolFolder(printer::SpoolRoot());
  if (folder.empty()) return;
  printJobs_ = std::make_unique<TPrintJobs>(*store_, QString::fromStdString(folder));
  // A job waits while a form works on the tables or another job is being checked.
  printJobs_->SetReady([this] { return tablesOpen_ && !printJobOpen_ && !QApplication::activeModalWidget(); });
  connect(printJobs_.get(), &TPrintJobs::JobTaken, this, &TMainScreen::PrintJobTaken);
  connect(printJobs_.get(), &TPrintJobs::JobRefused, this, &TMainScreen::PrintJobRefused);
  printJobs_->Start();
}

void TMainScreen::PrintJobTaken(const TTakenJob& job) {
  printJobOpen_ = true;
  TablePair& fax = store_->Pair(TableId::Fax);
  SetCurrentPage(kOutgoingPage);
  fax.Go(job.recNo);
  RefreshGrids();
  SetButtons();
  TPrintJobNotice notice(job, !receiveMode_, this);
  notice.adjustSize();
  CenterOver(&notice, this);
  if (Dialogs().Exec(&notice) == QDialog::Accepted && !receiveMode_) {
    if (job.phone.isEmpty()) {
      QString name, number;
      if (RunPhoneBook(*store_, this, true, &name, &number)) {
        fax.Go(job.recNo);
        std::string why;
        if (!store_->StoreRecord(TableId::Fax, fax, false,
                                 {{"RECIPIENT", name.toStdString()}, {"PHONE", number.toStdString()}}, {}, &why))
          Dialogs().Error(this, QStringLiteral("The fax could not be stored: ") + QString::fromStdString(why));
      }
    }
    fax.Go(job.recNo);
    RefreshGrids();
    if (EditOutgoing()) {
      fax.Go(job.recNo);
      RefreshGrids();
      SendButtonClick();
    }
  }
  SetButtons();
  printJobOpen_ = false;
}

void TMainScreen::PrintJobRefused(const QString& folder, const QString& why) {
  Dialogs().Information(this,
                        QStringLiteral("A print job cannot be made into a fax: ") + why +
                            QStringLiteral("\rIt stays in ") + folder + QStringLiteral("."),
                        QStringLiteral("Fax Printer"));
}

}  // namespace qv::app
