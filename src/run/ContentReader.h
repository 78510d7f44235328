// A file's bytes read once, in blocks, as they stood when it was opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Env.h"

namespace velarix {

class Sha1;

// Reads a file opened through Env::Current() with OpenMode::kShared, at most the size it had at
// the open, so bytes appended meanwhile are left out. When a digest is tapped in, every byte handed
// out is fed to it exactly once, so the digest is of exactly the bytes the reader consumed.
class ContentReader {
 public:
  // digest may be nullptr; it outlives the reader.
  explicit ContentReader(std::string path, Sha1* digest = nullptr);
  ~ContentReader();
  ContentReader(const ContentReader&) = delete;
  ContentReader& operator=(const ContentReader&) = delete;

  // (Re)opens the file at its first byte and restarts the digest. False with reason() set when it
  // cannot be opened.
  bool Open();
  // Up to n bytes; 0 at the end; -1 when the read fails or the file ended before its size at the
  // open (it shrank), with short_read() then true. Also -1 when the file is not open.
  int64_t Read(char* buffer, size_t n);

  bool short_read() const { return short_; }
  const std::string& reason() const { return reason_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  Sha1* digest_;
  std::unique_ptr<ReadableFile> file_;
  uint64_t remaining_ = 0;
  bool opened_ = false;
  bool short_ = false;
  std::string reason_;
};

}  // namespace velarix
