#include "net/reply_value.h"

#include <string_view>

#include "base/ansi.h"

namespace net {

std::string ReplyValue(const std::string& reply, const char* key) {
  std::size_t at = reply.find(key);
  if (at == std::string::npos) return {};
  std::size_t start = reply.find('>', at);
  if (start == std::string::npos) return {};
  std::size_t end = reply.find('<', ++start);
  if (end == std::string::npos) return {};
  return std::string(
      ansi::CutToBytes(std::string_view(reply).substr(start, end - start), kReplyValueBytes));
}

}  // namespace net
