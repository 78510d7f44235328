#include "config/Settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "config/WatchedFolders.h"
#include "platform/Env.h"
#include "platform/Error.h"
#include "testing/TempDir.h"

namespace velarix {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { SetSettingsFilePath(path_); }
  void TearDown() override { SetSettingsFilePath(""); }

  // Thirteen distinct values, each one a trap for a careless reader or writer.
  static FolderSettings TrickyValues() {
    return {"/srv/nfe",
            "/srv/nfce/",
            "/srv/com espaço/cte",
            " /srv/leading blank",
            "/srv/trailing blank ",
            "\"/srv/in quotes\"",
            "/srv/a=b;c#d",
            "",
            "/srv/ação/ü",
            "[DATA]",
            "C:\\Temp\\",
            "\"",
            "/srv/nfe-compras"};
  }

  std::vector<std::string> FilesInDir() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
      names.push_back(entry.path().filename());
    }
    return names;
  }

  TempDir dir_;
  std::string path_ = dir_ / "velarix.ini";
};

class ExecutablePathEnv : public EnvWrapper {
 public:
  ExecutablePathEnv() : EnvWrapper(Env::Default()) {}
  std::string ExecutablePath() override { return path; }
  std::string path;
};

TEST(SettingsFilePathTest, ReplacesTheExtensionOfTheExecutable) {
  const std::pair<const char*, const char*> cases[] = {
      {"/opt/velarix/velarix", "/opt/velarix/velarix.ini"},
      {"/opt/velarix/agente.exe", "/opt/velarix/agente.ini"},
      {"/opt/velarix/agente.bin.exe", "/opt/velarix/agente.bin.ini"},
      {"/opt/v1.2/agente", "/opt/v1.2/agente.ini"},
      {"/opt/velarix/agente.", "/opt/velarix/agente.ini"},
      {"/opt/com espaço/agente", "/opt/com espaço/agente.ini"},
  };
  ExecutablePathEnv env;
  ScopedEnv scoped(&env);
  for (const auto& [executable, expected] : cases) {
    env.path = executable;
    EXPECT_EQ(SettingsFilePath(), expected);
  }
  SetSettingsFilePath("/tmp/other.ini");
  EXPECT_EQ(SettingsFilePath(), "/tmp/other.ini");
  SetSettingsFilePath("");
  EXPECT_EQ(SettingsFilePath(), "/opt/com espaço/agente.ini");
}

