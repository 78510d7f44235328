// Every failure path of a run, driven by failing each platform call of a small run in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "run/Fingerprint.h"
#include "testing/FaultInjectionEnv.h"
#include "testing/RunScene.h"

namespace velarix {
namespace {

using namespace velarix::testing;

std::string Sha1Of(const std::string& bytes) {
  Sha1 sha1;
  sha1.Update(bytes.data(), bytes.size());
  return sha1.HexDigest();
}

// A small run that reaches every kind of call: pruning a full log folder, a nested folder with
// a malformed file, two folders, three uploads.
struct FaultScene : RunScene {
  FaultScene() {
    for (int i = 0; i < 30; ++i)
      WriteFile(root_ / ("app//LOG/old" + std::to_string(i) + ".txt"), "");
    nfe = root_ / "nfe";
    nfce = root_ / "nfce";
    WriteFile(nfe + "/a.xml", "<a/>");
    WriteFile(nfe + "/bad.xml", "<a>");
    WriteFile(nfe + "/sub/b.xml", "<b/>");
    WriteFile(nfce + "/c.xml", "<c/>");
    SetFolder(kNFe, nfe);
    SetFolder(kNFCe, nfce);
  }

  // The log's lines with this scene's folder written as "<root>", to compare across scenes.
  std::vector<std::string> Lines() {
    std::vector<std::string> lines = LogLines();
    for (std::string& line : lines) {
      for (std::string::size_type at; (at = line.find(root_.path())) != std::string::npos;) {
        line.replace(at, root_.path().size(), "<root>");
      }
    }
    return lines;
  }

  std::string nfe, nfce;
};

class RunFaultsTest : public ::testing::TestWithParam<Fault> {};

TEST_P(RunFaultsTest, EveryCallFailingInTurnLosesNothing) {
  const Fault kind = GetParam();
  FaultInjectionEnv env;

  // The run as it goes without faults: how many calls of this kind it makes, what it logs.
  int calls;
  std::vector<std::string> baseline;
  {
    FaultScene scene;
    env.FailAt(kind, 0);
    ScopedEnv scoped(&env);
    scene.RunOnce();
    calls = env.Calls(kind);
    baseline = scene.Lines();
    ASSERT_EQ(scene.HistoryRows().size(), 3u);
  }
  const std::set<std::string> known_lines(baseline.begin(), baseline.end());
  const int descriptors = OpenDescriptorCount();

  for (int n = 1; n <= calls; ++n) {
    SCOPED_TRACE(std::string(FaultName(kind)) + " call " + std::to_string(n) + " of " +
                 std::to_string(calls));
    FaultScene scene;
    {
      ScopedEnv scoped(&env);
      env.FailAt(kind, n);
      scene.RunOnce();  // returns only once the completion was given
      EXPECT_TRUE(env.Fired());
    }
    EXPECT_EQ(env.OpenListings(), 0);
    EXPECT_EQ(env.OpenFiles(), 0);
    EXPECT_EQ(env.OpenSockets(), 0);

    // The history holds only what the portal received, and every "ENVIADO." is in it.
    auto rows = scene.HistoryRows();
    std::set<std::pair<std::string, std::string>> received;
    for (const auto& u : scene.portal_.Uploads()) {
      received.emplace(Sha1Of(u.file_bytes), u.target.substr(1));
    }
    for (const auto& row : rows) EXPECT_TRUE(received.count(row)) << row.first;

    std::vector<std::string> lines = scene.Lines();
    for (const std::string& line : lines) {
      bool error_line = line.find("-mensagem: ERRO: ") != std::string::npos ||
                        line.find(" XML INVÁLIDO.") != std::string::npos;
      EXPECT_TRUE(known_lines.count(line) || error_line) << line;
      std::string::size_type sent = line.find(" ENVIADO.");
      if (sent != std::string::npos) {
        std::string path = scene.root_.path() + line.substr(line.find("ARQUIVO: <root>") + 15);
        path.resize(path.size() - 9);
        bool recorded = std::any_of(rows.begin(), rows.end(), [&](const auto& row) {
          return row.first == Sha1Of(ReadFile(path));
        });
        EXPECT_TRUE(recorded) << line;
      }
    }
    if (kind == Fault::kAppend) {
      EXPECT_EQ(lines.size(), baseline.size() - 1);  // only the line the fault hit is lost
    } else {
      // Every watched folder was still processed.
      EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                              [](const std::string& l) {
                                return l.find("-mensagem: PROCESSANDO :") != std::string::npos;
                              }),
                13);
    }

    // The next run delivers whatever this one left behind.
    {
      ScopedEnv scoped(&env);
      env.FailAt(kind, 0);
      scene.RunOnce();
    }
    EXPECT_EQ(scene.HistoryRows().size(), 3u);
    if (HasFailure()) break;  // one broken call is enough to read
  }
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

INSTANTIATE_TEST_SUITE_P(Kinds, RunFaultsTest,
                         ::testing::Values(Fault::kListing, Fault::kNext, Fault::kOpen,
                                           Fault::kRead, Fault::kAppend, Fault::kDelete,
                                           Fault::kConnect, Fault::kSend, Fault::kReceive),
                         [](const ::testing::TestParamInfo<Fault>& info) {
                           return std::string(FaultName(info.param));
                         });

}  // namespace
}  // namespace velarix
