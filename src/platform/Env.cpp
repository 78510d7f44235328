#include "platform/Env.h"

#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/Error.h"

namespace velarix {

std::string SystemErrorText(int error_number) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not be in buffer.
  return strerror_r(error_number, buffer, sizeof buffer);
}

namespace {

EntryKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::kFile;
  if (S_ISDIR(mode)) return EntryKind::kDirectory;
  return EntryKind::kOther;
}

class PosixDirectoryListing : public DirectoryListing {
 public:
  explicit PosixDirectoryListing(DIR* dir) : dir_(dir) {}
  ~PosixDirectoryListing() override { closedir(dir_); }

  bool Next(DirEntry* entry) override {
    errno = 0;
    const dirent* d = readdir(dir_);
    if (d == nullptr) return false;
    entry->name = d->d_name;
    switch (d->d_type) {
      case DT_REG:
        entry->kind = EntryKind::kFile;
        break;
      case DT_DIR:
        entry->kind = EntryKind::kDirectory;
        break;
      case DT_LNK:
      case DT_UNKNOWN: {
        // A link is taken for what it points to; a dangling one for nothing.
        struct stat st;
        entry->kind =
            fstatat(dirfd(dir_), d->d_name, &st, 0) == 0 ? KindOf(st.st_mode) : EntryKind::kMissing;
        break;
      }
      default:
        entry->kind = EntryKind::kOther;
    }
    return true;
  }

 private:
  DIR* dir_;
};

class PosixReadableFile : public ReadableFile {
 public:
  PosixReadableFile(int fd, uint64_t size, bool leased) : fd_(fd), size_(size), leased_(leased) {}
  ~PosixReadableFile() override {
    if (leased_) fcntl(fd_, F_SETLEASE, F_UNLCK);
    close(fd_);
  }

  uint64_t Size() const override { return size_; }

  int64_t Read(char* buffer, size_t n, std::string* reason) override {
    for (;;) {
      ssize_t got = read(fd_, buffer, n);
      if (got >= 0) return got;
      if (errno == EINTR) continue;
      *reason = SystemErrorText(errno);
      return -1;
    }
  }

 private:
  int fd_;
  uint64_t size_;
  bool leased_;
};

class PosixSocket : public Socket {
 public:
  explicit PosixSocket(int fd) : fd_(fd) {}
  ~PosixSocket() override { close(fd_); }

  bool SendAll(const char* data, size_t n, int timeout_ms, std::string* reason) override {
    while (n > 0) {
      if (!Wait(POLLOUT, timeout_ms, reason)) return false;
      ssize_t sent = send(fd_, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        *reason = SystemErrorText(errno);
        return false;
      }
      data += sent;
      n -= static_cast<size_t>(sent);
    }
    return true;
  }

  int64_t Receive(char* buffer, size_t n, int timeout_ms, std::string* reason) override {
    for (;;) {
      if (!Wait(POLLIN, timeout_ms, reason)) return -1;
      ssize_t got = recv(fd_, buffer, n, MSG_DONTWAIT);
      if (got >= 0) return got;
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      *reason = SystemErrorText(errno);
      return -1;
    }
  }

  int NativeHandle() const override { return fd_; }

 private:
  bool Wait(short events, int timeout_ms, std::string* reason) {
    pollfd p{fd_, events, 0};
    for (;;) {
      int ready = poll(&p, 1, timeout_ms);
      if (ready > 0) return true;
      if (ready == 0) {
        *reason = SystemErrorText(ETIMEDOUT);
        return false;
      }
      if (errno != EINTR) {
        *reason = SystemErrorText(errno);
        return false;
      }
    }
  }

  int fd_;
};

// The first separator character in a strftime pattern such as "%d/%m/%Y".
char SeparatorIn(const char* pattern, char fallback) {
  for (const char* p = pattern; p != nullptr && *p != '\0'; ++p) {
    if (*p == '%') {
      ++p;
      while (*p != '\0' && std::strchr("EO_-0^#", *p) != nullptr) ++p;
      if (*p == 'D') return '/';
      if (*p == 'F') return '-';
      if (*p == 'T' || *p == 'R') return ':';
      if (*p == '\0') break;
      continue;
    }
    if (*p != ' ') return *p;
  }
  return fallback;
}

// The user's time locale, from the environment, whatever the process's own locale is.
locale_t UserTimeLocale() {
  static locale_t locale = [] {
    locale_t l = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    return l != static_cast<locale_t>(0) ? l
                                         : newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
  }();
  return locale;
}

class PosixEnv : public Env {
 public:
  std::string ExecutablePath() override {
    std::string path(4096, '\0');
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return {};
    path.resize(static_cast<size_t>(n));
    return path;
  }

  bool DirectoryExists(const std::string& path) override {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  int CreateDirectory(const std::string& path) override {
    return mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
  }

  std::unique_ptr<DirectoryListing> OpenDirectory(const std::string& path,
                                                  std::string* reason) override {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
      *reason = SystemErrorText(errno);
      return nullptr;
    }
    return std::make_unique<PosixDirectoryListing>(dir);
  }

  bool Stat(const std::string& path, FileStatus* status) override {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    status->kind = KindOf(st.st_mode);
    status->id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    status->size = static_cast<uint64_t>(st.st_size);
    return true;
  }

  int DeleteFile(const std::string& path) override { return unlink(path.c_str()) == 0 ? 0 : errno; }

