// The login and purchased-list services over real HTTP, with the client's own escaping
// and GBK bytes, and the accounts and purchases files in good and hostile shapes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "vendor_fixture.h"

namespace {

const std::string kSalt = "QornellGateway19981124";
// 张三 and 密码 in GBK.
const std::string kZhangSanGbk = "\xD5\xC5\xC8\xFD";
const std::string kMiMaGbk = "\xC3\xDC\xC2\xEB";

// The client's escaping of a user name: space as "+", "&", "=" and ";" as %XX, every
// other byte as it is.
std::string EscapeName(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    if (c == ' ')
      out += '+';
    else if (c == '&')
      out += "%26";
    else if (c == '=')
      out += "%3D";
    else if (c == ';')
      out += "%3B";
    else
      out += c;
  }
  return out;
}

std::string LoginTarget(const std::string& name_gbk, const std::string& password_gbk) {
  return "/login4shelf.aspx?username=" + EscapeName(name_gbk) +
         "&password=" + Md5(kSalt + password_gbk);
}

std::string ListTarget(const std::string& user_id) {
  return "/GetBuyedList.aspx?UserID=" + user_id + "&p=" + Md5(user_id);
}

// The value of |key| the way the client reads it: the first occurrence of the key, then
// the text between the next ">" and the following "<".
std::string ClientValue(const std::string& body, const std::string& key) {
  std::size_t at = body.find(key);
  if (at == std::string::npos) return "<none>";
  std::size_t open = body.find('>', at);
  if (open == std::string::npos) return "<none>";
  std::size_t close = body.find('<', open + 1);
  return body.substr(open + 1, close - open - 1);
}

class ShopTest : public VendorTest {
 protected:
  void SetUp() override {
    root_.Write("accounts.txt",
                "# user\tpassword\tuser id\n"
                "bob\tsecret\tU100\n"
                "张三\t密码\tU200\n"
                "李 四&=;\t口令 1\tU300\n");
    root_.Write("purchases.txt",
                "U100\tITEM-1\t图书\t12\n"
                "U200\tITEM-2\t杂志\t7\n"
                "U100\tITEM-3\t书刊文档\t3\n");
  }
};

TEST_F(ShopTest, LoginAnswersTheUserIdForTheRightDigest) {
  Start();
  HttpReply reply = Get(LoginTarget("bob", "secret"));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.Header("content-type"), "text/xml; charset=utf-8");
  EXPECT_EQ(reply.Header("content-length"), std::to_string(reply.body.size()));
  EXPECT_EQ(ClientValue(reply.body, "Code"), "0");
  EXPECT_EQ(ClientValue(reply.body, "UserID"), "U100");
  // Each key's first occurrence is its own opening tag.
  EXPECT_EQ(reply.body.find("Code"), reply.body.find("<Code>") + 1);
  EXPECT_EQ(reply.body.find("UserID"), reply.body.find("<UserID>") + 1);
}

TEST_F(ShopTest, LoginRefusesWrongDigestUnknownUserAndMissingFields) {
  Start();
  const std::vector<std::string> refused = {
      LoginTarget("bob", "Secret"),
      LoginTarget("alice", "secret"),
      // The digest compared exactly: upper-case hex is another text.
      "/login4shelf.aspx?username=bob&password=" +
          [] {
            std::string d = Md5(kSalt + "secret");
            for (char& c : d) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            return d;
          }(),
      // The digest of the bare password, without the salt.
      "/login4shelf.aspx?username=bob&password=" + Md5("secret"),
      "/login4shelf.aspx?username=bob",
      "/login4shelf.aspx?password=" + Md5(kSalt + "secret"),
      "/login4shelf.aspx",
  };
  for (const std::string& target : refused) {
    HttpReply reply = Get(target);
    EXPECT_EQ(reply.status, 200) << target;
    EXPECT_EQ(ClientValue(reply.body, "Code"), "1") << target;
    EXPECT_EQ(reply.body.find("UserID"), std::string::npos) << target;
  }
}

