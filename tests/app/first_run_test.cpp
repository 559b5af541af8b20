// The first start on a fresh machine, through the whole program on its automation
// interface: the local vendor service publishes the shelf's own content as
// tools/shelf/publish lays it out for scripts/run, and the program, started in "auto"
// mode on the service's server list with a data folder that does not exist yet, fills
// that folder through its updater. A second start finds everything up to date; a test
// account imports its purchases and downloads one of them. Over https, the same with a
// service whose certificate the test's own CA signs, and only with that CA trusted.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "../library/catalogue_text.h"
#include "../support/command.h"
#include "../support/lumora_process.h"
#include "../support/temp_dir.h"
#include "../support/test_ca.h"
#include "../support/vendor_process.h"

namespace {

namespace fs = std::filesystem;
using library::CXmlElement;
using library::CXmlFileObject;
using library::CXmlGroup;

std::string Command(const std::string& command, const std::string& args) {
  return Json{{"fscommand", command}, {"args", args}}.dump();
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The number of items a list of res/shelf names (its lines that are not comments).
std::size_t ListedItems(const std::string& category) {
  std::ifstream in(std::string(LUMORA_SOURCE_DIR) + "/res/shelf/" + category + ".txt");
  std::size_t count = 0;
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') ++count;
  return count;
}

// A gate that passes once |count| log entries containing |text| have been written.
ScriptGate AfterLogs(const std::string& text, std::size_t count, std::size_t before_line) {
  auto seen = std::make_shared<std::size_t>(0);
  return ScriptGate{before_line, [text, count, seen](const Json& event) {
                      if (event.is_object() && event.contains("log") &&
                          event["log"].get<std::string>().find(text) != std::string::npos)
                        ++*seen;
                      return *seen >= count;
                    }};
}

class FirstRunTest : public ::testing::Test {
 protected:
  FirstRunTest() { home_.MakeDir("prog"); }
  void SetUp() override { Serve(nullptr); }
  // Starts the service, over https with |tls| when given, and publishes the shelf on it.
  void Serve(const TestCa::Issued* tls) {
    std::vector<std::string> args = {"--root", root_.path()};
    if (tls != nullptr) args.insert(args.end(), {"--tls-cert", tls->cert, "--tls-key", tls->key});
    vendor_ = std::make_unique<VendorProcess>(args);
    host_ = std::string(tls != nullptr ? "https://" : "") +
            "127.0.0.1:" + std::to_string(vendor_->port());
    const CommandRun published =
        RunCommand({std::string(LUMORA_SOURCE_DIR) + "/tools/shelf/publish", LUMORA_SHELF_DIR,
                    root_.path(), host_, LUMORA_MANIFEST_BINARY});
    EXPECT_EQ(published.exit_code, 0) << published.err;
    EXPECT_EQ(published.err, "");
  }
  ~FirstRunTest() override {
    if (vendor_) {
      EXPECT_EQ(vendor_->Stop(), 0) << vendor_->Errors();
    }
  }

  LumoraRun Start(const std::vector<std::string>& script, std::vector<ScriptGate> gates) {
    LumoraOptions o;
    o.cwd = home_ / "prog";
    o.env = {{"XDG_DATA_HOME", home_ / "data"},
             {"LUMORA_SHOP_HOST", host_},
             {"LUMORA_LOGIN_HOST", host_}};
    if (!trust_file_.empty()) o.env.emplace_back("SSL_CERT_FILE", trust_file_);
    o.args = {(host_.starts_with("https://") ? "" : "http://") + host_ +
                  "/Storage/XmlFile/serverlist.txt",
              "auto"};
    o.gates = std::move(gates);
    o.timeout_ms = 120000;
    LumoraRun run = RunLumora(o, script);
    EXPECT_EQ(run.exit_code, 0) << run.stderr_text;
    return run;
  }

  static std::vector<std::string> Logs(const LumoraRun& run) {
    std::vector<std::string> logs;
    for (const Json& entry : run.All("log")) logs.push_back(entry.get<std::string>().substr(9));
    return logs;
  }

  // The release's files below the main server's folder, by their place below the data
  // home ("vellari/public/...").
  std::vector<std::string> Release() const {
    std::vector<std::string> files;
    const fs::path release = root_ / "update/main";
    for (const auto& entry : fs::recursive_directory_iterator(release))
      if (entry.is_regular_file()) files.push_back(entry.path().lexically_relative(release));
    std::sort(files.begin(), files.end());
    return files;
  }

  // The purchases of a test account, and one of them downloaded.
  void BuyAndDownload() {
    const std::string public_dir = home_ / "data/vellari/public/";
    std::unique_ptr<CXmlFileObject> books;
    ASSERT_TRUE(CXmlFileObject::Open(&books, (public_dir + "book/book1.xml").c_str()));
    CXmlElement* bought = nullptr;
    ASSERT_TRUE(books->FindItemInAnyGroup("b003", &bought));
    const std::string url = Utf8(bought->dl_url());
    ASSERT_TRUE(CXmlFileObject::Release(std::move(books), false));
    EXPECT_EQ(url.rfind(host_.starts_with("https://") ? "https://" : "http://", 0), 0u) << url;
    Start({Command("logon", "u=reader|p=secret|x=|y="), Command("yigoumai", ""),
           Command("down", "a=|c=public/book/book1.xml|g=文学小说|i=b003|u=" + url)},
          {ScriptGate{3, [](const Json& event) {
                        return event.is_object() && event.contains("setVariable") &&
                               event["setVariable"]["name"] == "RetValDownloadEnd";
                      }}});
    EXPECT_EQ(
        ListItems(home_ / "prog/reader/reader.xml"),
        (std::vector<std::string>{"已购买/a009=晨光钢琴小品", "已购买/b003=河流的另一岸",
                                  "已购买/m004=山海图志 第18期", "已下载/b003=河流的另一岸"}));
    EXPECT_EQ(ReadBytes(home_ / "prog/reader/downloaded/河流的另一岸-b003.pdf"),
              ReadBytes(root_ / "Storage/Items/book/b003.pdf"));
  }

  TempDir home_, root_;
  std::unique_ptr<VendorProcess> vendor_;
  std::string host_;
  std::string trust_file_;  // SSL_CERT_FILE of the program, when not empty
};

TEST_F(FirstRunTest, TheUpdaterFillsAFreshDataFolderAndASecondStartFindsItUpToDate) {
  const std::vector<std::string> release = Release();
  ASSERT_GT(release.size(), 100u);
  ASSERT_FALSE(fs::exists(home_ / "data"));

  // The first start: the program ends once the release is installed, whole.
  LumoraRun first = Start({}, {AfterLogs("更新完毕", 1, 0)});
  EXPECT_EQ(first.Variable("FirstRun"), "true");
  const std::vector<std::string> logs = Logs(first);
  ASSERT_GE(logs.size(), 6u);
  EXPECT_EQ(logs[1], "获取服务器列表成功,共取得 2 个可选服务器");
  EXPECT_EQ(logs[2], "正在连接：主服务器");  // the last of the list is chosen
  // A program without release keys takes the release unverified, and says so.
  EXPECT_EQ(logs[4], "未找到发布密钥，更新文件未经签名验证");
  EXPECT_EQ(logs[5].rfind("需更新文件总数: " + std::to_string(release.size()) + ", ", 0), 0u)
      << logs[5];
  EXPECT_EQ(first.Variable("UpdateResult"), "ok");
  EXPECT_EQ(std::count_if(logs.begin(), logs.end(),
                          [](const std::string& s) { return s.rfind("下载文件失败", 0) == 0; }),
            0);

  // Every file of the release is in the data folder, as published: the five category
  // catalogues with their covers, the local catalogue with the default covers, the
  // settings file and RSS.opml.
  std::map<std::string, fs::file_time_type> times;
  for (const std::string& file : release) {
    const fs::path installed = home_ / ("data/" + file);
    ASSERT_TRUE(fs::is_regular_file(installed)) << file;
    EXPECT_EQ(ReadBytes(installed), ReadBytes(root_ / ("update/main/" + file))) << file;
    times[file] = fs::last_write_time(installed);
  }
  const std::string public_dir = home_ / "data/vellari/public/";
  for (const char* file :
       {"vellariInfo.xml", "RSS.opml", "local/local1.xml", "local/LocalDefaultPdfPic.jpg"})
    EXPECT_TRUE(fs::is_regular_file(public_dir + file)) << file;

  // The catalogues parse, hold the listed items with their covers and the shop's
  // addresses, and are stored exactly as the program writes them.
  for (const char* category : {"maga", "book", "audio", "mics", "video"}) {
    const std::string path = public_dir + category + "/" + category + "1.xml";
    std::unique_ptr<CXmlFileObject> file;
    ASSERT_TRUE(CXmlFileObject::Open(&file, path.c_str())) << path;
    std::size_t items = 0;
    for (int g = 0; g < file->GetGroupCount(); ++g) {
      CXmlGroup* group = nullptr;
      ASSERT_TRUE(file->GetGroupAt(g, &group));
      for (int i = 0; i < group->GetItemCount(); ++i) {
        CXmlElement* item = nullptr;
        ASSERT_TRUE(group->GetItemAt(i, &item));
        ++items;
        EXPECT_TRUE(fs::is_regular_file(home_ / ("data/vellari" + item->photo()))) << item->photo();
        EXPECT_EQ(item->dl_url().rfind("http://" + host_ + "/Storage/Items/", 0), 0u)
            << item->dl_url();
        EXPECT_EQ(item->pay() == "1", !item->by_url().empty()) << item->id();
        EXPECT_FALSE(Utf8(item->name()).empty());
      }
    }
    EXPECT_EQ(items, ListedItems(category)) << category;
    ASSERT_TRUE(CXmlFileObject::Release(std::move(file), false));
    TempDir copy;
    copy.Write("copy.xml", ReadBytes(path));
    ASSERT_TRUE(CXmlFileObject::Open(&file, (copy / "copy.xml").c_str()));
    ASSERT_TRUE(CXmlFileObject::Release(std::move(file), true));
    EXPECT_EQ(copy.Read("copy.xml"), ReadBytes(path)) << category;
  }

  // The second start: nothing to update, nothing installed again (the settings file is
  // the program's own to write: it records the applications of the shelf's documents).
  LumoraRun second = Start({}, {AfterLogs("你当前的版本是最新的", 1, 0)});
  EXPECT_EQ(second.Variable("FirstRun"), "false");
  for (const std::string& entry : Logs(second))
    EXPECT_EQ(entry.find("正在更新文件"), std::string::npos) << entry;
  times.erase("vellari/public/vellariInfo.xml");
  for (const auto& [file, time] : times)
    EXPECT_EQ(fs::last_write_time(home_ / ("data/" + file)), time) << file;

  // A test account imports what it bought and downloads one of the books.
  BuyAndDownload();
  EXPECT_EQ(ReadBytes(root_ / "Storage/Items/book/b003.pdf").rfind("%PDF-", 0), 0u);
}

// scripts/run's way: the release published with a secret key, the program with the
// public half beside it. The signed release is installed and recorded; published again
// without the key, its manifest is unsigned and refused.
TEST_F(FirstRunTest, AReleasePublishedWithAKeyIsInstalledByAProgramThatTrustsIt) {
  TempDir keys;
  ASSERT_EQ(RunCommand({LUMORA_MANIFEST_BINARY, "--generate-key", keys / "release-keys.pub",
                        keys / "release.sec"})
                .exit_code,
            0);
  fs::copy_file(keys / "release-keys.pub", home_ / "prog/release-keys.pub");
  const std::string publish = std::string(LUMORA_SOURCE_DIR) + "/tools/shelf/publish";
  const CommandRun signed_run = RunCommand({publish, LUMORA_SHELF_DIR, root_.path(), host_,
                                            LUMORA_MANIFEST_BINARY, keys / "release.sec"});
  ASSERT_EQ(signed_run.exit_code, 0) << signed_run.err;
  const std::string signature = ReadBytes(root_ / "update/main.xml.minisig");
  const std::size_t at = signature.find("trusted comment: release=");
  ASSERT_NE(at, std::string::npos) << signature;
  const std::string release = signature.substr(at + 25, signature.find(' ', at + 25) - (at + 25));

  LumoraRun first = Start({}, {AfterLogs("更新完毕", 1, 0)});
  EXPECT_EQ(first.Variable("UpdateResult"), "ok");
  for (const std::string& log : Logs(first))
    EXPECT_EQ(log.find("未找到发布密钥"), std::string::npos) << log;
  EXPECT_EQ(ReadBytes(home_ / "data/vellari/installed-release.txt"), release + "\n");

  const CommandRun unsigned_run =
      RunCommand({publish, LUMORA_SHELF_DIR, root_.path(), host_, LUMORA_MANIFEST_BINARY});
  ASSERT_EQ(unsigned_run.exit_code, 0) << unsigned_run.err;
  EXPECT_FALSE(fs::exists(root_ / "update/main.xml.minisig"));
  const LumoraRun second = Start({}, {AfterLogs("原因: 没有签名", 1, 0)});
  const std::vector<std::string> logs = Logs(second);
  EXPECT_NE(std::find(logs.begin(), logs.end(), "更新文件列表无效：主服务器, 原因: 没有签名"),
            logs.end());
}

// The service speaks https only, with a certificate of the test's own CA.
class FirstRunOverHttpsTest : public FirstRunTest {
 protected:
  void SetUp() override {
    const TestCa::Issued service = ca_.Issue("service", "IP:127.0.0.1");
    Serve(&service);
  }
  TestCa ca_;
};

TEST_F(FirstRunOverHttpsTest, UpdateSignInPurchasesAndADownloadGoOverVerifiedTlsOnly) {
  // Without the CA trusted, nothing is fetched and the sign-in says why it failed.
  LumoraRun refused =
      Start({Command("logon", "u=reader|p=secret|x=|y=")}, {AfterLogs("获得服务器列表失败", 1, 0)});
  EXPECT_FALSE(fs::exists(home_ / "data/vellari/public/book/book1.xml"));
  const auto dialogs = refused.All("dialog");
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_NE(dialogs[0]["text"].get<std::string>().find(
                "Retrieve Failed\n127.0.0.1: certificate verify failed: unable to get local "
                "issuer certificate"),
            std::string::npos)
      << dialogs[0];
  EXPECT_EQ(refused.Variable("UserPass"), "false");

  trust_file_ = ca_.ca_file();
  LumoraRun first = Start({}, {AfterLogs("更新完毕", 1, 0)});
  EXPECT_EQ(first.Variable("UpdateResult"), "ok");
  const std::vector<std::string> logs = Logs(first);
  EXPECT_EQ(std::count_if(logs.begin(), logs.end(),
                          [](const std::string& s) { return s.rfind("下载文件失败", 0) == 0; }),
            0);
  EXPECT_TRUE(fs::exists(home_ / "data/vellari/public/book/book1.xml"));
  BuyAndDownload();
}

}  // namespace
