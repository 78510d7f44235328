// A whole transmission run over real folders, a real settings file, a real history file and a
// loopback portal, for the run's end-to-end and fault tests.
#pragma once

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
#include "run/ThreadTransmissao.h"
#include "testing/LoopbackPortal.h"
#include "testing/MainThreadQueueForTest.h"
#include "testing/TempDir.h"

namespace velarix::testing {

namespace fs = std::filesystem;

constexpr char kWellFormed[] = "<?xml version=\"1.0\"?><NFe><infNFe Id=\"1\"/></NFe>";

// Row numbers of WatchedFolders by their role, for readability.
enum Row { kNFe = 0, kNFCe = 1, kCTe = 2, kNFeCompras = 12 };

struct Sent {
  std::string target, file_name, bytes;
  bool operator==(const Sent&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Sent& s) {
  return out << "{" << s.target << ", " << s.file_name << ", " << s.bytes.size() << " bytes}";
}

constexpr char kFolder[] = "TThreadTransmissao.ProcessaPasta";
constexpr char kWalk[] = "TThreadTransmissao.TransmiteXMLs";

inline std::string Info(const char* origin, const std::string& message) {
  return std::string("INFO-Class: ") + origin + "-mensagem: " + message;
}
inline std::string Erro(const char* origin, const std::string& message) {
  return std::string("ERRO-Class: ") + origin + "-mensagem: " + message;
}
inline std::string Delivered(const std::string& path) {
  return Info(kWalk, "ARQUIVO: " + path + " ENVIADO.");
}
inline std::string Invalid(const std::string& path) {
  return Erro(kWalk, "ARQUIVO: " + path + " XML INVÁLIDO.");
}

// The lines a run writes: for every row its given lines, or those of an unset key.
inline std::vector<std::string> Expected(const std::map<int, std::vector<std::string>>& rows) {
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
inline std::vector<std::string> Folder(const std::string& path,
                                       std::vector<std::string> inside = {}) {
  std::vector<std::string> lines = {Info(kFolder, "PROCESSANDO :" + path),
                                    Info(kFolder, "PASTA: " + path)};
  lines.insert(lines.end(), inside.begin(), inside.end());
  return lines;
}

// The folders, files and portal of one test; RunOnce() performs one whole run, and the log file's
// lines are read back without their time stamps.
class RunScene {
 public:
  RunScene() : cwd_(root_.path() + "/cwd") {
    MakeDirs(root_ / "app");
    MakeDirs(root_ / "cwd");
    SetSettingsFilePath(root_ / "velarix.ini");
    folders_ = std::make_unique<TDiretory>(root_ / "app/");
    TLog::ResetForTesting(folders_.get());
    cwd_scope_ = std::make_unique<ScopedCurrentDir>(cwd_);
  }
  ~RunScene() {
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
  void RunOnce() {
    MainThreadQueueForTest queue;
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
      std::string text = ReadFile(entry.path());
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
  std::unique_ptr<ScopedCurrentDir> cwd_scope_;
  LoopbackPortal portal_;
  std::string fatal_error_;
};

}  // namespace velarix::testing
