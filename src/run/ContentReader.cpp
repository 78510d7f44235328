#include "run/ContentReader.h"

#include <algorithm>
#include <utility>

#include "run/Fingerprint.h"

namespace velarix {

ContentReader::ContentReader(std::string path, Sha1* digest)
    : path_(std::move(path)), digest_(digest) {}

ContentReader::~ContentReader() = default;

bool ContentReader::Open() {
  file_.reset();
  short_ = false;
  reason_.clear();
  if (digest_ != nullptr) digest_->Reset();
  remaining_ = 0;
  file_ = Env::Current()->OpenForRead(path_, OpenMode::kShared, &reason_);
  opened_ = file_ != nullptr;
  if (!opened_) return false;
  remaining_ = file_->Size();
  return true;
}

int64_t ContentReader::Read(char* buffer, size_t n) {
  if (short_ || !opened_) return -1;
  if (remaining_ == 0 || n == 0) return 0;
  size_t want = static_cast<size_t>(std::min<uint64_t>(n, remaining_));
  int64_t got = file_->Read(buffer, want, &reason_);
  if (got <= 0) {
    // End of file before the size seen at the open: the file shrank under us.
    if (got == 0) reason_ = "the file shrank while it was read";
    short_ = true;
    file_.reset();
    return -1;
  }
  remaining_ -= static_cast<uint64_t>(got);
  if (remaining_ == 0) file_.reset();  // nothing more is wanted from it
  if (digest_ != nullptr) digest_->Update(buffer, static_cast<size_t>(got));
  return got;
}

}  // namespace velarix
