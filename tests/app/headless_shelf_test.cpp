// The shelf commands and dropped files, through the whole program on its automation
// interface, with real catalogue files in temporary folders.
#include <gtest/gtest.h>

#include <filesystem>

#include "../library/catalogue_text.h"
#include "../support/lumora_process.h"
#include "../support/running_lumora.h"
#include "../support/secret_service.h"
#include "../support/temp_dir.h"
#include "../support/vendor_process.h"

using library::CXmlElement;
using library::CXmlFileObject;
using library::CXmlGroup;

namespace {

std::string Command(const std::string& command, const std::string& args) {
  return Json{{"fscommand", command}, {"args", args}}.dump();
}
std::string Answer(const Json& answer) { return Json{{"answer", answer}}.dump(); }

class ShelfCommandsTest : public ::testing::Test {
 protected:
  ShelfCommandsTest() { home_.MakeDir("prog"); }
  LumoraRun Run(const std::vector<std::string>& script) {
    LumoraOptions o;
    o.cwd = home_ / "prog";
    o.env = {{"XDG_DATA_HOME", home_ / "data"}};
    LumoraRun run = RunLumora(o, script);
    EXPECT_EQ(run.exit_code, 0) << run.stderr_text;
    return run;
  }
  std::vector<Json> Dialogs(const LumoraRun& run, const std::string& kind) {
    std::vector<Json> found;
    for (const Json& d : run.All("dialog"))
      if (d["kind"] == kind) found.push_back(d);
    return found;
  }
  std::string Local() const { return home_ / "data/vellari/public/local/local1.xml"; }
  // Index of the event that sets |name|.
  static std::size_t SetIndex(const LumoraRun& run, const std::string& name) {
    for (std::size_t i = 0; i < run.events.size(); ++i)
      if (run.events[i].contains("setVariable") && run.events[i]["setVariable"]["name"] == name)
        return i;
    return run.events.size();
  }
  TempDir home_;
};

TEST_F(ShelfCommandsTest, OpenFileOffersTheFiltersInOrderAndAnswersWhenCancelled) {
  LumoraRun run = Run({Command("openfile", "")});
  auto choosers = Dialogs(run, "openFiles");
  ASSERT_EQ(choosers.size(), 1u);
  EXPECT_EQ(choosers[0]["answer"], "cancel");
  Json names = Json::array();
  for (const Json& f : choosers[0]["filters"]) names.push_back(f["name"]);
  EXPECT_EQ(names, (Json{"所有文件(*.*)", "SLR文件(*.slr)", "SLA文件(*.sla)", "WMA文件(*.wma)",
                         "WMV文件(*.wmv)", "EXE文件(*.exe)", "Office文件(*.doc;*.ppt;*.xls)",
                         "PDF文件(*.pdf)"}));
  EXPECT_EQ(choosers[0]["filters"][6]["patterns"], "*.doc;*.docx;*.ppt;*.pptx;*.xls;*.xlsx;*.txt");
  EXPECT_TRUE(Dialogs(run, "bookInfo").empty());
  EXPECT_EQ(run.Variable("AddLocalFileRetValue"), "true");
}

TEST_F(ShelfCommandsTest, OpenFileAddsEachChosenFileAfterItsBookInformation) {
  home_.MakeDir("data/vellari/public/local");
  const std::string pdf = home_ / "书/Report.PDF", epub = home_ / "书/novel.epub";
  home_.Write("书/Report.PDF", "%PDF");
  home_.Write("书/novel.epub", "PK");
  LumoraRun run =
      Run({Answer({{"files", {pdf, epub}}}), Answer({{"title", "新书"}, {"issue", "第1期"}}),
           Answer("cancel"), Command("openfile", "")});
  auto forms = Dialogs(run, "bookInfo");
  ASSERT_EQ(forms.size(), 2u);
  EXPECT_EQ(forms[0]["caption"], "图书信息");
  EXPECT_EQ(forms[0]["fields"], (Json{{"path", pdf},
                                      {"title", "新书"},
                                      {"issue", "第1期"},
                                      {"cover", "/public/local/LocalDefaultPdfPic.jpg"}}));
  EXPECT_EQ(forms[1]["fields"]["title"], "novel.epub");
  EXPECT_EQ(forms[1]["answer"], "cancel");
  EXPECT_EQ(ListItems(Local()).size(), 1u);
  std::unique_ptr<CXmlFileObject> local;
  ASSERT_TRUE(CXmlFileObject::Open(&local, Local().c_str()));
  CXmlGroup* group = nullptr;
  ASSERT_TRUE(local->FindGroup(Gb("pdf文件").c_str(), &group));
  CXmlElement* item = nullptr;
  ASSERT_TRUE(group->GetItemAt(0, &item));
  EXPECT_EQ(item->name(), Gb("新书"));
  EXPECT_EQ(item->date(), Gb("第1期"));
  EXPECT_EQ(item->rd_url(), Gb(pdf));
  EXPECT_GT(SetIndex(run, "AddLocalFileRetValue"),
            run.IndexOf("dialog", run.IndexOf("dialog") + 2));
}

TEST_F(ShelfCommandsTest, DroppedFilesAreAddedInOrderThenAnsweredOnce) {
  home_.MakeDir("data/vellari/public/local");
  const std::vector<std::string> files = {home_ / "a.pdf", home_ / "b.wmv", home_ / "c.txt"};
  for (const char* name : {"a.pdf", "b.wmv", "c.txt"}) home_.Write(name, "");
  LumoraRun run = Run({Answer("ok"), Answer("ok"), Answer("ok"), Json{{"drop", files}}.dump()});
  auto forms = Dialogs(run, "bookInfo");
  ASSERT_EQ(forms.size(), 3u);
  for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(forms[i]["fields"]["path"], files[i]);
  EXPECT_EQ(run.All("setVariable").back()["name"], "AddLocalFileRetValue");
  std::size_t answered = SetIndex(run, "AddLocalFileRetValue");
  EXPECT_EQ(run.IndexOf("setVariable", answered + 1), run.events.size());  // once, last
  std::vector<std::string> items = ListItems(Local());
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].substr(0, items[0].find('/')), "pdf文件");
  EXPECT_EQ(items[1].substr(0, items[1].find('/')), "txt文件");
  EXPECT_EQ(items[2].substr(0, items[2].find('/')), "wmv文件");
}

