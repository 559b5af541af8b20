// The shop's two services: signing in and the list of a user's purchases. Each takes the
// decoded query of the request and answers with the XML text the client reads.
#ifndef LUMORA_TOOLS_VENDOR_SHOP_REPLIES_H_
#define LUMORA_TOOLS_VENDOR_SHOP_REPLIES_H_

#include <optional>
#include <string>

#include "accounts.h"
#include "query.h"

namespace vendor {

// The salt before the password's bytes in the login digest.
inline constexpr char kPasswordSalt[] = "QornellGateway19981124";

// Lower-case hex MD5 of |bytes|.
std::string Md5Hex(const std::string& bytes);

// |utf8| in the GB18030 code page (which GBK is part of), or nullopt when it cannot be
// converted.
std::optional<std::string> ToGb18030(const std::string& utf8);

// The login digest of |password| (UTF-8): MD5 of the salt and the password's GB18030 bytes.
std::optional<std::string> PasswordDigest(const std::string& password);

// The answer to "login4shelf.aspx?username=U&password=P". U is compared, byte for byte,
// with each account's name in GB18030; P with the account's password digest.
std::string LoginReply(const QueryParams& params, const ShopData& data);

// The answer to "GetBuyedList.aspx?UserID=ID&p=HEX", HEX being the MD5 of the user id.
std::string PurchasedListReply(const QueryParams& params, const ShopData& data);

// The content type of both answers.
inline constexpr char kReplyContentType[] = "text/xml; charset=utf-8";

}  // namespace vendor

#endif  // LUMORA_TOOLS_VENDOR_SHOP_REPLIES_H_
