// OpenSearch 1.1 descriptions: the Url elements of the description, the one whose
// results are an Atom feed; and the parameters of its template.
#include "opds/open_search.h"

#include <libxml/tree.h>

#include <array>

#include "opds/plain_text.h"
#include "opds/url.h"
#include "opds/xml_document.h"

namespace opds {
namespace {

constexpr std::array<const char*, 2> kOpenSearch = {"http://a9.com/-/spec/opensearch/1.1/",
                                                    "http://a9.com/-/spec/opensearch/1.0/"};

bool IsOpenSearch(const xmlNode* node, const char* name) {
  for (const char* ns : kOpenSearch)
    if (xml::Is(node, ns, name)) return true;
  return false;
}

// The value a parameter of a template takes: the terms, a default, or none (nullptr).
const std::string* ParameterValue(std::string_view name, const std::string& terms) {
  static const std::string kOne = "1", kAny = "*", kUtf8 = "UTF-8";
  if (name == "searchTerms") return &terms;
  if (name == "startPage" || name == "startIndex") return &kOne;
  if (name == "language") return &kAny;
  if (name == "inputEncoding" || name == "outputEncoding") return &kUtf8;
  return nullptr;
}

}  // namespace

base::Status ParseOpenSearch(std::string_view xml, const std::string& url,
                             std::string* search_template, const Limits& limits) {
  search_template->clear();
  xml::Document doc;
  if (base::Status status = xml::Parse(xml, limits, &doc); !status.ok()) return status;
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  if (!IsOpenSearch(root, "OpenSearchDescription"))
    return base::Status::Invalid("not an OpenSearch description");
  for (const xmlNode* child = root->children; child != nullptr; child = child->next) {
    if (!IsOpenSearch(child, "Url")) continue;
    std::string type = Collapse(xml::Attribute(child, "type", limits.max_text));
    type = type.substr(0, type.find(';'));
    const std::string rel = Collapse(xml::Attribute(child, "rel", limits.max_text));
    if (type != "application/atom+xml" || (!rel.empty() && rel != "results")) continue;
    std::string resolved = ResolveUrl(url, xml::Attribute(child, "template", limits.max_text + 1));
    if (resolved.empty() || resolved.size() > limits.max_text ||
        resolved.find("{searchTerms}") == std::string::npos)
      continue;
    *search_template = std::move(resolved);
    return base::Status::Ok();
  }
  return base::Status::NotFound("the description has no Atom search template");
}

std::string FillSearchTemplate(const std::string& search_template, std::string_view terms) {
  const std::string encoded = PercentEncode(terms);
  std::string url;
  bool has_terms = false;
  std::size_t pos = 0;
  while (pos < search_template.size()) {
    const std::size_t open = search_template.find('{', pos);
    url.append(search_template, pos, open == std::string::npos ? std::string::npos : open - pos);
    if (open == std::string::npos) break;
    const std::size_t close = search_template.find('}', open);
    if (close == std::string::npos) return {};
    std::string_view name(search_template.data() + open + 1, close - open - 1);
    const bool optional = name.ends_with('?');
    if (optional) name.remove_suffix(1);
    if (name.empty() || name.find('{') != std::string_view::npos) return {};
    if (const std::string* value = ParameterValue(name, encoded)) {
      url += *value;
      has_terms = has_terms || name == "searchTerms";
    } else if (!optional) {
      return {};
    }
    pos = close + 1;
  }
  if (!has_terms || (!url.starts_with("http://") && !url.starts_with("https://"))) return {};
  return url;
}

}  // namespace opds
