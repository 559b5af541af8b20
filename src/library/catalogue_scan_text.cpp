// The bytes of a catalogue's text as TinyXML's parser reads them (see the header).
#include "library/catalogue_scan_text.h"

#include <bit>
#include <cctype>
#include <cstring>

namespace library::scan {

namespace {

// The length TinyXML gives a character by its first byte when it reads UTF-8: 0xC2 to
// 0xDF start two bytes, 0xE0 to 0xEF three, 0xF0 to 0xF4 four, any other byte stands
// alone. The bytes after the first are taken whatever they are.
int Utf8Length(unsigned char c) {
  if (c < 0xC2) return 1;
  if (c < 0xE0) return 2;
  if (c < 0xF0) return 3;
  if (c < 0xF5) return 4;
  return 1;
}

// The bytes of a declaration's value that the scan takes: plain ASCII words such as
// "1.0", "gb2312", "UTF-8" or "yes".
bool IsDeclarationValueByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_' || c == ':';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

ByteClasses::ByteClasses() {
  for (int c = 1; c < 256; ++c) {
    space[c] = std::isspace(c) != 0 || c == '\n' || c == '\r';
    name_start[c] = (c < 127 ? std::isalpha(c) != 0 : true) || c == '_';
    name_char[c] =
        (c < 127 ? std::isalnum(c) != 0 : true) || c == '_' || c == '-' || c == '.' || c == ':';
  }
}

ScanText::ScanText(const std::string& text) : text_(text), text_end_(text.data() + text.size()) {
  SetUtf8(false);
}

void ScanText::SetUtf8(bool utf8) {
  utf8_ = utf8;
  value_stop_.fill(false);
  for (char c : {'\0', '"', '\'', '&', '\r'}) value_stop_[Byte(c)] = true;
  if (utf8)
    for (int c = 0xC2; c < 0xF5; ++c) value_stop_[c] = true;
}

// TinyXML's SkipWhiteSpace: in UTF-8 the byte-order mark and the two non-characters
// EF BF BE and EF BF BF count as white space wherever it skips.
const char* ScanText::SkipSpaceFrom(const char* p) const {
  for (;;) {
    const unsigned char c = Byte(*p);
    if (classes_.space[c]) {
      ++p;
      continue;
    }
    if (utf8_ && c == 0xEF) {
      const unsigned char second = Byte(p[1]);
      if ((second == 0xBB && Byte(p[2]) == 0xBF) ||
          (second == 0xBF && (Byte(p[2]) == 0xBE || Byte(p[2]) == 0xBF))) {
        p += 3;
        continue;
      }
    }
    return p;
  }
}

// Past the comment that starts at |p|; an unterminated comment runs to the end.
const char* ScanText::PastComment(const char* p) const {
  const std::size_t from = static_cast<std::size_t>(p - text_.data()) + 4;
  const std::size_t end = std::string_view(text_).find("-->", from);
  return end == std::string_view::npos ? text_.data() + text_.size() : text_.data() + end + 3;
}

// The declaration at |*at| ("<?xml"), in the form "<?xml" (NAME="VALUE")* "?>" with
// version, encoding and standalone as names, plain words as values and only the depth
// guard's white space: that form the parser and the guard read alike.
bool ScanText::Declaration(const char** at, std::string* encoding) const {
  const char* p = *at + 5;
  for (;;) {
    while (IsGuardSpace(*p)) ++p;
    if (p[0] == '>' || (p[0] == '?' && p[1] == '>')) {
      *at = p + (p[0] == '>' ? 1 : 2);
      return true;
    }
    const char* name = p;
    while (classes_.name_char[Byte(*p)]) ++p;
    const std::string_view word(name, static_cast<std::size_t>(p - name));
    if (word != "version" && word != "encoding" && word != "standalone") return false;
    while (IsGuardSpace(*p)) ++p;
    if (*p != '=') return false;
    ++p;
    while (IsGuardSpace(*p)) ++p;
    const char quote = *p;
    if (quote != '"' && quote != '\'') return false;
    const char* value = ++p;
    while (IsDeclarationValueByte(*p)) ++p;
    if (*p != quote) return false;
    if (word == "encoding") encoding->assign(value, static_cast<std::size_t>(p - value));
    ++p;
    if (*p == '\0') return false;
  }
}

// Past the CDATA section that starts at |p| ("<![CDATA["); null when it never ends.
const char* ScanText::PastCdata(const char* p) const {
  const std::size_t end =
      std::string_view(text_).find("]]>", static_cast<std::size_t>(p - text_.data()) + 9);
  if (end == std::string_view::npos) return nullptr;
  return text_.data() + end + 3;
}

const char* ScanText::ScanValue(const char* p, char quote, bool* plain) const {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  *plain = true;
  for (;;) {
    // Eight bytes at a time while none of them is below '(' (which the zero byte, CR,
    // the quotes and '&' all are) nor, in UTF-8, a high byte.
    while (text_end_ - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, sizeof word);
      std::uint64_t candidates = (word - kOnes * '(') & ~word & kHighBits;
      if (utf8_) candidates |= word & kHighBits;
      if (candidates == 0) {
        p += 8;
        continue;
      }
      // The first candidate in text order (the lowest byte of the word read as little
      // endian; a big-endian machine just steps byte by byte from here).
      if constexpr (std::endian::native == std::endian::little)
        p += std::countr_zero(candidates) / 8;
      break;
    }
    if (!value_stop_[Byte(*p)]) {
      ++p;  // a byte that only looked like one that stops the run
      continue;
    }
    const char c = *p;
    if (c == quote) return p;
    switch (c) {
      case '\0':
        return nullptr;  // the parser fails at the end of the text
      case '\r':
        *plain = false;
        ++p;
        break;
      case '&':
        *plain = false;
        p = PastEntity(p);
        if (p == nullptr) return nullptr;
        break;
      case '"':
      case '\'':
        ++p;  // the other quote
        break;
      default: {
        // The first byte of a UTF-8 sequence: the parser takes the bytes after it
        // blindly, which may swallow a quote or an '&'. Only sequences whose further
        // bytes are all high bytes are taken here.
        const int length = Utf8Length(Byte(c));
        for (int k = 1; k < length; ++k)
          if (Byte(p[k]) < 0x80) return nullptr;
        p += length;
      }
    }
  }
}

// Past the entity at |p| ('&'), as TinyXML reads it: the five named entities; a
// character reference "&#DIGITS;" or "&#xHEX;" (only those of up to 9 decimal or 8 hex
// digits ending in ';': TinyXML looks for the ';' anywhere further in the text); any
// other '&' is dropped. Null when not sure.
const char* ScanText::PastEntity(const char* p) const {
  if (p[1] == '#' && p[2] != '\0') {
    const char* q = p + 2;
    int digits = 0;
    if (*q == 'x') {
      for (++q; HexDigit(*q) >= 0; ++q) ++digits;
      if (digits == 0 || digits > 8) return nullptr;
    } else {
      for (; *q >= '0' && *q <= '9'; ++q) ++digits;
      if (digits == 0 || digits > 9) return nullptr;
    }
    return *q == ';' ? q + 1 : nullptr;
  }
  for (const char* entity : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"}) {
    const std::size_t length = std::strlen(entity);
    if (std::strncmp(p, entity, length) == 0) return p + length;
  }
  return p + 1;
}

// Appends what the entity at |p| stands for; returns the position after it. The entity
// was checked by PastEntity.
const char* ScanText::DecodeEntity(const char* p, std::string* out) const {
  if (p[1] == '#') {
    const char* q = p + 2;
    unsigned long code = 0;
    if (*q == 'x') {
      for (++q; *q != ';'; ++q) code = code * 16 + static_cast<unsigned long>(HexDigit(*q));
    } else {
      for (; *q != ';'; ++q) code = code * 10 + static_cast<unsigned long>(*q - '0');
    }
    if (!utf8_) {
      out->push_back(static_cast<char>(code));  // the low byte, as TinyXML keeps it
    } else if (code < 0x80) {
      out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (code >> 6)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (code >> 12)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x200000) {
      out->push_back(static_cast<char>(0xF0 | (code >> 18)));
      out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }  // larger codes give nothing
    return q + 1;
  }
  static constexpr struct {
    const char* text;
    std::size_t length;
    char value;
  } kNamed[] = {{"&amp;", 5, '&'},
                {"&lt;", 4, '<'},
                {"&gt;", 4, '>'},
                {"&quot;", 6, '"'},
                {"&apos;", 6, '\''}};
  for (const auto& entity : kNamed) {
    if (std::strncmp(p, entity.text, entity.length) == 0) {
      out->push_back(entity.value);
      return p + entity.length;
    }
  }
  return p + 1;  // an '&' that starts no entity is dropped
}

void ScanText::Decode(const Attribute& attribute, std::string* out) const {
  out->clear();
  const char* p = attribute.value;
  while (p < attribute.value_end) {
    const char c = *p;
    if (c == '\r') {
      out->push_back('\n');  // CR LF and a lone CR become LF
      p += p[1] == '\n' ? 2 : 1;
    } else if (c == '&') {
      p = DecodeEntity(p, out);
    } else {
      const int length = utf8_ ? Utf8Length(Byte(c)) : 1;
      out->append(p, static_cast<std::size_t>(length));
      p += length;
    }
  }
}

}  // namespace library::scan
