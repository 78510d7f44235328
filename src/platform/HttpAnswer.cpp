#include "platform/HttpAnswer.h"
#include "platform/Text.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <string_view>

namespace velarix {

namespace {

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Buffers the stream and counts every byte taken from it against the answer's limit.
class AnswerReader {
 public:
  AnswerReader(HttpStream* stream, const HttpLimits& limits, std::string* reason)
      : stream_(stream), limits_(limits), reason_(reason) {}

  // One line without its LF (and CR). False at the end of the stream (*eof set) or on failure.
  bool ReadLine(std::string* line, bool* eof) {
    *eof = false;
    size_t scanned = 0;  // bytes after position_ known to hold no LF; Fill may move position_
    for (;;) {
      size_t lf = buffer_.find('\n', position_ + scanned);
      if (lf != std::string::npos) {
        line->assign(buffer_, position_, lf - position_);
        position_ = lf + 1;
        if (!line->empty() && line->back() == '\r') line->pop_back();
        if (line->size() > limits_.max_line_bytes) return Fail("An answer line is too long");
        return true;
      }
      scanned = buffer_.size() - position_;
      if (buffer_.size() - position_ > limits_.max_line_bytes) {
        return Fail("An answer line is too long");
      }
      int64_t got = Fill();
      if (got < 0) return false;
      if (got == 0) {
        // A last line without its line break is still a line.
        if (position_ < buffer_.size()) {
          line->assign(buffer_, position_, std::string::npos);
          position_ = buffer_.size();
          if (!line->empty() && line->back() == '\r') line->pop_back();
          return true;
        }
        *eof = true;
        return Fail("The connection closed before the answer was complete");
      }
    }
  }

  bool ReadExactly(uint64_t n, std::string* out) {
    while (buffer_.size() - position_ < n) {
      int64_t got = Fill();
      if (got < 0) return false;
      if (got == 0) return Fail("The connection closed before the answer was complete");
    }
    out->append(buffer_, position_, static_cast<size_t>(n));
    position_ += static_cast<size_t>(n);
    return true;
  }

  bool ReadToClose(std::string* out) {
    for (;;) {
      out->append(buffer_, position_, std::string::npos);
      buffer_.clear();
      position_ = 0;
      int64_t got = Fill();
      if (got < 0) return false;
      if (got == 0) return true;
    }
  }

  bool Fail(const char* why) {
    *reason_ = why;
    return false;
  }

 private:
  // Reads more into the buffer: the count, 0 at the end, -1 on failure or when over the limit.
  int64_t Fill() {
    if (position_ > 0 && position_ == buffer_.size()) {
      buffer_.clear();
      position_ = 0;
    }
    char block[16384];
    int64_t got = stream_->Read(block, sizeof block, reason_);
    if (got < 0) return -1;
    total_ += static_cast<uint64_t>(got);
    if (total_ > limits_.max_answer_bytes) {
      Fail("The answer is larger than the client accepts");
      return -1;
    }
    buffer_.append(block, static_cast<size_t>(got));
    return got;
  }

