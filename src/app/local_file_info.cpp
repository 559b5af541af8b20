#include "app/local_file_info.h"

#include "base/ansi.h"

namespace app {

CLocalFileInfo::CLocalFileInfo(const std::string& path, platform::Dialogs& dialogs)
    : dialogs_(dialogs), info_(library::InitialBookInfo(path)) {}

bool CLocalFileInfo::DoModal() {
  using ansi::ToUtf8Lossy;
  platform::FormSpec form;
  form.kind = kFormKind;
  form.title = "图书信息";
  form.ok_label = "确定";
  form.cancel_label = "取消";
  form.fields = {
      {"title", "书名:", ToUtf8Lossy(info_.title), false, {}, {}},
      {"issue", "图书刊号:", ToUtf8Lossy(info_.issue), false, {}, {}},
      {"path", "图书路径:", ToUtf8Lossy(info_.path), true, {}, {}},
      {"cover",
       "封面图片:",
       ToUtf8Lossy(info_.cover),
       false,
       {{"Files (*.BMP;*.JPG)", "*.BMP;*.JPG"}},
       "浏览"},
  };
  if (!dialogs_.Form(&form)) return false;
  // The path is read only and keeps its bytes exactly; the others come back as typed.
  info_.title = ansi::FromUtf8Lossy(form.fields[0].value);
  info_.issue = ansi::FromUtf8Lossy(form.fields[1].value);
  info_.cover = ansi::FromUtf8Lossy(form.fields[3].value);
  return true;
}

}  // namespace app
