#include "query.h"

namespace vendor {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

Target SplitTarget(std::string_view target) {
  // An absolute URL: its path starts at the first "/" after the authority.
  std::size_t scheme = target.find("://");
  if (scheme != std::string_view::npos && scheme < target.find_first_of("/?")) {
    std::size_t path = target.find_first_of("/?", scheme + 3);
    target = path == std::string_view::npos ? std::string_view("/") : target.substr(path);
  }
  std::size_t mark = target.find('?');
  if (mark == std::string_view::npos) return {std::string(target), std::string()};
  return {std::string(target.substr(0, mark)), std::string(target.substr(mark + 1))};
}

std::string PercentDecode(std::string_view text, bool plus_is_space) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      int high = HexValue(text[i + 1]);
      int low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(plus_is_space && c == '+' ? ' ' : c);
  }
  return out;
}

QueryParams ParseQuery(std::string_view query) {
  QueryParams params;
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    std::string_view part = query.substr(start, end - start);
    if (!part.empty()) {
      std::size_t equals = part.find('=');
      if (equals == std::string_view::npos) {
        params.emplace_back(PercentDecode(part, true), std::string());
      } else {
        params.emplace_back(PercentDecode(part.substr(0, equals), true),
                            PercentDecode(part.substr(equals + 1), true));
      }
    }
    start = end + 1;
  }
  return params;
}

std::optional<std::string> FindParam(const QueryParams& params, std::string_view name) {
  for (const auto& [key, value] : params) {
    if (EqualsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

}  // namespace vendor
