#include "upload/MultipartFormData.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>

#include "platform/Env.h"
#include "platform/Error.h"
#include "platform/Text.h"

namespace velarix {

namespace {

// A quote, CR or LF inside a quoted header parameter would end the parameter or the header
// line early, letting a file name inject form fields; Linux file names may hold all three.
void AppendHeaderParameter(std::string* out, std::string_view value) {
  for (char c : value) {
    switch (c) {
      case '"':
        out->append("%22");
        break;
      case '\r':
        out->append("%0D");
        break;
      case '\n':
        out->append("%0A");
        break;
      default:
        out->push_back(c);
    }
  }
}

std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path.front() == '/') return path;
  std::error_code error;
  std::filesystem::path cwd = std::filesystem::current_path(error);
  return error ? path : cwd.string() + "/" + path;
}

}  // namespace

std::string NewMultipartBoundary() {
  auto ticks = std::chrono::high_resolution_clock::now().time_since_epoch().count();
  std::minstd_rand generator(static_cast<uint32_t>(ticks));
  std::uniform_int_distribution<int> digit(0, 8);
  std::string boundary(27, '-');
  for (int i = 0; i < 28; ++i) boundary.push_back(static_cast<char>('0' + digit(generator)));
  return boundary;
}

void TMultipartFormData::Put(Entries* entries, const std::string& name, const std::string& value) {
  for (auto it = entries->begin(); it != entries->end(); ++it) {
    if (EqualsNoCase(it->first, name)) {
      if (value.empty()) {
        entries->erase(it);
      } else {
        *it = {name, value};
      }
      return;
    }
  }
  if (!value.empty()) entries->emplace_back(name, value);
}

void TMultipartFormData::AddField(const std::string& name, const std::string& value) {
  Put(&fields_, name, value);
}

void TMultipartFormData::AddFile(const std::string& name, const std::string& path) {
  Put(&files_, name, path);
}

const std::string& TMultipartFormData::GetBody() {
  body_.clear();
  for (const auto& [name, value] : fields_) {
    body_ += "--" + boundary_ + "\r\n";
    body_ += "Content-Disposition: form-data; name=\"";
    AppendHeaderParameter(&body_, name);
    body_ += "\"\r\n\r\n";
    body_ += value;
    body_ += "\r\n";
  }
  for (const auto& [name, path] : files_) {
    body_ += "--" + boundary_ + "\r\n";
    body_ += "Content-Disposition: form-data; name=\"";
    AppendHeaderParameter(&body_, name);
    body_ += "\"; filename=\"";
    size_t slash = path.rfind('/');
    AppendHeaderParameter(&body_, slash == std::string::npos
                                      ? std::string_view(path)
                                      : std::string_view(path).substr(slash + 1));
    body_ += "\"\r\n";
    body_ += "Content-Type: application/xml\r\n\r\n";
    AppendFile(path);
    body_ += "\r\n\r\n";
  }
  body_ += "--" + boundary_ + "--\r\n";
  return body_;
}

void TMultipartFormData::AppendFile(const std::string& path) {
  std::string reason;
  std::unique_ptr<ReadableFile> file =
      Env::Current()->OpenForRead(path, OpenMode::kExclusive, &reason);
  if (file == nullptr) {
    throw Error("Cannot open file \"" + AbsolutePath(path) + "\". " + reason);
  }
  const uint64_t size = file->Size();
  uint64_t copied = 0;
  char block[65536];
  for (;;) {
    int64_t n = file->Read(block, sizeof block, &reason);
    if (n < 0) throw Error("Stream read error");
    if (n == 0) break;
    body_.append(block, static_cast<size_t>(n));
    copied += static_cast<uint64_t>(n);
  }
  // A file cut short while we read it would go out truncated as if complete.
  if (copied < size) throw Error("Stream read error");
}

}  // namespace velarix
