#include "app/single_instance.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <memory>
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

// The program itself, two copies at a time, each in its own process.
class TwoCopiesTest : public SingleInstanceTest {
 protected:
  ~TwoCopiesTest() override {
    for (const auto& process : started_) {
      process->kill();
      process->waitForFinished(kWaitMs);
    }
  }
  QProcess& start(const QStringList& arguments = {QStringLiteral("--simulate")},
                  const QString& token = {}) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder.path());
    environment.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
    if (!token.isEmpty()) {
      environment.insert(QStringLiteral("XDG_ACTIVATION_TOKEN"), token);
    }
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::SeparateChannels);
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

 private:
  std::vector<std::unique_ptr<QProcess>> started_;
};

TEST_F(TwoCopiesTest, SecondCopyBringsTheFirstForwardAndEnds) {
  QProcess& first = start();
  ASSERT_TRUE(wait_for_line(first, QStringLiteral("Listening on ")));
  QProcess& second = start({QStringLiteral("--simulate")}, QStringLiteral("token-7"));
  ASSERT_TRUE(ends_with_status_0(second));
  EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
  EXPECT_TRUE(wait_for_line(first, QStringLiteral("Come forward with activation token")));
  EXPECT_EQ(first.state(), QProcess::Running);
}

TEST_F(TwoCopiesTest, CrashedCopyDoesNotBlockTheNext) {
  QProcess& crashed = start();
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

TEST_F(TwoCopiesTest, Version) {
  QProcess& version = start({QStringLiteral("--version")});
  ASSERT_TRUE(ends_with_status_0(version));
  EXPECT_EQ(version.readAllStandardOutput().trimmed(), QByteArray("kbc-q7 " KBC_VERSION));
}

}  // namespace
}  // namespace kbc::app
