#include "upload/MultipartFormData.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>

#include "platform/Env.h"
#include "platform/Error.h"
#include "testing/TempDir.h"

namespace velarix {
namespace {

using testing::TempDir;

const std::string kB = std::string(27, '-') + "0123456780123456780123456780";

TEST(MultipartFormDataTest, BoundaryIs27HyphensAnd28DigitsBelowNine) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    TMultipartFormData form;
    const std::string& b = form.Boundary();
    ASSERT_EQ(b.size(), 55u);
    EXPECT_EQ(b.substr(0, 27), std::string(27, '-'));
    EXPECT_EQ(b.substr(27).find_first_not_of("012345678"), std::string::npos) << b;
    seen.insert(b);
  }
  EXPECT_GT(seen.size(), 1u) << "every builder drew the same boundary";
}

TEST(MultipartFormDataTest, EmptyBuilderGivesOnlyTheClosingDelimiter) {
  TMultipartFormData form(kB);
  EXPECT_EQ(form.GetBody(), "--" + kB + "--\r\n");
  EXPECT_EQ(form.GetBody().size(), 61u);
}

TEST(MultipartFormDataTest, UploadBodyHasTheExactLayout) {
  TempDir dir;
  std::string content(100, 'x');
  testing::WriteFile(dir / "NFe123.xml", content);
  TMultipartFormData form(kB);
  form.AddFile("file", dir / "NFe123.xml");  // added first, written after the field
  form.AddField("key", "QMTRAZ");
  const std::string expected =
      "--" + kB + "\r\n" + "Content-Disposition: form-data; name=\"key\"\r\n\r\n" + "QMTRAZ\r\n" +
      "--" + kB + "\r\n" +
      "Content-Disposition: form-data; name=\"file\"; "
      "filename=\"NFe123.xml\"\r\n" +
      "Content-Type: application/xml\r\n\r\n" + content + "\r\n\r\n" + "--" + kB + "--\r\n";
  EXPECT_EQ(form.GetBody(), expected);
  EXPECT_EQ(form.GetBody().size(), 438u);
}

TEST(MultipartFormDataTest, FileBytesAreCopiedUnchanged) {
  TempDir dir;
  std::string content = "<a>\r\n\xC3\xA7\xE3o\n\r\0\xFF</a>";
  content.push_back('\0');
  testing::WriteFile(dir / "bytes.xml", content);
  testing::WriteFile(dir / "empty.xml", "");
  for (const char* name : {"bytes.xml", "empty.xml"}) {
    SCOPED_TRACE(name);
    std::string bytes = testing::ReadFile(dir / name);
    TMultipartFormData form(kB);
    form.AddFile("file", dir / name);
    std::string body = form.GetBody();
    std::string header = "Content-Type: application/xml\r\n\r\n";
    size_t start = body.find(header) + header.size();
    EXPECT_EQ(body.substr(start, bytes.size() + 4), bytes + "\r\n\r\n");
    EXPECT_EQ(body.size(), start + bytes.size() + 4 + 61);
  }
}

TEST(MultipartFormDataTest, ListRulesReplaceInPlaceAndRemoveOnEmptyValue) {
  TMultipartFormData form(kB);
  form.AddField("key", "first");
  form.AddField("other", "o");
  form.AddField("Key", "second");  // same name in another case: replaced where it stood
  form.AddField("gone", "g");
  form.AddField("GONE", "");    // removes
  form.AddField("never", "");   // adds nothing
  form.AddField("a=b", "c=d");  // "=" in names and values is kept as written
  auto part = [](const std::string& name, const std::string& value) {
    return "--" + kB + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
           "\r\n";
  };
  EXPECT_EQ(form.GetBody(),
            part("Key", "second") + part("other", "o") + part("a=b", "c=d") + "--" + kB + "--\r\n");
}

