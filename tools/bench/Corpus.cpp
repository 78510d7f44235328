#include "Corpus.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "config/WatchedFolders.h"

namespace velarix::bench {

namespace {

// SplitMix64: small, fast and the same on every machine, so a seed names one corpus.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint64_t Below(uint64_t n) { return Next() % n; }
  double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
  template <size_t N>
  const char* Pick(const std::array<const char*, N>& pool) {
    return pool[Below(N)];
  }

 private:
  uint64_t state_;
};

constexpr std::array<const char*, 6> kEmitters = {
    "COMÉRCIO DE ALIMENTOS SÃO JOÃO LTDA", "DISTRIBUIDORA IRMÃOS ARAÚJO &amp; FILHOS LTDA",
    "MERCADO BOA ESPERANÇA EIRELI",        "FERRAGENS CONFIANÇA LTDA - ME",
    "INDÚSTRIA DE PLÁSTICOS PARANÁ S.A.",  "AUTO PEÇAS GUARUJÁ LTDA"};
constexpr std::array<const char*, 6> kCustomers = {
    "JOSÉ ANTÔNIO DA CONCEIÇÃO",       "MARIA DAS GRAÇAS ARAÚJO",
    "SUPERMERCADO PÃO DE MEL LTDA",    "CONSTRUTORA ALVORADA DO SUL",
    "PADARIA E CONFEITARIA SÃO JORGE", "OFICINA MECÂNICA IRMÃOS GUIMARÃES"};
constexpr std::array<const char*, 6> kStreets = {"RUA DA CONCEIÇÃO",    "AVENIDA PAULISTA",
                                                 "RUA SÃO BENTO",       "TRAVESSA DO COMÉRCIO",
                                                 "AVENIDA JOÃO PESSOA", "RUA MARECHAL DEODORO"};
constexpr std::array<const char*, 6> kCities = {"SÃO PAULO",           "RIBEIRÃO PRETO", "JUNDIAÍ",
                                                "SÃO JOSÉ DOS CAMPOS", "CAMPINAS",       "MARÍLIA"};
constexpr std::array<const char*, 12> kProducts = {"AÇÚCAR CRISTAL 5KG",
                                                   "CAFÉ TORRADO E MOÍDO 500G",
                                                   "FEIJÃO CARIOCA TIPO 1 1KG",
                                                   "ÓLEO DE SOJA REFINADO 900ML",
                                                   "PÃO DE FORMA INTEGRAL 500G",
                                                   "LEITE LONGA VIDA INTEGRAL 1L",
                                                   "MACARRÃO ESPAGUETE Nº 8 500G",
                                                   "SABÃO EM PÓ 1KG",
                                                   "ARROZ AGULHINHA TIPO 1 5KG",
                                                   "REQUEIJÃO CREMOSO 200G",
                                                   "PARAFUSO SEXTAVADO M8X30 AÇO INOX",
                                                   "LÂMPADA LED 9W BIVOLT"};

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void AppendBase64(Random& random, size_t length, std::string* out) {
  for (size_t i = 0; i < length; ++i) out->push_back(kBase64[random.Below(64)]);
}

void AppendDigits(Random& random, size_t length, std::string* out) {
  for (size_t i = 0; i < length; ++i) out->push_back(static_cast<char>('0' + random.Below(10)));
}

std::string Money(uint64_t cents) {
  return std::to_string(cents / 100) + "." + (cents % 100 < 10 ? "0" : "") +
         std::to_string(cents % 100);
}

// Writes elements with a line end after each, or none at all, as the issuing programs do.
class Writer {
 public:
  Writer(std::string* out, const char* line_end) : out_(out), line_end_(line_end) {}
  void Leaf(std::string_view name, std::string_view value) {
    *out_ += '<';
    *out_ += name;
    *out_ += '>';
    *out_ += value;
    *out_ += "</";
    *out_ += name;
    *out_ += '>';
    *out_ += line_end_;
  }
  void Open(std::string_view tag) {
    *out_ += '<';
    *out_ += tag;
    *out_ += '>';
    *out_ += line_end_;
  }
  void Close(std::string_view name) {
    *out_ += "</";
    *out_ += name;
    *out_ += '>';
    *out_ += line_end_;
  }
  void Raw(std::string_view text) {
    *out_ += text;
    *out_ += line_end_;
  }

