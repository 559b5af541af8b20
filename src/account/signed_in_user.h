// The signed-in user: who signed in last ("logon"), the user shelf file a successful
// sign-in records, and the account's two exchanges with the vendor's web services (the
// sign-in and the purchased list) with the raw texts of the last one, and the import of
// the purchases into the shelf. The password is reduced to the digest of its salted
// form at once and never kept. The main window makes the user's folders, tells the user
// of a failed exchange (its reason in request().failure_text()) and sets the movie's
// variables.
#ifndef LUMORA_ACCOUNT_SIGNED_IN_USER_H_
#define LUMORA_ACCOUNT_SIGNED_IN_USER_H_

#include <string>

#include "library/catalogues.h"
#include "net/request.h"

namespace account {

class CSignedInUser {
 public:
  static constexpr const char* kSalt = "QornellGateway19981124";

  CSignedInUser() = default;
  CSignedInUser(const CSignedInUser&) = delete;
  CSignedInUser& operator=(const CSignedInUser&) = delete;

  // "logon": reads the user name and the password from |args| (four fields: name,
  // password, two unused) and sends the name and the digest of the salted password to
  // the login service at |login_server| (scheme and host). False when the exchange
  // failed.
  [[nodiscard]] bool SendSignIn(const std::string& args, const std::string& login_server);
  // After SendSignIn: true when the service accepted the user ("Code" is "0"), the user
  // id then taken from the reply. A refusal leaves the user id and the shelf as they were.
  [[nodiscard]] bool TakeSignInReply();
  // Records the user shelf file of the accepted user, in the user's folder in
  // |program_folder|, and returns that folder. A name that cannot be a folder there (it
  // would lead elsewhere) records no shelf, not even an earlier user's, and returns "".
  std::string RecordShelfIn(const std::string& program_folder);

  // "yigoumai": asks the shop at |shop_server| for the user's purchased list. False when
  // the exchange failed.
  [[nodiscard]] bool SendPurchasedListRequest(const std::string& shop_server);
  // True when the shop's last reply says "Code" "0".
  [[nodiscard]] bool PurchasedListAccepted() const;
  // Copies the purchases of the last reply into "已购买" of the user shelf file.
  void ImportPurchases(const library::CatalogueFolders& folders, bool* unsaved);

  // True when a sign-in has recorded a user shelf file.
  bool signed_in() const { return !user_shelf_path_.empty(); }
  const std::string& user_id() const { return user_id_; }
  const std::string& user_name() const { return user_name_; }
  // Program folder + user + "/" + user + ".xml"; empty until a sign-in records one.
  const std::string& user_shelf_path() const { return user_shelf_path_; }
  const net::Request& request() const { return request_; }

 private:
  // One GET of |url|, the three reply strings emptied first. False when it failed.
  bool Retrieve(const std::string& url);

  std::string user_id_;          // 64
  std::string user_name_;        // 64
  std::string password_;         // 64
  std::string user_shelf_path_;  // 256
  net::Request request_;
  std::string request_text_;
  std::string reply_header_;
  std::string reply_body_;
  int request_method_ = 0;  // 0: GET, the only method the host uses
};

}  // namespace account

#endif  // LUMORA_ACCOUNT_SIGNED_IN_USER_H_
