// The application folders: the executable's folder and the LOG folder beside it.
#pragma once

#include <string>

#include "platform/Error.h"

namespace velarix {

// Raised when the log folder cannot be created; carries the system's error code.
class IoError : public Error {
 public:
  IoError(const std::string& message, int code) : Error(message), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

class TDiretory {
 public:
  // The process-wide object, made on first use from the executable's path. Throws IoError
  // (and keeps nothing) when that path has no folder part.
  static TDiretory& GetInstance();

  // application_dir ends in "/".
  explicit TDiretory(std::string application_dir);

  // The executable's folder, with its trailing "/".
  const std::string& ApplicationDir() const { return application_dir_; }
  // The log folder path, created (one level) when missing. Throws IoError, with the folder and
  // the system's reason in its message, when it cannot be.
  std::string GetLogDir();

 private:
  std::string application_dir_;
  std::string log_dir_;  // application_dir_ + "/LOG/", by plain concatenation
};

}  // namespace velarix
