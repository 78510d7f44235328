#include "run/ThreadTransmissao.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "config/Settings.h"
#include "history/Historico.h"
#include "log/Log.h"
#include "testing/LoopbackPortal.h"
#include "testing/MainThreadQueueForTest.h"
#include "testing/TempDir.h"

namespace velarix {
namespace {

namespace fs = std::filesystem;
using testing::LoopbackPortal;
using testing::TempDir;

constexpr char kWellFormed[] = "<?xml version=\"1.0\"?><NFe><infNFe Id=\"1\"/></NFe>";

// Row numbers of WatchedFolders by their role, for readability.
enum Row { kNFe = 0, kNFCe = 1, kCTe = 2, kNFeCompras = 12 };

struct Sent {
  std::string target, file_name, bytes;
  bool operator==(const Sent&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Sent& s) {
  return out << "{" << s.target << ", " << s.file_name << ", " << s.bytes.size() << " bytes}";
}

constexpr char kFolder[] = "TThreadTransmissao.ProcessaPasta";
constexpr char kWalk[] = "TThreadTransmissao.TransmiteXMLs";

std::string Info(const char* origin, const std::string& message) {
  return std::string("INFO-Class: ") + origin + "-mensagem: " + message;
}
std::string Erro(const char* origin, const std::string& message) {
  return std::string("ERRO-Class: ") + origin + "-mensagem: " + message;
}
std::string Delivered(const std::string& path) {
  return Info(kWalk, "ARQUIVO: " + path + " ENVIADO.");
}
std::string Invalid(const std::string& path) {
  return Erro(kWalk, "ARQUIVO: " + path + " XML INVÁLIDO.");
}

// The lines a run writes: for every row its given lines, or those of an unset key.
std::vector<std::string> Expected(const std::map<int, std::vector<std::string>>& rows) {
  std::vector<std::string> lines;
  for (int row = 0; row < 13; ++row) {
    auto it = rows.find(row);
    if (it != rows.end()) {
      lines.insert(lines.end(), it->second.begin(), it->second.end());
    } else {
      lines.push_back(Info(kFolder, "PROCESSANDO :"));
      lines.push_back(Erro(kFolder, "PASTA:  - NÃO EXISTE."));
    }
  }
  return lines;
}
std::vector<std::string> Folder(const std::string& path, std::vector<std::string> inside = {}) {
  std::vector<std::string> lines = {Info(kFolder, "PROCESSANDO :" + path),
                                    Info(kFolder, "PASTA: " + path)};
  lines.insert(lines.end(), inside.begin(), inside.end());
  return lines;
}

// One whole run over real folders, a real settings file, a real history file and a loopback
// portal; the log file's lines are read back without their time stamps.
class RunTest : public ::testing::Test {
 protected:
  RunTest() : cwd_(root_.path() + "/cwd") {
    testing::MakeDirs(root_ / "app");
    testing::MakeDirs(root_ / "cwd");
    SetSettingsFilePath(root_ / "velarix.ini");
    folders_ = std::make_unique<TDiretory>(root_ / "app/");
    TLog::ResetForTesting(folders_.get());
    cwd_scope_ = std::make_unique<testing::ScopedCurrentDir>(cwd_);
  }
  ~RunTest() override {
    cwd_scope_.reset();
    TLog::ResetForTesting(nullptr);
    SetSettingsFilePath("");
  }

  // Sets the folder of a WatchedFolders row in the settings file.
  void SetFolder(int row, const std::string& path) {
    FolderSettings values = LoadFolderSettings();
    values[row] = path;
    SaveFolderSettings(values);
  }

  // Runs one Execute on a worker thread, as the window does, and waits for its completion.
  void Run() {
    testing::MainThreadQueueForTest queue;
    auto* worker = new TThreadTransmissao(&queue);
    worker->SetFreeOnTerminate(true);
    bool completed = false;
    worker->SetOnTerminate([&](Thread* t) {
      completed = true;
      fatal_error_ = t->FatalError();
    });
    worker->BaseUrl = portal_.BaseUrl();
    worker->Start();
    ASSERT_EQ(queue.Pump(), 1);
    ASSERT_TRUE(completed);
  }

  // The log's lines so far, each without its "dd/mm/yyyy hh:nn:ss-" prefix.
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::string log_dir = root_ / "app//LOG/";
    if (!fs::exists(log_dir)) return lines;
    for (const auto& entry : fs::directory_iterator(log_dir)) {
      std::string text = testing::ReadFile(entry.path());
      size_t start = 0;
      for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start + 20, end - start - 20));
      }
    }
    return lines;
  }

  std::vector<Sent> Uploads() {
    std::vector<Sent> sent;
    for (const auto& u : portal_.Uploads()) sent.push_back({u.target, u.file_name, u.file_bytes});
    return sent;
  }

  // (hash, pasta) pairs of the history file in the current directory.
  std::set<std::pair<std::string, std::string>> HistoryRows() {
    std::set<std::pair<std::string, std::string>> rows;
    sqlite3* db = nullptr;
    std::string path = cwd_ + "/" + kHistoryFileName;
    if (!fs::exists(path)) return rows;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT hash, pasta FROM Arquivos", -1, &stmt, nullptr);
    while (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
      rows.emplace(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)),
                   reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
  }

  TempDir root_;
  std::string cwd_;
  std::unique_ptr<TDiretory> folders_;
  std::unique_ptr<testing::ScopedCurrentDir> cwd_scope_;
  LoopbackPortal portal_;
  std::string fatal_error_;
};

