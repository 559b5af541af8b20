// Plain text out of catalogue texts: white space collapsed, HTML markup stripped.
#ifndef LUMORA_OPDS_PLAIN_TEXT_H_
#define LUMORA_OPDS_PLAIN_TEXT_H_

#include <string>
#include <string_view>

namespace opds {

// |text| with each run of white space (space, tab, line ends) as one space and none at
// either end.
std::string Collapse(std::string_view text);

// The text of the HTML |html|: tags removed (with what script and style elements hold),
// block elements and line breaks as spaces, character references decoded, white space
// collapsed.
std::string StripHtml(std::string_view html);

}  // namespace opds

#endif  // LUMORA_OPDS_PLAIN_TEXT_H_
