#include "library/local_books.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "base/ansi.h"
#include "base/files.h"
#include "library/shelf_names.h"
#include "library/xml_file_object.h"

namespace library {

namespace {

constexpr const char* kPictureFolder = "/public/local/";
constexpr const char* kCoverPrefix = "cover-";

// The item id from the next four values of the seeded generator.
std::string NextLocalId() {
  int a = std::rand() % 100, b = std::rand() % 100, c = std::rand() % 100, d = std::rand() % 100;
  char id[64];
  std::snprintf(id, sizeof id, "local_%d%d%d%d", a, b, c, d);
  return id;
}

}  // namespace

std::string CoverFileName(const std::string& cover) {
  std::string name(ansi::AfterLastSeparator(cover));
  // The local catalogue shares the folder: a picture never takes its name.
  if (name == ansi::AfterLastSeparator(CatalogueFolders::kLocalCatalogueName))
    name.insert(0, kCoverPrefix);
  return name;
}

std::string LocalFileKey(const std::string& path) {
  // Lower-cased as a whole so that no trail byte is taken for a letter; the length
  // does not change.
  std::string lower = ansi::Lower(path);
  return lower.size() <= 4 ? lower : lower.substr(lower.size() - 4);
}

std::string DefaultCoverPicture(const std::string& path) {
  static const struct {
    const char* key;
    const char* picture;
  } kPictures[] = {
      {".slr", "LocalDefaultSlrPic.jpg"}, {".sla", "LocalDefaultSlaPic.jpg"},
      {".wma", "LocalDefaultWmaPic.jpg"}, {".wmv", "LocalDefaultWmvPic.jpg"},
      {".exe", "LocalDefaultExePic.jpg"}, {".doc", "LocalDefaultDocPic.jpg"},
      {".ppt", "LocalDefaultPptPic.jpg"}, {".xls", "LocalDefaultXlsPic.jpg"},
      {".pdf", "LocalDefaultPdfPic.jpg"}, {"epub", "LocalDefaultEpubPic.jpg"},
  };
  const std::string key = LocalFileKey(path);
  for (const auto& row : kPictures)
    if (key == row.key) return std::string(kPictureFolder) + row.picture;
  return std::string(kPictureFolder) + "LocalDefaultPic.jpg";
}

std::string LocalGroupId(const std::string& path) {
  const std::string key = LocalFileKey(path);
  return (key.empty() ? key : key.substr(1)) + shelf_names::FileSuffix();
}

LocalBookInfo InitialBookInfo(const std::string& path) {
  return LocalBookInfo{path, std::string(ansi::AfterLastSeparator(path)), "",
                       DefaultCoverPicture(path)};
}

std::string FormLocalId(const CXmlGroup* group, std::time_t seconds) {
  std::srand(static_cast<unsigned>(seconds));
  std::string id = NextLocalId();
  CXmlElement* present = nullptr;
  while (group != nullptr && group->FindItem(id.c_str(), &present)) id = NextLocalId();
  return id;
}

void AddLocalBook(const CatalogueFolders& folders, const LocalBookInfo& info, std::time_t seconds) {
  std::unique_ptr<CXmlFileObject> local;
  const std::string local_path = folders.Path(Catalogue::kLocal);
  // A missing local catalogue starts empty and is made here; an unreadable one is kept
  // as it is (its Save refuses).
  (void)CXmlFileObject::Open(&local, local_path.c_str());
  const std::string group_id = LocalGroupId(info.path);

  // The picture goes into the local folder under its own file name; the item names
  // it there whether or not the copy worked, so a default picture stays the default
  // image of that folder. A name that would leave the folder is never written.
  const std::string picture = CoverFileName(info.cover);
  if (!picture.empty() && picture != "." && picture != "..")
    // A cover that cannot be copied leaves the default picture in its place.
    (void)base::CopyFileReplacing(ansi::NativePath(info.cover),
                                  ansi::NativePath(folders.LocalFolder() + picture));

  // Ids already in a group that was there are passed over; a new group holds none.
  bool made = false;
  CXmlGroup* group = FindOrAddGroup(*local, group_id, "100", &made);
  const std::string id = FormLocalId(made ? nullptr : group, seconds);

  std::unique_ptr<CXmlElement> item;
  CXmlElement::Create(
      &item, CXmlElement::Fields{shelf_names::LocalItemElement(), id, info.title,
                                 kPictureFolder + picture, info.issue, "", "", "", info.path, ""});
  group->AddItem(std::move(item));
  // The movie re-reads the catalogue whatever happened; a book that could not be
  // written simply does not show.
  (void)CXmlFileObject::Release(std::move(local), true);
}

}  // namespace library
