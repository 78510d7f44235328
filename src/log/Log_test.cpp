#include "log/Log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <set>
#include <vector>

#include "log/Diretory.h"
#include "platform/Env.h"
#include "testing/TempDir.h"

namespace velarix {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

// A fixed clock and chosen separators over the real file system. The listing can be given a
// fixed order (by name, either way) and made to fail; deletions are recorded.
class LogEnv : public EnvWrapper {
 public:
  enum class Order { kFileSystem, kByName, kByNameReversed };

  LogEnv() : EnvWrapper(Env::Default()) {}

  LocalTime Now() override { return now; }
  char DateSeparator() override { return date_separator; }
  char TimeSeparator() override { return time_separator; }

  std::unique_ptr<DirectoryListing> OpenDirectory(const std::string& path,
                                                  std::string* reason) override {
    listed.push_back(path);
    if (fail_listing) {
      *reason = "Input/output error";
      return nullptr;
    }
    std::unique_ptr<DirectoryListing> real = target()->OpenDirectory(path, reason);
    if (real == nullptr || order == Order::kFileSystem) return real;
    std::vector<DirEntry> entries;
    DirEntry entry;
    while (real->Next(&entry)) entries.push_back(entry);
    std::sort(entries.begin(), entries.end(),
              [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    if (order == Order::kByNameReversed) std::reverse(entries.begin(), entries.end());
    return std::make_unique<FixedListing>(std::move(entries));
  }

  int DeleteFile(const std::string& path) override {
    deleted.push_back(path);
    return target()->DeleteFile(path);
  }

  int AppendToFile(const std::string& path, std::string_view data) override {
    return append_error != 0 ? append_error : target()->AppendToFile(path, data);
  }

  LocalTime now{2024, 12, 9, 14, 5, 7};
  char date_separator = '/';
  char time_separator = ':';
  Order order = Order::kFileSystem;
  bool fail_listing = false;
  int append_error = 0;
  std::vector<std::string> listed;
  std::vector<std::string> deleted;

 private:
  class FixedListing : public DirectoryListing {
   public:
    explicit FixedListing(std::vector<DirEntry> entries) : entries_(std::move(entries)) {}
    bool Next(DirEntry* entry) override {
      if (next_ == entries_.size()) return false;
      *entry = entries_[next_++];
      return true;
    }

   private:
    std::vector<DirEntry> entries_;
    size_t next_ = 0;
  };
};

class LogTest : public ::testing::Test {
 protected:
  void TearDown() override { TLog::ResetForTesting(nullptr); }

  // Names 01.txt, 02.txt, ... in the log folder.
  void MakeLogFiles(int count) {
    testing::MakeDirs(dir_ / "LOG");
    for (int i = 1; i <= count; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "%02d.txt", i);
      WriteFile(dir_ / "LOG/" + name, "old\r\n");
    }
  }

  std::set<std::string> LogFolderNames() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_ / "LOG")) {
      names.insert(entry.path().filename());
    }
    return names;
  }

  TempDir dir_;
  TDiretory folders_{dir_.path() + "/"};
  LogEnv env_;
  ScopedEnv scoped_{&env_};
  std::string log_dir_ = dir_.path() + "//LOG/";
};

TEST_F(LogTest, LogFolderIsFormedByPlainConcatenationAndCreatedOnDemand) {
  EXPECT_EQ(folders_.ApplicationDir(), dir_.path() + "/");
  EXPECT_FALSE(fs::exists(dir_ / "LOG"));
  EXPECT_EQ(folders_.GetLogDir(), log_dir_);
  EXPECT_TRUE(fs::is_directory(dir_ / "LOG"));
  EXPECT_EQ(folders_.GetLogDir(), log_dir_);  // already there: fine
}

TEST_F(LogTest, LogFolderThatCannotBeCreatedRaisesTheSystemsReason) {
  struct Case {
    const char* what;
    std::string application_dir;
    int code;
    const char* reason;
  };
  WriteFile(dir_ / "with-file/LOG", "not a folder");
  WriteFile(dir_ / "plain-file", "x");
  const Case cases[] = {
      {"a file named LOG", dir_ / "with-file/", EEXIST, "File exists"},
      {"an application folder that is gone", dir_ / "gone/", ENOENT, "No such file or directory"},
      {"an application folder that is a file", dir_ / "plain-file/", ENOTDIR, "Not a directory"},
  };
  for (const Case& c : cases) {
    TDiretory folders(c.application_dir);
    try {
      folders.GetLogDir();
      ADD_FAILURE() << c.what;
    } catch (const IoError& e) {
      EXPECT_EQ(e.code(), c.code) << c.what;
      EXPECT_EQ(std::string(e.what()),
                "Unable to create folder " + c.application_dir + "/LOG/: " + c.reason);
    }
  }
}

