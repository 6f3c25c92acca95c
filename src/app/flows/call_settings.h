#pragma once
// The settings record as a fax call uses it: the fax-class setting decoded, the modem strings as
// the modem gets them, and the settings of one direction (sending or receiving) as the session
// log lists them.

#include "fax/fax_class.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <string>

namespace qv::app {

struct TSettings;

// The fax-class settings Modem/FaxClass and Modem/FaxClassReceive: 0 auto detect, 1 Class 1,
// 2 Class 2, 3 Class 2.0. Any other value is unknown and lets the session detect the class.
inline constexpr int kFaxClassSettings = 4;
fax::TFaxClass FaxClassOfSetting(int code);
// "AutoDetect", "Class 1", "Class 2", "Class 2.0"; "unknown" for any other value.
std::string FaxClassName(int code);
// The same as the Send Fax dialog's summary writes it ("Autodetect"); empty for any other value.
QString FaxClassSummaryName(int code);

// "AT" put in front of a modem string that holds none (upper-cased).
std::string WithAtPrefix(const std::string& text);

// The settings of one call as the pre-call checks use and log them.
struct TCallSettings {
  int comNumber = 1;          // COMn
  std::string resetString;    // sent before the session when not empty
  int bps = 0;
  bool ecm = false;
  bool pulse = false;
  int faxClass = 0;           // the setting's code, logged by name
  std::string initString;     // as stored
  // Sending only: how the number is dialled.
  struct Dialing {
    bool blindDial = false;
    bool ignoreBusy = false;
    bool renegotiate = false;
    QString number;
    std::optional<QString> prefix;  // absent: switched off for this call
    std::optional<QString> suffix;
    std::string stationId;
  };
  std::optional<Dialing> dialing;
};

// The COM ports of the two directions. Sending and receive mode share the modem's port
// (COM(ComPort + 1)), except on the practice line: its two ends, joined by a virtual line, take
// two numbers of their own beyond the wizard's six, so that a fax sent on the one arrives on the
// other while receive mode runs, and the modem's own port setting stays as the user chose it.
inline constexpr int kPracticeSendCom = 7;
inline constexpr int kPracticeReceiveCom = 8;
int SendComNumber(const TSettings& s);
int ReceiveComNumber(const TSettings& s);
// Whether a send must have receive mode step aside: both use the one modem.
bool SendSharesReceivePort(const TSettings& s);

// The call settings of sending to `number` with this call's prefix and suffix.
TCallSettings SendCallSettings(const TSettings& s, const QString& number, const std::optional<QString>& prefix,
                               const std::optional<QString>& suffix);
TCallSettings ReceiveCallSettings(const TSettings& s);

// The lines the session log lists the settings with, in the log's order.
QStringList SettingsLogLines(const TCallSettings& call);

}  // namespace qv::app
