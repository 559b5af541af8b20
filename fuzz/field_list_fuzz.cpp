// The argument text of a movie command, read into fields of the sizes the commands use.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fields/field_list.h"
#include "fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string a, b, c, d;
  const bool whole = fields::ReadFieldList(text, {{&a, 64}, {&b, 10}, {&c, 1}, {&d, 0}});
  // A value never fills its buffer's terminating zero.
  if (a.size() > 63 || b.size() > 9 || !c.empty() || !d.empty())
    fuzz::Fail("a value longer than its buffer");
  // Every value is a piece of the text.
  if (text.find(a) == std::string_view::npos || text.find(b) == std::string_view::npos)
    fuzz::Fail("a value that is not in the text");
  std::string only;
  const bool one = fields::ReadFieldList(text, {{&only, 260}});
  if (only.size() > 259) fuzz::Fail("a value longer than its buffer");
  // Reading one field of a text that holds four succeeds too.
  if (whole && !one) fuzz::Fail("four fields read, the first alone not");
  return 0;
}
