// Signing in, the purchased list and share pages through the whole program on its
// automation interface.
#include <gtest/gtest.h>

#include <filesystem>

#include "../support/lumora_process.h"
#include "../support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string Command(const std::string& command, const std::string& args) {
  return Json{{"fscommand", command}, {"args", args}}.dump();
}

class ShareTest : public ::testing::Test {
 protected:
  // The pages opened for |script|.
  std::vector<std::string> Opened(const std::vector<std::string>& script) {
    LumoraOptions o;
    o.cwd = home_.path();
    o.env = {{"XDG_DATA_HOME", home_ / "data"},
             {"LUMORA_SHARE_HOST_1", "one.test"},
             {"LUMORA_SHARE_HOST_2", "two.test:81"},
             {"LUMORA_SHARE_HOST_3", "three.test"}};
    LumoraRun run = RunLumora(o, script);
    EXPECT_EQ(run.exit_code, 0) << run.stderr_text;
    std::vector<std::string> pages;
    for (const Json& shell : run.All("shell")) {
      EXPECT_EQ(shell["parameters"], "");
      pages.push_back(shell["target"]);
    }
    return pages;
  }
  TempDir home_;
};

TEST_F(ShareTest, EachSiteHasItsPageWithTheTitleEncoded) {
  EXPECT_EQ(Opened({Command("分享", "s=新浪微博|a=a|b= b"), Command("分享", "s=腾讯微博|a=|b="),
                    Command("分享", "s=开心网|a=中|b=文")}),
            (std::vector<std::string>{
                "http://one.test/share/share.php?url=&appkey=&pic=&ralateUid=&title=a+b+",
                "http://two.test:81/share/share.php?url=&site=&pic=&title=+",
                "http://three.test/repaste/share.php?rtitle=%E4%B8%AD%E6%96%87+"}));
}

TEST_F(ShareTest, OtherSitesOpenNothingAndSymbolsAreEscaped) {
  EXPECT_TRUE(Opened({Command("分享", "s=人人网|a=x|b=y"), Command("分享", "s=新浪|a=x|b=y"),
                      Command("分享", "s=新浪微博x|a=x|b=y")})
                  .empty());
  // Every byte but letters and digits is escaped; the title is two fields joined.
  EXPECT_EQ(Opened({Command("分享", "s=开心网|a=50%&b|b=/?#·\t")}),
            (std::vector<std::string>{
                "http://three.test/repaste/share.php?rtitle=50%25%26b%2F%3F%23%C2%B7++"}));
  // A page's address is kept within 511 bytes, never cut inside an escape.
  std::vector<std::string> long_page =
      Opened({Command("分享", "s=开心网|a=" + std::string(63, 'x') + "|b=" +
                                  std::string(85, '\x01') + "中中中中中中中中中中中中中中中中中中")});
  ASSERT_EQ(long_page.size(), 1u);
  EXPECT_LE(long_page[0].size(), 511u);
  EXPECT_NE(long_page[0].back(), '%');
  EXPECT_NE(long_page[0][long_page[0].size() - 2], '%');
}

class SignInWithoutServiceTest : public ::testing::Test {
 protected:
  LumoraRun Run(const std::vector<std::string>& script) {
    LumoraOptions o;
    o.cwd = home_ / "prog";
    // Port 1 on loopback: nothing listens, the connection is refused at once.
    o.env = {{"XDG_DATA_HOME", home_ / "data"},
             {"LUMORA_LOGIN_HOST", "127.0.0.1:1"},
             {"LUMORA_SHOP_HOST", "127.0.0.1:1"}};
    LumoraRun run = RunLumora(o, script);
    EXPECT_EQ(run.exit_code, 0) << run.stderr_text;
    return run;
  }
  SignInWithoutServiceTest() { home_.MakeDir("prog"); }
  TempDir home_;
};

TEST_F(SignInWithoutServiceTest, ANetworkFailureIsShownAndEndsAsARefusal) {
  LumoraRun run = Run({Command("logon", "u=reader|p=secret|a=|b="), Command("yigoumai", "")});
  auto dialogs = run.All("dialog");
  ASSERT_EQ(dialogs.size(), 2u);
  for (const Json& d : dialogs) {
    EXPECT_EQ(d["kind"], "message");
    EXPECT_EQ(d["text"], "Retrieve Failed");
    EXPECT_EQ(d["caption"], "");
  }
  EXPECT_EQ(run.Variable("UserName"), "reader");
  EXPECT_EQ(run.Variable("UserPass"), "false");
  EXPECT_EQ(run.Variable("UserID"), "<unset>");
  EXPECT_TRUE(fs::is_empty(home_ / "prog"));
  // The password is nowhere in what the program said.
  for (const std::string& line : run.raw) EXPECT_EQ(line.find("secret"), std::string::npos);
  EXPECT_EQ(run.stderr_text.find("secret"), std::string::npos);
}

}  // namespace
