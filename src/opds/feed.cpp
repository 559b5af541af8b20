// The reading of an Atom feed's tree: its links sorted by relation and media type,
// each entry's texts made plain and bounded.
#include "opds/feed.h"

#include <libxml/tree.h>

#include <array>
#include <string_view>

#include "opds/plain_text.h"
#include "opds/xml_document.h"

namespace opds {
namespace {

constexpr char kAtom[] = "http://www.w3.org/2005/Atom";
constexpr char kDcTerms[] = "http://purl.org/dc/terms/";
constexpr char kDcElements[] = "http://purl.org/dc/elements/1.1/";
constexpr std::string_view kAcquisition = "http://opds-spec.org/acquisition";

bool IsDc(const xmlNode* node, const char* name) {
  return xml::Is(node, kDcTerms, name) || xml::Is(node, kDcElements, name);
}

// The base URL of |node|'s content: its xml:base resolved against |parent|'s.
std::string BaseOf(const xmlNode* node, const std::string& parent) {
  xmlChar* value = xmlGetNsProp(node, reinterpret_cast<const xmlChar*>("base"), XML_XML_NAMESPACE);
  if (value == nullptr) return parent;
  std::string base = ResolveUrl(parent, reinterpret_cast<const char*>(value));
  xmlFree(value);
  return base;
}

// The media type of |type| lower-cased, without spaces; its parameters after ';'.
std::string MediaType(const std::string& type, std::string* parameters = nullptr) {
  std::string lower;
  for (char ch : type)
    if (ch != ' ' && ch != '\t')
      lower += (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch;
  const std::size_t semicolon = lower.find(';');
  if (parameters != nullptr)
    *parameters = semicolon == std::string::npos ? std::string() : lower.substr(semicolon);
  return lower.substr(0, semicolon);
}

std::int64_t ParseLength(const std::string& text) {
  if (text.empty() || text.size() > 18) return -1;
  std::int64_t value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return -1;
    value = value * 10 + (ch - '0');
  }
  return value;
}

// The link |node| with its href resolved against |base|; false when it has none that is
// http or https.
bool ReadLink(const xmlNode* node, const std::string& base, const Limits& limits, Link* link) {
  link->href = ResolveUrl(BaseOf(node, base), xml::Attribute(node, "href", limits.max_url + 1));
  if (link->href.empty() || link->href.size() > limits.max_url) return false;
  link->rel = Collapse(xml::Attribute(node, "rel", limits.max_text));
  link->type = Collapse(xml::Attribute(node, "type", limits.max_text));
  link->title = Collapse(xml::Attribute(node, "title", limits.max_text));
  link->length = ParseLength(Collapse(xml::Attribute(node, "length", 64)));
  return true;
}

// The text of an Atom text construct (text, html or xhtml, as its type says) or of an
// inline content element, plain and collapsed.
std::string ReadText(const xmlNode* node, std::size_t max_text, std::size_t bound) {
  const std::string type = MediaType(xml::Attribute(node, "type", 64));
  std::string text;
  if (type == "html" || type == "text/html")
    text = StripHtml(xml::Text(node, max_text));
  else if (type == "xhtml" || type == "application/xhtml+xml")
    text = Collapse(xml::SpacedText(node, max_text));
  else
    text = Collapse(xml::Text(node, max_text));
  xml::Truncate(&text, std::min(bound, max_text));
  return text;
}

bool IsThumbnail(const std::string& rel) {
  return rel == "http://opds-spec.org/image/thumbnail" || rel == "http://opds-spec.org/thumbnail" ||
         rel == "x-stanza-cover-image-thumbnail";
}
bool IsImage(const std::string& rel) {
  return rel == "http://opds-spec.org/image" || rel == "http://opds-spec.org/cover" ||
         rel == "x-stanza-cover-image";
}

// A link to another catalogue feed that an entry without acquisitions leads to.
bool IsNavigation(const Link& link) {
  std::string parameters;
  if (MediaType(link.type, &parameters) != "application/atom+xml" ||
      parameters.find("type=entry") != std::string::npos)
    return false;
  static constexpr std::array<std::string_view, 8> kNavigationRels = {
      "",
      "alternate",
      "subsection",
      "start",
      "collection",
      "http://opds-spec.org/featured",
      "http://opds-spec.org/recommended",
      "http://opds-spec.org/shelf"};
  for (std::string_view rel : kNavigationRels)
    if (link.rel == rel) return true;
  return link.rel.starts_with("http://opds-spec.org/sort/") ||
         (parameters.find("profile=opds-catalog") != std::string::npos && link.rel != "self" &&
          link.rel != "related" && link.rel != "up" && link.rel != "search" &&
          !link.rel.starts_with("http://opds-spec.org/facet"));
}

Entry ReadEntry(const xmlNode* node, const std::string& parent_base, const Limits& limits) {
  const std::string base = BaseOf(node, parent_base);
  Entry entry;
  std::string published, issued, summary, content, thumbnail, image;
  std::vector<std::string> creators;
  std::vector<Link> links;
  for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
    if (xml::Is(child, kAtom, "id")) {
      entry.id = Collapse(xml::Text(child, limits.max_text));
    } else if (xml::Is(child, kAtom, "title")) {
      entry.title = ReadText(child, limits.max_text, limits.max_text);
    } else if (xml::Is(child, kAtom, "updated")) {
      entry.updated = Collapse(xml::Text(child, limits.max_text));
    } else if (xml::Is(child, kAtom, "published")) {
      published = Collapse(xml::Text(child, limits.max_text));
    } else if (IsDc(child, "issued")) {
      issued = Collapse(xml::Text(child, limits.max_text));
    } else if (xml::Is(child, kAtom, "summary")) {
      summary = ReadText(child, limits.max_text, kMaxSummary);
    } else if (xml::Is(child, kAtom, "content")) {
      content = ReadText(child, limits.max_text, kMaxSummary);
    } else if (xml::Is(child, kAtom, "author")) {
      for (const xmlNode* part = child->children; part != nullptr; part = part->next)
        if (xml::Is(part, kAtom, "name")) {
          std::string name = Collapse(xml::Text(part, limits.max_text));
          if (!name.empty()) entry.authors.push_back(std::move(name));
        }
    } else if (IsDc(child, "creator")) {
      std::string name = Collapse(xml::Text(child, limits.max_text));
      if (!name.empty()) creators.push_back(std::move(name));
    } else if (xml::Is(child, kAtom, "link")) {
      Link link;
      if (ReadLink(child, base, limits, &link)) links.push_back(std::move(link));
    }
  }
  if (entry.updated.empty()) entry.updated = published.empty() ? issued : published;
  entry.summary = summary.empty() ? content : summary;
  if (entry.authors.empty()) entry.authors = std::move(creators);
  for (Link& link : links) {
    if (IsThumbnail(link.rel) && thumbnail.empty()) thumbnail = link.href;
    if (IsImage(link.rel) && image.empty()) image = link.href;
    if (std::string_view(link.rel).starts_with(kAcquisition)) entry.acquisitions.push_back(link);
  }
  entry.cover = thumbnail.empty() ? image : thumbnail;
  if (entry.acquisitions.empty())
    for (const Link& link : links)
      if (IsNavigation(link)) {
        entry.navigation = link.href;
        break;
      }
  return entry;
}

// The feed's own link |link|: its next page or its search.
void ReadFeedLink(const Link& link, const std::string& self, Feed* feed) {
  if (link.rel == "next" && feed->next.empty() && link.href != self) {
    feed->next = link.href;
  } else if (link.rel == "search" && !feed->search_is_template) {
    const std::string type = MediaType(link.type);
    if (type == "application/atom+xml" && link.href.find("{searchTerms}") != std::string::npos) {
      feed->search = link.href;
      feed->search_is_template = true;
    } else if (type == "application/opensearchdescription+xml" && feed->search.empty()) {
      feed->search = link.href;
    }
  }
}

}  // namespace

