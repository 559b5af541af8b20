// Fault switches: for requests whose target starts with a prefix, the service answers
// wrongly on purpose, so that the client's handling of bad servers can be tested.
// kNoLength, kSlow and kDrop shape what the connection writes (Connection::ShapeWith).
#ifndef LUMORA_TOOLS_VENDOR_FAULTS_H_
#define LUMORA_TOOLS_VENDOR_FAULTS_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace vendor {

enum class FaultKind {
  kStatus,    // answer with the status code |status| and a short text body
  kNoLength,  // the ordinary answer without Content-Length, ended by closing the connection
  kSlow,      // the ordinary answer, its body |bytes| bytes every |interval_ms| ms
  kDrop,      // the ordinary answer, the connection closed after |bytes| bytes of its body
  kHang,      // no answer: the connection held open until the client or the service ends
  kNoRanges,  // files served whole with 200 whatever range is asked
  kChanging,  // every answer a new version of the file: validators of its own, each body
              // byte XORed with the version's number (1, 2, ... modulo 256)
  kRedirect,  // answer "302 Found" with the Location |location|
  kResized,   // generated books at other lengths than their feeds announce
};

struct FaultRule {
  std::string prefix;  // compared with the start of the request target as sent
  FaultKind kind = FaultKind::kStatus;
  int status = 0;
  std::size_t bytes = 0;
  int interval_ms = 0;
  std::string location;
};

// Parses "PREFIX=SWITCH", SWITCH being "status:CODE" (200 to 599), "no-length",
// "slow:BYTES:MS" (BYTES from 1, MS from 0 to 60000), "drop:BYTES", "hang", "no-ranges",
// "changing", "redirect:URL" (a URL without "=") or "resized". The prefix
// is what stands before the last "=" and must start with "/". Invalid, saying why, for
// anything else; |rule| is then untouched.
[[nodiscard]] base::Status ParseFaultRule(std::string_view text, FaultRule* rule);

// The rules of the data folder's faults.txt (one "PREFIX=SWITCH" a line, "#" comments);
// bad lines are reported on standard error and left out.
std::vector<FaultRule> ReadFaultFile(const std::string& root);

// The first rule of |rules| whose prefix starts |target|.
[[nodiscard]] std::optional<FaultRule> FindFault(const std::vector<FaultRule>& rules,
                                                 std::string_view target);

}  // namespace vendor

#endif  // LUMORA_TOOLS_VENDOR_FAULTS_H_
