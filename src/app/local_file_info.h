// The book information dialog shown before a local file is added to the shelf: title,
// issue number, the file's path (read only) and the cover picture, which Browse picks
// from picture files. On the automation interface it is the form "bookInfo" with the
// fields "title", "issue", "path" and "cover".
#ifndef LUMORA_APP_LOCAL_FILE_INFO_H_
#define LUMORA_APP_LOCAL_FILE_INFO_H_

#include <string>

#include "library/local_books.h"
#include "platform/dialogs.h"

namespace app {

class CLocalFileInfo {
 public:
  static constexpr const char* kFormKind = "bookInfo";

  // |path| is the book file's full path (code page).
  CLocalFileInfo(const std::string& path, platform::Dialogs& dialogs);

  // Shows the dialog; true when it was closed with OK, and then the members hold the
  // fields' texts. No validation: empty fields are accepted.
  bool DoModal();

  const library::LocalBookInfo& info() const { return info_; }

 private:
  platform::Dialogs& dialogs_;
  library::LocalBookInfo info_;
};

}  // namespace app

#endif  // LUMORA_APP_LOCAL_FILE_INFO_H_
