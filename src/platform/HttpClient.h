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
// Longest time one whole exchange (request sent, answer read) may take after connecting. The
// per-wait limit alone never ends a server that trickles a byte just inside every wait, and
// that would hold the run, and every folder after it, for good. Ten minutes is far beyond a
// real upload (files of tens of KiB, answers of a few hundred bytes; even 10 MiB passes a
// 256 kbit/s line in under six), and a file cut off here is simply sent again by a later run.
constexpr int kHttpExchangeMs = 10 * 60 * 1000;

struct HttpOptions {
  int wait_ms = kHttpWaitMs;
  int exchange_ms = kHttpExchangeMs;
  HttpLimits limits;
};

// The request head, CR LF after each line and the empty line included: "POST <target>
// HTTP/1.0", Host, Authorization (only with a user), Keep-Alive, Connection, User-Agent,
// Content-Type, Content-Length.
std::string HttpRequestHead(const Url& url, std::string_view content_type, size_t content_length);

// Posts body to url over a new TCP connection (Env::Current()->Connect), TLS for https, and
// reads the answer; the connection is closed afterwards. True when a whole answer arrived,
// whatever its status; false with *reason set otherwise, including when a wait exceeds
// options.wait_ms or the exchange exceeds options.exchange_ms (measured on
// Env::Current()->MonotonicMs). Redirections are not followed.
bool HttpPost(const std::string& url, std::string_view content_type, std::string_view body,
              const HttpOptions& options, HttpAnswer* answer, std::string* reason);

}  // namespace velarix