TEST_F(SettingsTest, WithoutAFileEverythingReadsAsTheDefault) {
  EXPECT_EQ(LoadFolderSettings(), FolderSettings{});
  EXPECT_EQ(ReadFolderSetting("nfenfce_upload_xml_1"), "");
  EXPECT_EQ(ReadBaseUrl(), kDefaultBaseUrl);
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(SettingsTest, BaseUrlComesOnlyFromWebServiceAndIsUsedAsWritten) {
  const std::pair<const char*, const char*> cases[] = {
      {"[DATA]\nnfenfce_upload_xml_1=/srv\n", kDefaultBaseUrl},
      {"[DATA]\nUrl=http://wrong/\n", kDefaultBaseUrl},
      {"[webservice]\r\n url = http://127.0.0.1:8080/ \r\n", "http://127.0.0.1:8080/"},
      {"[WEBSERVICE]\nUrl=http://portal.example/api\n", "http://portal.example/api"},
  };
  for (const auto& [text, expected] : cases) {
    WriteFile(path_, text);
    EXPECT_EQ(ReadBaseUrl(), expected) << text;
  }
}

TEST_F(SettingsTest, SavedValuesReadBackExactlyEachInItsRow) {
  const FolderSettings values = TrickyValues();
  SaveFolderSettings(values);
  EXPECT_EQ(LoadFolderSettings(), values);
  for (size_t i = 0; i < WatchedFolders.size(); ++i) {
    EXPECT_EQ(ReadFolderSetting(WatchedFolders[i].key), values[i]) << WatchedFolders[i].key;
  }

  // Clearing a field keeps its key, with an empty value.
  FolderSettings cleared = values;
  cleared[0] = "";
  SaveFolderSettings(cleared);
  EXPECT_EQ(LoadFolderSettings(), cleared);
  EXPECT_NE(ReadFile(path_).find("\nnfenfce_upload_xml_1=\n"), std::string::npos);
}

TEST_F(SettingsTest, AFirstSaveWritesSectionDataAloneInTableOrder) {
  FolderSettings values;
  for (size_t i = 0; i < values.size(); ++i) values[i] = "/srv/" + std::to_string(i);
  values[2] = "";
  SaveFolderSettings(values);
  SaveFolderSettings(values);
  std::string expected = "[DATA]\n";
  for (size_t i = 0; i < values.size(); ++i) {
    expected += std::string(WatchedFolders[i].key) + "=" + values[i] + "\n";
  }
  EXPECT_EQ(ReadFile(path_), expected);
  EXPECT_EQ(ReadBaseUrl(), kDefaultBaseUrl);
}

TEST_F(SettingsTest, AHandEditedFileIsUnderstoodAndKeptByASave) {
  const std::string before =
      "\xEF\xBB\xBF; Velarix settings, edited by hand\r\n"
      "[WEBSERVICE]\r\n"
      "Url = http://127.0.0.1:9/\r\n"
      "\r\n"
      "[data]\r\n"
      "# the NF-e folder\r\n"
      "  NFENFCE_UPLOAD_XML_1 = /srv/nfe \r\n"
      "cte_upload_xml=\"/srv/with blank \"\r\n"
      "unknown_key=kept\r\n"
      "\r\n"
      "[EXTRA]\r\n"
      "nfe_upload_xml_1=not this one\r\n";
  WriteFile(path_, before);

  FolderSettings loaded = LoadFolderSettings();
  FolderSettings expected_loaded;
  expected_loaded[0] = "/srv/nfe";
  expected_loaded[2] = "/srv/with blank ";
  EXPECT_EQ(loaded, expected_loaded);
  EXPECT_EQ(ReadBaseUrl(), "http://127.0.0.1:9/");

  FolderSettings values = loaded;
  values[0] = "/srv/nfe2";
  SaveFolderSettings(values);

  std::string added;
  for (size_t i = 0; i < WatchedFolders.size(); ++i) {
    if (i == 0 || i == 2) continue;
    added += std::string(WatchedFolders[i].key) + "=\r\n";
  }
  const std::string after =
      "\xEF\xBB\xBF; Velarix settings, edited by hand\r\n"
      "[WEBSERVICE]\r\n"
      "Url = http://127.0.0.1:9/\r\n"
      "\r\n"
      "[data]\r\n"
      "# the NF-e folder\r\n"
      "nfenfce_upload_xml_1=/srv/nfe2\r\n"
      "cte_upload_xml=\"/srv/with blank \"\r\n"
      "unknown_key=kept\r\n" +
      added +
      "\r\n"
      "[EXTRA]\r\n"
      "nfe_upload_xml_1=not this one\r\n";
  EXPECT_EQ(ReadFile(path_), after);
  EXPECT_EQ(LoadFolderSettings(), values);
}

TEST_F(SettingsTest, LongValuesReadBackCutTo2047Characters) {
  FolderSettings values;
  values[4] = "/" + std::string(2999, 'x');
  SaveFolderSettings(values);
  EXPECT_EQ(LoadFolderSettings()[4], values[4].substr(0, 2047));
}

TEST_F(SettingsTest, ASaveThatCannotWriteReportsThePathAndChangesNothing) {
  // A folder path whose parent is a regular file, and a read-only settings file.
  WriteFile(dir_ / "plain-file", "x");
  const std::string under_a_file = dir_ / "plain-file/velarix.ini";
  const std::string read_only = dir_ / "velarix.ini";
  const std::string old_text = "[DATA]\r\nnfenfce_upload_xml_1=/old\r\n";
  WriteFile(read_only, old_text);
  ASSERT_EQ(chmod(read_only.c_str(), 0444), 0);

  for (const std::string& path : {under_a_file, read_only}) {
    SetSettingsFilePath(path);
    try {
      SaveFolderSettings(TrickyValues());
      ADD_FAILURE() << "no error for " << path;
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), ("Unable to write to " + path).c_str());
    }
  }
  EXPECT_EQ(ReadFile(read_only), old_text);
  EXPECT_EQ(ReadFile(dir_ / "plain-file"), "x");
  std::vector<std::string> files = FilesInDir();
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"plain-file", "velarix.ini"}));  // no temporaries
}

// Refuses the nth replace of the settings file, counting from 1.
class FailingReplaceEnv : public EnvWrapper {
 public:
  explicit FailingReplaceEnv(int fail_at) : EnvWrapper(Env::Default()), fail_at_(fail_at) {}
  int ReplaceFile(const std::string& path, std::string_view data) override {
    return ++calls_ == fail_at_ ? ENOSPC : target()->ReplaceFile(path, data);
  }

 private:
  int fail_at_;
  int calls_ = 0;
};

TEST_F(SettingsTest, ASaveStopsAtTheKeyThatFails) {
  FolderSettings old_values;
  for (size_t i = 0; i < old_values.size(); ++i) old_values[i] = "/old/" + std::to_string(i);
  SaveFolderSettings(old_values);
  FolderSettings new_values = TrickyValues();

  for (int fail_at : {1, 5, 13}) {
    SaveFolderSettings(old_values);
    {
      FailingReplaceEnv env(fail_at);
      ScopedEnv scoped(&env);
      EXPECT_THROW(SaveFolderSettings(new_values), Error);
    }
    FolderSettings expected = old_values;
    for (int i = 0; i < fail_at - 1; ++i) expected[i] = new_values[i];
    EXPECT_EQ(LoadFolderSettings(), expected) << "failing at key " << fail_at;
  }
}

TEST_F(SettingsTest, AValueWithALineBreakIsRefusedAndCannotInjectKeys) {
  FolderSettings old_values;
  old_values[3] = "/old";
  SaveFolderSettings(old_values);

  FolderSettings values = TrickyValues();
  values[3] = "/srv/a\n[WEBSERVICE]\nUrl=http://evil/";
  try {
    SaveFolderSettings(values);
    ADD_FAILURE() << "a line break was written";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), ("Unable to write to " + path_).c_str());
  }
  FolderSettings expected = old_values;
  for (size_t i = 0; i < 3; ++i) expected[i] = values[i];
  EXPECT_EQ(LoadFolderSettings(), expected);
  EXPECT_EQ(ReadBaseUrl(), kDefaultBaseUrl);

  values[3] = "/srv/a\r";
  EXPECT_THROW(SaveFolderSettings(values), Error);
  EXPECT_EQ(ReadFolderSetting(WatchedFolders[3].key), "/old");
}

}  // namespace
}  // namespace velarix
