// The multipart body: fields and files with names, values and file names from the input, then
// GetBody read back the way a receiver following RFC 2046 reads it. Every part must come back
// with its own name, file name and bytes, each header line must end where it should, and no
// part may appear that was not added.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FuzzFolder.h"
#include "platform/Text.h"
#include "upload/MultipartFormData.h"

namespace {

// A fixed boundary keeps every run reproducible; the program draws a random one.
const std::string kBoundary = "---------------------------0123456780123456780123456780";

using Entries = std::vector<std::pair<std::string, std::string>>;

// The list rules, modelled independently: a known name is replaced in place with the later
// spelling, an empty value removes it.
void Put(Entries* entries, const std::string& name, const std::string& value) {
  for (auto it = entries->begin(); it != entries->end(); ++it) {
    if (velarix::EqualsNoCase(it->first, name)) {
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

// How a header parameter must appear: a quote, CR or LF would end it early.
std::string Escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '"') {
      out += "%22";
    } else if (c == '\r') {
      out += "%0D";
    } else if (c == '\n') {
      out += "%0A";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

const std::string& Folder() {
  static const std::string folder = velarix::fuzzing::MakeScratchFolder("fuzz_multipart");
  return folder;
}

// A single file-name component: no "/", no NUL, not "." or "..", at most 255 bytes.
std::string FileNameFrom(std::string name) {
  std::string out;
  for (char c : name) {
    if (c != '/' && c != '\0') out.push_back(c);
  }
  if (out.size() > 255) out.resize(255);
  if (out.empty() || out == "." || out == "..") out = "f";
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  velarix::TMultipartFormData form(kBoundary);
  Entries fields;
  Entries files;                                              // name and path
  std::vector<std::string> made;                              // files to remove afterwards
  std::vector<std::pair<std::string, std::string>> contents;  // path and bytes

  const int operations = input.ConsumeIntegralInRange(0, 8);
  for (int i = 0; i < operations && input.remaining_bytes() > 0; ++i) {
    const int what = input.ConsumeIntegralInRange(0, 2);
    std::string name = input.ConsumeRandomLengthString(40);
    if (what == 0) {
      std::string value = input.ConsumeRandomLengthString(200);
      form.AddField(name, value);
      Put(&fields, name, value);
    } else if (what == 1) {
      std::string path = Folder() + "/" + FileNameFrom(input.ConsumeRandomLengthString(64));
      std::string bytes = input.ConsumeRandomLengthString(200);
      bool known = false;
      for (auto& [p, b] : contents) {
        if (p == path) {
          b = bytes;
          known = true;
        }
      }
      if (!known) contents.emplace_back(path, bytes);
      std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
      made.push_back(path);
      form.AddFile(name, path);
      Put(&files, name, path);
    } else {
      form.AddFile(name, "");  // an empty path removes the file field
      Put(&files, name, "");
    }
  }

  // The content is not scanned for the boundary: the program's is 28 random digits, which a
  // field value or a file will not hold by chance. Such inputs prove nothing here.
  for (const auto& [name, value] : fields) {
    if (value.find(kBoundary) != std::string::npos) return 0;
  }
  for (const auto& [path, bytes] : contents) {
    if (bytes.find(kBoundary) != std::string::npos) return 0;
  }

  const std::string body = form.GetBody();
  for (const std::string& path : made) unlink(path.c_str());

  // Split the way a receiver does: the first delimiter opens the body, every later one is
  // preceded by CR LF, and the last one carries "--".
  const std::string first = "--" + kBoundary;
  const std::string delimiter = "\r\n--" + kBoundary;
  std::vector<std::string_view> parts;
  std::string_view rest(body);
  if (fields.empty() && files.empty()) {
    if (body != first + "--\r\n") std::abort();
    return 0;
  }
  if (rest.substr(0, first.size() + 2) != first + "\r\n") std::abort();
  rest.remove_prefix(first.size() + 2);
  for (;;) {
    size_t next = rest.find(delimiter);
    if (next == std::string_view::npos) std::abort();
    parts.push_back(rest.substr(0, next));
    rest.remove_prefix(next + delimiter.size());
    if (rest == "--\r\n") break;
    if (rest.substr(0, 2) != "\r\n") std::abort();
    rest.remove_prefix(2);
  }
  if (parts.size() != fields.size() + files.size()) std::abort();

  size_t index = 0;
  for (const auto& [name, value] : fields) {
    std::string_view part = parts[index++];
    const std::string head = "Content-Disposition: form-data; name=\"" + Escaped(name) + "\"";
    if (part.substr(0, head.size() + 4) != head + "\r\n\r\n") std::abort();
    if (part.substr(head.size() + 4) != value) std::abort();
  }
  for (const auto& [name, path] : files) {
    std::string_view part = parts[index++];
    const std::string file_name = path.substr(path.rfind('/') + 1);
    const std::string head = "Content-Disposition: form-data; name=\"" + Escaped(name) +
                             "\"; filename=\"" + Escaped(file_name) +
                             "\"\r\nContent-Type: application/xml";
    if (part.substr(0, head.size() + 4) != head + "\r\n\r\n") std::abort();
    std::string bytes;
    for (const auto& [p, b] : contents) {
      if (p == path) bytes = b;
    }
    // The file's bytes are followed by two CR LF pairs, one of which belongs to the delimiter.
    if (part.substr(head.size() + 4) != bytes + "\r\n") std::abort();
  }
  return 0;
}
