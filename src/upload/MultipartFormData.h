// The multipart/form-data body of one upload. The portal parses it byte for byte, so the layout
// is fixed: every text field, then every file field, then the closing delimiter.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velarix {

// 27 hyphens and 28 random digits from "0" to "8", from a generator re-seeded from a
// high-resolution clock on every call.
std::string NewMultipartBoundary();

class TMultipartFormData {
 public:
  TMultipartFormData() : TMultipartFormData(NewMultipartBoundary()) {}
  // With a given boundary, so that tests can compare exact bytes.
  explicit TMultipartFormData(std::string boundary) : boundary_(std::move(boundary)) {}

  // Names match without regard to letter case. A known name is replaced in place (taking the
  // later spelling); an empty value removes it. Files are only remembered here, not opened.
  void AddField(const std::string& name, const std::string& value);
  void AddFile(const std::string& name, const std::string& path);

  const std::string& Boundary() const { return boundary_; }

  // Builds the whole body afresh, reading every file now, and returns it; the reference stays
  // valid until the next GetBody or the builder's end. Throws Error "Cannot open file
  // \"<absolute path>\". <reason>" or "Stream read error".
  const std::string& GetBody();

 private:
  using Entries = std::vector<std::pair<std::string, std::string>>;
  static void Put(Entries* entries, const std::string& name, const std::string& value);
  void AppendFile(const std::string& path);

  Entries fields_;
  Entries files_;
  std::string boundary_;
  std::string body_;
};

}  // namespace velarix
