#include "shop_replies.h"

#include <glib.h>

namespace vendor {
namespace {

// The declaration holds neither "Code" nor "UserID" nor "PID": the client finds each
// value by the first occurrence of its key anywhere in the text.
constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

std::string Refusal() { return std::string(kDeclaration) + "<Result><Code>1</Code></Result>"; }

}  // namespace

std::string Md5Hex(const std::string& bytes) {
  g_autofree gchar* hex = g_compute_checksum_for_data(
      G_CHECKSUM_MD5, reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  return hex != nullptr ? std::string(hex) : std::string();
}

std::optional<std::string> ToGb18030(const std::string& utf8) {
  gsize written = 0;
  // Why the text does not convert is of no use: such a name matches no one.
  g_autoptr(GError) error = nullptr;
  g_autofree gchar* converted = g_convert(utf8.data(), static_cast<gssize>(utf8.size()), "GB18030",
                                          "UTF-8", nullptr, &written, &error);
  if (converted == nullptr) return std::nullopt;
  return std::string(converted, written);
}

std::optional<std::string> PasswordDigest(const std::string& password) {
  std::optional<std::string> bytes = ToGb18030(password);
  if (!bytes) return std::nullopt;
  return Md5Hex(kPasswordSalt + *bytes);
}

std::string LoginReply(const QueryParams& params, const ShopData& data) {
  std::optional<std::string> name = FindParam(params, "username");
  std::optional<std::string> digest = FindParam(params, "password");
  if (!name || !digest || name->empty()) return Refusal();
  for (const Account& account : data.accounts) {
    std::optional<std::string> sent_name = ToGb18030(account.name);
    if (!sent_name || *sent_name != *name) continue;
    std::optional<std::string> expected = PasswordDigest(account.password);
    if (!expected || *expected != *digest) return Refusal();
    return std::string(kDeclaration) + "<Result><Code>0</Code><UserID>" + account.user_id +
           "</UserID></Result>";
  }
  return Refusal();
}

std::string PurchasedListReply(const QueryParams& params, const ShopData& data) {
  std::optional<std::string> user_id = FindParam(params, "UserID");
  std::optional<std::string> check = FindParam(params, "p");
  if (!user_id || !check || data.FindById(*user_id) == nullptr) return Refusal();
  if (Md5Hex(*user_id) != *check) return Refusal();
  std::string reply = std::string(kDeclaration) + "<Result><Code>0</Code><List>";
  for (const Purchase& purchase : data.purchases) {
    if (purchase.user_id != *user_id) continue;
    reply += "<Item PID=\"" + purchase.item_id + "\" BigClass=\"" + purchase.category +
             "\" Class=\"" + purchase.group_id + "\" />";
  }
  reply += "</List></Result>";
  return reply;
}

}  // namespace vendor
