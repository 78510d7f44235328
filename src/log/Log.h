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
  // Destroys the current writer and makes the next GetInstance() create one over this folder
  // object, or over TDiretory::GetInstance() when it is nullptr (tests only).
  static void ResetForTesting(TDiretory* folders);

  // A writer whose file name is fixed now and whose folder comes from folders; creates the log
  // folder when missing and prunes it. Throws IoError when the folder cannot be created.
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

// Counts the "*.txt" entries of the log folder (case-sensitive) whose names do not begin with
// "." and, from 30 on, deletes (count - 29) "*.txt" entries, the first ones the listing yields,
// dot names included. Other names are never touched. Never fails: what cannot go is left.
void PruneLogFiles(const std::string& folder);

}  // namespace velarix
