#pragma once
// The outbox: outgoing faxes queued to go out at a time of the user's choosing ("Send Later"), a
// printed job's fax, or a fax that waits for receive mode to let go of the modem. Due faxes go
// out one after another through the one modem, each by the outgoing-fax flow; the queue lives in
// its own file (outbox_queue.h) and so survives a restart.
//
// Retries. A try dials once, so that the modem is free between tries (receive mode comes back
// meanwhile). A try that ends busy, unanswered, or with a line, modem or session failure is tried
// again RetryWait seconds later, up to DialAttempts tries in a round (the Dialing settings); a
// round that failed is followed by another OutboxRetryPause seconds later, up to OutboxRounds
// rounds. A wrong number (a voice or data call answers, there is no fax machine), a far end that
// refuses the fax, a cancelled call, a fax that cannot be rendered and a record that has gone are
// given up at once: trying again would only repeat them.
//
// Receive mode: a due fax waits while a call is being received; then receive mode steps aside,
// the fax (and any other due one) goes out, and receive mode comes back by itself.

#include "app/flows/outgoing_fax.h"
#include "app/store/outbox_queue.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <set>
#include <vector>

namespace qv::app {

class TFaxStore;
class TReceiveService;

// Where the outbox takes the time from; tests run a faster one.
class TOutboxClock {
 public:
  virtual ~TOutboxClock() = default;
  virtual QDateTime Now() const = 0;
};

class TSystemClock : public TOutboxClock {
 public:
  QDateTime Now() const override { return QDateTime::currentDateTimeUtc(); }
};

// What the outbox tells and asks besides the common flow reports.
class TOutboxObserver : public TFlowObserver {
 public:
  // The queue changed (an entry's state or next try) or a record got an outcome: the grid shows it.
  virtual void OutboxChanged() {}
  // `count` queued faxes fell due while the program was closed: send them now? No keeps them
  // queued, unsent until the next start asks again.
  virtual bool OutboxSendOverdue(int /*count*/) { return false; }
};

// Whether a try that failed is worth another: `reachedCall` false means it ended before the call
// (port, modem, reset string), `code` is the session's finish code otherwise.
bool OutboxRetryWorthwhile(bool reachedCall, int code);

class TOutbox : public QObject, public TModemShare, public TSendObserver {
  Q_OBJECT
 public:
  // How often (real milliseconds) the queue is looked at for due faxes.
  static constexpr int kPollMs = 1000;

  // dataDir ends in "/"; the queue file lives there. The clock is not owned (nullptr: the system's).
  TOutbox(TFaxStore& store, const QString& dataDir, TOutboxObserver* observer = nullptr,
          const TOutboxClock* clock = nullptr);
  ~TOutbox() override;

  // Receive mode to step around (not owned; nullptr: none).
  void SetReceiveService(TReceiveService* receive) { receive_ = receive; }

  // Reads the queue (a damaged file is reported, what could be read is kept) and starts working
  // it. A fax that is due already fell due while the program was closed: the observer is asked
  // before it goes. A try the program was killed in counts as a failed try.
  void Start(int pollMs = kPollMs);
  // No further try starts; a running one is cancelled and its outcome recorded while the tables
  // are still open (the program closes): it counts as a try, and the fax is due again at once.
  void Stop();

  // Queues the outgoing record `recNo` to go out at `due` (now or earlier: at once). An entry of the
  // same record is replaced. False when the record is not there or the queue cannot be written
  // (the observer is told).
  bool Enqueue(int recNo, const QDateTime& due);
  // Takes a record out of the queue (it was deleted, or the user sends it by hand).
  bool Remove(int recNo);

  // Looks for a due fax and starts it when the modem can be had (the timer does this).
  void Poll();
  bool Sending() const { return current_ != nullptr; }
  // While held no try starts (the window packs the table, which renumbers its records).
  void Hold(bool held) { held_ = held; }
  const std::vector<TOutboxEntry>& Entries() const { return entries_; }
  const TOutboxEntry* EntryFor(int recNo) const;
  // What the outgoing grid shows of a record: empty when it is not queued.
  QString StateText(int recNo) const;
  QDateTime Now() const { return clock_->Now(); }

  // The Send Fax dialog's own attempts share the modem the same way: a claim waits for the
  // outbox's try and for a call being received to end, then has receive mode step aside; the
  // release lets receive mode come back.
  bool ClaimModem(TFlowObserver* observer) override;
  void ReleaseModem() override;

 private:
  TOutboxEntry* Find(int recNo);
  void Save();
  void Changed();
  // The record of an entry: at its number when that still holds it, else by its fields (a rebuild
  // of the indexes renumbers records). 0 when it has gone.
  int Locate(const TOutboxEntry& e);
  void Begin(TOutboxEntry& e);
  void Finish();
  void GiveUp(TOutboxEntry& e, const QString& why);
  void ResumeReceive();
  // Receive mode listens on the port sends go out on: a send waits for its call and has it step
  // aside. Not so on the practice line, whose receiving end is a port of its own.
  bool SharesReceive() const;
  // TSendObserver: the session's reports of a try.
  void FlowStatus(const QString& text) override;
  void FlowInformation(const QString& text) override;
  void FlowError(const QString& title, const QString& text, bool stays) override;
  void AttemptEnded() override;

  TFaxStore& store_;
  QString dataDir_;
  TOutboxObserver* observer_;
  TSystemClock systemClock_;
  const TOutboxClock* clock_;
  TReceiveService* receive_ = nullptr;
  std::vector<TOutboxEntry> entries_;
  // Overdue at start and the user said not now: left alone until the next start.
  std::set<int> heldThisRun_;
  QTimer timer_;
  bool started_ = false;
  bool claimed_ = false;        // the Send Fax dialog holds the modem
  bool held_ = false;
  bool steppedAside_ = false;   // receive mode stood aside for us
  bool finishing_ = false;
  bool stopping_ = false;       // Stop cancels the running try: no failure of the fax
  std::unique_ptr<TOutgoingFax> current_;
  int currentRecNo_ = 0;
  QString lastProblem_;         // what the try's flow said went wrong
};

}  // namespace qv::app
