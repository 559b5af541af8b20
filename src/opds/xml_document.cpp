// The parse: libxml2's tree builder with the callbacks of elements wrapped to count
// their depth and the one of a DOCTYPE replaced to stop the parse. Every state lives in
// the parser context of the call, so parses run on many threads at once.
#include "opds/xml_document.h"

#include <libxml/parser.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <mutex>
#include <utility>

namespace opds::xml {
namespace {

struct ParserFree {
  void operator()(xmlParserCtxt* ctxt) const { xmlFreeParserCtxt(ctxt); }
};

// What the wrapped callbacks know of the parse under way.
struct ParseState {
  startElementNsSAX2Func start = nullptr;
  endElementNsSAX2Func end = nullptr;
  int depth = 0;
  int max_depth = 0;
  bool too_deep = false;
  bool doctype = false;
};

ParseState* StateOf(void* ctx) {
  return static_cast<ParseState*>(static_cast<xmlParserCtxt*>(ctx)->_private);
}

void StartElement(void* ctx, const xmlChar* name, const xmlChar* prefix, const xmlChar* uri,
                  int namespace_count, const xmlChar** namespaces, int attribute_count,
                  int defaulted_count, const xmlChar** attributes) noexcept {
  ParseState* state = StateOf(ctx);
  if (++state->depth > state->max_depth) {
    state->too_deep = true;
    xmlStopParser(static_cast<xmlParserCtxt*>(ctx));
    return;
  }
  state->start(ctx, name, prefix, uri, namespace_count, namespaces, attribute_count,
               defaulted_count, attributes);
}

void EndElement(void* ctx, const xmlChar* name, const xmlChar* prefix,
                const xmlChar* uri) noexcept {
  ParseState* state = StateOf(ctx);
  --state->depth;
  state->end(ctx, name, prefix, uri);
}

// Called at a DOCTYPE, before any of its declarations is read: the parse stops there.
void RefuseDoctype(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) noexcept {
  StateOf(ctx)->doctype = true;
  xmlStopParser(static_cast<xmlParserCtxt*>(ctx));
}

// The parser's messages stay in the context (its last error), never on a terminal.
void Silent(void*, xmlError*) noexcept {}

// For as long as it lives, takes the messages libxml2 gives without a parser context on
// this thread (the handler is the thread's own), which are those of the conversion from
// the declared encoding: it records that one failed and prints nothing. Then puts the
// old handler back.
class ConversionErrors {
 public:
  ConversionErrors() : handler_(xmlStructuredError), context_(xmlStructuredErrorContext) {
    xmlSetStructuredErrorFunc(this, Record);
  }
  ~ConversionErrors() { xmlSetStructuredErrorFunc(context_, handler_); }
  ConversionErrors(const ConversionErrors&) = delete;
  ConversionErrors& operator=(const ConversionErrors&) = delete;

  bool failed() const { return failed_; }

 private:
  static void Record(void* self, xmlError*) noexcept {
    static_cast<ConversionErrors*>(self)->failed_ = true;
  }

  xmlStructuredErrorFunc handler_;
  void* context_;
  bool failed_ = false;
};

// True when bytes of the input were left unconverted from its encoding (a character
// cut at the end).
bool Unconverted(const xmlParserCtxt* ctxt) {
  const xmlParserInput* input = ctxt->input;
  return input != nullptr && input->buf != nullptr && input->buf->raw != nullptr &&
         xmlBufUse(input->buf->raw) > 0;
}

// The text below |node| appended to |text| until it holds |max| bytes or more (the
// recursion is bounded by the depth limit of the parse).
void AppendText(const xmlNode* node, std::size_t max, bool spaced, std::string* text) {
  for (const xmlNode* child = node->children; child != nullptr && text->size() < max;
       child = child->next) {
    if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) &&
        child->content != nullptr) {
      text->append(reinterpret_cast<const char*>(child->content));
    } else if (child->type == XML_ELEMENT_NODE) {
      AppendText(child, max, spaced, text);
      if (spaced) *text += ' ';
    }
  }
}

}  // namespace