TEST(DiretoryTest, ProcessWideObjectSitsInTheExecutablesFolder) {
  std::string executable = fs::read_symlink("/proc/self/exe");
  EXPECT_EQ(TDiretory::GetInstance().ApplicationDir(),
            executable.substr(0, executable.rfind('/') + 1));
  EXPECT_EQ(&TDiretory::GetInstance(), &TDiretory::GetInstance());
}

TEST_F(LogTest, FileNameIsTheCreationTimeAndTheFileComesWithTheFirstLine) {
  const std::pair<LocalTime, const char*> cases[] = {
      {{2024, 12, 9, 14, 5, 7}, "09122024140507.txt"},
      {{2025, 1, 31, 0, 0, 0}, "31012025000000.txt"},
      {{999, 7, 1, 23, 59, 59}, "01070999235959.txt"},
  };
  for (const auto& [time, name] : cases) {
    env_.now = time;
    TLog log(&folders_);
    EXPECT_EQ(log.FileName(), name);
    EXPECT_FALSE(fs::exists(log_dir_ + name));
    env_.now = {2030, 2, 2, 2, 2, 2};  // a later line does not move the file
    log.Info("T.Op", "x");
    EXPECT_TRUE(fs::exists(log_dir_ + name));
  }
}

TEST_F(LogTest, LinesCarryTimestampLevelOriginAndMessageEndedByCrLf) {
  TLog log(&folders_);
  log.Info("TForm1.FormCreate", "INICIANDO APLICAÇÃO");
  env_.now = {2025, 1, 2, 3, 4, 5};
  env_.date_separator = '-';
  env_.time_separator = '.';
  log.Erro("TThreadTransmissao.ProcessaPasta", "ERRO: first\r\nsecond");
  log.Info("", "");

  EXPECT_EQ(ReadFile(log_dir_ + "09122024140507.txt"),
            "09/12/2024 14:05:07-INFO-Class: TForm1.FormCreate-mensagem: INICIANDO APLICAÇÃO\r\n"
            "02-01-2025 03.04.05-ERRO-Class: TThreadTransmissao.ProcessaPasta-mensagem: ERRO: "
            "first\r\nsecond\r\n"
            "02-01-2025 03.04.05-INFO-Class: -mensagem: \r\n");
}

TEST_F(LogTest, TwoStartsInTheSameSecondShareOneFile) {
  TLog first(&folders_);
  first.Info("A", "one");
  TLog second(&folders_);
  second.Info("B", "two");
  EXPECT_EQ(ReadFile(log_dir_ + first.FileName()),
            "09/12/2024 14:05:07-INFO-Class: A-mensagem: one\r\n"
            "09/12/2024 14:05:07-INFO-Class: B-mensagem: two\r\n");
}