TEST_F(ShopTest, ChineseNameArrivesAsRawGbkBytesAndTheDigestCoversGbkBytes) {
  Start({"--log", scratch_ / "requests.log"});
  std::string target = LoginTarget(kZhangSanGbk, kMiMaGbk);
  HttpReply reply = Get(target);
  EXPECT_EQ(ClientValue(reply.body, "Code"), "0") << reply.raw;
  EXPECT_EQ(ClientValue(reply.body, "UserID"), "U200");
  // The digest of the UTF-8 bytes of the password is not the client's digest.
  reply = Get(LoginTarget(kZhangSanGbk, "密码"));
  EXPECT_EQ(ClientValue(reply.body, "Code"), "1");
  // The name in UTF-8 is another name.
  reply = Get(LoginTarget("张三", kMiMaGbk));
  EXPECT_EQ(ClientValue(reply.body, "Code"), "1");
  // The high bytes reached the service as sent.
  EXPECT_EQ(scratch_.Read("requests.log").substr(0, Get10(target).size()), Get10(target));
}

TEST_F(ShopTest, NamesWithSpaceAmpersandEqualsAndSemicolonAsTheClientEscapesThem) {
  Start();
  HttpReply reply = Get(LoginTarget("\xC0\xEE \xCB\xC4&=;", "\xBF\xDA\xC1\xEE 1"));
  EXPECT_EQ(ClientValue(reply.body, "Code"), "0") << reply.raw;
  EXPECT_EQ(ClientValue(reply.body, "UserID"), "U300");
}

TEST_F(ShopTest, AccountsFileEditedWhileRunningIsReadAgain) {
  Start();
  EXPECT_EQ(ClientValue(Get(LoginTarget("carol", "pw")).body, "Code"), "1");
  root_.Write("accounts.txt", "carol\tpw\tU900\n");
  HttpReply reply = Get(LoginTarget("carol", "pw"));
  EXPECT_EQ(ClientValue(reply.body, "Code"), "0");
  EXPECT_EQ(ClientValue(reply.body, "UserID"), "U900");
  EXPECT_EQ(ClientValue(Get(LoginTarget("bob", "secret")).body, "Code"), "1");
}

TEST_F(ShopTest, PurchasedListHasOneItemPerPurchaseInTheClientsForm) {
  Start();
  HttpReply reply = Get(ListTarget("U100"));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.Header("content-type"), "text/xml; charset=utf-8");
  EXPECT_EQ(reply.body,
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><Result><Code>0</Code><List>"
            "<Item PID=\"ITEM-1\" BigClass=\"图书\" Class=\"12\" />"
            "<Item PID=\"ITEM-3\" BigClass=\"书刊文档\" Class=\"3\" />"
            "</List></Result>");
  EXPECT_EQ(ClientValue(reply.body, "Code"), "0");
}

TEST_F(ShopTest, PurchasedListOfAUserWithoutPurchasesIsEmpty) {
  root_.Write("purchases.txt", "");
  Start();
  HttpReply reply = Get(ListTarget("U300"));
  EXPECT_EQ(ClientValue(reply.body, "Code"), "0");
  EXPECT_NE(reply.body.find("<List></List>"), std::string::npos) << reply.body;
}

TEST_F(ShopTest, PurchasedListRefusesWrongCheckAndUnknownUser) {
  Start();
  for (const std::string& target :
       {std::string("/GetBuyedList.aspx?UserID=U100&p=") + Md5("U200"),
        std::string("/GetBuyedList.aspx?UserID=U100"), ListTarget("U999"),
        std::string("/GetBuyedList.aspx?p=") + Md5("U100")}) {
    HttpReply reply = Get(target);
    EXPECT_EQ(ClientValue(reply.body, "Code"), "1") << target;
    EXPECT_EQ(reply.body.find("PID"), std::string::npos) << target;
  }
}

