// An INI file read and written one key at a time, the way the Windows profile functions do it:
// section and key names match without regard to ASCII letter case, the first matching section
// and the first matching key win, and a write changes only its own line (or adds it), keeping
// every other byte of the file. A file edited by hand is understood in the usual form: LF or
// CRLF line ends, a UTF-8 byte-order mark, blanks around names, values and "=", whole-line
// comments starting with ";" or "#", and a value in matching double quotes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace velarix {

// A value longer than this reads as its first kMaxIniValueLength bytes (fewer when the cut
// would split a UTF-8 character).
inline constexpr size_t kMaxIniValueLength = 2047;

// The value of key in section of the INI text, or nullopt when the section or the key is
// missing.
std::optional<std::string> FindIniValue(std::string_view text, std::string_view section,
                                        std::string_view key);

// Sets key in section of the INI text to value: replaces the key's line, or adds the key after
// the last key of its section, or adds the section at the end. A value that would not read back
// as itself (leading or trailing blanks, enclosing quotes) is written in quotes. Returns false,
// leaving text unchanged, when the section, key or value holds a line break, the key is empty
// or holds "=", or the section holds "]".
bool SetIniValue(std::string* text, std::string_view section, std::string_view key,
                 std::string_view value);

class IniFile {
 public:
  explicit IniFile(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // The value, or default_value when the file, the section or the key is missing or the file
  // cannot be read. Never fails.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view default_value) const;

  // Writes key=value into section, replacing the whole file in one step through Env, so a
  // failure leaves the old file as it was. Returns 0 or the errno value of the failure (EINVAL
  // for what SetIniValue refuses, EIO when an existing file cannot be read).
  int WriteString(std::string_view section, std::string_view key, std::string_view value) const;

 private:
  std::string path_;
};

}  // namespace velarix