  HttpStream* stream_;
  const HttpLimits& limits_;
  std::string* reason_;
  std::string buffer_;
  size_t position_ = 0;
  uint64_t total_ = 0;
};

// "HTTP/x.y NNN reason": the three-digit status, or -1.
int StatusOf(std::string_view line) {
  size_t space = line.find(' ');
  if (space == std::string_view::npos) return -1;
  std::string_view code = line.substr(space + 1, 3);
  if (code.size() != 3) return -1;
  for (char c : code) {
    if (c < '0' || c > '9') return -1;
  }
  if (line.size() > space + 4 && line[space + 4] != ' ') return -1;
  return (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
}

bool ReadHeaders(AnswerReader* reader, const HttpLimits& limits, HttpAnswer* answer) {
  answer->headers.clear();
  std::string line;
  bool eof;
  for (;;) {
    if (!reader->ReadLine(&line, &eof)) return false;
    if (line.empty()) return true;
    if (answer->headers.size() >= limits.max_header_count) {
      return reader->Fail("The answer has too many header lines");
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos) {
      answer->headers.emplace_back(line, std::string());
    } else {
      answer->headers.emplace_back(
          line.substr(0, colon), std::string(TrimBlanks(std::string_view(line).substr(colon + 1))));
    }
  }
}

// A decimal length that fits the answer's limit; false for anything else.
bool ParseLength(std::string_view text, uint64_t limit, uint64_t* length) {
  text = TrimBlanks(text);
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *length);
  return error == std::errc() && end == text.data() + text.size() && *length <= limit;
}

bool ReadChunked(AnswerReader* reader, const HttpLimits& limits, std::string* body) {
  std::string line;
  bool eof;
  for (;;) {
    if (!reader->ReadLine(&line, &eof)) return false;
    std::string_view size_text = TrimBlanks(std::string_view(line).substr(0, line.find(';')));
    if (size_text.empty()) return reader->Fail("A chunk size is missing");
    uint64_t size = 0;
    for (char c : size_text) {
      int digit =
          std::isxdigit(static_cast<unsigned char>(c))
              ? (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10)
              : -1;
      if (digit < 0) return reader->Fail("A chunk size is not hexadecimal");
      size = size * 16 + static_cast<uint64_t>(digit);
      // Checked at every digit, so the size can never wrap around.
      if (size > limits.max_answer_bytes)
        return reader->Fail("A chunk is larger than the answer may be");
    }
    if (size == 0) break;
    if (!reader->ReadExactly(size, body)) return false;
    if (!reader->ReadLine(&line, &eof)) return false;
    if (!line.empty()) return reader->Fail("A chunk is not followed by CR LF");
  }
  // Trailer lines up to the empty line; a server that closes right after the last chunk has
  // still sent the whole body.
  for (;;) {
    if (!reader->ReadLine(&line, &eof)) return eof;
    if (line.empty()) return true;
  }
}

}  // namespace

bool ReadHttpAnswer(HttpStream* stream, const HttpLimits& limits, HttpAnswer* answer,
                    std::string* reason) {
  *answer = HttpAnswer();
  AnswerReader reader(stream, limits, reason);
  std::string line;
  bool eof;
  size_t interim = 0;
  for (;;) {
    do {
      if (!reader.ReadLine(&line, &eof)) return false;
    } while (line.empty());

    if (!StartsWithNoCase(line, "HTTP/")) {
      if (interim > 0) return reader.Fail("An interim answer is not followed by a status line");
      answer->body = line + "\r\n";
      return reader.ReadToClose(&answer->body);
    }
    answer->has_head = true;
    answer->status = StatusOf(line);
    if (answer->status < 0) return reader.Fail("The answer's status line is malformed");
    if (!ReadHeaders(&reader, limits, answer)) return false;
    if (answer->status != 100) break;
    if (++interim > limits.max_interim_answers) {
      return reader.Fail("The server sent too many interim answers");
    }
  }

  if (answer->status == 204 || answer->status == 304) return true;

  bool chunked = false;
  bool has_length = false;
  uint64_t length = 0;
  for (const auto& [name, value] : answer->headers) {
    if (EqualsNoCase(name, "Transfer-Encoding")) {
      std::string_view v = TrimBlanks(value);
      size_t comma = v.rfind(',');
      if (EqualsNoCase(TrimBlanks(comma == std::string_view::npos ? v : v.substr(comma + 1)),
                       "chunked")) {
        chunked = true;
      }
    } else if (EqualsNoCase(name, "Content-Length")) {
      uint64_t this_length = 0;
      if (!ParseLength(value, limits.max_answer_bytes, &this_length)) {
        return reader.Fail("The answer's Content-Length is malformed or too large");
      }
      if (has_length && this_length != length) {
        return reader.Fail("The answer has conflicting Content-Length headers");
      }
      has_length = true;
      length = this_length;
    }
  }
  // Chunked framing wins over a Content-Length, as HTTP/1.1 requires.
  if (chunked) return ReadChunked(&reader, limits, &answer->body);
  if (has_length) return reader.ReadExactly(length, &answer->body);
  return reader.ReadToClose(&answer->body);
}

}  // namespace velarix
