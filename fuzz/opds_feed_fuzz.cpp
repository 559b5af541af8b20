// The OPDS catalogue reader: an Atom feed and an OpenSearch description from the same
// bytes, under small limits. Every URL that comes back is absolute http or https, every
// text within its bound and whole UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_files.h"
#include "opds/feed.h"

namespace {

constexpr char kUrl[] = "https://books.example/opds/feed.xml";

// An absolute http or https URL of printable ASCII, at most |max| bytes.
void CheckUrl(const std::string& url, bool may_be_empty, std::size_t max = std::string::npos) {
  if (url.empty() && may_be_empty) return;
  if (url.size() > max) fuzz::Fail("a URL over its bound");
  if (!url.starts_with("http://") && !url.starts_with("https://"))
    fuzz::Fail("a URL that is not absolute http or https: " + url);
  for (char ch : url)
    if (static_cast<unsigned char>(ch) <= 0x20 || static_cast<unsigned char>(ch) >= 0x7f)
      fuzz::Fail("a URL with a space, control character or byte beyond ASCII: " + url);
}

// Whole UTF-8 (the parser's texts are), at most |max| bytes.
void CheckText(const std::string& text, std::size_t max) {
  if (text.size() > max) fuzz::Fail("a text over its bound");
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xC2 ? 0
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                               : lead < 0xF5 ? 4
                                             : 0;
    if (length == 0 || i + length > text.size()) fuzz::Fail("a text cut inside a character");
    for (std::size_t j = 1; j < length; ++j)
      if ((static_cast<unsigned char>(text[i + j]) & 0xC0) != 0x80)
        fuzz::Fail("a text cut inside a character");
    i += length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view xml(reinterpret_cast<const char*>(data), size);
  opds::Limits limits;
  limits.max_bytes = 1 << 16;
  limits.max_depth = 12;
  limits.max_entries = 20;
  limits.max_text = 300;
  limits.max_url = 400;

  opds::Feed feed;
  if (opds::ParseFeed(xml, kUrl, &feed, limits).ok()) {
    if (feed.entries.size() > limits.max_entries) fuzz::Fail("more entries than the limit");
    CheckUrl(feed.next, true, limits.max_url);
    CheckUrl(feed.search, true, limits.max_url);
    if (feed.search_is_template && feed.search.find("{searchTerms}") == std::string::npos)
      fuzz::Fail("a search template without {searchTerms}");
    for (const std::string* text : {&feed.id, &feed.title}) CheckText(*text, limits.max_text);
    for (const opds::Entry& entry : feed.entries) {
      for (const std::string* text : {&entry.id, &entry.title, &entry.updated})
        CheckText(*text, limits.max_text);
      CheckText(entry.summary, opds::kMaxSummary);
      for (const std::string& author : entry.authors) CheckText(author, limits.max_text);
      CheckUrl(entry.cover, true, limits.max_url);
      CheckUrl(entry.navigation, true, limits.max_url);
      for (const opds::Link& link : entry.acquisitions) {
        CheckUrl(link.href, false, limits.max_url);
        for (const std::string* text : {&link.rel, &link.type, &link.title})
          CheckText(*text, limits.max_text);
        if (!link.rel.starts_with("http://opds-spec.org/acquisition"))
          fuzz::Fail("an acquisition of another relation");
      }
      const opds::Link* best = opds::BestAcquisition(entry);
      if ((best == nullptr) != entry.acquisitions.empty()) fuzz::Fail("no best of many");
    }
  } else if (!feed.entries.empty() || !feed.title.empty()) {
    fuzz::Fail("a refused feed that still holds what was read");
  }

  std::string search_template;
  if (opds::ParseOpenSearch(xml, kUrl, &search_template, limits).ok()) {
    CheckUrl(search_template, false);
    const std::string filled = opds::FillSearchTemplate(search_template, "a b\xC3\xA9&?");
    CheckUrl(filled, true);
  }
  // The resolver on its own, with the input as a reference.
  CheckUrl(opds::ResolveUrl(kUrl, std::string(xml.substr(0, 2048))), true);
  return 0;
}
