#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QFileInfo>
#endif

namespace kbc::app {
namespace {

constexpr int kTimeoutMs = 1000;
constexpr qsizetype kLongestRequest = 4096;

// A request is "raise", then "XDG_ACTIVATION_TOKEN=<token>" when the launcher gave one.
const QByteArray kRaise = "raise";
const QByteArray kTokenKey = "XDG_ACTIVATION_TOKEN=";

QString name_of(const QString& title) {
  // The title has characters and a length a socket path would rather not carry.
  const QByteArray digest = QCryptographicHash::hash(title.toUtf8(), QCryptographicHash::Sha1);
  return QStringLiteral("kbc-q7-") + QString::fromLatin1(digest.toHex().left(16));
}

}  // namespace

std::optional<QString> private_runtime_dir(QString* why) {
  const QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
  const auto refuse = [&](const QString& reason) {
    if (why) {
      *why = reason;
    }
    return std::nullopt;
  };
  if (folder.isEmpty()) {
    return refuse(QStringLiteral("XDG_RUNTIME_DIR is not set"));
  }
  if (QDir::isRelativePath(folder)) {
    return refuse(QStringLiteral("XDG_RUNTIME_DIR is not an absolute path"));
  }
#ifdef Q_OS_UNIX
  struct stat status {};
  if (stat(QFile::encodeName(folder).constData(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    return refuse(folder + QStringLiteral(" is no folder"));
  }
  if (status.st_uid != geteuid()) {
    return refuse(folder + QStringLiteral(" belongs to another user"));
  }
  if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    return refuse(folder + QStringLiteral(" is open to other users"));
  }
#else
  if (!QFileInfo(folder).isDir()) {
    return refuse(folder + QStringLiteral(" is no folder"));
  }
#endif
  return folder;
}

SingleInstance::SingleInstance(const QString& title, const QString& folder, QObject* parent)
    : QObject(parent),
      base_(QDir(folder).filePath(name_of(title))),
      lock_(base_ + QStringLiteral(".lock")) {
  // Only a lock whose process is gone is stale, however old it is.
  lock_.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Role SingleInstance::acquire() {
  if (lock_.tryLock(0)) {
    return Role::first;
  }
  return lock_.error() == QLockFile::LockFailedError ? Role::later : Role::failed;
}

bool SingleInstance::listen() {
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  // We hold the lock, so a socket left behind belongs to a copy that is gone.
  QLocalServer::removeServer(socket_path());
  if (!server_->listen(socket_path())) {
    return false;
  }
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, this, [this, socket] { read_request(socket); });
      connect(socket, &QLocalSocket::readyRead, this, [socket] {
        if (socket->bytesAvailable() > kLongestRequest) {
          socket->abort();
        }
      });
    }
  });
  return true;
}

void SingleInstance::read_request(QLocalSocket* socket) {
  socket->deleteLater();
  const QList<QByteArray> lines = socket->readAll().split('\n');
  if (lines.isEmpty() || lines.front() != kRaise) {
    return;
  }
  QString token;
  for (const QByteArray& line : lines) {
    if (line.startsWith(kTokenKey)) {
      token = QString::fromUtf8(line.mid(kTokenKey.size()));
    }
  }
  emit come_forward_requested(token);
}

bool SingleInstance::ask_to_come_forward(const QString& activation_token) {
  QLocalSocket socket;
  socket.connectToServer(socket_path());
  if (!socket.waitForConnected(kTimeoutMs)) {
    return false;
  }
  QByteArray request = kRaise + '\n';
  if (!activation_token.isEmpty()) {
    request += kTokenKey + activation_token.toUtf8() + '\n';
  }
  socket.write(request);
  const bool sent = socket.waitForBytesWritten(kTimeoutMs);
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) {
    socket.waitForDisconnected(kTimeoutMs);
  }
  return sent;
}

}  // namespace kbc::app
