// OPDS 1.2 catalogue feeds (Atom) read into plain values: a feed's entries with their
// covers, formats and navigation, its next page and its search. Pure parsing, no
// network: every URL comes back absolute and http or https, every text within the
// limits. Safe to call on many threads at once.
#ifndef LUMORA_OPDS_FEED_H_
#define LUMORA_OPDS_FEED_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "opds/limits.h"
#include "opds/open_search.h"
#include "opds/url.h"

namespace opds {

struct Link {
  std::string href;  // absolute, resolved against the feed's URL
  std::string rel, type, title;
  std::int64_t length = -1;  // the link's length attribute if any
};

struct Entry {
  std::string id, title;
  std::string updated;  // as given (else published, else dc:issued)
  std::string summary;  // plain text: summary or content, markup stripped, at most 4 KiB
  std::vector<std::string> authors;  // author/name (else dc:creator)
  // The thumbnail link (rel .../image/thumbnail or .../thumbnail), else the image link;
  // absolute; empty if none.
  std::string cover;
  // The links whose rel starts with http://opds-spec.org/acquisition, in document order.
  std::vector<Link> acquisitions;
  // The href of a subsection or other catalogue link when the entry is a navigation
  // entry (no acquisition link); empty otherwise.
  std::string navigation;
};

struct Feed {
  std::string id, title;
  std::string next;  // the rel="next" link, absolute; empty if none or the feed itself
  // The rel="search" link, absolute: an OpenSearch description (type
  // application/opensearchdescription+xml) or an Atom template holding {searchTerms}
  // (preferred when a feed has both).
  std::string search;
  bool search_is_template = false;  // true when |search| is itself a URL template
  std::vector<Entry> entries;
  bool truncated = false;  // entries beyond Limits::max_entries were dropped
};

// The summary's bound in bytes.
inline constexpr std::size_t kMaxSummary = 4096;

// Reads the Atom feed |xml| fetched from |feed_url| into |feed|. Refused (and |feed| left
// empty): a document over the limits, not well-formed, invalid in its encoding, with a
// DOCTYPE, or whose root is not an Atom feed. Entries beyond limits.max_entries are
// dropped and |feed->truncated| set. Links to anything but http or https are dropped.
[[nodiscard]] base::Status ParseFeed(std::string_view xml, const std::string& feed_url, Feed* feed,
                                     const Limits& limits = {});

// The entry's best acquisition: EPUB (application/epub+zip), then PDF
// (application/pdf), then the first; nullptr when none.
const Link* BestAcquisition(const Entry& entry);

}  // namespace opds

#endif  // LUMORA_OPDS_FEED_H_
