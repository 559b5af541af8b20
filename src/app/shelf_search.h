// Search over the shelf's catalogues ("search"): the keyword and the chosen categories
// of the movie's argument, the results written to the search results file in the
// program folder, and the movie told whether they were (RetValSearch).
#ifndef LUMORA_APP_SHELF_SEARCH_H_
#define LUMORA_APP_SHELF_SEARCH_H_

#include <string>

namespace app {

class CLumoraDlg;

class CShelfSearch {
 public:
  // |window| gives the catalogue folders, their locks and the movie.
  explicit CShelfSearch(CLumoraDlg& window) : window_(window) {}
  CShelfSearch(const CShelfSearch&) = delete;
  CShelfSearch& operator=(const CShelfSearch&) = delete;

  // "search": three fields, not used (256), keyword (64), category selection (256).
  void OnSearch(const std::string& args);

 private:
  CLumoraDlg& window_;
};

}  // namespace app

#endif  // LUMORA_APP_SHELF_SEARCH_H_