TEST_F(ShelfCommandsTest, SearchAnswersTrueOnceItsHitsAreWritten) {
  LumoraRun nothing = Run({Command("search", "garbled")});
  EXPECT_EQ(nothing.Variable("RetValSearch"), "true");
  EXPECT_TRUE(ListItems(home_ / "prog/search.xml").empty());

  home_.Write("data/vellari/public/audio/audio1.xml",
              CatalogueXml(GroupXml("a", ItemXml("a1", "有声 Book") + ItemXml("a2", "other"))));
  // A results file cut short by an earlier run is replaced by the new hits.
  const std::string stale = CatalogueXml(GroupXml("搜索结果", ItemXml("s", "stale")));
  home_.Write("prog/search.xml", stale.substr(0, stale.size() - 20));
  LumoraRun run = Run({Command("search", "f=search.xml|k=Book|c=音频&杂志")});
  EXPECT_EQ(run.Variable("RetValSearch"), "true");
  EXPECT_EQ(ListItems(home_ / "prog/search.xml"),
            std::vector<std::string>{"搜索结果/a1=有声 Book"});
}

TEST_F(ShelfCommandsTest, DelRemovesItemsButNeverLeavesItsFolders) {
  const std::string catalogue =
      CatalogueXml(GroupXml("pdf文件", ItemXml("local_1", "a") + ItemXml("local_2", "b")));
  home_.Write("data/vellari/public/local/local1.xml", catalogue);
  home_.Write("prog/mine.xml", catalogue);
  home_.Write("outside.xml", catalogue);
  Run({Command("Del", "t=1|f=public/local/local1.xml|g=pdf文件|i=local_1"),
       Command("Del", "t=1|f=mine.xml|g=pdf文件|i=local_2"),
       Command("del", "t=1|f=mine.xml|g=pdf文件|i=local_1"),        // wrong case: ignored
       Command("Del", "t=1|f=../outside.xml|g=pdf文件|i=local_1"),  // leaves its folder
       Command("Del", "t=1|f=mine.xml|g=pdf文件")});                // no item id
  EXPECT_EQ(ListItems(Local()), std::vector<std::string>{"pdf文件/local_2=b"});
  EXPECT_EQ(ListItems(home_ / "prog/mine.xml"), std::vector<std::string>{"pdf文件/local_1=a"});
  EXPECT_EQ(home_.Read("outside.xml"), catalogue);
}

