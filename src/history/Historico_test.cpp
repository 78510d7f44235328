#include "history/Historico.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/Env.h"
#include "testing/TempDir.h"

namespace velarix {
namespace {

using testing::ScopedCurrentDir;
using testing::TempDir;
namespace fs = std::filesystem;

constexpr char kHash[] = "a9993e364706816aba3e25717850c26c9cd0d89d";
constexpr char kOtherHash[] = "da39a3ee5e6b4b0d3255bfef95601890afd80709";
constexpr char kNewSchema[] =
    "CREATE TABLE Arquivos(  hash TEXT NOT NULL,  pasta TEXT NOT NULL,  "
    "CONSTRAINT Arquivos_PK PRIMARY KEY (hash, pasta))";
constexpr char kOldSchema[] =
    "CREATE TABLE IF NOT EXISTS Arquivos(  hash TEXT NOT NULL,  pasta TEXT NOT NULL,  "
    "CONSTRAINT Arquivos_PK PRIMARY KEY (hash));";
constexpr DocumentKind kNFe = 0, kNFCe = 1, kCTe = 2;

// A connection of the test's own, straight over SQLite, for fixtures and for looking inside.
class RawDb {
 public:
  explicit RawDb(const std::string& path) {
    EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK) << sqlite3_errmsg(db_);
  }
  ~RawDb() { sqlite3_close(db_); }
  int Exec(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  }
  // The first column of every row.
  std::vector<std::string> Column(const std::string& sql) {
    std::vector<std::string> values;
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db_);
    while (sqlite3_step(statement) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(statement, 0);
      values.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "NULL");
    }
    sqlite3_finalize(statement);
    return values;
  }

 private:
  sqlite3* db_ = nullptr;
};

std::vector<std::string> Schema(const std::string& path) {
  return RawDb(path).Column("SELECT sql FROM sqlite_master WHERE type = 'table'");
}
std::vector<std::string> Rows(const std::string& path) {
  return RawDb(path).Column("SELECT hash || ' ' || pasta FROM Arquivos ORDER BY hash, pasta");
}

// The history both ways: an operation per connection, and one THistorico for the whole test.
struct History {
  virtual ~History() = default;
  virtual bool Consulta(const std::string& hash, DocumentKind kind) = 0;
  virtual void Grava(const std::string& hash, DocumentKind kind) = 0;
};
struct PerOperation : History {
  bool Consulta(const std::string& hash, DocumentKind kind) override {
    return ConsultaHistorico(hash, kind);
  }
  void Grava(const std::string& hash, DocumentKind kind) override { GravaHistorico(hash, kind); }
};
struct KeptOpen : History {
  bool Consulta(const std::string& hash, DocumentKind kind) override {
    return history.Consulta(hash, kind);
  }
  void Grava(const std::string& hash, DocumentKind kind) override { history.Grava(hash, kind); }
  THistorico history;
};

class HistoryTest : public ::testing::TestWithParam<bool> {
 protected:
  HistoryTest() : cwd_(dir_.path()) {
    if (GetParam()) {
      history_ = std::make_unique<KeptOpen>();
    } else {
      history_ = std::make_unique<PerOperation>();
    }
  }
  std::string DbPath() const { return dir_ / kHistoryFileName; }
  // The message of the DatabaseError that f raises.
  template <typename F>
  std::string Failure(F f) {
    try {
      f();
    } catch (const DatabaseError& e) {
      return e.what();
    }
    ADD_FAILURE() << "no DatabaseError";
    return "";
  }

  TempDir dir_;
  ScopedCurrentDir cwd_;
  std::unique_ptr<History> history_;
};

TEST_P(HistoryTest, FirstLookupCreatesTheFileWithItsTable) {
  EXPECT_FALSE(fs::exists(DbPath()));
  EXPECT_FALSE(history_->Consulta(kHash, kNFe));
  EXPECT_EQ(Schema(DbPath()), std::vector<std::string>{kNewSchema});
  EXPECT_TRUE(Rows(DbPath()).empty());
}

