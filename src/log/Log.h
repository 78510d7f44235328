// The run log: one file per program start in the LOG folder, one line per event.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "log/Diretory.h"

namespace velarix {

class TLog {
 public:
  // The process-wide writer, created on first use (fixes the file name, prunes the folder).
  // Throws when the log folder cannot be created; the next call tries again.
  static TLog& GetInstance();
  // Makes the next GetInstance() create a writer over this folder object (tests only).
  static void ResetForTesting(TDiretory* folders);

  // A writer whose file name is fixed now and whose folder comes from folders.
  explicit TLog(TDiretory* folders);

  // One line each, "INFO" or "ERRO"; never throw: a line that cannot be written is lost.
  void Info(const std::string& origin, const std::string& message);
  void Erro(const std::string& origin, const std::string& message);

  // "ddmmyyyyhhnnss.txt", fixed at creation.
  const std::string& FileName() const { return file_name_; }

 private:
  void Write(const char* level, const std::string& origin, const std::string& message);

  TDiretory* folders_;
  std::string file_name_;
  std::mutex mutex_;  // serialises writes, should two threads ever write
};

// Deletes surplus ".txt" files of the log folder so that at most 29 remain.
void PruneLogFiles(const std::string& folder);

}  // namespace velarix
