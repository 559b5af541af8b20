// The movie's shelf commands and the operations of the main window behind them:
// local files (chosen or dropped), favourites and the read list, deletion; search and
// the end of a download forwarded to their own objects.
#include <ctime>

#include "app/local_file_info.h"
#include "app/lumora_dlg.h"
#include "base/ansi.h"
#include "fields/field_list.h"
#include "library/shelf_names.h"
#include "library/shelf_operations.h"

namespace app {

using fields::ReadFieldList;

using library::AddLocalBook;
using library::CatalogueFolders;
using library::CopyItemToGroup;
using library::RemoveCatalogueItem;
namespace shelf_names = library::shelf_names;

namespace {

// The item reference of "addfav", "read" and "Del": four fields, of which the
// catalogue name, the group id and the item id are used.
struct ItemReference {
  std::string unused, catalogue, group_id, item_id;
};

bool ParseItemReference(const std::string& args, ItemReference* ref) {
  return ReadFieldList(
      args,
      {{&ref->unused, 64}, {&ref->catalogue, 256}, {&ref->group_id, 64}, {&ref->item_id, 64}});
}

}  // namespace

CatalogueFolders CLumoraDlg::catalogue_folders() const {
  return CatalogueFolders(data_folder_, program_folder_);
}

int CLumoraDlg::AddLocalFile(const std::string& path) {
  CLocalFileInfo dialog(path, platform_.dialogs());
  if (!dialog.DoModal()) return 0;
  // Locked only once the user has answered: the lock never waits for a person.
  const SharedFoldersLock locks = LockSharedFolders(kPublicFolder);
  AddLocalBook(catalogue_folders(), dialog.info(), std::time(nullptr));
  return 1;
}

bool CLumoraDlg::CheckSignedIn() {
  if (user_.signed_in()) return true;
  platform_.dialogs().Message(kSignInFirst, ApplicationTitleUtf8());
  return false;
}

void CLumoraDlg::TellCannotSave() {
  platform_.dialogs().Message(kCannotSave, ApplicationTitleUtf8());
}

void CLumoraDlg::AddToShelfGroup(const std::string& args, const std::string& group_id) {
  // The movie's "UserPass" says whether someone signed in; without one the user is told.
  if (flash_.GetVariable("UserPass") != "true") {
    platform_.dialogs().Message(kSignInFirst, ApplicationTitleUtf8());
    return;
  }
  if (!CheckSignedIn()) return;
  ItemReference ref;
  std::string source;
  if (!ParseItemReference(args, &ref) ||
      !catalogue_folders().ResolveForCopy(ref.catalogue, user_.user_shelf_path(), &source))
    return;
  bool unsaved = false;
  {
    const SharedFoldersLock locks = LockSharedFolders(kBothFolders);
    CopyItemToGroup(source, ref.group_id, ref.item_id, user_.user_shelf_path(), group_id, &unsaved);
  }
  if (unsaved) TellCannotSave();
}

bool CLumoraDlg::DeleteItem(const std::string& args) {
  ItemReference ref;
  if (!ParseItemReference(args, &ref)) return false;
  // An item of "正在下载" has its transfer cancelled and discarded first, whatever its
  // catalogue name and whether it is found: either way no transfer of it is left, no
  // target is kept for it and no partial file.
  if (ref.group_id == shelf_names::Downloading()) downloads_.DiscardShelfDownload(ref.item_id);
  std::string path;
  if (!catalogue_folders().ResolveForDelete(ref.catalogue, &path)) return false;
  bool unsaved = false;
  bool removed = false;
  {
    const SharedFoldersLock locks = LockSharedFolders(kBothFolders);
    removed = RemoveCatalogueItem(path, ref.group_id, ref.item_id, &unsaved);
  }
  if (unsaved) TellCannotSave();
  return removed;
}

bool CLumoraDlg::CompleteDownload(const std::string& item_id) {
  return downloads_.CompleteDownload(item_id);
}

void CLumoraDlg::OnFilesDropped(const std::vector<std::string>& paths) {
  for (const std::string& native : paths) {
    std::string path;
    if (FromSystemPath(native, kUnusableFile, &path)) AddLocalFile(path);
  }
  flash_.SetVariable("AddLocalFileRetValue", "true");
}

// The movie shows its drop overlay while files are dragged over the window.
void CLumoraDlg::OnDragOver(bool over) { flash_.SetVariable("DropHover", over ? "true" : "false"); }

void CLumoraDlg::OnOpenFile(const std::string&) {
  static const std::vector<platform::FileFilter> kFilters = {
      {"所有文件(*.*)", "*.*"},
      {"SLR文件(*.slr)", "*.slr"},
      {"SLA文件(*.sla)", "*.sla"},
      {"WMA文件(*.wma)", "*.wma"},
      {"WMV文件(*.wmv)", "*.wmv"},
      {"EXE文件(*.exe)", "*.exe"},
      {"Office文件(*.doc;*.ppt;*.xls)", "*.doc;*.docx;*.ppt;*.pptx;*.xls;*.xlsx;*.txt"},
      {"PDF文件(*.pdf)", "*.pdf"},
  };
  // Every chosen path is collected before the first book is added.
  std::vector<std::string> chosen;
  if (!platform_.dialogs().OpenFiles(kFilters, true, &chosen)) chosen.clear();
  OnFilesDropped(chosen);
}

void CLumoraDlg::OnAddFavourite(const std::string& args) {
  AddToShelfGroup(args, shelf_names::Favourites());
}

void CLumoraDlg::OnRead(const std::string& args) { AddToShelfGroup(args, shelf_names::ReadList()); }

void CLumoraDlg::OnDelete(const std::string& args) {
  // The movie re-reads the catalogue after "Del"; only a removal that could not be
  // saved is told.
  (void)DeleteItem(args);
}

void CLumoraDlg::OnSearch(const std::string& args) { search_.OnSearch(args); }

}  // namespace app
