// The header block of an HTTP reply, taken byte by byte as it arrives: it ends with the
// first empty line (a line end right after another; "\r" is no character of a line).
// What follows it is the body.
#ifndef LUMORA_NET_REPLY_HEADER_H_
#define LUMORA_NET_REPLY_HEADER_H_

#include <cstddef>
#include <string>

namespace net {

class ReplyHeader {
 public:
  // Appends |c| to the block; true when it was the block's last byte.
  [[nodiscard]] bool Add(char c);

  const std::string& text() const { return text_; }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
  std::size_t line_length_ = 0;  // characters of the current line so far
};

}  // namespace net

#endif  // LUMORA_NET_REPLY_HEADER_H_