TEST_F(ShopTest, BadLinesAreSkippedAndReportedTheRestServed) {
  root_.Write("accounts.txt",
              "bob\tsecret\tU100\n"
              "bad\xFF\xFEname\tpw\tU400\n"  // not UTF-8
              "two\tfields\n"
              "quote\tpw\tU\"1\n"  // a user id the list could not carry
              "dave\tpw\tU500\r\n");
  root_.Write("purchases.txt",
              "U100\tITEM\"X\t图书\t1\n"  // a quote would end the client's value early
              "U100\tITEM-9\t杂项\t2\n"
              "U100\tITEM-8\t\xC2\t2\n");
  Start();
  EXPECT_EQ(ClientValue(Get(LoginTarget("bob", "secret")).body, "UserID"), "U100");
  EXPECT_EQ(ClientValue(Get(LoginTarget("dave", "pw")).body, "UserID"), "U500");
  EXPECT_EQ(ClientValue(Get(LoginTarget("bad\xFF\xFEname", "pw")).body, "Code"), "1");
  HttpReply list = Get(ListTarget("U100"));
  EXPECT_NE(list.body.find("<Item PID=\"ITEM-9\" BigClass=\"杂项\" Class=\"2\" />"),
            std::string::npos);
  EXPECT_EQ(list.body.find("ITEM\""), std::string::npos);
  EXPECT_EQ(list.body.find("ITEM-8"), std::string::npos);
  std::string errors = vendor_->Errors();
  EXPECT_NE(errors.find("accounts.txt:2:"), std::string::npos) << errors;
  EXPECT_NE(errors.find("accounts.txt:3:"), std::string::npos) << errors;
  EXPECT_NE(errors.find("accounts.txt:4:"), std::string::npos) << errors;
  EXPECT_NE(errors.find("purchases.txt:1:"), std::string::npos) << errors;
  EXPECT_NE(errors.find("purchases.txt:3:"), std::string::npos) << errors;
}

TEST_F(ShopTest, MissingFolderFifoAndHugeAccountsFilesRefuseEveryLogin) {
  Start();
  std::string accounts = root_ / "accounts.txt";
  std::filesystem::remove(accounts);
  EXPECT_EQ(ClientValue(Get(LoginTarget("bob", "secret")).body, "Code"), "1");

  std::filesystem::create_directory(accounts);
  EXPECT_EQ(ClientValue(Get(LoginTarget("bob", "secret")).body, "Code"), "1");
  std::filesystem::remove(accounts);

  // A FIFO nobody writes to must not hold the request up.
  ASSERT_EQ(mkfifo(accounts.c_str(), 0644), 0);
  EXPECT_EQ(ClientValue(Get(LoginTarget("bob", "secret")).body, "Code"), "1");
  std::filesystem::remove(accounts);

  // Larger than the limit (sparse), the valid first line included.
  root_.Write("accounts.txt", "bob\tsecret\tU100\n");
  ASSERT_EQ(truncate(accounts.c_str(), 17 * 1024 * 1024), 0);
  EXPECT_EQ(ClientValue(Get(LoginTarget("bob", "secret")).body, "Code"), "1");

  std::string errors = vendor_->Errors();
  EXPECT_NE(errors.find("not a regular file"), std::string::npos) << errors;
  EXPECT_NE(errors.find("larger than"), std::string::npos) << errors;
}

TEST_F(ShopTest, RequestLogHoldsEachHeadByteForByteInOrder) {
  std::string log = scratch_ / "requests.log";
  Start({"--log", log});
  const std::string first = "GET " + LoginTarget(kZhangSanGbk, kMiMaGbk) +
                            " HTTP/1.0\r\nUser-Agent: Lumora\r\nhost: 127.0.0.1\r\n"
                            "Accept: */*\r\nX-Odd:  two  spaces \r\n\r\n";
  const std::string second =
      "GET /none%20here?q=%E4+x HTTP/1.1\r\nConnection: close\r\nAaa: 1\r\n\r\n";
  Exchange(port(), first);
  Exchange(port(), second);
  EXPECT_EQ(scratch_.Read("requests.log"), first + second);
}

}  // namespace
