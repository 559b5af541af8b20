// The URLs of catalogue documents: references resolved against the document's own URL,
// and only http and https let through.
#ifndef LUMORA_OPDS_URL_H_
#define LUMORA_OPDS_URL_H_

#include <string>
#include <string_view>

namespace opds {

// |reference| resolved against |base| (RFC 3986: absolute, scheme-relative,
// absolute-path, relative with ".." and "."); empty when the result is not http or
// https, has no host, or either holds a control character. Spaces, backslashes, quotes,
// angle brackets and bytes beyond ASCII come out percent-encoded; the scheme lower-case.
std::string ResolveUrl(const std::string& base, const std::string& reference);

// |text| with every byte but the unreserved ones (A-Z a-z 0-9 - . _ ~) as %XX.
std::string PercentEncode(std::string_view text);

}  // namespace opds

#endif  // LUMORA_OPDS_URL_H_
