// The search's scan of a catalogue's text against the model: the input's first line (up
// to 16 bytes) is the keyword, the rest the catalogue. Both readers search it into a
// results file of their own; the two files must be the same byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "base/files.h"
#include "fuzz_files.h"
#include "library/search.h"

using library::CatalogueReading;

namespace {

// The results file that |reading| makes of the catalogue at |catalogue|, or "(none)".
std::string SearchedWith(CatalogueReading reading, const std::string& catalogue,
                         const std::string& keyword) {
  const std::string results = fuzz::ScratchFolder() + "/results.xml";
  std::remove(results.c_str());
  // Only a crash or a sanitizer report counts here; the scan is compared with the model elsewhere.
  (void)library::SearchCatalogue(results, catalogue, keyword, reading);
  std::string text;
  if (!base::ReadWholeFile(results, &text).ok()) return "(none)";
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t newline = input.substr(0, 17).find('\n');
  const std::string keyword(newline == std::string_view::npos ? "" : input.substr(0, newline));
  if (newline != std::string_view::npos) input.remove_prefix(newline + 1);
  const std::string catalogue = fuzz::WriteScratchFile(
      "catalogue.xml", reinterpret_cast<const std::uint8_t*>(input.data()), input.size());

  const std::string scanned = SearchedWith(CatalogueReading::kScan, catalogue, keyword);
  const std::string modelled = SearchedWith(CatalogueReading::kModel, catalogue, keyword);
  if (scanned != modelled)
    fuzz::Fail("the scan and the model found different items:\n" + scanned + "\n--- model:\n" +
               modelled);
  return 0;
}
