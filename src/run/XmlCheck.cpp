#include "run/XmlCheck.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlreader.h>

#include <memory>
#include <mutex>

#include "platform/Error.h"
#include "run/ContentReader.h"

// How the check works. Nearly every document carries no DTD, and those are parsed by a push
// parser whose content callbacks do nothing, so no tree is built and memory stays at one input
// block whatever the file's size. A document whose DOCTYPE declares anything has to be validated
// against those declarations, which libxml2 does only over nodes; as soon as the first
// declaration shows up that parse is abandoned and the file is read again from its first byte by a
// validating text reader, which drops each node once it has been checked.
//
// What is never done: no external DTD, external entity or XInclude is fetched (the entity loader
// refuses every request, and neither XML_PARSE_DTDLOAD nor XML_PARSE_NOENT is set), nothing goes
// to the network (XML_PARSE_NONET), and libxml2's limits on entity expansion, depth and name
// length stay in force (no XML_PARSE_HUGE). A document that needs such a file to be judged (a
// DOCTYPE naming an external DTD, a reference to an external entity) fails the check: it cannot
// be loaded without reading outside itself. libxml2 prints nothing: every error goes to a handler
// that only counts it.

namespace velarix {

namespace {

constexpr size_t kBlockSize = 64 * 1024;
constexpr int kParseOptions = XML_PARSE_NONET;
constexpr int kValidatingOptions = XML_PARSE_NONET | XML_PARSE_DTDVALID;

// Requests for an external DTD or entity refused during the current check (the checks of one
// thread run one at a time).
thread_local int refused_loads = 0;

xmlParserInputPtr RefuseExternalEntity(const char*, const char*, xmlParserCtxtPtr) {
  ++refused_loads;
  return nullptr;
}

void IgnoreGenericError(void*, const char*, ...) {}

void PrepareLibxml() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    xmlSetExternalEntityLoader(RefuseExternalEntity);
  });
  // libxml2 keeps this one per thread; without it a few messages still reach stderr.
  xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);
}

bool IsError(const xmlError* error) { return error != nullptr && error->level >= XML_ERR_ERROR; }

// --- First pass: no tree --------------------------------------------------------------------

struct TreelessState {
  int errors = 0;
  bool declares_dtd = false;
};

TreelessState* StateOf(void* ctx) {
  return static_cast<TreelessState*>(static_cast<xmlParserCtxtPtr>(ctx)->_private);
}

void CountTreelessError(void* ctx, xmlErrorPtr error) {
  if (IsError(error)) ++StateOf(ctx)->errors;
}

void SwitchToValidation(void* ctx) {
  StateOf(ctx)->declares_dtd = true;
  xmlStopParser(static_cast<xmlParserCtxtPtr>(ctx));
}

void OnEntityDecl(void* ctx, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*) {
  SwitchToValidation(ctx);
}
void OnElementDecl(void* ctx, const xmlChar*, int, xmlElementContentPtr) {
  SwitchToValidation(ctx);
}
void OnAttributeDecl(void* ctx, const xmlChar*, const xmlChar*, int, int, const xmlChar*,
                     xmlEnumerationPtr values) {
  xmlFreeEnumeration(values);  // handed over to the callback
  SwitchToValidation(ctx);
}
void OnNotationDecl(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  SwitchToValidation(ctx);
}
void OnUnparsedEntityDecl(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*,
                          const xmlChar*) {
  SwitchToValidation(ctx);
}

xmlParserInputPtr NoEntity(void*, const xmlChar*, const xmlChar*) { return nullptr; }
// A DOCTYPE that names an external DTD: the document cannot be judged without that file.
void OnExternalSubset(void* ctx, const xmlChar*, const xmlChar* public_id,
                      const xmlChar* system_id) {
  if (public_id != nullptr || system_id != nullptr) ++StateOf(ctx)->errors;
}
void NoStartElement(void*, const xmlChar*, const xmlChar*, const xmlChar*, int, const xmlChar**,
                    int, int, const xmlChar**) {}
void NoEndElement(void*, const xmlChar*, const xmlChar*, const xmlChar*) {}
void NoText(void*, const xmlChar*, int) {}
void NoComment(void*, const xmlChar*) {}
void NoInstruction(void*, const xmlChar*, const xmlChar*) {}
void NoReference(void*, const xmlChar*) {}
void NoDocument(void*) {}

// libxml2's own handlers for the DOCTYPE, so that its well-formedness rules about entities and
// standalone documents apply unchanged; nothing for the document object or the content.
const xmlSAXHandler* TreelessHandlers() {
  static const xmlSAXHandler handlers = [] {
    xmlSAXHandler h;
    xmlSAXVersion(&h, 2);
    h.resolveEntity = NoEntity;
    h.externalSubset = OnExternalSubset;
    h.entityDecl = OnEntityDecl;
    h.elementDecl = OnElementDecl;
    h.attributeDecl = OnAttributeDecl;
    h.notationDecl = OnNotationDecl;
    h.unparsedEntityDecl = OnUnparsedEntityDecl;
    h.startElementNs = NoStartElement;
    h.endElementNs = NoEndElement;
    h.characters = NoText;
    h.ignorableWhitespace = NoText;
    h.cdataBlock = NoText;
    h.comment = NoComment;
    h.processingInstruction = NoInstruction;
    h.reference = NoReference;
    // No document object either: nothing of the default handlers that stay needs one.
    h.startDocument = NoDocument;
    h.endDocument = NoDocument;
    h.serror = CountTreelessError;
    return h;
  }();
  return &handlers;
}

