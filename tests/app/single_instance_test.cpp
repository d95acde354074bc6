#include "app/single_instance.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <vector>

#include "app/strings.h"

namespace kbc::app {
namespace {

constexpr int kWaitMs = 10000;

class SingleInstanceTest : public ::testing::Test {
 protected:
  QTemporaryDir folder;
  const QString title = text::app_title();
};

TEST_F(SingleInstanceTest, FirstTakesTheLockLaterCopiesFindIt) {
  SingleInstance first(title, folder.path());
  SingleInstance later(title, folder.path());
  SingleInstance other_title(QStringLiteral("another tool"), folder.path());
  EXPECT_EQ(first.acquire(), SingleInstance::Role::first);
  EXPECT_EQ(later.acquire(), SingleInstance::Role::later);
  EXPECT_EQ(other_title.acquire(), SingleInstance::Role::first);
  SingleInstance nowhere(title, folder.filePath(QStringLiteral("missing/folder")));
  EXPECT_EQ(nowhere.acquire(), SingleInstance::Role::failed);
}

TEST_F(SingleInstanceTest, OnlyAFolderNoOneElseCanReachIsPrivate) {
  const QString open_folder = folder.filePath(QStringLiteral("open"));
  const QString group_folder = folder.filePath(QStringLiteral("group"));
  const QString file = folder.filePath(QStringLiteral("file"));
  ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("open")));
  ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("group")));
  ASSERT_TRUE(QFile::setPermissions(open_folder, QFile::ReadOwner | QFile::WriteOwner |
                                                     QFile::ExeOwner | QFile::ReadOther |
                                                     QFile::ExeOther));
  ASSERT_TRUE(QFile::setPermissions(
      group_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::WriteGroup));
  QFile made(file);
  ASSERT_TRUE(made.open(QIODevice::WriteOnly));
  const struct {
    std::optional<QString> variable;  // nullopt: not set
    bool is_private;
    const char* why;
  } rows[] = {
      {folder.path(), true, ""},
      {std::nullopt, false, "XDG_RUNTIME_DIR is not set"},
      {QString(), false, "XDG_RUNTIME_DIR is not set"},
      {QStringLiteral("run/user/1000"), false, "XDG_RUNTIME_DIR is not an absolute path"},
      {folder.filePath(QStringLiteral("missing")), false, "is no folder"},
      {file, false, "is no folder"},
      {open_folder, false, "is open to other users"},
      {group_folder, false, "is open to other users"},
  };
  const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
  for (const auto& row : rows) {
    if (row.variable) {
      qputenv("XDG_RUNTIME_DIR", row.variable->toLocal8Bit());
    } else {
      qunsetenv("XDG_RUNTIME_DIR");
    }
    QString why;
    const auto found = private_runtime_dir(&why);
    EXPECT_EQ(found.has_value(), row.is_private) << why.toStdString();
    if (row.is_private) {
      EXPECT_EQ(found, row.variable);
    } else {
      EXPECT_TRUE(why.endsWith(QLatin1String(row.why))) << why.toStdString();
    }
  }
  qputenv("XDG_RUNTIME_DIR", saved);
}

TEST_F(SingleInstanceTest, LaterCopyAsksTheFirstToComeForward) {
  SingleInstance first(title, folder.path());
  ASSERT_EQ(first.acquire(), SingleInstance::Role::first);
  ASSERT_TRUE(first.listen());
  QSignalSpy requests(&first, &SingleInstance::come_forward_requested);
  SingleInstance later(title, folder.path());
  for (const QString& token : {QStringLiteral("activation-42"), QString()}) {
    EXPECT_TRUE(later.ask_to_come_forward(token));
    ASSERT_TRUE(requests.wait(kWaitMs));
    EXPECT_EQ(requests.takeFirst().at(0).toString(), token);
  }
}

TEST_F(SingleInstanceTest, NobodyListeningYet) {
  SingleInstance first(title, folder.path());
  ASSERT_EQ(first.acquire(), SingleInstance::Role::first);
  SingleInstance later(title, folder.path());
  EXPECT_FALSE(later.ask_to_come_forward({}));
}

// The program itself, two copies at a time, each in its own process, whose trace on standard
// error the tests read; only --verbose or KBC_TRACE=1 asks for it.
const QStringList kTraced{QStringLiteral("--simulate"), QStringLiteral("--verbose")};

