#include "app/flows/outgoing_fax.h"

#include "app/store/fax_store.h"
#include "app/flows/call_settings.h"
#include "app/flows/internet_line.h"
#include "app/store/merge_fields.h"
#include "app/flows/message_pump.h"
#include "app/flows/modem_routines.h"
#include "app/flows/reply_fax.h"
#include "app/store/page_count_field.h"
#include "app/store/rich_text_editor.h"
#include "app/store/settings.h"
#include "app/store/table_pair.h"
#include "comm/com_port.h"
#include "core/error_text.h"
#include "core/exceptions.h"
#include "fax/fax_status.h"
#include "fax/send_fax.h"
#include "faximage/qvf_append.h"
#include "faximage/qvf_file.h"
#include "rtf/rtf_reader.h"
#include "ui/document_fax.h"
#include "ui/page_renderer.h"
#include "ui/rich_edit.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QMetaObject>

#include <algorithm>
#include <limits>
#include <vector>

namespace qv::app {

namespace {

const char* const kFaxFileExtension = "QVF";
const char* const kS7 = "S7=";
constexpr int kS7ChunkLength = 6;    // "S7=" and up to three digits
constexpr int kS7ShortestValue = 4;  // "S7=" and at least one digit

inline constexpr const char* kNoContentsText = "Fax has no contents or cover sheet";
inline constexpr const char* kCreatingText = "Creating fax file";
inline constexpr const char* kRenderingText = "Creating fax file....";
inline constexpr const char* kMergingText = "Creating fax file........";
inline constexpr const char* kAttachmentMissingText = "The pages attached to this fax are missing or damaged: ";
// The page bitmap's working file of earlier versions; never left behind.
inline constexpr const char* kPageBitmapFile = "_TMP.BMP";

const char* const kFaxFailureTitle = "Fax Failure";
const char* const kFaxFailureText = "We have received an error message while trying to send the fax\r\n\r\nError message: ";

QString Q(const std::string& s) { return QString::fromStdString(s); }

uint16_t Clamp16(int v) {
  return static_cast<uint16_t>(std::clamp(v, 0, int(std::numeric_limits<uint16_t>::max())));
}

// The busy look of the rendering, ended (with its progress text) on every way out.
class RenderBusy {
 public:
  explicit RenderBusy(TFlowObserver& observer) : observer_(&observer) { observer.FlowBusy(true); }
  ~RenderBusy() { End(); }
  void End() {
    if (!observer_) return;
    observer_->FlowBusy(false);
    observer_->FlowStatus(QString());
    observer_ = nullptr;
  }