struct ParserDeleter {
  void operator()(xmlParserCtxtPtr ctxt) const {
    if (ctxt->myDoc != nullptr) xmlFreeDoc(ctxt->myDoc);  // not the parser's to free
    xmlFreeParserCtxt(ctxt);
  }
};
using Parser = std::unique_ptr<xmlParserCtxt, ParserDeleter>;

enum class Verdict { kPasses, kFails, kNeedsValidation };

// One block per thread, kept between checks: the run examines files one after another.
char* Block() {
  thread_local std::unique_ptr<char[]> block(new char[kBlockSize]);
  return block.get();
}

// The verdict of a parser that has stopped.
Verdict VerdictOf(xmlParserCtxtPtr ctxt, const TreelessState& state) {
  if (state.declares_dtd) return Verdict::kNeedsValidation;
  if (state.errors > 0 || !ctxt->wellFormed || !ctxt->nsWellFormed) return Verdict::kFails;
  return Verdict::kPasses;
}

// A file that fits in one block, the usual case, is parsed from memory, which costs less than
// feeding a push parser.
Verdict ParseBlockWithoutTree(const char* bytes, size_t n) {
  if (n == 0) return Verdict::kFails;  // an empty file is no document
  TreelessState state;
  Parser parser(xmlCreateMemoryParserCtxt(bytes, static_cast<int>(n)));
  if (parser == nullptr) throw Error("The XML parser cannot be created");
  xmlParserCtxtPtr ctxt = parser.get();
  xmlSAXHandlerPtr own_handlers = ctxt->sax;
  ctxt->sax = const_cast<xmlSAXHandler*>(TreelessHandlers());
  ctxt->_private = &state;
  xmlCtxtUseOptions(ctxt, kParseOptions);
  xmlParseDocument(ctxt);
  ctxt->sax = own_handlers;  // ours is static: the context must not free it
  return VerdictOf(ctxt, state);
}

Verdict ParseWithoutTree(ContentReader& reader) {
  if (!reader.Open()) return Verdict::kFails;
  char* block = Block();
  size_t filled = 0;
  for (;;) {
    int64_t n = reader.Read(block + filled, kBlockSize - filled);
    if (n < 0) return Verdict::kFails;
    if (n == 0) return ParseBlockWithoutTree(block, filled);
    filled += static_cast<size_t>(n);
    if (filled == kBlockSize) break;
  }

  TreelessState state;
  Parser parser(xmlCreatePushParserCtxt(const_cast<xmlSAXHandler*>(TreelessHandlers()), nullptr,
                                        nullptr, 0, nullptr));
  if (parser == nullptr) throw Error("The XML parser cannot be created");
  xmlParserCtxtPtr ctxt = parser.get();
  ctxt->_private = &state;
  xmlCtxtUseOptions(ctxt, kParseOptions);
  for (int64_t n = static_cast<int64_t>(filled);; n = reader.Read(block, kBlockSize)) {
    if (n < 0) return Verdict::kFails;
    xmlParseChunk(ctxt, block, static_cast<int>(n), n == 0);
    Verdict verdict = VerdictOf(ctxt, state);
    if (verdict != Verdict::kPasses || n == 0) return verdict;
  }
}

// --- Second pass, for documents that declare a DTD: a validating reader ---------------------

struct ValidatingState {
  ContentReader* reader;
  int errors = 0;
};

void CountReaderError(void* arg, xmlErrorPtr error) {
  if (IsError(error)) ++static_cast<ValidatingState*>(arg)->errors;
}

int ReadForReader(void* context, char* buffer, int len) {
  auto* state = static_cast<ValidatingState*>(context);
  if (state->errors > 0) return 0;  // the verdict is in: read no further
  int64_t n = state->reader->Read(buffer, static_cast<size_t>(len < 0 ? 0 : len));
  return n < 0 ? -1 : static_cast<int>(n);
}

struct TextReaderDeleter {
  void operator()(xmlTextReaderPtr reader) const { xmlFreeTextReader(reader); }
};

bool ParseValidating(ContentReader& reader) {
  if (!reader.Open()) return false;
  ValidatingState state{&reader};
  std::unique_ptr<xmlTextReader, TextReaderDeleter> text_reader(
      xmlReaderForIO(ReadForReader, nullptr, &state, nullptr, nullptr, kValidatingOptions));
  if (text_reader == nullptr) {
    if (reader.short_read()) return false;
    throw Error("The XML parser cannot be created");
  }
  xmlTextReaderSetStructuredErrorHandler(text_reader.get(), CountReaderError, &state);
  int result;
  while ((result = xmlTextReaderRead(text_reader.get())) == 1) {
    if (state.errors > 0) return false;
  }
  return result == 0 && state.errors == 0 && refused_loads == 0 && !reader.short_read() &&
         xmlTextReaderIsValid(text_reader.get()) == 1;
}

}  // namespace

bool CheckXmlDocument(ContentReader& reader) {
  PrepareLibxml();
  refused_loads = 0;
  switch (ParseWithoutTree(reader)) {
    case Verdict::kPasses:
      return true;
    case Verdict::kFails:
      return false;
    case Verdict::kNeedsValidation:
      return ParseValidating(reader);
  }
  return false;
}

bool ValidaXML(const std::string& path) {
  ContentReader reader(path);
  return CheckXmlDocument(reader);
}

}  // namespace velarix