class TwoCopiesTest : public SingleInstanceTest {
 protected:
  ~TwoCopiesTest() override {
    for (const auto& process : started_) {
      process->kill();
      process->waitForFinished(kWaitMs);
    }
  }
  QProcess& start(const QStringList& arguments = kTraced, const QString& token = {}) {
    return start_in(folder.path(), arguments, token);
  }
  // A copy whose XDG_RUNTIME_DIR is `runtime`, run in its own working folder.
  QProcess& start_in(const QString& runtime, const QStringList& arguments = kTraced,
                     const QString& token = {}) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    process->setWorkingDirectory(working.path());
    environment.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
    if (!token.isEmpty()) {
      environment.insert(QStringLiteral("XDG_ACTIVATION_TOKEN"), token);
    }
    process->setProcessEnvironment(environment);
    environment.remove(QStringLiteral("KBC_TRACE"));
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->setReadChannel(QProcess::StandardError);
    process->start(QStringLiteral(KBC_Q7_PATH), arguments);
    started_.push_back(std::move(process));
    return *started_.back();
  }
  // Reads the copy's trace until a line starts with `text`.
  static bool wait_for_line(QProcess& process, const QString& text) {
    while (true) {
      while (process.canReadLine()) {
        if (QString::fromUtf8(process.readLine()).startsWith(text)) {
          return true;
        }
      }
      if (!process.waitForReadyRead(kWaitMs)) {
        return false;
      }
    }
  }
  static bool ends_with_status_0(QProcess& process) {
    return process.waitForFinished(kWaitMs) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
  }

  QTemporaryDir working;

 private:
  std::vector<std::unique_ptr<QProcess>> started_;
};

TEST_F(TwoCopiesTest, SecondCopyBringsTheFirstForwardAndEnds) {
  QProcess& first = start();
  ASSERT_TRUE(wait_for_line(first, QStringLiteral("Listening on ")));
  // Untraced, it writes nothing at all.
  QProcess& second = start({QStringLiteral("--simulate")}, QStringLiteral("token-7"));
  ASSERT_TRUE(ends_with_status_0(second));
  EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
  EXPECT_TRUE(second.readAllStandardError().isEmpty());
  EXPECT_TRUE(wait_for_line(first, QStringLiteral("Come forward with activation token")));
  EXPECT_EQ(first.state(), QProcess::Running);
}

TEST_F(TwoCopiesTest, CrashedCopyDoesNotBlockTheNext) {
  qputenv("KBC_TRACE", "1");
  QProcess& crashed = start({QStringLiteral("--simulate")});
  qunsetenv("KBC_TRACE");
  ASSERT_TRUE(wait_for_line(crashed, QStringLiteral("Listening on ")));
  crashed.kill();
  ASSERT_TRUE(crashed.waitForFinished(kWaitMs));
  const SingleInstance names(title, folder.path());
  ASSERT_TRUE(QFile::exists(names.lock_path()));
  ASSERT_TRUE(QFile::exists(names.socket_path()));

  QProcess& next = start();
  ASSERT_TRUE(wait_for_line(next, QStringLiteral("Listening on ")));
  QProcess& later = start();
  ASSERT_TRUE(ends_with_status_0(later));
  EXPECT_TRUE(wait_for_line(next, QStringLiteral("Come forward")));
}

TEST_F(TwoCopiesTest, WithoutAPrivateRuntimeFolderEachCopyRunsUnguardedAndLeavesNoFiles) {
  // Missing with its parent, so that not even Qt can make it.
  const QString missing = folder.filePath(QStringLiteral("gone/runtime"));
  QProcess& first = start_in(missing);
  ASSERT_TRUE(wait_for_line(first, QStringLiteral("No private runtime directory (")));
  QProcess& second = start_in(missing);
  ASSERT_TRUE(wait_for_line(second, QStringLiteral("No private runtime directory (")));
  EXPECT_EQ(first.state(), QProcess::Running);
  EXPECT_EQ(second.state(), QProcess::Running);
  EXPECT_TRUE(QDir(working.path()).isEmpty());
  EXPECT_FALSE(QFile::exists(missing));
}

TEST_F(TwoCopiesTest, Version) {
  QProcess& version = start({QStringLiteral("--version")});
  ASSERT_TRUE(ends_with_status_0(version));
  EXPECT_EQ(version.readAllStandardOutput().trimmed(), QByteArray("kbc-q7 " KBC_VERSION));
}

}  // namespace
}  // namespace kbc::app
