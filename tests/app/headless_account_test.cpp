// Signing in, the purchased list and share pages through the whole program on its
// automation interface.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "../library/catalogue_text.h"
#include "../support/lumora_process.h"
#include "../support/running_lumora.h"
#include "../support/temp_dir.h"
#include "../support/vendor_process.h"

using library::CXmlFileObject;

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
  std::vector<std::string> long_page = Opened(
      {Command("分享", "s=开心网|a=" + std::string(63, 'x') + "|b=" + std::string(85, '\x01') +
                           "中中中中中中中中中中中中中中中中中中")});
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
  ASSERT_EQ(dialogs.size(), 3u);
  for (const Json& d : dialogs) EXPECT_EQ(d["kind"], "message");
  for (int i = 0; i < 2; ++i) {
    // The message says why on its second line.
    EXPECT_EQ(dialogs[i]["text"], "Retrieve Failed\nconnect: Connection refused");
    EXPECT_EQ(dialogs[i]["caption"], "");
  }
  // Nobody signed in: the purchases have no shelf to go to, and the user hears so.
  EXPECT_EQ(dialogs[2]["text"], "请先登录");
  EXPECT_EQ(run.Variable("UserName"), "reader");
  EXPECT_EQ(run.Variable("UserPass"), "false");
  EXPECT_EQ(run.Variable("UserID"), "<unset>");
  EXPECT_TRUE(fs::is_empty(home_ / "prog"));
  // The password is nowhere in what the program said.
  for (const std::string& line : run.raw) EXPECT_EQ(line.find("secret"), std::string::npos);
  EXPECT_EQ(run.stderr_text.find("secret"), std::string::npos);
}

const std::string kSalt = "QornellGateway19981124";

// The program signed in against the local vendor service, started in its program folder.
class SignInTest : public ::testing::Test {
 protected:
  SignInTest() {
    home_.MakeDir("prog");
    vendor_root_.Write("accounts.txt",
                       "reader\tsecret\tU100\n"
                       "a b&c=d;\tpw\tU200\n"
                       "读者\t密码\tU300\n"
                       "..\tpw\tU400\n"
                       "a/b\tpw\tU600\n"
                       "乗\tpw\tU700\n");
    vendor_root_.Write("purchases.txt",
                       "U100\tb2\t书刊文档\tg1\nU100\tm9\t杂志\tnone\nU600\tb1\t图书\tg1\n");
    vendor_ = std::make_unique<VendorProcess>(
        std::vector<std::string>{"--root", vendor_root_.path(), "--log", log_ / "requests"});
  }
  ~SignInTest() override { EXPECT_EQ(vendor_->Stop(), 0) << vendor_->Errors(); }

  LumoraOptions Options() const {
    LumoraOptions o;
    o.cwd = home_ / "prog";
    const std::string host = "127.0.0.1:" + std::to_string(vendor_->port());
    o.env = {
        {"XDG_DATA_HOME", home_ / "data"}, {"LUMORA_LOGIN_HOST", host}, {"LUMORA_SHOP_HOST", host}};
    return o;
  }
  LumoraRun Run(const std::vector<std::string>& script) {
    LumoraRun run = RunLumora(Options(), script);
    EXPECT_EQ(run.exit_code, 0) << run.stderr_text;
    return run;
  }
  // The request lines the service received, in order.
  std::vector<std::string> RequestLines() const {
    std::vector<std::string> lines;
    const std::string log = log_.Read("requests");
    for (std::size_t at = 0; at < log.size();) {
      std::size_t end = log.find("\r\n", at);
      lines.push_back(log.substr(at, end - at));
      at = log.find("\r\n\r\n", at) + 4;
    }
    return lines;
  }
  static std::string Logon(const std::string& user, const std::string& password) {
    return Command("logon", "u=" + user + "|p=" + password + "|x=|y=");
  }
  TempDir home_, vendor_root_, log_;
  std::unique_ptr<VendorProcess> vendor_;
};

