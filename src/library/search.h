// Search: the items of some catalogues whose name or date contains a keyword are
// copied into the one group "搜索结果" of the search results file, where the movie
// reads them. Keywords match as plain byte substrings, case-sensitive.
#ifndef LUMORA_LIBRARY_SEARCH_H_
#define LUMORA_LIBRARY_SEARCH_H_

#include <string>

#include "library/catalogues.h"

namespace library {

// Empties the results, then searches the catalogues named by the search tokens of
// |category_list| ("&"-separated; empty and unknown tokens are skipped) in the order
// given. An item id found twice keeps the copy found first.
void Search(const CatalogueFolders& folders, const std::string& category_list,
            const std::string& keyword);

// Adds the matches of one catalogue to the results group of |results_path|. The
// catalogue is read, never rewritten.
void SearchCatalogue(const std::string& results_path, const std::string& catalogue_path,
                     const std::string& keyword);

}  // namespace library

#endif  // LUMORA_LIBRARY_SEARCH_H_