base::Status Parse(std::string_view bytes, const Limits& limits, Document* doc) {
  doc->reset();
  if (bytes.size() > limits.max_bytes || bytes.size() > static_cast<std::size_t>(INT_MAX))
    return base::Status::TooLarge("the document is larger than " +
                                  std::to_string(limits.max_bytes) + " bytes");
  static std::once_flag init;
  std::call_once(init, [] { xmlInitParser(); });
  std::unique_ptr<xmlParserCtxt, ParserFree> ctxt(xmlNewParserCtxt());
  if (ctxt == nullptr) return base::Status::Unavailable("no memory for the XML parser");
  ParseState state;
  state.max_depth = limits.max_depth;
  state.start = ctxt->sax->startElementNs;
  state.end = ctxt->sax->endElementNs;
  ctxt->sax->startElementNs = StartElement;
  ctxt->sax->endElementNs = EndElement;
  ctxt->sax->internalSubset = RefuseDoctype;
  ctxt->sax->serror = Silent;
  ctxt->_private = &state;
  ConversionErrors conversion;
  // Never XML_PARSE_NOENT, XML_PARSE_DTDLOAD, XML_PARSE_XINCLUDE or XML_PARSE_HUGE.
  Document parsed(xmlCtxtReadMemory(ctxt.get(), bytes.data(), static_cast<int>(bytes.size()),
                                    nullptr, nullptr,
                                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                        XML_PARSE_NOBLANKS | XML_PARSE_NOCDATA));
  if (state.doctype || (parsed != nullptr && parsed->intSubset != nullptr))
    return base::Status::Invalid("a document with a DOCTYPE is refused");
  if (state.too_deep)
    return base::Status::TooLarge("elements nested deeper than " +
                                  std::to_string(limits.max_depth));
  if (conversion.failed() || Unconverted(ctxt.get()))
    return base::Status::Invalid("bytes that are not text in the declared encoding");
  if (parsed == nullptr || !ctxt->wellFormed || xmlDocGetRootElement(parsed.get()) == nullptr) {
    const xmlError& error = ctxt->lastError;
    std::string message = "not a well-formed document";
    if (error.message != nullptr) {
      message += " (line " + std::to_string(error.line) + ": " + error.message;
      for (char& ch : message)
        if (ch == '\n') ch = ' ';
      while (!message.empty() && message.back() == ' ') message.pop_back();
      message += ")";
    }
    return base::Status::Invalid(message);
  }
  *doc = std::move(parsed);
  return base::Status::Ok();
}

bool Is(const xmlNode* node, const char* ns, const char* name) {
  return node != nullptr && node->type == XML_ELEMENT_NODE && node->ns != nullptr &&
         xmlStrEqual(node->ns->href, reinterpret_cast<const xmlChar*>(ns)) &&
         xmlStrEqual(node->name, reinterpret_cast<const xmlChar*>(name));
}

void Truncate(std::string* text, std::size_t max) {
  if (text->size() <= max) return;
  std::size_t cut = max;
  while (cut > 0 && (static_cast<unsigned char>((*text)[cut]) & 0xC0) == 0x80) --cut;
  text->resize(cut);
}

std::string Text(const xmlNode* node, std::size_t max) {
  std::string text;
  AppendText(node, max, false, &text);
  Truncate(&text, max);
  return text;
}

std::string SpacedText(const xmlNode* node, std::size_t max) {
  std::string text;
  AppendText(node, max, true, &text);
  Truncate(&text, max);
  return text;
}

std::string Attribute(const xmlNode* node, const char* name, std::size_t max) {
  for (const xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
    if (attr->ns != nullptr || !xmlStrEqual(attr->name, reinterpret_cast<const xmlChar*>(name)))
      continue;
    std::string text;
    for (const xmlNode* child = attr->children; child != nullptr; child = child->next)
      if (child->type == XML_TEXT_NODE && child->content != nullptr)
        text.append(reinterpret_cast<const char*>(child->content));
    Truncate(&text, max);
    return text;
  }
  return {};
}

}  // namespace opds::xml
