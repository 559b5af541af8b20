#include "base/ansi.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace ansi {
namespace {

constexpr const char* kCodePage = "GB18030";

// One iconv descriptor per direction and thread: opening one costs far more than a
// short conversion.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts all of |in|; false on an invalid or incomplete sequence.
  bool Convert(const char* in, std::size_t in_len, std::string* out) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return false;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string result;
    result.resize(in_len * 2 + 8);
    char* src = const_cast<char*>(in);
    std::size_t src_left = in_len;
    std::size_t done = 0;
    for (;;) {
      char* dst = result.data() + done;
      std::size_t dst_left = result.size() - done;
      std::size_t rc = iconv(cd_, &src, &src_left, &dst, &dst_left);
      done = result.size() - dst_left;
      if (rc != static_cast<std::size_t>(-1)) break;
      if (errno != E2BIG) return false;
      result.resize(result.size() * 2);
    }
    // Flush any shift state.
    for (;;) {
      char* dst = result.data() + done;
      std::size_t dst_left = result.size() - done;
      std::size_t rc = iconv(cd_, nullptr, nullptr, &dst, &dst_left);
      done = result.size() - dst_left;
      if (rc != static_cast<std::size_t>(-1)) break;
      if (errno != E2BIG) return false;
      result.resize(result.size() * 2);
    }
    result.resize(done);
    *out = std::move(result);
    return true;
  }

 private:
  iconv_t cd_;
};

Converter& Utf8ToAnsi() {
  thread_local Converter c(kCodePage, "UTF-8");
  return c;
}
Converter& AnsiToUtf8() {
  thread_local Converter c("UTF-8", kCodePage);
  return c;
}
Converter& AnsiToUtf16() {
  thread_local Converter c("UTF-16LE", kCodePage);
  return c;
}
Converter& Utf16ToAnsi() {
  thread_local Converter c(kCodePage, "UTF-16LE");
  return c;
}

bool IsAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

// Length of the UTF-8 sequence at |pos|, or 0 when it is not a valid one.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t pos) {
  const auto b = static_cast<unsigned char>(s[pos]);
  std::size_t len = b < 0x80             ? 1
                    : (b & 0xE0) == 0xC0 ? 2
                    : (b & 0xF0) == 0xE0 ? 3
                    : (b & 0xF8) == 0xF0 ? 4
                                         : 0;
  if (len == 0 || pos + len > s.size()) return 0;
  for (std::size_t i = 1; i < len; ++i)
    if ((static_cast<unsigned char>(s[pos + i]) & 0xC0) != 0x80) return 0;
  std::string tmp;
  return Utf8ToAnsi().Convert(s.data() + pos, len, &tmp) ? len : 0;
}

}  // namespace

bool FromUtf8(std::string_view utf8, std::string* out) {
  if (IsAscii(utf8)) {
    out->assign(utf8);
    return true;
  }
  return Utf8ToAnsi().Convert(utf8.data(), utf8.size(), out);
}

bool ToUtf8(std::string_view text, std::string* out) {
  if (IsAscii(text)) {
    out->assign(text);
    return true;
  }
  return AnsiToUtf8().Convert(text.data(), text.size(), out);
}

bool ToUtf16(std::string_view text, std::u16string* out) {
  std::string bytes;
  if (!AnsiToUtf16().Convert(text.data(), text.size(), &bytes)) return false;
  out->resize(bytes.size() / 2);
  std::memcpy(out->data(), bytes.data(), out->size() * 2);
  return true;
}

bool FromUtf16(std::u16string_view utf16, std::string* out) {
  return Utf16ToAnsi().Convert(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2, out);
}

std::string ToUtf8Lossy(std::string_view text) {
  std::string out;
  if (ToUtf8(text, &out)) return out;
  out.clear();
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t len = CharLength(text, pos);
    std::string piece;
    if (AnsiToUtf8().Convert(text.data() + pos, len, &piece))
      out += piece;
    else
      out += "\xEF\xBF\xBD";
    pos += len;
  }
  return out;
}

std::string FromUtf8Lossy(std::string_view utf8) {
  std::string out;
  if (FromUtf8(utf8, &out)) return out;
  out.clear();
  for (std::size_t pos = 0; pos < utf8.size();) {
    std::size_t len = Utf8SequenceLength(utf8, pos);
    if (len == 0) {
      out += '?';
      ++pos;
      continue;
    }
    std::string piece;
    Utf8ToAnsi().Convert(utf8.data() + pos, len, &piece);
    out += piece;
    pos += len;
  }
  return out;
}

std::size_t CharLength(std::string_view text, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x81 || lead == 0xFF || pos + 1 >= text.size()) return 1;
  const auto second = static_cast<unsigned char>(text[pos + 1]);
  if (second >= 0x30 && second <= 0x39) {
    // Four-byte sequence: lead, digit, lead-range byte, digit.
    if (pos + 3 < text.size()) {
      const auto third = static_cast<unsigned char>(text[pos + 2]);
      const auto fourth = static_cast<unsigned char>(text[pos + 3]);
      if (third >= 0x81 && third <= 0xFE && fourth >= 0x30 && fourth <= 0x39) return 4;
    }
    return 1;
  }
  if (second >= 0x40 && second <= 0xFE && second != 0x7F) return 2;
  return 1;
}

std::size_t NextChar(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) return text.size();
  return pos + CharLength(text, pos);
}

std::string_view CutToBytes(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t next = NextChar(text, pos);
    if (next > max_bytes) break;
    pos = next;
  }
  return text.substr(0, pos);
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (std::size_t pos = 0; pos < out.size();) {
    std::size_t len = CharLength(out, pos);
    if (len == 1 && out[pos] >= 'A' && out[pos] <= 'Z') out[pos] = out[pos] - 'A' + 'a';
    pos += len;
  }
  return out;
}

std::size_t FindChar(std::string_view text, char c, std::size_t from) {
  for (std::size_t pos = from; pos < text.size();) {
    std::size_t len = CharLength(text, pos);
    if (len == 1 && text[pos] == c) return pos;
    pos += len;
  }
  return std::string_view::npos;
}

std::size_t FindLastSeparator(std::string_view text, char sep) {
  std::size_t found = std::string_view::npos;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t len = CharLength(text, pos);
    if (len == 1 && text[pos] == sep) found = pos;
    pos += len;
  }
  return found;
}

std::string_view AfterLastSeparator(std::string_view path) {
  std::size_t sep = FindLastSeparator(path, '/');
  return sep == std::string_view::npos ? path : path.substr(sep + 1);
}

std::string NativePath(std::string_view core_path) { return ToUtf8Lossy(core_path); }

bool CorePath(std::string_view native_path, std::string* out) { return FromUtf8(native_path, out); }

std::string CorePathLossy(std::string_view native_path) { return FromUtf8Lossy(native_path); }

}  // namespace ansi
