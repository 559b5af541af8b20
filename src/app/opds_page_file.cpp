#include "app/opds_page_file.h"

#include <algorithm>

namespace app {

namespace {

// |text| as an attribute value: markup characters as references, line ends and tabs as
// character references (kept through attribute normalisation), other control
// characters dropped.
void AppendAttribute(std::string* out, const char* name, std::string_view text) {
  *out += ' ';
  *out += name;
  *out += "=\"";
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '&':
        *out += "&amp;";
        break;
      case '<':
        *out += "&lt;";
        break;
      case '>':
        *out += "&gt;";
        break;
      case '"':
        *out += "&quot;";
        break;
      case '\n':
        *out += "&#10;";
        break;
      case '\r':
        *out += "&#13;";
        break;
      case '\t':
        *out += "&#9;";
        break;
      default:
        if (c >= 0x20 && c != 0x7f) *out += ch;
    }
  }
  *out += '"';
}

std::string Upper(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
  return upper;
}

}  // namespace

std::string FormatName(std::string_view mime_type) {
  std::string_view type = mime_type.substr(0, mime_type.find(';'));
  while (!type.empty() && type.back() == ' ') type.remove_suffix(1);
  const std::string lower = [&] {
    std::string l(type);
    std::transform(l.begin(), l.end(), l.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return l;
  }();
  if (lower == "application/epub+zip") return "EPUB";
  if (lower == "application/pdf") return "PDF";
  if (lower == "application/x-mobipocket-ebook" || lower == "application/x-mobi8-ebook")
    return "MOBI";
  if (lower == "application/x-cbz" || lower == "application/vnd.comicbook+zip") return "CBZ";
  if (lower == "image/vnd.djvu" || lower == "image/x-djvu") return "DJVU";
  const std::size_t slash = lower.find('/');
  std::string_view subtype = slash == std::string::npos ? std::string_view(type)
                                                        : std::string_view(type).substr(slash + 1);
  // Only letters, digits, "+", "-" and "." make a badge; the rest is cut.
  std::string name;
  for (char c : subtype) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
        c == '-' || c == '.')
      name += c;
    if (name.size() == 32) break;
  }
  return Upper(name);
}

std::string FormatOpdsPage(const opds::Feed& feed) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opds";
  AppendAttribute(&out, "title", feed.title);
  AppendAttribute(&out, "next", feed.next);
  AppendAttribute(&out, "search", feed.search.empty() ? "0" : "1");
  out += ">\n";
  for (const opds::Entry& e : feed.entries) {
    std::string authors, formats;
    for (const std::string& a : e.authors) authors += (authors.empty() ? "" : ", ") + a;
    for (const opds::Link& l : e.acquisitions) {
      const std::string name = FormatName(l.type);
      if (name.empty() || (" " + formats + " ").find(" " + name + " ") != std::string::npos)
        continue;
      formats += (formats.empty() ? "" : " ") + name;
    }
    const opds::Link* best = opds::BestAcquisition(e);
    out += "<entry";
    AppendAttribute(&out, "id", e.id);
    AppendAttribute(&out, "title", e.title);
    AppendAttribute(&out, "authors", authors);
    AppendAttribute(&out, "updated", e.updated);
    AppendAttribute(&out, "cover", e.cover);
    AppendAttribute(&out, "summary", e.summary);
    AppendAttribute(&out, "nav", best ? std::string() : e.navigation);
    AppendAttribute(&out, "acq", best ? best->href : std::string());
    AppendAttribute(&out, "type", best ? best->type : std::string());
    AppendAttribute(&out, "formats", formats);
    out += "/>\n";
  }
  out += "</opds>\n";
  return out;
}

}  // namespace app
