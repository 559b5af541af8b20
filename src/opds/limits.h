// The bounds every catalogue document is read under: its size, the nesting of its
// elements, the entries kept and the length of each text.
#ifndef LUMORA_OPDS_LIMITS_H_
#define LUMORA_OPDS_LIMITS_H_

#include <cstddef>

namespace opds {

struct Limits {
  std::size_t max_bytes = 16u << 20;  // a larger document is refused before it is parsed
  int max_depth = 32;                 // deeper element nesting is refused
  std::size_t max_entries = 10000;    // the entries after these are dropped (Feed::truncated)
  std::size_t max_text = 64u << 10;   // each text and attribute is cut to this many bytes
  // A longer link is dropped: no command takes it back, and a short reference resolved
  // against a long xml:base would make every entry of a small feed that long.
  std::size_t max_url = 2048;
};

}  // namespace opds

#endif  // LUMORA_OPDS_LIMITS_H_
