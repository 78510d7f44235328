// Comparisons of names that ignore letter case: header names, setting names, JSON member names.
// Only ASCII letters are folded; what a byte above 127 means depends on the encoding, and the
// C library's tolower would change with the user's locale.
#pragma once

#include <cstddef>
#include <string_view>

namespace velarix {

constexpr char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

constexpr bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  }
  return true;
}

constexpr bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithNoCase(a, b);
}

}  // namespace velarix
