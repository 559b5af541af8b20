#include "opds_feeds.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <vector>

#include "query.h"

namespace vendor {
namespace {

constexpr char kNavigationType[] = "application/atom+xml;profile=opds-catalog;kind=navigation";
constexpr char kAcquisitionType[] = "application/atom+xml;profile=opds-catalog;kind=acquisition";
constexpr char kSearchType[] = "application/opensearchdescription+xml";
constexpr std::uint64_t kSmallestBook = 4096;
// Entries of the huge feed, all on one page: about 40 MiB.
constexpr std::uint64_t kHugeEntries = 60000;
// Elements nested in the deep feed.
constexpr int kDeepLevels = 100000;
// Pages of the endless loop: the last links back to the first.
constexpr std::uint64_t kLoopPages = 3;

struct Format {
  const char* extension;
  const char* type;
  std::string_view magic;  // the body's first bytes
};
constexpr Format kFormats[] = {
    {"epub", "application/epub+zip", std::string_view("PK\x03\x04", 4)},
    {"pdf", "application/pdf", "%PDF-1.4\n"},
    {"djvu", "image/vnd.djvu", "AT&TFORM"},
};

// An 8 x 8 blue PNG, the cover of every book that has one.
constexpr std::string_view kCoverPng(
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x08\x00\x00"
    "\x00\x08\x08\x02\x00\x00\x00\x4b\x6d\x29\xdc\x00\x00\x00\x11\x49\x44\x41\x54\x78\xda\x63"
    "\xb0\xca\x5b\x8a\x15\x31\x0c\x2d\x09\x00\x6c\xe8\x53\x41\x77\xb5\x31\x19\x00\x00\x00\x00"
    "\x49\x45\x4e\x44\xae\x42\x60\x82",
    74);

constexpr const char* kAdjectives[] = {"Silent", "Crimson", "Hidden", "Northern",
                                       "Last",   "Golden",  "Broken", "Distant"};
constexpr const char* kNouns[] = {"River",   "Garden", "Lantern", "Salt & Iron", "Harbour",
                                  "Orchard", "Mirror", "Archive", "Voyage"};
constexpr const char* kChineseTitles[] = {"红楼梦", "西游记",   "三国演义",
                                          "水浒传", "聊斋志异", "儒林外史"};
constexpr const char* kAuthors[] = {"Ada Lovell",  "曹雪芹", "Jonas Brink", "吴承恩",
                                    "Mira O'Hara", "罗贯中", "Tomas Vey"};

// A well mixed 64-bit function of |x| (splitmix64's finaliser).
std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::string Xml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string PercentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// A whole decimal number (no sign, no blanks).
std::optional<std::uint64_t> Number(std::string_view text) {
  std::uint64_t value = 0;
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool ContainsIgnoringCase(std::string_view text, std::string_view part) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return std::search(text.begin(), text.end(), part.begin(), part.end(),
                     [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

std::string Date(std::uint64_t hours_after_2020) {
  const std::time_t time = 1577836800 + static_cast<std::time_t>(hours_after_2020 % 500000) * 3600;
  std::tm tm{};
  gmtime_r(&time, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

std::string Title(std::uint64_t n) {
  if (n % 5 == 2) {
    return std::string(kChineseTitles[n / 5 % std::size(kChineseTitles)]) + " 第" +
           std::to_string(n) + "卷";
  }
  return std::string(kAdjectives[n / 7 % std::size(kAdjectives)]) + " " +
         kNouns[n / 3 % std::size(kNouns)] + " " + std::to_string(n);
}

// The formats book |n| comes in: most EPUB and PDF, some PDF only, some the unusual one.
std::vector<int> FormatsOf(std::uint64_t n) {
  if (n % 10 == 9) return {2};
  if (n % 10 >= 7) return {1};
  return {0, 1};
}

std::uint64_t BookSize(const OpdsOptions& options, std::uint64_t n, int format, bool resized) {
  const std::uint64_t smallest = std::min(kSmallestBook, options.book_max);
  std::uint64_t size = smallest + Mix(n * 3 + static_cast<std::uint64_t>(format)) %
                                      (options.book_max - smallest + 1);
  // A server that rewrites books on the fly: odd books grow, even ones shrink.
  if (resized) size = n % 2 == 1 ? size + 4096 : size - size / 4;
  return size;
}

OpdsReply NotFound() { return {404, "text/plain", "404 Not Found\n", std::nullopt}; }

class Catalogue {
 public:
  Catalogue(const OpdsOptions& options, std::string_view base, std::string_view origin,
            bool resized)
      : options_(options), base_(base), origin_(origin), resized_(resized) {}

  OpdsReply Answer(std::string_view rest, std::string_view query) const;

 private:
  std::string Head(std::string_view id, std::string_view title, const std::string& self,
                   std::string_view kind) const;
  std::string Entry(std::uint64_t n) const;
  std::string Acquisition(std::string_view id, std::string_view title, const std::string& self,
                          const std::vector<std::uint64_t>& books, const std::string& next) const;
  OpdsReply Root() const;
  OpdsReply SearchDescription() const;
  OpdsReply Books(std::uint64_t page) const;
  OpdsReply Search(const std::string& terms, std::uint64_t page) const;
  OpdsReply Hostile(std::string_view name, std::uint64_t page) const;
  OpdsReply File(std::string_view name) const;
  OpdsReply Cover(std::string_view name) const;

  const OpdsOptions& options_;
  std::string base_;
  std::string origin_;
  bool resized_;
};

std::string Catalogue::Head(std::string_view id, std::string_view title, const std::string& self,
                            std::string_view kind) const {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<feed xmlns=\"http://www.w3.org/2005/Atom\" "
         "xmlns:opds=\"http://opds-spec.org/2010/catalog\""
         " xmlns:opensearch=\"http://a9.com/-/spec/opensearch/1.1/\">\n"
         "<id>urn:lumora-vendor:" +
         std::string(id) + "</id>\n<title>" + Xml(title) +
         "</title>\n<updated>2024-01-01T00:00:00Z</updated>\n"
         "<author><name>lumora-vendor</name></author>\n"
         "<link rel=\"self\" href=\"" +
         Xml(self) + "\" type=\"" + std::string(kind) + "\"/>\n<link rel=\"start\" href=\"" +
         base_ + "/\" type=\"" + kNavigationType + "\"/>\n<link rel=\"search\" href=\"" + base_ +
         "/search.xml\" type=\"" + kSearchType + "\"/>\n";
}

std::string Catalogue::Entry(std::uint64_t n) const {
  const std::uint64_t h = Mix(n);
  char uuid[48];
  std::snprintf(
      uuid, sizeof uuid, "%08llx-%04llx-4%03llx-8%03llx-%012llx",
      static_cast<unsigned long long>(h >> 32), static_cast<unsigned long long>(h >> 16 & 0xFFFF),
      static_cast<unsigned long long>(h & 0xFFF), static_cast<unsigned long long>(n >> 48 & 0xFFF),
      static_cast<unsigned long long>(n & 0xFFFFFFFFFFFFull));
  const std::string number = std::to_string(n);
  std::string entry = "<entry>\n<title>" + Xml(Title(n)) + "</title>\n<id>urn:uuid:" + uuid +
                      "</id>\n<updated>" + Date(n) + "</updated>\n";
  entry += "<author><name>" + Xml(kAuthors[n % std::size(kAuthors)]) + "</name></author>\n";
  if (n % 3 == 0)
    entry +=
        "<author><name>" + Xml(kAuthors[(n / 3 + 1) % std::size(kAuthors)]) + "</name></author>\n";
  entry += "<summary>Book " + number + " of the local catalogue, made up for tests.</summary>\n";
  if (n % 4 == 0) {
    entry += "<content type=\"html\">" +
             Xml("<p>The <b>" + Title(n) + "</b>, book " + number + ".</p>") + "</content>\n";
  }
  // Some books have no cover.
  if (n % 7 != 3) {
    const std::string cover = base_ + "/covers/" + number + ".png";
    entry += "<link rel=\"http://opds-spec.org/image\" href=\"" + cover +
             "\" type=\"image/png\"/>\n<link rel=\"http://opds-spec.org/image/thumbnail\" href=\"" +
             cover + "\" type=\"image/png\"/>\n";
  }
  for (int format : FormatsOf(n)) {
    entry += "<link rel=\"http://opds-spec.org/acquisition\" href=\"" + base_ + "/files/" + number +
             "." + kFormats[format].extension + "\" type=\"" + kFormats[format].type +
             "\" length=\"" + std::to_string(BookSize(options_, n, format, false)) + "\"/>\n";
  }
  return entry + "</entry>\n";
}

std::string Catalogue::Acquisition(std::string_view id, std::string_view title,
                                   const std::string& self, const std::vector<std::uint64_t>& books,
                                   const std::string& next) const {
  std::string feed = Head(id, title, self, kAcquisitionType);
  if (!next.empty())
    feed += "<link rel=\"next\" href=\"" + Xml(next) + "\" type=\"" + kAcquisitionType + "\"/>\n";
  for (std::uint64_t n : books) feed += Entry(n);
  return feed + "</feed>\n";
}

OpdsReply Catalogue::Root() const {
  std::string feed = Head("root", "Lumora test catalogue", base_ + "/", kNavigationType);
  struct Item {
    const char* id;
    const char* title;
    std::string href;
  };
  const Item items[] = {
      {"books", "All books", base_ + "/books?page=1"},
      {"rivers", "Books about rivers", base_ + "/search?q=River"},
      {"chinese", "中文图书", base_ + "/search?q=" + PercentEncode("卷")},
  };
  for (const Item& item : items) {
    feed += "<entry>\n<title>" + Xml(item.title) +
            "</title>\n<id>urn:lumora-vendor:nav:" + item.id +
            "</id>\n<updated>2024-01-01T00:00:00Z</updated>\n<content type=\"text\">" +
            Xml(item.title) + "</content>\n<link rel=\"subsection\" href=\"" + Xml(item.href) +
            "\" type=\"" + kAcquisitionType + "\"/>\n</entry>\n";
  }
  return {200, kNavigationType, feed + "</feed>\n", std::nullopt};
}

OpdsReply Catalogue::SearchDescription() const {
  return {200, kSearchType,
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          "<OpenSearchDescription xmlns=\"http://a9.com/-/spec/opensearch/1.1/\">\n"
          "<ShortName>Lumora test catalogue</ShortName>\n"
          "<Description>Titles of the local catalogue</Description>\n"
          "<InputEncoding>UTF-8</InputEncoding>\n<OutputEncoding>UTF-8</OutputEncoding>\n"
          "<Url type=\"application/atom+xml\" template=\"" +
              Xml(origin_ + base_) + "/search?q={searchTerms}\"/>\n</OpenSearchDescription>\n",
          std::nullopt};
}

OpdsReply Catalogue::Books(std::uint64_t page) const {
  const std::uint64_t pages =
      std::max<std::uint64_t>(1, (options_.entries + options_.page_size - 1) / options_.page_size);
  if (page < 1 || page > pages) return NotFound();
  std::vector<std::uint64_t> books;
  const std::uint64_t first = (page - 1) * options_.page_size;
  for (std::uint64_t n = first; n < options_.entries && n < first + options_.page_size; ++n)
    books.push_back(n);
  const std::string link = base_ + "/books?page=";
  return {200, kAcquisitionType,
          Acquisition("books:" + std::to_string(page), "All books", link + std::to_string(page),
                      books, page < pages ? link + std::to_string(page + 1) : ""),
          std::nullopt};
}

OpdsReply Catalogue::Search(const std::string& terms, std::uint64_t page) const {
  if (page < 1) return NotFound();
  std::vector<std::uint64_t> books;
  const std::uint64_t skip = (page - 1) * options_.page_size;
  std::uint64_t matches = 0;
  for (std::uint64_t n = 0; n < options_.entries; ++n) {
    if (!ContainsIgnoringCase(Title(n), terms)) continue;
    if (matches >= skip && books.size() < options_.page_size) books.push_back(n);
    ++matches;
  }
  if (page > 1 && matches <= skip) return NotFound();
  const std::string link = base_ + "/search?q=" + PercentEncode(terms) + "&page=";
  return {200, kAcquisitionType,
          Acquisition("search", "Search: " + terms, link + std::to_string(page), books,
                      matches > skip + books.size() ? link + std::to_string(page + 1) : ""),
          std::nullopt};
}

OpdsReply Catalogue::Hostile(std::string_view name, std::uint64_t page) const {
  const std::string self = base_ + "/hostile/" + std::string(name);
  std::string feed;
  if (name == "huge") {
    std::vector<std::uint64_t> books(kHugeEntries);
    for (std::uint64_t n = 0; n < kHugeEntries; ++n) books[n] = n;
    feed = Acquisition("huge", "Huge", self, books, "");
  } else if (name == "deep") {
    feed = Head("deep", "Deep", self, kAcquisitionType);
    for (int i = 0; i < kDeepLevels; ++i) feed += "<entry>";
    for (int i = 0; i < kDeepLevels; ++i) feed += "</entry>";
    feed += "\n</feed>\n";
  } else if (name == "entities") {
    // Each entity ten of the one before: "&lol9;" is 10^9 times "lol".
    std::string doctype = "<!DOCTYPE feed [\n<!ENTITY lol0 \"lol\">\n";
    for (int i = 1; i <= 9; ++i) {
      doctype += "<!ENTITY lol" + std::to_string(i) + " \"";
      for (int j = 0; j < 10; ++j) doctype += "&lol" + std::to_string(i - 1) + ";";
      doctype += "\">\n";
    }
    feed = Head("entities", "Entities", self, kAcquisitionType);
    feed.insert(feed.find('\n') + 1, doctype + "]>\n");
    feed += "<entry><title>&lol9;</title><id>urn:lumora-vendor:lol</id></entry>\n</feed>\n";
  } else if (name == "external") {
    feed = Head("external", "External", self, kAcquisitionType);
    feed.insert(feed.find('\n') + 1,
                "<!DOCTYPE feed [\n<!ENTITY secret SYSTEM \"file:///etc/passwd\">\n]>\n");
    feed += "<entry><title>&secret;</title><id>urn:lumora-vendor:xxe</id></entry>\n</feed>\n";
  } else if (name == "bad-encoding") {
    // Declared UTF-8: a lone continuation byte, a truncated sequence, an overlong form, 0xFF.
    feed = Acquisition("bad-encoding", "Bad \x80 encoding", self, {0, 1}, "");
    feed.insert(feed.find("</title>", feed.find("<entry>")), "\xC3\x28 \xE4\xB8 \xC0\xAF \xFF");
  } else if (name == "loop" || name == "stuck") {
    // "loop": pages 1, 2, ..., kLoopPages, then 1 again; "stuck": a page that is its own next.
    const std::uint64_t next = name == "stuck" ? page : page % kLoopPages + 1;
    if (page < 1 || page > kLoopPages) return NotFound();
    feed = Acquisition(std::string(name) + ":" + std::to_string(page), "Loop",
                       self + "?page=" + std::to_string(page), {page, page + 10},
                       self + "?page=" + std::to_string(next));
  } else {
    return NotFound();
  }
  return {200, kAcquisitionType, std::move(feed), std::nullopt};
}

OpdsReply Catalogue::File(std::string_view name) const {
  const std::size_t dot = name.find('.');
  const std::optional<std::uint64_t> n = Number(name.substr(0, dot));
  if (dot == std::string_view::npos || !n || *n >= options_.entries) return NotFound();
  for (int format : FormatsOf(*n)) {
    if (name.substr(dot + 1) != kFormats[format].extension) continue;
    OpdsBook book{*n, format, BookSize(options_, *n, format, resized_), kFormats[format].type};
    return {200, book.content_type, "", book};
  }
  return NotFound();
}

OpdsReply Catalogue::Cover(std::string_view name) const {
  if (!name.ends_with(".png")) return NotFound();
  const std::optional<std::uint64_t> n = Number(name.substr(0, name.size() - 4));
  if (!n || *n >= options_.entries || *n % 7 == 3) return NotFound();
  return {200, "image/png", std::string(kCoverPng), std::nullopt};
}

OpdsReply Catalogue::Answer(std::string_view rest, std::string_view query) const {
  const QueryParams params = ParseQuery(query);
  std::uint64_t page = 1;
  if (const std::optional<std::string> text = FindParam(params, "page")) {
    const std::optional<std::uint64_t> number = Number(*text);
    // Pages past a billion are none, so that no page's first entry overflows.
    if (!number || *number > 1'000'000'000) return NotFound();
    page = *number;
  }
  if (rest.empty() || rest == "/") return Root();
  if (rest == "/search.xml") return SearchDescription();
  if (rest == "/books") return Books(page);
  if (rest == "/search") return Search(FindParam(params, "q").value_or(""), page);
  if (rest.starts_with("/hostile/")) return Hostile(rest.substr(9), page);
  if (rest.starts_with("/files/")) return File(rest.substr(7));
  if (rest.starts_with("/covers/")) return Cover(rest.substr(8));
  return NotFound();
}

}  // namespace

void OpdsBook::Read(std::uint64_t offset, char* data, std::size_t length) const {
  const std::string_view magic = kFormats[format].magic;
  const std::uint64_t seed = number * 0x100000001B3ull + static_cast<std::uint64_t>(format);
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint64_t at = offset + i;
    data[i] =
        at < magic.size()
            ? magic[at]
            : static_cast<char>(Mix(seed ^ (at >> 3) * 0x9E3779B97F4A7C15ull) >> (at & 7) * 8);
  }
}

OpdsReply OpdsAnswer(const OpdsOptions& options, std::string_view base, std::string_view rest,
                     std::string_view query, std::string_view origin, bool resized) {
  return Catalogue(options, base, origin, resized).Answer(rest, query);
}

}  // namespace vendor
