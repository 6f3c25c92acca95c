// The Send command of the main window and the rendering of the current outgoing fax for it and for
// View/Print: the outgoing-fax flow does the work, the window shows its busy look and progress,
// and the Send Fax dialog watches the attempts.

#include "app/forms/main_screen.h"

#include "app/forms/app_texts.h"
#include "app/forms/dialog_service.h"
#include "app/store/fax_store.h"
#include "app/flows/outbox.h"
#include "app/flows/outgoing_fax.h"
#include "app/forms/placement.h"
#include "app/forms/send_fax_form.h"
#include "app/store/settings.h"
#include "app/forms/show_error_form.h"
#include "app/store/table_pair.h"

#include <QApplication>
#include <QToolBar>

#include <exception>

namespace qv::app {

namespace {

inline constexpr const char* kErrorCreatingText = "Error creating fax file";

// The window's look while the flow renders a fax: the hourglass and the tool bar disabled, the
// progress in the status panel; what the flow tells goes to the window's boxes.
class WindowWatch : public TSendObserver {
 public:
  explicit WindowWatch(TMainScreen& w) : w_(w) {}
  ~WindowWatch() override { FlowBusy(false); }

  void FlowBusy(bool busy) override {
    if (busy == busy_) return;
    busy_ = busy;
    QToolBar* bar = w_.findChild<QToolBar*>(QStringLiteral("ButtonBar"));
    if (busy)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QApplication::restoreOverrideCursor();
    if (bar) bar->setEnabled(!busy);
  }
  void FlowStatus(const QString& text) override { w_.SetStatus(text); }
  void FlowInformation(const QString& text) override { Dialogs().Information(&w_, text); }
  void FlowError(const QString& title, const QString& text, bool stays) override { ShowError(&w_, title, text, stays); }
  bool FlowAskContinue(const QString& title, const QString& text) override { return AskContinue(&w_, title, text); }

 private:
  TMainScreen& w_;
  bool busy_ = false;
};

}  // namespace

QString TMainScreen::CreateFaxFile() {
  WindowWatch watch(*this);
  const TRenderedFax rendered = RenderFaxRecord(*store_, dataDir_.toStdString(), watch);
  if (!rendered.file.isEmpty()) pageCount_ = rendered.pages;
  return rendered.file;
}

// Receive mode no longer stands in the way: the attempt shares the modem through the outbox,
// which waits for a call being received and has receive mode step aside meanwhile.
void TMainScreen::SendButtonClick() {
  if (CurrentPage() == kIncomingPage) {
    Dialogs().Information(this, QString::fromLatin1(kSwitchToOutgoingText));
    return;
  }
  if (!store_->HasRecord(TableId::Fax)) {
    Dialogs().Beep();
    return;
  }
  WindowWatch watch(*this);
  const int recNo = store_->Pair(TableId::Fax).RecNo();
  TOutgoingFax outgoing(*store_, recNo, dataDir_, &watch);
  outgoing.Session().SetModemShare(outbox_.get());
  QApplication::setOverrideCursor(Qt::WaitCursor);
  SetStatus(QString::fromLatin1(kPreparingViewText));
  if (!outgoing.Render()) {
    QApplication::restoreOverrideCursor();
    SetStatus(QString());
    Dialogs().Information(this, QString::fromLatin1(kErrorCreatingText));
    SetButtons();
    return;
  }
  pageCount_ = outgoing.Pages();

  QString number;
  QDateTime later;
  {
    TSendFaxForm form(outgoing.Session(), this);
    form.SetRecipient(outgoing.Recipient());
    form.SetSubject(outgoing.Subject());
    form.SetPhoneNumber(outgoing.Phone());
    form.LoadDialing();
    form.adjustSize();
    CenterOver(&form, this);
    SetStatus(QString());
    QApplication::restoreOverrideCursor();  // the dialog shows the normal cursor
    Dialogs().Exec(&form);
    number = form.PhoneNumberShown();
    later = form.SendLaterAt();
    form.StoreDialing(Settings());
    try {
      SaveSettings(Settings(), IniFile());
    } catch (const std::exception& e) {
      Dialogs().Error(this, QString::fromStdString(e.what()));
    }
  }
  const bool delivered = outgoing.Session().Delivered();
  outgoing.RecordOutcome(number);
  // Queued after the number is in the record, so the outbox dials the number the user confirmed;
  // a fax sent by hand needs no queued copy any more.
  if (later.isValid())
    outbox_->Enqueue(recNo, later.toUTC());
  else if (delivered)
    outbox_->Remove(recNo);
  RefreshGrids();
  SetStatus(QString());
  SetButtons();
}

}  // namespace qv::app
