// The URL parser of the raw HTTP requests.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_files.h"
#include "net/request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string url(reinterpret_cast<const char*>(data), size);
  std::string scheme, host, path;
  int port = -1;
  net::ParseUrl(url, &scheme, &host, &path, &port);
  // The working buffers' limits hold.
  if (scheme.size() > 19 || host.size() > 255 || path.size() > 1023)
    fuzz::Fail("a part longer than its buffer");
  // Scheme and host come upper-cased.
  for (const std::string* part : {&scheme, &host})
    for (char ch : *part)
      if (ch >= 'a' && ch <= 'z') fuzz::Fail("a lower-case letter in scheme or host");
  // The host holds host characters only, and never the port's colon.
  for (char ch : host)
    if (!((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || ch == '-' || ch == '.'))
      fuzz::Fail("a character in the host that is no host character");
  if (port < 0) fuzz::Fail("a negative port");
  return 0;
}
