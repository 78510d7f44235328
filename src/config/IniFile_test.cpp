#include "config/IniFile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Env.h"
#include "testing/TempDir.h"

namespace velarix {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

struct FindCase {
  const char* what;
  const char* text;
  const char* section;
  const char* key;
  std::optional<std::string> expected;
};

TEST(IniFileTest, FindsValuesTheWayAPersonWroteThem) {
  const FindCase cases[] = {
      {"plain LF", "[DATA]\nk=/srv/a\n", "DATA", "k", "/srv/a"},
      {"CRLF", "[DATA]\r\nk=/srv/a\r\nz=1\r\n", "DATA", "k", "/srv/a"},
      {"byte-order mark before the first section", "\xEF\xBB\xBF[DATA]\r\nk=v\r\n", "DATA", "k",
       "v"},
      {"blanks around names, values and =", "  [ DATA ]  \n \t k \t=  /srv/a b \t\n", "DATA", "k",
       "/srv/a b"},
      {"names ignore letter case", "[data]\nNFE_Key=v\n", "DATA", "nfe_key", "v"},
      {"comment lines are not keys", "[DATA]\n;k=old\n# k=older\nk=new\n", "DATA", "k", "new"},
      {"a commented-out key alone is missing", "[DATA]\n; k=old\n", "DATA", "k", std::nullopt},
      {"matching double quotes are stripped", "[DATA]\nk=\"  /srv/a  \"\n", "DATA", "k",
       "  /srv/a  "},
      {"a lone quote stays", "[DATA]\nk=\"/srv/a\n", "DATA", "k", "\"/srv/a"},
      {"a single quote character stays", "[DATA]\nk=\"\n", "DATA", "k", "\""},
      {"empty value is present", "[DATA]\nk=\n", "DATA", "k", ""},
      {"= ; and # inside a value", "[DATA]\nk=a=b ;c #d\n", "DATA", "k", "a=b ;c #d"},
      {"last line without line end", "[DATA]\nk=v", "DATA", "k", "v"},
      {"key of another section", "[WEBSERVICE]\nk=v\n[DATA]\nj=1\n", "DATA", "k", std::nullopt},
      {"key before any section", "k=v\n[DATA]\n", "DATA", "k", std::nullopt},
      {"missing section", "[OTHER]\nk=v\n", "DATA", "k", std::nullopt},
      {"first key of that name wins", "[DATA]\nk=1\nK=2\n", "DATA", "k", "1"},
      {"only the first section of that name counts", "[DATA]\nj=1\n[X]\n[DATA]\nk=2\n", "DATA", "k",
       std::nullopt},
      {"a header with text after it", "[DATA] ; folders\nk=v\n", "DATA", "k", "v"},
      {"UTF-8 value bytes unchanged", "[DATA]\nk=/srv/ação/ü\n", "DATA", "k", "/srv/ação/ü"},
  };
  for (const FindCase& c : cases) {
    EXPECT_EQ(FindIniValue(c.text, c.section, c.key), c.expected) << c.what;
  }
}

TEST(IniFileTest, LongValuesAreCutWithoutSplittingACharacter) {
  auto read = [](const std::string& value) {
    return FindIniValue("[S]\nk=" + value + "\n", "S", "k").value();
  };
  EXPECT_EQ(read(std::string(2047, 'a')), std::string(2047, 'a'));
  EXPECT_EQ(read(std::string(3000, 'a')), std::string(2047, 'a'));
  EXPECT_EQ(read("\"" + std::string(3000, 'a') + "\""), std::string(2047, 'a'));
  // "é" is two bytes; the cut would fall between them.
  EXPECT_EQ(read(std::string(2046, 'a') + "é" + "bbb"), std::string(2046, 'a'));
  EXPECT_EQ(read(std::string(2045, 'a') + "é" + "bbb"), std::string(2045, 'a') + "é");
}

struct SetCase {
  const char* what;
  const char* before;
  const char* key;
  const char* value;
  const char* after;
};

TEST(IniFileTest, WriteChangesOnlyItsOwnLine) {
  const SetCase cases[] = {
      {"replaces the key, keeps comments, blanks and other sections",
       "; made by hand\r\n[WEBSERVICE]\r\nUrl=http://x/\r\n\r\n[DATA]\r\n  k = old \r\n"
       "other=1\r\n",
       "k", "/new",
       "; made by hand\r\n[WEBSERVICE]\r\nUrl=http://x/\r\n\r\n[DATA]\r\nk=/new\r\n"
       "other=1\r\n"},
      {"matches the key and section without regard to case", "[data]\nK=old\n", "k", "v",
       "[data]\nk=v\n"},
      {"adds after the last key, before blank lines and the next section",
       "[DATA]\na=1\n; about b\n\n[OTHER]\nb=9\n", "b", "2",
       "[DATA]\na=1\nb=2\n; about b\n\n[OTHER]\nb=9\n"},
      {"adds right after the header of a section without keys", "[DATA]\n\n[OTHER]\n", "b", "2",
       "[DATA]\nb=2\n\n[OTHER]\n"},
      {"adds the section at the end, keeping CRLF", "[WEBSERVICE]\r\nUrl=http://x/\r\n", "b", "2",
       "[WEBSERVICE]\r\nUrl=http://x/\r\n\r\n[DATA]\r\nb=2\r\n"},
      {"no extra blank line after a blank last line", "[WEBSERVICE]\n\n", "b", "2",
       "[WEBSERVICE]\n\n[DATA]\nb=2\n"},
      {"a new file gets LF", "", "b", "2", "[DATA]\nb=2\n"},
      {"ends the last line before adding after it", "[DATA]\r\na=1", "b", "2",
       "[DATA]\r\na=1\r\nb=2\r\n"},
      {"a last line without line end stays so when replaced", "[DATA]\na=1", "a", "2",
       "[DATA]\na=2"},
      {"keeps the byte-order mark", "\xEF\xBB\xBF[DATA]\r\na=1\r\n", "a", "2",
       "\xEF\xBB\xBF[DATA]\r\na=2\r\n"},
      {"writes to the first section of that name only", "[DATA]\nx=1\n[DATA]\na=1\n", "a", "2",
       "[DATA]\nx=1\na=2\n[DATA]\na=1\n"},
      {"an empty value leaves the key present", "[DATA]\na=1\n", "a", "", "[DATA]\na=\n"},
      {"quotes a value with outer blanks", "", "a", " /srv ", "[DATA]\na=\" /srv \"\n"},
      {"quotes a value in quotes", "", "a", "\"q\"", "[DATA]\na=\"\"q\"\"\n"},
      {"leaves a lone quote alone", "", "a", "\"q", "[DATA]\na=\"q\n"},
  };
  for (const SetCase& c : cases) {
    std::string text = c.before;
    ASSERT_TRUE(SetIniValue(&text, "DATA", c.key, c.value)) << c.what;
    EXPECT_EQ(text, c.after) << c.what;
  }
}

TEST(IniFileTest, EveryValueWrittenReadsBackAsItself) {
  const std::string values[] = {
      "",       " ",       "\t",         "  lead",      "trail  ", "\"", "\"\"",
      "\"q\"",  " \"q\" ", "x\"",        "\"x",         "a=b",     ";x", "#x",
      "[DATA]", "/srv/",   "C:\\Temp\\", "/srv/ação/ü", "a\"b\"c",
  };
  for (const char* base : {"", "\xEF\xBB\xBF; hand\r\n[DATA]\r\nk=old\r\n[X]\r\nk=x\r\n"}) {
    for (const std::string& value : values) {
      std::string text = base;
      ASSERT_TRUE(SetIniValue(&text, "DATA", "k", value));
      EXPECT_EQ(FindIniValue(text, "DATA", "k"), value) << "[" << value << "] in " << text;
      EXPECT_EQ(FindIniValue(text, "X", "k").value_or("none"), *base ? "x" : "none");
    }
  }
}

TEST(IniFileTest, RefusesWhatWouldBreakTheFile) {
  struct Refused {
    const char* section;
    const char* key;
    std::string value;
  };
  const Refused cases[] = {
      {"DATA", "k", "/srv/a\nb=evil"},
      {"DATA", "k", "/srv/a\r"},
      {"DATA", "k", "a\r\nb"},
      {"DATA", "", "v"},
      {"DATA", "a=b", "v"},
      {"DATA", " k", "v"},
      {"DATA", "k\n", "v"},
      {"DATA", ";k", "v"},
      {"DATA", "[k]", "v"},
      {"DA]TA", "k", "v"},
      {"DATA\n", "k", "v"},
  };
  const std::string original = "[DATA]\nk=old\n";
  for (const Refused& c : cases) {
    std::string text = original;
    EXPECT_FALSE(SetIniValue(&text, c.section, c.key, c.value)) << c.key << " " << c.value;
    EXPECT_EQ(text, original);
  }
}

TEST(IniFileTest, FileReadsGiveTheDefaultWhenThereIsNothingToRead) {
  TempDir dir;
  testing::MakeDirs(dir / "a-folder.ini");
  testing::WriteFile(dir / "empty.ini", "");
  for (const std::string& path : {dir / "missing.ini", dir / "a-folder.ini", dir / "empty.ini",
                                  dir / "empty.ini/below.ini"}) {
    EXPECT_EQ(IniFile(path).ReadString("DATA", "k", "dflt"), "dflt") << path;
  }
}

TEST(IniFileTest, WriteRefusesToRebuildAFileItCannotRead) {
  TempDir dir;
  testing::MakeDirs(dir / "a-folder.ini");
  EXPECT_NE(IniFile(dir / "a-folder.ini").WriteString("DATA", "k", "v"), 0);
  EXPECT_TRUE(fs::is_directory(dir / "a-folder.ini"));
}

TEST(IniFileTest, WriteThroughASymbolicLinkUpdatesTheFileItPointsTo) {
  TempDir dir;
  testing::WriteFile(dir / "real.ini", "; keep\n[DATA]\nk=old\n");
  fs::create_symlink(dir / "real.ini", dir / "link.ini");
  ASSERT_EQ(IniFile(dir / "link.ini").WriteString("DATA", "k", "new"), 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
  EXPECT_EQ(testing::ReadFile(dir / "real.ini"), "; keep\n[DATA]\nk=new\n");
}

}  // namespace
}  // namespace velarix
