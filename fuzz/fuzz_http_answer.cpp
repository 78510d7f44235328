// The answer reader fed through the stream seam the client uses, without a socket. The first
// byte picks how many bytes each read hands over (a server may send one byte at a time) and
// whether the small limits apply, so that the limits' edges are reached by short inputs.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/HttpAnswer.h"
#include "platform/HttpStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t control = data[0];
  const size_t max_read = (control & 0x7F) == 0 ? SIZE_MAX : (control & 0x7F);
  velarix::HttpLimits limits;
  if (control & 0x80) {
    limits.max_line_bytes = 64;
    limits.max_header_count = 4;
    limits.max_interim_answers = 2;
    limits.max_answer_bytes = 512;
  }
  velarix::StringStream stream(std::string(reinterpret_cast<const char*>(data) + 1, size - 1),
                               max_read);
  velarix::HttpAnswer answer;
  std::string reason;
  if (velarix::ReadHttpAnswer(&stream, limits, &answer, &reason)) {
    // Without a head the first line's break is given back as CR LF, which may add a byte.
    if (answer.body.size() > limits.max_answer_bytes + (answer.has_head ? 0 : 2)) std::abort();
    if (answer.headers.size() > limits.max_header_count) std::abort();
    if (!answer.has_head && answer.status != 0) std::abort();
    if (!answer.has_head && !answer.headers.empty()) std::abort();
  } else if (reason.empty()) {
    std::abort();  // a failure always says why
  }
  return 0;
}
