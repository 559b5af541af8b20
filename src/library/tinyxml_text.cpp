#include "library/tinyxml_text.h"

#include <tinyxml.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace library::tinyxml_text {
namespace {

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool StartsWithIgnoringCase(std::string_view text, std::size_t at, std::string_view word) {
  if (text.size() - at < word.size()) return false;
  for (std::size_t k = 0; k < word.size(); ++k)
    if (std::tolower(static_cast<unsigned char>(text[at + k])) != word[k]) return false;
  return true;
}

// Where the XML declaration that starts at |from| ends (the offset of its '>', or the
// text's size), read as the parser reads it: the values of "version", "encoding" and
// "standalone" may be quoted and hide a '>'; any other word ends at white space or '>'.
// Where the parser would give up, the declaration is taken to end there, which only
// makes more of the text count.
std::size_t DeclarationEnd(std::string_view text, std::size_t from) {
  const std::size_t n = text.size();
  std::size_t j = from;
  while (j < n && text[j] != '>') {
    if (IsXmlSpace(text[j])) {
      ++j;
      continue;
    }
    if (!StartsWithIgnoringCase(text, j, "version") &&
        !StartsWithIgnoringCase(text, j, "encoding") &&
        !StartsWithIgnoringCase(text, j, "standalone")) {
      while (j < n && text[j] != '>' && !IsXmlSpace(text[j])) ++j;
      continue;
    }
    while (j < n && (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '_' ||
                     text[j] == '-' || text[j] == '.' || text[j] == ':'))
      ++j;
    while (j < n && IsXmlSpace(text[j])) ++j;
    if (j >= n || text[j] != '=') return j;
    ++j;
    while (j < n && IsXmlSpace(text[j])) ++j;
    if (j < n && (text[j] == '"' || text[j] == '\'')) {
      const std::size_t close = text.find(text[j], j + 1);
      if (close == std::string_view::npos) return n;
      j = close + 1;
      continue;
    }
    while (j < n && !IsXmlSpace(text[j]) && text[j] != '/' && text[j] != '>') {
      if (text[j] == '"' || text[j] == '\'') return j;
      ++j;
    }
  }
  return j;
}

}  // namespace

void NormaliseLineEnds(std::string* text) {
  text->resize(std::strlen(text->c_str()));
  std::size_t out = 0;
  for (std::size_t in = 0; in < text->size(); ++in) {
    if ((*text)[in] == '\r') {
      (*text)[out++] = '\n';
      if (in + 1 < text->size() && (*text)[in + 1] == '\n') ++in;
    } else {
      (*text)[out++] = (*text)[in];
    }
  }
  text->resize(out);
}

bool NestingExceeds(std::string_view text, int limit) {
  int depth = 0;
  const std::size_t n = text.size();
  auto skip_past = [&](std::size_t from, std::string_view end) {
    std::size_t at = text.find(end, from);
    return at == std::string_view::npos ? n : at + end.size();
  };
  for (std::size_t i = text.find('<'); i < n; i = text.find('<', i)) {
    std::string_view rest = text.substr(i);
    if (rest.starts_with("<!--")) {
      i = skip_past(i + 4, "-->");
    } else if (rest.starts_with("<![CDATA[")) {
      i = skip_past(i + 9, "]]>");
    } else if (StartsWithIgnoringCase(text, i, "<?xml")) {
      i = std::min(DeclarationEnd(text, i + 5) + 1, n);
    } else if (rest.starts_with("<!") || rest.starts_with("<?")) {
      i = skip_past(i + 2, ">");
    } else if (rest.starts_with("</")) {
      if (depth > 0) --depth;
      i = skip_past(i + 2, ">");
    } else {
      // A start tag: find its end, stepping over quoted values.
      std::size_t j = i + 1;
      char last = '\0';  // the last character that was not white space
      while (j < n && text[j] != '>') {
        const char c = text[j];
        if ((c == '"' || c == '\'') && last == '=') {
          std::size_t close = text.find(c, j + 1);
          j = close == std::string_view::npos ? n : close + 1;
          last = c;
          continue;
        }
        if (!IsXmlSpace(c)) last = c;
        ++j;
      }
      if (j < n && last != '/' && ++depth > limit) return true;
      i = j < n ? j + 1 : n;
    }
  }
  return false;
}

void Parse(std::string* text, TiXmlDocument* document) {
  const std::size_t size = text->size();
  text->append(kParserPadding, '\0');
  document->Parse(text->c_str(), nullptr, TIXML_DEFAULT_ENCODING);
  text->resize(size);
}

}  // namespace library::tinyxml_text
