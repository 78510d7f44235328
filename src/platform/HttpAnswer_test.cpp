#include "platform/HttpAnswer.h"

#include <gtest/gtest.h>

namespace velarix {
namespace {

struct Result {
  bool ok;
  int status;
  std::string body;
};

Result Read(const std::string& bytes, size_t max_read = SIZE_MAX, HttpLimits limits = {}) {
  StringStream stream(bytes, max_read);
  HttpAnswer answer;
  std::string reason;
  bool ok = ReadHttpAnswer(&stream, limits, &answer, &reason);
  if (!ok) {
    EXPECT_FALSE(reason.empty());
  }
  return {ok, answer.status, answer.body};
}

const char kMsg[] = R"({"msg":"100"})";

TEST(HttpAnswerTest, Framings) {
  struct Case {
    const char* name;
    std::string bytes;
    bool ok;
    int status;
    std::string body;
  } cases[] = {
      {"content length", "HTTP/1.1 200 OK\r\nContent-Length: 13\r\n\r\n{\"msg\":\"100\"}extra",
       true, 200, kMsg},
      {"lower-case names and LF lines",
       "http/1.0 200 OK\ncontent-length:  13 \n\n{\"msg\":\"100\"}", true, 200, kMsg},
      {"leading empty lines", "\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nab", true, 200,
       "ab"},
      {"chunked",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;ext=1\r\n{\"msg\r\n"
       "8\r\n\":\"100\"}\r\n0\r\nTrailer: x\r\n\r\n",
       true, 200, kMsg},
      {"chunked wins over length",
       "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: "
       "gzip, Chunked\r\n\r\nA\r\n0123456789\r\n0\r\n\r\n",
       true, 200, "0123456789"},
      {"chunked closed after the last chunk",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n0\r\n", true, 200, "ab"},
      {"until close", "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n{\"msg\":\"100\"}",
       true, 200, kMsg},
      {"no head", "{\"msg\":\n\"100\"}", true, 0, "{\"msg\":\r\n\"100\"}"},
      {"no head, one line", "{\"msg\":\"100\"}", true, 0, "{\"msg\":\"100\"}\r\n"},
      {"interim 100 skipped",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 100 Continue\r\nX: y\r\n\r\n"
       "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
       true, 200, "ok"},
      {"status 500 still a whole answer",
       "HTTP/1.1 500 Oops\r\nContent-Length: 13\r\n\r\n" + std::string(kMsg), true, 500, kMsg},
      {"redirect read like any answer", "HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\nmoved", true,
       302, "moved"},
      {"204 has no body", "HTTP/1.1 204 No Content\r\nContent-Length: 5\r\n\r\n", true, 204, ""},
      {"304 has no body", "HTTP/1.1 304 Not Modified\r\n\r\nignored", true, 304, ""},
      {"status without reason", "HTTP/1.1 200\r\nContent-Length: 0\r\n\r\n", true, 200, ""},
      // Failures: each is "not accepted", never a crash or a hang.
      {"nothing at all", "", false, 0, ""},
      {"closed inside the head", "HTTP/1.1 200 OK\r\nContent-Len", false, 200, ""},
      {"body shorter than its length",
       "HTTP/1.1 200 OK\r\nContent-Length: 14\r\n\r\n" + std::string(kMsg), false, 200, kMsg},
      {"malformed length", "HTTP/1.1 200 OK\r\nContent-Length: 1x\r\n\r\n1x", false, 200, ""},
      {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", false, 200, ""},
      {"empty length", "HTTP/1.1 200 OK\r\nContent-Length:\r\n\r\n", false, 200, ""},
      {"overflowing length", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n",
       false, 200, ""},
      {"conflicting lengths", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab",
       false, 200, ""},
      {"length over the answer limit", "HTTP/1.1 200 OK\r\nContent-Length: 1000000000\r\n\r\n",
       false, 200, ""},
      {"overflowing chunk size",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFF1\r\nab\r\n0\r\n\r\n",
       false, 200, ""},
      {"bad chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", false, 200,
       ""},
      {"chunk without its CR LF",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n0\r\n\r\n", false, 200,
       ""},
      {"chunked cut short", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab", false,
       200, ""},
      {"malformed status", "HTTP/1.1 2xx OK\r\n\r\n", false, 0, ""},
      {"interim then no status", "HTTP/1.1 100 Continue\r\n\r\n{\"msg\":\"100\"}", false, 100, ""},
  };
  for (const Case& c : cases) {
    for (size_t max_read : {SIZE_MAX, size_t{1}, size_t{7}}) {
      SCOPED_TRACE(std::string(c.name) + ", reads of " + std::to_string(max_read));
      Result r = Read(c.bytes, max_read);
      EXPECT_EQ(r.ok, c.ok);
      if (c.ok) {
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.body, c.body);
      }
    }
  }
}

TEST(HttpAnswerTest, LimitsEndHostileAnswers) {
  HttpLimits limits;
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"endless status line", "HTTP/1.1 200 " + std::string(limits.max_line_bytes + 10, 'x')},
      {"endless header line",
       "HTTP/1.1 200 OK\r\nX: " + std::string(limits.max_line_bytes + 10, 'x') + "\r\n\r\n"},
      {"endless chunk-size line", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                      std::string(limits.max_line_bytes + 10, '0')},
      {"too many headers",
       [&] {
         std::string s = "HTTP/1.1 200 OK\r\n";
         for (size_t i = 0; i <= limits.max_header_count; ++i)
           s += "X-" + std::to_string(i) + ": 1\r\n";
         return s + "Content-Length: 0\r\n\r\n";
       }()},
      {"ten thousand interim answers",
       [] {
         std::string s;
         for (int i = 0; i < 10000; ++i) s += "HTTP/1.1 100 Continue\r\n\r\n";
         return s + "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
       }()},
      {"body until close over the limit",
       "HTTP/1.1 200 OK\r\n\r\n" + std::string(limits.max_answer_bytes, ' ')},
      {"empty lines before the status over the limit",
       std::string(limits.max_answer_bytes + 2, '\n')},
      {"chunks over the limit",
       [&] {
         std::string s = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
         std::string chunk(1 << 20, 'a');
         for (size_t total = 0; total <= limits.max_answer_bytes; total += chunk.size()) {
           s += "100000\r\n" + chunk + "\r\n";
         }
         return s + "0\r\n\r\n";
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(Read(c.bytes, 65536).ok);
  }
}

}  // namespace
}  // namespace velarix
