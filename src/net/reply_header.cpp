#include "net/reply_header.h"

namespace net {

bool ReplyHeader::Add(char c) {
  text_ += c;
  if (c == '\n') {
    if (line_length_ == 0) return true;
    line_length_ = 0;
  } else if (c != '\r') {
    ++line_length_;
  }
  return false;
}

}  // namespace net