TEST_F(SignInTest, ASuccessfulSignInMakesTheUsersFoldersAndShelf) {
  LumoraRun run = Run({Logon("reader", "secret")});
  EXPECT_EQ(run.Variable("UserName"), "reader");
  EXPECT_EQ(run.Variable("UserPass"), "true");
  EXPECT_EQ(run.Variable("UserID"), "U100");
  EXPECT_EQ(RequestLines(),
            (std::vector<std::string>{"GET /login4shelf.aspx?username=reader&password=" +
                                      Md5(kSalt + "secret") + " HTTP/1.0"}));
  EXPECT_TRUE(fs::is_directory(home_ / "prog/reader/downloaded"));
  EXPECT_EQ(ListItems(home_ / "prog/reader/reader.xml"), std::vector<std::string>{});
  std::unique_ptr<CXmlFileObject> shelf;
  ASSERT_TRUE(CXmlFileObject::Open(&shelf, (home_ / "prog/reader/reader.xml").c_str()));
  EXPECT_EQ(shelf->GetGroupCount(), 5);
  EXPECT_EQ(Utf8(shelf->root_name()), "书架");
  EXPECT_TRUE(run.All("dialog").empty());
}

TEST_F(SignInTest, ARefusedSignInMakesNothingAndKeepsNoPassword) {
  LumoraRun run = Run({Logon("reader", "wrong"), Logon("nobody", "secret")});
  EXPECT_EQ(run.Variable("UserName"), "nobody");
  EXPECT_EQ(run.Variable("UserPass"), "false");
  EXPECT_EQ(run.Variable("UserID"), "<unset>");
  EXPECT_TRUE(fs::is_empty(home_ / "prog"));
  for (const std::string& line : run.raw) EXPECT_EQ(line.find("wrong"), std::string::npos);
  EXPECT_EQ(log_.Read("requests").find("secret"), std::string::npos);
}

TEST_F(SignInTest, AnExistingUserKeepsTheShelfAndGetsTheDownloadFolderBack) {
  home_.Write("prog/reader/reader.xml", "kept as it is");
  LumoraRun run = Run({Logon("reader", "secret")});
  EXPECT_EQ(run.Variable("UserPass"), "true");
  EXPECT_EQ(home_.Read("prog/reader/reader.xml"), "kept as it is");
  EXPECT_TRUE(fs::is_directory(home_ / "prog/reader/downloaded"));
}

TEST_F(SignInTest, NamesAreEscapedTheServicesWayAndChineseGoesInTheCodePage) {
  LumoraRun run = Run({Logon("a b&c=d;", "pw"), Logon("读者", "密码")});
  EXPECT_EQ(run.Variable("UserPass"), "true");
  EXPECT_EQ(run.Variable("UserID"), "U300");
  const std::vector<std::string> lines = RequestLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "GET /login4shelf.aspx?username=a+b%26c%3Dd%3B&password=" +
                          Md5(kSalt + "pw") + " HTTP/1.0");
  // The name's bytes in the code page, unescaped; the digest over the code page's bytes.
  EXPECT_EQ(lines[1], "GET /login4shelf.aspx?username=" + Gb("读者") +
                          "&password=" + Md5(kSalt + Gb("密码")) + " HTTP/1.0");
  EXPECT_TRUE(fs::is_directory(home_ / "prog/读者/downloaded"));
  EXPECT_TRUE(fs::is_regular_file(home_ / "prog/读者/读者.xml"));
  EXPECT_TRUE(fs::is_directory(home_ / "prog/a b&c=d;/downloaded"));
}

