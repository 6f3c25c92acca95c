#include "app/flows/outbox.h"

#include "app/flows/message_pump.h"
#include "app/flows/call_settings.h"
#include "app/flows/receive_service.h"
#include "app/store/fax_store.h"
#include "app/store/settings.h"
#include "app/store/table_pair.h"
#include "core/error_codes.h"

#include <QElapsedTimer>
#include <QTimeZone>
#include <QLocale>
#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <thread>

namespace qv::app {

namespace {

// A claim of the modem waits this long for a call being received, or a try of the outbox, to end.
constexpr int kClaimWaitMs = 10 * 60 * 1000;
constexpr int kClaimStepMs = 10;
// Closing waits this long for a try it cancels to finish.
constexpr int kStopWaitMs = 20000;

const char* const kWaitingForCallText = "A fax is waiting to be sent until the incoming call has ended";
const char* const kGoneText = "The fax is no longer in the outgoing list";
const char* const kInterruptedText = "The program ended during this try";

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

int64_t Seconds(const QDateTime& t) { return t.toSecsSinceEpoch(); }
// Times the queue keeps are whole seconds, rounded up: nothing goes before its time.
int64_t SecondsUp(const QDateTime& t) { return (t.toMSecsSinceEpoch() + 999) / 1000; }
QDateTime Time(int64_t seconds) { return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc()); }

// When an entry wants to go: its due time, or its next try.
int64_t WantsAt(const TOutboxEntry& e) { return e.state == OutboxState::kRetryWait ? e.nextTry : e.due; }
bool Waiting(const TOutboxEntry& e) {
  return e.state == OutboxState::kQueued || e.state == OutboxState::kRetryWait;
}

QString Shown(int64_t seconds) {
  return QLocale::system().toString(Time(seconds).toLocalTime(), QLocale::ShortFormat);
}

}  // namespace

bool OutboxRetryWorthwhile(bool reachedCall, int code) {
  // Before the call the port, the modem or its reset failed: another program may have held the
  // port, the modem may have been off. Worth another try.
  if (!reachedCall) return true;
  switch (code) {
    case 0:                          // delivered
    case core::ecFaxVoiceCall:       // a person answered: a wrong number
    case core::ecFaxDataCall:        // a data modem answered: no fax machine there
    case core::ecFaxBadMachine:      // the far end cannot take what we send
    case core::ecFileRejected:       // the far end refused the fax
    case core::ecNoFilename:         // our own file is gone: nothing to send
    case core::ecCancelRequested:    // the user cancelled the call
      return false;
    default:
      // Busy, no answer, no dial tone, no carrier, training, page and time-out failures: the line
      // or the far end may do better next time.
      return true;
  }
}

TOutbox::TOutbox(TFaxStore& store, const QString& dataDir, TOutboxObserver* observer, const TOutboxClock* clock)
    : store_(store), dataDir_(dataDir), observer_(observer), clock_(clock ? clock : &systemClock_) {
  connect(&timer_, &QTimer::timeout, this, &TOutbox::Poll);
}

TOutbox::~TOutbox() {
  timer_.stop();
  observer_ = nullptr;
  if (current_) {
    // The program ends during a try: the entry stays "sending" in the file and the next start
    // counts it as a failed try. The session ends before its port goes.
    current_->Session().SetObserver(nullptr);
    current_.reset();
  }
}

// ---------------------------------------------------------------------------------------------
// The queue

TOutboxEntry* TOutbox::Find(int recNo) {
  for (TOutboxEntry& e : entries_)
    if (e.recNo == recNo) return &e;
  return nullptr;
}

const TOutboxEntry* TOutbox::EntryFor(int recNo) const {
  for (const TOutboxEntry& e : entries_)
    if (e.recNo == recNo) return &e;
  return nullptr;
}

void TOutbox::Save() {
  if (WriteOutbox(S(dataDir_), entries_)) return;
  // The entries stay in memory and go out in this run; only a restart would lose the change.
  if (observer_)
    observer_->FlowError(QStringLiteral("Outbox"),
                         QStringLiteral("The outbox file could not be written: ") + QString::fromLocal8Bit(std::strerror(errno)) +
                             QStringLiteral("\r\n\r\nThe queued faxes are kept while Quorvane runs. Free some disk "
                                            "space so that they are kept after it closes too."),
                         false);
}

void TOutbox::Changed() {
  if (observer_) observer_->OutboxChanged();
}