 private:
  TFlowObserver* observer_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Rules of sending

int DialWaitFromInit(const std::string& initString) {
  const QString upper = Q(initString).toUpper();
  const int at = upper.indexOf(QLatin1String(kS7));
  if (at < 0) return kDefaultDialWait;
  QString chunk = upper.mid(at, kS7ChunkLength);
  while (!chunk.isEmpty() && !chunk.back().isDigit()) chunk.chop(1);
  if (chunk.size() < kS7ShortestValue) return kDefaultDialWait;
  bool ok = false;
  const int seconds = chunk.mid(int(std::char_traits<char>::length(kS7))).toInt(&ok);
  if (!ok) return kDefaultDialWait;
  return std::max(seconds, kMinimumDialWait);
}

QString SendHeaderLine(const TSettings& s, const QDate& date, const QTime& time) {
  const QLocale locale = QLocale::system();
  QString h = QStringLiteral("Sent");
  if (!Q(s.Name + s.Fax).trimmed().isEmpty()) h += QStringLiteral(" by");
  if (!s.Name.empty()) h += QStringLiteral(": ") + Q(s.Name) + QStringLiteral("    ");
  if (!s.Fax.empty()) h += QStringLiteral("         $I          ");
  h += QString(11, QLatin1Char(' ')) + locale.toString(date, QLocale::ShortFormat) + QString(4, QLatin1Char(' ')) +
       locale.toString(time, QLocale::ShortFormat);
  h += QStringLiteral("              Page $P of $N");
  return h;
}

QStringList SendConfigurationSummary(const TSettings& s) {
  QStringList out;
  out << QStringLiteral("Communications Port: COM") + QString::number(SendComNumber(s)) +
             (s.PracticeLine ? QStringLiteral(" (practice line)") : QString())
      << QStringLiteral("Fax Class: ") + FaxClassSummaryName(s.FaxClass)
      << QStringLiteral("Transfer Rate: ") + QString::number(s.MaximumBPS)
      << QStringLiteral("Dialing with: ") + (s.ToneOrPulse == 0 ? QStringLiteral("Tone") : QStringLiteral("Pulse"))
      << QStringLiteral("Modem Init String :") + Q(s.InitString)
      << QStringLiteral("Modem Reset String :") + Q(s.ResetString)
      << QStringLiteral("Post Reset String :") + Q(s.ResetAfterString)
      << QStringLiteral("Station ID (Fax #) :") + Q(s.Fax)
      << QStringLiteral("Dial Attempts :") + QString::number(s.DialAttempts)
      << QStringLiteral("Retry in :") + QString::number(s.RetryWait) + QStringLiteral(" seconds");
  if (s.BlindDial) out << QStringLiteral("Blind Dial is ACTIVE");
  if (s.IgnoreBusy) out << QStringLiteral("Ignore Busy is ACTIVE");
  if (s.ECM) out << QStringLiteral("Using Error Correction");
  return out;
}

TDialOptions TDialOptions::FromSettings(const TSettings& s, const QString& number) {
  TDialOptions d;
  d.number = number.trimmed();
  d.prefix = Q(s.DialPrefix);
  d.suffix = Q(s.DialSuffix);
  d.prefixOff = s.PrefixDisable;
  d.suffixOff = s.SuffixDisable;
  return d;
}

// ---------------------------------------------------------------------------------------------
// Rendering

TRenderedFax RenderFaxRecord(TFaxStore& store, const std::string& dir, TFlowObserver& observer) {
  TablePair& fax = store.Pair(TableId::Fax);
  RenderBusy busy(observer);
  observer.FlowStatus(QString::fromLatin1(kCreatingText));
  PumpMessages();
  auto fail = [&](const QString& why) {
    busy.End();
    observer.FlowInformation(why);
    return TRenderedFax();
  };

  // The memos as the editor's content model; one that cannot be read stops the rendering (a fax
  // must never go out with a part silently missing).
  rtf::Document docs[2];
  const char* fields[2] = {"RTFCOVER", "RTFDOC"};
  const char* unreadable[2] = {"The cover sheet of this fax cannot be read: ",
                               "The document of this fax cannot be read: "};
  for (int i = 0; i < 2; ++i) {
    RtfBuffer memo;
    std::string why;
    if (!store.LoadRichText(memo, fields[i], fax, &why)) return fail(QString::fromLatin1(unreadable[i]) + Q(why));
    if (memo.IsEmpty()) continue;
    rtf::ReadResult r = rtf::ReadRtf(memo.Rtf(), docs[i]);
    if (!r) return fail(Q(r.message));
  }
  // Attached pages (a reply or forward) go out as they are, after whatever else the document says;
  // pages that are gone stop the fax rather than let it go out without them.
  const QString attachment = TakeAttachment(docs[1]);
  QString attachedFile;
  int attachedPages = 0;
  if (!attachment.isEmpty()) {
    attachedFile = AttachmentPath(Q(dir), attachment);
    faximage::QvfFileHeader header;
    if (attachedFile.isEmpty() ||
        faximage::ReadFaxHeader(QFile::encodeName(attachedFile).toStdString(), header) != 0 || header.PageCount == 0)
      return fail(QString::fromLatin1(kAttachmentMissingText) + attachment);
    attachedPages = header.PageCount;
  }
  const bool hasPart[2] = {!ui::IsBlankForSending(docs[0]), !ui::IsBlankForSending(docs[1])};
  if (!hasPart[0] && !hasPart[1] && attachedFile.isEmpty()) return fail(QString::fromLatin1(kNoContentsText));

  // Merge fields show the record as it is now.
  const QString recipient = Q(fax.FieldString("RECIPIENT")).trimmed();
  const QString number = Q(fax.FieldString("PHONE")).trimmed();
  const QString subject = Q(fax.FieldString("SUBJECT")).trimmed();
  const QString date = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
  const QString time = QLocale::system().toString(QTime::currentTime(), QLocale::ShortFormat);
  ui::DocumentFaxOptions options;
  options.stationId = Settings().Fax;
  options.yield = true;
  options.fieldValue = [&](int kind) {
    QString v;
    switch (kind) {
      case kFieldRecipient: v = recipient; break;
      case kFieldFaxNumber: v = number; break;
      case kFieldSubject: v = subject; break;
      case kFieldDate: v = date; break;
      case kFieldTime: v = time; break;
      default: break;
    }
    return v.left(ui::kMaxMergeFieldLength);
  };

  observer.FlowStatus(QString::fromLatin1(kRenderingText));
  const std::string base = ui::RenderBaseFileName(dir);
  std::vector<std::string> files;  // one per editor, named after its first page
  int pages = 0;
  int rc = 0;
  for (int i = 0; i < 2 && rc == 0; ++i) {
    if (!hasPart[i]) continue;
    const std::string name = ui::RenderPageFileName(dir, pages + 1, base);
    int written = 0;
    rc = ui::WriteDocumentFax(docs[i], name, options, &written);
    if (rc == 0) {
      files.push_back(name);
      pages += written;
    }
  }

  observer.FlowStatus(QString::fromLatin1(kMergingText));
  for (size_t i = 1; i < files.size() && rc == 0; ++i) rc = faximage::AppendFaxFile(files[0], files[i]);
  if (rc == 0 && !attachedFile.isEmpty()) {
    if (files.empty()) {
      // Nothing rendered before the attached pages: a copy of them is the fax file.
      const std::string name = ui::RenderPageFileName(dir, 1, base);
      QFile::remove(Q(name));
      if (QFile::copy(attachedFile, Q(name)))
        files.push_back(name);
      else
        return fail(QString::fromLatin1(kAttachmentMissingText) + attachment);
    } else {
      rc = faximage::AppendFaxFile(files[0], QFile::encodeName(attachedFile).toStdString());
    }
    if (rc == 0) pages += attachedPages;
  }
  if (rc != 0) {
    for (const std::string& f : files) QFile::remove(Q(f));
    QFile::remove(Q(dir + kPageBitmapFile));
    return fail(Q(core::ErrorText(rc)));
  }
  for (size_t i = 1; i < files.size(); ++i) QFile::remove(Q(files[i]));
  QFile::remove(Q(dir + kPageBitmapFile));
  return TRenderedFax{Q(files[0]), pages};
}

// ---------------------------------------------------------------------------------------------
// The attempts

TSendSession::TSendSession(const QString& dataDir) : dataDir_(dataDir) {
  port_ = std::make_unique<comm::TQvComPort>();
  ConfigureFormPort(*port_);
  fax_ = std::make_unique<fax::TQvSendFax>();
  fax_->SetComPort(port_.get());
  fax_->FaxClass = fax::fcUnknown;
  fax_->FaxFileExt = kFaxFileExtension;
  fax_->EnhTextEnabled = true;
  // Handled from the window loop: the finish shows a modal box and closes the port, which must not
  // happen inside the engine's own delivery of its messages.
  fax_->OnFaxFinish = [this](fax::TQvAbstractFax*, int code) {
    QMetaObject::invokeMethod(this, [this, code] { FaxFinish(code); }, Qt::QueuedConnection);
  };
}

TSendSession::~TSendSession() {
  // A session still running ends before its port goes.
  Abort();
  fax_->SetStatusDisplay(nullptr);
  fax_->OnFaxFinish = nullptr;
  ClosePort();
}

TSendObserver* TSendSession::SetObserver(TSendObserver* observer) {
  TSendObserver* before = observer_;
  observer_ = observer;
  return before;
}

QString TSendSession::ResultText() const { return delivered_ ? QStringLiteral("Sent") : resultText_; }

void TSendSession::Abort() {
  if (fax_->Active()) fax_->AbortFax();
}

void TSendSession::ClosePort() {
  fax_->SetChannel(nullptr);  // its dispatcher ends with the port
  try {
    if (port_->Open()) port_->SetOpen(false);
  } catch (...) {
  }
}

void TSendSession::Busy(bool busy) {
  if (observer_) observer_->FlowBusy(busy);
}

void TSendSession::Status(const QString& text) {
  if (observer_) observer_->FlowStatus(text);
}

void TSendSession::Ended() {
  if (claimed_) {
    claimed_ = false;
    share_->ReleaseModem();
  }
  if (observer_) observer_->AttemptEnded();
}

void TSendSession::ResetAttempt() {
  Busy(false);
  ClosePort();
  sending_ = false;
  Status(QString());
}

// A failure before the call: the attempt ends and the user reads why; the title also becomes the
// attempt's result, so the record says what went wrong.
void TSendSession::PreCallFailed(const QString& title) {
  ResetAttempt();
  resultText_ = title;
}

void TSendSession::PreCallError(const QString& title, const QString& text) {
  if (observer_) observer_->FlowError(title, text, false);
}

bool TSendSession::PreCallAskContinue(const QString& title, const QString& text) {
  return observer_ && observer_->FlowAskContinue(title, text);
}

bool TSendSession::StartAttempt(const TDialOptions& dial) {
  if (sending_) return false;
  const TSettings& s = Settings();
  sending_ = true;
  lastReachedCall_ = false;
  lastFinishCode_ = 0;
  if (share_) {
    if (!share_->ClaimModem(observer_)) {
      sending_ = false;
      resultText_ = QStringLiteral("The modem is in use");
      Ended();
      return false;
    }
    claimed_ = true;
  }
  Busy(true);
  log_.Begin();
  Status(QStringLiteral("Opening communications port..."));
  const TCallSettings call =
      SendCallSettings(s, dial.number, dial.prefixOff ? std::nullopt : std::optional<QString>(dial.prefix),
                       dial.suffixOff ? std::nullopt : std::optional<QString>(dial.suffix));
  if (RunPreCallChecks(*port_, call, CallDirection::kSend, log_, *this) != PreCallResult::kReady) {
    log_.SaveIn(dataDir_);
    Ended();
    return false;
  }

  try {
    fax::TQvSendFax& f = *fax_;
    f.DesiredBPS = Clamp16(s.MaximumBPS);
    f.DesiredECM = s.ECM;
    f.BlindDial = s.BlindDial;
    f.DetectBusy = !s.IgnoreBusy;
    f.SetFaxFile(faxFile_.toStdString());
    f.CoverFile.clear();  // the cover sheet is part of the fax file
    f.PhoneNumber = (dial.number + (dial.suffixOff ? QString() : dial.suffix)).toStdString();
    f.UseMPS = !s.RenegotiateBetween;
    f.ToneDial = s.ToneOrPulse == 0;
    f.FaxClass = FaxClassOfSetting(s.FaxClass);
    f.DialAttempts = Clamp16(dial.dialAttempts > 0 ? dial.dialAttempts : s.DialAttempts);
    f.DialRetryWait = Clamp16(s.RetryWait);
    f.DialWait = Clamp16(DialWaitFromInit(s.InitString));
    f.StationID = s.Fax;
    f.DialPrefix = dial.prefixOff ? std::string() : dial.prefix.toStdString();
    if (!s.InitString.empty()) f.SetModemInit(WithAtPrefix(s.InitString));
    headerLine_ = SendHeaderLine(s, QDate::currentDate(), QTime::currentTime());
    f.HeaderLine = headerLine_.toStdString();
    f.EnhTextEnabled = !s.UseAlternateHeaderFont;
    Status(QString());
    Busy(false);
    f.StartSending();
  } catch (const std::exception& e) {
    // The session never started: nothing will finish it, so the attempt ends here and says why.
    const int code = core::ErrorCodeFromException(e);
    const QString why = code != 0 ? Q(core::ErrorText(code)) : Q(e.what());
    ResetAttempt();
    log_.Add(QStringLiteral("Error..."));
    log_.Add(QStringLiteral("Message:") + why);
    log_.SaveIn(dataDir_);
    resultText_ = why;
    if (observer_)
      observer_->FlowError(QString::fromLatin1(kFaxFailureTitle),
                           QString::fromLatin1(kFaxFailureText) + why + QStringLiteral("\r\n\r\n"), false);
    Ended();
    return false;
  }
  return true;
}

void TSendSession::FaxFinish(int code) {
  const QString message = Q(core::ErrorText(code));
  resultText_ = message;
  // What the call ran with: error correction, the page coding and the frames sent again.
  log_.Add(QStringLiteral("Error control: ") +
           Q(fax::ErrorControlText(fax_->SessionECM(), fax_->SessionCoding(), fax_->EcmFramesResent())));
  const QString line = TakeLineCallLogEntry(port_->ComNumber(), fax_->ConnectBPS());
  if (!line.isEmpty()) log_.Add(line);
  lastReachedCall_ = true;
  lastFinishCode_ = code;
  log_.Add(QStringLiteral("Result: ") + resultText_);
  if (code == 0 || resultText_.toUpper() == QLatin1String("OK")) {
    resultText_ = QStringLiteral("Sent");
    delivered_ = true;
  }
  PumpMessages();
  SendAfterResetString(*port_, *this);
  ClosePort();
  PumpMessages();
  sending_ = false;
  Status(QString());
  if (observer_) {
    if (resultText_ != QLatin1String("Sent")) {
      observer_->FlowError(QString::fromLatin1(kFaxFailureTitle),
                           QString::fromLatin1(kFaxFailureText) + message + QStringLiteral("\r\n\r\n"), false);
    } else {
      observer_->FlowInformation(QStringLiteral("Fax sent successfully"));
    }
  }
  log_.SaveIn(dataDir_);
  Ended();
}

// ---------------------------------------------------------------------------------------------
// The record

TOutgoingFax::TOutgoingFax(TFaxStore& store, int recNo, const QString& dataDir, TSendObserver* observer)
    : store_(store), recNo_(recNo), dataDir_(dataDir), observer_(observer), session_(dataDir) {
  session_.SetObserver(observer);
}

TOutgoingFax::~TOutgoingFax() {
  if (!rendered_.file.isEmpty()) QFile::remove(rendered_.file);
}

TablePair& TOutgoingFax::Record() {
  TablePair& fax = store_.Pair(TableId::Fax);
  // The record is the one the flow was made for, whatever happened meanwhile.
  if (recNo_ > 0 && fax.RecNo() != recNo_) fax.Go(recNo_);
  return fax;
}

bool TOutgoingFax::Render() {
  Record();
  TSendObserver quiet;
  rendered_ = RenderFaxRecord(store_, dataDir_.toStdString(), observer_ ? *observer_ : quiet);
  session_.SetFaxFile(rendered_.file);
  return !rendered_.file.isEmpty();
}

QString TOutgoingFax::Recipient() const { return Q(store_.Pair(TableId::Fax).FieldString("RECIPIENT")).trimmed(); }
QString TOutgoingFax::Subject() const { return Q(store_.Pair(TableId::Fax).FieldString("SUBJECT")).trimmed(); }
QString TOutgoingFax::Phone() const { return Q(store_.Pair(TableId::Fax).FieldString("PHONE")).trimmed(); }

bool TOutgoingFax::RecordOutcome(const QString& number) {
  if (!rendered_.file.isEmpty()) QFile::remove(rendered_.file);
  rendered_.file.clear();
  TablePair& fax = Record();
  if (!fax.Edit()) return false;
  const QString result = session_.ResultText();
  fax.SetFieldInt("PAGES", StoredPageCount(rendered_.pages));
  if (!result.trimmed().isEmpty()) fax.SetFieldString("LASTRESULT", result.toStdString());
  fax.SetFieldString("PHONE", number.toStdString());
  const QString upper = result.toUpper();
  if (upper == QLatin1String("SENT") || upper == QLatin1String("OK")) {
    fax.SetFieldBool("SENT", true);
    fax.SetFieldDate("DATESENT", QDate::currentDate().toString(QStringLiteral("yyyyMMdd")).toStdString());
    fax.SetFieldString("TIMESENT", QTime::currentTime().toString(QStringLiteral("hh:mm")).toStdString());
  }
  return fax.Post();
}

}  // namespace qv::app
