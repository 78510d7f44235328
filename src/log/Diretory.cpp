#include "log/Diretory.h"

#include <cerrno>
#include <mutex>
#include <utility>

#include "platform/Env.h"

namespace velarix {

TDiretory& TDiretory::GetInstance() {
  static std::mutex mutex;
  static TDiretory* instance = nullptr;  // never released: used until the process ends
  std::lock_guard<std::mutex> lock(mutex);
  if (instance == nullptr) {
    std::string executable = Env::Current()->ExecutablePath();
    size_t slash = executable.rfind('/');
    // Without a folder the log folder would become "/LOG/" at the root of the file system.
    if (slash == std::string::npos) {
      throw IoError("Unable to find the program's folder: " + SystemErrorText(ENOENT), ENOENT);
    }
    instance = new TDiretory(executable.substr(0, slash + 1));
  }
  return *instance;
}

TDiretory::TDiretory(std::string application_dir)
    : application_dir_(std::move(application_dir)), log_dir_(application_dir_ + "/LOG/") {}

std::string TDiretory::GetLogDir() {
  Env* env = Env::Current();
  if (!env->DirectoryExists(log_dir_)) {
    int error = env->CreateDirectory(log_dir_);
    // Someone else may have created it meanwhile, which is just as good.
    if (error != 0 && !(error == EEXIST && env->DirectoryExists(log_dir_))) {
      throw IoError("Unable to create folder " + log_dir_ + ": " + SystemErrorText(error), error);
    }
  }
  return log_dir_;
}

}  // namespace velarix