TEST_F(ShelfCommandsTest, FavouritesNeedASignedInUser) {
  home_.Write("data/vellari/public/book/book1.xml", CatalogueXml(GroupXml("g", ItemXml("b", "b"))));
  const std::string before = home_.Read("data/vellari/public/book/book1.xml");
  // Not signed in: "UserPass" is unset, then set by the movie without a sign-in.
  LumoraRun run = Run({Command("addfav", "t=1|f=public/book/book1.xml|g=g|i=b"),
                       Json{{"setVariable", {{"name", "UserPass"}, {"value", "true"}}}}.dump(),
                       Command("read", "t=1|f=public/book/book1.xml|g=g|i=b")});
  EXPECT_EQ(home_.Read("data/vellari/public/book/book1.xml"), before);
  // Each is told that a sign-in comes first.
  auto dialogs = Dialogs(run, "message");
  ASSERT_EQ(dialogs.size(), 2u);
  for (const Json& d : dialogs) EXPECT_EQ(d["text"], "请先登录");
  std::vector<std::string> written;
  for (const auto& e : std::filesystem::directory_iterator(home_ / "prog"))
    written.push_back(e.path().filename());
  EXPECT_TRUE(written.empty());
}

// The OPDS catalogues against the vendor's own: added, opened (navigation and
// acquisition pages), searched through the OpenSearch description, a hostile feed, a
// catalogue behind HTTP Basic with a password given and one asked for (and refused),
// removed; an address holding a password refused; one added without a user asked for
// both on a 401, none asked on a 404; one given a wrong password asked for the right one.
TEST_F(ShelfCommandsTest, OpdsCataloguesAreAddedOpenedSearchedAndRemoved) {
  TempDir vendor_root;
  vendor_root.Write("accounts.txt", "reader\tsecret\tU100\n");
  VendorProcess vendor(
      {"--root", vendor_root.path(), "--opds-entries", "30", "--opds-page-size", "10"});
  const std::string base = "http://127.0.0.1:" + std::to_string(vendor.port());
  auto opds = [](const std::string& args) { return Command("opds", args); };
  auto ended = [](const std::string& key) {
    return [key](const Json& e) {
      return e.contains("setVariable") && e["setVariable"]["name"] == "DownloadResult" &&
             e["setVariable"]["value"].get<std::string>().rfind(key + "|", 0) == 0;
    };
  };
  auto page_of = [](const std::string& ticket) {
    return [ticket](const Json& e) {
      return e.contains("setVariable") && e["setVariable"]["name"] == "OpdsPage" &&
             e["setVariable"]["value"].get<std::string>().rfind("ticket=" + ticket + "|", 0) == 0;
    };
  };
  const std::vector<std::string> script = {
      opds("op=add|name=本地书库|url=" + base + "/opds/|user=|password="),
      opds("op=add|name=|url=ftp://x/|user=|password="),
      opds("op=open|id=o1|url=|ticket=t1"),
      opds("op=open|id=o1|url=" + base + "/opds/books?page=1|ticket=t2"),
      opds("op=search|id=o1|terms=卷|ticket=t3"),
      opds("op=open|id=o1|url=" + base + "/opds/hostile/entities|ticket=t4"),
      opds("op=open|id=o1|url=|ticket=../x"),
      opds("op=add|name=|url=" + base + "/opds-basic/|user=reader|password=secret"),
      opds("op=open|id=o2|url=|ticket=t5"),
      // The same server under another host name: no credentials go there.
      opds("op=open|id=o2|url=http://localhost:" + std::to_string(vendor.port()) +
           "/opds-basic/|ticket=t7"),
      // A title with "/" names a file all the same.
      opds("op=down|id=o1|url=" + base + "/opds/files/0.epub|name=b/0|key=opds-0"),
      opds("op=down|id=o2|url=" + base + "/opds-basic/files/1.pdf|name=b1|key=opds-1"),
      Command("logon", "u=reader|p=secret|x=|y="),
      opds("op=down|id=o1|url=" + base + "/opds/files/2.epub|name=二|key=opds-2"),
      opds("op=add|name=Asked|url=" + base + "/opds-basic/|user=reader|password="),
      Answer({{"password", "wrong"}}),
      opds("op=open|id=o3|url=|ticket=t6"),
      opds("op=remove|id=o2"),
      opds("op=remove|id=o2"),
      // A password in the address would stand in the list and the movie's variables.
      opds("op=add|name=|url=http://reader:secret@" + base.substr(7) +
           "/opds-basic/|user=|password="),
      // Added without a user (a password alone is not sent): its server's 401 asks for
      // both; a 404 asks for nothing.
      opds("op=add|name=NoUser|url=" + base + "/opds-basic/|user=|password=alone"),
      Answer({{"user", "reader"}, {"password", "secret"}}),
      opds("op=open|id=o4|url=|ticket=t8"),
      opds("op=add|name=Missing|url=" + base + "/opds/|user=reader|password="),
      opds("op=open|id=o5|url=" + base + "/opds/missing|ticket=t9"),
      // A password given wrong: its server's 401 asks for the right one.
      opds("op=add|name=Wrong|url=" + base + "/opds-basic/|user=reader|password=wrong"),
      Answer({{"user", "reader"}, {"password", "secret"}}),
      opds("op=open|id=o6|url=|ticket=t10"),
  };
  LumoraOptions o;
  o.cwd = home_ / "prog";
  // A session bus that is not there: no secret store runs, nothing is kept.
  const std::string host = "127.0.0.1:" + std::to_string(vendor.port());
  o.env = {{"XDG_DATA_HOME", home_ / "data"},
           {"LUMORA_LOGIN_HOST", host},
           {"LUMORA_SHOP_HOST", host},
           {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (home_ / "no-bus")}};
  o.gates = {{3, page_of("t1")},    {4, page_of("t2")},    {5, page_of("t3")},
             {6, page_of("t4")},    {9, page_of("t5")},    {10, page_of("t7")},
             {11, ended("opds-0")}, {12, ended("opds-1")}, {14, ended("opds-2")},
             {17, page_of("t6")},   {23, page_of("t8")},   {25, page_of("t9")},
             {28, page_of("t10")}};
  LumoraRun run = RunLumora(o, script);
  ASSERT_EQ(run.exit_code, 0) << run.stderr_text;
  std::vector<std::string> results, pages, lists;
  for (const Json& v : run.All("setVariable")) {
    if (v["name"] == "OpdsResult") results.push_back(v["value"]);
    if (v["name"] == "OpdsPage") pages.push_back(v["value"]);
    if (v["name"] == "OpdsCatalogues") lists.push_back(v["value"]);
  }
  EXPECT_EQ(results, (std::vector<std::string>{
                         "add|0|o1", "add|1|目录地址无效：只能是 http 或 https 地址", "add|0|o2",
                         "add|0|o3", "remove|0|o2", "remove|1|没有这个目录",
                         "add|1|目录地址不能含用户名或密码：请分别填写", "add|0|o4", "add|0|o5",
                         "add|0|o6"}));
  ASSERT_EQ(lists.size(), 8u);  // at start-up, six additions, one removal
  EXPECT_EQ(lists[0], "");
  EXPECT_EQ(lists[4], "id=o1|name=本地书库|url=" + base + "/opds/|user=\nid=o3|name=Asked|url=" +
                          base + "/opds-basic/|user=reader");
  ASSERT_EQ(pages.size(), 10u) << run.stderr_text;
  EXPECT_EQ(pages[0], "ticket=t1|code=0|path=public/opds/o1/t1.xml");
  const std::string root = home_.Read("data/vellari/public/opds/o1/t1.xml");
  EXPECT_NE(root.find("<opds title=\"Lumora test catalogue\" next=\"\" search=\"1\">"),
            std::string::npos)
      << root;
  EXPECT_NE(root.find("nav=\"" + base + "/opds/books?page=1\" acq=\"\" type=\"\" formats=\"\"/>"),
            std::string::npos)
      << root;
  EXPECT_EQ(pages[1], "ticket=t2|code=0|path=public/opds/o1/t2.xml");
  const std::string books = home_.Read("data/vellari/public/opds/o1/t2.xml");
  EXPECT_NE(books.find("next=\"" + base + "/opds/books?page=2\""), std::string::npos) << books;
  EXPECT_NE(books.find("cover=\"" + base + "/opds/covers/0.png\""), std::string::npos);
  EXPECT_NE(books.find("acq=\"" + base +
                       "/opds/files/0.epub\" type=\"application/epub+zip\" formats=\"EPUB PDF\""),
            std::string::npos)
      << books;
  EXPECT_NE(
      books.find("acq=\"" + base + "/opds/files/9.djvu\" type=\"image/vnd.djvu\" formats=\"DJVU\""),
      std::string::npos);
  EXPECT_EQ(pages[2], "ticket=t3|code=0|path=public/opds/o1/t3.xml");
  const std::string found = home_.Read("data/vellari/public/opds/o1/t3.xml");
  EXPECT_NE(found.find("title=\"西游记 第7卷\""), std::string::npos) << found;
  EXPECT_EQ(found.find("title=\"red"), std::string::npos);
  EXPECT_EQ(pages[3].rfind("ticket=t4|code=9|message=不是 OPDS 目录: ", 0), 0u) << pages[3];
  EXPECT_FALSE(std::filesystem::exists(home_ / "data/vellari/public/opds/o1/t4.xml"));
  EXPECT_EQ(pages[4], "ticket=t5|code=0|path=public/opds/o2/t5.xml");
  // Another host: refused, and nobody asked (no user was sent there).
  EXPECT_EQ(pages[5].rfind("ticket=t7|code=6|", 0), 0u) << pages[5];
  // Asked once, refused: the server's answer, and no page.
  EXPECT_EQ(pages[6].rfind("ticket=t6|code=6|", 0), 0u) << pages[6];
  EXPECT_EQ(pages[7], "ticket=t8|code=0|path=public/opds/o4/t8.xml");
  EXPECT_EQ(pages[8].rfind("ticket=t9|code=6|", 0), 0u) << pages[8];
  EXPECT_EQ(pages[9], "ticket=t10|code=0|path=public/opds/o6/t10.xml");
  auto forms = Dialogs(run, "opdsLogin");
  ASSERT_EQ(forms.size(), 3u);
  EXPECT_EQ(forms[0]["caption"], "Asked");
  // The password given is used, never reported.
  EXPECT_EQ(forms[0]["fields"], (Json{{"user", "reader"}, {"password", ""}}));
  EXPECT_EQ(forms[1]["caption"], "NoUser");
  EXPECT_EQ(forms[1]["fields"], (Json{{"user", "reader"}, {"password", ""}}));
  EXPECT_EQ(forms[2]["caption"], "Wrong");
  // Downloads: nobody signed in into the data folder's downloads/ (the second with the
  // catalogue's password), then into the signed-in user's 已下载.
  std::vector<std::string> downloads;
  for (const Json& v : run.All("setVariable"))
    if (v["name"] == "DownloadResult") downloads.push_back(v["value"]);
  EXPECT_EQ(downloads, (std::vector<std::string>{"opds-0|0|", "opds-1|0|", "opds-2|0|"}));
  EXPECT_GE(std::filesystem::file_size(home_ / "data/vellari/downloads/b_0-0.epub"), 4096u);
  EXPECT_GE(std::filesystem::file_size(home_ / "data/vellari/downloads/b1-1.pdf"), 4096u);
  EXPECT_GE(std::filesystem::file_size(home_ / "prog/reader/downloaded/二-2.epub"), 4096u);
  EXPECT_EQ(ListItems(home_ / "prog/reader/reader.xml"),
            std::vector<std::string>{"已下载/opds-2=二"});
  // Removed with its pages; the list holds no password.
  EXPECT_FALSE(std::filesystem::exists(home_ / "data/vellari/public/opds/o2"));
  EXPECT_EQ(home_.Read("data/vellari/public/opds/catalogues.txt"),
            "#next=7\no1\t" + Gb("本地书库") + "\t" + base + "/opds/\t\no3\tAsked\t" + base +
                "/opds-basic/\treader\no4\tNoUser\t" + base + "/opds-basic/\t\no5\tMissing\t" +
                base + "/opds/\treader\no6\tWrong\t" + base + "/opds-basic/\treader\n");
}

