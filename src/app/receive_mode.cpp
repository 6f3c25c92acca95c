// The main window's receive mode: starting and stopping it, the receive component's events, the
// record of each received fax, and the settling of files a call or a run left without a record.

#include "app/arrival_notice.h"
#include "app/dialog_service.h"
#include "app/fax_store.h"
#include "app/field_fit.h"
#include "app/flows/call_settings.h"
#include "app/flows/pre_call.h"
#include "app/main_screen.h"
#include "app/message_pump.h"
#include "app/modem_routines.h"
#include "app/page_count_field.h"
#include "app/placement.h"
#include "app/receive_folder.h"
#include "app/settings.h"
#include "app/show_error_form.h"
#include "app/starting_fax_form.h"
#include "app/table_pair.h"
#include "comm/com_port.h"
#include "core/error_text.h"
#include "fax/receive_fax.h"
#include "faximage/qvf_file.h"
#include "faximage/t4_decoder.h"
#include "ui/fax_printer.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMetaObject>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace qv::app {

namespace {

// Names the file of the call in progress until that file has its record, so that a run ending
// during a call leaves a trace the next start can settle.
constexpr const char* kReceiveJournalFile = "Receiving.tmp";
// Stopping waits this long for the component to hang up and finish.
constexpr int kStopWaitMs = 20000;

const char* const kStartingText = "Starting receive mode...";
const char* const kIncompleteNote = "Incomplete: the call ended after page ";
const char* const kRecoveredNote = "Incomplete: the program ended during this call, page ";

QString Com(int n) { return QStringLiteral("COM") + QString::number(n); }

// True when the page's coding ends (three EOLs in a row) within its data.
bool PageCodingEnds(faximage::QvfReader& reader, const faximage::QvfPageSpan& page) {
  faximage::T4Decoder decoder([](std::span<const uint8_t>) {});
  decoder.startPage();
  uint8_t block[faximage::QvfReader::kBlockSize];
  reader.Seek(page.dataOffset);
  for (int64_t left = page.header.ImageLength; left > 0;) {
    const int64_t got = reader.Read(block, static_cast<size_t>(std::min<int64_t>(left, sizeof block)));
    if (got <= 0) return false;
    if (decoder.feed(block, static_cast<size_t>(got))) return true;
    left -= got;
  }
  return false;
}

// Keeps the pages of a received file that arrived whole and rewrites its page count: a page
// whose data runs past the end of the file, or the last page when its coding never ends (the
// line went dead in it), is cut off. Returns the pages kept, or -1 when the file is no QVF file
// or cannot be read or rewritten (it is then left as it is).
int TrimToCompletePages(const std::string& path, std::string* stationId) {
  faximage::QvfReader reader;
  if (reader.Open(path) != 0) return -1;
  faximage::QvfFileHeader header = reader.Header();
  if (stationId) *stationId = header.StationIdString();
  std::vector<faximage::QvfPageSpan> pages;
  if (reader.WholePages(pages) != 0) return -1;
  if (!pages.empty() && !PageCodingEnds(reader, pages.back())) pages.pop_back();
  reader.Close();

  std::error_code ec;
  const auto size = static_cast<int64_t>(std::filesystem::file_size(path, ec));
  if (ec) return -1;
  const int64_t end = pages.empty() ? header.FirstPageOffset : pages.back().dataOffset + pages.back().header.ImageLength;
  if (static_cast<int>(pages.size()) != header.PageCount) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!f) return -1;
    header.PageCount = static_cast<uint16_t>(pages.size());
    uint8_t raw[faximage::kQvfFileHeaderSize];
    header.Encode(raw);
    f.write(reinterpret_cast<const char*>(raw), sizeof raw);
    f.close();
    if (!f) return -1;
  }
  if (end < size) std::filesystem::resize_file(path, static_cast<uintmax_t>(end), ec);
  return static_cast<int>(pages.size());
}

