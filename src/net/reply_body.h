// The text of a web service's reply, from UTF-8 to the code page, the way the shelf's
// services have always been read: single bytes are copied, each three-byte sequence
// is one character, and so are well-formed two- and four-byte sequences. A sequence
// that is cut off or malformed gives one "?" and reading goes on at the next byte that
// can start a character. The text ends at its first zero byte.
#ifndef LUMORA_NET_REPLY_BODY_H_
#define LUMORA_NET_REPLY_BODY_H_

#include <string>
#include <string_view>

namespace net {

[[nodiscard]] std::string ReplyBodyToAnsi(std::string_view utf8);

}  // namespace net

#endif  // LUMORA_NET_REPLY_BODY_H_
