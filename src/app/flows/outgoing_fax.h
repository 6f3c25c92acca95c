#pragma once
// Sending an outgoing fax, without a window: the record rendered into one QVF file, one send
// attempt after another through a port and transmit component of the flow's own (the pre-call
// checks, the session, the result text, "Lastsend.log"), and the outcome written into the record.
//
// Any way into sending uses it: the Send command of the main window with the Send Fax dialog as
// the observer of the attempts, and a caller without a dialog (a fax from a print job, a queued
// fax of the outbox) with an observer of its own and the dialling options from the settings.

#include "app/flows/call_settings.h"
#include "app/flows/flow_observer.h"
#include "app/flows/pre_call.h"
#include "app/flows/session_log.h"

#include <QDate>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTime>

#include <memory>
#include <optional>
#include <string>

namespace qv::comm {
class TQvComPort;
}
namespace qv::fax {
class TQvSendFax;
}

namespace qv::app {

class TFaxStore;
class TablePair;
struct TSettings;

// The seconds the modem waits for the far end to answer, unless the init string says otherwise.
inline constexpr int kDefaultDialWait = 60;
inline constexpr int kMinimumDialWait = 55;

// The dial wait (seconds) an initialisation string implies through its S7 register.
int DialWaitFromInit(const std::string& initString);
// The line the transmit component prints on top of every page ($I, $P and $N are its tags).
QString SendHeaderLine(const TSettings& s, const QDate& date, const QTime& time);
// The configuration summary of sending, one line each (the Send Fax dialog shows it).
QStringList SendConfigurationSummary(const TSettings& s);

// How one attempt dials: the number, and this call's prefix and suffix, each of which may be
// switched off for the call (it is still kept in the settings).
struct TDialOptions {
  QString number;
  QString prefix;
  QString suffix;
  bool prefixOff = false;
  bool suffixOff = false;
  // Dial attempts of this call; 0: the settings' DialAttempts (the outbox dials once a try and
  // keeps its own count, so that the modem is free between tries).
  int dialAttempts = 0;
  // The number with the prefix and suffix of the settings, as they are switched there.
  static TDialOptions FromSettings(const TSettings& s, const QString& number);
};

// What a send attempt tells besides the common flow reports.
class TSendObserver : public TFlowObserver {
 public:
  // An attempt ended: finished, failed, or refused before the call.
  virtual void AttemptEnded() {}
};

// Whoever else uses the modem (receive mode, the outbox): asked to free it before an attempt and
// told when the attempt has ended. A claim that cannot be had (the user was told) ends the
// attempt before the call.
class TModemShare {
 public:
  virtual ~TModemShare() = default;
  virtual bool ClaimModem(TFlowObserver* observer) = 0;
  virtual void ReleaseModem() = 0;
};

// A record rendered: the QVF file (empty when none could be made) and its pages.
struct TRenderedFax {
  QString file;
  int pages = 0;
};

// Renders the outgoing table's current record (cover sheet pages, then the document's, merge
// fields filled from the record) into one QVF file in the data directory (ending in "/"); the
// caller removes it. The observer sees the busy look and the progress texts; nothing is rendered
// (no working file is left) when a memo cannot be read, there is nothing to send or the file
// cannot be written, and the observer is told why.
TRenderedFax RenderFaxRecord(TFaxStore& store, const std::string& dataDir, TFlowObserver& observer);

// One send attempt after another of one fax file.
class TSendSession : public QObject, private TPreCallHost {
  Q_OBJECT
 public:
  // dataDir ends in "/"; "Lastsend.log" is written there.
  explicit TSendSession(const QString& dataDir);
  ~TSendSession() override;

  // Who sees the attempts (not owned; nullptr: nobody). Returns the one before.
  TSendObserver* SetObserver(TSendObserver* observer);
  QString DataDir() const { return dataDir_; }
  void SetFaxFile(const QString& file) { faxFile_ = file; }
  QString FaxFile() const { return faxFile_; }

  // Starts an attempt: the pre-call checks, then the session from the settings. True while the
  // session runs (its end comes as AttemptEnded); false when the attempt ended before the call
  // (AttemptEnded has come then) or one is running already (nothing happens).
  bool StartAttempt(const TDialOptions& dial);
  bool Sending() const { return sending_; }
  // Who shares the modem (not owned; nullptr: nobody).
  void SetModemShare(TModemShare* share) { share_ = share; }
  // The last attempt's result text; "Sent" once any attempt delivered the fax: a later attempt
  // that fails does not make it unsent (the user would be led to send it again).
  QString ResultText() const;
  bool Delivered() const { return delivered_; }
  // How the last attempt ended: whether it reached the call (the session ran and finished) and
  // the session's finish code then (0: delivered).
  bool LastReachedCall() const { return lastReachedCall_; }
  int LastFinishCode() const { return lastFinishCode_; }
  QString HeaderLine() const { return headerLine_; }
  const TSessionLog& Log() const { return log_; }
  // Ends a running session at once (its end still comes as AttemptEnded).
  void Abort();
  // Closes the port when it is open (not while sending).
  void ClosePort();

  comm::TQvComPort& Port() { return *port_; }
  fax::TQvSendFax& SendFax() { return *fax_; }

 private:
  void Busy(bool busy);
  void Status(const QString& text);
  void Ended();
  // Ends an attempt that did not reach the call: normal cursor, port closed, not sending.
  void ResetAttempt();
  void FaxFinish(int code);
  void PreCallStatus(const QString& text) override { Status(text); }
  void PreCallBusy(bool busy) override { Busy(busy); }
  void PreCallFailed(const QString& title) override;
  void PreCallError(const QString& title, const QString& text) override;
  bool PreCallAskContinue(const QString& title, const QString& text) override;

  QString dataDir_;
  TSendObserver* observer_ = nullptr;
  TModemShare* share_ = nullptr;
  bool claimed_ = false;
  bool sending_ = false;
  TSessionLog log_{TSessionLog::kSend};
  QString faxFile_;
  QString resultText_;
  bool delivered_ = false;
  bool lastReachedCall_ = false;
  int lastFinishCode_ = 0;
  QString headerLine_;
  std::unique_ptr<comm::TQvComPort> port_;
  std::unique_ptr<fax::TQvSendFax> fax_;
};

// An outgoing fax record from its rendering to its outcome.
class TOutgoingFax {
 public:
  // The record of that number in the outgoing table; dataDir ends in "/".
  TOutgoingFax(TFaxStore& store, int recNo, const QString& dataDir, TSendObserver* observer = nullptr);
  // Removes the rendered file.
  ~TOutgoingFax();

  // Renders the record (its observer sees the busy look and is told why nothing came of it).
  bool Render();
  QString FaxFile() const { return rendered_.file; }
  int Pages() const { return rendered_.pages; }
  // The record's fields.
  QString Recipient() const;
  QString Subject() const;
  QString Phone() const;

  // The attempts; its observer is this fax's until someone else watches them.
  TSendSession& Session() { return session_; }

  // Removes the rendered file and writes the outcome into the record: PAGES, PHONE (the number
  // dialled, or shown to the user), LASTRESULT when there is a result, and when the fax went out
  // SENT, DATESENT and TIMESENT. False when the record cannot be changed.
  bool RecordOutcome(const QString& number);

 private:
  TablePair& Record();

  TFaxStore& store_;
  int recNo_;
  QString dataDir_;
  TSendObserver* observer_;
  TRenderedFax rendered_;
  TSendSession session_;
};

}  // namespace qv::app
