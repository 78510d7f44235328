// An Env that makes the N-th call of one kind fail, and counts what is left open, so a test can
// drive every failure path of a run without root tricks.
#pragma once

#include <array>
#include <atomic>
#include <string>

#include "platform/Env.h"

namespace velarix::testing {

enum class Fault : int {
  kListing,  // OpenDirectory
  kNext,     // DirectoryListing::Next (the listing breaks off)
  kOpen,     // OpenForRead
  kRead,     // ReadableFile::Read
  kAppend,   // AppendToFile
  kDelete,   // DeleteFile
  kReplace,  // ReplaceFile
  kConnect,  // Connect
  kSend,     // Socket::SendAll
  kReceive,  // Socket::Receive
  kCount,
};

const char* FaultName(Fault fault);

class FaultInjectionEnv : public EnvWrapper {
 public:
  explicit FaultInjectionEnv(Env* target = Env::Default());

  // The n-th call (from 1) of kind fails from now on; 0 makes none fail. Counts start afresh.
  void FailAt(Fault kind, int n);
  // Whether the planned failure has happened.
  bool Fired() const { return fired_.load(); }
  // Calls of kind since the last FailAt.
  int Calls(Fault kind) const { return calls_[static_cast<int>(kind)].load(); }

  // Listings, files and sockets handed out and not yet closed.
  int OpenListings() const { return open_listings_.load(); }
  int OpenFiles() const { return open_files_.load(); }
  int OpenSockets() const { return open_sockets_.load(); }

  // Counts a call of kind; true when this call is the one to fail.
  bool ShouldFail(Fault kind);

  std::unique_ptr<DirectoryListing> OpenDirectory(const std::string& path,
                                                  std::string* reason) override;
  std::unique_ptr<ReadableFile> OpenForRead(const std::string& path, OpenMode mode,
                                            std::string* reason) override;
  int AppendToFile(const std::string& path, std::string_view data) override;
  int DeleteFile(const std::string& path) override;
  int ReplaceFile(const std::string& path, std::string_view data) override;
  std::unique_ptr<Socket> Connect(const std::string& host, uint16_t port,
                                  std::string* reason) override;

 private:
  friend class CountedListing;
  friend class CountedFile;
  friend class CountedSocket;

  std::atomic<int> fail_kind_{-1};
  std::atomic<int> fail_at_{0};
  std::atomic<bool> fired_{false};
  std::array<std::atomic<int>, static_cast<int>(Fault::kCount)> calls_{};
  std::atomic<int> open_listings_{0};
  std::atomic<int> open_files_{0};
  std::atomic<int> open_sockets_{0};
};

}  // namespace velarix::testing