TEST_F(RunTest, AllKeysUnsetWritesTwoLinesPerFolderAndNothingElse) {
  Run();
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
  testing::MakeDirs(dir);
  c.setup(dir);
  SetFolder(kNFe, dir);
  Run();
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
              testing::WriteFile(d + "/a.xml", kWellFormed);
              testing::WriteFile(d + "/b.XML", kWellFormed);
              testing::WriteFile(d + "/c.txt", kWellFormed);
              testing::WriteFile(d + "/d.Xml", "not xml");
            },
            [](const std::string& d) { return std::vector<std::string>{Delivered(d + "/a.xml")}; },
            [](const std::string&) {
              return std::vector<Sent>{{"/api/docs/nfenfce/upload", "a.xml", kWellFormed}};
            }},
        WalkCase{"DotNamesAreSkippedAndADirectoryNamedLikeXmlIsWalked",
                 [](const std::string& d) {
                   testing::WriteFile(d + "/.oculto.xml", kWellFormed);
                   testing::WriteFile(d + "/.git/x.xml", kWellFormed);
                   testing::WriteFile(d + "/lote.xml/n.xml", "<n/>");
                 },
                 [](const std::string& d) {
                   return std::vector<std::string>{Delivered(d + "/lote.xml/n.xml")};
                 },
                 [](const std::string&) {
                   return std::vector<Sent>{{"/api/docs/nfenfce/upload", "n.xml", "<n/>"}};
                 }},
        WalkCase{
            "MalformedFileIsLoggedAndNeverSent",
            [](const std::string& d) { testing::WriteFile(d + "/bad.xml", "<a><b></a>"); },
            [](const std::string& d) { return std::vector<std::string>{Invalid(d + "/bad.xml")}; },
            [](const std::string&) { return std::vector<Sent>{}; }},
        WalkCase{
            "FifoNamedLikeXmlIsNeverOpened",
            [](const std::string& d) { ASSERT_EQ(mkfifo((d + "/x.xml").c_str(), 0600), 0); },
            [](const std::string& d) { return std::vector<std::string>{Invalid(d + "/x.xml")}; },
            [](const std::string&) { return std::vector<Sent>{}; }},
        WalkCase{"LinkLoopIsWalkedOnce",
                 [](const std::string& d) {
                   testing::WriteFile(d + "/sub/a.xml", "<a/>");
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
  testing::WriteFile(dir + "/2026/12/loja 1/NFe123.xml", kWellFormed);
  SetFolder(kNFeCompras, dir);
  Run();
  EXPECT_EQ(
      LogLines(),
      Expected({{kNFeCompras, Folder(dir, {Delivered(dir + "/2026/12/loja 1/NFe123.xml")})}}));
  EXPECT_EQ(Uploads(), (std::vector<Sent>{{"/api/docs/nfe/upload", "NFe123.xml", kWellFormed}}));
  ASSERT_EQ(HistoryRows().size(), 1u);
  EXPECT_EQ(HistoryRows().begin()->second, "api/docs/nfe/upload");
}

TEST_F(RunTest, MalformedFileIsLoggedInEveryRun) {
  std::string dir = root_ / "nfe";
  testing::WriteFile(dir + "/bad.xml", "plain text");
  SetFolder(kNFe, dir);
  Run();
  Run();
  std::vector<std::string> once = Expected({{kNFe, Folder(dir, {Invalid(dir + "/bad.xml")})}});
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(LogLines(), twice);
  EXPECT_TRUE(Uploads().empty());
}

TEST_F(RunTest, SameContentInTheNFeAndNFCeFoldersIsSentOnce) {
  std::string nfe = root_ / "nfe", nfce = root_ / "nfce";
  testing::WriteFile(nfe + "/a.xml", kWellFormed);
  testing::WriteFile(nfce + "/copia.xml", kWellFormed);
  SetFolder(kNFe, nfe);
  SetFolder(kNFCe, nfce);
  Run();
  EXPECT_EQ(LogLines(),
            Expected({{kNFe, Folder(nfe, {Delivered(nfe + "/a.xml")})}, {kNFCe, Folder(nfce)}}));
  EXPECT_EQ(Uploads().size(), 1u);
  EXPECT_EQ(HistoryRows().size(), 1u);
}

TEST_F(RunTest, SameContentUnderAnotherEndpointIsSentAndRecordedAgain) {
  std::string nfe = root_ / "nfe", cte = root_ / "cte";
  testing::WriteFile(nfe + "/a.xml", kWellFormed);
  testing::WriteFile(cte + "/a.xml", kWellFormed);
  SetFolder(kNFe, nfe);
  SetFolder(kCTe, cte);
  Run();
  Run();  // the second run finds both recorded and sends nothing
  EXPECT_EQ(Uploads().size(), 2u);
  EXPECT_EQ(HistoryRows().size(), 2u);
  std::vector<std::string> lines = LogLines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.find("ERRO: ") != l.npos; }),
            0);
}