TEST_P(HistoryTest, LooksUpByFingerprintAndEndpointPath) {
  history_->Grava(kHash, kNFe);
  struct {
    std::string hash;
    DocumentKind kind;
    bool found;
  } lookups[] = {
      {kHash, kNFe, true},
      {kHash, kNFCe, true},  // the same endpoint path
      {kHash, kCTe, false},
      {kOtherHash, kNFe, false},
      {"A9993E364706816ABA3E25717850C26C9CD0D89D", kNFe, false},  // case matters
  };
  for (const auto& l : lookups) {
    EXPECT_EQ(history_->Consulta(l.hash, l.kind), l.found) << l.hash << " " << int(l.kind);
  }
  // The same content delivered to a second endpoint is a second row, not a failure.
  history_->Grava(kHash, kCTe);
  EXPECT_TRUE(history_->Consulta(kHash, kCTe));
  EXPECT_EQ(Rows(DbPath()),
            (std::vector<std::string>{std::string(kHash) + " api/docs/cte/upload",
                                      std::string(kHash) + " api/docs/nfenfce/upload"}));
}

TEST_P(HistoryTest, ConvertsAFileKeyedOnTheFingerprintAlone) {
  {
    RawDb old(DbPath());
    ASSERT_EQ(old.Exec(kOldSchema), SQLITE_OK);
    ASSERT_EQ(
        old.Exec(std::string("INSERT INTO Arquivos VALUES ('") + kHash +
                 "', 'api/docs/nfenfce/upload'), ('" + kOtherHash + "', 'api/docs/mdfe/upload')"),
        SQLITE_OK);
  }
  EXPECT_TRUE(history_->Consulta(kHash, kNFCe));
  EXPECT_EQ(Schema(DbPath()), std::vector<std::string>{kNewSchema});
  EXPECT_TRUE(history_->Consulta(kOtherHash, 3));
  history_->Grava(kHash, kCTe);  // refused by the old key
  EXPECT_EQ(Rows(DbPath()).size(), 3u);
  EXPECT_EQ(RawDb(DbPath()).Column("SELECT name FROM sqlite_master ORDER BY name"),
            (std::vector<std::string>{"Arquivos", "sqlite_autoindex_Arquivos_1"}));
}

TEST_P(HistoryTest, AConversionThatFailsChangesNothing) {
  RawDb other(DbPath());
  ASSERT_EQ(other.Exec(kOldSchema), SQLITE_OK);
  ASSERT_EQ(other.Exec(std::string("INSERT INTO Arquivos VALUES ('") + kHash +
                       "', 'api/docs/nfenfce/upload')"),
            SQLITE_OK);
  const std::vector<std::string> old_schema = Schema(DbPath());
  // A reader in another connection keeps the rebuild from committing.
  ASSERT_EQ(other.Exec("BEGIN"), SQLITE_OK);
  ASSERT_EQ(other.Column("SELECT count(*) FROM Arquivos"), std::vector<std::string>{"1"});
  EXPECT_NE(Failure([&] { history_->Consulta(kHash, kNFe); }), "");
  ASSERT_EQ(other.Exec("COMMIT"), SQLITE_OK);
  EXPECT_EQ(Schema(DbPath()), old_schema);
  EXPECT_EQ(Rows(DbPath()),
            std::vector<std::string>{std::string(kHash) + " api/docs/nfenfce/upload"});

  EXPECT_TRUE(history_->Consulta(kHash, kNFe));
  EXPECT_EQ(Schema(DbPath()), std::vector<std::string>{kNewSchema});
}

TEST_P(HistoryTest, AnEmptyFileGetsItsTable) {
  testing::WriteFile(DbPath(), "");
  EXPECT_FALSE(history_->Consulta(kHash, kNFe));
  history_->Grava(kHash, kNFe);
  EXPECT_TRUE(history_->Consulta(kHash, kNFe));
}

