// The page file of one fetched OPDS feed page, as the movie reads it: UTF-8 XML, an
// "opds" element with the feed's title, next page and whether it has a search, and one
// "entry" element per entry in feed order (title, authors, date, cover, summary, the
// feed it leads to, its best acquisition with its type, and the short names of all its
// formats). Every attribute escaped; characters XML cannot hold are dropped.
#ifndef LUMORA_APP_OPDS_PAGE_FILE_H_
#define LUMORA_APP_OPDS_PAGE_FILE_H_

#include <string>
#include <string_view>

#include "opds/feed.h"

namespace app {

// The short name of an acquisition type: EPUB, PDF, MOBI, CBZ, DJVU, else the subtype
// (upper case, without parameters).
std::string FormatName(std::string_view mime_type);

// The page file's text for |feed|.
std::string FormatOpdsPage(const opds::Feed& feed);

}  // namespace app

#endif  // LUMORA_APP_OPDS_PAGE_FILE_H_
