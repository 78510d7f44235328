// Every operating-system service the core uses goes through Env, so that tests can replace
// one service (a listing that fails on its third entry, a socket that resets) without root
// tricks. The program uses the POSIX implementation; a test installs its own with ScopedEnv.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace velarix {

enum class EntryKind : uint8_t {
  kFile,       // a regular file
  kDirectory,  // a directory
  kOther,      // a FIFO, socket or device node: never opened by the core
  kMissing,    // a dangling symbolic link, or an entry that vanished while listed
};

// Identity of a file-system object: two paths reach the same directory exactly when their
// ids are equal.
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileId&) const = default;
};

struct FileStatus {
  EntryKind kind = EntryKind::kMissing;
  FileId id;
  uint64_t size = 0;
};

struct DirEntry {
  std::string name;
  EntryKind kind = EntryKind::kMissing;  // after following a symbolic link
};

// One open directory listing. Entries come in the file system's own order, "." and ".."
// included. Closed when destroyed.
class DirectoryListing {
 public:
  virtual ~DirectoryListing() = default;
  // Moves to the next entry; false at the end of the listing (or when reading it fails).
  virtual bool Next(DirEntry* entry) = 0;
};

// One file open for reading. Closed when destroyed.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // The size the file had when it was opened.
  virtual uint64_t Size() const = 0;
  // Reads up to n bytes at the current position. Returns the number read, 0 at the end of the
  // file, or -1 with *reason set when the read fails.
  virtual int64_t Read(char* buffer, size_t n, std::string* reason) = 0;
};

enum class OpenMode : uint8_t {
  kShared,     // others may go on reading and writing the file meanwhile
  kExclusive,  // refused while another process has the file open for writing
};

// One connected TCP stream. Closed when destroyed.
class Socket {
 public:
  virtual ~Socket() = default;
  // Sends all n bytes, waiting at most timeout_ms each time the peer does not take more; false
  // with *reason set when the connection fails or the wait runs out.
  virtual bool SendAll(const char* data, size_t n, int timeout_ms, std::string* reason) = 0;
  // Waits at most timeout_ms for data and reads up to n bytes. Returns the number read, 0 when
  // the peer closed the connection, or -1 with *reason set on failure or time-out.
  virtual int64_t Receive(char* buffer, size_t n, int timeout_ms, std::string* reason) = 0;
  // The descriptor, for a TLS layer that works on it directly.
  virtual int NativeHandle() const = 0;
};

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

class Env {
 public:
  virtual ~Env() = default;

  // The POSIX implementation; lives for the whole process.
  static Env* Default();
  // The Env the core uses: Default() unless a ScopedEnv is in force.
  static Env* Current();

  // Full path of the running program.
  virtual std::string ExecutablePath() = 0;

  // True when path names an existing directory (following symbolic links).
  virtual bool DirectoryExists(const std::string& path) = 0;
  // Creates one directory level. Returns 0 or the errno value of the failure.
  virtual int CreateDirectory(const std::string& path) = 0;
  // Opens a listing of path; nullptr with *reason set when it cannot be opened.
  virtual std::unique_ptr<DirectoryListing> OpenDirectory(const std::string& path,
                                                          std::string* reason) = 0;
  // Status of path, following symbolic links; false when there is nothing there.
  virtual bool Stat(const std::string& path, FileStatus* status) = 0;
  // Deletes a file. Returns 0 or the errno value of the failure.
  virtual int DeleteFile(const std::string& path) = 0;
  // Appends data to path, creating the file when missing; open, write, close. Returns 0 or the
  // errno value of the failure.
  virtual int AppendToFile(const std::string& path, std::string_view data) = 0;
  // Opens a regular file for reading; nullptr with *reason set when it cannot be opened. A
  // FIFO, socket, device or directory is refused without being opened for reading.
  virtual std::unique_ptr<ReadableFile> OpenForRead(const std::string& path, OpenMode mode,
                                                    std::string* reason) = 0;
  // Replaces path with data as one step: a temporary file beside it, flushed to disk and renamed
  // over it, keeping the old file's permissions. The old file stays intact on any failure.
  // Returns 0 or the errno value of the failure.
  virtual int ReplaceFile(const std::string& path, std::string_view data) = 0;

  virtual LocalTime Now() = 0;
  // Milliseconds on a clock that only moves forward, for time limits; its origin is arbitrary.
  virtual int64_t MonotonicMs() = 0;
  // The user's date and time separators ('/' and ':' under Brazilian settings).
  virtual char DateSeparator() = 0;
  virtual char TimeSeparator() = 0;

  // Opens a TCP connection; nullptr with *reason set when the name does not resolve or the
  // connection fails.
  virtual std::unique_ptr<Socket> Connect(const std::string& host, uint16_t port,
                                          std::string* reason) = 0;
};

// Forwards every call to another Env; a test derives from it to change only some calls.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  std::string ExecutablePath() override { return target_->ExecutablePath(); }
  bool DirectoryExists(const std::string& path) override { return target_->DirectoryExists(path); }
  int CreateDirectory(const std::string& path) override { return target_->CreateDirectory(path); }
  std::unique_ptr<DirectoryListing> OpenDirectory(const std::string& path,
                                                  std::string* reason) override {
    return target_->OpenDirectory(path, reason);
  }
  bool Stat(const std::string& path, FileStatus* status) override {
    return target_->Stat(path, status);
  }
  int DeleteFile(const std::string& path) override { return target_->DeleteFile(path); }
  int AppendToFile(const std::string& path, std::string_view data) override {
    return target_->AppendToFile(path, data);
  }
  std::unique_ptr<ReadableFile> OpenForRead(const std::string& path, OpenMode mode,
                                            std::string* reason) override {
    return target_->OpenForRead(path, mode, reason);
  }
  int ReplaceFile(const std::string& path, std::string_view data) override {
    return target_->ReplaceFile(path, data);
  }
  LocalTime Now() override { return target_->Now(); }
  int64_t MonotonicMs() override { return target_->MonotonicMs(); }
  char DateSeparator() override { return target_->DateSeparator(); }
  char TimeSeparator() override { return target_->TimeSeparator(); }
  std::unique_ptr<Socket> Connect(const std::string& host, uint16_t port,
                                  std::string* reason) override {
    return target_->Connect(host, port, reason);
  }

 private:
  Env* target_;
};

// Makes env the Current() one for its lifetime, then restores the previous one. For tests;
// the program never installs one. Not to be used while another thread runs core code.
class ScopedEnv {
 public:
  explicit ScopedEnv(Env* env);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  Env* previous_;
};

// Reads the whole of a file through Env::Current(). False with *reason set on failure.
bool ReadWholeFile(const std::string& path, std::string* contents, std::string* reason);

}  // namespace velarix
