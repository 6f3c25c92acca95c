#include "app/flows/pre_call.h"

#include "app/flows/call_settings.h"
#include "app/flows/session_log.h"
#include "app/flows/modem_routines.h"
#include "app/store/settings.h"
#include "comm/com_port.h"

namespace qv::app {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Where the user finds the Find Modem button: the Send Fax dialog points at the Preferences
// screen, receive mode at Preferences.
struct Advice {
  const char* portCheck;    // ends the port and reset texts
  const char* modemCheck;   // the second paragraph of the no-modem question
};
constexpr Advice kSendAdvice{
    ") correct? Please\r\nclick on the Find Modem button on the Preferences screen to be sure.",
    ".\r\n\r\nTo verify the communications port, please click on the Find Modem button on the Preferences "
    "screen.\r\n\r\nIf you are sure there is a modem on COM"};
constexpr Advice kReceiveAdvice{
    ") correct? Please\r\nclick on the Find Modem button in Preferences to be sure.",
    ".\r\n\r\nTo verify the communications port, please click on the Find Modem button in Preferences to be "
    "sure.\r\n\r\nIf you are sure there is a modem on COM"};

}  // namespace

PreCallResult RunPreCallChecks(comm::TQvComPort& port, const TCallSettings& settings, CallDirection direction,
                               TSessionLog& log, TPreCallHost& host) {
  const Advice& advice = direction == CallDirection::kSend ? kSendAdvice : kReceiveAdvice;
  const QString n = QString::number(settings.comNumber);
  const QString portText = QStringLiteral("Is the Communications Port (COM") + n + QLatin1String(advice.portCheck);

  log.Add(QStringLiteral("Opening com port: COM") + n);
  port.SetComNumber(settings.comNumber);
  std::string message;
  if (!OpenPortWithMessage(port, message)) {
    log.Add(QStringLiteral("Error opening com port: COM") + n);
    log.Add(QStringLiteral("Message:") + Q(message));
    const QString title = QStringLiteral("Error Opening Communications Port");
    host.PreCallFailed(title);
    host.PreCallError(title, Q(message) + QStringLiteral("\r\n\r\n") + portText);
    return PreCallResult::kPortFailed;
  }

  log.Add(QStringLiteral("Opened com port OK"));
  log.Add(QStringLiteral("Checking for modem"));
  if (!ModemResponds(port)) {
    log.Add(QStringLiteral("Error checking for modem"));
    const QString title = QStringLiteral("No Response From Modem");
    host.PreCallBusy(false);
    const bool goOn = host.PreCallAskContinue(
        title, QStringLiteral("We did not receive a modem response from COM") + n + QLatin1String(advice.modemCheck) + n +
                   QStringLiteral(", press CONTINUE\r\nto continue, otherwise press OK to stop the fax session."));
    if (!goOn) {
      host.PreCallFailed(title);
      log.Add(QStringLiteral("Exit"));
      return PreCallResult::kNoModem;
    }
    host.PreCallBusy(true);
  }

  if (!settings.resetString.empty()) {
    const QString reset = Q(settings.resetString);
    host.PreCallStatus(QStringLiteral("Sending reset string..."));
    log.Add(QStringLiteral("Sending reset string: ") + reset);
    if (!SendInitString(port, settings.resetString)) {
      log.Add(QStringLiteral("Failure sending reset string: ") + reset);
      const QString title = QStringLiteral("Unable to Continue");
      host.PreCallFailed(title);
      host.PreCallError(title, QStringLiteral("We are unable to continue the fax session. \r\n\r\nThe modem did not "
                                              "respond to the reset string:   (") +
                                   reset + QStringLiteral(")\r\n\r\n") + portText);
      log.Add(QStringLiteral("Exiting..."));
      return PreCallResult::kResetFailed;
    }
  }

  for (const QString& line : SettingsLogLines(settings)) log.Add(line);
  return PreCallResult::kReady;
}

void SendAfterResetString(comm::TQvComPort& port, TPreCallHost& host) {
  const std::string& after = Settings().ResetAfterString;
  if (after.empty() || !port.Open()) return;
  host.PreCallStatus(QStringLiteral("Sending AFTER reset string..."));
  SendInitString(port, after);
}

}  // namespace qv::app
