// A small HTML text extractor: enough for the summaries of catalogue entries, which are
// short fragments of markup; the result is text and never markup.
#include "opds/plain_text.h"

#include <array>
#include <cstdint>

namespace opds {
namespace {

bool IsSpace(char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r'; }

char Lower(char ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch; }

void AppendUtf8(std::uint32_t code, std::string* out) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The character reference |name| (between '&' and ';') appended to |out|; false when it
// is none this reader knows or names no character a text may hold.
bool AppendReference(std::string_view name, std::string* out) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kNamed = {
      {{"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", " "}}};
  for (const auto& [named, text] : kNamed)
    if (name == named) {
      *out += text;
      return true;
    }
  if (name.size() < 2 || name[0] != '#') return false;
  const bool hex = name[1] == 'x' || name[1] == 'X';
  const std::string_view digits = name.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 7) return false;
  std::uint32_t code = 0;
  for (char ch : digits) {
    int digit = -1;
    if (ch >= '0' && ch <= '9') digit = ch - '0';
    if (hex && Lower(ch) >= 'a' && Lower(ch) <= 'f') digit = Lower(ch) - 'a' + 10;
    if (digit < 0) return false;
    code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
  }
  if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) ||
      (code < 0x20 && code != '\t' && code != '\n' && code != '\r') || code == 0x7F)
    return false;
  AppendUtf8(code, out);
  return true;
}

bool IsBlock(std::string_view tag) {
  static constexpr std::array<std::string_view, 17> kBlocks = {
      "br", "p",  "div", "li", "ul", "ol", "tr",         "td", "th",
      "h1", "h2", "h3",  "h4", "h5", "h6", "blockquote", "dd"};
  for (std::string_view block : kBlocks)
    if (tag == block) return true;
  return false;
}

}  // namespace

std::string Collapse(std::string_view text) {
  std::string out;
  bool space = false;
  for (char ch : text) {
    if (IsSpace(ch)) {
      space = !out.empty();
    } else {
      if (space) out += ' ';
      space = false;
      out += ch;
    }
  }
  return out;
}

std::string StripHtml(std::string_view html) {
  std::string text;
  std::size_t pos = 0;
  while (pos < html.size()) {
    const char ch = html[pos];
    if (ch == '<') {
      const std::size_t close = html.find('>', pos);
      if (close == std::string_view::npos) break;
      const bool closing = pos + 1 < close && html[pos + 1] == '/';
      std::string tag;
      for (std::size_t i = pos + 1; i < close; ++i) {
        const char c = Lower(html[i]);
        if (c == '/' && tag.empty()) continue;
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) break;
        tag += c;
      }
      pos = close + 1;
      if ((tag == "script" || tag == "style") && !closing && html[close - 1] != '/') {
        // Skips to the end of the element.
        std::size_t end = pos;
        for (;;) {
          end = html.find("</", end);
          if (end == std::string_view::npos) return Collapse(text);
          std::string name;
          for (std::size_t i = end + 2; i < html.size() && name.size() < tag.size(); ++i)
            name += Lower(html[i]);
          if (name == tag) break;
          end += 2;
        }
        pos = html.find('>', end);
        if (pos == std::string_view::npos) return Collapse(text);
        ++pos;
      }
      if (IsBlock(tag)) text += ' ';
    } else if (ch == '&') {
      const std::size_t semicolon = html.substr(pos, 12).find(';');
      if (semicolon != std::string_view::npos &&
          AppendReference(html.substr(pos + 1, semicolon - 1), &text)) {
        pos += semicolon + 1;
      } else {
        text += ch;
        ++pos;
      }
    } else {
      text += ch;
      ++pos;
    }
  }
  return Collapse(text);
}

}  // namespace opds