int QvfPageCount(const QString& path) {
  faximage::QvfFileHeader header;
  if (faximage::ReadFaxHeader(path.toStdString(), header) != 0) return -1;
  return header.PageCount;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The components

void TMainScreen::ConnectReceiveComponent() {
  QvComPort1_ = std::make_unique<comm::TQvComPort>();
  ConfigureFormPort(*QvComPort1_);
  QvReceiveFax1_ = std::make_unique<fax::TQvReceiveFax>();
  fax::TQvReceiveFax& fax = *QvReceiveFax1_;
  fax.SetComPort(QvComPort1_.get());
  fax.FaxFileExt = "QVF";
  fax.ConstantStatus = true;
  fax.OnFaxStatus = [this](fax::TQvAbstractFax*, bool first, bool last) {
    QvReceiveFax1FaxStatus(first, last);
  };
  fax.OnFaxLog = [this](fax::TQvAbstractFax*, int code) { QvReceiveFax1FaxLog(code); };
  fax.OnFaxError = [this](fax::TQvAbstractFax*, int code) { QvReceiveFax1FaxError(code); };
  fax.OnFaxAccept = [this](fax::TQvReceiveFax*, bool& accept) { QvReceiveFax1FaxAccept(accept); };
  fax.OnFaxName = [this](fax::TQvReceiveFax*, std::string& name) { QvReceiveFax1FaxName(name); };
  fax.OnFaxFinish = [this](fax::TQvAbstractFax*, int code) { QvReceiveFax1FaxFinish(code); };
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

void TMainScreen::SetHourglass(bool on) {
  if (on == hourglass_) return;
  hourglass_ = on;
  if (on)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

// ---------------------------------------------------------------------------------------------
// Starting and stopping

void TMainScreen::ReceiveButtonClick() {
  // Both runs let messages run; a second click meanwhile must not start another.
  if (receiveBusy_) return;
  receiveBusy_ = true;
  if (receiveMode_)
    StopReceiveMode();
  else
    StartReceiveMode();
  receiveBusy_ = false;
}

void TMainScreen::StartReceiveMode() {
  const TSettings& s = Settings();
  fax::TQvReceiveFax& fax = *QvReceiveFax1_;
  comm::TQvComPort& port = *QvComPort1_;
  fax.SetDestinationDir(QDir(dataDir_).filePath(QString::fromLatin1(kReceiveFolder)).toStdString());
  fax.NameScheme = s.GlobalUseAlternateNamingRec ? 2 : 1;
  SetHourglass(true);
  lastFaxError_ = 0;

  receiveLog_.Begin();

  SetCurrentPage(kIncomingPage);
  StartingFaxForm_->SetStartingLook();
  CenterOver(StartingFaxForm_, this);
  if (!s.DisableReceivingFaxesNotification) StartingFaxForm_->show();
  PumpMessages();

  SetReceiveMode(true);
  PumpMessages();
  SetStatus(QString::fromLatin1(kStartingText));

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
    switch (RunPreCallChecks(port, ReceiveCallSettings(s), CallDirection::kReceive, receiveLog_, *this)) {
      case PreCallResult::kReady: abandoned = false; break;
      case PreCallResult::kPortFailed: abandonedAt = QStringLiteral("port"); break;
      case PreCallResult::kNoModem: abandonedAt = QStringLiteral("modem"); break;
      case PreCallResult::kResetFailed: abandonedAt = QStringLiteral("reset"); break;
    }
    if (abandoned) {
      SaveLocalRecLog();
    } else {
      if (!s.DisableReceivingFaxesNotification) StartingFaxForm_->show();
      AddtoLastRecLog(QStringLiteral("StartReceive"));
      fax.StartReceiving();
      if (!fax.Active()) {
        // The modem refused the receive set-up: say why instead of leaving the user waiting.
        const int code = lastFaxError_ ? lastFaxError_ : fax.LastError();
        const QString why = code ? QString::fromStdString(core::ErrorText(code)) : QStringLiteral("Unknown error");
        AddtoLastRecLog(QStringLiteral("Receive set-up failed: ") + why);
        StartingFaxForm_->hide();
        SetHourglass(false);
        ShowError(this, QStringLiteral("Unable to Continue"),
                  QStringLiteral("The modem could not be set up to receive faxes.\r\n\r\nThe error "
                                 "message was:   ") + why);
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
    if (!abandonedAt.isEmpty()) AddtoLastRecLog(QStringLiteral("Exception: ") + abandonedAt);
    AbandonReceiveStart();
  } else {
    SetReceiveMode(true);  // the button reads "STOP" with its hint
    StartingFaxForm_->SetReadyLook();
    CenterOver(StartingFaxForm_, this);
    arrivalNotice_->SetReceiveMode(true);
  }
  SetButtons();
  SetHourglass(false);
}

void TMainScreen::PreCallStatus(const QString& text) { SetStatus(text); }
void TMainScreen::PreCallBusy(bool busy) {
  if (!busy) StartingFaxForm_->hide();
  SetHourglass(busy);
}
void TMainScreen::PreCallFailed(const QString&) {
  StartingFaxForm_->hide();
  SetStatus(QString());
  SetHourglass(false);
  try {
    if (QvComPort1_->Open()) QvComPort1_->SetOpen(false);
  } catch (...) {
  }
}
void TMainScreen::PreCallError(const QString& title, const QString& text) { ShowError(this, title, text); }
bool TMainScreen::PreCallAskContinue(const QString& title, const QString& text) {
  return AskContinue(this, title, text);
}

void TMainScreen::AbandonReceiveStart() {
  StartingFaxForm_->hide();
  SetStatus(QString());
  SetHourglass(false);
  try {
    if (QvReceiveFax1_->Active()) QvReceiveFax1_->AbortFax();
    if (QvComPort1_->Open()) QvComPort1_->SetOpen(false);
  } catch (...) {
  }
  SetReceiveMode(false);
  arrivalNotice_->SetReceiveMode(false);
  AddtoLastRecLog(QStringLiteral("Error..."));
  SaveLocalRecLog();
}

void TMainScreen::StopReceiveMode() {
  StartingFaxForm_->hide();
  SetHourglass(true);
  stoppingReceive_ = true;
  try {
    fax::TQvReceiveFax& fax = *QvReceiveFax1_;
    fax.AbortFax();
    PumpMessages();
    // The component hangs up on the port's threads: the port stays open until it has finished.
    QElapsedTimer clock;
    clock.start();
    while (fax.Active() && clock.elapsed() < kStopWaitMs) {
      PumpMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    PumpMessages();
    SendAfterResetString(*QvComPort1_, *this);
    QvComPort1_->SetOpen(false);
    PumpMessages();
  } catch (...) {
  }
  stoppingReceive_ = false;
  receivingNow_ = false;
  SetReceiveMode(false);
  arrivalNotice_->SetReceiveMode(false);
  SetHourglass(false);
  SetStatus(QString());
  AddtoLastRecLog(QStringLiteral("Stopped receive mode:") + LogDateTime(QDateTime::currentDateTime()));
  SaveLocalRecLog();
  SetButtons();
}

// ---------------------------------------------------------------------------------------------
// The receive log

void TMainScreen::AddtoLastRecLog(const QString& line) { receiveLog_.Add(line); }

void TMainScreen::SaveLocalRecLog() { receiveLog_.SaveIn(dataDir_); }

// ---------------------------------------------------------------------------------------------
// The component's events

void TMainScreen::QvReceiveFax1FaxAccept(bool& accept) {
  receivingNow_ = true;
  lastFaxError_ = 0;
  accept = true;
}

void TMainScreen::QvReceiveFax1FaxError(int code) { lastFaxError_ = code; }

void TMainScreen::QvReceiveFax1FaxStatus(bool first, bool last) {
  UpdateValues();
  if (first) pagesReceived_ = 0;
  if (last) receivingNow_ = false;
}

void TMainScreen::UpdateValues() {
  const fax::TQvReceiveFax& fax = *QvReceiveFax1_;
  pagesReceived_ = fax.CurrentPage();
  QString text = QString::fromStdString(fax::StatusText(fax.ProgressCode())).trimmed();
  QString pagePart, bytesPart;
  if (text.toUpper() == QLatin1String("GOT CLASS 2 FHNG CODE")) {
    text = QStringLiteral("Hangup successful");
  } else if (text == QLatin1String("Getting page data")) {
    text = QStringLiteral("Receiving fax");
    if (fax.BytesTransferred() > 0)
      bytesPart = QStringLiteral(" (") + QString::number(fax.BytesTransferred()) + QStringLiteral(" bytes)");
    if (fax.CurrentPage() > 0) pagePart = QStringLiteral(", page ") + QString::number(fax.CurrentPage());
  }
  const QString remote = QString::fromStdString(fax.RemoteID()).trimmed();
  if (!remote.isEmpty()) text += QStringLiteral(" from: ") + remote + pagePart + bytesPart;
  if (text.toUpper().contains(QLatin1String("ABORT"))) text.clear();
  SetStatus(text);
  if (StartingFaxForm_->isVisible() && text.toUpper().contains(QLatin1String("ANSWERING")))
    StartingFaxForm_->hide();
}

void TMainScreen::QvReceiveFax1FaxName(std::string& name) {
  // A file the journal still names lacks its record (a call that ended without saying so):
  // settle it before the next one starts.
  QFile journal(dataDir_ + QString::fromLatin1(kReceiveJournalFile));
  if (journal.open(QIODevice::ReadOnly)) {
    const QString previous = QString::fromUtf8(journal.readAll()).trimmed();
    journal.close();
    if (!previous.isEmpty()) SettleReceivedFile(previous, QString::fromLatin1(kIncompleteNote));
  }
  name = QvReceiveFax1_->NextFileName();
  if (name.empty()) {
    // Every name is taken: the component refuses the call. Each such call is a fax lost, so the
    // user hears of it (once the component's event has returned) and learns what to do.
    const QString why = QStringLiteral("No free file name is left in the receive folder. Delete received "
                                       "faxes that are no longer needed.");
    AddtoLastRecLog(QStringLiteral("Failed to receive a fax: ") + why);
    QMetaObject::invokeMethod(this, [this, why] {
      ShowError(this, QStringLiteral("Failed To Receive Incoming Fax"),
                QStringLiteral("Quorvane failed to receive an incoming fax.\r\n\r\nThe error message was:   ") + why);
    }, Qt::QueuedConnection);
    return;
  }
  QSaveFile out(dataDir_ + QString::fromLatin1(kReceiveJournalFile));
  if (out.open(QIODevice::WriteOnly)) {
    out.write(QFileInfo(QString::fromStdString(name)).fileName().toUtf8());
    out.commit();
  }
}

void TMainScreen::QvReceiveFax1FaxLog(int code) {
  switch (code) {
    case 4:
      currentReceiveFile_ = QString::fromStdString(QvReceiveFax1_->FaxFile());
      break;
    case 5:
      FaxReceived();
      break;
    case 7:
      FaxFailed();
      break;
    default:
      break;
  }
}

bool TMainScreen::AppendReceivedRecord(const QString& fileName, const QString& from, int pages,
                                       const QString& notes) {
  TablePair& rec = store_->Pair(TableId::Rec);
  if (!rec.IsOpen() || !rec.Append()) return false;
  const QDateTime now = QDateTime::currentDateTime();
  rec.SetFieldDate("DATEREC", now.date().toString(QStringLiteral("yyyyMMdd")).toStdString());
  rec.SetFieldString("TIMEREC", now.time().toString(QStringLiteral("hh:mm")).toStdString());
  rec.SetFieldString("FROM", FitField(from.toStdString(), FieldWidth(TableId::Rec, "FROM")));
  rec.SetFieldInt("PAGES", StoredPageCount(pages));
  rec.SetFieldString("FAXFILE", FitField(fileName.toStdString(), FieldWidth(TableId::Rec, "FAXFILE")));
  // A count the field cannot hold is kept in the notes, so the record still tells it.
  QString text = notes;
  if (pages > kMaxStoredPages && text.isEmpty()) text = QString::number(pages) + QStringLiteral(" pages");
  if (!text.isEmpty()) rec.SetFieldString("NOTES", FitField(text.toStdString(), FieldWidth(TableId::Rec, "NOTES")));
  if (!rec.Post()) {
    rec.Cancel();
    return false;
  }
  // The file has its record now: the journal has nothing left to tell.
  QFile::remove(dataDir_ + QString::fromLatin1(kReceiveJournalFile));
  return true;
}

void TMainScreen::FaxReceived() {
  receivingNow_ = false;
  QString file = QString::fromStdString(QvReceiveFax1_->FaxFile());
  if (file.isEmpty()) file = currentReceiveFile_;
  currentReceiveFile_ = file;
  // The file's own page count: a page the modem reported bad was taken out of it again.
  const int filePages = QvfPageCount(file);
  const int pages = filePages >= 0 ? filePages : pagesReceived_;
  const QString from = QString::fromStdString(QvReceiveFax1_->RemoteID()).trimmed();
  const QString name = QFileInfo(file).fileName();
  if (pages == 0) {
    // A call that delivered no page is no fax: no record, no notice, no print-out, and its
    // empty file goes (with the journal that names it).
    SettleReceivedFile(name, QString::fromLatin1(kIncompleteNote));
    AddtoLastRecLog(QStringLiteral("A call ended without a page") +
                    (from.isEmpty() ? QString() : QStringLiteral(" (from ") + from + QLatin1Char(')')) +
                    QStringLiteral(": nothing was stored"));
    return;
  }
  const bool recorded = AppendReceivedRecord(name, from, pages, QString());
  if (!recorded) {
    // The file stays, and the journal that names it: the next start gives it its record.
    AddtoLastRecLog(QStringLiteral("Could not record received fax: ") + file);
  }
  PumpMessages();
  store_->RecTableCloseAndOpen();
  PumpMessages();
  RefreshGrids();
  QMetaObject::invokeMethod(this, &TMainScreen::FaxArrived, Qt::QueuedConnection);
  SetButtons();
  // Printed before the notice goes out, so that the notice can tell of a print-out that failed.
  const QString printProblem = Settings().PrintOnReceipt ? PrintOnReceipt(file) : QString();
  if (recorded) {
    arrivalNotice_->FaxArrived(name, from, pages, isActiveWindow() && !isMinimized(), printProblem);
    // The grid keeps telling it after the notice has gone.
    if (!printProblem.isEmpty()) NoteOnReceivedRecord(name, QStringLiteral("Not printed: ") + printProblem);
  }
}

void TMainScreen::FaxFailed() {
  receivingNow_ = false;
  // Read before anything lets messages run: the next call renames the component's file.
  QString file = QString::fromStdString(QvReceiveFax1_->FaxFile());
  if (file.isEmpty()) file = currentReceiveFile_;
  const int code = lastFaxError_;
  const QString text = code ? QString::fromStdString(core::ErrorText(code)) : QStringLiteral("Unknown error");
  lastFaxError_ = 0;
  if (!file.isEmpty()) SettleReceivedFile(QFileInfo(file).fileName(), QString::fromLatin1(kIncompleteNote));
  store_->RecTableCloseAndOpen();
  RefreshGrids();
  SetButtons();
  AddtoLastRecLog(QStringLiteral("Failed to receive a fax: ") + text);
  // Ending receive mode cancels the call in progress: that is the user's doing, not a failure. A
  // modem that went away ends receive mode, and that message tells of it.
  if (!stoppingReceive_ && code != fax::kErrPortLost) {
    ShowError(this, QStringLiteral("Failed To Receive Incoming Fax"),
              QStringLiteral("Quorvane failed to receive an incoming fax.\r\n\r\nThe error message "
                             "was:   ") + text);
  }
}

// The receive component finished by itself: nothing answers calls any more (the modem went
// away, or an error ended receive mode). Receive mode ends and the user is told, rather than the
// window showing STOP and "Waiting for incoming call" on a port that is gone.
void TMainScreen::QvReceiveFax1FaxFinish(int code) {
  // A start or a stop handles its own end; a finish left over from an earlier period finds
  // receive mode off or the next period's session running.
  if (!receiveMode_ || receiveBusy_ || stoppingReceive_ || QvReceiveFax1_->Active()) return;
  const QString port = Com(QvComPort1_->ComNumber());
  const QString why = code ? QString::fromStdString(core::ErrorText(code)) : QStringLiteral("Unknown error");
  receivingNow_ = false;
  StartingFaxForm_->hide();
  try {
    if (QvComPort1_->Open()) QvComPort1_->SetOpen(false);
  } catch (...) {
  }
  SetReceiveMode(false);
  arrivalNotice_->SetReceiveMode(false);
  SetStatus(QString());
  AddtoLastRecLog(QStringLiteral("Receive mode ended: ") + why);
  AddtoLastRecLog(QStringLiteral("Stopped receive mode:") + LogDateTime(QDateTime::currentDateTime()));
  SaveLocalRecLog();
  SetButtons();
  const QString cause = code == fax::kErrPortLost
                            ? QStringLiteral("the modem on ") + port +
                                  QStringLiteral(" can no longer be reached (was it unplugged or switched off?).")
                            : QStringLiteral("the modem on ") + port + QStringLiteral(" stopped working.");
  // Not closing by itself: a user back at the desk must still read why no faxes came in.
  ShowError(this, QStringLiteral("Receive Mode Ended"),
            QStringLiteral("Quorvane has stopped receiving faxes: ") + cause +
                QStringLiteral("\r\n\r\nThe error message was:   ") + why +
                QStringLiteral("\r\n\r\nCheck the modem, then press Receive to start receive mode again."),
            true);
}

void TMainScreen::SettleReceivedFile(const QString& fileName, const QString& note) {
  const QString path = ReceiveFilePath(dataDir_, fileName);
  if (path.isEmpty()) return;
  const QString name = QFileInfo(path).fileName();
  TablePair& rec = store_->Pair(TableId::Rec);
  if (!rec.IsOpen()) return;
  // Already recorded (the run ended after the record was written)?
  const int recNo = rec.RecNo();
  bool recorded = false;
  for (rec.First(); !rec.Eof() && !recorded; rec.Next()) {
    recorded = QString::fromStdString(rec.FieldString("FAXFILE")).trimmed().compare(name, Qt::CaseInsensitive) == 0;
  }
  rec.Go(recNo);
  if (!recorded && QFileInfo(path).isFile()) {
    std::string station;
    const int pages = TrimToCompletePages(path.toStdString(), &station);
    if (pages == 0) {
      QFile::remove(path);
    } else if (pages > 0) {
      recorded = AppendReceivedRecord(name, QString::fromStdString(station).trimmed(), pages,
                                      note + QString::number(pages));
    } else {
      recorded = true;  // not a fax file: leave it alone
    }
  }
  if (recorded || !QFileInfo(path).isFile()) QFile::remove(dataDir_ + QString::fromLatin1(kReceiveJournalFile));
}

void TMainScreen::RecoverInterruptedReceive() {
  QFile journal(dataDir_ + QString::fromLatin1(kReceiveJournalFile));
  if (!journal.open(QIODevice::ReadOnly)) return;
  const QString name = QString::fromUtf8(journal.readAll()).trimmed();
  journal.close();
  if (name.isEmpty()) {
    journal.remove();
    return;
  }
  SettleReceivedFile(name, QString::fromLatin1(kRecoveredNote));
  store_->RecTableCloseAndOpen();
}

// The fax printer is a component of its own; received faxes go to it from here.
QString TMainScreen::PrintOnReceipt(const QString& file) {
  const TSettings& s = Settings();
  ui::TFaxPrintOptions options;
  options.LogFile = dataDir_ + QStringLiteral("FAXPRINT.LOG");
  options.ImposeWait = s.ImposeWaitBeforePrinting;
  QString printer = QString::fromStdString(s.PrintOnReceiptPrinter);
  bool named = !printer.isEmpty() && printer != QLatin1String(ui::kDefaultPrinterName);
  if (named && !ui::TQvFaxPrinter::PrinterExists(printer)) {
    // A printer removed since it was chosen must not cost the print-out: the default printer
    // takes it, as when none was named.
    AddtoLastRecLog(QStringLiteral("Printer \"") + printer +
                    QStringLiteral("\" not found: printing on the default printer"));
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
  AddtoLastRecLog(QStringLiteral("Print on receipt failed: ") + error);
  return error;
}

void TMainScreen::NoteOnReceivedRecord(const QString& fileName, const QString& note) {
  TablePair& rec = store_->Pair(TableId::Rec);
  if (!rec.IsOpen()) return;
  const int at = rec.RecNo();
  for (rec.First(); !rec.Eof(); rec.Next()) {
    if (QString::fromStdString(rec.FieldString("FAXFILE")).trimmed().compare(fileName, Qt::CaseInsensitive) != 0)
      continue;
    // The user's own notes are never overwritten.
    if (QString::fromStdString(rec.FieldString("NOTES")).trimmed().isEmpty() && rec.Edit()) {
      rec.SetFieldString("NOTES", FitField(note.toStdString(), FieldWidth(TableId::Rec, "NOTES")));
      if (!rec.Post()) rec.Cancel();
    }
    break;
  }
  rec.Go(at);
  store_->RecTableCloseAndOpen();
  RefreshGrids();
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