TEST_P(HistoryTest, FilesThatAreNotAHistoryFailAndAreLeftAlone) {
  {
    RawDb foreign(DbPath());
    ASSERT_EQ(foreign.Exec("CREATE TABLE outra(x)"), SQLITE_OK);
  }
  std::string message = Failure([&] { history_->Consulta(kHash, kNFe); });
  EXPECT_NE(message.find("no such table: arquivos"), std::string::npos) << message;
  EXPECT_NE(message.find("SELECT 1 from arquivos WHERE pasta = :pasta AND hash = :hash"),
            std::string::npos)
      << message;
  message = Failure([&] { history_->Grava(kHash, kNFe); });
  EXPECT_NE(message.find("no such table: arquivos"), std::string::npos) << message;
  EXPECT_EQ(Schema(DbPath()), std::vector<std::string>{"CREATE TABLE outra(x)"});

  const std::string text =
      "Este arquivo n\xc3\xa3o \xc3\xa9 um banco de dados.\n" + std::string(200, '-');
  testing::WriteFile(DbPath(), text);
  message = Failure([&] { history_->Consulta(kHash, kNFe); });
  EXPECT_NE(message.find("file is not a database"), std::string::npos) << message;
  EXPECT_EQ(testing::ReadFile(DbPath()), text);
}

TEST_P(HistoryTest, ALockedDatabaseFailsAtOnceAndTheNextOperationStartsClean) {
  int descriptors = testing::OpenDescriptorCount();
  history_->Grava(kHash, kNFe);
  RawDb other(DbPath());
  ASSERT_EQ(other.Exec("BEGIN EXCLUSIVE"), SQLITE_OK);
  auto start = std::chrono::steady_clock::now();
  std::string message = Failure([&] { history_->Consulta(kHash, kNFe); });
  EXPECT_NE(message.find("locked"), std::string::npos) << message;
  message = Failure([&] { history_->Grava(kOtherHash, kNFe); });
  EXPECT_NE(message.find("locked"), std::string::npos) << message;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  ASSERT_EQ(other.Exec("COMMIT"), SQLITE_OK);
  // Only the other connection is left open (SQLite defers closing a file while another
  // connection of the process holds a lock on it).
  EXPECT_EQ(testing::OpenDescriptorCount(), descriptors + 1);

  EXPECT_TRUE(history_->Consulta(kHash, kNFe));
  history_->Grava(kOtherHash, kNFe);
  // Between operations the history holds no lock.
  ASSERT_EQ(other.Exec("BEGIN EXCLUSIVE"), SQLITE_OK);
  ASSERT_EQ(other.Exec("COMMIT"), SQLITE_OK);
  EXPECT_EQ(Rows(DbPath()).size(), 2u);
}

TEST_P(HistoryTest, FailsWhereTheCurrentDirectoryCannotHoldTheFile) {
  testing::MakeDirs(DbPath());  // a folder where the file should be
  EXPECT_NE(Failure([&] { history_->Consulta(kHash, kNFe); }), "");

  testing::MakeDirs(dir_ / "gone");
  ScopedCurrentDir gone(dir_ / "gone");
  fs::remove(dir_ / "gone");
  EXPECT_NE(Failure([&] { history_->Consulta(kHash, kNFe); }), "");
  EXPECT_NE(Failure([&] { history_->Grava(kHash, kNFe); }), "");
}

TEST_P(HistoryTest, EachCurrentDirectoryHasItsOwnHistory) {
  history_->Grava(kHash, kNFe);
  testing::MakeDirs(dir_ / "other");
  {
    ScopedCurrentDir other(dir_ / "other");
    EXPECT_FALSE(history_->Consulta(kHash, kNFe));
    history_->Grava(kOtherHash, kNFe);
  }
  EXPECT_TRUE(history_->Consulta(kHash, kNFe));
  EXPECT_FALSE(history_->Consulta(kOtherHash, kNFe));
  EXPECT_EQ(Rows(dir_ / (std::string("other/") + kHistoryFileName)).size(), 1u);
}

TEST_P(HistoryTest, ARecordSurvivesACrashRightAfterIt) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    history_->Grava(kHash, kNFe);
    _exit(0);  // no destructors, no clean-up of any kind
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(fs::exists(dir_ / (std::string(kHistoryFileName) + "-journal")));
  EXPECT_TRUE(ConsultaHistorico(kHash, kNFe));
}

INSTANTIATE_TEST_SUITE_P(Both, HistoryTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "KeptOpen" : "PerOperation";
                         });

class KeptOpenTest : public ::testing::Test {
 protected:
  KeptOpenTest() : cwd_(dir_.path()) {}
  TempDir dir_;
  ScopedCurrentDir cwd_;
  THistorico history_;
};

TEST_F(KeptOpenTest, OpensNothingBeforeTheFirstOperation) {
  THistorico unused;
  EXPECT_FALSE(fs::exists(dir_ / kHistoryFileName));
}

