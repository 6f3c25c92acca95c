#include "app/flows/receive_service.h"

#include "app/store/fax_store.h"
#include "app/flows/call_settings.h"
#include "app/flows/internet_line.h"
#include "app/flows/message_pump.h"
#include "app/flows/modem_routines.h"
#include "app/store/receive_folder.h"
#include "app/store/settings.h"
#include "comm/com_port.h"
#include "core/error_codes.h"
#include "core/error_text.h"
#include "fax/fax_log.h"
#include "fax/fax_status.h"
#include "fax/receive_fax.h"
#include "ui/fax_printer.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMetaObject>

#include <chrono>
#include <exception>
#include <thread>

namespace qv::app {

namespace {

// Stopping waits this long for the component to hang up and finish.
constexpr int kStopWaitMs = 20000;

const char* const kStartingText = "Starting receive mode...";
const char* const kSteppedAsideText = "Receive mode paused while a fax is sent";
const char* const kIncompleteNote = "Incomplete: the call ended after page ";
const char* const kRecoveredNote = "Incomplete: the program ended during this call, page ";
const char* const kFailedTitle = "Failed To Receive Incoming Fax";
const char* const kFailedText = "Quorvane failed to receive an incoming fax.\r\n\r\nThe error message was:   ";

QString Q(const std::string& s) { return QString::fromStdString(s); }

QString ErrorOrUnknown(int code) { return code ? Q(core::ErrorText(code)) : QStringLiteral("Unknown error"); }

QString Now() { return LogDateTime(QDateTime::currentDateTime()); }

// What became of pages that arrived damaged (the sender gave part of them up) and were kept out
// of the file: "page 2 arrived damaged and was left out"; empty when there were none.
QString DroppedPagesText(const std::vector<int>& pages) {
  if (pages.empty()) return {};
  QString list;
  for (size_t i = 0; i < pages.size(); ++i) {
    if (i > 0) list += i + 1 == pages.size() ? QStringLiteral(" and ") : QStringLiteral(", ");
    list += QString::number(pages[i]);
  }
  return (pages.size() == 1 ? QStringLiteral("page ") : QStringLiteral("pages ")) + list +
         (pages.size() == 1 ? QStringLiteral(" arrived damaged and was left out")
                            : QStringLiteral(" arrived damaged and were left out"));
}

}  // namespace

TReceiveService::TReceiveService(TFaxStore& store, const QString& dataDir, TReceiveObserver* observer)
    : store_(store), dataDir_(dataDir), observer_(observer), filing_(store, dataDir) {
  port_ = std::make_unique<comm::TQvComPort>();
  ConfigureFormPort(*port_);
  fax_ = std::make_unique<fax::TQvReceiveFax>();
  fax::TQvReceiveFax& fax = *fax_;
  fax.SetComPort(port_.get());
  fax.FaxFileExt = "QVF";
  fax.ConstantStatus = true;
  fax.OnFaxStatus = [this](fax::TQvAbstractFax*, bool first, bool last) { FaxStatus(first, last); };
  fax.OnFaxLog = [this](fax::TQvAbstractFax*, int code) { FaxLog(code); };
  fax.OnFaxError = [this](fax::TQvAbstractFax*, int code) { lastFaxError_ = code; };
  fax.OnFaxAccept = [this](fax::TQvReceiveFax*, bool& accept) { FaxAccept(accept); };
  fax.OnFaxName = [this](fax::TQvReceiveFax*, std::string& name) { FaxName(name); };
  fax.OnFaxFinish = [this](fax::TQvAbstractFax*, int code) { FaxFinish(code); };
}

TReceiveService::~TReceiveService() {
  // Nobody is told any more: the component ends with its port.
  observer_ = nullptr;
  fax_->OnFaxStatus = nullptr;
  fax_->OnFaxLog = nullptr;
  fax_->OnFaxError = nullptr;
  fax_->OnFaxAccept = nullptr;
  fax_->OnFaxName = nullptr;
  fax_->OnFaxFinish = nullptr;
}

void TReceiveService::Busy(bool busy) {
  if (observer_) observer_->FlowBusy(busy);
}

void TReceiveService::Status(const QString& text) {
  if (observer_) observer_->FlowStatus(text);
}

void TReceiveService::Notice(bool shown) {
  if (!observer_) return;
  if (resuming_ && shown) return;  // coming back after a send is no news to the user
  if (!shown) {
    observer_->ReceiveNotice(false);
  } else if (!Settings().DisableReceivingFaxesNotification) {
    observer_->ReceiveNotice(true);
  }
}

void TReceiveService::Error(const QString& title, const QString& text, bool stays) {
  if (observer_) observer_->FlowError(title, text, stays);
}

void TReceiveService::ClosePort() {
  try {
    if (port_->Open()) port_->SetOpen(false);
  } catch (...) {
  }
}

// ---------------------------------------------------------------------------------------------
// Starting and stopping

bool TReceiveService::Start() {
  if (changing_) return on_;
  changing_ = true;
  const TSettings& s = Settings();
  fax::TQvReceiveFax& fax = *fax_;
  fax.SetDestinationDir(QDir(dataDir_).filePath(QString::fromLatin1(kReceiveFolder)).toStdString());
  fax.NameScheme = s.GlobalUseAlternateNamingRec ? 2 : 1;
  Busy(true);
  lastFaxError_ = 0;
  // Coming back after a send continues the period's log.
  if (resuming_)
    log_.Add(QStringLiteral("Resumed receive mode:") + Now());
  else
    log_.Begin();

  if (observer_ && !resuming_) observer_->ReceiveStarting();
  Notice(true);
  PumpMessages();

  on_ = true;
  if (observer_) observer_->ReceiveModeChanged(true);
  PumpMessages();
  Status(QString::fromLatin1(kStartingText));

  fax.FaxClass = FaxClassOfSetting(s.FaxClassReceive);
  fax.StationID = s.Fax;
  fax.AnswerOnRing = static_cast<uint16_t>(s.AnswerOnRing);
  fax.DesiredBPS = static_cast<uint16_t>(s.MaximumBPSReceive);
  fax.DesiredECM = s.ECMReceive;
  fax.SetModemInit(s.InitStringReceive.empty() ? std::string() : WithAtPrefix(s.InitStringReceive));

  // A start given up says in the log where it was given up: the step, or an exception's text.
  bool abandoned = true;
  QString abandonedAt;
  try {
    switch (RunPreCallChecks(*port_, ReceiveCallSettings(s), CallDirection::kReceive, log_, *this)) {
      case PreCallResult::kReady: abandoned = false; break;
      case PreCallResult::kPortFailed: abandonedAt = QStringLiteral("port"); break;
      case PreCallResult::kNoModem: abandonedAt = QStringLiteral("modem"); break;
      case PreCallResult::kResetFailed: abandonedAt = QStringLiteral("reset"); break;
    }
    if (abandoned) {
      log_.SaveIn(dataDir_);
    } else {
      Notice(true);
      log_.Add(QStringLiteral("StartReceive"));
      fax.StartReceiving();
      if (!fax.Active()) {
        // The modem refused the receive set-up: say why instead of leaving the user waiting.
        const QString why = ErrorOrUnknown(lastFaxError_ ? lastFaxError_ : fax.LastError());
        log_.Add(QStringLiteral("Receive set-up failed: ") + why);
        Notice(false);
        Busy(false);
        Error(QStringLiteral("Unable to Continue"),
              QStringLiteral("The modem could not be set up to receive faxes.\r\n\r\nThe error message was:   ") + why);
        abandoned = true;
        abandonedAt = QStringLiteral("prepare");
      }
    }
  } catch (const std::exception& e) {
    abandoned = true;
    abandonedAt = QString::fromLocal8Bit(e.what());
  } catch (...) {
    abandoned = true;
    abandonedAt.clear();
  }
  if (abandoned) {
    if (!abandonedAt.isEmpty()) log_.Add(QStringLiteral("Exception: ") + abandonedAt);
    Abandon();
  } else if (observer_) {
    observer_->ReceiveReady();
  }
  Busy(false);
  changing_ = false;
  return on_;
}

void TReceiveService::PreCallBusy(bool busy) {
  if (!busy) Notice(false);
  Busy(busy);
}

void TReceiveService::PreCallFailed(const QString&) {
  Notice(false);
  Status(QString());
  Busy(false);
  ClosePort();
}

bool TReceiveService::PreCallAskContinue(const QString& title, const QString& text) {
  return observer_ && observer_->FlowAskContinue(title, text);
}

void TReceiveService::Abandon() {
  Notice(false);
  Status(QString());
  Busy(false);
  try {
    if (fax_->Active()) fax_->AbortFax();
  } catch (...) {
  }
  ClosePort();
  on_ = false;
  if (observer_) observer_->ReceiveModeChanged(false);
  log_.Add(QStringLiteral("Error..."));
  log_.SaveIn(dataDir_);
}

void TReceiveService::EndSession() {
  stopping_ = true;
  try {
    fax_->AbortFax();
    PumpMessages();
    // The component hangs up on the port's threads: the port stays open until it has finished.
    QElapsedTimer clock;
    clock.start();
    while (fax_->Active() && clock.elapsed() < kStopWaitMs) {
      PumpMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    PumpMessages();
    SendAfterResetString(*port_, *this);
    port_->SetOpen(false);
    PumpMessages();
  } catch (...) {
  }
  stopping_ = false;
  receivingNow_ = false;
}

void TReceiveService::Stop() {
  if (paused_ && !on_) {
    // Standing aside for a send: the port is released already; receive mode just does not come back.
    paused_ = false;
    if (observer_) observer_->ReceiveModeChanged(false);
    Status(QString());
    return;
  }
  const bool wasChanging = changing_;  // the program may close while a start lets messages run
  changing_ = true;
  paused_ = false;
  Notice(false);
  Busy(true);
  EndSession();
  on_ = false;
  if (observer_) observer_->ReceiveModeChanged(false);
  Busy(false);
  Status(QString());
  log_.Add(QStringLiteral("Stopped receive mode:") + Now());
  log_.SaveIn(dataDir_);
  changing_ = wasChanging;
}

bool TReceiveService::StepAside() {
  if (!on_ || changing_ || receivingNow_) return false;
  changing_ = true;
  Notice(false);
  EndSession();
  on_ = false;
  paused_ = true;
  log_.Add(QStringLiteral("Receive mode paused to send a fax:") + Now());
  log_.SaveIn(dataDir_);
  Status(QString::fromLatin1(kSteppedAsideText));
  changing_ = false;
  return true;
}

bool TReceiveService::Resume() {
  if (!paused_ || changing_) return false;
  paused_ = false;
  resuming_ = true;
  const bool started = Start();
  resuming_ = false;
  return started;
}

// ---------------------------------------------------------------------------------------------
// The component's events

void TReceiveService::FaxAccept(bool& accept) {
  receivingNow_ = true;
  lastFaxError_ = 0;
  accept = true;
}

void TReceiveService::FaxStatus(bool first, bool last) {
  const fax::TQvReceiveFax& fax = *fax_;
  pagesReceived_ = fax.CurrentPage();
  QString text = Q(fax::StatusText(fax.ProgressCode())).trimmed();
  QString pagePart, bytesPart;
  if (text.toUpper() == QLatin1String("GOT CLASS 2 FHNG CODE")) {
    text = QStringLiteral("Hangup successful");
  } else if (text == QLatin1String("Getting page data")) {
    text = QStringLiteral("Receiving fax");
    if (fax.BytesTransferred() > 0)
      bytesPart = QStringLiteral(" (") + QString::number(fax.BytesTransferred()) + QStringLiteral(" bytes)");
    if (fax.CurrentPage() > 0) pagePart = QStringLiteral(", page ") + QString::number(fax.CurrentPage());
  }
  const QString remote = Q(fax.RemoteID()).trimmed();
  if (!remote.isEmpty()) text += QStringLiteral(" from: ") + remote + pagePart + bytesPart;
  if (text.toUpper().contains(QLatin1String("ABORT"))) text.clear();
  Status(text);
  // The call is answered: the notice has served its turn.
  if (text.toUpper().contains(QLatin1String("ANSWERING"))) Notice(false);
  if (first) pagesReceived_ = 0;
  if (last) receivingNow_ = false;
}

void TReceiveService::FaxName(std::string& name) {
  // A file the journal still names lacks its record (a call that ended without saying so):
  // settle it before the next one starts.
  const QString previous = filing_.JournalName();
  if (!previous.isEmpty()) filing_.Settle(previous, QString::fromLatin1(kIncompleteNote));
  name = fax_->NextFileName();
  if (name.empty()) {
    // Every name is taken: the component refuses the call. Each such call is a fax lost, so the
    // user hears of it (once the component's event has returned) and learns what to do.
    const QString why = QStringLiteral("No free file name is left in the receive folder. Delete received "
                                       "faxes that are no longer needed.");
    log_.Add(QStringLiteral("Failed to receive a fax: ") + why);
    QMetaObject::invokeMethod(this, [this, why] {
      Error(QString::fromLatin1(kFailedTitle), QString::fromLatin1(kFailedText) + why);
    }, Qt::QueuedConnection);
    return;
  }
  filing_.JournalBegin(Q(name));
}

void TReceiveService::FaxLog(int code) {
  switch (code) {
    case fax::lcReceiveStarted:
      currentFile_ = Q(fax_->FaxFile());
      break;
    case fax::lcReceiveOk:
      FaxReceived();
      break;
    case fax::lcReceiveFailed:
      FaxFailed();
      break;
    default:
      break;
  }
}

void TReceiveService::LogLineMedia() {
  const QString line = TakeLineCallLogEntry(port_->ComNumber(), fax_->ConnectBPS());
  if (!line.isEmpty()) log_.Add(line);
}

void TReceiveService::FaxReceived() {
  receivingNow_ = false;
  LogLineMedia();
  QString file = Q(fax_->FaxFile());
  if (file.isEmpty()) file = currentFile_;
  currentFile_ = file;
  // The file's own page count: a page the modem reported bad was taken out of it again.
  const int filePages = TReceivedFiling::PageCount(file);
  const int pages = filePages >= 0 ? filePages : pagesReceived_;
  const QString from = Q(fax_->RemoteID()).trimmed();
  const QString name = QFileInfo(file).fileName();
  const QString dropped = DroppedPagesText(fax_->DroppedPages());
  if (!dropped.isEmpty()) log_.Add(QStringLiteral("Receiving ") + name + QStringLiteral(": ") + dropped);
  if (pages == 0) {
    // A call that delivered no page is no fax: no record, no notice, no print-out, and its
    // empty file goes (with the journal that names it).
    filing_.Settle(name, QString::fromLatin1(kIncompleteNote));
    log_.Add(QStringLiteral("A call ended without a page") +
             (from.isEmpty() ? QString() : QStringLiteral(" (from ") + from + QLatin1Char(')')) +
             QStringLiteral(": nothing was stored"));
    return;
  }
  log_.Add(QStringLiteral("Received ") + name + QStringLiteral(", error control: ") +
           Q(fax::ErrorControlText(fax_->SessionECM(), fax_->SessionCoding(), fax_->EcmFramesResent())));
  // A fax with a page left out is not the fax sent: its record says so.
  const bool recorded =
      filing_.AppendRecord(name, from, pages, dropped.isEmpty() ? QString() : QStringLiteral("Incomplete: ") + dropped);
  if (!recorded) {
    // The file stays, and the journal that names it: the next start gives it its record.
    log_.Add(QStringLiteral("Could not record received fax: ") + file);
  }
  PumpMessages();
  store_.RecTableCloseAndOpen();
  PumpMessages();
  if (observer_) {
    observer_->ReceivedTableChanged();
    observer_->FaxFiled();
  }
  // Printed before the notice goes out, so that the notice can tell of a print-out that failed.
  const QString printProblem = Settings().PrintOnReceipt ? PrintOnReceipt(file) : QString();
  if (recorded) {
    if (observer_) observer_->FaxArrived(name, from, pages, printProblem);
    // The grid keeps telling it after the notice has gone.
    if (!printProblem.isEmpty()) {
      filing_.NoteOnRecord(name, QStringLiteral("Not printed: ") + printProblem);
      store_.RecTableCloseAndOpen();
      if (observer_) observer_->ReceivedTableChanged();
    }
  }
}

void TReceiveService::FaxFailed() {
  receivingNow_ = false;
  // Read before anything lets messages run: the next call renames the component's file.
  QString file = Q(fax_->FaxFile());
  if (file.isEmpty()) file = currentFile_;
  const int code = lastFaxError_;
  const QString text = ErrorOrUnknown(code);
  const QString dropped = DroppedPagesText(fax_->DroppedPages());
  lastFaxError_ = 0;
  LogLineMedia();
  if (!dropped.isEmpty()) log_.Add(QStringLiteral("Receiving ") + QFileInfo(file).fileName() + QStringLiteral(": ") + dropped);
  if (!file.isEmpty()) filing_.Settle(QFileInfo(file).fileName(), QString::fromLatin1(kIncompleteNote));
  store_.RecTableCloseAndOpen();
  if (observer_) observer_->ReceivedTableChanged();
  log_.Add(QStringLiteral("Failed to receive a fax: ") + text);
  // Ending receive mode cancels the call in progress: that is the user's doing, not a failure. A
  // modem that went away ends receive mode, and that message tells of it.
  if (!stopping_ && code != core::ecDeviceReadError) Error(QString::fromLatin1(kFailedTitle), QString::fromLatin1(kFailedText) + text);
}

// The receive component finished by itself: nothing answers calls any more (the modem went
// away, or an error ended receive mode). Receive mode ends and the user is told, rather than the
// window showing STOP and "Waiting for incoming call" on a port that is gone.
void TReceiveService::FaxFinish(int code) {
  // A start or a stop handles its own end; a finish left over from an earlier period finds
  // receive mode off or the next period's session running.
  if (!on_ || changing_ || stopping_ || fax_->Active()) return;
  const QString port = QStringLiteral("COM") + QString::number(port_->ComNumber());
  const QString why = ErrorOrUnknown(code);
  receivingNow_ = false;
  Notice(false);
  ClosePort();
  on_ = false;
  if (observer_) observer_->ReceiveModeChanged(false);
  Status(QString());
  log_.Add(QStringLiteral("Receive mode ended: ") + why);
  log_.Add(QStringLiteral("Stopped receive mode:") + Now());
  log_.SaveIn(dataDir_);
  const QString cause = code == core::ecDeviceReadError
                            ? QStringLiteral("the modem on ") + port +
                                  QStringLiteral(" can no longer be reached (was it unplugged or switched off?).")
                            : QStringLiteral("the modem on ") + port + QStringLiteral(" stopped working.");
  // Not closing by itself: a user back at the desk must still read why no faxes came in.
  Error(QStringLiteral("Receive Mode Ended"),
        QStringLiteral("Quorvane has stopped receiving faxes: ") + cause +
            QStringLiteral("\r\n\r\nThe error message was:   ") + why +
            QStringLiteral("\r\n\r\nCheck the modem, then press Receive to start receive mode again."),
        true);
}

void TReceiveService::RecoverInterrupted() {
  const QString name = filing_.JournalName();
  if (name.isEmpty()) {
    filing_.JournalEnd();
    return;
  }
  filing_.Settle(name, QString::fromLatin1(kRecoveredNote));
  store_.RecTableCloseAndOpen();
}

// The fax printer is a component of its own; received faxes go to it from here.
QString TReceiveService::PrintOnReceipt(const QString& file) {
  const TSettings& s = Settings();
  ui::TFaxPrintOptions options;
  options.LogFile = dataDir_ + QStringLiteral("FAXPRINT.LOG");
  options.ImposeWait = s.ImposeWaitBeforePrinting;
  QString printer = Q(s.PrintOnReceiptPrinter);
  bool named = !printer.isEmpty() && printer != QLatin1String(ui::kDefaultPrinterName);
  if (named && !ui::TQvFaxPrinter::PrinterExists(printer)) {
    // A printer removed since it was chosen must not cost the print-out: the default printer
    // takes it, as when none was named.
    log_.Add(QStringLiteral("Printer \"") + printer + QStringLiteral("\" not found: printing on the default printer"));
    printer = QString::fromLatin1(ui::kDefaultPrinterName);
    named = false;
  }
  // A test (or a user without a printer) may have the default printer's print-outs go into a
  // PDF file instead.
  if (!named) options.PdfFile = qEnvironmentVariable("QUORVANE_PRINT_TO_PDF");
  QString error;
  const QString path = ReceiveFilePath(dataDir_, QFileInfo(file).fileName());
  if (ui::TQvFaxPrinter::PrintFaxFile(path.isEmpty() ? file : path, printer, options, &error)) return QString();
  if (error.isEmpty()) error = QStringLiteral("Unknown error");
  log_.Add(QStringLiteral("Print on receipt failed: ") + error);
  return error;
}

}  // namespace qv::app