TEST_F(SignInTest, ANameThatCannotBeAFolderIsRefusedAsOne) {
  LumoraRun run = Run({Logon("..", "pw"), Command("addfav", "a=|c=search.xml|g=g|i=i")});
  EXPECT_EQ(run.Variable("UserPass"), "true");
  auto dialogs = run.All("dialog");
  ASSERT_EQ(dialogs.size(), 2u);
  EXPECT_EQ(dialogs[0]["text"], "不能创建目录 ");
  // Without a shelf the favourite has nowhere to go; the user is told.
  EXPECT_EQ(dialogs[1]["text"], "请先登录");
  // Nothing was made beside the program folder, and no shelf was recorded.
  EXPECT_TRUE(fs::is_empty(home_ / "prog"));
  EXPECT_FALSE(fs::exists(home_ / "...xml"));
  EXPECT_FALSE(fs::exists(home_ / "downloaded"));
}

TEST_F(SignInTest, AfterARefusedNameTheEarlierShelfIsLeftAlone) {
  home_.Write("data/vellari/public/book/book1.xml",
              CatalogueXml(GroupXml("g1", ItemXml("b1", "一") + ItemXml("b2", "二"))));
  LumoraRun run = Run({Logon("reader", "secret"), Logon("a/b", "pw"), Command("yigoumai", ""),
                       Command("read", "a=|c=public/book/book1.xml|g=g1|i=b1")});
  EXPECT_EQ(run.Variable("UserID"), "U600");
  // U600's purchase and the read item went nowhere: reader's shelf is as it was made.
  EXPECT_EQ(ListItems(home_ / "prog/reader/reader.xml"), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(home_ / "prog/a"));
}

TEST_F(SignInTest, ANameWhoseSecondByteIsABackslashIsAFolderLikeAnyOther) {
  // 乗 is 81 5C in the code page: its second byte is "\", an ordinary character here.
  LumoraRun run = Run({Logon("乗", "pw")});
  EXPECT_EQ(run.Variable("UserPass"), "true");
  EXPECT_TRUE(run.All("dialog").empty());
  EXPECT_TRUE(fs::is_regular_file(home_ / "prog/乗/乗.xml"));
}

TEST_F(SignInTest, ShelfCommandsSayWhenNobodySignedInOrTheShelfCannotBeSaved) {
  home_.Write("data/vellari/public/book/book1.xml",
              CatalogueXml(GroupXml("g1", ItemXml("b1", "一") + ItemXml("b2", "二"))));
  // reader's shelf is there already, read-only: as full a disk as a test can make.
  home_.Write("prog/reader/reader.xml",
              CatalogueXml(GroupXml("我的收藏", ItemXml("b1", "一")), "书架"));
  ASSERT_EQ(chmod((home_ / "prog/reader/reader.xml").c_str(), 0444), 0);
  const std::string shelf = home_.Read("prog/reader/reader.xml");
  const std::string book = "a=|c=public/book/book1.xml|g=g1|i=b2";
  const std::string down = "a=|c=public/book/book1.xml|g=g1|i=b2|u=http://127.0.0.1:1/b.pdf";
  LumoraRun run = Run({Command("down", down), Command("downloading", "i=b2|s=true|n=n|u=x"),
                       Command("addfav", book), Command("read", book), Command("yigoumai", ""),
                       Logon("reader", "secret"), Command("addfav", book), Command("read", book),
                       Command("Del", "a=|c=reader/reader.xml|g=我的收藏|i=b1"),
                       Command("yigoumai", ""), Command("down", down)});
  std::vector<std::string> texts;
  for (const Json& d : run.All("dialog")) texts.push_back(d["text"]);
  const std::string sign_in = "请先登录", cannot_save = "保存失败：磁盘已满或文件无法写入";
  EXPECT_EQ(texts,
            (std::vector<std::string>{sign_in, sign_in, sign_in, sign_in, sign_in, cannot_save,
                                      cannot_save, cannot_save, cannot_save, cannot_save}));
  EXPECT_EQ(home_.Read("prog/reader/reader.xml"), shelf);
  // The download whose item could not be recorded was not started.
  for (const Json& entry : run.All("log"))
    EXPECT_EQ(entry.get<std::string>().find("二"), std::string::npos) << entry;
  for (const Json& v : run.All("setVariable"))
    EXPECT_NE(v["name"].get<std::string>().rfind("DLRatio", 0), 0u) << v.dump();
}

