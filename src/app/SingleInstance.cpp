#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QThread>

namespace velarix {
namespace {

constexpr char kShowRequest[] = "show\n";

}  // namespace

QString SingleInstance::ServerName(const std::string& key) {
  const QByteArray digest =
      QCryptographicHash::hash(QByteArray::fromStdString(key), QCryptographicHash::Sha256)
          .toHex()
          .left(20);
  return QStringLiteral("velarix-") + QString::fromLatin1(digest);
}

SingleInstance::SingleInstance(const std::string& key, QObject* parent)
    : QObject(parent),
      name_(ServerName(key)),
      lock_(QDir::tempPath() + '/' + name_ + QStringLiteral(".lock")) {
  // Only a holder that no longer runs makes the lock stale, however long the agent has run.
  lock_.setStaleLockTime(0);
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* peer = server_.nextPendingConnection()) {
      connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
      connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
        if (peer->canReadLine()) {
          const QByteArray line = peer->readLine(64);
          if (line == kShowRequest) emit ActivationRequested();
          peer->disconnectFromServer();
        }
      });
    }
  });
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::HandOver(std::chrono::milliseconds wait) {
  if (lock_.tryLock(0)) {
    // Holding the lock, any socket of that name is a crashed copy's.
    QLocalServer::removeServer(name_);
    server_.listen(name_);
    return false;
  }
  if (lock_.error() != QLockFile::LockFailedError) {
    // A lock that cannot even be made guards nothing; run rather than not at all, and leave
    // alone a socket that may be another copy's.
    server_.listen(name_);
    return false;
  }
  // The running copy may still be starting up and not listen yet.
  const QDeadlineTimer deadline(wait);
  do {
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (socket.waitForConnected(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0)))) {
      socket.write(kShowRequest);
      socket.waitForBytesWritten(1000);
      socket.disconnectFromServer();
      return true;
    }
    QThread::msleep(50);
  } while (!deadline.hasExpired());
  // The holder runs but does not answer: still, a second agent would upload twice.
  return true;
}

}  // namespace velarix