TEST_F(KeptOpenTest, AFileRemovedDuringTheRunIsCreatedAgain) {
  history_.Grava(kHash, kNFe);
  ASSERT_TRUE(fs::remove(dir_ / kHistoryFileName));
  EXPECT_FALSE(history_.Consulta(kHash, kNFe));
  EXPECT_EQ(Schema(dir_ / kHistoryFileName), std::vector<std::string>{kNewSchema});
  history_.Grava(kOtherHash, kNFe);
  EXPECT_EQ(Rows(dir_ / kHistoryFileName),
            std::vector<std::string>{std::string(kOtherHash) + " api/docs/nfenfce/upload"});
}

TEST_F(KeptOpenTest, AFileReplacedDuringTheRunIsReopened) {
  history_.Grava(kHash, kNFe);
  testing::MakeDirs(dir_ / "new");
  {
    RawDb replacement(dir_ / (std::string("new/") + kHistoryFileName));
    ASSERT_EQ(replacement.Exec(kNewSchema), SQLITE_OK);
    ASSERT_EQ(replacement.Exec(std::string("INSERT INTO Arquivos VALUES ('") + kOtherHash +
                               "', 'api/docs/nfenfce/upload')"),
              SQLITE_OK);
  }
  fs::rename(dir_ / (std::string("new/") + kHistoryFileName), dir_ / kHistoryFileName);
  EXPECT_TRUE(history_.Consulta(kOtherHash, kNFe));
  EXPECT_FALSE(history_.Consulta(kHash, kNFe));

  // Replaced by something that is no database: fails, and recovers once the file is good again.
  testing::WriteFile(dir_ / "junk", std::string(300, 'x'));
  fs::rename(dir_ / "junk", dir_ / kHistoryFileName);
  EXPECT_THROW(history_.Consulta(kHash, kNFe), DatabaseError);
  fs::remove(dir_ / kHistoryFileName);
  EXPECT_FALSE(history_.Consulta(kHash, kNFe));
}

// Look-ups close together share one read: while it is open, another process cannot write; a
// miss, the time window, a record or EndRead each let it write again.
TEST_F(KeptOpenTest, CloseLookUpsShareOneReadThatEndsSoon) {
  struct Clock : EnvWrapper {
    Clock() : EnvWrapper(Env::Default()) {}
    int64_t MonotonicMs() override { return now; }
    int64_t now = 1000;
  } clock;
  ScopedEnv scoped(&clock);
  history_.Grava(kHash, kNFe);
  RawDb other(dir_ / kHistoryFileName);
  auto other_can_write = [&] {
    if (other.Exec("BEGIN EXCLUSIVE") != SQLITE_OK) return false;
    EXPECT_EQ(other.Exec("COMMIT"), SQLITE_OK);
    return true;
  };

  EXPECT_TRUE(history_.Consulta(kHash, kNFe));
  EXPECT_FALSE(other_can_write());
  history_.EndRead();
  EXPECT_TRUE(other_can_write());

  EXPECT_TRUE(history_.Consulta(kHash, kNFe));
  clock.now += THistorico::kReadWindowMs - 1;
  EXPECT_TRUE(history_.Consulta(kHash, kNFe));
  EXPECT_FALSE(other_can_write());
  clock.now += 1;
  EXPECT_TRUE(history_.Consulta(kHash, kNFe));
  EXPECT_TRUE(other_can_write());

  EXPECT_TRUE(history_.Consulta(kHash, kNFe));
  EXPECT_FALSE(history_.Consulta(kOtherHash, kNFe));
  EXPECT_TRUE(other_can_write());

  EXPECT_TRUE(history_.Consulta(kHash, kNFe));
  history_.Grava(kOtherHash, kNFe);
  EXPECT_TRUE(other_can_write());
  EXPECT_EQ(Rows(dir_ / kHistoryFileName).size(), 2u);

  // What another process wrote meanwhile is seen by the next look-up.
  ASSERT_EQ(other.Exec(std::string("INSERT INTO Arquivos VALUES ('") + kHash +
                       "', 'api/docs/cte/upload')"),
            SQLITE_OK);
  EXPECT_TRUE(history_.Consulta(kHash, kCTe));
}

}  // namespace
}  // namespace velarix
