#include "accounts.h"

#include <cstddef>

#include "text_file.h"

namespace vendor {
namespace {

// Whether |value| can stand inside a quoted attribute of the purchased list as it is: the
// client takes quoted values without unescaping them, so quotes, markup characters and
// control characters are refused rather than escaped.
bool IsPlainAttributeText(const std::string& value) {
  if (value.empty()) return false;
  for (unsigned char c : value) {
    if (c < 0x20 || c == 0x7f || c == '"' || c == '<' || c == '>' || c == '&') return false;
  }
  return true;
}

void Skip(const std::string& name, const TextLine& line, const std::string& why) {
  LogError(name + ":" + std::to_string(line.number) + ": " + why + "; line skipped");
}

}  // namespace

bool IsValidUserId(const std::string& id) {
  if (id.empty() || id.size() > 64) return false;
  for (unsigned char c : id) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_' || c == '.';
    if (!ok) return false;
  }
  return true;
}

const Account* ShopData::FindById(const std::string& user_id) const {
  for (const Account& account : accounts) {
    if (account.user_id == user_id) return &account;
  }
  return nullptr;
}

ShopData LoadShopData(const std::string& root) {
  ShopData data;
  for (const TextLine& line : ReadDataFile(root, "accounts.txt")) {
    std::vector<std::string> fields = SplitTabs(line.text);
    if (fields.size() != 3) {
      Skip("accounts.txt", line, "expected user, password and user id separated by tabs");
      continue;
    }
    if (fields[0].empty()) {
      Skip("accounts.txt", line, "empty user name");
      continue;
    }
    if (!IsValidUserId(fields[2])) {
      Skip("accounts.txt", line, "user id must be 1 to 64 letters, digits, '-', '_' or '.'");
      continue;
    }
    data.accounts.push_back({fields[0], fields[1], fields[2]});
  }
  for (const TextLine& line : ReadDataFile(root, "purchases.txt")) {
    std::vector<std::string> fields = SplitTabs(line.text);
    if (fields.size() != 4) {
      Skip("purchases.txt", line,
           "expected user id, item id, category and group id separated by tabs");
      continue;
    }
    if (!IsValidUserId(fields[0])) {
      Skip("purchases.txt", line, "user id must be 1 to 64 letters, digits, '-', '_' or '.'");
      continue;
    }
    bool plain = true;
    for (std::size_t i = 1; i < fields.size(); ++i)
      plain = plain && IsPlainAttributeText(fields[i]);
    if (!plain) {
      Skip("purchases.txt", line,
           "item id, category and group id must be non-empty, without quotes, '<', '>', '&' "
           "or control characters");
      continue;
    }
    data.purchases.push_back({fields[0], fields[1], fields[2], fields[3]});
  }
  return data;
}

}  // namespace vendor
