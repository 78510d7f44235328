// The portal's answer as the verdict reads it: Parse, RootObject, Member("msg"), AsString.
// Only Error may leave the reader; anything else (std::out_of_range, a crash, a sanitizer
// report) would take the worker down instead of giving "not accepted".
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/Error.h"
#include "upload/EnviaArquivo.h"
#include "upload/Json.h"

using velarix::Error;
using velarix::TJson;
using velarix::TJsonValueKind;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  bool accepted = false;
  try {
    TJson json;
    json.Parse(text);
    velarix::TJsonValue& msg = json.RootObject().Member("msg");
    const std::string verdict = msg.AsString();
    accepted = verdict == "100";
    // A lookup adds a missing member once; a second one must find it, not add another.
    const size_t count = json.RootObject().Count();
    json.RootObject().Member("MSG");
    if (json.RootObject().Count() != count) std::abort();
    if (accepted && msg.kind() != TJsonValueKind::jvString &&
        msg.kind() != TJsonValueKind::jvNumber) {
      std::abort();
    }
  } catch (const Error&) {
    accepted = false;
  }
  if (velarix::PortalAccepted(text) != accepted) std::abort();
  return 0;
}
