// A reply as it comes off the socket: the header block byte by byte up to the empty
// line, then the body converted from UTF-8 to the code page.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_files.h"
#include "net/reply_body.h"
#include "net/reply_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  net::ReplyHeader header;
  std::size_t taken = 0;
  bool complete = false;
  while (taken < reply.size() && !complete) complete = header.Add(reply[taken++]);
  if (header.text() != reply.substr(0, taken)) fuzz::Fail("the header block is not what came");
  if (complete && header.text().back() != '\n') fuzz::Fail("a block that ends in no line end");
  const std::string body = net::ReplyBodyToAnsi(reply.substr(taken));
  // The text ends at its first zero byte. A character grows at most to twice its bytes
  // (two bytes of UTF-8 may become four in the code page); a broken sequence gives one "?".
  if (body.find('\0') != std::string::npos) fuzz::Fail("a zero byte in the converted body");
  if (body.size() > 2 * (reply.size() - taken)) fuzz::Fail("the converted body more than doubled");
  return 0;
}
