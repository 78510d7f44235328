#include "run/Fingerprint.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/Error.h"
#include "testing/FaultInjectionEnv.h"
#include "testing/TempDir.h"

namespace velarix {
namespace {

using testing::TempDir;

// Changes the file right after it is opened, as another program might.
class ChangingEnv : public EnvWrapper {
 public:
  enum class Change { kAppend, kTruncate };
  ChangingEnv(Change change, std::string bytes = "", off_t length = 0)
      : EnvWrapper(Env::Default()), change_(change), bytes_(std::move(bytes)), length_(length) {}

  std::unique_ptr<ReadableFile> OpenForRead(const std::string& path, OpenMode mode,
                                            std::string* reason) override {
    auto file = target()->OpenForRead(path, mode, reason);
    if (file != nullptr) {
      if (change_ == Change::kAppend) {
        EXPECT_EQ(target()->AppendToFile(path, bytes_), 0);
      } else {
        EXPECT_EQ(truncate(path.c_str(), length_), 0);
      }
    }
    return file;
  }

 private:
  Change change_;
  std::string bytes_;
  off_t length_;
};

std::string Sha1Of(std::string_view bytes) {
  Sha1 digest;
  digest.Update(bytes.data(), bytes.size());
  return digest.HexDigest();
}

TEST(FingerprintTest, MatchesTheStandardDigests) {
  struct {
    std::string bytes;
    const char* digest;
  } cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      // Many read blocks, the last one partial.
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    testing::WriteFile(dir / "f.xml", c.bytes);
    EXPECT_EQ(CalculaHash(dir / "f.xml"), c.digest) << c.bytes.size() << " bytes";
  }
}

TEST(FingerprintTest, DependsOnTheBytesAlone) {
  TempDir dir;
  const std::string doc = "<?xml version=\"1.0\"?>\r\n<a>Jo\xc3\xa3o</a>";
  testing::WriteFile(dir / "one.xml", doc);
  testing::WriteFile(dir / "sub/other name \"2\".xml", doc);
  testing::WriteFile(dir / "longer.xml", doc + "\n");
  EXPECT_EQ(CalculaHash(dir / "one.xml"), CalculaHash(dir / "sub/other name \"2\".xml"));
  EXPECT_NE(CalculaHash(dir / "one.xml"), CalculaHash(dir / "longer.xml"));
  EXPECT_EQ(CalculaHash(dir / "one.xml"), Sha1Of(doc));
}

TEST(FingerprintTest, ReadsAFileAnotherWriterKeepsOpen) {
  TempDir dir;
  std::ofstream writer(dir / "open.xml", std::ios::binary);
  writer << "<a/>";
  writer.flush();
  EXPECT_EQ(CalculaHash(dir / "open.xml"), Sha1Of("<a/>"));
}

TEST(FingerprintTest, TakesTheLengthAtTheOpen) {
  TempDir dir;
  const std::string doc(200000, 'x');
  testing::WriteFile(dir / "grows.xml", doc);
  ChangingEnv appending(ChangingEnv::Change::kAppend, "appended");
  ScopedEnv scoped(&appending);
  EXPECT_EQ(CalculaHash(dir / "grows.xml"), Sha1Of(doc));
}

TEST(FingerprintTest, FailuresNameTheFileAndCloseIt) {
  TempDir dir;
  testing::WriteFile(dir / "f.xml", std::string(300000, 'x'));
  testing::WriteFile(dir / "plain", "x");
  const std::string odd = dir / "Nota \"fiscal\" ação.xml";

  auto message = [](const std::string& path) {
    try {
      CalculaHash(path);
    } catch (const Error& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message(odd), "Cannot open file \"" + odd + "\". No such file or directory");
  EXPECT_EQ(message(dir / "plain/f.xml"),
            "Cannot open file \"" + (dir / "plain/f.xml") + "\". Not a directory");

  {
    ChangingEnv shrinking(ChangingEnv::Change::kTruncate, "", 1000);
    ScopedEnv scoped(&shrinking);
    EXPECT_EQ(message(dir / "f.xml"), "Stream read error");
  }
  testing::WriteFile(dir / "f.xml", std::string(300000, 'x'));
  testing::FaultInjectionEnv faults;
  ScopedEnv scoped(&faults);
  faults.FailAt(testing::Fault::kRead, 3);
  EXPECT_EQ(message(dir / "f.xml"), "Stream read error");
  EXPECT_TRUE(faults.Fired());
  EXPECT_EQ(faults.OpenFiles(), 0);
}

}  // namespace
}  // namespace velarix
