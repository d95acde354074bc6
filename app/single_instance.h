// One running copy per user. A lock file decides which copy is the first; the first listens on a
// local socket, and a later copy asks it there to come forward and then ends. Both live in the
// user's private runtime folder under a name made from the application title. A copy that crashed
// leaves a lock whose process is gone, which the next copy takes over, and a socket nobody listens
// on, which the new first copy replaces.
#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <optional>

class QLocalServer;
class QLocalSocket;

namespace kbc::app {

// The user's runtime folder ($XDG_RUNTIME_DIR) where only the user can reach it: an absolute
// path to a folder the user owns, closed to everyone else. Otherwise nullopt, and `why` says what
// is wrong with it.
std::optional<QString> private_runtime_dir(QString* why);

class SingleInstance final : public QObject {
  Q_OBJECT

 public:
  enum class Role { first, later, failed };

  // folder: where the lock and the socket live, a private one.
  SingleInstance(const QString& title, const QString& folder, QObject* parent = nullptr);
  ~SingleInstance() override;

  // Takes the lock if no running copy holds it; failed when the lock cannot be made at all.
  Role acquire();
  // The first copy: from now on later copies reach it. False when the socket cannot be made.
  bool listen();
  // A later copy: asks the first to come forward, passing the launcher's activation token on.
  // False when no copy listens (it may still be starting).
  bool ask_to_come_forward(const QString& activation_token);

  QString lock_path() const { return base_ + QStringLiteral(".lock"); }
  QString socket_path() const { return base_ + QStringLiteral(".socket"); }

 signals:
  void come_forward_requested(const QString& activation_token);

 private:
  void read_request(QLocalSocket* socket);

  QString base_;
  QLockFile lock_;
  QLocalServer* server_ = nullptr;
};

}  // namespace kbc::app
