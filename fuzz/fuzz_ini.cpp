// The settings file: a fuzzed file is read key by key, one key is written, and then the
// written key must read back as written and every other key must read as it did before, so
// the fuzzer finds corruption of hand-edited files, not only crashes. A write that is refused
// must leave the file byte for byte as it was.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FuzzFolder.h"
#include "config/IniFile.h"
#include "platform/Text.h"

namespace {

const char kMissing[] = "\x01(missing)\x01";

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Every (section, key) that the text might hold, found by a loose scan of its own, so that the
// check does not share the reader's mistakes.
std::vector<std::pair<std::string, std::string>> CandidateKeys(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> keys;
  std::string section;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = TrimBlanks(text.substr(start, end - start));
    if (!line.empty() && line.front() == '[' && line.find(']') != std::string_view::npos) {
      section = std::string(TrimBlanks(line.substr(1, line.find(']') - 1)));
    } else if (size_t equals = line.find('='); equals != std::string_view::npos) {
      keys.emplace_back(section, std::string(TrimBlanks(line.substr(0, equals))));
    }
    start = end + 1;
  }
  return keys;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string& FilePath() {
  static const std::string path = velarix::fuzzing::MakeScratchFolder("fuzz_ini") + "/settings.ini";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string section = input.ConsumeRandomLengthString(40);
  const std::string key = input.ConsumeRandomLengthString(40);
  const std::string value = input.ConsumeRandomLengthString(3000);
  const std::string text = input.ConsumeRemainingBytesAsString();

  const std::string& path = FilePath();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  velarix::IniFile ini(path);

  auto keys = CandidateKeys(text);
  keys.emplace_back(section, key);
  std::vector<std::string> before;
  for (const auto& [s, k] : keys) before.push_back(ini.ReadString(s, k, kMissing));

  if (ini.WriteString(section, key, value) != 0) {
    if (ReadBytes(path) != text) std::abort();  // a refused write changes nothing
    return 0;
  }

  const std::string read_back = ini.ReadString(section, key, kMissing);
  if (value.size() <= velarix::kMaxIniValueLength) {
    if (read_back != value) std::abort();
  } else if (read_back.size() > velarix::kMaxIniValueLength ||
             read_back.size() + 3 < velarix::kMaxIniValueLength ||
             value.compare(0, read_back.size(), read_back) != 0) {
    std::abort();  // a long value reads as its first 2047 bytes, less a cut character
  }
  for (size_t i = 0; i < keys.size(); ++i) {
    const auto& [s, k] = keys[i];
    if (velarix::EqualsNoCase(s, section) && velarix::EqualsNoCase(k, key)) continue;
    if (ini.ReadString(s, k, kMissing) != before[i]) std::abort();
  }
  return 0;
}
