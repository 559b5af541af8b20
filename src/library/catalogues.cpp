#include "library/catalogues.h"

#include <vector>

#include "base/ansi.h"
#include "base/files.h"
#include "base/folder_lock.h"
#include "base/folders.h"
#include "library/shelf_names.h"
#include "library/xml_file_object.h"

namespace library {

namespace {

struct CatalogueInfo {
  Catalogue catalogue;
  const char* path;  // relative to the data folder
  std::string search_token;
  std::vector<std::string> purchased_keywords;
};

const std::vector<CatalogueInfo>& Catalogues() {
  static const std::vector<CatalogueInfo> catalogues = [] {
    auto gb = [](const char* utf8) { return ansi::FromUtf8Lossy(utf8); };
    return std::vector<CatalogueInfo>{
        {Catalogue::kMagazines, "public/maga/maga1.xml", gb("杂志"), {gb("杂志"), gb("设计稿件")}},
        {Catalogue::kBooks, "public/book/book1.xml", gb("图书"), {gb("图书"), gb("书刊文档")}},
        {Catalogue::kAudio, "public/audio/audio1.xml", gb("音频"), {gb("音频"), gb("有声读物")}},
        {Catalogue::kMiscellaneous,
         "public/mics/mics1.xml",
         gb("程序"),
         {gb("杂项"), gb("软件源码")}},
        {Catalogue::kVideo, "public/video/video1.xml", gb("视频"), {gb("视频"), gb("摄影图片")}},
        {Catalogue::kLocal, CatalogueFolders::kLocalCatalogueName, gb("本地文件"), {}},
    };
  }();
  return catalogues;
}

}  // namespace

std::string CatalogueFolders::Path(Catalogue catalogue) const {
  for (const CatalogueInfo& info : Catalogues())
    if (info.catalogue == catalogue) return data_folder_ + info.path;
  return {};
}

bool CatalogueFolders::ResolveForCopy(const std::string& name, const std::string& user_shelf_path,
                                      std::string* path) const {
  if (!IsSafeCatalogueName(name)) return false;
  bool in_program_folder = name == kSearchResultsName || program_folder_ + name == user_shelf_path;
  *path = (in_program_folder ? program_folder_ : data_folder_) + name;
  return true;
}

bool CatalogueFolders::ResolveForDelete(const std::string& name, std::string* path) const {
  if (!IsSafeCatalogueName(name)) return false;
  *path = (name == kLocalCatalogueName ? data_folder_ : program_folder_) + name;
  return true;
}

bool CatalogueOfSearchToken(std::string_view token, Catalogue* catalogue) {
  for (const CatalogueInfo& info : Catalogues()) {
    if (token == info.search_token) {
      *catalogue = info.catalogue;
      return true;
    }
  }
  return false;
}

bool CatalogueOfPurchasedCategory(std::string_view category, Catalogue* catalogue) {
  for (const CatalogueInfo& info : Catalogues()) {
    for (const std::string& keyword : info.purchased_keywords) {
      if (category.find(keyword) != std::string_view::npos) {
        *catalogue = info.catalogue;
        return true;
      }
    }
  }
  return false;
}

bool IsSafeCatalogueName(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.find('\0') != std::string_view::npos)
    return false;
  // Every part between separators; a separator byte is never a trail byte here, as
  // no double-byte character of the code page ends in '/'. The last part must name a
  // file: not empty (a name ending in '/'), ".", or "..", nor the lock file of a folder,
  // which is never read as a catalogue or replaced.
  std::size_t start = 0;
  for (;;) {
    std::size_t end = name.find('/', start);
    const bool last = end == std::string_view::npos;
    const std::string_view part = name.substr(start, last ? std::string_view::npos : end - start);
    if (part == ".." || (last && (part.empty() || part == "." || part == base::kFolderLockName)))
      return false;
    if (last) return true;
    start = end + 1;
  }
}

bool CreateUserShelf(const std::string& path) {
  using namespace shelf_names;
  if (base::PathExists(ansi::NativePath(path))) return false;
  std::unique_ptr<CXmlFileObject> shelf;
  CXmlFileObject::Create(&shelf, path.c_str(), ShelfRoot().c_str(), "5", "1000");
  for (const std::string* id :
       {&Favourites(), &Purchased(), &Downloaded(), &ReadList(), &Downloading()}) {
    std::unique_ptr<CXmlGroup> group;
    CXmlGroup::Create(&group, GroupElement().c_str(), id->c_str(), "1000");
    shelf->AddGroup(std::move(group));
  }
  return shelf->Save();
}

}  // namespace library