  int AppendToFile(const std::string& path, std::string_view data) override {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) return errno;
    int result = WriteAll(fd, data);
    if (close(fd) != 0 && result == 0) result = errno;
    return result;
  }

  std::unique_ptr<ReadableFile> OpenForRead(const std::string& path, OpenMode mode,
                                            std::string* reason) override {
    // O_NONBLOCK so that a FIFO does not block the open; it is refused below anyway.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
      *reason = SystemErrorText(errno);
      return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      *reason = S_ISDIR(st.st_mode) ? SystemErrorText(EISDIR) : "Not a regular file";
      close(fd);
      return nullptr;
    }
    // O_NONBLOCK stays: it changes nothing for a regular file, and clearing it costs two calls
    // on every file of every run.
    bool leased = false;
    if (mode == OpenMode::kExclusive) {
      IgnoreLeaseBreakSignal();
      // A read lease is refused with EAGAIN while anyone has the file open for writing. Where
      // the file system or the file's owner does not allow leases, a plain open has to do.
      if (fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        leased = true;
      } else if (errno == EAGAIN || errno == EBUSY) {
        *reason = "The file is in use by another process";
        close(fd);
        return nullptr;
      }
    }
    return std::make_unique<PosixReadableFile>(fd, static_cast<uint64_t>(st.st_size), leased);
  }

  int ReplaceFile(const std::string& path, std::string_view data) override {
    std::string target = path;
    struct stat st;
    bool exists = false;
    if (lstat(path.c_str(), &st) == 0) {
      if (S_ISLNK(st.st_mode)) {
        // Replace what the link points to, not the link.
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved) != nullptr) target = resolved;
      }
      if (stat(target.c_str(), &st) == 0) {
        exists = true;
        if (!S_ISREG(st.st_mode)) return EISDIR;
        // A read-only file is refused, also for root, who would be let through otherwise.
        if ((st.st_mode & 0222) == 0) return EACCES;
      }
    }
    std::string temp = target + ".XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) return errno;
    int result = exists ? (fchmod(fd, st.st_mode & 07777) == 0 ? 0 : errno)
                        : (fchmod(fd, 0666 & ~CurrentUmask()) == 0 ? 0 : errno);
    if (result == 0) result = WriteAll(fd, data);
    if (result == 0 && fsync(fd) != 0) result = errno;
    if (close(fd) != 0 && result == 0) result = errno;
    if (result == 0 && rename(temp.c_str(), target.c_str()) != 0) result = errno;
    if (result != 0) unlink(temp.c_str());
    return result;
  }

  LocalTime Now() override {
    time_t now = time(nullptr);
    tm t{};
    localtime_r(&now, &t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
  }

  int64_t MonotonicMs() override {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
  }

  char DateSeparator() override { return SeparatorIn(nl_langinfo_l(D_FMT, UserTimeLocale()), '/'); }
  char TimeSeparator() override { return SeparatorIn(nl_langinfo_l(T_FMT, UserTimeLocale()), ':'); }

  std::unique_ptr<Socket> Connect(const std::string& host, uint16_t port,
                                  std::string* reason) override {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
      *reason = rc == EAI_SYSTEM ? SystemErrorText(errno) : gai_strerror(rc);
      return nullptr;
    }
    int error = ECONNREFUSED;
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
      int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
      if (fd < 0) {
        error = errno;
        continue;
      }
      int rc_connect;
      do {
        rc_connect = connect(fd, a->ai_addr, a->ai_addrlen);
      } while (rc_connect != 0 && errno == EINTR);
      if (rc_connect == 0) {
        freeaddrinfo(found);
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return std::make_unique<PosixSocket>(fd);
      }
      error = errno;
      close(fd);
    }
    freeaddrinfo(found);
    *reason = SystemErrorText(error);
    return nullptr;
  }

 private:
  static int WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
      ssize_t n = write(fd, data.data(), data.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      data.remove_prefix(static_cast<size_t>(n));
    }
    return 0;
  }

  static mode_t CurrentUmask() {
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    mode_t mask = umask(0);
    umask(mask);
    return mask;
  }

  // A lease break is announced by SIGIO, whose default action ends the process. We hold a lease
  // only while copying a file, so the other program waits for us a moment at most.
  static void IgnoreLeaseBreakSignal() {
    static std::once_flag once;
    std::call_once(once, [] {
      struct sigaction current {};
      if (sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        signal(SIGIO, SIG_IGN);
      }
    });
  }
};

std::atomic<Env*> current_env{nullptr};

}  // namespace

Env* Env::Default() {
  static PosixEnv* env = new PosixEnv;  // never destroyed: used until the process ends
  return env;
}

Env* Env::Current() {
  Env* env = current_env.load(std::memory_order_acquire);
  return env != nullptr ? env : Default();
}

ScopedEnv::ScopedEnv(Env* env) : previous_(current_env.exchange(env)) {}
ScopedEnv::~ScopedEnv() { current_env.store(previous_); }

bool ReadWholeFile(const std::string& path, std::string* contents, std::string* reason) {
  std::unique_ptr<ReadableFile> file = Env::Current()->OpenForRead(path, OpenMode::kShared, reason);
  if (file == nullptr) return false;
  contents->clear();
  char buffer[65536];
  for (;;) {
    int64_t n = file->Read(buffer, sizeof buffer, reason);
    if (n < 0) return false;
    if (n == 0) return true;
    contents->append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace velarix
