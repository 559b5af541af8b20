// Search: the items of some catalogues whose name or date contains a keyword are
// copied into the one group "搜索结果" of the search results file, where the movie
// reads them. Keywords match as plain byte substrings, case-sensitive.
#ifndef LUMORA_LIBRARY_SEARCH_H_
#define LUMORA_LIBRARY_SEARCH_H_

#include <string>

#include "library/catalogues.h"

namespace library {

// How a search reads the catalogues: by scanning their text (CatalogueScan), which
// hands a file it is not sure of to the model, or through the model alone. Both give
// the same results file byte for byte; the scan is several times faster.
enum class CatalogueReading { kScan, kModel };

// Empties the results, then searches the catalogues named by the search tokens of
// |category_list| ("&"-separated; empty and unknown tokens are skipped) in the order
// given. An item id found twice keeps the copy found first. The results file is read
// and written once; one that is there but damaged is replaced. False when the results
// could not be written.
[[nodiscard]] bool Search(const CatalogueFolders& folders, const std::string& category_list,
                          const std::string& keyword,
                          CatalogueReading reading = CatalogueReading::kScan);

// Adds the matches of one catalogue to the results group of |results_path|. The
// catalogue is read, never rewritten; the results file is read and written through
// the model (a damaged one is replaced). False when the results could not be written.
[[nodiscard]] bool SearchCatalogue(const std::string& results_path,
                                   const std::string& catalogue_path, const std::string& keyword,
                                   CatalogueReading reading = CatalogueReading::kScan);

}  // namespace library

#endif  // LUMORA_LIBRARY_SEARCH_H_
