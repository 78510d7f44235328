#include "app/SingleInstance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QSignalSpy>
#include <QSysInfo>
#include <cstring>

#include "testing/TempDir.h"

namespace velarix {
namespace {

using testing::TempDir;

class SingleInstanceTest : public ::testing::Test {
 protected:
  // Each test its own settings path, so that tests running side by side do not meet.
  TempDir dir_;
  std::string key_ = dir_ / "velarix.ini";
  QString socket_path_ = QDir::tempPath() + '/' + SingleInstance::ServerName(key_);
  QString lock_path_ = socket_path_ + ".lock";
};

TEST_F(SingleInstanceTest, SecondCopyHandsOverAndTheFirstIsAskedForItsWindow) {
  SingleInstance first(key_);
  ASSERT_FALSE(first.HandOver());
  QSignalSpy activated(&first, &SingleInstance::ActivationRequested);

  SingleInstance second(key_);
  EXPECT_TRUE(second.HandOver());
  ASSERT_TRUE(activated.wait(10000));
  EXPECT_EQ(activated.count(), 1);

  // Another settings file is another agent.
  SingleInstance other(dir_ / "outra.ini");
  EXPECT_FALSE(other.HandOver());
}

TEST_F(SingleInstanceTest, NamesDependOnTheSettingsPathOnly) {
  EXPECT_EQ(SingleInstance::ServerName("/opt/velarix/velarix.ini"),
            SingleInstance::ServerName("/opt/velarix/velarix.ini"));
  EXPECT_NE(SingleInstance::ServerName("/opt/velarix/velarix.ini"),
            SingleInstance::ServerName("/opt/velarix2/velarix.ini"));
  EXPECT_TRUE(SingleInstance::ServerName("/pasta com espaço/ç.ini").startsWith("velarix-"));
}

TEST_F(SingleInstanceTest, SocketAndLockLeftByACrashedCopyAreTakenOver) {
  // A socket file nobody listens on, as a killed copy leaves it.
  {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray path = socket_path_.toLocal8Bit();
    ASSERT_LT(static_cast<std::size_t>(path.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.constData(), path.size());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
  }
  // A lock file naming a process that has ended.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  testing::WriteFile(
      lock_path_.toStdString(),
      std::to_string(child) + "\nvelarix\n" + QSysInfo::machineHostName().toStdString() + "\n");

  SingleInstance first(key_);
  EXPECT_FALSE(first.HandOver());
  QSignalSpy activated(&first, &SingleInstance::ActivationRequested);
  SingleInstance second(key_);
  EXPECT_TRUE(second.HandOver());
  EXPECT_TRUE(activated.wait(10000));
}

TEST_F(SingleInstanceTest, HolderThatDoesNotAnswerStillKeepsASecondCopyOut) {
  SingleInstance first(key_);
  ASSERT_FALSE(first.HandOver());
  QFile::remove(socket_path_);  // alive, but unreachable
  SingleInstance second(key_);
  EXPECT_TRUE(second.HandOver(std::chrono::milliseconds(100)));
}

}  // namespace
}  // namespace velarix
