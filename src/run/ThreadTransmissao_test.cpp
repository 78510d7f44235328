#include "run/ThreadTransmissao.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "testing/RunScene.h"

namespace velarix {
namespace {

namespace fs = std::filesystem;
using namespace velarix::testing;

class RunTest : public ::testing::Test, protected RunScene {};

TEST_F(RunTest, AllKeysUnsetWritesTwoLinesPerFolderAndNothingElse) {
  RunOnce();
  std::vector<std::string> lines = LogLines();
  EXPECT_EQ(lines.size(), 26u);
  EXPECT_EQ(lines, Expected({}));
  EXPECT_TRUE(Uploads().empty());
  EXPECT_FALSE(fs::exists(cwd_ + "/" + kHistoryFileName));
}

// Cases of one folder's content: what the walk logs and sends.
struct WalkCase {
  const char* name;
  std::function<void(const std::string& dir)> setup;
  std::function<std::vector<std::string>(const std::string& dir)> lines;  // inside the folder
  std::function<std::vector<Sent>(const std::string& dir)> sent;
};

void PrintTo(const WalkCase& c, std::ostream* out) { *out << c.name; }

class WalkTest : public RunTest, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(WalkTest, OneFolder) {
  const WalkCase& c = GetParam();
  std::string dir = root_ / "nfe";
  MakeDirs(dir);
  c.setup(dir);
  SetFolder(kNFe, dir);
  RunOnce();
  EXPECT_EQ(LogLines(), Expected({{kNFe, Folder(dir, c.lines(dir))}}));
  EXPECT_EQ(Uploads(), c.sent(dir));
  EXPECT_EQ(HistoryRows().size(), c.sent(dir).size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WalkTest,
    ::testing::Values(
        WalkCase{
            "OnlyExactlyDotXmlIsExamined",
            [](const std::string& d) {
              WriteFile(d + "/a.xml", kWellFormed);
              WriteFile(d + "/b.XML", kWellFormed);
              WriteFile(d + "/c.txt", kWellFormed);
              WriteFile(d + "/d.Xml", "not xml");
            },
            [](const std::string& d) { return std::vector<std::string>{Delivered(d + "/a.xml")}; },
            [](const std::string&) {
              return std::vector<Sent>{{"/api/docs/nfenfce/upload", "a.xml", kWellFormed}};
            }},
        WalkCase{"DotNamesAreSkippedAndADirectoryNamedLikeXmlIsWalked",
                 [](const std::string& d) {
                   WriteFile(d + "/.oculto.xml", kWellFormed);
                   WriteFile(d + "/.git/x.xml", kWellFormed);
                   WriteFile(d + "/lote.xml/n.xml", "<n/>");
                 },
                 [](const std::string& d) {
                   return std::vector<std::string>{Delivered(d + "/lote.xml/n.xml")};
                 },
                 [](const std::string&) {
                   return std::vector<Sent>{{"/api/docs/nfenfce/upload", "n.xml", "<n/>"}};
                 }},
        WalkCase{
            "MalformedFileIsLoggedAndNeverSent",
            [](const std::string& d) { WriteFile(d + "/bad.xml", "<a><b></a>"); },
            [](const std::string& d) { return std::vector<std::string>{Invalid(d + "/bad.xml")}; },
            [](const std::string&) { return std::vector<Sent>{}; }},
        WalkCase{
            "FifoNamedLikeXmlIsNeverOpened",
            [](const std::string& d) { ASSERT_EQ(mkfifo((d + "/x.xml").c_str(), 0600), 0); },
            [](const std::string& d) { return std::vector<std::string>{Invalid(d + "/x.xml")}; },
            [](const std::string&) { return std::vector<Sent>{}; }},
        WalkCase{"LinkLoopIsWalkedOnce",
                 [](const std::string& d) {
                   WriteFile(d + "/sub/a.xml", "<a/>");
                   fs::create_directory_symlink(d, d + "/sub/up");
                   fs::create_directory_symlink("/", d + "/sub/root");
                   fs::remove(d + "/sub/root");  // only the ancestor link stays
                 },
                 [](const std::string& d) {
                   return std::vector<std::string>{Delivered(d + "/sub/a.xml")};
                 },
                 [](const std::string&) {
                   return std::vector<Sent>{{"/api/docs/nfenfce/upload", "a.xml", "<a/>"}};
                 }}),
    [](const ::testing::TestParamInfo<WalkCase>& info) { return std::string(info.param.name); });

TEST_F(RunTest, DeepFileOfThePurchasesFolderGoesToItsEndpoint) {
  std::string dir = root_ / "compras";
  WriteFile(dir + "/2026/12/loja 1/NFe123.xml", kWellFormed);
  SetFolder(kNFeCompras, dir);
  RunOnce();
  EXPECT_EQ(
      LogLines(),
      Expected({{kNFeCompras, Folder(dir, {Delivered(dir + "/2026/12/loja 1/NFe123.xml")})}}));
  EXPECT_EQ(Uploads(), (std::vector<Sent>{{"/api/docs/nfe/upload", "NFe123.xml", kWellFormed}}));
  ASSERT_EQ(HistoryRows().size(), 1u);
  EXPECT_EQ(HistoryRows().begin()->second, "api/docs/nfe/upload");
}

TEST_F(RunTest, MalformedFileIsLoggedInEveryRun) {
  std::string dir = root_ / "nfe";
  WriteFile(dir + "/bad.xml", "plain text");
  SetFolder(kNFe, dir);
  RunOnce();
  RunOnce();
  std::vector<std::string> once = Expected({{kNFe, Folder(dir, {Invalid(dir + "/bad.xml")})}});
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(LogLines(), twice);
  EXPECT_TRUE(Uploads().empty());
}

TEST_F(RunTest, SameContentInTheNFeAndNFCeFoldersIsSentOnce) {
  std::string nfe = root_ / "nfe", nfce = root_ / "nfce";
  WriteFile(nfe + "/a.xml", kWellFormed);
  WriteFile(nfce + "/copia.xml", kWellFormed);
  SetFolder(kNFe, nfe);
  SetFolder(kNFCe, nfce);
  RunOnce();
  EXPECT_EQ(LogLines(),
            Expected({{kNFe, Folder(nfe, {Delivered(nfe + "/a.xml")})}, {kNFCe, Folder(nfce)}}));
  EXPECT_EQ(Uploads().size(), 1u);
  EXPECT_EQ(HistoryRows().size(), 1u);
}

TEST_F(RunTest, SameContentUnderAnotherEndpointIsSentAndRecordedAgain) {
  std::string nfe = root_ / "nfe", cte = root_ / "cte";
  WriteFile(nfe + "/a.xml", kWellFormed);
  WriteFile(cte + "/a.xml", kWellFormed);
  SetFolder(kNFe, nfe);
  SetFolder(kCTe, cte);
  RunOnce();
  RunOnce();  // the second run finds both recorded and sends nothing
  EXPECT_EQ(Uploads().size(), 2u);
  EXPECT_EQ(HistoryRows().size(), 2u);
  std::vector<std::string> lines = LogLines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.find("ERRO: ") != l.npos; }),
            0);
}

