// OPDS 1.2 catalogues made up from integers: a navigation feed, an OpenSearch description,
// a paged acquisition feed of generated books with covers and files, search results, and
// hostile feeds (huge, deeply nested, entities, invalid bytes, endless "next" loops).
// Nothing is read from disk; the same options give the same bytes every time.
#ifndef LUMORA_TOOLS_VENDOR_OPDS_FEEDS_H_
#define LUMORA_TOOLS_VENDOR_OPDS_FEEDS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vendor {

struct OpdsOptions {
  std::uint64_t entries = 5000;        // books in the catalogue
  std::uint64_t page_size = 50;        // entries a page
  std::uint64_t book_max = 64 * 1024;  // the largest book file, in bytes
};

// A generated book file: its bytes at any offset are a function of (number, format).
struct OpdsBook {
  std::uint64_t number = 0;
  int format = 0;  // index into the formats (EPUB, PDF, the unusual one)
  std::uint64_t size = 0;
  std::string content_type;

  // Fills |data| with |size| bytes of the body from |offset|.
  void Read(std::uint64_t offset, char* data, std::size_t size) const;
};

struct OpdsReply {
  int status = 200;              // 404 for a name the catalogue does not have
  std::string content_type;      // with |body|
  std::string body;              // feeds, descriptions, covers
  std::optional<OpdsBook> book;  // instead of |body|: a book file
};

// The answer for |rest|, the path below a catalogue's base (e.g. "/books"), with the
// request's raw |query|. Links are made under |base| ("/opds"); |origin|
// ("http://host:port", or empty) makes the OpenSearch template absolute. With |resized|,
// book files are served at other lengths than their feeds announce.
OpdsReply OpdsAnswer(const OpdsOptions& options, std::string_view base, std::string_view rest,
                     std::string_view query, std::string_view origin, bool resized);

}  // namespace vendor

#endif  // LUMORA_TOOLS_VENDOR_OPDS_FEEDS_H_
