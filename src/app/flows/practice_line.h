#pragma once
// The practice line: for a user with neither a fax modem nor an Internet fax line. The program
// starts `qvmodem` as a pair of virtual fax modems joined by a virtual phone line and hands the
// two ends to the fax engine as the practice line's own ports (kPracticeSendCom and
// kPracticeReceiveCom): sending dials out on the one, receive mode answers on the other, so a fax
// sent from this computer arrives in its own Incoming list. Nothing leaves the computer. The pair
// runs while the program does and is stopped with it.

#include <QObject>
#include <QProcess>
#include <QString>

#include <memory>

namespace qv::app {

// The qvmodem program beside this one (QV_MODEM_PROGRAM overrides it, for tests and packagers).
QString ModemProgram();

class TPracticeLine : public QObject {
  Q_OBJECT
 public:
  // dataDir ends in "/": the links to the two modems go there.
  TPracticeLine(QString program, QString dataDir, QObject* parent = nullptr);
  ~TPracticeLine() override;

  // Starts the pair, waits (bounded) until both modems are up and points the practice line's
  // ports at them; "" or, in plain words, why not.
  QString Start(int timeoutMs = 10000);
  // Stops the pair and gives the ports back (to nothing: they name no device of their own).
  void Stop();
  bool Running() const { return process_ && process_->state() == QProcess::Running; }

  // The links to the sending and the answering modem.
  QString SendDevice() const { return dataDir_ + QStringLiteral("practice-send.modem"); }
  QString ReceiveDevice() const { return dataDir_ + QStringLiteral("practice-receive.modem"); }

 signals:
  // The pair ended by itself: the practice line is gone until the next start.
  void failed(const QString& why);

 private:
  void Finished();
  void Unmap();

  QString program_, dataDir_;
  std::unique_ptr<QProcess> process_;
  bool stopping_ = false;
};

}  // namespace qv::app
