// The request target as the client sent it: split into path and query, and decoded
// byte by byte, with no assumption about the code page of the bytes.
#ifndef LUMORA_TOOLS_VENDOR_QUERY_H_
#define LUMORA_TOOLS_VENDOR_QUERY_H_

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vendor {

struct Target {
  std::string path;   // as sent, before "?"
  std::string query;  // as sent, after the first "?"
};

// Splits |target| at its first "?". An absolute URL ("http://host/path") keeps its path.
Target SplitTarget(std::string_view target);

// Replaces each "%XX" (two hex digits) with its byte, and "+" with a space when
// |plus_is_space|. Other bytes, high bytes included, are kept as they are.
std::string PercentDecode(std::string_view text, bool plus_is_space);

using QueryParams = std::vector<std::pair<std::string, std::string>>;

// Splits |query| at "&" and each part at its first "="; names and values decoded as form
// fields ("+" is a space).
QueryParams ParseQuery(std::string_view query);

// The first value of |name| (compared without regard to ASCII letter case).
[[nodiscard]] std::optional<std::string> FindParam(const QueryParams& params,
                                                   std::string_view name);

// Whether |a| and |b| are equal without regard to ASCII letter case.
[[nodiscard]] bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace vendor

#endif  // LUMORA_TOOLS_VENDOR_QUERY_H_
