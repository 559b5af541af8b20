// The shelf's catalogue files: which exist, where they lie, the user shelf file, and
// how catalogue names sent by the movie become paths.
//
// Two folders hold them (code page, '/' separators, each ending in '/'): the data
// folder (the category catalogues and the local catalogue, under "public/") and the
// program folder (the search results file, the user shelf files).
#ifndef LUMORA_LIBRARY_CATALOGUES_H_
#define LUMORA_LIBRARY_CATALOGUES_H_

#include <string>
#include <string_view>

namespace library {

// The catalogues of the data folder, in the order in which purchased items are
// matched against them.
class CXmlFileObject;
class CXmlGroup;

enum class Catalogue { kMagazines, kBooks, kAudio, kMiscellaneous, kVideo, kLocal };

class CatalogueFolders {
 public:
  static constexpr const char* kSearchResultsName = "search.xml";
  static constexpr const char* kLocalCatalogueName = "public/local/local1.xml";

  CatalogueFolders(std::string data_folder, std::string program_folder)
      : data_folder_(std::move(data_folder)), program_folder_(std::move(program_folder)) {}

  const std::string& data_folder() const { return data_folder_; }
  const std::string& program_folder() const { return program_folder_; }

  std::string Path(Catalogue catalogue) const;
  std::string SearchResultsPath() const { return program_folder_ + kSearchResultsName; }
  // The folder of the local catalogue and of its cover pictures, with a trailing '/'.
  std::string LocalFolder() const { return data_folder_ + "public/local/"; }

  // A catalogue name of a copy into the shelf: "search.xml", and a name that is the
  // user shelf file's own, lie in the program folder; every other in the data folder.
  // False, with nothing resolved, when the name would leave its folder.
  bool ResolveForCopy(const std::string& name, const std::string& user_shelf_path,
                      std::string* path) const;
  // A catalogue name of a deletion: the local catalogue lies in the data folder,
  // every other name in the program folder. False as for copying.
  bool ResolveForDelete(const std::string& name, std::string* path) const;

 private:
  std::string data_folder_;
  std::string program_folder_;
};

// The catalogue a search token names ("杂志", "图书", "音频", "程序", "视频",
// "本地文件", in the code page); false for any other text.
[[nodiscard]] bool CatalogueOfSearchToken(std::string_view token, Catalogue* catalogue);

// The category catalogue for the category text of a purchased item: the first of
// magazines, books, audio, miscellaneous and video with a keyword that occurs in the
// text. False when none does.
[[nodiscard]] bool CatalogueOfPurchasedCategory(std::string_view category, Catalogue* catalogue);

// True when a relative name names a file inside its folder: not empty, not absolute,
// without a ".." part, not "." and not ending in "/." or a separator (those name a
// folder), without a zero byte, and not a folder's lock file (platform/folder_lock.h).
bool IsSafeCatalogueName(std::string_view name);

// Writes a new user shelf file at |path|: the root "书架" with category "5" and
// maximum "1000", and the five shelf groups with maximum "1000". An existing file is
// never re-created: false then, and false when the file cannot be written.
[[nodiscard]] bool CreateUserShelf(const std::string& path);

}  // namespace library

#endif  // LUMORA_LIBRARY_CATALOGUES_H_