base::Status ParseFeed(std::string_view xml, const std::string& feed_url, Feed* feed,
                       const Limits& limits) {
  *feed = Feed();
  const std::string self = ResolveUrl(feed_url, "");
  if (self.empty()) return base::Status::Invalid("the feed's URL is not http or https");
  xml::Document doc;
  if (base::Status status = xml::Parse(xml, limits, &doc); !status.ok()) return status;
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  if (!xml::Is(root, kAtom, "feed")) return base::Status::Invalid("not an Atom feed");
  const std::string base = BaseOf(root, self);
  Feed read;
  for (const xmlNode* child = root->children; child != nullptr; child = child->next) {
    if (xml::Is(child, kAtom, "id")) {
      read.id = Collapse(xml::Text(child, limits.max_text));
    } else if (xml::Is(child, kAtom, "title")) {
      read.title = ReadText(child, limits.max_text, limits.max_text);
    } else if (xml::Is(child, kAtom, "link")) {
      Link link;
      if (ReadLink(child, base, limits, &link)) ReadFeedLink(link, self, &read);
    } else if (xml::Is(child, kAtom, "entry")) {
      if (read.entries.size() >= limits.max_entries)
        read.truncated = true;
      else
        read.entries.push_back(ReadEntry(child, base, limits));
    }
  }
  *feed = std::move(read);
  return base::Status::Ok();
}

const Link* BestAcquisition(const Entry& entry) {
  for (const char* wanted : {"application/epub+zip", "application/pdf"})
    for (const Link& link : entry.acquisitions)
      if (MediaType(link.type) == wanted) return &link;
  return entry.acquisitions.empty() ? nullptr : &entry.acquisitions.front();
}

}  // namespace opds
