#include "run/XmlCheck.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "run/FileExam.h"
#include "run/Fingerprint.h"
#include "testing/TempDir.h"

namespace velarix {
namespace {

using testing::TempDir;

std::string Utf16Le(const std::string& ascii) {
  std::string out = "\xff\xfe";
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

// A document of exactly size bytes, ended by end_tag.
std::string Sized(size_t size, const std::string& end_tag) {
  std::string doc = "<a>";
  doc += std::string(size - doc.size() - end_tag.size(), 'x');
  return doc + end_tag;
}

const char kNfe[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<nfeProc xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\">"
    "<NFe><infNFe Id=\"NFe35170358716523000119550010000000011000000017\" versao=\"4.00\">"
    "<ide><cUF>35</cUF><natOp>VENDA DE MERCADORIA</natOp></ide>"
    "<emit><xNome>Ind\xc3\xbastria &amp; Com\xc3\xa9rcio Ltda</xNome></emit></infNFe>"
    "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo>"
    "<CanonicalizationMethod Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>"
    "<Reference URI=\"#NFe35170358716523000119550010000000011000000017\">"
    "<DigestValue>xFNl0B9vh6kgjVGJ2bB9uKjJXvs=</DigestValue></Reference></SignedInfo>"
    "<SignatureValue>aGVsbG8=</SignatureValue></Signature></NFe>"
    "<protNFe versao=\"4.00\"><infProt><cStat>100</cStat></infProt></protNFe></nfeProc>\r\n";

const char kLaughs[] =
    "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ELEMENT lolz (#PCDATA)>"
    "<!ENTITY lol \"lol\">"
    "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
    "<!ENTITY lol2 \"&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;\">"
    "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">"
    "<!ENTITY lol4 \"&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;\">"
    "<!ENTITY lol5 \"&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;\">"
    "<!ENTITY lol6 \"&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;\">"
    "<!ENTITY lol7 \"&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;\">"
    "<!ENTITY lol8 \"&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;\">"
    "<!ENTITY lol9 \"&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;\">"
    "]><lolz>&lol9;&lol9;&lol9;&lol9;&lol9;&lol9;&lol9;&lol9;</lolz>";

struct Case {
  const char* name;
  std::string bytes;
  bool passes;
};

std::vector<Case> Cases() {
  const std::string dtd_ab = "<!DOCTYPE a [<!ELEMENT a (b+)><!ELEMENT b EMPTY>]>";
  return {
      {"bare element", "<a/>", true},
      {"declaration", "<?xml version=\"1.0\"?>\n<a>texto</a>\n", true},
      {"utf-8 text", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>Jo\xc3\xa3o</a>", true},
      {"iso-8859-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>Jo\xe3o</a>", true},
      {"utf-16 with bom", Utf16Le("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>x</a>"), true},
      {"utf-8 with bom", "\xef\xbb\xbf<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>", true},
      {"cr lf", "<?xml version=\"1.0\"?>\r\n<a>\r\n  <b/>\r\n</a>\r\n", true},
      {"fiscal document", kNfe, true},
      {"comments and instructions", "<!-- c --><?pi x?><a><![CDATA[<&>]]><!-- d --></a><!-- e -->",
       true},
      {"character references", "<a>&#233;&#xE9;&lt;&amp;&quot;</a>", true},
      {"many blocks", "<a>" + Repeat("<item n=\"1\">valor &amp; texto</item>\n", 10000) + "</a>",
       true},

      {"empty", "", false},
      {"whitespace only", " \r\n", false},
      {"cut short", "<?xml version=\"1.0\"?><a><b></b>", false},
      {"cut short after many blocks", "<a>" + Repeat("<item>x</item>", 20000), false},
      {"plain text", "Nota fiscal 123, valor R$ 10,00\n", false},
      {"two roots", "<a/><b/>", false},
      {"text after the root", "<a/>fim", false},
      {"mismatched tags", "<a><b></a></b>", false},
      {"undefined entity", "<a>&nbsp;</a>", false},
      {"undeclared prefix", "<nfe:a/>", false},
      {"utf-8 declared, latin-1 bytes", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>Jo\xe3o</a>",
       false},
      {"nul byte", std::string("<a>\0</a>", 8), false},
      {"second declaration", "<a/><?xml version=\"1.0\"?>", false},

      {"internal dtd, valid", dtd_ab + "<a><b/><b/></a>", true},
      {"internal dtd, missing child", dtd_ab + "<a/>", false},
      {"internal dtd, undeclared child", dtd_ab + "<a><b/><c/></a>", false},
      {"internal dtd with an entity",
       "<!DOCTYPE a [<!ELEMENT a (#PCDATA)><!ENTITY e \"Com\xc3\xa9rcio\">]><a>&e;</a>", true},
      {"internal dtd, attribute list first, valid",
       "<!DOCTYPE a [<!ATTLIST a t (x|y) #REQUIRED><!ELEMENT a EMPTY>]><a t=\"x\"/>", true},
      {"internal dtd, attribute list first, invalid",
       "<!DOCTYPE a [<!ATTLIST a t (x|y) #REQUIRED><!ELEMENT a EMPTY>]><a t=\"z\"/>", false},
      {"internal dtd, not well-formed", dtd_ab + "<a><b/>", false},
      {"internal dtd, large valid",
       "<!DOCTYPE a [<!ELEMENT a (b*)><!ELEMENT b (#PCDATA)>]><a>" +
           Repeat("<b>conteudo</b>\n", 20000) + "</a>",
       true},
      {"doctype without declarations", "<!DOCTYPE a><a/>", true},
      {"entity expansion bomb", kLaughs, false},

      // A file is read in blocks of 64 KiB: one that fits is parsed whole, a larger one in pieces.
      {"one byte below a block", Sized(65535, "</a>"), true},
      {"exactly a block", Sized(65536, "</a>"), true},
      {"one byte above a block", Sized(65537, "</a>"), true},
      {"several blocks", Sized(300000, "</a>"), true},
      {"exactly a block, broken at its end", Sized(65536, "</b>"), false},
      {"several blocks, broken at the end", Sized(300000, "</b>"), false},
  };
}

std::string Describe(const std::string& name) { return "case \"" + name + "\""; }

TEST(XmlCheckTest, AcceptsProperDocumentsAndRejectsEverythingElse) {
  TempDir dir;
  for (const Case& c : Cases()) {
    std::string path = dir / "doc.xml";
    testing::WriteFile(path, c.bytes);
    ::testing::internal::CaptureStderr();
    bool passes = ValidaXML(path);
    FileExam exam = ExaminaArquivo(path);
    std::string printed = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(passes, c.passes) << Describe(c.name);
    // The one-read examination says the same and fingerprints the same bytes.
    EXPECT_EQ(exam.valid, c.passes) << Describe(c.name);
    EXPECT_EQ(exam.hash, c.passes ? CalculaHash(path) : "") << Describe(c.name);
    EXPECT_EQ(printed, "") << Describe(c.name);
  }
}

TEST(XmlCheckTest, EntityExpansionBombFailsFast) {
  TempDir dir;
  testing::WriteFile(dir / "bomb.xml", kLaughs);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(ValidaXML(dir / "bomb.xml"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(XmlCheckTest, FilesThatCannotBeReadFailWithoutBlocking) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "pipe.xml").c_str(), 0600), 0);
  testing::MakeDirs(dir / "folder.xml");
  testing::WriteFile(dir / "file", "<a/>");
  int descriptors = testing::OpenDescriptorCount();
  for (const std::string& path :
       {dir / "pipe.xml", dir / "folder.xml", dir / "missing.xml", dir / "file/below.xml"}) {
    EXPECT_FALSE(ValidaXML(path)) << path;
    EXPECT_FALSE(ExaminaArquivo(path).valid) << path;
  }
  EXPECT_EQ(testing::OpenDescriptorCount(), descriptors);
}

// Tells whether a file was opened while it was watched.
class OpenWatch {
 public:
  explicit OpenWatch(const std::string& path) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    EXPECT_GE(fd_, 0);
    EXPECT_GE(inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_ACCESS), 0);
  }
  ~OpenWatch() { close(fd_); }
  bool Opened() {
    char events[4096];
    return read(fd_, events, sizeof events) > 0;
  }

 private:
  int fd_;
};

TEST(XmlCheckTest, NeverReadsAnotherFile) {
  TempDir dir;
  std::string secret = dir / "secret.txt";
  std::string dtd = dir / "external.dtd";
  testing::WriteFile(secret, "<b/>");
  testing::WriteFile(dtd, "<!ELEMENT a (#PCDATA)>");
  struct Reference {
    const char* name;
    std::string document;
    const std::string* target;
  } references[] = {
      {"external DTD", "<!DOCTYPE a SYSTEM \"file://" + dtd + "\"><a/>", &dtd},
      {"external DTD beside an internal one",
       "<!DOCTYPE a SYSTEM \"" + dtd + "\" [<!ATTLIST a t CDATA #IMPLIED>]><a/>", &dtd},
      {"public DTD", "<!DOCTYPE a PUBLIC \"-//X//DTD A//EN\" \"" + dtd + "\"><a/>", &dtd},
      {"external entity",
       "<!DOCTYPE a [<!ELEMENT a ANY><!ELEMENT b EMPTY><!ENTITY e SYSTEM \"file://" + secret +
           "\">]><a>&e;</a>",
       &secret},
      {"external parameter entity", "<!DOCTYPE a [<!ENTITY % p SYSTEM \"" + dtd + "\"> %p;]><a/>",
       &dtd},
      {"xinclude",
       "<a xmlns:xi=\"http://www.w3.org/2001/XInclude\"><xi:include href=\"" + secret +
           "\" parse=\"text\"/></a>",
       &secret},
  };
  for (const Reference& r : references) {
    std::string path = dir / "doc.xml";
    testing::WriteFile(path, r.document);
    OpenWatch watch(*r.target);
    bool passes = ValidaXML(path);
    FileExam exam = ExaminaArquivo(path);
    EXPECT_FALSE(watch.Opened()) << r.name;
    // A document that cannot be judged without the other file fails; XInclude is plain markup.
    bool expected = std::string(r.name) == "xinclude";
    EXPECT_EQ(passes, expected) << r.name;
    EXPECT_EQ(exam.valid, expected) << r.name;
  }
  // The watch does see an open.
  OpenWatch watch(secret);
  testing::ReadFile(secret);
  EXPECT_TRUE(watch.Opened());
}

}  // namespace
}  // namespace velarix
