#pragma once
// The Internet fax line's settings: the SIP server, the account and the station, in the settings
// file's section of their own, and the account's password in the desktop's secret store (or, when
// no secret service runs, in a file only the user may read). The password never goes into the
// settings file.

#include <QString>

#include <string>

namespace qv::app {

inline constexpr const char* kLineSection = "InternetLine";

struct TLineSettings {
  bool enabled = false;  // the chosen port is the Internet line, not a COM port
  QString server;        // registrar and proxy: a host, host:port or sip: URI
  QString user;
  // The domain of the account's address (sip:USER@DOMAIN) and of the numbers it dials, when the
  // provider's differs from the server's host name (a registrar at sip.example.net serving
  // accounts of example.net); "" = the server's host.
  QString domain;
  QString callerId;      // shown to the called side; also the station
  bool t38 = true;

  // The server as a SIP URI ("sip:host[:port]"); "" when none is set.
  QString RegistrarUri() const;
};

TLineSettings LoadLineSettings(const std::string& iniFile);
void SaveLineSettings(const TLineSettings& settings, const std::string& iniFile);

class TLineSecret {
 public:
  // dataDir ends in "/": the fallback file lives there.
  explicit TLineSecret(const QString& dataDir);

  // Stores the password for the user; false with a sentence in *error when it cannot be kept.
  bool Store(const QString& user, const QString& password, QString* error = nullptr);
  // The stored password; "" when none.
  QString Load(const QString& user) const;

  // The file used when no secret service runs: one line, readable only by the user.
  QString FallbackFile() const { return dataDir_ + QStringLiteral("line.secret"); }
  // Whether the desktop's secret service is there to ask (a session bus to reach it on).
  static bool SecretServiceAvailable();

 private:
  QString dataDir_;
};

}  // namespace qv::app
