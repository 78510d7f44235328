// A local stand-in for the portal, for trying Velarix without the real one. It accepts the
// upload protocol at every endpoint path on a loopback port, stores each received file under
// <out>/<endpoint path>/<file name>, prints one line per upload and answers {"msg":"100"}
// (or, with --refuse, {"msg":"200"}, which Velarix does not count as accepted).
//
//   portal [--port N] [--out DIR] [--refuse]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Text.h"

using velarix::StartsWithNoCase;

namespace {

constexpr size_t kMaxRequestBytes = 512u * 1024 * 1024;

std::string Header(std::string_view head, std::string_view name) {
  size_t pos = 0;
  while ((pos = head.find("\r\n", pos)) != std::string_view::npos) {
    pos += 2;
    std::string_view line = head.substr(pos, head.find("\r\n", pos) - pos);
    if (line.size() > name.size() && line[name.size()] == ':' && StartsWithNoCase(line, name)) {
      std::string_view value = line.substr(name.size() + 1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      return std::string(value);
    }
  }
  return {};
}

std::string Parameter(std::string_view headers, std::string_view param) {
  std::string needle = "; " + std::string(param) + "=\"";
  size_t start = headers.find(needle);
  if (start == std::string_view::npos) return {};
  start += needle.size();
  return std::string(headers.substr(start, headers.find('"', start) - start));
}

// Endpoint path segments without empty, "." or ".." ones, so nothing lands outside <out>.
std::vector<std::string> SafeSegments(std::string_view target) {
  target = target.substr(0, target.find('?'));
  std::vector<std::string> segments;
  size_t start = 0;
  while (start <= target.size()) {
    size_t end = target.find('/', start);
    if (end == std::string_view::npos) end = target.size();
    std::string_view s = target.substr(start, end - start);
    if (!s.empty() && s != "." && s != "..") segments.emplace_back(s);
    start = end + 1;
  }
  return segments;
}

std::string SafeFileName(std::string name) {
  size_t cut = name.find_last_of("/\\");
  if (cut != std::string::npos) name = name.substr(cut + 1);
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 32) c = '_';
  }
  if (name.empty() || name == "." || name == "..") name = "upload.xml";
  return name;
}

bool MakeDirs(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') {
      std::string part = path.substr(0, pos);
      if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void Answer(int fd, int status, const std::string& body) {
  std::string reason = status == 200 ? "OK" : "Bad Request";
  SendAll(fd, "HTTP/1.1 " + std::to_string(status) + " " + reason +
                  "\r\nContent-Type: application/json\r\nContent-Length: " +
                  std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
}

void Handle(int fd, const std::string& out, bool refuse) {
  std::string raw;
  char buffer[65536];
  size_t head_end = std::string::npos;
  size_t wanted = SIZE_MAX;
  while (raw.size() < wanted) {
    ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return;
    raw.append(buffer, static_cast<size_t>(got));
    if (head_end == std::string::npos && (head_end = raw.find("\r\n\r\n")) != std::string::npos) {
      std::string length = Header(std::string_view(raw).substr(0, head_end), "Content-Length");
      size_t n = 0;
      std::from_chars(length.data(), length.data() + length.size(), n);
      if (n > kMaxRequestBytes) return Answer(fd, 400, "{\"msg\":\"request too large\"}");
      wanted = head_end + 4 + n;
    }
    if (head_end == std::string::npos && raw.size() > 65536) return;
  }
  std::string_view head = std::string_view(raw).substr(0, head_end);
  std::string_view body = std::string_view(raw).substr(head_end + 4, wanted - head_end - 4);
  size_t sp1 = head.find(' ');
  size_t sp2 = head.find(' ', sp1 + 1);
  std::string target(head.substr(sp1 + 1, sp2 - sp1 - 1));

  std::string type = Header(head, "Content-Type");
  size_t b = type.find("boundary=");
  std::string key, file_name, file_bytes;
  bool has_file = false;
  if (b != std::string::npos) {
    std::string delimiter = "--" + type.substr(b + 9);
    size_t pos = body.find(delimiter);
    while (pos != std::string_view::npos) {
      pos += delimiter.size();
      if (body.substr(pos, 2) != "\r\n") break;
      size_t headers_end = body.find("\r\n\r\n", pos);
      if (headers_end == std::string_view::npos) break;
      std::string_view headers = body.substr(pos, headers_end - pos);
      size_t next = body.find("\r\n" + delimiter, headers_end + 4);
      if (next == std::string_view::npos) break;
      std::string_view content = body.substr(headers_end + 4, next - headers_end - 4);
      std::string name = Parameter(headers, "name");
      if (name == "key") key = content;
      if (name == "file") {
        if (content.size() >= 2 && content.substr(content.size() - 2) == "\r\n") {
          content.remove_suffix(2);  // the client ends a file with two CR LF pairs
        }
        has_file = true;
        file_name = Parameter(headers, "filename");
        file_bytes = content;
      }
      pos = next + 2;
    }
  }
  if (!has_file) {
    std::printf("%s: no file part\n", target.c_str());
    std::fflush(stdout);
    return Answer(fd, 400, "{\"msg\":\"no file\"}");
  }

  std::string folder = out;
  for (const std::string& s : SafeSegments(target)) folder += "/" + s;
  std::string path = folder + "/" + SafeFileName(file_name);
  bool stored = MakeDirs(folder);
  if (stored) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(file_bytes.data(), static_cast<std::streamsize>(file_bytes.size()));
    stored = static_cast<bool>(file);
  }
  std::printf("%s key=%s file=\"%s\" %zu bytes -> %s%s\n", target.c_str(), key.c_str(),
              file_name.c_str(), file_bytes.size(), stored ? path.c_str() : "(not stored)",
              refuse ? " [refused]" : "");
  std::fflush(stdout);
  Answer(fd, 200, !stored || refuse ? "{\"msg\":\"200\"}" : "{\"msg\":\"100\"}");
}

}  // namespace

int main(int argc, char** argv) {
  int port = 8080;
  std::string out = "portal-received";
  bool refuse = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--port" && i + 1 < argc) {
      port = std::atoi(argv[++i]);
    } else if (arg == "--out" && i + 1 < argc) {
      out = argv[++i];
    } else if (arg == "--refuse") {
      refuse = true;
    } else {
      std::fprintf(stderr, "usage: %s [--port N] [--out DIR] [--refuse]\n", argv[0]);
      return 2;
    }
  }
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  signal(SIGPIPE, SIG_IGN);

  int listener = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 16) != 0) {
    std::fprintf(stderr, "portal: cannot listen on 127.0.0.1:%d: %s\n", port, std::strerror(errno));
    return 1;
  }
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::printf("portal: listening on http://127.0.0.1:%d/, storing under %s%s\n",
              ntohs(address.sin_port), out.c_str(), refuse ? ", refusing every upload" : "");
  std::fflush(stdout);
  for (;;) {
    int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    timeval limit{30, 0};  // a stalled client must not block the next one for long
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    Handle(fd, out, refuse);
    close(fd);
  }
}
