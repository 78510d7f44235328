#include "platform/Env.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "testing/TempDir.h"

namespace velarix {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

std::map<std::string, EntryKind> ListAll(const std::string& path) {
  std::string reason;
  auto listing = Env::Current()->OpenDirectory(path, &reason);
  EXPECT_NE(listing, nullptr) << reason;
  std::map<std::string, EntryKind> entries;
  DirEntry entry;
  while (listing != nullptr && listing->Next(&entry)) entries[entry.name] = entry.kind;
  return entries;
}

TEST(EnvTest, ListingGivesEveryEntryWithTheKindItReaches) {
  TempDir dir;
  testing::WriteFile(dir / "a.xml", "<a/>");
  testing::WriteFile(dir / ".hidden.xml", "<a/>");
  testing::MakeDirs(dir / "sub");
  fs::create_directory_symlink(dir / "sub", dir / "link-to-dir");
  fs::create_symlink(dir / "a.xml", dir / "link-to-file");
  fs::create_symlink(dir / "nowhere", dir / "dangling");
  ASSERT_EQ(mkfifo((dir / "pipe.xml").c_str(), 0600), 0);

  std::map<std::string, EntryKind> expected = {
      {".", EntryKind::kDirectory},       {"..", EntryKind::kDirectory},
      {"a.xml", EntryKind::kFile},        {".hidden.xml", EntryKind::kFile},
      {"sub", EntryKind::kDirectory},     {"link-to-dir", EntryKind::kDirectory},
      {"link-to-file", EntryKind::kFile}, {"dangling", EntryKind::kMissing},
      {"pipe.xml", EntryKind::kOther},
  };
  EXPECT_EQ(ListAll(dir.path()), expected);
}

TEST(EnvTest, OpenDirectoryFailsForAFileOrNothing) {
  TempDir dir;
  testing::WriteFile(dir / "f", "x");
  std::string reason;
  EXPECT_EQ(Env::Current()->OpenDirectory(dir / "f", &reason), nullptr);
  EXPECT_EQ(reason, "Not a directory");
  EXPECT_EQ(Env::Current()->OpenDirectory(dir / "missing", &reason), nullptr);
  EXPECT_EQ(reason, "No such file or directory");
}

TEST(EnvTest, OpenForReadRefusesWhatIsNotARegularFileWithoutBlocking) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "x.xml").c_str(), 0600), 0);
  testing::MakeDirs(dir / "d.xml");
  std::string reason;
  EXPECT_EQ(Env::Current()->OpenForRead(dir / "x.xml", OpenMode::kShared, &reason), nullptr);
  EXPECT_EQ(reason, "Not a regular file");
  EXPECT_EQ(Env::Current()->OpenForRead(dir / "d.xml", OpenMode::kShared, &reason), nullptr);
  EXPECT_EQ(reason, "Is a directory");
}

TEST(EnvTest, ExclusiveOpenIsRefusedWhileTheFileIsOpenForWriting) {
  TempDir dir;
  testing::WriteFile(dir / "n.xml", "<a/>");
  std::string reason;
  {
    std::ofstream writer(dir / "n.xml", std::ios::app);
    EXPECT_NE(Env::Current()->OpenForRead(dir / "n.xml", OpenMode::kShared, &reason), nullptr);
    EXPECT_EQ(Env::Current()->OpenForRead(dir / "n.xml", OpenMode::kExclusive, &reason), nullptr);
    EXPECT_EQ(reason, "The file is in use by another process");
  }
  auto file = Env::Current()->OpenForRead(dir / "n.xml", OpenMode::kExclusive, &reason);
  ASSERT_NE(file, nullptr) << reason;
  char buffer[16];
  EXPECT_EQ(file->Size(), 4u);
  EXPECT_EQ(file->Read(buffer, sizeof buffer, &reason), 4);
  EXPECT_EQ(file->Read(buffer, sizeof buffer, &reason), 0);
}

TEST(EnvTest, ReplaceFileKeepsPermissionsAndRefusesReadOnlyFiles) {
  TempDir dir;
  std::string path = dir / "agent.ini";
  testing::WriteFile(path, "old");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  EXPECT_EQ(Env::Current()->ReplaceFile(path, "new"), 0);
  EXPECT_EQ(testing::ReadFile(path), "new");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(Env::Current()->ReplaceFile(path, "newer"), EACCES);
  EXPECT_EQ(testing::ReadFile(path), "new");
  // Nothing but the file itself is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(EnvTest, ReplaceFileThroughALinkReplacesItsTarget) {
  TempDir dir;
  testing::WriteFile(dir / "real.ini", "old");
  fs::create_symlink(dir / "real.ini", dir / "link.ini");
  EXPECT_EQ(Env::Current()->ReplaceFile(dir / "link.ini", "new"), 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
  EXPECT_EQ(testing::ReadFile(dir / "real.ini"), "new");
}

TEST(EnvTest, ReplaceFileInAFolderThatIsAFileFails) {
  TempDir dir;
  testing::WriteFile(dir / "file", "x");
  EXPECT_EQ(Env::Current()->ReplaceFile(dir / "file/agent.ini", "new"), ENOTDIR);
}

TEST(EnvTest, AppendCreatesThenAppends) {
  TempDir dir;
  EXPECT_EQ(Env::Current()->AppendToFile(dir / "log.txt", "a\r\n"), 0);
  EXPECT_EQ(Env::Current()->AppendToFile(dir / "log.txt", "b\r\n"), 0);
  EXPECT_EQ(testing::ReadFile(dir / "log.txt"), "a\r\nb\r\n");
  EXPECT_EQ(Env::Current()->AppendToFile(dir / "missing/log.txt", "a"), ENOENT);
}

TEST(EnvTest, SeparatorsOfTheCLocale) {
  setenv("LC_ALL", "C", 1);  // read once, at the first call
  EXPECT_EQ(Env::Current()->DateSeparator(), '/');
  EXPECT_EQ(Env::Current()->TimeSeparator(), ':');
}

TEST(EnvTest, ScopedEnvReplacesAndRestores) {
  struct FixedClock : EnvWrapper {
    FixedClock() : EnvWrapper(Env::Default()) {}
    LocalTime Now() override { return {2026, 12, 9, 14, 5, 7}; }
  } clock;
  {
    ScopedEnv scoped(&clock);
    EXPECT_EQ(Env::Current()->Now().second, 7);
  }
  EXPECT_EQ(Env::Current(), Env::Default());
}

}  // namespace
}  // namespace velarix
