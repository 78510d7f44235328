// Temporary folders and files for tests.
#pragma once

#include <string>
#include <string_view>

namespace velarix::testing {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when destroyed.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder's path, without a trailing "/".
  const std::string& path() const { return path_; }
  // path() + "/" + relative.
  std::string operator/(std::string_view relative) const;

 private:
  std::string path_;
};

// Makes a folder the process's current directory for its lifetime.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const std::string& path);
  ~ScopedCurrentDir();
  ScopedCurrentDir(const ScopedCurrentDir&) = delete;
  ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

 private:
  std::string previous_;
};

// Writes bytes to path, creating missing parent folders. Fails the test on error.
void WriteFile(const std::string& path, std::string_view bytes);
// The bytes of path; fails the test when it cannot be read.
std::string ReadFile(const std::string& path);
// Creates path and its missing parents.
void MakeDirs(const std::string& path);
// Number of descriptors this process has open.
int OpenDescriptorCount();

}  // namespace velarix::testing
