#include "account/signed_in_user.h"

#include "account/md5.h"
#include "account/purchased_list.h"
#include "fields/field_list.h"
#include "net/reply_value.h"

namespace account {

using net::ReplyValue;

namespace {

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

}  // namespace

bool CSignedInUser::SendSignIn(const std::string& args, const std::string& login_server) {
  std::string unused_3, unused_4;
  user_name_.clear();
  password_.clear();
  // Missing fields stay empty, and an empty name or password is refused by the service.
  (void)fields::ReadFieldList(
      args, {{&user_name_, 64}, {&password_, 64}, {&unused_3, 64}, {&unused_4, 64}});
  // Only the digest of the salted password is sent; the password itself is dropped
  // at once.
  password_.insert(0, kSalt);
  const std::string digest = MD5String(password_.c_str());
  password_.assign(password_.size(), '\0');
  password_.clear();
  return Retrieve(login_server + "/login4shelf.aspx?username=" + UrlEscape(user_name_) +
                  "&password=" + UrlEscape(digest));
}

bool CSignedInUser::TakeSignInReply() {
  if (ReplyValue(reply_body_, "Code") != "0") return false;
  user_id_ = ReplyValue(reply_body_, "UserID");
  return true;
}

std::string CSignedInUser::RecordShelfIn(const std::string& program_folder) {
  if (!IsUsableUserName(user_name_)) {
    user_shelf_path_.clear();
    return {};
  }
  const std::string user_folder = program_folder + user_name_;
  user_shelf_path_ = user_folder + "/" + user_name_ + ".xml";
  return user_folder;
}

bool CSignedInUser::SendPurchasedListRequest(const std::string& shop_server) {
  const std::string digest = MD5String(user_id_.c_str());
  return Retrieve(shop_server + "/GetBuyedList.aspx?UserID=" + user_id_ + "&p=" + digest);
}

bool CSignedInUser::PurchasedListAccepted() const { return ReplyValue(reply_body_, "Code") == "0"; }

void CSignedInUser::ImportPurchases(const library::CatalogueFolders& folders, bool* unsaved) {
  ImportPurchasedList(folders, user_shelf_path_, reply_body_, unsaved);
}

bool CSignedInUser::Retrieve(const std::string& url) {
  request_method_ = 0;
  request_text_.clear();
  reply_header_.clear();
  reply_body_.clear();
  request_.Retrieve(request_method_ != 0, url, &request_text_, &reply_header_, &reply_body_);
  return request_.last_failure().ok();
}

}  // namespace account
