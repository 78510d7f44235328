// A small HTTP/1.0 client for the portal upload: one POST over a new connection, with the
// exact request head the portal expects, plain or over TLS.
#pragma once

#include <string>
#include <string_view>

#include "platform/HttpAnswer.h"
#include "platform/Url.h"

namespace velarix {

// Longest wait for the server each time it owes us data (or room to send).
constexpr int kHttpWaitMs = 90000;

struct HttpOptions {
  int wait_ms = kHttpWaitMs;
  HttpLimits limits;
};

// The request head, CR LF after each line and the empty line included: "POST <target>
// HTTP/1.0", Host, Authorization (only with a user), Keep-Alive, Connection, User-Agent,
// Content-Type, Content-Length.
std::string HttpRequestHead(const Url& url, std::string_view content_type, size_t content_length);

// Posts body to url over a new TCP connection (Env::Current()->Connect), TLS for https, and
// reads the answer; the connection is closed afterwards. True when a whole answer arrived,
// whatever its status; false with *reason set otherwise. Redirections are not followed.
bool HttpPost(const std::string& url, std::string_view content_type, std::string_view body,
              const HttpOptions& options, HttpAnswer* answer, std::string* reason);

}  // namespace velarix
