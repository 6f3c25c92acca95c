// The Send command of the main window: render the current outgoing fax, let the Send Fax dialog
// dial it, and write what happened into the record.

#include "app/main_screen.h"

#include "app/app_texts.h"
#include "app/dialog_service.h"
#include "app/fax_store.h"
#include "app/page_count_field.h"
#include "app/placement.h"
#include "app/send_fax_form.h"
#include "app/settings.h"
#include "app/table_pair.h"

#include <QApplication>
#include <QDate>
#include <QFile>
#include <QTime>

#include <exception>

namespace qv::app {

namespace {
inline constexpr const char* kErrorCreatingText = "Error creating fax file";
}

void TMainScreen::SendButtonClick() {
  if (receiveMode_) {
    Dialogs().Information(this, QString::fromLatin1(kSendGuardText));
    return;
  }
  if (CurrentPage() == kIncomingPage) {
    Dialogs().Information(this, QString::fromLatin1(kSwitchToOutgoingText));
    return;
  }
  if (!store_->HasRecord(TableId::Fax)) {
    Dialogs().Beep();
    return;
  }
  TablePair& fax = store_->Pair(TableId::Fax);
  const int recNo = fax.RecNo();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  SetStatus(QString::fromLatin1(kPreparingViewText));
  const QString file = CreateFaxFile();
  if (file.isEmpty()) {
    QApplication::restoreOverrideCursor();
    SetStatus(QString());
    Dialogs().Information(this, QString::fromLatin1(kErrorCreatingText));
    SetButtons();
    return;
  }

  QString result, number;
  {
    TSendFaxForm form(dataDir_, this);
    form.SetFaxFile(file);
    form.SetRecipient(QString::fromStdString(fax.FieldString("RECIPIENT")).trimmed());
    form.SetSubject(QString::fromStdString(fax.FieldString("SUBJECT")).trimmed());
    form.SetPhoneNumber(QString::fromStdString(fax.FieldString("PHONE")).trimmed());
    form.SetPortNumber(Settings().ComPort + 1);
    form.LoadDialing();
    form.adjustSize();
    CenterOver(&form, this);
    SetStatus(QString());
    QApplication::restoreOverrideCursor();  // the dialog shows the normal cursor
    Dialogs().Exec(&form);
    result = form.ResultText();
    number = form.PhoneNumberShown();
    form.StoreDialing(Settings());
    try {
      SaveSettings(Settings(), IniFile());
    } catch (const std::exception& e) {
      Dialogs().Error(this, QString::fromStdString(e.what()));
    }
  }
  QFile::remove(file);

  // The record is the one the fax was rendered from, whatever the dialog did meanwhile.
  if (recNo > 0 && fax.RecNo() != recNo) fax.Go(recNo);
  if (fax.Edit()) {
    fax.SetFieldInt("PAGES", StoredPageCount(pageCount_));
    if (!result.trimmed().isEmpty()) fax.SetFieldString("LASTRESULT", result.toStdString());
    fax.SetFieldString("PHONE", number.toStdString());
    const QString upper = result.toUpper();
    if (upper == QLatin1String("SENT") || upper == QLatin1String("OK")) {
      fax.SetFieldBool("SENT", true);
      fax.SetFieldDate("DATESENT", QDate::currentDate().toString(QStringLiteral("yyyyMMdd")).toStdString());
      fax.SetFieldString("TIMESENT", QTime::currentTime().toString(QStringLiteral("hh:mm")).toStdString());
    }
    fax.Post();
  }
  RefreshGrids();
  SetStatus(QString());
  SetButtons();
}

}  // namespace qv::app
