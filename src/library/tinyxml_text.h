// Guards for text handed to TinyXML, shared by every reader of XML files that come from
// outside (catalogues, the settings file).
#ifndef LUMORA_LIBRARY_TINYXML_TEXT_H_
#define LUMORA_LIBRARY_TINYXML_TEXT_H_

#include <string>
#include <string_view>

namespace library::tinyxml_text {

// Line ends as TinyXML's own file reader leaves them: CR LF and a lone CR become LF,
// and the text ends at its first zero byte.
void NormaliseLineEnds(std::string* text);

// Whether elements in |text| may nest deeper than |limit| levels. The parser descends
// once per level, so a document nested tens of thousands of levels deep would exhaust
// the stack; it is refused before parsing. The count follows the parser's reading of
// markup and errs on the deep side: comments, CDATA sections, the declaration and other
// "<!" and "<?" markup hold no elements; a start tag ends at a '>' outside a value
// quoted right after its "="; "/>" closes at once; "</" closes one level.
bool NestingExceeds(std::string_view text, int limit);

}  // namespace library::tinyxml_text

#endif  // LUMORA_LIBRARY_TINYXML_TEXT_H_
