// The parse of a catalogue document with libxml2 under the limits, and the reading of
// its elements and texts. Used inside this module only.
#ifndef LUMORA_OPDS_XML_DOCUMENT_H_
#define LUMORA_OPDS_XML_DOCUMENT_H_

#include <libxml/tree.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "base/status.h"
#include "opds/limits.h"

namespace opds::xml {

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using Document = std::unique_ptr<xmlDoc, DocFree>;

// |bytes| parsed into |doc|: refused when larger than limits.max_bytes (before any
// parsing), deeper than limits.max_depth, not well-formed, holding bytes that are not
// text in its declared encoding, or holding a DOCTYPE (so that no entity is ever
// declared, let alone expanded, and nothing outside is loaded). Nothing is fetched from
// the network and nothing is printed.
[[nodiscard]] base::Status Parse(std::string_view bytes, const Limits& limits, Document* doc);

// True when |node| is the element |name| in the namespace |ns|.
bool Is(const xmlNode* node, const char* ns, const char* name);

// The text of |node| and the elements below it, at most |max| bytes, cut at a character
// boundary.
std::string Text(const xmlNode* node, std::size_t max);

// The same with a space after each element, so that the texts of paragraphs and other
// markup stay apart.
std::string SpacedText(const xmlNode* node, std::size_t max);

// The value of the attribute |name| (in no namespace) of |node|, at most |max| bytes.
std::string Attribute(const xmlNode* node, const char* name, std::size_t max);

// |text| cut to at most |max| bytes at a UTF-8 character boundary.
void Truncate(std::string* text, std::size_t max);

}  // namespace opds::xml

#endif  // LUMORA_OPDS_XML_DOCUMENT_H_
