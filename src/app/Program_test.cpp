// The real program, started as a child process from a scratch copy beside a scratch settings
// file, so that nothing beside the built executable is touched.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <filesystem>

#include "history/Historico.h"
#include "run/Fingerprint.h"
#include "testing/LoopbackPortal.h"
#include "testing/TempDir.h"

namespace velarix {
namespace {

using testing::LoopbackPortal;
using testing::TempDir;

class ProgramTest : public ::testing::Test {
 protected:
  ProgramTest() {
    std::filesystem::create_directories(dir_ / "bin");
    std::filesystem::copy_file(VELARIX_PROGRAM, program_);
    testing::WriteFile(xml_, "<?xml version=\"1.0\"?><NFe><infNFe Id=\"NFe1\"/></NFe>");
    testing::WriteFile(dir_ / "bin/velarix.ini", "[DATA]\nnfenfce_upload_xml_1=" + dir_ / "xml" +
                                                     "\n[WEBSERVICE]\nUrl=" + portal_.BaseUrl() +
                                                     "\n");
  }

  std::unique_ptr<QProcess> Start() {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("TMPDIR", QString::fromStdString(dir_.path()));  // lock and socket
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(QString::fromStdString(dir_.path()));  // the history
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QString::fromStdString(program_), {});
    EXPECT_TRUE(process->waitForStarted(10000));
    return process;
  }

  std::string Log() {
    std::string text;
    if (!std::filesystem::exists(dir_ / "bin/LOG")) return text;
    for (const auto& entry : std::filesystem::directory_iterator(dir_ / "bin/LOG")) {
      text += testing::ReadFile(entry.path().string());
    }
    return text;
  }

  TempDir dir_;
  LoopbackPortal portal_;
  std::string program_ = dir_ / "bin/velarix";
  std::string xml_ = dir_ / "xml/NFe1.xml";
};

TEST_F(ProgramTest, DeliversHandsOverToASecondCopyAndEndsCleanlyOnSigterm) {
  std::unique_ptr<QProcess> agent = Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Log().find("ENVIADO.") != std::string::npos; }, 60000))
      << Log();
  EXPECT_NE(Log().find("TForm1.FormCreate-mensagem: INICIANDO APLICAÇÃO"), std::string::npos);
  EXPECT_EQ(portal_.Uploads().size(), 1u);

  std::unique_ptr<QProcess> second = Start();
  ASSERT_TRUE(second->waitForFinished(30000));
  EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second->exitCode(), 0);
  EXPECT_EQ(agent->state(), QProcess::Running);

  agent->terminate();
  ASSERT_TRUE(agent->waitForFinished(30000));
  EXPECT_EQ(agent->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(agent->exitCode(), 0);

  testing::ScopedCurrentDir in_dir(dir_.path());
  EXPECT_TRUE(ConsultaHistorico(CalculaHash(xml_), 0));
}

TEST_F(ProgramTest, SigtermDuringAStuckUploadEndsWithinTheBound) {
  portal_.SetMode(LoopbackPortal::Mode::kNeverAnswer);
  std::unique_ptr<QProcess> agent = Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return portal_.ConnectionCount() > 0; }, 60000)) << Log();
  QElapsedTimer elapsed;
  elapsed.start();
  agent->terminate();
  ASSERT_TRUE(agent->waitForFinished(30000));
  EXPECT_EQ(agent->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(agent->exitCode(), 0);
  EXPECT_LT(elapsed.elapsed(), 15000);
}

}  // namespace
}  // namespace velarix