TEST_F(RunTest, RefusedUploadLeavesNoTraceAndIsSentAgainNextRun) {
  std::string dir = root_ / "nfe";
  WriteFile(dir + "/a.xml", kWellFormed);
  SetFolder(kNFe, dir);
  portal_.SetAnswerBody("{\"msg\":\"500\"}");
  RunOnce();
  EXPECT_EQ(LogLines(), Expected({{kNFe, Folder(dir)}}));
  EXPECT_TRUE(HistoryRows().empty());
  portal_.SetAnswerBody("{\"msg\":\"100\"}");
  RunOnce();
  EXPECT_EQ(Uploads().size(), 2u);
  EXPECT_EQ(HistoryRows().size(), 1u);
  RunOnce();
  EXPECT_EQ(Uploads().size(), 2u);
}

// The names of a folder's entries in the file system's own order, dot names left out.
std::vector<std::string> ListingOrder(const std::string& dir) {
  std::vector<std::string> names;
  std::string reason;
  auto listing = Env::Default()->OpenDirectory(dir, &reason);
  DirEntry entry;
  while (listing != nullptr && listing->Next(&entry)) {
    if (entry.name[0] != '.') names.push_back(entry.name);
  }
  return names;
}

TEST_F(RunTest, FileThatCannotBeReadEndsItsFolderAndTheNextFolderGoesOn) {
  std::string nfe = root_ / "nfe", nfce = root_ / "nfce";
  for (const char* name : {"a.xml", "b.xml", "c.xml", "d.xml", "e.xml"}) {
    WriteFile(nfe + "/" + name, std::string("<") + name[0] + "/>");
  }
  WriteFile(nfce + "/n.xml", "<n/>");
  SetFolder(kNFe, nfe);
  SetFolder(kNFCe, nfce);
  std::vector<std::string> order = ListingOrder(nfe);
  ASSERT_EQ(order.size(), 5u);
  // The third file is being written by another program, which keeps the upload from reading it.
  std::string victim = nfe + "/" + order[2];
  std::ofstream writer(victim, std::ios::app);

  RunOnce();
  EXPECT_EQ(LogLines(),
            Expected({{kNFe, Folder(nfe, {Delivered(nfe + "/" + order[0]),
                                          Delivered(nfe + "/" + order[1]),
                                          Erro(kFolder, "ERRO: Cannot open file \"" + victim +
                                                            "\". The file is in use by another "
                                                            "process")})},
                      {kNFCe, Folder(nfce, {Delivered(nfce + "/n.xml")})}}));
  EXPECT_EQ(Uploads().size(), 3u);
  EXPECT_EQ(HistoryRows().size(), 3u);

  writer.close();  // once the writer is done, the rest of the folder goes through
  RunOnce();
  EXPECT_EQ(Uploads().size(), 6u);
}