TEST_F(RunTest, RefusedUploadLeavesNoTraceAndIsSentAgainNextRun) {
  std::string dir = root_ / "nfe";
  testing::WriteFile(dir + "/a.xml", kWellFormed);
  SetFolder(kNFe, dir);
  portal_.SetAnswerBody("{\"msg\":\"500\"}");
  Run();
  EXPECT_EQ(LogLines(), Expected({{kNFe, Folder(dir)}}));
  EXPECT_TRUE(HistoryRows().empty());
  portal_.SetAnswerBody("{\"msg\":\"100\"}");
  Run();
  EXPECT_EQ(Uploads().size(), 2u);
  EXPECT_EQ(HistoryRows().size(), 1u);
  Run();
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
    testing::WriteFile(nfe + "/" + name, std::string("<") + name[0] + "/>");
  }
  testing::WriteFile(nfce + "/n.xml", "<n/>");
  SetFolder(kNFe, nfe);
  SetFolder(kNFCe, nfce);
  std::vector<std::string> order = ListingOrder(nfe);
  ASSERT_EQ(order.size(), 5u);
  // The third file is being written by another program, which keeps the upload from reading it.
  std::string victim = nfe + "/" + order[2];
  std::ofstream writer(victim, std::ios::app);

  Run();
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
  Run();
  EXPECT_EQ(Uploads().size(), 6u);
}

TEST_F(RunTest, FolderPathEndingInSlashGivesDoubledSlashes) {
  std::string dir = root_ / "nfe";
  testing::WriteFile(dir + "/a.xml", kWellFormed);
  SetFolder(kNFe, dir + "/");
  Run();
  EXPECT_EQ(LogLines(), Expected({{kNFe, Folder(dir + "/", {Delivered(dir + "//a.xml")})}}));
}

TEST_F(RunTest, OneFolderUnderTwoKeysIsWalkedTwiceWithEachKind) {
  std::string dir = root_ / "docs";
  testing::WriteFile(dir + "/a.xml", kWellFormed);
  SetFolder(kNFe, dir);
  SetFolder(kCTe, dir);
  Run();
  EXPECT_EQ(LogLines(), Expected({{kNFe, Folder(dir, {Delivered(dir + "/a.xml")})},
                                  {kCTe, Folder(dir, {Delivered(dir + "/a.xml")})}}));
  std::vector<Sent> sent = Uploads();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].target, "/api/docs/nfenfce/upload");
  EXPECT_EQ(sent[1].target, "/api/docs/cte/upload");
}

TEST_F(RunTest, HistoryThatCannotBeOpenedEndsEachFolderWithAnError) {
  std::string dir = root_ / "nfe";
  testing::WriteFile(dir + "/a.xml", kWellFormed);
  SetFolder(kNFe, dir);
  testing::WriteFile(cwd_ + "/" + kHistoryFileName, "this is not a database, just some text");
  Run();
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 27u);
  EXPECT_EQ(lines[2].rfind(Erro(kFolder, "ERRO: "), 0), 0u) << lines[2];
  EXPECT_TRUE(Uploads().empty());
}

TEST_F(RunTest, LogThatCannotBeSetUpEndsTheRunButStillCompletes) {
  testing::WriteFile(root_ / "app//LOG", "a file where the folder should be");
  Run();
  EXPECT_FALSE(fatal_error_.empty());
  EXPECT_TRUE(Uploads().empty());
}

TEST_F(RunTest, RunsThatEndInErrorsLeaveNoDescriptorOpen) {
  std::string dir = root_ / "nfe";
  testing::WriteFile(dir + "/a/b/bad.xml", "<bad");
  testing::WriteFile(dir + "/a/b/c/ok.xml", kWellFormed);
  SetFolder(kNFe, dir);
  SetFolder(kNFCe, root_ / "missing");
  testing::WriteFile(cwd_ + "/" + kHistoryFileName, "not a database");
  Run();
  int before = testing::OpenDescriptorCount();
  for (int i = 0; i < 20; ++i) Run();
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
  testing::WriteFile(dir + "/a.xml", "<a/>");
  testing::WriteFile(dir + "/b.xml", "<b/>");
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
