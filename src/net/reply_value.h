// Reading a value out of a web service's reply by its key. The shelf's services answer
// with markup such as "<Code>0</Code><UserID>42</UserID>": the value of a key is the
// text after the key's first occurrence, from the next ">" to the next "<".
#ifndef LUMORA_NET_REPLY_VALUE_H_
#define LUMORA_NET_REPLY_VALUE_H_

#include <cstddef>
#include <string>

namespace net {

// A reply value's buffer held this many bytes.
inline constexpr std::size_t kReplyValueBytes = 63;

// The value of |key| in |reply| (code page), cut to kReplyValueBytes, never in the middle
// of a character. Empty when the key, the ">" or the "<" is missing.
[[nodiscard]] std::string ReplyValue(const std::string& reply, const char* key);

}  // namespace net

#endif  // LUMORA_NET_REPLY_VALUE_H_
