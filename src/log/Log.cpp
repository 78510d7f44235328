#include "log/Log.h"

#include <cstdio>
#include <memory>

#include "platform/Env.h"

namespace velarix {

namespace {

std::mutex instance_mutex;
TLog* instance = nullptr;               // guarded by instance_mutex; never released in the program
TDiretory* folders_for_test = nullptr;  // guarded by instance_mutex

bool IsLogFileName(const std::string& name) {
  // Case-sensitive, as names are everywhere else on Linux: a hand-made NOTES.TXT stays.
  return name.size() >= 4 && name.ends_with(".txt");
}

// The next entry whose name matches "*.txt"; false at the end of the listing.
bool NextLogFile(DirectoryListing* listing, DirEntry* entry) {
  while (listing->Next(entry)) {
    if (IsLogFileName(entry->name)) return true;
  }
  return false;
}

}  // namespace

TLog& TLog::GetInstance() {
  std::lock_guard<std::mutex> lock(instance_mutex);
  if (instance == nullptr) {
    TDiretory* folders = folders_for_test != nullptr ? folders_for_test : &TDiretory::GetInstance();
    instance = new TLog(folders);  // a failure keeps nothing, so the next call tries again
  }
  return *instance;
}

void TLog::ResetForTesting(TDiretory* folders) {
  std::lock_guard<std::mutex> lock(instance_mutex);
  delete instance;
  instance = nullptr;
  folders_for_test = folders;
}

TLog::TLog(TDiretory* folders) : folders_(folders) {
  LocalTime t = Env::Current()->Now();
  char name[64];
  std::snprintf(name, sizeof name, "%02d%02d%04d%02d%02d%02d.txt", t.day, t.month, t.year, t.hour,
                t.minute, t.second);
  file_name_ = name;
  PruneLogFiles(folders_->GetLogDir());
}

void TLog::Info(const std::string& origin, const std::string& message) {
  Write("INFO-Class: ", origin, message);
}

void TLog::Erro(const std::string& origin, const std::string& message) {
  Write("ERRO-Class: ", origin, message);
}

void TLog::Write(const char* level, const std::string& origin, const std::string& message) {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    Env* env = Env::Current();
    // Asked every time, so that a log folder deleted meanwhile is made again.
    std::string path = folders_->GetLogDir() + file_name_;
    LocalTime t = env->Now();
    char date = env->DateSeparator();
    char time = env->TimeSeparator();
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%02d%c%02d%c%04d %02d%c%02d%c%02d", t.day, date, t.month,
                  date, t.year, t.hour, time, t.minute, time, t.second);
    std::string line = std::string(stamp) + "-" + level + origin + "-mensagem: " + message + "\r\n";
    env->AppendToFile(path, line);
  } catch (...) {
    // The log is where failures are reported, so its own failures have nowhere to go.
  }
}

void PruneLogFiles(const std::string& folder) {
  try {
    Env* env = Env::Current();
    std::string reason;
    DirEntry entry;
    size_t count = 0;
    {
      std::unique_ptr<DirectoryListing> listing = env->OpenDirectory(folder + "/", &reason);
      if (listing == nullptr) return;
      while (NextLogFile(listing.get(), &entry)) {
        if (entry.name.front() != '.') ++count;
      }
    }
    if (count < 30) return;
    // Deletes the first entries the listing yields, dot names included.
    std::unique_ptr<DirectoryListing> listing = env->OpenDirectory(folder + "/", &reason);
    if (listing == nullptr) return;
    for (size_t i = 0; i < count - 29 && NextLogFile(listing.get(), &entry); ++i) {
      env->DeleteFile(folder + "/" + entry.name);
    }
  } catch (...) {
    // Pruning is housekeeping: it never stops the log from starting.
  }
}

}  // namespace velarix
