// Partial answers for the data folder's files: one byte range of a "Range" header, the
// validators a file is sent with (ETag and Last-Modified), and "If-Range".
#ifndef LUMORA_TOOLS_VENDOR_RANGES_H_
#define LUMORA_TOOLS_VENDOR_RANGES_H_

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vendor {

// The validators of one version of a file.
struct Validators {
  std::string etag;           // a strong entity tag, quotes included
  std::string last_modified;  // an HTTP date
};

// The validators of the file |st| describes. |version|, when not 0, names a version
// of its own: another tag and a time |version| seconds later.
Validators ValidatorsOf(const struct stat& st, std::uint64_t version);

// What a request's range asks of a file of |size| bytes.
struct RangePlan {
  enum Kind { kWhole, kPart, kUnsatisfiable } kind = kWhole;
  std::uint64_t first = 0, last = 0;  // kPart: the bytes first..last, both included
};

// |range| and |if_range| are the request's header values (empty when absent). The whole
// file for no range, one not in the form "bytes=FIRST-[LAST]" or "bytes=-SUFFIX" (more
// than one range included), and an "If-Range" that is not the file's entity tag (strong
// comparison) or its date exactly. Unsatisfiable for a first byte at or past the end,
// or a suffix of 0 bytes; a last byte past the end stands for the end.
RangePlan PlanRange(std::string_view range, std::string_view if_range, std::uint64_t size,
                    const Validators& validators);

}  // namespace vendor

#endif  // LUMORA_TOOLS_VENDOR_RANGES_H_