QString TOutbox::StateText(int recNo) const {
  const TOutboxEntry* e = EntryFor(recNo);
  if (!e) return QString();
  switch (e->state) {
    case OutboxState::kQueued:
      if (heldThisRun_.count(recNo)) return QStringLiteral("Queued (held until the next start)");
      return QStringLiteral("Queued for ") + Shown(e->due);
    case OutboxState::kSending:
      return QStringLiteral("Sending (try ") + QString::number(e->attempts) + QLatin1Char(')');
    case OutboxState::kRetryWait:
      return QStringLiteral("Retry at ") + Shown(e->nextTry) + QStringLiteral(" (") + QString::number(e->attempts) +
             (e->attempts == 1 ? QStringLiteral(" try made") : QStringLiteral(" tries made")) + QLatin1Char(')');
    case OutboxState::kSent:
      return QStringLiteral("Sent");
    case OutboxState::kFailed:
      return QStringLiteral("Failed: ") + Q(e->reason);
  }
  return QString();
}

void TOutbox::Start(int pollMs) {
  std::string problem;
  std::vector<TOutboxEntry> read;
  ReadOutbox(S(dataDir_), read, problem);
  if (!problem.empty() && observer_) observer_->FlowError(QStringLiteral("Outbox"), Q(problem), true);
  entries_.clear();
  const int64_t now = Seconds(clock_->Now());
  int overdue = 0;
  for (TOutboxEntry& e : read) {
    // Sent faxes have their record's word for it; the queue forgets them at the next start.
    if (e.state == OutboxState::kSent) continue;
    if (e.state == OutboxState::kSending) {
      // Killed during a try: it counts, and the fax is due again now.
      e.state = OutboxState::kRetryWait;
      e.nextTry = now;
      e.reason = kInterruptedText;
    }
    if (Waiting(e) && WantsAt(e) <= now) {
      e.asked = false;
      ++overdue;
    }
    entries_.push_back(std::move(e));
  }
  if (overdue > 0) {
    const bool go = observer_ && observer_->OutboxSendOverdue(overdue);
    for (TOutboxEntry& e : entries_) {
      if (!Waiting(e) || WantsAt(e) > now) continue;
      if (go)
        e.asked = true;
      else
        heldThisRun_.insert(e.recNo);
    }
  }
  if (!read.empty() || !problem.empty()) Save();
  started_ = true;
  timer_.start(pollMs);
  Changed();
  QMetaObject::invokeMethod(this, &TOutbox::Poll, Qt::QueuedConnection);
}

void TOutbox::Stop() {
  started_ = false;
  timer_.stop();
  if (!current_) return;
  stopping_ = true;
  current_->Session().Abort();
  // The session hangs up on its port's threads and finishes through the window loop.
  QElapsedTimer clock;
  clock.start();
  while ((current_ || finishing_) && clock.elapsed() < kStopWaitMs) {
    PumpMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(kClaimStepMs));
  }
  stopping_ = false;
}

bool TOutbox::Enqueue(int recNo, const QDateTime& due) {
  TablePair& fax = store_.Pair(TableId::Fax);
  std::vector<uint8_t> raw;
  if (recNo <= 0 || !fax.ReadRecord(recNo, raw) || TablePair::IsDeletedFrom(raw)) {
    if (observer_) observer_->FlowInformation(QString::fromLatin1(kGoneText));
    return false;
  }
  if (current_ && currentRecNo_ == recNo) {
    if (observer_) observer_->FlowInformation(QStringLiteral("This fax is being sent now"));
    return false;
  }
  TOutboxEntry e;
  e.recNo = recNo;
  e.due = SecondsUp(due.isValid() ? due : clock_->Now());
  e.state = OutboxState::kQueued;
  e.recipient = Q(fax.FieldStringFrom(raw, "RECIPIENT")).trimmed().toStdString();
  e.phone = Q(fax.FieldStringFrom(raw, "PHONE")).trimmed().toStdString();
  e.subject = Q(fax.FieldStringFrom(raw, "SUBJECT")).trimmed().toStdString();
  e.asked = true;  // the user queued it just now
  heldThisRun_.erase(recNo);
  if (TOutboxEntry* old = Find(recNo))
    *old = e;
  else
    entries_.push_back(e);
  Save();
  Changed();
  if (started_) QMetaObject::invokeMethod(this, &TOutbox::Poll, Qt::QueuedConnection);
  return true;
}

