// Local books: the user's own files on the shelf. Each file becomes an item "信息" of
// the local catalogue, in a group per file type; its cover picture is copied into the
// local folder. The book file itself stays where it is.
#ifndef LUMORA_LIBRARY_LOCAL_BOOKS_H_
#define LUMORA_LIBRARY_LOCAL_BOOKS_H_

#include <ctime>
#include <string>

#include "library/catalogues.h"

namespace library {

class CXmlGroup;

// What the book information dialog holds (code page).
struct LocalBookInfo {
  std::string path;   // the book file's full path
  std::string title;  // the file name, unless the user changed it
  std::string issue;  // the issue number
  std::string cover;  // the cover picture: a file to copy, or a default picture
};

// The file-type key: the last four bytes of the path, lower-cased (the whole path
// when it is shorter).
std::string LocalFileKey(const std::string& path);
// The default cover picture for a path, relative to the data folder, such as
// "/public/local/LocalDefaultPdfPic.jpg".
std::string DefaultCoverPicture(const std::string& path);
// The group of the local catalogue for a path: the key without its first byte,
// followed by "文件" (".pdf" gives "pdf文件").
std::string LocalGroupId(const std::string& path);
// The information the dialog starts with: the path, the file name as title, no issue
// number, the default cover picture.
LocalBookInfo InitialBookInfo(const std::string& path);

// The name a cover picture gets in the local folder: its own file name, except that it
// never takes the local catalogue's name ("local1.xml" becomes "cover-local1.xml").
std::string CoverFileName(const std::string& cover);

// A new item id "local_" followed by four numbers below 100, from the pseudo-random
// generator seeded with |seconds|. When |group| is given, ids it already holds are
// passed over.
std::string FormLocalId(const CXmlGroup* group, std::time_t seconds);

// Adds the book to the local catalogue and copies its cover picture (a failed copy
// is ignored; only a regular file is copied, streamed, so a device never fills memory). The item's
// id is formed with the time |seconds|.
void AddLocalBook(const CatalogueFolders& folders, const LocalBookInfo& info, std::time_t seconds);

}  // namespace library

#endif  // LUMORA_LIBRARY_LOCAL_BOOKS_H_