TEST_F(RunTest, FolderPathEndingInSlashGivesDoubledSlashes) {
  std::string dir = root_ / "nfe";
  WriteFile(dir + "/a.xml", kWellFormed);
  SetFolder(kNFe, dir + "/");
  RunOnce();
  EXPECT_EQ(LogLines(), Expected({{kNFe, Folder(dir + "/", {Delivered(dir + "//a.xml")})}}));
}

TEST_F(RunTest, OneFolderUnderTwoKeysIsWalkedTwiceWithEachKind) {
  std::string dir = root_ / "docs";
  WriteFile(dir + "/a.xml", kWellFormed);
  SetFolder(kNFe, dir);
  SetFolder(kCTe, dir);
  RunOnce();
  EXPECT_EQ(LogLines(), Expected({{kNFe, Folder(dir, {Delivered(dir + "/a.xml")})},
                                  {kCTe, Folder(dir, {Delivered(dir + "/a.xml")})}}));
  std::vector<Sent> sent = Uploads();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].target, "/api/docs/nfenfce/upload");
  EXPECT_EQ(sent[1].target, "/api/docs/cte/upload");
}

TEST_F(RunTest, HistoryThatCannotBeOpenedEndsEachFolderWithAnError) {
  std::string dir = root_ / "nfe";
  WriteFile(dir + "/a.xml", kWellFormed);
  SetFolder(kNFe, dir);
  WriteFile(cwd_ + "/" + kHistoryFileName, "this is not a database, just some text");
  RunOnce();
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 27u);
  EXPECT_EQ(lines[2].rfind(Erro(kFolder, "ERRO: "), 0), 0u) << lines[2];
  EXPECT_TRUE(Uploads().empty());
}

TEST_F(RunTest, LogThatCannotBeSetUpEndsTheRunButStillCompletes) {
  WriteFile(root_ / "app//LOG", "a file where the folder should be");
  RunOnce();
  EXPECT_FALSE(fatal_error_.empty());
  EXPECT_TRUE(Uploads().empty());
}

TEST_F(RunTest, RunsThatEndInErrorsLeaveNoDescriptorOpen) {
  std::string dir = root_ / "nfe";
  WriteFile(dir + "/a/b/bad.xml", "<bad");
  WriteFile(dir + "/a/b/c/ok.xml", kWellFormed);
  SetFolder(kNFe, dir);
  SetFolder(kNFCe, root_ / "missing");
  WriteFile(cwd_ + "/" + kHistoryFileName, "not a database");
  RunOnce();
  int before = testing::OpenDescriptorCount();
  for (int i = 0; i < 20; ++i) RunOnce();
  EXPECT_EQ(testing::OpenDescriptorCount(), before);
}

// Asks the worker to stop while it is examining a file.
class StopWhileReadingEnv : public EnvWrapper {
 public:
  explicit StopWhileReadingEnv(Thread* worker) : EnvWrapper(Env::Default()), worker_(worker) {}
  std::unique_ptr<ReadableFile> OpenForRead(const std::string& path, OpenMode mode,
                                            std::string* reason) override {
    if (path.ends_with(".xml")) worker_->RequestStop();
    return EnvWrapper::OpenForRead(path, mode, reason);
  }

 private:
  Thread* worker_;
};

TEST_F(RunTest, StopRequestEndsTheRunAfterTheFileInProgress) {
  std::string dir = root_ / "nfe";
  WriteFile(dir + "/a.xml", "<a/>");
  WriteFile(dir + "/b.xml", "<b/>");
  SetFolder(kNFe, dir);
  SetFolder(kNFCe, dir);
  struct Worker : TThreadTransmissao {
    using TThreadTransmissao::Execute;
    using TThreadTransmissao::TThreadTransmissao;
  } worker(nullptr);
  worker.BaseUrl = portal_.BaseUrl();
  StopWhileReadingEnv env(&worker);
  ScopedEnv scoped(&env);
  worker.Execute();
  // The file in progress went through every step, its delivery recorded; nothing after it ran.
  EXPECT_EQ(Uploads().size(), 1u);
  EXPECT_EQ(HistoryRows().size(), 1u);
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[2].find(" ENVIADO."), std::string::npos);
}

}  // namespace
}  // namespace velarix