bool TOutbox::Remove(int recNo) {
  if (current_ && currentRecNo_ == recNo) return false;
  const auto before = entries_.size();
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [&](const TOutboxEntry& e) { return e.recNo == recNo; }),
                 entries_.end());
  if (entries_.size() == before) return false;
  Save();
  Changed();
  return true;
}

int TOutbox::Locate(const TOutboxEntry& e) {
  TablePair& fax = store_.Pair(TableId::Fax);
  std::vector<uint8_t> raw;
  auto field = [&](const char* name) { return Q(fax.FieldStringFrom(raw, name)).trimmed().toStdString(); };
  auto matches = [&](int need) {
    const int same = (field("RECIPIENT") == e.recipient) + (field("PHONE") == e.phone) + (field("SUBJECT") == e.subject);
    return same >= need;
  };
  // At its number, the record may have been edited since (a corrected number): two of its three
  // fields still tell it is the same fax.
  if (fax.ReadRecord(e.recNo, raw) && !TablePair::IsDeletedFrom(raw) && matches(2)) return e.recNo;
  const int count = fax.RecCount();
  for (int n = 1; n <= count; ++n) {
    if (n == e.recNo) continue;
    if (fax.ReadRecord(n, raw) && !TablePair::IsDeletedFrom(raw) && !fax.FieldBoolFrom(raw, "SENT") && matches(3))
      return n;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Working the queue

void TOutbox::Poll() {
  if (claimed_ || current_ || finishing_ || held_) return;
  if (!started_) {
    ResumeReceive();
    return;
  }
  if (receive_ && receive_->Changing()) return;
  // The window closes and reopens the table after a change and lets messages run meanwhile.
  if (!store_.Pair(TableId::Fax).IsOpen()) return;
  const int64_t now = Seconds(clock_->Now());
  TOutboxEntry* next = nullptr;
  for (TOutboxEntry& e : entries_) {
    if (!Waiting(e) || WantsAt(e) > now || heldThisRun_.count(e.recNo)) continue;
    if (!next || WantsAt(e) < WantsAt(*next)) next = &e;
  }
  if (!next) {
    ResumeReceive();
    return;
  }
  if (SharesReceive() && receive_->ReceivingNow()) {
    if (observer_) observer_->FlowStatus(QString::fromLatin1(kWaitingForCallText));
    return;
  }
  if (SharesReceive() && receive_->On()) {
    if (!receive_->StepAside()) return;
    steppedAside_ = true;
  }
  Begin(*next);
}

bool TOutbox::SharesReceive() const { return receive_ && SendSharesReceivePort(Settings()); }

void TOutbox::GiveUp(TOutboxEntry& e, const QString& why) {
  e.state = OutboxState::kFailed;
  e.reason = S(why);
  Save();
  Changed();
}

void TOutbox::Begin(TOutboxEntry& e) {
  const int recNo = Locate(e);
  if (recNo == 0) {
    GiveUp(e, QString::fromLatin1(kGoneText));
    QMetaObject::invokeMethod(this, &TOutbox::Poll, Qt::QueuedConnection);
    return;
  }
  e.recNo = recNo;
  TablePair& fax = store_.Pair(TableId::Fax);
  const int userRecNo = fax.RecNo();
  lastProblem_.clear();
  currentRecNo_ = recNo;
  current_ = std::make_unique<TOutgoingFax>(store_, recNo, dataDir_, this);
  const bool rendered = current_->Render();
  if (!rendered) {
    current_.reset();
    fax.Go(userRecNo);
    GiveUp(e, lastProblem_.isEmpty() ? QStringLiteral("Error creating fax file") : lastProblem_);
    QMetaObject::invokeMethod(this, &TOutbox::Poll, Qt::QueuedConnection);
    return;
  }
  fax.Go(userRecNo);
  // Counted before the call: a try the program does not live through still counts.
  ++e.attempts;
  e.state = OutboxState::kSending;
  e.reason.clear();
  Save();
  Changed();
  if (observer_)
    observer_->FlowStatus(QStringLiteral("Sending queued fax to ") + current_->Recipient() + QStringLiteral(" (try ") +
                          QString::number(e.attempts) + QLatin1Char(')'));
  TDialOptions dial = TDialOptions::FromSettings(Settings(), Q(e.phone));
  dial.dialAttempts = 1;
  current_->Session().StartAttempt(dial);  // its end comes as AttemptEnded, also when refused
}

void TOutbox::AttemptEnded() {
  // Reported from inside the session (also from StartAttempt itself): the flow is let go after.
  if (finishing_) return;
  finishing_ = true;
  QMetaObject::invokeMethod(this, &TOutbox::Finish, Qt::QueuedConnection);
}

void TOutbox::Finish() {
  finishing_ = false;
  if (!current_) return;
  TSendSession& session = current_->Session();
  const bool delivered = session.Delivered();
  const bool reached = session.LastReachedCall();
  const int code = session.LastFinishCode();
  QString result = session.ResultText();
  if (!lastProblem_.isEmpty() && !reached) result = lastProblem_;

  TablePair& fax = store_.Pair(TableId::Fax);
  const int userRecNo = fax.RecNo();
  current_->RecordOutcome(Q(Find(currentRecNo_) ? Find(currentRecNo_)->phone : std::string()));
  current_.reset();
  store_.FaxTableCloseAndOpen();
  fax.Go(userRecNo);

  if (TOutboxEntry* e = Find(currentRecNo_)) {
    const TSettings& s = Settings();
    const int perRound = std::max(1, s.DialAttempts);
    const int rounds = std::max(1, s.OutboxRounds);
    // The wait counts from the end of this try, never less.
    const int64_t now = SecondsUp(clock_->Now());
    e->reason = S(result);
    if (delivered) {
      e->state = OutboxState::kSent;
    } else if (stopping_) {
      // The program closes: not the fax's fault; the next start asks to send it.
      e->state = OutboxState::kRetryWait;
      e->nextTry = now;
      e->reason = kInterruptedText;
    } else if (!OutboxRetryWorthwhile(reached, code)) {
      e->state = OutboxState::kFailed;
    } else if (e->attempts % perRound != 0) {
      e->state = OutboxState::kRetryWait;
      e->nextTry = now + std::max(0, s.RetryWait);
    } else if (e->attempts / perRound < rounds) {
      e->state = OutboxState::kRetryWait;
      e->nextTry = now + std::max(0, s.OutboxRetryPause);
    } else {
      e->state = OutboxState::kFailed;
      e->reason = S(QStringLiteral("Gave up after ") + QString::number(e->attempts) + QStringLiteral(" tries: ") + result);
    }
    Save();
  }
  currentRecNo_ = 0;
  if (observer_) observer_->FlowStatus(QString());
  Changed();
  // The next due fax uses the modem in turn; receive mode comes back when none is due.
  Poll();
}

void TOutbox::ResumeReceive() {
  // Closing: receive mode ends with the window, it does not come back first.
  if (!steppedAside_ || claimed_ || current_ || stopping_) return;
  steppedAside_ = false;
  if (receive_ && receive_->Paused()) receive_->Resume();
}

// ---------------------------------------------------------------------------------------------
// The flow's reports of a try: the outbox runs unattended, so nothing waits for a click; what
// went wrong becomes the entry's reason and the record's result.

void TOutbox::FlowStatus(const QString& text) {
  if (observer_) observer_->FlowStatus(text);
}

void TOutbox::FlowInformation(const QString& text) {
  // "Fax sent successfully" is told by the grid; anything else is why the try came to nothing.
  if (text != QLatin1String("Fax sent successfully")) lastProblem_ = text;
}

void TOutbox::FlowError(const QString& title, const QString&, bool) { lastProblem_ = title; }

// ---------------------------------------------------------------------------------------------
// The Send Fax dialog's attempts

bool TOutbox::ClaimModem(TFlowObserver* observer) {
  QElapsedTimer clock;
  clock.start();
  bool told = false;
  // The outbox's own try, or a call being received on the same modem, finishes first.
  while (current_ || finishing_ || (SharesReceive() && (receive_->ReceivingNow() || receive_->Changing()))) {
    if (clock.elapsed() > kClaimWaitMs) {
      if (observer) observer->FlowInformation(QStringLiteral("The modem is still in use. Please try again later."));
      return false;
    }
    if (!told && observer) observer->FlowStatus(QString::fromLatin1(current_ ? "Waiting for the outbox to finish its fax..."
                                                                              : "Waiting for the incoming call to end..."));
    told = true;
    PumpMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(kClaimStepMs));
  }
  claimed_ = true;
  if (SharesReceive() && receive_->On()) {
    if (receive_->StepAside()) steppedAside_ = true;
  }
  return true;
}

void TOutbox::ReleaseModem() {
  claimed_ = false;
  // A due fax may go while the modem is free; receive mode comes back after it (Poll).
  QMetaObject::invokeMethod(this, &TOutbox::Poll, Qt::QueuedConnection);
}

}  // namespace qv::app
