#include "upload/Json.h"

#include <gtest/gtest.h>

#include "platform/Error.h"
#include "upload/EnviaArquivo.h"

namespace velarix {
namespace {

TEST(JsonTest, VerdictOnPortalAnswers) {
  struct Case {
    const char* answer;
    bool accepted;
  } cases[] = {
      {R"({"msg":"100"})", true},
      {" \r\n\t{\"msg\":\"100\"}\r\n ", true},
      {R"({"ok":true,"msg":"100","list":[1,{"a":null}],"n":-1.5e3})", true},
      {R"({"msg":"100",})", true},
      {R"({ "msg" : "100" })", true},
      {R"({"msg":100})", true},
      {R"({"msg":100.0})", true},
      {R"({"msg":1e2})", true},
      {R"({"msg":1E+2})", true},
      {R"({"MSG":"100"})", true},
      {R"({"Msg":"100","msg":"200"})", true},
      {R"({"msg":"200","MSG":"100"})", false},
      {R"({"msg":"\u0031\u0030\u0030"})", true},
      {R"({"msg":"\u0131\u0030\u0030"})", true},  // only the low 8 bits of \u count
      {R"({"m\u0073g":"100"})", true},
      {R"({"msg":" 100"})", false},
      {R"({"msg":"100 "})", false},
      {R"({"msg":"101"})", false},
      {R"({"msg":"OK"})", false},
      {R"({"msg":null})", false},
      {R"({"msg":true})", false},
      {R"({"msg":false})", false},
      {R"({"msg":{"msg":"100"}})", false},
      {R"({"msg":["100"]})", false},
      {R"({"other":"100"})", false},
      {"{}", false},
      {"", false},
      {"<html><body>500 Internal Server Error</body></html>", false},
      {R"("100")", false},
      {"100", false},
      {R"([{"msg":"100"}])", false},
      {R"({"msg":"100","x":word})", false},
      {R"({"msg":"100","x":})", false},
      {R"({"msg":"100",,})", false},
      {R"({,"msg":"100"})", false},
      {R"({"msg":"100":"1"})", false},
      {R"({"msg":"100","x":"unclosed})", false},
      {R"({"msg":"100","x":[1,2})", false},
      {R"({"msg":"100","x":{"a":1})", false},
      {R"({"msg":"100","x":"a" "b"})", false},
      {R"({"msg":"100"}{"x":1})", false},
      {R"({"msg":"100","x":"\u00zz"})", false},
      {R"({"msg":"100","x":"\u12"})", false},
      {R"({msg:"100"})", false},
      {R"({"msg":"100","x":1e999})", false},
      {R"({"msg":"100","x":.5})", false},
      {"\xEF\xBB\xBF{\"msg\":\"100\"}", false},  // a byte-order mark is not blank
      {"{", false},
      {"}", false},
      {R"({"msg":"200"})", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PortalAccepted(c.answer), c.accepted) << c.answer;
  }
}

TEST(JsonTest, StringFormsOfValues) {
  struct Case {
    const char* value;
    const char* string_form;
  } cases[] = {
      {"\"text\"", "text"},
      {R"("a\"b\\c\/d\x")", "a\"b\\c/dx"},
      {R"("\b\f\n\r\t")", "\b\f\n\r\t"},
      {"null", ""},
      {"NULL", ""},
      {"TRUE", "true"},
      {"False", "false"},
      {"100", "100"},
      {"-0.5", "-0.5"},
      {"+7", "7"},
      {"0.1", "0.1"},
      {"3.14159265358979323846", "3.14159265358979"},
      {"1e20", "1e+20"},
      {"1.5e-7", "1.5e-07"},
      {"123456789012345", "123456789012345"},
  };
  for (const Case& c : cases) {
    TJson json;
    json.Parse(std::string("{\"v\":") + c.value + "}");
    EXPECT_EQ(json.RootObject().Member("v").AsString(), c.string_form) << c.value;
  }
}

TEST(JsonTest, ObjectsAndArraysHaveNoStringFormAndArraysNoRootObject) {
  TJson json;
  json.Parse(R"({"o":{"a":1},"a":[1,2,]})");
  EXPECT_THROW(json.RootObject().Member("o").AsString(), Error);
  EXPECT_THROW(json.RootObject().Member("a").AsString(), Error);
  EXPECT_EQ(json.RootObject().Member("a").AsArray()->Count(), 2u);
  json.Parse("[1,2]");
  EXPECT_EQ(json.kind(), TJsonRootKind::jrArray);
  EXPECT_THROW(json.RootObject(), Error);
}

TEST(JsonTest, MissingMemberIsCreatedWithNoValue) {
  TJson json;
  json.Parse(R"({"a":1})");
  TJsonObject& root = json.RootObject();
  TJsonValue& missing = root.Member("msg");
  EXPECT_EQ(missing.kind(), TJsonValueKind::jvNone);
  EXPECT_EQ(missing.AsString(), "");
  EXPECT_EQ(root.Count(), 2u);
  EXPECT_EQ(&root.Member("MSG"), &missing);
  root.CreateMissing = false;
  EXPECT_THROW(root.Member("other"), Error);
}

TEST(JsonTest, NumbersIgnoreTheProcessLocale) {
  const char* previous = setlocale(LC_ALL, nullptr);
  std::string saved = previous != nullptr ? previous : "C";
  // A comma-decimal locale, when the machine has one.
  if (setlocale(LC_ALL, "pt_BR.UTF-8") == nullptr) setlocale(LC_ALL, "de_DE.UTF-8");
  TJson json;
  json.Parse(R"({"v":2.5})");
  EXPECT_EQ(json.RootObject().Member("v").AsString(), "2.5");
  setlocale(LC_ALL, saved.c_str());
}

TEST(JsonTest, DeepNestingIsRefusedWithoutExhaustingTheStack) {
  auto nested = [](int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "{\"a\":";
    text += "1";
    for (int i = 0; i < depth; ++i) text += "}";
    return text;
  };
  TJson json;
  EXPECT_NO_THROW(json.Parse(nested(TJsonBase::kMaxDepth)));
  EXPECT_THROW(json.Parse(nested(TJsonBase::kMaxDepth + 1)), Error);
  EXPECT_THROW(json.Parse(std::string(200000, '[') + std::string(200000, ']')), Error);
  EXPECT_THROW(json.Parse(std::string(100000, '{')), Error);
}

}  // namespace
}  // namespace velarix
