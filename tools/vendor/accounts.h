// The shop's accounts and purchases, read from the data folder's accounts.txt and
// purchases.txt on every request, so that a test or a demo can edit them while the
// service runs.
#ifndef LUMORA_TOOLS_VENDOR_ACCOUNTS_H_
#define LUMORA_TOOLS_VENDOR_ACCOUNTS_H_

#include <string>
#include <vector>

namespace vendor {

struct Account {
  std::string name;      // UTF-8
  std::string password;  // UTF-8
  std::string user_id;   // letters, digits, "-", "_" and "."
};

struct Purchase {
  std::string user_id;
  std::string item_id;
  std::string category;  // UTF-8, e.g. 图书
  std::string group_id;
};

struct ShopData {
  std::vector<Account> accounts;
  std::vector<Purchase> purchases;

  // The account with |user_id|, or nullptr.
  [[nodiscard]] const Account* FindById(const std::string& user_id) const;
};

// Reads DIR/accounts.txt and DIR/purchases.txt. Missing files hold nothing; refused
// files and bad lines are reported on standard error and left out.
ShopData LoadShopData(const std::string& root);

// Whether |id| may be a user id: 1 to 64 ASCII letters, digits, "-", "_" or ".".
[[nodiscard]] bool IsValidUserId(const std::string& id);

}  // namespace vendor

#endif  // LUMORA_TOOLS_VENDOR_ACCOUNTS_H_
