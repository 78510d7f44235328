#include "upload/Json.h"

#include <cctype>
#include <charconv>

#include "platform/Error.h"
#include "platform/Text.h"

namespace velarix {

namespace {

[[noreturn]] void Fail(const std::string& what) { throw Error("Invalid JSON: " + what); }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  return text;
}

// Splits text at every separator outside strings, objects and arrays. A backslash inside a
// string hides the next character from the search for the closing quote.
std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  bool in_string = false;
  int nesting = 0;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      ++nesting;
    } else if (c == '}' || c == ']') {
      if (nesting > 0) --nesting;
    } else if (c == separator && nesting == 0) {
      pieces.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  if (in_string) Fail("a string is not closed");
  if (nesting > 0) Fail("an object or array is not closed");
  pieces.push_back(text.substr(start));
  return pieces;
}

// True when text is exactly one string, object or array: the quote or bracket that opens it
// is closed by its last character and not before. Keeps `"a" "b"` from reading as one string.
bool IsOneUnit(std::string_view text) {
  bool in_string = false;
  int nesting = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    bool closed = false;
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
        closed = nesting == 0;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      ++nesting;
    } else if (c == '}' || c == ']') {
      closed = --nesting == 0;
    }
    if (closed || nesting < 0) return closed && i == text.size() - 1;
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The text of a quoted string (quotes included) with its escapes undone.
std::string Unescape(std::string_view quoted) {
  if (quoted.size() < 2 || !IsOneUnit(quoted) || quoted.front() != '"') Fail("a bad string");
  std::string_view inner = quoted.substr(1, quoted.size() - 2);
  std::string out;
  out.reserve(inner.size());
  for (size_t i = 0; i < inner.size(); ++i) {
    char c = inner[i];
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (++i == inner.size()) Fail("a bad escape");
    switch (char e = inner[i]) {
      case 'b':
        out.push_back('\b');
        break;
      case 'f':
        out.push_back('\f');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'u': {
        if (inner.size() - i - 1 < 4) Fail("a bad \\u escape");
        unsigned code = 0;
        for (int k = 1; k <= 4; ++k) {
          int d = HexDigit(inner[i + k]);
          if (d < 0) Fail("a bad \\u escape");
          code = code * 16 + static_cast<unsigned>(d);
        }
        // The reader's strings are 8-bit: only the low byte of the code survives.
        out.push_back(static_cast<char>(code & 0xFF));
        i += 4;
        break;
      }
      default:
        out.push_back(e);
    }
  }
  return out;
}

// Optional sign, digits, optional fraction, optional exponent, read with "." whatever the
// locale.
bool ReadNumber(std::string_view text, double* number) {
  size_t i = 0;
  auto digits = [&] {
    size_t from = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i > from;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  if (!digits()) return false;
  if (i < text.size() && text[i] == '.') {
    ++i;
    if (!digits()) return false;
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (!digits()) return false;
  }
  if (i != text.size()) return false;
  if (text.front() == '+') text.remove_prefix(1);  // from_chars takes no plus sign
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *number);
  return error == std::errc() && end == text.data() + text.size();
}

// The pieces of an object's or array's text between its brackets; one trailing comma is
// accepted, any other empty piece is not.
std::vector<std::string_view> Elements(std::string_view text, int depth) {
  if (depth >= TJsonBase::kMaxDepth) Fail("nesting too deep");
  if (text.size() < 2 || !IsOneUnit(text)) Fail("a bad object or array");
  std::vector<std::string_view> pieces = Split(Trim(text.substr(1, text.size() - 2)), ',');
  for (std::string_view& piece : pieces) piece = Trim(piece);
  if (pieces.back().empty()) pieces.pop_back();
  for (std::string_view piece : pieces) {
    if (piece.empty()) Fail("an empty element");
  }
  return pieces;
}

}  // namespace

TJsonValue::~TJsonValue() = default;

void TJsonValue::Clear() {
  kind_ = TJsonValueKind::jvNone;
  string_.clear();
  number_ = 0;
  boolean_ = false;
  object_.reset();
  array_.reset();
}

