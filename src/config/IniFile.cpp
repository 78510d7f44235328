#include "config/IniFile.h"

#include <cerrno>
#include <vector>

#include "platform/Env.h"
#include "platform/Text.h"

namespace velarix {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// One physical line: its content and the line end that followed it ("\r\n", "\n" or, for a
// last line without one, nothing).
struct Line {
  std::string content;
  std::string end;
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  while (!text.empty()) {
    size_t lf = text.find('\n');
    if (lf == std::string_view::npos) {
      // A lone CR at the very end is a line end too; a lone CR inside a line is content.
      if (text.back() == '\r') {
        lines.push_back({std::string(text.substr(0, text.size() - 1)), "\r"});
      } else {
        lines.push_back({std::string(text), ""});
      }
      break;
    }
    size_t content_end = lf > 0 && text[lf - 1] == '\r' ? lf - 1 : lf;
    lines.push_back({std::string(text.substr(0, content_end)),
                     std::string(text.substr(content_end, lf + 1 - content_end))});
    text.remove_prefix(lf + 1);
  }
  return lines;
}

enum class LineKind { kBlank, kComment, kSection, kKey, kOther };

struct ParsedLine {
  LineKind kind = LineKind::kOther;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key lines: the value, trimmed, quotes still on
};

ParsedLine Parse(std::string_view content) {
  std::string_view line = Trim(content);
  if (line.empty()) return {LineKind::kBlank, {}, {}};
  if (line.front() == ';' || line.front() == '#') return {LineKind::kComment, {}, {}};
  if (line.front() == '[') {
    size_t close = line.find(']');
    if (close != std::string_view::npos) {
      return {LineKind::kSection, Trim(line.substr(1, close - 1)), {}};
    }
  }
  size_t equals = line.find('=');
  if (equals != std::string_view::npos) {
    std::string_view name = Trim(line.substr(0, equals));
    if (!name.empty()) return {LineKind::kKey, name, Trim(line.substr(equals + 1))};
  }
  return {LineKind::kOther, {}, {}};
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Cuts value to kMaxIniValueLength bytes without leaving half of a UTF-8 character at the end.
std::string_view Cap(std::string_view value) {
  if (value.size() <= kMaxIniValueLength) return value;
  size_t cut = kMaxIniValueLength;
  auto is_continuation = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; };
  if (is_continuation(value[cut])) {
    // Back up to the lead byte of the character the cut falls in, if it is one.
    size_t lead = cut;
    while (lead > 0 && cut - lead < 3 && is_continuation(value[lead])) --lead;
    if (static_cast<unsigned char>(value[lead]) >= 0xC0) cut = lead;
  }
  return value.substr(0, cut);
}

std::string Quoted(std::string_view value) {
  bool needs_quotes =
      !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                         (value.size() >= 2 && value.front() == '"' && value.back() == '"'));
  if (!needs_quotes) return std::string(value);
  return "\"" + std::string(value) + "\"";
}

}  // namespace

std::optional<std::string> FindIniValue(std::string_view text, std::string_view section,
                                        std::string_view key) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  bool seen_section = false;
  bool inside = false;
  for (const Line& line : SplitLines(text)) {
    ParsedLine parsed = Parse(line.content);
    if (parsed.kind == LineKind::kSection) {
      // Only the first section of that name counts, as with the profile functions.
      if (inside) return std::nullopt;
      inside = !seen_section && EqualsNoCase(parsed.name, section);
      seen_section = seen_section || inside;
    } else if (inside && parsed.kind == LineKind::kKey && EqualsNoCase(parsed.name, key)) {
      return std::string(Cap(Unquote(parsed.value)));
    }
  }
  return std::nullopt;
}

bool SetIniValue(std::string* text, std::string_view section, std::string_view key,
                 std::string_view value) {
  // Anything that would change how the file splits into lines or names is refused rather
  // than written into a file that would then read back differently.
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
  if (Trim(key) != key || key.empty() || key.find('=') != std::string_view::npos) return false;
  if (Trim(section) != section || section.find(']') != std::string_view::npos) return false;
  if (key.front() == ';' || key.front() == '#' || key.front() == '[') return false;

  std::string_view body = *text;
  bool bom = body.starts_with(kByteOrderMark);
  if (bom) body.remove_prefix(kByteOrderMark.size());
  std::vector<Line> lines = SplitLines(body);

  // New lines follow the file's own style; a file without any line end gets LF, the native
  // line end here.
  std::string eol = "\n";
  for (const Line& line : lines) {
    if (line.end == "\r\n" || line.end == "\n") {
      eol = line.end;
      break;
    }
  }
  std::string key_line = std::string(key) + "=" + Quoted(value);

  auto insert_at = [&](size_t index, std::string content) {
    // The line before must end first; a lone CR at the end of the file is completed to CRLF.
    if (index > 0 && lines[index - 1].end.empty()) lines[index - 1].end = eol;
    if (index > 0 && lines[index - 1].end == "\r") lines[index - 1].end = "\r\n";
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(index), Line{std::move(content), eol});
  };

  size_t section_index = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    ParsedLine parsed = Parse(lines[i].content);
    if (parsed.kind == LineKind::kSection && EqualsNoCase(parsed.name, section)) {
      section_index = i;
      break;
    }
  }

  if (section_index < lines.size()) {
    size_t insert_index = section_index + 1;
    bool replaced = false;
    for (size_t i = section_index + 1; i < lines.size(); ++i) {
      ParsedLine parsed = Parse(lines[i].content);
      if (parsed.kind == LineKind::kSection) break;
      if (parsed.kind != LineKind::kKey) continue;
      if (EqualsNoCase(parsed.name, key)) {
        lines[i].content = key_line;
        replaced = true;
        break;
      }
      insert_index = i + 1;
    }
    if (!replaced) insert_at(insert_index, key_line);
  } else {
    if (!lines.empty() && Parse(lines.back().content).kind != LineKind::kBlank) {
      insert_at(lines.size(), "");
    }
    insert_at(lines.size(), "[" + std::string(section) + "]");
    insert_at(lines.size(), key_line);
  }

  std::string result = bom ? std::string(kByteOrderMark) : std::string();
  for (const Line& line : lines) {
    result += line.content;
    result += line.end;
  }
  *text = std::move(result);
  return true;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view default_value) const {
  std::string text;
  std::string reason;
  if (!ReadWholeFile(path_, &text, &reason)) return std::string(default_value);
  std::optional<std::string> value = FindIniValue(text, section, key);
  return value ? *value : std::string(default_value);
}

int IniFile::WriteString(std::string_view section, std::string_view key,
                         std::string_view value) const {
  std::string text;
  FileStatus status;
  if (Env::Current()->Stat(path_, &status)) {
    // Never rebuild a file we could not read: that would throw away its other lines.
    std::string reason;
    if (!ReadWholeFile(path_, &text, &reason)) return EIO;
  }
  if (!SetIniValue(&text, section, key, value)) return EINVAL;
  return Env::Current()->ReplaceFile(path_, text);
}

}  // namespace velarix