TEST_F(SignInTest, PurchasesAreMergedIntoTheShelfByCategory) {
  home_.Write("data/vellari/public/book/book1.xml",
              CatalogueXml(GroupXml("g1", ItemXml("b1", "一") + ItemXml("b2", "二"))));
  home_.Write("data/vellari/public/maga/maga1.xml",
              CatalogueXml(GroupXml("g7", ItemXml("m9", "九"))));
  LumoraRun run =
      Run({Command("yigoumai", ""), Logon("reader", "secret"), Command("yigoumai", "")});
  const std::vector<std::string> lines = RequestLines();
  ASSERT_EQ(lines.size(), 3u);
  // Before any sign-in: an empty id, and the digest of the empty text.
  EXPECT_EQ(lines[0],
            "GET /GetBuyedList.aspx?UserID=&p=d41d8cd98f00b204e9800998ecf8427e "
            "HTTP/1.0");
  EXPECT_EQ(lines[2], "GET /GetBuyedList.aspx?UserID=U100&p=" + Md5("U100") + " HTTP/1.0");
  // 书刊文档 is a books category; the magazine's group is not there, so it is found in
  // any group.
  EXPECT_EQ(ListItems(home_ / "prog/reader/reader.xml"),
            (std::vector<std::string>{"已购买/b2=二", "已购买/m9=九"}));
  // The movie hears how each import ended: the first found no shelf.
  std::vector<std::string> ends;
  for (const Json& v : run.All("setVariable"))
    if (v["name"] == "RetValYigoumai") ends.push_back(v["value"]);
  EXPECT_EQ(ends, (std::vector<std::string>{"false", "true"}));
  // Only the first, before the sign-in, said something.
  auto dialogs = run.All("dialog");
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0]["text"], "请先登录");
}

TEST_F(SignInTest, TwoProgramsSignedInAtOnceKeepEachOthersFavourites) {
  // Two programs in one program folder with one data folder, the same user signed in to
  // both, each adding favourites of its own while the other does. The catalogue is large
  // enough that each copy takes a while, so that their changes overlap.
  constexpr int kEach = 15;
  std::string items;
  for (int i = 0; i < 600; ++i) items += ItemXml("b" + std::to_string(i), "书" + std::to_string(i));
  home_.Write("data/vellari/public/book/book1.xml", CatalogueXml(GroupXml("g", items)));
  RunningLumora programs[2] = {RunningLumora(Options()), RunningLumora(Options())};
  for (RunningLumora& program : programs) {
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.Send(Logon("reader", "secret")));
    // Answered once the whole sign-in is over: the program takes its input in order.
    ASSERT_TRUE(program.Send(R"({"getVariable":"UserID"})"));
  }
  for (RunningLumora& program : programs)
    ASSERT_TRUE(program.WaitForOutput({R"({"variable":{"name":"UserID")"}, 20000))
        << program.Errors();
  std::vector<std::string> expected;
  for (int i = 0; i < kEach; ++i) {
    for (int p = 0; p < 2; ++p) {
      const std::string id = "b" + std::to_string(p * 100 + i);
      ASSERT_TRUE(programs[p].Send(Command("addfav", "a=|c=public/book/book1.xml|g=g|i=" + id)));
      expected.push_back("我的收藏/" + id + "=书" + std::to_string(p * 100 + i));
    }
  }
  for (RunningLumora& program : programs) program.CloseInput();
  for (RunningLumora& program : programs) {
    EXPECT_EQ(program.Wait(60000), 0) << program.Errors();
    EXPECT_EQ(program.Output().find(R"({"dialog":)"), std::string::npos) << program.Output();
  }
  std::vector<std::string> kept = ListItems(home_ / "prog/reader/reader.xml");
  std::sort(kept.begin(), kept.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(kept, expected) << kept.size() << " of " << expected.size() << " kept";
  EXPECT_EQ(ListItems(home_ / "data/vellari/public/book/book1.xml").size(), 600u);
}

}  // namespace
