#include "testing/FaultInjectionEnv.h"

#include <cerrno>

#include "platform/Error.h"

namespace velarix::testing {

const char* FaultName(Fault fault) {
  static const char* const names[] = {"listing", "next",    "open",    "read", "append",
                                      "delete",  "replace", "connect", "send", "receive"};
  return names[static_cast<int>(fault)];
}

class CountedListing : public DirectoryListing {
 public:
  CountedListing(std::unique_ptr<DirectoryListing> inner, FaultInjectionEnv* env)
      : inner_(std::move(inner)), env_(env) {
    ++env_->open_listings_;
  }
  ~CountedListing() override { --env_->open_listings_; }
  bool Next(DirEntry* entry) override {
    if (env_->ShouldFail(Fault::kNext)) return false;
    return inner_->Next(entry);
  }

 private:
  std::unique_ptr<DirectoryListing> inner_;
  FaultInjectionEnv* env_;
};

class CountedFile : public ReadableFile {
 public:
  CountedFile(std::unique_ptr<ReadableFile> inner, FaultInjectionEnv* env)
      : inner_(std::move(inner)), env_(env) {
    ++env_->open_files_;
  }
  ~CountedFile() override { --env_->open_files_; }
  uint64_t Size() const override { return inner_->Size(); }
  int64_t Read(char* buffer, size_t n, std::string* reason) override {
    if (env_->ShouldFail(Fault::kRead)) {
      *reason = SystemErrorText(EIO);
      return -1;
    }
    return inner_->Read(buffer, n, reason);
  }

 private:
  std::unique_ptr<ReadableFile> inner_;
  FaultInjectionEnv* env_;
};

class CountedSocket : public Socket {
 public:
  CountedSocket(std::unique_ptr<Socket> inner, FaultInjectionEnv* env)
      : inner_(std::move(inner)), env_(env) {
    ++env_->open_sockets_;
  }
  ~CountedSocket() override { --env_->open_sockets_; }
  bool SendAll(const char* data, size_t n, int timeout_ms, std::string* reason) override {
    if (env_->ShouldFail(Fault::kSend)) {
      *reason = SystemErrorText(ECONNRESET);
      return false;
    }
    return inner_->SendAll(data, n, timeout_ms, reason);
  }
  int64_t Receive(char* buffer, size_t n, int timeout_ms, std::string* reason) override {
    if (env_->ShouldFail(Fault::kReceive)) {
      *reason = SystemErrorText(ECONNRESET);
      return -1;
    }
    return inner_->Receive(buffer, n, timeout_ms, reason);
  }
  int NativeHandle() const override { return inner_->NativeHandle(); }

 private:
  std::unique_ptr<Socket> inner_;
  FaultInjectionEnv* env_;
};

FaultInjectionEnv::FaultInjectionEnv(Env* target) : EnvWrapper(target) {}

void FaultInjectionEnv::FailAt(Fault kind, int n) {
  for (auto& c : calls_) c.store(0);
  fired_.store(false);
  fail_kind_.store(static_cast<int>(kind));
  fail_at_.store(n);
}

bool FaultInjectionEnv::ShouldFail(Fault kind) {
  int call = ++calls_[static_cast<int>(kind)];
  if (fail_kind_.load() != static_cast<int>(kind) || call != fail_at_.load()) return false;
  fired_.store(true);
  return true;
}

std::unique_ptr<DirectoryListing> FaultInjectionEnv::OpenDirectory(const std::string& path,
                                                                   std::string* reason) {
  if (ShouldFail(Fault::kListing)) {
    *reason = SystemErrorText(EIO);
    return nullptr;
  }
  auto inner = EnvWrapper::OpenDirectory(path, reason);
  if (inner == nullptr) return nullptr;
  return std::make_unique<CountedListing>(std::move(inner), this);
}

std::unique_ptr<ReadableFile> FaultInjectionEnv::OpenForRead(const std::string& path, OpenMode mode,
                                                             std::string* reason) {
  if (ShouldFail(Fault::kOpen)) {
    *reason = SystemErrorText(EIO);
    return nullptr;
  }
  auto inner = EnvWrapper::OpenForRead(path, mode, reason);
  if (inner == nullptr) return nullptr;
  return std::make_unique<CountedFile>(std::move(inner), this);
}

int FaultInjectionEnv::AppendToFile(const std::string& path, std::string_view data) {
  if (ShouldFail(Fault::kAppend)) return EIO;
  return EnvWrapper::AppendToFile(path, data);
}

int FaultInjectionEnv::DeleteFile(const std::string& path) {
  if (ShouldFail(Fault::kDelete)) return EIO;
  return EnvWrapper::DeleteFile(path);
}

int FaultInjectionEnv::ReplaceFile(const std::string& path, std::string_view data) {
  if (ShouldFail(Fault::kReplace)) return EIO;
  return EnvWrapper::ReplaceFile(path, data);
}

std::unique_ptr<Socket> FaultInjectionEnv::Connect(const std::string& host, uint16_t port,
                                                   std::string* reason) {
  if (ShouldFail(Fault::kConnect)) {
    *reason = SystemErrorText(ECONNREFUSED);
    return nullptr;
  }
  auto inner = EnvWrapper::Connect(host, port, reason);
  if (inner == nullptr) return nullptr;
  return std::make_unique<CountedSocket>(std::move(inner), this);
}

}  // namespace velarix::testing
