#include "run/FileExam.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/Error.h"
#include "run/Fingerprint.h"
#include "run/XmlCheck.h"
#include "testing/FaultInjectionEnv.h"
#include "testing/TempDir.h"

namespace velarix {
namespace {

using testing::Fault;
using testing::FaultInjectionEnv;
using testing::TempDir;

std::string Sha1Of(std::string_view bytes) {
  Sha1 digest;
  digest.Update(bytes.data(), bytes.size());
  return digest.HexDigest();
}

std::string Items(int n) {
  std::string doc = "<?xml version=\"1.0\"?>\n<lote>";
  for (int i = 0; i < n; ++i) doc += "<nota numero=\"" + std::to_string(i) + "\">valor</nota>\n";
  return doc + "</lote>\n";
}

// Appends to or truncates a file right after its n-th open, as another program might.
class ChangingEnv : public EnvWrapper {
 public:
  explicit ChangingEnv(std::string append) : EnvWrapper(Env::Default()), append_(append) {}
  ChangingEnv(off_t truncate_to, int at_open)
      : EnvWrapper(Env::Default()), truncate_to_(truncate_to), at_open_(at_open) {}

  std::unique_ptr<ReadableFile> OpenForRead(const std::string& path, OpenMode mode,
                                            std::string* reason) override {
    auto file = target()->OpenForRead(path, mode, reason);
    if (file == nullptr || ++opens_ != at_open_) return file;
    if (truncate_to_ >= 0) {
      EXPECT_EQ(truncate(path.c_str(), truncate_to_), 0);
    } else {
      EXPECT_EQ(target()->AppendToFile(path, append_), 0);
    }
    return file;
  }

 private:
  std::string append_;
  off_t truncate_to_ = -1;
  int at_open_ = 1;
  int opens_ = 0;
};

TEST(FileExamTest, ChecksAndFingerprintsTheBytesAsTheyStoodAtTheOpen) {
  TempDir dir;
  const std::string doc = Items(5000);  // several read blocks
  testing::WriteFile(dir / "lote.xml", doc);
  // What is appended would make a second root; neither the check nor the digest sees it.
  ChangingEnv appending("<outra/>");
  ScopedEnv scoped(&appending);
  FileExam exam = ExaminaArquivo(dir / "lote.xml");
  EXPECT_TRUE(exam.valid);
  EXPECT_EQ(exam.hash, Sha1Of(doc));
}

TEST(FileExamTest, AFileCutShortUnderItIsAReadError) {
  TempDir dir;
  const std::string with_dtd =
      "<!DOCTYPE lote [<!ELEMENT lote ANY><!ELEMENT nota ANY>"
      "<!ATTLIST nota numero CDATA #REQUIRED>]>" +
      Items(5000).substr(22);
  struct {
    const char* name;
    std::string bytes;
    off_t truncate_to;
    int at_open;
    bool throws;
  } cases[] = {
      // Nothing read so far was wrong, so whether the file is proper is unknown.
      {"document", Items(5000), 70000, 1, true},
      {"document cut to nothing", Items(10), 0, 1, true},
      // A document with a DTD is read a second time to validate it.
      {"document with a DTD, second read", with_dtd, 70000, 2, true},
      // Cut before the second read starts: that read sees a document cut short.
      {"document with a DTD, first read", with_dtd, 70000, 1, false},
      // Rejected on what was read before the end came.
      {"plain text", std::string(200000, 'x'), 70000, 1, false},
  };
  for (const auto& c : cases) {
    testing::WriteFile(dir / "f.xml", c.bytes);
    ChangingEnv shrinking(c.truncate_to, c.at_open);
    ScopedEnv scoped(&shrinking);
    if (c.throws) {
      EXPECT_THROW(
          {
            try {
              ExaminaArquivo(dir / "f.xml");
            } catch (const Error& e) {
              EXPECT_STREQ(e.what(), "Stream read error") << c.name;
              throw;
            }
          },
          Error)
          << c.name;
    } else {
      FileExam exam = ExaminaArquivo(dir / "f.xml");
      EXPECT_FALSE(exam.valid) << c.name;
      EXPECT_EQ(exam.hash, "") << c.name;
    }
  }
}

TEST(FileExamTest, FailedReadsRaiseUnlessTheDocumentWasAlreadyRejected) {
  TempDir dir;
  testing::WriteFile(dir / "good.xml", Items(5000));
  testing::WriteFile(dir / "bad.xml", "texto " + std::string(200000, 'x'));
  FaultInjectionEnv faults;
  ScopedEnv scoped(&faults);

  faults.FailAt(Fault::kRead, 2);
  EXPECT_THROW(ExaminaArquivo(dir / "good.xml"), Error);
  EXPECT_TRUE(faults.Fired());
  EXPECT_EQ(faults.OpenFiles(), 0);
  // Alone, the check reports a file it could not read as not loading.
  faults.FailAt(Fault::kRead, 2);
  EXPECT_FALSE(ValidaXML(dir / "good.xml"));

  faults.FailAt(Fault::kRead, 2);
  EXPECT_FALSE(ExaminaArquivo(dir / "bad.xml").valid);
  EXPECT_FALSE(faults.Fired());  // the first block was enough
  EXPECT_EQ(faults.OpenFiles(), 0);

  faults.FailAt(Fault::kOpen, 1);
  EXPECT_FALSE(ExaminaArquivo(dir / "good.xml").valid);
  EXPECT_TRUE(faults.Fired());
}

}  // namespace
}  // namespace velarix