 private:
  std::string* out_;
  const char* line_end_;
};

// The UTF-8 texts above use only letters from U+00A0 to U+00FF.
std::string ToLatin1(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
      out.push_back(static_cast<char>((static_cast<unsigned char>(utf8[++i]) & 0x3F) |
                                      (c == 0xC3 ? 0xC0 : 0x80)));
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

struct Shape {
  size_t target_bytes;
  bool latin1;
  const char* line_end;
};

std::string Document(uint64_t number, Random& random, const Shape& shape) {
  std::string doc;
  doc.reserve(shape.target_bytes + 4096);
  Writer w(&doc, shape.line_end);
  w.Raw(std::string("<?xml version=\"1.0\" encoding=\"") + (shape.latin1 ? "ISO-8859-1" : "UTF-8") +
        "\"?>");

  std::string cnpj = "1234567800" + std::to_string(1000 + random.Below(9000));
  std::string nnf = std::to_string(number + 1);
  std::string key = "3524" + std::string(1, static_cast<char>('0' + random.Below(2))) +
                    std::to_string(1 + random.Below(9)) + cnpj + "55001";
  key += std::string(9 - std::min<size_t>(9, nnf.size()), '0') + nnf;
  key += "1";
  AppendDigits(random, 44 - key.size(), &key);

  w.Open("nfeProc xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"");
  w.Open("NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"");
  w.Open("infNFe Id=\"NFe" + key + "\" versao=\"4.00\"");
  w.Open("ide");
  w.Leaf("cUF", "35");
  w.Leaf("cNF", key.substr(35, 8));
  w.Leaf("natOp", "VENDA DE MERCADORIA ADQUIRIDA OU RECEBIDA DE TERCEIROS");
  w.Leaf("mod", "55");
  w.Leaf("serie", "1");
  w.Leaf("nNF", nnf);
  w.Leaf("dhEmi", "2024-03-15T10:22:31-03:00");
  w.Leaf("tpNF", "1");
  w.Leaf("idDest", "1");
  w.Leaf("cMunFG", "3550308");
  w.Leaf("tpImp", "1");
  w.Leaf("tpEmis", "1");
  w.Leaf("cDV", key.substr(43));
  w.Leaf("tpAmb", "1");
  w.Leaf("finNFe", "1");
  w.Leaf("indFinal", "0");
  w.Leaf("indPres", "1");
  w.Leaf("procEmi", "0");
  w.Leaf("verProc", "Faturamento 5.2.14");
  w.Close("ide");
  const char* city = random.Pick(kCities);
  w.Open("emit");
  w.Leaf("CNPJ", cnpj);
  w.Leaf("xNome", random.Pick(kEmitters));
  w.Open("enderEmit");
  w.Leaf("xLgr", random.Pick(kStreets));
  w.Leaf("nro", std::to_string(1 + random.Below(3000)));
  w.Leaf("xBairro", "CENTRO");
  w.Leaf("cMun", "3550308");
  w.Leaf("xMun", city);
  w.Leaf("UF", "SP");
  w.Leaf("CEP", "01310100");
  w.Leaf("cPais", "1058");
  w.Leaf("xPais", "BRASIL");
  w.Close("enderEmit");
  w.Leaf("IE", "110042490114");
  w.Leaf("CRT", "3");
  w.Close("emit");
  w.Open("dest");
  w.Leaf("CNPJ", "9876543200" + std::to_string(1000 + random.Below(9000)));
  w.Leaf("xNome", random.Pick(kCustomers));
  w.Open("enderDest");
  w.Leaf("xLgr", random.Pick(kStreets));
  w.Leaf("nro", std::to_string(1 + random.Below(3000)));
  w.Leaf("xBairro", "JARDIM AMÉRICA");
  w.Leaf("xMun", random.Pick(kCities));
  w.Leaf("UF", "SP");
  w.Close("enderDest");
  w.Leaf("indIEDest", "1");
  w.Close("dest");

  // The signature and the protocol that close the document take about 3 KB.
  size_t certificate = 900 + random.Below(1200);
  size_t closing = certificate + 1600;
  uint64_t total = 0;
  for (int item = 1; item == 1 || doc.size() + closing < shape.target_bytes; ++item) {
    uint64_t quantity = 1 + random.Below(50);
    uint64_t unit = 100 + random.Below(20000);
    uint64_t value = quantity * unit;
    total += value;
    w.Open("det nItem=\"" + std::to_string(item) + "\"");
    w.Open("prod");
    w.Leaf("cProd", std::to_string(10000 + random.Below(90000)));
    w.Leaf("cEAN", "789" + std::to_string(1000000000 + random.Below(8000000000)));
    w.Leaf("xProd", random.Pick(kProducts));
    w.Leaf("NCM", "17019900");
    w.Leaf("CFOP", "5102");
    w.Leaf("uCom", "UN");
    w.Leaf("qCom", std::to_string(quantity) + ".0000");
    w.Leaf("vUnCom", Money(unit) + "00000000");
    w.Leaf("vProd", Money(value));
    w.Leaf("indTot", "1");
    w.Close("prod");
    w.Open("imposto");
    w.Open("ICMS");
    w.Open("ICMS00");
    w.Leaf("orig", "0");
    w.Leaf("CST", "00");
    w.Leaf("modBC", "3");
    w.Leaf("vBC", Money(value));
    w.Leaf("pICMS", "18.00");
    w.Leaf("vICMS", Money(value * 18 / 100));
    w.Close("ICMS00");
    w.Close("ICMS");
    w.Open("PIS");
    w.Open("PISAliq");
    w.Leaf("CST", "01");
    w.Leaf("vBC", Money(value));
    w.Leaf("pPIS", "1.65");
    w.Leaf("vPIS", Money(value * 165 / 10000));
    w.Close("PISAliq");
    w.Close("PIS");
    w.Close("imposto");
    w.Close("det");
  }
  w.Open("total");
  w.Open("ICMSTot");
  w.Leaf("vBC", Money(total));
  w.Leaf("vICMS", Money(total * 18 / 100));
  w.Leaf("vProd", Money(total));
  w.Leaf("vNF", Money(total));
  w.Close("ICMSTot");
  w.Close("total");
  w.Open("transp");
  w.Leaf("modFrete", "9");
  w.Close("transp");
  w.Open("infAdic");
  w.Leaf("infCpl",
         "DOCUMENTO EMITIDO POR ME OU EPP OPTANTE PELO SIMPLES NACIONAL; NÃO GERA "
         "DIREITO A CRÉDITO FISCAL DE IPI. PEDIDO Nº " +
             std::to_string(random.Below(100000)));
  w.Close("infAdic");
  w.Close("infNFe");

  std::string digest, signature, certificate_text, digest_value;
  AppendBase64(random, 27, &digest);
  AppendBase64(random, 344, &signature);
  AppendBase64(random, certificate, &certificate_text);
  w.Open("Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"");
  w.Open("SignedInfo");
  w.Raw("<CanonicalizationMethod Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>");
  w.Raw("<SignatureMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#rsa-sha1\"/>");
  w.Open("Reference URI=\"#NFe" + key + "\"");
  w.Open("Transforms");
  w.Raw("<Transform Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/>");
  w.Raw("<Transform Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>");
  w.Close("Transforms");
  w.Raw("<DigestMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/>");
  w.Leaf("DigestValue", digest + "=");
  w.Close("Reference");
  w.Close("SignedInfo");
  w.Leaf("SignatureValue", signature);
  w.Open("KeyInfo");
  w.Open("X509Data");
  w.Leaf("X509Certificate", certificate_text);
  w.Close("X509Data");
  w.Close("KeyInfo");
  w.Close("Signature");
  w.Close("NFe");
  w.Open("protNFe versao=\"4.00\"");
  w.Open("infProt");
  w.Leaf("tpAmb", "1");
  w.Leaf("verAplic", "SP_NFE_PL009_V4");
  w.Leaf("chNFe", key);
  w.Leaf("dhRecbto", "2024-03-15T10:22:35-03:00");
  std::string protocol = "135";
  AppendDigits(random, 12, &protocol);
  w.Leaf("nProt", protocol);
  AppendBase64(random, 27, &digest_value);
  w.Leaf("digVal", digest_value + "=");
  w.Leaf("cStat", "100");
  w.Leaf("xMotivo", "Autorizado o uso da NF-e");
  w.Close("infProt");
  w.Close("protNFe");
  w.Close("nfeProc");
  return shape.latin1 ? ToLatin1(doc) : doc;
}

// The faults a broken invoicing program or an interrupted copy leaves.
std::string Break(std::string doc, uint64_t which, Random& random) {
  auto replace = [&doc](std::string_view from, std::string_view to) {
    size_t at = doc.find(from);
    if (at != std::string::npos) doc.replace(at, from.size(), to);
  };
  switch (which % 7) {
    case 0:  // cut short
      doc.resize(doc.size() / 2 + random.Below(doc.size() / 3));
      break;
    case 1:  // mismatched end tag
      replace("</emit>", "</emitente>");
      break;
    case 2:  // a bare ampersand
      replace("<xBairro>CENTRO", "<xBairro>CENTRO & VILA");
      break;
    case 3:  // nothing written
      doc.clear();
      break;
    case 4:  // a byte that is not UTF-8 in a document that says it is
      replace("encoding=\"ISO-8859-1\"", "encoding=\"UTF-8\"");
      replace("<xBairro>CENTRO", "<xBairro>CENTRO \xC3(");
      break;
    case 5:  // a second root element
      doc += "<nfeProc/>";
      break;
    case 6:  // a prefix that no namespace declaration binds
      replace("<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\">", "<ds:Signature>");
      replace("</Signature>", "</ds:Signature>");
      break;
  }
  return doc;
}

Shape ShapeFor(Random& random) {
  Shape shape;
  // Sizes from 4 to 20 KB, most of them small, mean about 8 KB.
  shape.target_bytes = 2500 + static_cast<size_t>(17000.0 * std::pow(random.Unit(), 2.8));
  shape.latin1 = random.Below(5) == 0;
  uint64_t ends = random.Below(20);
  shape.line_end = ends < 5 ? "\r\n" : ends < 8 ? "\n" : "";
  return shape;
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int error = errno;
      close(fd);
      throw std::runtime_error("cannot write " + path + ": " + std::strerror(error));
    }
    done += static_cast<size_t>(n);
  }
  if (close(fd) != 0) {
    throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
  }
}

constexpr uint64_t kFilesPerBatch = 200;
constexpr uint64_t kMalformedEvery = 200;

}  // namespace

std::string WatchedFolderPath(const std::string& root, int row) {
  return root + "/" + WatchedFolders.at(static_cast<size_t>(row)).label;
}

CorpusFigures WriteCorpus(const std::string& root, uint64_t files, uint32_t seed) {
  CorpusFigures figures;
  std::string batch_dir;
  for (uint64_t i = 0; i < files; ++i) {
    Random random(static_cast<uint64_t>(seed) << 40 ^ i);
    int row = static_cast<int>(i % WatchedFolders.size());
    uint64_t batch = i / WatchedFolders.size() / kFilesPerBatch;
    char relative[64];
    std::snprintf(relative, sizeof relative, "/%04d/%02d/lote%03d",
                  static_cast<int>(2020 + batch / 36), static_cast<int>(batch / 3 % 12 + 1),
                  static_cast<int>(batch % 3 + 1));
    std::string dir = WatchedFolderPath(root, row) + relative;
    if (dir != batch_dir) {
      std::filesystem::create_directories(dir);
      batch_dir = dir;
    }
    std::string doc = Document(i, random, ShapeFor(random));
    if (i % kMalformedEvery == kMalformedEvery - 1) {
      doc = Break(std::move(doc), i / kMalformedEvery, random);
      ++figures.malformed;
    }
    char name[80];
    std::snprintf(name, sizeof name, "/NFe%012llu-procNFe.xml", static_cast<unsigned long long>(i));
    WriteWholeFile(dir + name, doc);
    ++figures.files;
    figures.bytes += doc.size();
    figures.largest = std::max<uint64_t>(figures.largest, doc.size());
  }
  return figures;
}

std::string SampleDocument(uint64_t number, size_t target_bytes) {
  Random random(number);
  return Document(number, random, {target_bytes, false, ""});
}

}  // namespace velarix::bench