// With a real secret store (gnome-keyring on a session bus of the test's own): the
// password given with a catalogue is kept there and in no file; the next run opens the
// catalogue without asking, and serves the movie while the store is slow to answer;
// removing the catalogue forgets the password, so that the same address and user are
// asked for one again.
TEST_F(ShelfCommandsTest, OpdsPasswordsAreKeptInTheSecretStore) {
  SecretService store;
  ASSERT_TRUE(store.ready()) << store.error();
  const std::string password = "Kept-9xQ-pass";
  TempDir vendor_root;
  vendor_root.Write("accounts.txt", "reader\t" + password + "\tU100\n");
  VendorProcess vendor({"--root", vendor_root.path(), "--opds-entries", "3"});
  const std::string url = "http://127.0.0.1:" + std::to_string(vendor.port()) + "/opds-basic/";
  auto opds = [](const std::string& args) { return Command("opds", args); };
  LumoraOptions o;
  o.cwd = home_ / "prog";
  o.env = {{"XDG_DATA_HOME", home_ / "data"},
           {"XDG_CONFIG_HOME", home_ / "config"},
           {"DBUS_SESSION_BUS_ADDRESS", store.address()}};
  o.gates = {{2, [](const Json& e) {
                return e.contains("setVariable") && e["setVariable"]["name"] == "OpdsPage";
              }}};
  LumoraRun first =
      RunLumora(o, {opds("op=add|name=Kept|url=" + url + "|user=reader|password=" + password),
                    opds("op=open|id=o1|url=|ticket=t1")});
  ASSERT_EQ(first.exit_code, 0) << first.stderr_text;
  EXPECT_EQ(first.Variable("OpdsPage"), "ticket=t1|code=0|path=public/opds/o1/t1.xml");
  for (const auto& entry : std::filesystem::recursive_directory_iterator(home_.path())) {
    if (!entry.is_regular_file()) continue;
    EXPECT_EQ(home_.Read(std::filesystem::relative(entry.path(), home_.path())).find(password),
              std::string::npos)
        << entry.path();
  }

  o.gates.clear();
  RunningLumora second(o);
  ASSERT_TRUE(second.started());
  // The store takes the look-up and does not answer yet: the program still answers.
  store.Pause();
  ASSERT_TRUE(second.Send(opds("op=open|id=o1|url=|ticket=t2")));
  ASSERT_TRUE(second.Send(opds("op=remove|id=o9")));
  EXPECT_TRUE(second.WaitForOutput({"remove|1|"}, 10000)) << second.Output();
  EXPECT_EQ(second.Output().find("ticket=t2|"), std::string::npos);
  store.Resume();
  EXPECT_TRUE(second.WaitForOutput({"ticket=t2|code=0|"}, 10000)) << second.Output();
  // Removed: the password goes with it, and a catalogue of the same address and user
  // finds none kept (the form asked is cancelled, the server refuses).
  ASSERT_TRUE(second.Send(opds("op=remove|id=o1")));
  ASSERT_TRUE(second.Send(opds("op=add|name=Again|url=" + url + "|user=reader|password=")));
  ASSERT_TRUE(second.Send(opds("op=open|id=o2|url=|ticket=t3")));
  EXPECT_TRUE(second.WaitForOutput({"ticket=t3|code="}, 10000)) << second.Output();
  second.CloseInput();
  EXPECT_EQ(second.Wait(10000), 0) << second.Errors();
  const std::string output = second.Output();
  EXPECT_NE(output.find("remove|0|o1"), std::string::npos) << output;
  EXPECT_NE(output.find("ticket=t3|code=6|"), std::string::npos) << output;
  EXPECT_EQ(output.find("\"opdsLogin\""), output.rfind("\"opdsLogin\"")) << output;
  EXPECT_LT(output.find("\"opdsLogin\""), output.find("ticket=t3|")) << output;
}

}  // namespace
