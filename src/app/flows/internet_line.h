#pragma once
// The Internet fax line as the program's modem: it starts `qvline` with the line's settings,
// waits for its modem to come up on a pseudo-terminal and hands that device to the fax engine as
// its port, so sending, receive mode, Find Modem Port and Check Fax Class work on it as on any
// Class 1 modem. It reports the registration in plain words, restarts a line that died (a few
// times, then says so) and stops it when the program ends. The password reaches qvline through
// a file only the user may read, never through its command line.

#include <QObject>
#include <QProcess>
#include <QString>

#include <memory>

#include "app/store/line_settings.h"

namespace qv::app {

// What a status line of qvline means to a person; "" for lines that are not about registration.
QString LineStatusText(const QString& statusLine);

// The entry a session log gives a call that went over the Internet line on COM`comNumber`: how
// the line carried it (T.38 or G.711 and its codec) and the fax's rate (`bps`, 0: none agreed),
// e.g. "Internet line: G.711 PCMU, 9600 bps". "" when that port is no running line or the call
// agreed no media. Each call's media is told once: a later call that never reached the far end
// does not repeat the one before.
QString TakeLineCallLogEntry(int comNumber, int bps);

// Ends a line process the program started (qvline, the practice line's qvmodem): asked first
// (on SIGTERM it hangs up and removes its links), killed if it has not gone after a grace period.
void StopLineProcess(QProcess& process);

class TInternetLine : public QObject {
  Q_OBJECT
 public:
  // program: the qvline executable. dataDir ends in "/": the modem's link and the password file
  // for qvline go there.
  // name: the stem of its files in dataDir (link, log, password file), so a Test never meets the
  // line in service.
  TInternetLine(QString program, QString dataDir, QString name = QStringLiteral("internet-line"),
                QObject* parent = nullptr);
  ~TInternetLine() override;

  // Starts the line and waits (bounded) for its modem; "" or, in plain words, why not.
  QString Start(const TLineSettings& settings, const QString& password, int timeoutMs = 10000);
  // Waits (bounded) for the first registration report; its plain words, or a time-out text.
  QString WaitForRegistration(int timeoutMs);
  void Stop();

  bool Running() const { return process_ && process_->state() == QProcess::Running; }
  // The device the fax engine opens: a link to the modem's pty.
  QString Device() const { return dataDir_ + name_ + QStringLiteral(".modem"); }
  QString Status() const { return status_; }
  // How the call in progress (or the last one) is carried, as qvline said it ("G.711 PCMU"); ""
  // before a call agreed its media. Taking it clears it.
  QString TakeCallMedia();
  // The call log qvline writes (the last call's SIP exchange and media).
  QString LogFile() const { return dataDir_ + name_ + QStringLiteral(".log"); }

  // How long each attempt to register waits for the server before it counts as no answer; 0
  // (the default): SIP's own time-out. Takes effect at the next Start.
  void SetRegisterTimeout(int seconds) { registerTimeoutSeconds_ = seconds; }

  // A Test's attempt waits this long for the server: a person is waiting for the answer.
  static constexpr int kTestRegisterTimeoutSeconds = 8;

  // Tries the settings once: starts a line, waits for its registration report, stops it. The
  // plain-words result, for the "Test" button.
  static QString Test(const QString& program, const QString& dataDir, const TLineSettings& settings,
                      const QString& password, int timeoutMs);

 signals:
  void statusChanged(const QString& text);
  // The line ended by itself and will not be restarted.
  void failed(const QString& why);

 private:
  void ReadOutput();
  void Finished();
  QString Launch();

  QString program_, dataDir_, name_;
  TLineSettings settings_;
  QString passwordFile_;
  QString password_;  // kept to start the line again after it died
  std::unique_ptr<QProcess> process_;
  QString pending_;  // output not yet a whole line
  bool ready_ = false, stopping_ = false;
  QString status_;
  QString media_;
  int restarts_ = 0;
  int registerTimeoutSeconds_ = 0;
};

}  // namespace qv::app
