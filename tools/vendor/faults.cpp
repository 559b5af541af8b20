#include "faults.h"

#include <charconv>

#include "text_file.h"

namespace vendor {

using base::Status;

namespace {

template <typename T>
bool ParseNumber(std::string_view text, T low, T high, T* value) {
  if (text.empty()) return false;
  T parsed{};
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  if (parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

}  // namespace

Status ParseFaultRule(std::string_view text, FaultRule* rule) {
  std::size_t equals = text.rfind('=');
  if (equals == std::string_view::npos)
    return Status::Invalid("fault switch '" + std::string(text) + "' is not PREFIX=SWITCH");
  FaultRule parsed;
  parsed.prefix = std::string(text.substr(0, equals));
  std::string_view kind = text.substr(equals + 1);
  if (parsed.prefix.empty() || parsed.prefix[0] != '/')
    return Status::Invalid("fault prefix '" + parsed.prefix + "' does not start with '/'");
  bool ok = true;
  if (kind.starts_with("status:")) {
    parsed.kind = FaultKind::kStatus;
    ok = ParseNumber(kind.substr(7), 200, 599, &parsed.status);
  } else if (kind == "no-length") {
    parsed.kind = FaultKind::kNoLength;
  } else if (kind.starts_with("slow:")) {
    parsed.kind = FaultKind::kSlow;
    std::string_view args = kind.substr(5);
    std::size_t colon = args.find(':');
    ok = colon != std::string_view::npos &&
         ParseNumber<std::size_t>(args.substr(0, colon), 1, 1 << 30, &parsed.bytes) &&
         ParseNumber(args.substr(colon + 1), 0, 60000, &parsed.interval_ms);
  } else if (kind.starts_with("drop:")) {
    parsed.kind = FaultKind::kDrop;
    ok = ParseNumber<std::size_t>(kind.substr(5), 0, std::size_t{1} << 40, &parsed.bytes);
  } else if (kind == "hang") {
    parsed.kind = FaultKind::kHang;
  } else if (kind == "no-ranges") {
    parsed.kind = FaultKind::kNoRanges;
  } else if (kind == "changing") {
    parsed.kind = FaultKind::kChanging;
  } else if (kind == "resized") {
    parsed.kind = FaultKind::kResized;
  } else if (kind.starts_with("redirect:")) {
    parsed.kind = FaultKind::kRedirect;
    parsed.location = std::string(kind.substr(9));
    // The Location goes into a header line as it is.
    ok = !parsed.location.empty() &&
         parsed.location.find_first_of("\r\n\0 ", 0, 4) == std::string::npos;
  } else {
    ok = false;
  }
  if (!ok)
    return Status::Invalid(
        "fault switch '" + std::string(kind) +
        "' is none of status:CODE (200-599), no-length, slow:BYTES:MS, drop:BYTES, hang, "
        "no-ranges, changing, redirect:URL, resized");
  *rule = std::move(parsed);
  return Status::Ok();
}

std::vector<FaultRule> ReadFaultFile(const std::string& root) {
  std::vector<FaultRule> rules;
  for (const TextLine& line : ReadDataFile(root, "faults.txt")) {
    std::string_view text = line.text;
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    FaultRule rule;
    if (const Status parsed = ParseFaultRule(text, &rule); !parsed.ok()) {
      LogError("faults.txt:" + std::to_string(line.number) + ": " + parsed.message() +
               "; line skipped");
      continue;
    }
    rules.push_back(std::move(rule));
  }
  return rules;
}

std::optional<FaultRule> FindFault(const std::vector<FaultRule>& rules, std::string_view target) {
  for (const FaultRule& rule : rules) {
    if (target.starts_with(rule.prefix)) return rule;
  }
  return std::nullopt;
}

}  // namespace vendor