TEST_F(LogTest, CreationPrunesSurplusTextFilesInListingOrder) {
  using Order = LogEnv::Order;
  struct Case {
    const char* what;
    int counted;
    bool dot_file;
    Order order;
    std::vector<std::string> expected_deleted;
  };
  const Case cases[] = {
      {"29 files stay", 29, false, Order::kByName, {}},
      {"30: the first listed goes", 30, false, Order::kByName, {"01.txt"}},
      {"30: the first listed goes, whatever its name",
       30,
       false,
       Order::kByNameReversed,
       {"30.txt"}},
      {"45: sixteen go",
       45,
       false,
       Order::kByName,
       {"01.txt", "02.txt", "03.txt", "04.txt", "05.txt", "06.txt", "07.txt", "08.txt", "09.txt",
        "10.txt", "11.txt", "12.txt", "13.txt", "14.txt", "15.txt", "16.txt"}},
      {"a dot file is not counted", 29, true, Order::kByName, {}},
      {"a dot file listed first is deleted in place of a counted one",
       30,
       true,
       Order::kByName,
       {".old.txt"}},
      {"a dot file listed last stays", 30, true, Order::kByNameReversed, {"30.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_ / "LOG");
    MakeLogFiles(c.counted);
    if (c.dot_file) WriteFile(dir_ / "LOG/.old.txt", "");
    WriteFile(dir_ / "LOG/notes.log", "mine");
    WriteFile(dir_ / "LOG/NOTES.TXT", "mine too");
    std::set<std::string> before = LogFolderNames();
    env_.order = c.order;
    env_.deleted.clear();

    TLog log(&folders_);

    std::vector<std::string> expected_paths;
    std::set<std::string> expected_names = before;
    for (const std::string& name : c.expected_deleted) {
      expected_paths.push_back(log_dir_ + "/" + name);  // the doubled "/" is kept
      expected_names.erase(name);
    }
    EXPECT_EQ(env_.deleted, expected_paths);
    EXPECT_EQ(LogFolderNames(), expected_names);
  }
}

TEST_F(LogTest, AfterPruningTheNewFileMakesThirty) {
  MakeLogFiles(40);
  TLog log(&folders_);
  log.Info("T.Op", "first line");
  std::set<std::string> names = LogFolderNames();
  EXPECT_EQ(names.size(), 30u);
  EXPECT_EQ(names.count(log.FileName()), 1u);
}

TEST_F(LogTest, PruningShrugsOffFailures) {
  MakeLogFiles(31);
  testing::MakeDirs(dir_ / "LOG/00.txt");  // listed first, counted, cannot be deleted
  env_.order = LogEnv::Order::kByName;
  env_.fail_listing = true;
  PruneLogFiles(log_dir_);
  EXPECT_EQ(LogFolderNames().size(), 32u);

  env_.fail_listing = false;
  PruneLogFiles(log_dir_);
  // Three to delete: the folder refuses, the next two go.
  EXPECT_EQ(env_.deleted.size(), 3u);
  EXPECT_TRUE(fs::is_directory(dir_ / "LOG/00.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "LOG/01.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "LOG/02.txt"));
  EXPECT_EQ(LogFolderNames().size(), 30u);
}

TEST_F(LogTest, AVanishedLogFolderIsMadeAgainByTheNextLine) {
  TLog log(&folders_);
  log.Info("T.Op", "before");
  fs::remove_all(dir_ / "LOG");
  log.Info("T.Op", "after");
  EXPECT_EQ(ReadFile(log_dir_ + log.FileName()),
            "09/12/2024 14:05:07-INFO-Class: T.Op-mensagem: after\r\n");
}

TEST_F(LogTest, ALineThatCannotBeWrittenIsDroppedQuietly) {
  TLog log(&folders_);
  // The file's place taken by a folder.
  testing::MakeDirs(log_dir_ + log.FileName());
  EXPECT_NO_THROW(log.Info("T.Op", "lost"));
  EXPECT_TRUE(fs::is_empty(log_dir_ + log.FileName()));
  fs::remove(log_dir_ + log.FileName());

  // The folder's place taken by a file.
  fs::remove_all(dir_ / "LOG");
  WriteFile(dir_ / "LOG", "");
  EXPECT_NO_THROW(log.Erro("T.Op", "lost"));
  EXPECT_EQ(ReadFile(dir_ / "LOG"), "");
  fs::remove(dir_ / "LOG");

  // The write itself failing.
  env_.append_error = EIO;
  EXPECT_NO_THROW(log.Info("T.Op", "lost"));
  env_.append_error = 0;
  log.Info("T.Op", "kept");
  EXPECT_EQ(ReadFile(log_dir_ + log.FileName()),
            "09/12/2024 14:05:07-INFO-Class: T.Op-mensagem: kept\r\n");
}

TEST_F(LogTest, GetInstanceFailsWhileLogIsAFileAndWorksOnceItIsGone) {
  WriteFile(dir_ / "LOG", "in the way");
  TLog::ResetForTesting(&folders_);
  EXPECT_THROW(TLog::GetInstance(), IoError);
  EXPECT_THROW(TLog::GetInstance(), IoError);  // tried again, failing again

  fs::remove(dir_ / "LOG");
  TLog& log = TLog::GetInstance();
  EXPECT_EQ(&TLog::GetInstance(), &log);
  EXPECT_TRUE(fs::is_directory(dir_ / "LOG"));
  log.Info("TForm1.FormCreate", "INICIANDO APLICAÇÃO");
  EXPECT_EQ(ReadFile(log_dir_ + "09122024140507.txt"),
            "09/12/2024 14:05:07-INFO-Class: TForm1.FormCreate-mensagem: INICIANDO APLICAÇÃO\r\n");
}

}  // namespace
}  // namespace velarix
