#pragma once
// One running program per data directory: the first instance holds a lock file there and listens
// on a local socket; a later start tells it to come forward and ends.

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

namespace qv::app {

class TJustOne : public QObject {
  Q_OBJECT
 public:
  explicit TJustOne(const QString& dataDir, QObject* parent = nullptr);
  ~TJustOne() override;

  // Takes the lock. True: this is the only instance (and it now listens for later starts).
  // False: a previous instance holds the lock.
  bool Claim();
  bool PreviousInstanceRunning() const { return previous_; }
  // Asks the previous instance to bring its window forward; true when it acknowledged.
  bool RaisePrevious(int timeoutMs = 3000);

  QString ServerName() const { return serverName_; }

 signals:
  void raiseRequested();

 private:
  void OnNewConnection();

  QString serverName_;
  QLockFile lock_;
  QLocalServer* server_ = nullptr;
  bool previous_ = false;
};

}  // namespace qv::app
