#pragma once
// Receive mode, without a window: the port and receive component of its own, the pre-call checks,
// the component's events, the record of each received fax (and its print-out on receipt), the
// settling of files a call or a run left without a record, and "Lastrec.log" of each period.
// It shows and asks nothing itself: its observer (the main window) does.

#include "app/flows/flow_observer.h"
#include "app/flows/pre_call.h"
#include "app/flows/received_filing.h"
#include "app/flows/session_log.h"

#include <QObject>
#include <QString>

#include <memory>
#include <string>

namespace qv::comm {
class TQvComPort;
}
namespace qv::fax {
class TQvReceiveFax;
}

namespace qv::app {

class TFaxStore;

// What receive mode tells besides the common flow reports.
class TReceiveObserver : public TFlowObserver {
 public:
  // Receive mode is being started: received faxes come into view, the notice takes its starting
  // look.
  virtual void ReceiveStarting() {}
  // The notice shows (unless the user switched it off) or goes (a dialog follows, a call is
  // answered, receive mode ends).
  virtual void ReceiveNotice(bool /*shown*/) {}
  // Receive mode is on or off for the commands (the STOP button, the receive-mode guard).
  virtual void ReceiveModeChanged(bool /*on*/) {}
  // Receive mode runs: the notice's ready look, the tray.
  virtual void ReceiveReady() {}
  // The received table has changed.
  virtual void ReceivedTableChanged() {}
  // A received fax has been filed (the arrival sound).
  virtual void FaxFiled() {}
  // A received fax has its record: the notice, and why its print-out failed when it did.
  virtual void FaxArrived(const QString& /*file*/, const QString& /*from*/, int /*pages*/,
                          const QString& /*printProblem*/) {}
};

class TReceiveService : public QObject, private TPreCallHost {
  Q_OBJECT
 public:
  // dataDir ends in "/"; the received table of `store` gets the records.
  TReceiveService(TFaxStore& store, const QString& dataDir, TReceiveObserver* observer = nullptr);
  ~TReceiveService() override;

  void SetObserver(TReceiveObserver* observer) { observer_ = observer; }

  // Starts receive mode from the settings: true when it runs. A start that fails has told why,
  // closed the port and saved the log.
  bool Start();
  // Ends receive mode: the call in progress is cancelled (no error: it is the user's doing), the
  // after-reset string sent, the port closed and the log saved.
  void Stop();
  bool On() const { return on_; }

  // Sending shares the modem with receive mode: receive mode steps aside (the call in progress,
  // if any, is the caller's to wait for), its port is released and the status says so; for the
  // commands it stays on (the STOP button, the guard). Resume brings it back by itself, without
  // the notice; Stop while it stands aside ends it for good. True when it stepped aside.
  bool StepAside();
  bool Resume();
  bool Paused() const { return paused_; }
  // A start or a stop is running (both let messages run).
  bool Changing() const { return changing_; }
  // A call is being received now (from its acceptance to its end).
  bool ReceivingNow() const { return receivingNow_; }
  void SetReceivingNow(bool on) { receivingNow_ = on; }

  // Settles the file of a call the last run of the program left without a record.
  void RecoverInterrupted();

  const TSessionLog& Log() const { return log_; }
  int PagesReceived() const { return pagesReceived_; }
  comm::TQvComPort& Port() { return *port_; }
  fax::TQvReceiveFax& ReceiveFax() { return *fax_; }

 private:
  void Busy(bool busy);
  void Status(const QString& text);
  void Notice(bool shown);
  void Error(const QString& title, const QString& text, bool stays = false);
  void ClosePort();
  void Abandon();
  // Ends the session: the call cancelled, the after-reset string, the port closed.
  void EndSession();
  // The component's events.
  void FaxAccept(bool& accept);
  void FaxStatus(bool first, bool last);
  void FaxName(std::string& name);
  void FaxLog(int code);
  void FaxFinish(int code);
  void FaxReceived();
  // The call's media and rate in the log when it came over the Internet line.
  void LogLineMedia();
  void FaxFailed();
  // Prints a received fax as the settings ask; returns why nothing was printed (empty: printed).
  QString PrintOnReceipt(const QString& file);

  void PreCallStatus(const QString& text) override { Status(text); }
  void PreCallBusy(bool busy) override;
  void PreCallFailed(const QString& title) override;
  void PreCallError(const QString& title, const QString& text) override { Error(title, text); }
  bool PreCallAskContinue(const QString& title, const QString& text) override;

  TFaxStore& store_;
  QString dataDir_;
  TReceiveObserver* observer_;
  TReceivedFiling filing_;
  TSessionLog log_{TSessionLog::kReceive};
  bool on_ = false;
  bool paused_ = false;   // stepped aside for a fax to go out
  bool resuming_ = false; // a Resume runs: no notice, no page change
  bool changing_ = false;
  bool stopping_ = false;  // the user ended receive mode: a cancelled call is no error
  bool receivingNow_ = false;
  int lastFaxError_ = 0;
  int pagesReceived_ = 0;
  QString currentFile_;
  std::unique_ptr<comm::TQvComPort> port_;
  std::unique_ptr<fax::TQvReceiveFax> fax_;
};

}  // namespace qv::app
