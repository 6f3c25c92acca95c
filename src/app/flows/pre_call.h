#pragma once
// The steps before every fax session, sending or receiving: open the port, check that a modem
// answers (asking whether to go on when none does), send the reset string, and log the settings
// of the call. One routine for both directions; only the advice where to find the modem differs.

#include <QString>

namespace qv::comm {
class TQvComPort;
}

namespace qv::app {

class TSessionLog;
struct TCallSettings;

enum class CallDirection { kSend, kReceive };

// What the checks came to. Anything but kReady has ended the attempt: the user has been told,
// the log says why, and the host has closed the port.
enum class PreCallResult { kReady, kPortFailed, kNoModem, kResetFailed };

// The one who runs the checks: it shows their progress and dialogs and resets its own look.
class TPreCallHost {
 public:
  virtual ~TPreCallHost() = default;
  virtual void PreCallStatus(const QString& text) = 0;
  // The hourglass goes before the question whether to go on without a modem, and comes back
  // when the user goes on.
  virtual void PreCallBusy(bool busy) = 0;
  // The checks end here (`title` names why): the port is to be closed and the look reset before
  // the user reads why.
  virtual void PreCallFailed(const QString& title) = 0;
  virtual void PreCallError(const QString& title, const QString& text) = 0;
  // The error dialog with a Continue button: true when the user chose to go on.
  virtual bool PreCallAskContinue(const QString& title, const QString& text) = 0;
};

// Runs the checks on `port` for a call with `settings`, logging each step.
PreCallResult RunPreCallChecks(comm::TQvComPort& port, const TCallSettings& settings, CallDirection direction,
                               TSessionLog& log, TPreCallHost& host);

// After a session: the settings' after-reset string, when there is one and the port is open.
void SendAfterResetString(comm::TQvComPort& port, TPreCallHost& host);

}  // namespace qv::app