TEST(MultipartFormDataTest, QuoteCrAndLfInNamesCannotBreakThePartHeader) {
  TempDir dir;
  std::string name = "a\"b\r\nContent-Disposition: form-data; name=\"evil\".xml";
  testing::WriteFile(dir / name, "<a/>");
  TMultipartFormData form(kB);
  form.AddFile("fi\"le", dir / name);
  std::string body = form.GetBody();
  EXPECT_NE(body.find("name=\"fi%22le\"; filename=\"a%22b%0D%0AContent-Disposition: form-data; "
                      "name=%22evil%22.xml\"\r\n"),
            std::string::npos)
      << body;
  // Only the one part header line: nothing injected.
  EXPECT_EQ(body.find("\r\nContent-Disposition"), body.rfind("\r\nContent-Disposition"));
  // Other bytes, accents and spaces included, stay as they are.
  TMultipartFormData plain(kB);
  testing::WriteFile(dir / "Nota fiscal ç.xml", "x");
  plain.AddFile("file", dir / "Nota fiscal ç.xml");
  EXPECT_NE(plain.GetBody().find("filename=\"Nota fiscal ç.xml\""), std::string::npos);
}

TEST(MultipartFormDataTest, FileThatCannotBeOpenedGivesCannotOpenFile) {
  TempDir dir;
  testing::WriteFile(dir / "busy.xml", "<a/>");
  testing::WriteFile(dir / "plain", "not a folder");
  int writer = open((dir / "busy.xml").c_str(), O_WRONLY);
  ASSERT_GE(writer, 0);
  struct Case {
    std::string path;
    std::string reason;
  } cases[] = {
      {dir / "missing.xml", "No such file or directory"},
      {dir / "plain/child.xml", "Not a directory"},
      {dir / "busy.xml", ""},  // held open for writing by another writer
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    TMultipartFormData form(kB);
    form.AddField("key", "QMTRAZ");
    form.AddFile("file", c.path);
    try {
      form.GetBody();
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      std::string prefix = "Cannot open file \"" + c.path + "\". ";
      EXPECT_EQ(std::string(e.what()).substr(0, prefix.size()), prefix) << e.what();
      EXPECT_GT(std::string(e.what()).size(), prefix.size()) << "no reason given";
      if (!c.reason.empty()) {
        EXPECT_EQ(e.what(), prefix + c.reason);
      }
    }
  }
  close(writer);
}

TEST(MultipartFormDataTest, RelativePathIsReportedAbsolute) {
  TempDir dir;
  testing::ScopedCurrentDir cwd(dir.path());
  TMultipartFormData form(kB);
  form.AddFile("file", "missing.xml");
  try {
    form.GetBody();
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open file \"" + dir.path() + "/missing.xml\". No such file or directory");
  }
}

// A file that fails or comes up short while it is copied must not go out truncated.
class FailingReadEnv : public EnvWrapper {
 public:
  enum class Fault { kReadFails, kShrinks };
  explicit FailingReadEnv(Fault fault) : EnvWrapper(Env::Default()), fault_(fault) {}

  std::unique_ptr<ReadableFile> OpenForRead(const std::string& path, OpenMode mode,
                                            std::string* reason) override {
    auto file = target()->OpenForRead(path, mode, reason);
    if (file == nullptr) return nullptr;
    return std::make_unique<Faulty>(std::move(file), fault_);
  }

 private:
  class Faulty : public ReadableFile {
   public:
    Faulty(std::unique_ptr<ReadableFile> file, Fault fault)
        : file_(std::move(file)), fault_(fault) {}
    uint64_t Size() const override { return file_->Size(); }
    int64_t Read(char* buffer, size_t n, std::string* reason) override {
      if (reads_++ == 0) return file_->Read(buffer, std::min<size_t>(n, 10), reason);
      if (fault_ == Fault::kShrinks) return 0;
      *reason = "Input/output error";
      return -1;
    }

   private:
    std::unique_ptr<ReadableFile> file_;
    Fault fault_;
    int reads_ = 0;
  };
  Fault fault_;
};

TEST(MultipartFormDataTest, ReadFailurePartWayGivesStreamReadError) {
  TempDir dir;
  testing::WriteFile(dir / "a.xml", std::string(1000, 'a'));
  for (auto fault : {FailingReadEnv::Fault::kReadFails, FailingReadEnv::Fault::kShrinks}) {
    FailingReadEnv env(fault);
    ScopedEnv scoped(&env);
    TMultipartFormData form(kB);
    form.AddFile("file", dir / "a.xml");
    try {
      form.GetBody();
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), "Stream read error");
    }
  }
}

}  // namespace
}  // namespace velarix
