// A scratch folder for the targets that need real files.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace velarix::fuzzing {

// A new folder, in memory when it can be: the settings writer flushes every file to disk.
// libFuzzer ends the process without running exit handlers, so the folder stays: point TMPDIR
// at a folder of your own (scripts/fuzz-smoke.sh does) to have it removed.
inline std::string MakeScratchFolder(const char* name) {
  const char* tmp = std::getenv("TMPDIR");
  std::string root = tmp != nullptr && *tmp != '\0'  ? tmp
                     : access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                     : "/tmp";
  std::string pattern = root + "/" + name + ".XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

}  // namespace velarix::fuzzing
