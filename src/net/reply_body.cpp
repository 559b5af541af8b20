#include "net/reply_body.h"

#include "base/ansi.h"

namespace net {
namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Appends the code page's bytes for the code point |cp|: two for every character of
// the double-byte set, the four-byte form for the rest of Unicode, "?" for what is
// no character (a lone surrogate, zero).
void AppendCodePoint(char32_t cp, std::string* out) {
  std::u16string unit;
  if (cp >= 0x10000) {
    cp -= 0x10000;
    unit = {static_cast<char16_t>(0xD800 + (cp >> 10)),
            static_cast<char16_t>(0xDC00 + (cp & 0x3FF))};
  } else {
    unit = {static_cast<char16_t>(cp)};
  }
  std::string bytes;
  if (cp != 0 && ansi::FromUtf16(unit, &bytes))
    *out += bytes;
  else
    *out += '?';
}

}  // namespace

std::string ReplyBodyToAnsi(std::string_view utf8) {
  utf8 = utf8.substr(0, utf8.find('\0'));
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    // The length the lead byte announces, and the bits it carries.
    std::size_t length = 0;
    char32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      cp = lead & 0x07;
    }
    bool whole = length > 0 && i + length <= utf8.size();
    for (std::size_t k = 1; whole && k < length; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      whole = IsContinuation(next);
      cp = (cp << 6) | (next & 0x3F);
    }
    if (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) whole = false;
    if (!whole) {
      // One "?" for the broken sequence; reading goes on at the next byte that can
      // start a character.
      out += '?';
      ++i;
      for (int k = 0;
           k < 3 && i < utf8.size() && IsContinuation(static_cast<unsigned char>(utf8[i])); ++k)
        ++i;
      continue;
    }
    AppendCodePoint(cp, &out);
    i += length;
  }
  return out;
}

}  // namespace net