void TJsonValue::ParseAt(std::string_view text, int depth) {
  Clear();
  text = Trim(text);
  if (text.size() >= 2) {
    if (text.front() == '{' && text.back() == '}') {
      object_ = std::make_unique<TJsonObject>(this);
      ParseChild(*object_, text, depth);
      kind_ = TJsonValueKind::jvObject;
      return;
    }
    if (text.front() == '[' && text.back() == ']') {
      array_ = std::make_unique<TJsonArray>(this);
      ParseChild(*array_, text, depth);
      kind_ = TJsonValueKind::jvArray;
      return;
    }
    if (text.front() == '"' && text.back() == '"') {
      string_ = Unescape(text);
      kind_ = TJsonValueKind::jvString;
      return;
    }
    if (EqualsNoCase(text, "null")) {
      kind_ = TJsonValueKind::jvNull;
      return;
    }
    if (EqualsNoCase(text, "true") || EqualsNoCase(text, "false")) {
      boolean_ = EqualsNoCase(text, "true");
      kind_ = TJsonValueKind::jvBoolean;
      return;
    }
  }
  if (!ReadNumber(text, &number_)) Fail("a value that is none of the known kinds");
  kind_ = TJsonValueKind::jvNumber;
}

std::string TJsonValue::AsString() const {
  switch (kind_) {
    case TJsonValueKind::jvNone:
    case TJsonValueKind::jvNull:
      return {};
    case TJsonValueKind::jvString:
      return string_;
    case TJsonValueKind::jvBoolean:
      return boolean_ ? "true" : "false";
    case TJsonValueKind::jvNumber: {
      char buffer[64];
      auto result =
          std::to_chars(buffer, buffer + sizeof buffer, number_, std::chars_format::general, 15);
      return std::string(buffer, result.ptr);
    }
    case TJsonValueKind::jvObject:
    case TJsonValueKind::jvArray:
      break;
  }
  throw Error("A JSON object or array has no string form");
}

TJsonPair::TJsonPair(TJsonBase* owner) : TJsonPair(owner, std::string()) {}

TJsonPair::TJsonPair(TJsonBase* owner, std::string name)
    : TJsonBase(owner), name_(std::move(name)), value_(std::make_unique<TJsonValue>(this)) {}

void TJsonPair::ParseAt(std::string_view text, int depth) {
  std::vector<std::string_view> parts = Split(text, ':');
  if (parts.size() != 2) Fail("a member that is not one name and one value");
  std::string_view name = Trim(parts[0]);
  if (name.size() < 2 || name.front() != '"' || name.back() != '"') Fail("a bad member name");
  name_ = Unescape(name);
  ParseChild(*value_, parts[1], depth);
}

TJsonValue& TJsonObject::Member(std::string_view name) {
  for (const auto& pair : pairs_) {
    if (EqualsNoCase(pair->name(), name)) return pair->value();
  }
  if (!CreateMissing) throw Error("The JSON object has no member \"" + std::string(name) + "\"");
  pairs_.push_back(std::make_unique<TJsonPair>(this, std::string(name)));
  return pairs_.back()->value();
}

void TJsonObject::ParseAt(std::string_view text, int depth) {
  pairs_.clear();
  for (std::string_view piece : Elements(text, depth)) {
    auto pair = std::make_unique<TJsonPair>(this);
    ParseChild(*pair, piece, depth + 1);
    pairs_.push_back(std::move(pair));
  }
}

void TJsonArray::ParseAt(std::string_view text, int depth) {
  values_.clear();
  for (std::string_view piece : Elements(text, depth)) {
    auto value = std::make_unique<TJsonValue>(this);
    ParseChild(*value, piece, depth + 1);
    values_.push_back(std::move(value));
  }
}

void TJson::ParseAt(std::string_view text, int depth) {
  kind_ = TJsonRootKind::jrNone;
  object_.reset();
  array_.reset();
  text = Trim(text);
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
    array_ = std::make_unique<TJsonArray>(this);
    ParseChild(*array_, text, depth);
    kind_ = TJsonRootKind::jrArray;
  } else if (text.size() >= 2 && text.front() == '{' && text.back() == '}') {
    object_ = std::make_unique<TJsonObject>(this);
    ParseChild(*object_, text, depth);
    kind_ = TJsonRootKind::jrObject;
  } else {
    Fail("the text is neither an object nor an array");
  }
}

TJsonObject& TJson::RootObject() {
  if (kind_ != TJsonRootKind::jrObject) throw Error("The JSON root is not an object");
  return *object_;
}

TJsonArray& TJson::RootArray() {
  if (kind_ != TJsonRootKind::jrArray) throw Error("The JSON root is not an array");
  return *array_;
}

}  // namespace velarix
