// A small reader for the portal's JSON answers. It follows the portal client's historic reading
// rules rather than the full grammar: text is split at "," and ":" outside strings, objects and
// arrays, member names match without regard to ASCII letter case, and one trailing comma is
// accepted. Every malformed text makes Parse throw Error.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velarix {

class TJsonObject;
class TJsonArray;

class TJsonBase {
 public:
  // Nesting deeper than this does not parse, so hostile input cannot exhaust the stack. Each
  // level splits its text again, so the cost grows with size times depth: a verdict is flat,
  // and 64 keeps the worst answer the reader accepts to a few seconds.
  static constexpr int kMaxDepth = 64;

  explicit TJsonBase(TJsonBase* owner) : owner_(owner) {}
  virtual ~TJsonBase() = default;
  TJsonBase(const TJsonBase&) = delete;
  TJsonBase& operator=(const TJsonBase&) = delete;

  TJsonBase* owner() const { return owner_; }
  // Replaces this node's content with the one read from text; throws Error when it does not
  // parse.
  void Parse(std::string_view text) { ParseAt(text, 0); }

 protected:
  // depth counts the objects and arrays around this node.
  virtual void ParseAt(std::string_view text, int depth) = 0;
  static void ParseChild(TJsonBase& child, std::string_view text, int depth) {
    child.ParseAt(text, depth);
  }

 private:
  TJsonBase* owner_;
};

enum class TJsonValueKind { jvNone, jvNull, jvString, jvNumber, jvBoolean, jvObject, jvArray };

class TJsonValue : public TJsonBase {
 public:
  explicit TJsonValue(TJsonBase* owner) : TJsonBase(owner) {}
  ~TJsonValue() override;

  TJsonValueKind kind() const { return kind_; }
  // The string form: empty for none and null, the text of a string, "true"/"false", a number
  // in general form with at most 15 significant digits and "." as decimal point. Throws Error
  // for an object or an array.
  std::string AsString() const;
  double AsNumber() const { return number_; }
  bool AsBoolean() const { return boolean_; }
  TJsonObject* AsObject() const { return object_.get(); }
  TJsonArray* AsArray() const { return array_.get(); }

 protected:
  void ParseAt(std::string_view text, int depth) override;

 private:
  void Clear();

  TJsonValueKind kind_ = TJsonValueKind::jvNone;
  std::string string_;
  double number_ = 0;
  bool boolean_ = false;
  std::unique_ptr<TJsonObject> object_;
  std::unique_ptr<TJsonArray> array_;
};

class TJsonPair : public TJsonBase {
 public:
  explicit TJsonPair(TJsonBase* owner);
  TJsonPair(TJsonBase* owner, std::string name);

  const std::string& name() const { return name_; }
  TJsonValue& value() { return *value_; }

 protected:
  void ParseAt(std::string_view text, int depth) override;

 private:
  std::string name_;
  std::unique_ptr<TJsonValue> value_;
};

class TJsonObject : public TJsonBase {
 public:
  explicit TJsonObject(TJsonBase* owner) : TJsonBase(owner) {}

  // The first member whose name matches without regard to ASCII letter case. When none does
  // and CreateMissing is on, a member of that name with no value is added and its value given;
  // otherwise throws Error.
  TJsonValue& Member(std::string_view name);
  size_t Count() const { return pairs_.size(); }
  TJsonPair& Pair(size_t index) { return *pairs_.at(index); }

  bool CreateMissing = true;

 protected:
  void ParseAt(std::string_view text, int depth) override;

 private:
  std::vector<std::unique_ptr<TJsonPair>> pairs_;
};

class TJsonArray : public TJsonBase {
 public:
  explicit TJsonArray(TJsonBase* owner) : TJsonBase(owner) {}

  size_t Count() const { return values_.size(); }
  TJsonValue& Item(size_t index) { return *values_.at(index); }

 protected:
  void ParseAt(std::string_view text, int depth) override;

 private:
  std::vector<std::unique_ptr<TJsonValue>> values_;
};

enum class TJsonRootKind { jrNone, jrArray, jrObject };

// The document: an object or an array.
class TJson : public TJsonBase {
 public:
  TJson() : TJsonBase(nullptr) {}

  TJsonRootKind kind() const { return kind_; }
  // Throws Error unless the document parsed to an object.
  TJsonObject& RootObject();
  // Throws Error unless the document parsed to an array.
  TJsonArray& RootArray();

 protected:
  void ParseAt(std::string_view text, int depth) override;

 private:
  TJsonRootKind kind_ = TJsonRootKind::jrNone;
  std::unique_ptr<TJsonObject> object_;
  std::unique_ptr<TJsonArray> array_;
};

}  // namespace velarix
