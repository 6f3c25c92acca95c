#include "app/forms/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

namespace qv::app {

namespace {
constexpr char kRaiseRequest[] = "raise\n";
constexpr char kAcknowledge[] = "ok\n";

QString ServerNameFor(const QString& dataDir) {
  // Socket names have a short length limit; a digest of the canonical path keeps them unique.
  const QString canonical = QDir(dataDir).canonicalPath();
  const QByteArray digest =
      QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
  return QStringLiteral("quorvane-") + QString::fromLatin1(digest);
}
}  // namespace

TJustOne::TJustOne(const QString& dataDir, QObject* parent)
    : QObject(parent),
      serverName_(ServerNameFor(dataDir)),
      lock_(QDir(dataDir).filePath(QStringLiteral("quorvane.lock"))) {
  // A lock is stale only when its owner process is gone, never because it is old.
  lock_.setStaleLockTime(0);
}

TJustOne::~TJustOne() {
  if (server_) server_->close();
  if (lock_.isLocked()) lock_.unlock();
}

bool TJustOne::Claim() {
  if (!lock_.tryLock(0)) {
    previous_ = true;
    return false;
  }
  previous_ = false;
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  // We own the lock, so a socket file left behind is from a crashed run.
  QLocalServer::removeServer(serverName_);
  server_->listen(serverName_);
  connect(server_, &QLocalServer::newConnection, this, &TJustOne::OnNewConnection);
  return true;
}

void TJustOne::OnNewConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      while (socket->canReadLine()) {
        if (socket->readLine() == kRaiseRequest) {
          emit raiseRequested();
          socket->write(kAcknowledge);
          socket->flush();
        }
      }
    });
  }
}

bool TJustOne::RaisePrevious(int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(serverName_);
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(kRaiseRequest);
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  while (!socket.canReadLine()) {
    if (!socket.waitForReadyRead(timeoutMs)) return false;
  }
  return socket.readLine() == kAcknowledge;
}

}  // namespace qv::app
