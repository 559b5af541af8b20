// The movie's commands that talk to the vendor's web services: signing in ("logon"),
// importing the purchased items ("yigoumai") and opening a share page ("分享").
#include <cstdio>
#include <string>

#include "app/lumora_app.h"
#include "app/lumora_dlg.h"
#include "app/stale_temporaries.h"
#include "base/ansi.h"
#include "base/files.h"
#include "base/folders.h"
#include "fields/field_list.h"
#include "library/catalogues.h"

namespace app {

using fields::ReadFieldList;

using library::CreateUserShelf;

namespace {

constexpr std::size_t kShareUrlBytes = 511;

bool IsAsciiAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsAsciiSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The share title as the share pages take it: UTF-8 with one space appended, then
// letters and digits as they are, white space as "+", every other byte as "%XX".
std::string EncodeShareTitle(std::string_view title) {
  std::string utf8;
  for (std::size_t pos = 0; pos < title.size();) {
    const std::size_t length = ansi::CharLength(title, pos);
    std::string piece;
    if (ansi::ToUtf8(title.substr(pos, length), &piece))
      utf8 += piece;
    else
      utf8 += '?';  // a lead byte without its trail
    pos += length;
  }
  utf8 += ' ';
  std::string out;
  for (unsigned char c : utf8) {
    if (IsAsciiAlnum(c)) {
      out += static_cast<char>(c);
    } else if (IsAsciiSpace(c)) {
      out += '+';
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      out += escaped;
    }
  }
  return out;
}

// The byte an escape "%XX" at |at| stands for, or -1 when there is none there.
int EscapedByte(const std::string& url, std::size_t at) {
  if (at + 2 >= url.size() || url[at] != '%') return -1;
  auto hex = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
  return hex(url[at + 1]) * 16 + hex(url[at + 2]);
}

// |url| cut to |max| bytes, never inside a "%XX" escape nor inside the escapes of one
// UTF-8 character.
std::string CutUrl(std::string url, std::size_t max) {
  if (url.size() <= max) return url;
  std::size_t cut = max;
  for (std::size_t back = 1; back <= 2 && back <= cut; ++back)
    if (url[cut - back] == '%') cut -= back;
  // What follows the cut must not be the continuation of a character kept in part.
  for (int byte = EscapedByte(url, cut); byte >= 0x80 && byte < 0xC0 && cut >= 3;
       byte = EscapedByte(url, cut))
    cut -= 3;
  url.resize(cut);
  return url;
}

}  // namespace

void CLumoraDlg::OnLogon(const std::string& args) {
  const DeploymentSettings& hosts = app_.deployment();
  if (!user_.SendSignIn(args, DeploymentSettings::ServerUrl(hosts.login_host)))
    TellRetrieveFailed();
  if (!user_.TakeSignInReply()) {
    flash_.SetVariable("UserName", user_.user_name());
    flash_.SetVariable("UserPass", "false");
    return;
  }
  flash_.SetVariable("UserID", user_.user_id());
  flash_.SetVariable("UserName", user_.user_name());
  flash_.SetVariable("UserPass", "true");

  // The user's folder, shelf file and downloads lie in the program folder. A name that
  // cannot be a folder there (it would lead elsewhere) fails as a folder that cannot
  // be made.
  const std::string user_folder = user_.RecordShelfIn(program_folder_);
  if (user_folder.empty() || !MakeUserFolders(user_folder)) {
    platform_.dialogs().Message(kCannotMakeFolder, ApplicationTitleUtf8());
    return;
  }
  downloads_.TakeStockOfPartialDownloads();
}

bool CLumoraDlg::MakeUserFolders(const std::string& user_folder) {
  // Another program signing the same user in makes the folder and the shelf file
  // once, and removes no temporary file of a replacement it is making.
  const SharedFoldersLock locks = LockSharedFolders(kProgramFolder);
  if (!base::IsDirectory(ansi::NativePath(user_folder))) {
    if (!base::MakeDirectory(ansi::NativePath(user_folder)).ok()) return false;
    // A shelf file that cannot be made is made again at the next sign-in, and its writes report.
    (void)CreateUserShelf(user_.user_shelf_path());
  }
  RemoveStaleUserTemporaries(user_folder);
  return base::MakeDirectory(ansi::NativePath(user_folder + "/downloaded")).ok();
}

void CLumoraDlg::OnPurchasedList(const std::string&) {
  if (!user_.SendPurchasedListRequest(DeploymentSettings::ServerUrl(app_.deployment().shop_host)))
    TellRetrieveFailed();
  // Without a sign-in there is no shelf to import into, whatever the shop answered.
  // The movie hears the end of the import ("true" once the shelf holds the purchases)
  // and reads the shelf itself.
  if (!CheckSignedIn() || !user_.PurchasedListAccepted()) {
    flash_.SetVariable("RetValYigoumai", "false");
    return;
  }
  bool unsaved = false;
  {
    // Locked once the reply is in, and only for the file work: the lock never waits for
    // the network or the user.
    const SharedFoldersLock locks = LockSharedFolders(kBothFolders);
    user_.ImportPurchases(catalogue_folders(), &unsaved);
  }
  if (unsaved) TellCannotSave();
  flash_.SetVariable("RetValYigoumai", unsaved ? "false" : "true");
}

void CLumoraDlg::TellRetrieveFailed() {
  platform_.dialogs().Message(std::string(kFailedMessage) + "\n" + user_.request().failure_text(),
                              "");
}

void CLumoraDlg::OnShare(const std::string& args) {
  std::string site, part_one, part_two;
  // Missing fields stay empty; the share page opens with what there is.
  (void)ReadFieldList(args, {{&site, 256}, {&part_one, 64}, {&part_two, 256}});
  const DeploymentSettings& hosts = app_.deployment();
  const std::string title = EncodeShareTitle(part_one + part_two);
  std::string url;
  if (site == ansi::FromUtf8Lossy("新浪微博"))
    url = "http://" + hosts.share_host_1 +
          "/share/share.php?url=&appkey=&pic=&ralateUid=&title=" + title;
  else if (site == ansi::FromUtf8Lossy("腾讯微博"))
    url = "http://" + hosts.share_host_2 + "/share/share.php?url=&site=&pic=&title=" + title;
  else if (site == ansi::FromUtf8Lossy("开心网"))
    url = "http://" + hosts.share_host_3 + "/repaste/share.php?rtitle=" + title;
  else
    return;  // any other site, "人人网" included, has no share page
  platform_.shell().Open(CutUrl(url, kShareUrlBytes), "");
}

}  // namespace app
