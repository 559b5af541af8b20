// OpenSearch description documents and the filling of their URL templates.
#ifndef LUMORA_OPDS_OPEN_SEARCH_H_
#define LUMORA_OPDS_OPEN_SEARCH_H_

#include <string>
#include <string_view>

#include "base/status.h"
#include "opds/limits.h"

namespace opds {

// The Atom search template (a Url element of type application/atom+xml holding
// {searchTerms}) of the OpenSearch description |xml| fetched from |url|, absolute.
// NotFound when it has none; refused as ParseFeed refuses a document.
[[nodiscard]] base::Status ParseOpenSearch(std::string_view xml, const std::string& url,
                                           std::string* search_template, const Limits& limits = {});

// {searchTerms} replaced by |terms| percent-encoded (UTF-8); {startPage}, {startIndex},
// {language}, {inputEncoding} and {outputEncoding} by their defaults; other optional
// {x?} parameters removed. Empty when a required parameter is unknown, a brace is not
// closed, there is no {searchTerms} or the template is not an http or https URL.
std::string FillSearchTemplate(const std::string& search_template, std::string_view terms);

}  // namespace opds

#endif  // LUMORA_OPDS_OPEN_SEARCH_H_
