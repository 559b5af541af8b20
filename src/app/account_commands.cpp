// The movie's commands that talk to the vendor's web services: signing in ("logon"),
// importing the purchased items ("yigoumai") and opening a share page ("分享").
#include <cstdio>
#include <string>

#include "app/field_list.h"
#include "app/lumora_app.h"
#include "app/lumora_dlg.h"
#include "app/stale_temporaries.h"
#include "library/catalogues.h"
#include "library/md5.h"
#include "library/shelf_operations.h"
#include "net/reply_value.h"
#include "platform/ansi.h"
#include "platform/files.h"
#include "platform/folders.h"

namespace app {

using library::CreateUserShelf;
using library::ImportPurchasedList;
using library::MD5String;
using net::ReplyValue;

namespace {

constexpr const char* kSalt = "QornellGateway19981124";
constexpr std::size_t kShareUrlBytes = 511;

// The login's own escaping of query values: space, "&", "=" and ";" are escaped, every
// other byte (code-page text included) goes as it stands.
std::string UrlEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case ' ':
        out += '+';
        break;
      case '&':
        out += "%26";
        break;
      case '=':
        out += "%3D";
        break;
      case ';':
        out += "%3B";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A user name that can be a folder of its own inside the program folder: not empty,
// no separator ('/'; a backslash is an ordinary character here, and the second byte of
// characters such as 乗), not "." or "..", no zero byte.
bool IsUsableUserName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

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
  std::string unused_3, unused_4;
  user_name_.clear();
  password_.clear();
  (void)ReadFieldList(args,
                      {{&user_name_, 64}, {&password_, 64}, {&unused_3, 64}, {&unused_4, 64}});
  // Only the digest of the salted password is sent; the password itself is dropped
  // at once.
  password_.insert(0, kSalt);
  const std::string digest = MD5String(password_.c_str());
  password_.assign(password_.size(), '\0');
  password_.clear();

  request_method_ = 0;
  request_text_.clear();
  reply_header_.clear();
  reply_body_.clear();
  request_.Retrieve(false,
                    DeploymentSettings::ServerUrl(app_.deployment().login_host) +
                        "/login4shelf.aspx?username=" + UrlEscape(user_name_) +
                        "&password=" + UrlEscape(digest),
                    &request_text_, &reply_header_, &reply_body_);
  if (ReplyValue(reply_body_, "Code") != "0") {
    flash_.SetVariable("UserName", user_name_);
    flash_.SetVariable("UserPass", "false");
    return;
  }
  user_id_ = ReplyValue(reply_body_, "UserID");
  flash_.SetVariable("UserID", user_id_);
  flash_.SetVariable("UserName", user_name_);
  flash_.SetVariable("UserPass", "true");

  // The user's folder, shelf file and downloads lie in the program folder. A name that
  // cannot be a folder there (it would lead elsewhere) fails as a folder that cannot
  // be made, and no shelf stays recorded: not even the one of an earlier sign-in, which
  // belongs to another user.
  if (!IsUsableUserName(user_name_)) {
    user_shelf_path_.clear();
    platform_.dialogs().Message(kCannotMakeFolder, ApplicationTitleUtf8());
    return;
  }
  const std::string user_folder = program_folder_ + user_name_;
  user_shelf_path_ = user_folder + "/" + user_name_ + ".xml";
  bool made = true;
  {
    // Another program signing the same user in makes the folder and the shelf file
    // once, and removes no temporary file of a replacement it is making.
    const SharedFoldersLock locks = LockSharedFolders(kProgramFolder);
    if (!platform::IsDirectory(ansi::NativePath(user_folder))) {
      made = platform::MakeDirectory(ansi::NativePath(user_folder)).ok();
      if (made) (void)CreateUserShelf(user_shelf_path_);
    }
    if (made) {
      RemoveStaleUserTemporaries(user_folder);
      made = platform::MakeDirectory(ansi::NativePath(user_folder + "/downloaded")).ok();
    }
  }
  if (!made) {
    platform_.dialogs().Message(kCannotMakeFolder, ApplicationTitleUtf8());
    return;
  }
  TakeStockOfPartialDownloads();
}

void CLumoraDlg::OnPurchasedList(const std::string&) {
  request_method_ = 0;
  request_text_.clear();
  reply_header_.clear();
  reply_body_.clear();
  const std::string digest = MD5String(user_id_.c_str());
  request_.Retrieve(false,
                    DeploymentSettings::ServerUrl(app_.deployment().shop_host) +
                        "/GetBuyedList.aspx?UserID=" + user_id_ + "&p=" + digest,
                    &request_text_, &reply_header_, &reply_body_);
  // Without a sign-in there is no shelf to import into, whatever the shop answered.
  // The movie hears the end of the import ("true" once the shelf holds the purchases)
  // and reads the shelf itself.
  if (!CheckSignedIn() || ReplyValue(reply_body_, "Code") != "0") {
    flash_.SetVariable("RetValYigoumai", "false");
    return;
  }
  bool unsaved = false;
  {
    // Locked once the reply is in, and only for the file work: the lock never waits for
    // the network or the user.
    const SharedFoldersLock locks = LockSharedFolders(kBothFolders);
    ImportPurchasedList(catalogue_folders(), user_shelf_path_, reply_body_, &unsaved);
  }
  if (unsaved) TellCannotSave();
  flash_.SetVariable("RetValYigoumai", unsaved ? "false" : "true");
}

void CLumoraDlg::OnShare(const std::string& args) {
  std::string site, part_one, part_two;
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
