// The main window's receive mode: the Receive/STOP command, and the window's side of the receive
// service (TReceiveService does the work): the notice, the button, the grids, the arrival sound
// and notice, and the dialogs it asks for.

#include "app/forms/arrival_notice.h"
#include "app/forms/dialog_service.h"
#include "app/store/fax_store.h"
#include "app/flows/outbox.h"
#include "app/flows/receive_service.h"
#include "app/forms/main_screen.h"
#include "app/forms/placement.h"
#include "app/forms/show_error_form.h"
#include "app/forms/starting_fax_form.h"
#include "app/store/table_pair.h"

#include <QApplication>
#include <QMetaObject>

namespace qv::app {

namespace {

inline constexpr const char* kOverdueCaption = "Outbox";

// The window's side of the outbox: the grid shows the queue, the status panel its progress, and
// the question about faxes that fell due while the program was closed is the user's.
class OutboxWatch : public TOutboxObserver {
 public:
  explicit OutboxWatch(TMainScreen& w) : w_(w) {}
  void FlowStatus(const QString& text) override { w_.SetStatus(text); }
  void FlowInformation(const QString& text) override { Dialogs().Information(&w_, text); }
  void FlowError(const QString& title, const QString& text, bool stays) override { ShowError(&w_, title, text, stays); }
  void OutboxChanged() override { w_.RefreshGrids(); }
  bool OutboxSendOverdue(int count) override {
    const QString text = count == 1 ? QStringLiteral("A queued fax fell due while Quorvane was closed.\rSend it now?")
                                    : QString::number(count) +
                                          QStringLiteral(" queued faxes fell due while Quorvane was closed.\rSend them now?");
    return Dialogs().Question(&w_, QString::fromLatin1(kOverdueCaption), text, true);
  }

 private:
  TMainScreen& w_;
};

}  // namespace

void TMainScreen::StartOutbox() { outbox_->Start(); }

void TMainScreen::StopOutbox() {
  if (outbox_) outbox_->Stop();
}

void TMainScreen::ConnectReceiveComponent() {
  TReceiveObserver* observer = this;
  receive_ = std::make_unique<TReceiveService>(*store_, dataDir_, observer);
  outboxWatch_ = std::make_unique<OutboxWatch>(*this);
  outbox_ = std::make_unique<TOutbox>(*store_, dataDir_, outboxWatch_.get());
  outbox_->SetReceiveService(receive_.get());
  StartingFaxForm_ = new TStartingFaxForm(this);
  arrivalNotice_ = new TArrivalNotice(this);
  connect(arrivalNotice_, &TArrivalNotice::openRequested, this, &TMainScreen::ViewReceivedFile,
          Qt::QueuedConnection);
  connect(arrivalNotice_, &TArrivalNotice::showRequested, this, [this] {
    showNormal();
    raise();
    activateWindow();
  });
}

comm::TQvComPort& TMainScreen::QvComPort1() { return receive_->Port(); }
fax::TQvReceiveFax& TMainScreen::QvReceiveFax1() { return receive_->ReceiveFax(); }
bool TMainScreen::ReceivingNow() const { return receive_->ReceivingNow(); }
void TMainScreen::SetReceivingNow(bool on) { receive_->SetReceivingNow(on); }

void TMainScreen::SetHourglass(bool on) {
  if (on == hourglass_) return;
  hourglass_ = on;
  if (on)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

void TMainScreen::ReceiveButtonClick() {
  // Both a start and a stop let messages run; a second click meanwhile must not start another.
  if (receive_->Changing()) return;
  if (receiveMode_)
    receive_->Stop();
  else
    receive_->Start();
}

// ---------------------------------------------------------------------------------------------
// What the receive service shows and asks

void TMainScreen::FlowBusy(bool busy) { SetHourglass(busy); }
void TMainScreen::FlowStatus(const QString& text) { SetStatus(text); }
void TMainScreen::FlowInformation(const QString& text) { Dialogs().Information(this, text); }

void TMainScreen::FlowError(const QString& title, const QString& text, bool stays) {
  ShowError(this, title, text, stays);
}

bool TMainScreen::FlowAskContinue(const QString& title, const QString& text) {
  return AskContinue(this, title, text);
}

void TMainScreen::ReceiveStarting() {
  SetCurrentPage(kIncomingPage);
  StartingFaxForm_->SetStartingLook();
  CenterOver(StartingFaxForm_, this);
}

void TMainScreen::ReceiveNotice(bool shown) {
  if (shown)
    StartingFaxForm_->show();
  else
    StartingFaxForm_->hide();
}

void TMainScreen::ReceiveModeChanged(bool on) {
  SetReceiveMode(on);
  if (!on) arrivalNotice_->SetReceiveMode(false);
}

void TMainScreen::ReceiveReady() {
  SetReceiveMode(true);  // the button reads "STOP" with its hint
  StartingFaxForm_->SetReadyLook();
  CenterOver(StartingFaxForm_, this);
  arrivalNotice_->SetReceiveMode(true);
}

void TMainScreen::ReceivedTableChanged() {
  RefreshGrids();
  SetButtons();
}

void TMainScreen::FaxFiled() {
  QMetaObject::invokeMethod(this, [this] { FaxArrived(); }, Qt::QueuedConnection);
}

void TMainScreen::FaxArrived(const QString& file, const QString& from, int pages, const QString& printProblem) {
  arrivalNotice_->FaxArrived(file, from, pages, isActiveWindow() && !isMinimized(), printProblem);
}

void TMainScreen::ViewReceivedFile(const QString& fileName) {
  TablePair& rec = store_->Pair(TableId::Rec);
  if (!rec.IsOpen() || fileName.isEmpty()) return;
  const int at = rec.RecNo();
  for (rec.First(); !rec.Eof(); rec.Next()) {
    if (QString::fromStdString(rec.FieldString("FAXFILE")).trimmed().compare(fileName, Qt::CaseInsensitive) == 0) {
      showNormal();
      raise();
      activateWindow();
      SetCurrentPage(kIncomingPage);
      ViewOrPrint(false);
      return;
    }
  }
  rec.Go(at);  // deleted meanwhile: nothing to show
}

}  // namespace qv::app
