#include "app/shelf_search.h"

#include "app/lumora_dlg.h"
#include "fields/field_list.h"
#include "library/search.h"

namespace app {

void CShelfSearch::OnSearch(const std::string& args) {
  // A malformed argument leaves the missing fields empty; the search runs anyway.
  std::string unused, keyword, category_list;
  (void)fields::ReadFieldList(args, {{&unused, 256}, {&keyword, 64}, {&category_list, 256}});
  bool written = false;
  {
    // The catalogues are only read, each in one piece; the results file is rewritten.
    const CLumoraDlg::SharedFoldersLock locks =
        window_.LockSharedFolders(CLumoraDlg::kProgramFolder);
    // False when the results could not be written: the file holds no results of this
    // search.
    written = library::Search(window_.catalogue_folders(), category_list, keyword);
  }
  window_.flash().SetVariable("RetValSearch", written ? "true" : "false");
}

}  // namespace app
