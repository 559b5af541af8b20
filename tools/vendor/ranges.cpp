#include "ranges.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace vendor {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A whole decimal number (no sign, no blanks); false for anything else or an overflow.
bool ParseDecimal(std::string_view text, std::uint64_t* value) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

std::string HttpDate(std::time_t time) {
  std::tm tm{};
  gmtime_r(&time, &tm);
  char text[64];
  // Names in English whatever the locale: the format is HTTP's own.
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday % 7],
                tm.tm_mday, kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                tm.tm_sec);
  return text;
}

}  // namespace

Validators ValidatorsOf(const struct stat& st, std::uint64_t version) {
  char tag[96];
  std::snprintf(tag, sizeof tag, "%llx-%llx-%lx", static_cast<unsigned long long>(st.st_size),
                static_cast<unsigned long long>(st.st_mtim.tv_sec),
                static_cast<long>(st.st_mtim.tv_nsec));
  std::string etag = std::string("\"") + tag;
  if (version != 0) etag += "-v" + std::to_string(version);
  return {etag + "\"", HttpDate(st.st_mtim.tv_sec + static_cast<std::time_t>(version))};
}

RangePlan PlanRange(std::string_view range, std::string_view if_range, std::uint64_t size,
                    const Validators& validators) {
  RangePlan whole;
  range = Trim(range);
  if (!range.starts_with("bytes=")) return whole;
  if_range = Trim(if_range);
  if (!if_range.empty() && if_range != validators.etag && if_range != validators.last_modified)
    return whole;
  const std::string_view wanted = Trim(range.substr(6));
  const std::size_t dash = wanted.find('-');
  if (dash == std::string_view::npos || wanted.find(',') != std::string_view::npos) return whole;
  const std::string_view first_text = Trim(wanted.substr(0, dash));
  const std::string_view last_text = Trim(wanted.substr(dash + 1));
  RangePlan plan;
  plan.kind = RangePlan::kPart;
  std::uint64_t first = 0, last = 0;
  if (first_text.empty()) {
    // The last |last| bytes.
    if (!ParseDecimal(last_text, &last)) return whole;
    if (last == 0 || size == 0) return {RangePlan::kUnsatisfiable, 0, 0};
    plan.first = size - std::min(last, size);
    plan.last = size - 1;
    return plan;
  }
  if (!ParseDecimal(first_text, &first)) return whole;
  if (last_text.empty()) {
    last = UINT64_MAX;
  } else if (!ParseDecimal(last_text, &last) || last < first) {
    return whole;
  }
  if (first >= size) return {RangePlan::kUnsatisfiable, 0, 0};
  plan.first = first;
  plan.last = std::min(last, size - 1);
  return plan;
}

}  // namespace vendor
