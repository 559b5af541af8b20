// A web service's reply: the purchased list, and the values read out of a reply by key.
#include <cstddef>
#include <cstdint>
#include <string>

#include "account/purchased_list.h"
#include "fuzz_files.h"
#include "library/catalogues.h"
#include "net/reply_value.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  for (const account::PurchasedEntry& entry : account::ParsePurchasedList(reply)) {
    if (entry.item_id.size() > 63 || entry.category.size() > 63 || entry.class_id.size() > 63)
      fuzz::Fail("a value longer than 63 bytes");
    library::Catalogue catalogue;
    // Only a crash or a sanitizer report counts.
    (void)library::CatalogueOfPurchasedCategory(entry.category, &catalogue);
  }
  for (const char* key : {"Code", "UserID"}) {
    const std::string value = net::ReplyValue(reply, key);
    if (value.size() > net::kReplyValueBytes) fuzz::Fail("a reply value longer than its buffer");
    if (value.find('<') != std::string::npos) fuzz::Fail("a reply value holding its end");
  }
  return 0;
}
