// Reference resolution after RFC 3986 section 5.2, on strings: the parts are split by
// the expression of its appendix B, the dot segments removed as its section 5.2.4 says.
#include "opds/url.h"

#include <algorithm>
#include <cstddef>

namespace opds {
namespace {

struct UrlParts {
  bool has_scheme = false, has_authority = false, has_query = false, has_fragment = false;
  std::string scheme, authority, path, query, fragment;
};

bool IsAlpha(char ch) { return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z'); }
bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

// |text| without the spaces and control characters around it, with the bytes a URL
// cannot carry as they are percent-encoded; false when a control character is left
// inside.
bool Clean(const std::string& text, std::string* out) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 0x20) --end;
  static constexpr char kHex[] = "0123456789ABCDEF";
  out->clear();
  for (std::size_t i = begin; i < end; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7f) return false;
    if (byte == ' ' || byte == '"' || byte == '<' || byte == '>' || byte == '\\' || byte == '^' ||
        byte == '`' || byte == '|' || byte >= 0x80) {
      *out += '%';
      *out += kHex[byte >> 4];
      *out += kHex[byte & 15];
    } else {
      *out += static_cast<char>(byte);
    }
  }
  return true;
}

// ^(([^:/?#]+):)?(//([^/?#]*))?([^?#]*)(\?([^#]*))?(#(.*))? with a scheme that is one.
UrlParts Split(const std::string& url) {
  UrlParts parts;
  std::size_t pos = 0;
  const std::size_t colon = url.find_first_of(":/?#");
  if (colon != std::string::npos && colon > 0 && url[colon] == ':' && IsAlpha(url[0])) {
    bool valid = true;
    for (std::size_t i = 1; i < colon; ++i)
      valid = valid && (IsAlpha(url[i]) || IsDigit(url[i]) || url[i] == '+' || url[i] == '-' ||
                        url[i] == '.');
    if (valid) {
      parts.has_scheme = true;
      parts.scheme = url.substr(0, colon);
      for (char& ch : parts.scheme)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
      pos = colon + 1;
    }
  }
  if (url.compare(pos, 2, "//") == 0) {
    const std::size_t end = std::min(url.find_first_of("/?#", pos + 2), url.size());
    parts.has_authority = true;
    parts.authority = url.substr(pos + 2, end - pos - 2);
    pos = end;
  }
  std::size_t end = std::min(url.find_first_of("?#", pos), url.size());
  parts.path = url.substr(pos, end - pos);
  pos = end;
  if (pos < url.size() && url[pos] == '?') {
    end = std::min(url.find('#', pos), url.size());
    parts.has_query = true;
    parts.query = url.substr(pos + 1, end - pos - 1);
    pos = end;
  }
  if (pos < url.size()) {
    parts.has_fragment = true;
    parts.fragment = url.substr(pos + 1);
  }
  return parts;
}

std::string RemoveDotSegments(std::string input) {
  std::string output;
  while (!input.empty()) {
    if (input.starts_with("../")) {
      input.erase(0, 3);
    } else if (input.starts_with("./")) {
      input.erase(0, 2);
    } else if (input.starts_with("/./")) {
      input.erase(0, 2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.starts_with("/../") || input == "/..") {
      input = input.size() == 3 ? "/" : input.substr(3);
      const std::size_t last = output.rfind('/');
      output.erase(last == std::string::npos ? 0 : last);
    } else if (input == "." || input == "..") {
      input.clear();
    } else {
      const std::size_t next = input.find('/', 1);
      output += input.substr(0, next);
      input.erase(0, next == std::string::npos ? input.size() : next);
    }
  }
  return output;
}

// The host of |authority| (after any user information, before any port) is a name, an
// address or a bracketed IPv6 address, and the port digits.
bool ValidAuthority(const std::string& authority) {
  const std::size_t at = authority.rfind('@');
  const std::string host_port = at == std::string::npos ? authority : authority.substr(at + 1);
  std::string host = host_port, port;
  if (host_port.starts_with('[')) {
    const std::size_t close = host_port.find(']');
    if (close == std::string::npos || close == 1) return false;
    for (std::size_t i = 1; i < close; ++i) {
      const char ch = host_port[i];
      if (!(IsDigit(ch) || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F') || ch == ':' ||
            ch == '.'))
        return false;
    }
    host = host_port.substr(0, close + 1);
    if (close + 1 < host_port.size()) {
      if (host_port[close + 1] != ':') return false;
      port = host_port.substr(close + 2);
    }
  } else {
    const std::size_t colon = host_port.rfind(':');
    if (colon != std::string::npos) {
      host = host_port.substr(0, colon);
      port = host_port.substr(colon + 1);
    }
    if (host.empty()) return false;
    for (char ch : host)
      if (!(IsAlpha(ch) || IsDigit(ch) || ch == '-' || ch == '.' || ch == '_' || ch == '~' ||
            ch == '%'))
        return false;
  }
  if (port.size() > 5) return false;
  for (char ch : port)
    if (!IsDigit(ch)) return false;
  return true;
}

}  // namespace

std::string ResolveUrl(const std::string& base, const std::string& reference) {
  std::string cleaned;
  if (!Clean(reference, &cleaned)) return {};
  const UrlParts ref = Split(cleaned);
  UrlParts target;
  if (ref.has_scheme) {
    target = ref;
    target.path = RemoveDotSegments(ref.path);
  } else {
    if (!Clean(base, &cleaned)) return {};
    const UrlParts from = Split(cleaned);
    if (!from.has_scheme) return {};
    target.has_scheme = true;
    target.scheme = from.scheme;
    if (ref.has_authority) {
      target.has_authority = true;
      target.authority = ref.authority;
      target.path = RemoveDotSegments(ref.path);
      target.has_query = ref.has_query;
      target.query = ref.query;
    } else {
      target.has_authority = from.has_authority;
      target.authority = from.authority;
      if (ref.path.empty()) {
        target.path = from.path;
        target.has_query = ref.has_query || from.has_query;
        target.query = ref.has_query ? ref.query : from.query;
      } else {
        if (ref.path.starts_with('/')) {
          target.path = RemoveDotSegments(ref.path);
        } else if (from.has_authority && from.path.empty()) {
          target.path = RemoveDotSegments("/" + ref.path);
        } else {
          const std::size_t slash = from.path.rfind('/');
          target.path = RemoveDotSegments(
              (slash == std::string::npos ? std::string() : from.path.substr(0, slash + 1)) +
              ref.path);
        }
        target.has_query = ref.has_query;
        target.query = ref.query;
      }
    }
    target.has_fragment = ref.has_fragment;
    target.fragment = ref.fragment;
  }
  if ((target.scheme != "http" && target.scheme != "https") || !target.has_authority ||
      !ValidAuthority(target.authority))
    return {};
  std::string url = target.scheme + "://" + target.authority;
  url += target.path.starts_with('/') ? target.path : "/" + target.path;
  if (target.has_query) url += "?" + target.query;
  if (target.has_fragment) url += "#" + target.fragment;
  return url;
}

std::string PercentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (IsAlpha(ch) || IsDigit(ch) || ch == '-' || ch == '.' || ch == '_' || ch == '~') {
      out += ch;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

}  // namespace opds
