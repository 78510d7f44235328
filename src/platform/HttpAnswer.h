// Reading an HTTP/1.x answer from a byte stream, with named limits so that a hostile or broken
// server ends the exchange with a failure instead of exhausting memory or looping.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "platform/HttpStream.h"

namespace velarix {

struct HttpLimits {
  size_t max_line_bytes = 16 * 1024;          // one status, header or chunk-size line
  size_t max_header_count = 128;              // header lines of one head
  size_t max_interim_answers = 16;            // "100 Continue" heads before the real one
  size_t max_answer_bytes = 8 * 1024 * 1024;  // everything read, heads included
};

struct HttpAnswer {
  bool has_head = false;  // false when the server sent the body without a status line
  int status = 0;
  std::vector<std::pair<std::string, std::string>> headers;  // name and value, as received
  std::string body;
};

// Reads one answer: the first non-empty line is the status line when it begins with "HTTP/"
// (any letter case); interim 100 answers are skipped; headers run to the empty line. Without
// such a line the answer has no head and that line, a CR LF and everything up to the close
// form the body. The body is Content-Length bytes, or chunked, or runs to the close; 204 and
// 304 have none. True when a whole answer arrived, whatever its status; false with *reason
// set otherwise (the stream failed or ended early, the framing is malformed, a limit was hit).
bool ReadHttpAnswer(HttpStream* stream, const HttpLimits& limits, HttpAnswer* answer,
                    std::string* reason);

}  // namespace velarix
