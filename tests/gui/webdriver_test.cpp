// The whole program driven through WebKitWebDriver, the way a user meets it: a copy of
// the program in a temporary folder, started by the driver with "--automation" under the
// virtual display, on the local vendor service with the sample catalogues; the test
// clicks and types in the movie, reads what the page shows and checks the files the host
// wrote. Screenshots go into the test's temporary folder (kept when LUMORA_KEEP_SHOTS
// names a folder to copy them into).
#include <arpa/inet.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/lumora_process.h"
#include "support/temp_dir.h"
#include "support/vendor_process.h"
#include "support/webdriver_client.h"
#include "support/xvfb_display.h"

namespace {

using namespace webdriver;
namespace fs = std::filesystem;

// Runs xdotool on the test's display; its standard output, empty when it failed.
std::string XdoTool(const std::string& args) {
  std::string out;
  // Bounded: "--sync" waits for the window's answer, which never comes when the window
  // has gone meanwhile.
  FILE* pipe = popen(("timeout 5 xdotool " + args + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  pclose(pipe);
  return out;
}

// The small sample catalogues of the repository (res/sample), the default cover pictures,
// the first settings file and the test accounts, laid out for the program and the service.
void Provision(const std::string& public_dir, const std::string& vendor_root) {
  const fs::path res = fs::path(LUMORA_SOURCE_DIR) / "res";
  fs::copy(res / "sample", public_dir, fs::copy_options::recursive);
  fs::copy(res / "settings" / "vellariInfo.xml", fs::path(public_dir) / "vellariInfo.xml");
  for (const auto& entry : fs::directory_iterator(res / "local"))
    if (entry.path().extension() == ".jpg")
      fs::copy(entry.path(), fs::path(public_dir) / "local" / entry.path().filename(),
               fs::copy_options::skip_existing);
  fs::create_directories(fs::path(vendor_root) / "Storage" / "XmlFile");
  for (const char* name : {"accounts.txt", "purchases.txt"})
    fs::copy(res / "demo" / "vendor" / name, fs::path(vendor_root) / name);
  for (const auto& entry : fs::recursive_directory_iterator(res / "sample"))
    if (entry.path().extension() == ".xml" && entry.path().filename() != "local1.xml")
      fs::copy(entry.path(),
               fs::path(vendor_root) / "Storage" / "XmlFile" / entry.path().filename());
}

// Makes the page keep watch on the downloads panel in window.seenDownloads: the most
// downloads listed (asked of the host and not ended) and queued at once, and any queued
// row not shown as 等待中.
constexpr const char* kWatchDownloads =
    "var seen = window.seenDownloads = {listed: 0, queued: 0, wrong: []};"
    "var box = document.getElementById('dl-list');"
    "new MutationObserver(function () {"
    "  var listed = 0, queued = 0;"
    "  box.querySelectorAll('.dlrow').forEach(function (r) {"
    "    var s = r.getAttribute('data-state');"
    "    if (s === 'waiting' || s === 'running' || s === 'paused') listed++;"
    "    if (s !== 'queued') return;"
    "    queued++;"
    "    if (r.querySelector('.state').textContent !== '等待中') seen.wrong.push(r.dataset.id);"
    "  });"
    "  seen.listed = Math.max(seen.listed, listed); seen.queued = Math.max(seen.queued, queued);"
    "}).observe(box, {childList: true});";

class WebDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    public_dir_ = home_ / "data/vellari/public";
    fs::create_directories(public_dir_);
    Provision(public_dir_, vendor_root_.path());
    // A file of the vendor's to download: 1 MiB of known bytes.
    for (int i = 0; i < (1 << 20); ++i) download_bytes_.push_back(static_cast<char>((i * 7) % 251));
    WriteFile(vendor_root_ / "files/m01.pdf", download_bytes_);
    program_dir_ = home_ / "program";
    fs::create_directories(program_dir_);
    program_ = InstallProgram(program_dir_);
    shots_ = home_ / "shots";
    fs::create_directories(shots_);
  }

  // Starts the service (the download slowed down so that its progress can be seen,
  // downloads below /gone/ answered 404 and those below /held/ never) and points the
  // program's servers at it through the environment the driver passes on.
  void StartVendor(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--root",     vendor_root_.path(), "--log",
                                     vendor_log_,  "--fault",           "/files/=slow:32768:100",
                                     "--fault",    "/gone/=status:404", "--fault",
                                     "/held/=hang"};
    args.insert(args.end(), extra.begin(), extra.end());
    vendor_ = std::make_unique<VendorProcess>(args);
    ASSERT_GT(vendor_->port(), 0);
    const std::string host = "127.0.0.1:" + std::to_string(vendor_->port());
    for (const char* name : {"LUMORA_SHOP_HOST", "LUMORA_LOGIN_HOST", "LUMORA_SHARE_HOST_1",
                             "LUMORA_SHARE_HOST_2", "LUMORA_SHARE_HOST_3"})
      setenv(name, host.c_str(), 1);
    setenv("XDG_DATA_HOME", (home_ / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
  }

  // An item of a catalogue (by default the first magazine) gets a download address on
  // the service.
  void GiveDownloadUrl(const std::string& catalogue = "maga/maga1.xml",
                       const std::string& id = "m01", const std::string& file = "/files/m01.pdf") {
    std::string path = public_dir_ + "/" + catalogue;
    std::string xml = ReadFile(path);
    const std::string url = "http://127.0.0.1:" + std::to_string(vendor_->port()) + file;
    std::size_t item = xml.find("id=\"" + id + "\"");
    ASSERT_NE(item, std::string::npos);
    std::size_t dl = xml.find("DLurl=\"\"", item);
    ASSERT_NE(dl, std::string::npos);
    xml.replace(dl, 8, "DLurl=\"" + url + "\"");
    WriteFile(path, xml);
  }

  // The 杂项 catalogue of |count| items k01.., each with a file of its own on the service
  // (192 KiB of known bytes, sent slowly), but the last, which has no download address.
  void GiveManyDownloads(int count) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\r\n<目录 分类=\"程序\" 总数=\"" +
        std::to_string(count) + "\" 最大值=\"1000\">\r\n<分类 id=\"合集\" 总数=\"" +
        std::to_string(count) + "\" 最大值=\"1000\">\r\n";
    const std::string bytes = download_bytes_.substr(0, 192 << 10);
    for (int i = 1; i <= count; ++i) {
      char id[8];
      std::snprintf(id, sizeof id, "k%02d", i);
      const std::string file = std::string("/files/") + id + ".pdf";
      if (i < count) WriteFile(vendor_root_ / ("files/" + std::string(id) + ".pdf"), bytes);
      const std::string url =
          i < count ? "http://127.0.0.1:" + std::to_string(vendor_->port()) + file : "";
      xml += std::string("<书 id=\"") + id + "\" name=\"合集 " + id +
             "\" photo=\"\" date=\"2024\" pay=\"0\" price=\"0\" DLurl=\"" + url +
             "\" RDurl=\"\" BYurl=\"\" />\r\n";
    }
    WriteFile(public_dir_ + "/mics/mics1.xml", Gbk(xml + "</分类>\r\n</目录>\r\n"));
  }

  // Starts the driver and the session, the program with |args| after "--automation",
  // and waits for the movie's navigation.
  void StartProgram(const std::vector<std::string>& args = {}) {
    driver_ = std::make_unique<Driver>(program_dir_);
    ASSERT_TRUE(driver_->ready()) << "WebKitWebDriver did not answer";
    std::vector<std::string> all = {"--automation"};
    all.insert(all.end(), args.begin(), args.end());
    Json reply = driver_->NewSession(program_, all);
    ASSERT_FALSE(driver_->session().empty()) << reply.dump();
    ASSERT_TRUE(Eventually([&] {
      return driver_->Eval("return !!document.querySelector('#nav button[data-view=\"maga\"]')") ==
             true;
    })) << "the movie never built its navigation";
    // The first run's welcome, if it shows, is closed the way a user closes it.
    if (driver_->Eval("return !document.getElementById('welcome').hidden") == true) {
      ASSERT_TRUE(driver_->Click("#welcome-start"));
    }
  }

  // The card titles the grid shows.
  std::vector<std::string> CardTitles() {
    Json v = driver_->Eval(
        "return Array.from(document.querySelectorAll('#spacer .card .ctitle'))"
        ".map(function (e) { return e.textContent; });");
    return v.is_array() ? v.get<std::vector<std::string>>() : std::vector<std::string>{};
  }
  // True once the view has read its catalogue (or shows why it has none).
  bool GridFilled() {
    return driver_->Eval("return document.getElementById('scroller').getAttribute('aria-busy')") ==
           "false";
  }
  // True when the view, read whole, shows a card of |title|.
  bool ShowsCard(const std::string& title) {
    if (!GridFilled()) return false;
    for (const auto& t : CardTitles())
      if (t == title) return true;
    return false;
  }

  // Clicks through the driver the enabled button inside |scope| whose text begins with
  // |text|; false when there is none (yet).
  bool ClickButton(const std::string& scope, const std::string& text) {
    Json found = driver_->Eval(
        "var text = arguments[1];"
        "var b = Array.from(document.querySelectorAll(arguments[0] + ' button'))"
        ".filter(function (b) { return b.textContent.indexOf(text) === 0 && !b.disabled; })[0];"
        "if (!b) return false; b.setAttribute('data-test-click', ''); return true;",
        {scope, text});
    if (found != true) return false;
    bool clicked = driver_->Click("[data-test-click]");
    driver_->Eval(
        "document.querySelectorAll('[data-test-click]').forEach(function (b) {"
        "  b.removeAttribute('data-test-click'); });");
    return clicked;
  }
  // Ctrl+A selects the grid's |selected| items and 下载所选 queues them, the page keeping
  // watch on the downloads panel; the toast that says so holds |told|.
  void SelectAllAndDownload(int selected, const std::string& told) {
    ASSERT_TRUE(driver_->Chord(kControlKey, "a"));
    const std::string count = "已选 " + std::to_string(selected) + " 项";
    ASSERT_TRUE(Eventually([&] { return driver_->Text("#sel-count") == count; }))
        << driver_->Text("#sel-count");
    driver_->Eval(kWatchDownloads);
    ASSERT_TRUE(ClickButton("#selbar", "下载所选"));
    EXPECT_TRUE(Eventually([&] {
      return driver_->Text("#toasts").find(told) != std::string::npos;
    })) << driver_->Text("#toasts");
  }
  // A 下载所选 of |count| items under way (the page keeping watch in seenDownloads): with
  // the downloads panel open, its summary tells all of them downloaded; at no moment were
  // more than ten listed, at some moment exactly ten, and at least |queued| waited, each
  // shown as 等待中.
  void ExpectBatchDownloaded(int count, int queued, const std::string& shot) {
    ASSERT_TRUE(driver_->Click("#btn-downloads"));
    Shot(shot + "-queued");
    const std::string summary = "已下载 " + std::to_string(count) + " 项，失败 0 项";
    EXPECT_TRUE(
        Eventually([&] { return driver_->Text("#toasts").find(summary) != std::string::npos; }, 60))
        << driver_->Text("#toasts") << " " << driver_->Eval("return window.seenDownloads").dump();
    Json seen = driver_->Eval("return window.seenDownloads");
    EXPECT_EQ(seen["listed"], 10) << seen.dump();
    EXPECT_GE(seen["queued"].get<int>(), queued) << seen.dump();
    EXPECT_EQ(seen["wrong"], Json::array()) << seen.dump();
  }
  // The ids of the cards in the grid's view, in reading order.
  std::vector<std::string> VisibleCards() {
    Json v = driver_->Eval(
        "var box = document.getElementById('scroller').getBoundingClientRect();"
        "return Array.from(document.querySelectorAll('#spacer .card')).map(function (c) {"
        "  return [c.getBoundingClientRect(), c.getAttribute('data-id')]; })"
        ".filter(function (x) { return x[0].bottom > box.top + 1 && x[0].top < box.bottom - 1; })"
        ".sort(function (a, b) { return a[0].top - b[0].top || a[0].left - b[0].left; })"
        ".map(function (x) { return x[1]; });");
    return v.is_array() ? v.get<std::vector<std::string>>() : std::vector<std::string>{};
  }
  // How many card elements the grid has made.
  int CardCount() {
    Json v = driver_->Eval("return document.querySelectorAll('#spacer .card').length");
    return v.is_number() ? v.get<int>() : -1;
  }
  // How far below the grid's top the section header of |group| is (null when none is made).
  Json HeaderOffset(const std::string& group) {
    return driver_->Eval(
        "var name = arguments[0], box = "
        "document.getElementById('scroller').getBoundingClientRect();"
        "var h = Array.from(document.querySelectorAll('#spacer .sechead')).filter(function (e) {"
        "  return e.textContent.indexOf(name) >= 0; })[0];"
        "return h ? Math.round(h.getBoundingClientRect().top - box.top) : null;",
        {group});
  }

  // Clicks the first element of |css| whose text is |text| (or, unless |whole|, holds
  // it), or the element |inner| inside it; false when none shows.
  bool ClickText(const std::string& css, const std::string& text, bool whole = true,
                 const std::string& inner = "") {
    Json found = driver_->Eval(
        "var t = arguments[1], whole = arguments[2];"
        "document.querySelectorAll('[data-test-click]').forEach(function (e) {"
        "  e.removeAttribute('data-test-click'); });"
        "var e = Array.from(document.querySelectorAll(arguments[0])).filter(function (e) {"
        "  return whole ? e.textContent === t : e.textContent.indexOf(t) >= 0; })[0];"
        "if (!e) return false; e.setAttribute('data-test-click', ''); return true;",
        {css, text, whole});
    if (found != true) return false;
    bool clicked = driver_->Click("[data-test-click]" + (inner.empty() ? "" : " " + inner));
    driver_->Eval(
        "document.querySelectorAll('[data-test-click]').forEach(function (e) {"
        "  e.removeAttribute('data-test-click'); });");
    return clicked;
  }
  // The names of the OPDS catalogues in the navigation.
  Json OpdsNavigation() {
    return driver_->Eval(
        "return Array.from(document.querySelectorAll('#nav .nav-opds')).map(function (b) {"
        "  return b.textContent; })");
  }
  // Adds an OPDS catalogue in the settings as a user fills the form, and waits for it
  // under 书库 with the settings closed again.
  void AddOpdsCatalogue(const std::string& name, const std::string& url,
                        const std::string& user = "", const std::string& password = "") {
    const auto settings_shown = [&] {
      return driver_->Eval("return !document.getElementById('settings').hidden") == true;
    };
    ASSERT_TRUE(driver_->Click("#btn-settings"));
    ASSERT_TRUE(Eventually(settings_shown));
    ASSERT_TRUE(driver_->Type("#opds-name", name));
    ASSERT_TRUE(driver_->Type("#opds-url", url));
    if (!user.empty()) {
      ASSERT_TRUE(driver_->Type("#opds-user", user));
    }
    if (!password.empty()) {
      ASSERT_TRUE(driver_->Type("#opds-pass", password));
    }
    ASSERT_TRUE(driver_->Click("#opds-submit"));
    EXPECT_TRUE(Eventually([&] {
      return driver_->Text("#opds-list").find(name) != std::string::npos;
    })) << driver_->Text("#opds-alert");
    ASSERT_TRUE(driver_->Click("#settings-cancel"));
    ASSERT_TRUE(Eventually([&] { return !settings_shown(); }));
    ASSERT_TRUE(Eventually([&] { return OpdsNavigation().dump().find(name) != std::string::npos; }))
        << driver_->Text("#nav");
  }

  void ExpectLayoutFits(int width, int height, bool dark = false);

  std::string Shot(const std::string& name) {
    // What the page last laid out is painted first: two animation frames.
    driver_->Session("POST", "/execute/async",
                     {{"script",
                       "var done = arguments[0]; requestAnimationFrame(function () {"
                       "  requestAnimationFrame(function () { done(true); }); });"},
                      {"args", Json::array()}});
    return KeepShot(*driver_, shots_, name);
  }

  TempDir home_;
  TempDir vendor_root_;
  const std::string vendor_log_ = home_ / "vendor.log";
  std::string public_dir_, program_dir_, program_, shots_;
  std::string download_bytes_;
  std::unique_ptr<VendorProcess> vendor_;
  std::unique_ptr<Driver> driver_;
};

TEST_F(WebDriverTest, SignInBrowseSearchFavouriteAndDownload) {
  // reader has bought a book and a video of the sample catalogues.
  WriteFile(vendor_root_ / "purchases.txt",
            "U1001\tb02\t图书\t图书精选\nU1001\tv01\t视频\t视频精选\n");
  StartVendor();
  GiveDownloadUrl();
  GiveDownloadUrl("maga/maga1.xml", "m02", "/gone/m02.pdf");
  GiveDownloadUrl("book/book1.xml", "b01", "/held/b01.pdf");
  // The magazines without pictures: their covers are generated tiles, titled.
  const std::string magazines = public_dir_ + "/maga/maga1.xml";
  std::string catalogue = ReadFile(magazines);
  for (std::size_t at;
       (at = catalogue.find("photo=\"/public/local/LocalDefaultPic.jpg\"")) != std::string::npos;)
    catalogue.replace(at, 41, "photo=\"\"");
  WriteFile(magazines, catalogue);
  StartProgram();
  Shot("start");

  // Sign in through the popover.
  ASSERT_TRUE(driver_->Click("#btn-account"));
  ASSERT_TRUE(driver_->Type("#signin-name", "reader"));
  ASSERT_TRUE(driver_->Type("#signin-pass", "secret"));
  ASSERT_TRUE(driver_->Click("#signin-submit"));
  EXPECT_TRUE(Eventually([&] {
    return driver_->Text("#btn-account") == "reader" &&
           driver_->Text("#toasts").find("欢迎，reader") != std::string::npos;
  })) << driver_->Text("#btn-account");
  const std::string shelf = program_dir_ + "/reader/reader.xml";
  EXPECT_TRUE(Eventually([&] { return fs::exists(shelf); })) << "no shelf file " << shelf;
  Shot("signed-in");
  // The purchases come with the sign-in, told by count, and 已购买 shows them.
  EXPECT_TRUE(Eventually([&] {
    return driver_->Text("#toasts").find("已导入 2 项已购作品") != std::string::npos;
  })) << driver_->Text("#toasts");
  ASSERT_TRUE(driver_->Click("#nav button[data-view=\"bought\"]"));
  EXPECT_TRUE(Eventually([&] { return ShowsCard("数学之美") && ShowsCard("纪录片 长江"); }))
      << driver_->Text("#view-title") << " / " << driver_->Text("#empty-title");
  EXPECT_EQ(driver_->Text("#view-count"), "共 2 项");
  Shot("purchases");

  // Browse the magazines.
  ASSERT_TRUE(driver_->Click("#nav button[data-view=\"maga\"]"));
  EXPECT_TRUE(Eventually([&] { return ShowsCard("城市旅行 2026年第1期"); }));
  EXPECT_EQ(driver_->Text("#view-title"), "杂志");
  EXPECT_EQ(driver_->Text("#view-count"), "共 2 项");
  EXPECT_TRUE(ShowsCard("摄影之友 第12期"));
  Shot("magazines");

  // Search for a keyword in every category.
  ASSERT_TRUE(driver_->Type("#search-box", "摄影\xee\x80\x87"));  // U+E007: Enter
  EXPECT_TRUE(Eventually([&] {
    return driver_->Text("#view-title") == "搜索“摄影”" && ShowsCard("摄影之友 第12期");
  })) << driver_->Text("#view-title");
  EXPECT_FALSE(ShowsCard("城市旅行 2026年第1期"));
  std::string results = ReadFile(program_dir_ + "/search.xml");
  EXPECT_NE(results.find("m02"), std::string::npos);
  EXPECT_EQ(results.find("m01"), std::string::npos);
  Shot("search");
  // A keyword of every category's dates: the results in groups by category, counted; a
  // book's date is its publication in the drawer; 清除 goes back to the magazines.
  driver_->Eval("document.getElementById('search-box').value = '';");
  ASSERT_TRUE(driver_->Type("#search-box", "20\xee\x80\x87"));
  const char* kSections =
      "return window.Lumora.grid.sections().map(function (s) { return s.group + ' ' + s.count; })";
  EXPECT_TRUE(Eventually([&] {
    return driver_->Text("#view-title") == "搜索“20”" &&
           driver_->Eval(kSections) == Json({"杂志 2", "图书 2", "音频 1", "杂项 1", "视频 1"});
  })) << driver_->Text("#view-title")
      << " " << driver_->Eval(kSections).dump();
  Shot("search-grouped");
  ASSERT_TRUE(driver_->Click("#spacer .card[data-id=\"b01\"] .ctitle"));
  EXPECT_EQ(driver_->Text("#drawer dt"), "出版");
  driver_->Eval("window.Lumora.item.closeDrawer();");
  ASSERT_TRUE(driver_->Click("#btn-clear"));
  EXPECT_TRUE(Eventually([&] { return driver_->Text("#view-title") == "杂志"; }));
  EXPECT_EQ(driver_->Eval("return document.getElementById('search-box').value"), "");

  // Favourite the second magazine from its detail drawer.
  ASSERT_TRUE(driver_->Click("#nav button[data-view=\"maga\"]"));
  ASSERT_TRUE(Eventually([&] { return ShowsCard("摄影之友 第12期"); }));
  ASSERT_TRUE(driver_->Click("#spacer .card[data-id=\"m02\"] .ctitle"));
  ASSERT_TRUE(Eventually(
      [&] { return driver_->Eval("return !document.getElementById('drawer').hidden") == true; }));
  ASSERT_TRUE(ClickButton("#drawer .acts", "收藏"));
  EXPECT_TRUE(Eventually(
      [&] { return driver_->Text("#toasts").find("已加入 我的收藏") != std::string::npos; }));
  const std::string favourites = Gbk("我的收藏");
  EXPECT_TRUE(Eventually([&] {
    std::string xml = ReadFile(shelf);
    std::size_t group = xml.find("id=\"" + favourites + "\"");
    return group != std::string::npos && xml.find("id=\"m02\"", group) != std::string::npos;
  })) << ReadFile(shelf);
  EXPECT_TRUE(Eventually([&] {
    return driver_->Eval(
               "var b = document.querySelector("
               "'#spacer .card[data-id=\"m02\"] .fav'); return b.textContent + "
               "b.getAttribute('aria-pressed') + getComputedStyle(b).opacity") == "★true1";
  }));
  Shot("favourite");

  // Download the first magazine and watch its progress in the downloads list.
  driver_->Eval("window.Lumora.item.closeDrawer();");
  ASSERT_TRUE(driver_->Click("#spacer .card[data-id=\"m01\"] .ctitle"));
  ASSERT_TRUE(Eventually([&] { return ClickButton("#drawer .acts", "下载"); }));
  ASSERT_TRUE(driver_->Click("#btn-downloads"));
  std::vector<std::string> states;
  bool shot_running = false;
  EXPECT_TRUE(Eventually(
      [&] {
        std::string state = driver_->Text("#dl-list .dlrow[data-id=\"m01\"] .state");
        if (states.empty() || states.back() != state) states.push_back(state);
        if (!shot_running && state.find("% · 下载中") != std::string::npos &&
            state != "0% · 下载中") {
          shot_running = true;
          Shot("downloading");
        }
        return state == "已完成";
      },
      60))
      << (states.empty() ? "" : states.back());
  // Progress was shown on the way: a percentage between the ends, in increasing order.
  int last = -1, between = 0;
  for (const auto& s : states) {
    std::size_t mark = s.find("% · 下载中");
    if (mark == std::string::npos) continue;
    int percent = std::atoi(s.c_str());
    EXPECT_GE(percent, last) << s;
    last = percent;
    if (percent > 0 && percent < 100) ++between;
  }
  EXPECT_GE(between, 1) << "no progress seen";
  EXPECT_TRUE(shot_running);
  Shot("downloaded");

  // The host wrote the file and moved the item to 已下载.
  std::string downloaded;
  for (const auto& entry : fs::directory_iterator(program_dir_ + "/reader/downloaded"))
    downloaded = entry.path();
  ASSERT_FALSE(downloaded.empty());
  EXPECT_EQ(ReadFile(downloaded), download_bytes_);
  std::string xml = ReadFile(shelf);
  std::size_t done = xml.find("id=\"" + Gbk("已下载") + "\"");
  ASSERT_NE(done, std::string::npos) << xml;
  EXPECT_NE(xml.find("id=\"m01\"", done), std::string::npos) << xml;
  ASSERT_TRUE(driver_->Click("#nav button[data-view=\"done\"]"));
  EXPECT_TRUE(Eventually([&] { return ShowsCard("城市旅行 2026年第1期"); }))
      << driver_->Text("#view-title") << " / " << driver_->Text("#empty-title") << " / "
      << driver_->Text("#view-count");
  Shot("downloaded-view");

  // The downloaded magazine is opened from "已下载", never downloaded again.
  ASSERT_TRUE(driver_->Click("#nav button[data-view=\"maga\"]"));
  ASSERT_TRUE(Eventually([&] { return GridFilled() && ShowsCard("城市旅行 2026年第1期"); }));
  EXPECT_EQ(driver_->Text("#spacer .card[data-id=\"m01\"] .main-action"), "阅读");
  // Its ✓ at the cover's bottom right, the other's ★ at its top right; no badge covers
  // the title of a tile, and none has more than two.
  Json badges = driver_->Eval(
      "function r(e) { return e.getBoundingClientRect(); }"
      "function meet(a, b) { return Math.min(a.right, b.right) > Math.max(a.left, b.left) &&"
      "  Math.min(a.bottom, b.bottom) > Math.max(a.top, b.top); }"
      "var out = {};"
      "document.querySelectorAll('#spacer .card').forEach(function (c) {"
      "  var cover = r(c.querySelector('.cover')), t = c.querySelector('.tile .ttext');"
      "  var marks = Array.from(c.querySelectorAll('.fav.on, .badge-done, .badge-read'));"
      "  var all = Array.from(c.querySelectorAll('.fav, .badge-done, .badge-read'));"
      "  out[c.getAttribute('data-id')] = {count: marks.length,"
      "    covered: !!t && all.some(function (b) { return meet(r(t), r(b)); }),"
      "    corners: marks.map(function (b) { var x = r(b);"
      "      return (x.top - cover.top < 8 ? 'top' : cover.bottom - x.bottom < 8 ? 'bottom' : '?') "
      "+"
      "             (cover.right - x.right < 8 ? '-right' : '-?'); }) }; });"
      "return out;");
  EXPECT_EQ(badges["m01"], Json({{"count", 1}, {"covered", false}, {"corners", {"bottom-right"}}}))
      << badges.dump();
  EXPECT_EQ(badges["m02"], Json({{"count", 1}, {"covered", false}, {"corners", {"top-right"}}}))
      << badges.dump();
  ASSERT_TRUE(driver_->Click("#spacer .card[data-id=\"m01\"] .ctitle"));
  const char* kActions =
      "return Array.from(document.querySelectorAll(arguments[0] + ' button'))"
      ".filter(function (b) { return !b.disabled; }).map(function (b) { return b.textContent; })";
  Json acts = driver_->Eval(kActions, {"#drawer .acts"});
  EXPECT_NE(std::find(acts.begin(), acts.end(), "阅读 / 打开"), acts.end()) << acts.dump();
  EXPECT_EQ(std::find(acts.begin(), acts.end(), "下载"), acts.end()) << acts.dump();
  driver_->Eval("window.Lumora.item.closeDrawer(); window.Lumora.closePanel('downloads');");

  // A download the host has not reported yet (the service never answers) waits: the
  // moving bar shows on the row and on the cover, and there is nothing to pause.
  ASSERT_TRUE(driver_->Click("#nav button[data-view=\"book\"]"));
  ASSERT_TRUE(Eventually([&] { return ShowsCard("山海经注"); }));
  ASSERT_TRUE(driver_->Click("#spacer .card[data-id=\"b01\"] .ctitle"));
  ASSERT_TRUE(Eventually([&] { return ClickButton("#drawer .acts", "下载"); }));
  driver_->Eval("window.Lumora.item.closeDrawer();");
  ASSERT_TRUE(driver_->Click("#btn-downloads"));
  const std::string held = "#dl-list .dlrow[data-id=\"b01\"]";
  EXPECT_TRUE(Eventually([&] { return driver_->Text(held + " .state") == "等待中"; }))
      << driver_->Text(held + " .state");
  EXPECT_EQ(driver_->Eval(kActions, {held}), Json({"取消"}));
  // The card shows it with the next frame.
  EXPECT_TRUE(Eventually([&] {
    return driver_->Text("#spacer .card[data-id=\"b01\"] .pill") == "等待中";
  })) << driver_->Text("#spacer .card[data-id=\"b01\"] .pill");
  EXPECT_EQ(driver_->Eval(
                "return Array.from(document.querySelectorAll("
                "'#spacer .card[data-id=\"b01\"] .bar i, #dl-list .dlrow[data-id=\"b01\"] .bar i'))"
                ".map(function (i) { return i.getBoundingClientRect().width > 0; })"),
            Json({true, true}));
  Shot("download-waiting");
  ASSERT_TRUE(ClickButton(held, "取消"));
  EXPECT_TRUE(Eventually([&] { return driver_->Text(held) == "<none>"; }));
  driver_->Eval("window.Lumora.closePanel('downloads');");

  // A download the service refuses: 下载失败 with the host's message and 重试 in the
  // downloads panel, on the cover, and in a toast that stays until it is closed.
  ASSERT_TRUE(driver_->Click("#nav button[data-view=\"maga\"]"));
  ASSERT_TRUE(Eventually([&] { return ShowsCard("摄影之友 第12期"); }));
  ASSERT_TRUE(driver_->Click("#spacer .card[data-id=\"m02\"] .ctitle"));
  ASSERT_TRUE(Eventually([&] { return ClickButton("#drawer .acts", "下载"); }));
  driver_->Eval("window.Lumora.item.closeDrawer();");
  ASSERT_TRUE(driver_->Click("#btn-downloads"));
  const std::string failed = "#dl-list .dlrow[data-id=\"m02\"]";
  const std::string prefix = "下载失败：";
  ASSERT_TRUE(Eventually([&] { return driver_->Text(failed + " .state").rfind(prefix, 0) == 0; }))
      << driver_->Text(failed + " .state");
  const std::string message = driver_->Text(failed + " .state").substr(prefix.size());
  EXPECT_FALSE(message.empty());
  EXPECT_EQ(driver_->Eval(kActions, {failed}), Json({"重试", "取消"}));
  const std::string cover = "#spacer .card[data-id=\"m02\"] .cfail";
  // The card shows it with the next frame.
  EXPECT_TRUE(Eventually([&] { return driver_->Text(cover + " .ftitle") == "! 下载失败"; }))
      << driver_->Text(cover + " .ftitle");
  EXPECT_EQ(driver_->Text(cover + " .fmsg"), message);
  EXPECT_EQ(driver_->Text(cover + " .retry"), "重试");
  const char* kFailureToasts =
      "return Array.from(document.querySelectorAll('#toasts .toast.error')).map(function (t) {"
      "  return t.textContent; })";
  EXPECT_EQ(driver_->Eval(kFailureToasts),
            Json({"“摄影之友 第12期”下载失败：" + message + "重试✕"}));
  Shot("download-failed");
  // The request's toast goes by itself; the failure's stays.
  EXPECT_TRUE(Eventually(
      [&] { return driver_->Text("#toasts").find("已请求下载“摄影之友") == std::string::npos; }));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_EQ(driver_->Eval(kFailureToasts).size(), 1u);

  // 重试 on the cover asks the service again; it fails again, told once.
  const auto asked = [&] {
    const std::string log = ReadFile(vendor_log_);
    std::size_t count = 0;
    for (std::size_t at = log.find("/gone/m02.pdf"); at != std::string::npos;
         at = log.find("/gone/m02.pdf", at + 1))
      ++count;
    return count;
  };
  const std::size_t before = asked();
  EXPECT_GE(before, 1u);
  ASSERT_TRUE(driver_->Click(cover + " .retry"));
  EXPECT_TRUE(Eventually([&] { return asked() > before; })) << ReadFile(vendor_log_);
  EXPECT_TRUE(Eventually([&] {
    return driver_->Text(failed + " .state") == prefix + message &&
           driver_->Eval(kFailureToasts).size() == 1u;
  })) << driver_->Text(failed + " .state");

  // Many at once, in 杂项: Ctrl+click and Shift+click select cards (the drawer stays
  // shut), Escape lets go, Ctrl+A selects all 60 items, drawn or not. 下载所选 queues
  // the 59 that have an address: at no moment are more than ten listed, the others
  // wait as 等待中, all arrive, and one summary tells it.
  driver_->Eval("window.Lumora.closePanel('downloads');");
  // (Written only now: the search above reads the catalogues for its groups.)
  GiveManyDownloads(60);
  ASSERT_TRUE(driver_->Click("#nav button[data-view=\"mics\"]"));
  ASSERT_TRUE(Eventually([&] { return ShowsCard("合集 k01"); }));
  const char* kSelected =
      "return Array.from(document.querySelectorAll('#spacer .card[aria-selected=\"true\"]'))"
      ".map(function (c) { return c.getAttribute('data-id') + (c.querySelector('.check')"
      ".getBoundingClientRect().width > 0 ? '✓' : ''); }).sort()";
  ASSERT_TRUE(driver_->ClickWith(kControlKey, "#spacer .card[data-id=\"k01\"] .ctitle"));
  ASSERT_TRUE(driver_->ClickWith(kControlKey, "#spacer .card[data-id=\"k03\"] .ctitle"));
  EXPECT_EQ(driver_->Eval(kSelected), Json({"k01✓", "k03✓"}));
  ASSERT_TRUE(driver_->ClickWith(kShiftKey, "#spacer .card[data-id=\"k05\"] .ctitle"));
  EXPECT_EQ(driver_->Eval(kSelected), Json({"k01✓", "k03✓", "k04✓", "k05✓"}));
  EXPECT_EQ(driver_->Text("#sel-count"), "已选 4 项");
  EXPECT_EQ(driver_->Eval("return document.getElementById('drawer').hidden"), true);
  EXPECT_EQ(driver_->Eval("return document.getElementById('scroller')"
                          ".getAttribute('aria-multiselectable')"),
            "true");
  Shot("selected");
  ASSERT_TRUE(driver_->Keys({kEscape}));
  EXPECT_TRUE(Eventually([&] {
    return driver_->Eval("return document.getElementById('selbar').hidden") == true &&
           driver_->Eval(kSelected) == Json::array();
  }));
  ASSERT_NO_FATAL_FAILURE(SelectAllAndDownload(60, "已加入下载 59 项，跳过 1 项"));
  EXPECT_EQ(driver_->Eval("return document.getElementById('selbar').hidden"), true);
  ExpectBatchDownloaded(59, 30, "many");
  Shot("many-downloaded");
  // Every file arrived whole and every item is in 已下载.
  int arrived = 0;
  for (const auto& entry : fs::directory_iterator(program_dir_ + "/reader/downloaded")) {
    const std::string name = entry.path().filename();
    // NAME-FILE: the item's name, and the file part of its address.
    if (name.size() < 8 || name.compare(name.size() - 8, 2, "-k") != 0 ||
        name.compare(name.size() - 4, 4, ".pdf") != 0)
      continue;
    EXPECT_EQ(ReadFile(entry.path()), download_bytes_.substr(0, 192 << 10)) << name;
    ++arrived;
  }
  EXPECT_EQ(arrived, 59);
  xml = ReadFile(shelf);
  done = xml.find("id=\"" + Gbk("已下载") + "\"");
  for (int i = 1; i < 60; ++i) {
    char id[16];
    std::snprintf(id, sizeof id, "id=\"k%02d\"", i);
    EXPECT_NE(xml.find(id, done), std::string::npos) << id;
  }
  driver_->Eval("window.Lumora.closePanel('downloads');");

  // Signing out from the avatar's menu: the shelf is the signed-out one again.
  ASSERT_TRUE(driver_->Click("#nav button[data-view=\"bought\"]"));
  ASSERT_TRUE(Eventually([&] { return ShowsCard("数学之美"); }));
  ASSERT_TRUE(driver_->Click("#btn-account"));
  ASSERT_TRUE(Eventually([&] { return ClickButton("#signed-in", "退出登录"); }));
  EXPECT_TRUE(Eventually([&] {
    return driver_->Text("#btn-account") == "登录" &&
           driver_->Text("#empty-title") == "登录后查看你的书架" && CardTitles().empty();
  })) << driver_->Text("#btn-account")
      << " / " << driver_->Text("#empty-title");
  Shot("signed-out");
}

// Adding a local file: the page's "添加文件" asks the host for the desktop's file chooser
// ("openfile"). WebDriver cannot reach that chooser, so the keyboard does, as a user
// would: the book's path is typed into it and the book's information confirmed; the
// host adds the book and answers AddLocalFileRetValue, and the page must show the local
// catalogue read afresh. Then a setting is changed in the settings panel and the host's
// settings file and autostart entry are checked.
TEST_F(WebDriverTest, AddLocalFileAndChangeSettings) {
  StartVendor({"--opds-page-size", "20"});
  // The program updates itself from the service at start, and the release cannot be
  // installed: one of its files is answered 404.
  const std::string base = "http://127.0.0.1:" + std::to_string(vendor_->port());
  WriteFile(vendor_root_ / "Storage/XmlFile/serverlist.txt",
            Gbk("主服务器|" + base + "/update/manifest.xml\r\n"));
  WriteFile(vendor_root_ / "update/manifest.xml",
            "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\r\n<xmlRoot keyname=\"KeyValue\">\r\n"
            "<Product productname=\"P\" createdate=\"2026-01-01 00:00:00\" filenum=\"1\">\r\n"
            "<File><FileName>x.bin</FileName><Length>5</Length><InstallDir>APPDATADIR</InstallDir>"
            "<LocalPath>vellari\\public\\upd</LocalPath><URL>" +
                base + "/gone/x.bin</URL></File>\r\n</Product>\r\n</xmlRoot>\r\n");
  StartProgram({base + "/Storage/XmlFile/serverlist.txt", "auto"});
  ASSERT_TRUE(Eventually([&] { return ShowsCard("城市旅行 2026年第1期"); }));
  ASSERT_EQ(XdoTool("search --name '^打开$'"), "") << "a chooser is open before the click";

  ASSERT_TRUE(driver_->Click("#nav button[data-view=\"local\"]"));
  ASSERT_TRUE(
      Eventually([&] { return driver_->Text("#view-title") == "本地文件" && GridFilled(); }));
  EXPECT_TRUE(CardTitles().empty());
  ASSERT_TRUE(driver_->Click("#btn-add"));
  std::string chooser;
  ASSERT_TRUE(Eventually([&] {
    chooser = XdoTool("search --onlyvisible --name '^打开$'");
    return !chooser.empty();
  })) << "the file chooser never opened";
  chooser = chooser.substr(0, chooser.find('\n'));
  Shot("chooser-open");  // the page, still there under the chooser
  // The user types the book's full path into the chooser and confirms the book's
  // information as the host's dialog offers it.
  const std::string book = home_ / "notes.pdf";
  WriteFile(book, "%PDF-1.4\n");
  EXPECT_FALSE(ShowsCard("notes.pdf"));
  XdoTool("windowfocus --sync " + chooser);
  XdoTool("key --clearmodifiers ctrl+l");
  XdoTool("type --delay 20 '" + book + "'");
  // Return confirms the path; the location bar's completion may take the first one, so
  // it is pressed again while the chooser stays open.
  EXPECT_TRUE(Eventually([&] {
    if (XdoTool("search --onlyvisible --name '^打开$'").empty()) return true;
    XdoTool("windowfocus --sync " + chooser);
    XdoTool("key --clearmodifiers Return");
    return false;
  })) << "the chooser did not close";
  // The host asks for the book's information; its default button adds the book.
  // The dialog is answered before the page is asked anything: while it is open the
  // program is busy with it, and a question to the page could wait on it.
  EXPECT_TRUE(Eventually([&] {
    std::string info = XdoTool("search --onlyvisible --name '^图书信息$'");
    if (!info.empty()) {
      info = info.substr(0, info.find('\n'));
      XdoTool("windowfocus --sync " + info);
      XdoTool("key --clearmodifiers Return");
      return false;
    }
    return driver_->Text("#view-title") == "本地文件" && ShowsCard("notes.pdf");
  })) << driver_->Text("#view-title");
  // What the host wrote: the book in its type's group, pointing at the file.
  const std::string local = ReadFile(public_dir_ + "/local/local1.xml");
  EXPECT_NE(local.find(Gbk("<分类 id=\"pdf文件\"")), std::string::npos) << local;
  EXPECT_NE(local.find(Gbk("RDurl=\"" + book + "\"")), std::string::npos) << local;
  Shot("local-refreshed");

  // Files dragged over the window (as the host tells): the overlay, gone once they drop.
  driver_->Eval("lumora.setVariable('DropHover', 'true');");
  EXPECT_EQ(
      driver_->Eval("var d = document.getElementById('drop'), r = d.getBoundingClientRect();"
                    "return [d.textContent, r.width === innerWidth && r.height === innerHeight]"),
      Json({"松开以添加到本地文件", true}));
  Shot("drop-overlay");
  driver_->Eval("lumora.setVariable('DropHover', 'false');");
  EXPECT_EQ(driver_->Eval("return document.getElementById('drop').hidden"), true);

  // The search box filters the local files as it is typed into, and gives them back.
  ASSERT_TRUE(driver_->Type("#search-box", "xyz"));
  EXPECT_TRUE(Eventually([&] {
    return driver_->Text("#empty-title") == "没有匹配“xyz”的本地文件" && CardTitles().empty();
  })) << driver_->Text("#empty-title");
  ASSERT_TRUE(driver_->Click("#empty-button"));
  EXPECT_TRUE(Eventually([&] { return ShowsCard("notes.pdf"); }));
  ASSERT_TRUE(driver_->Type("#search-box", "NOTES"));
  EXPECT_TRUE(Eventually([&] { return ShowsCard("notes.pdf"); }));
  EXPECT_EQ(driver_->Text("#view-title"), "本地文件");

  // Removed from the shelf, the book goes at once with a toast offering 撤销, which brings
  // it back: the host was never asked. Left alone, the toast goes and the host removes it.
  const auto remove = [&] {
    driver_->Eval("document.getElementById('scroller').focus();");
    return driver_->Keys({"\xee\x80\x97"});  // U+E017: Delete
  };
  const std::string catalogue = public_dir_ + "/local/local1.xml";
  ASSERT_TRUE(remove());
  EXPECT_TRUE(Eventually([&] { return !ShowsCard("notes.pdf"); }));
  ASSERT_TRUE(ClickButton("#toasts", "撤销"));
  EXPECT_TRUE(Eventually([&] { return ShowsCard("notes.pdf"); }));
  std::this_thread::sleep_for(std::chrono::seconds(7));
  EXPECT_NE(ReadFile(catalogue).find("notes.pdf"), std::string::npos);
  EXPECT_TRUE(ShowsCard("notes.pdf"));
  ASSERT_TRUE(remove());
  EXPECT_TRUE(Eventually([&] {
    return ReadFile(catalogue).find("notes.pdf") == std::string::npos;
  })) << ReadFile(catalogue);
  EXPECT_FALSE(ShowsCard("notes.pdf"));
  driver_->Eval("document.getElementById('search-box').value = '';");

  // Settings: switch on "开机启动" and save.
  const std::string settings_file = public_dir_ + "/vellariInfo.xml";
  const std::string before = ReadFile(settings_file);
  ASSERT_NE(before.find("id=\"autorun\" value=\"0\""), std::string::npos) << before;
  const std::string autostart = home_ / "config/autostart/VellariShelf.desktop";
  ASSERT_FALSE(fs::exists(autostart));
  ASSERT_TRUE(driver_->Click("#btn-settings"));
  ASSERT_TRUE(Eventually(
      [&] { return driver_->Eval("return !document.getElementById('settings').hidden") == true; }));
  EXPECT_EQ(driver_->Eval("return document.getElementById('set-sound').checked"), true);
  EXPECT_EQ(driver_->Eval("return document.getElementById('set-autorun').checked"), false);
  // The version, and the outcome of the update: failed, and why.
  EXPECT_EQ(driver_->Text("#set-version"), std::string("Lumora ") + LUMORA_VERSION);
  EXPECT_TRUE(Eventually([&] {
    return driver_->Text("#set-update").rfind("更新失败：下载文件失败 [x.bin]", 0) == 0;
  })) << driver_->Text("#set-update");
  EXPECT_EQ(driver_->Eval("return document.getElementById('set-restart').hidden"), true);
  ASSERT_TRUE(driver_->Click("#set-autorun"));
  EXPECT_EQ(driver_->Eval("return document.getElementById('set-autorun').checked"), true);
  Shot("settings");
  ASSERT_TRUE(driver_->Click("#settings-save"));
  EXPECT_TRUE(
      Eventually([&] { return driver_->Text("#toasts").find("设置已保存") != std::string::npos; }));
  EXPECT_TRUE(Eventually([&] {
    return ReadFile(settings_file).find("id=\"autorun\" value=\"1\"") != std::string::npos;
  })) << ReadFile(settings_file);
  std::string after = ReadFile(settings_file);
  EXPECT_NE(after.find("id=\"sound\" value=\"1\""), std::string::npos) << after;
  EXPECT_NE(after.find("id=\"websetting\" value=\"0\""), std::string::npos) << after;
  EXPECT_TRUE(Eventually([&] { return fs::exists(autostart); })) << autostart;
  std::string entry = ReadFile(autostart);
  EXPECT_NE(entry.find("[Desktop Entry]"), std::string::npos) << entry;
  EXPECT_NE(entry.find("Exec="), std::string::npos) << entry;

  // Opened again, the panel shows what the file now holds.
  ASSERT_TRUE(Eventually(
      [&] { return driver_->Eval("return document.getElementById('settings').hidden") == true; }));
  ASSERT_TRUE(driver_->Click("#btn-settings"));
  EXPECT_TRUE(Eventually([&] {
    return driver_->Eval(
               "var s = document.getElementById('settings');"
               "return !s.hidden && document.getElementById('set-autorun').checked") == true;
  }));
  Shot("settings-again");

  // Escape on the real keyboard, delivered by the desktop to the window: it closes the
  // open panel and asks nothing; with nothing left to close it asks the quit question.
  // Nothing asks the page while the question is open: the program is busy with it.
  std::string window = XdoTool("search --onlyvisible --name '^Lumora$'");
  ASSERT_FALSE(window.empty()) << "no window";
  window = window.substr(0, window.find('\n'));
  const auto press_escape = [&](const std::string& target) {
    XdoTool("windowfocus --sync " + target);
    XdoTool("key --clearmodifiers Escape");
  };
  // The page is told that its window has the keyboard before a key is pressed.
  const auto focus_page = [&] {
    return Eventually([&] {
      XdoTool("windowfocus --sync " + window);
      return driver_->Eval("return document.hasFocus()") == true;
    });
  };
  ASSERT_TRUE(focus_page()) << "the page never had the keyboard";
  // The first key that xdotool sends to a fresh virtual display is now and then lost
  // before it reaches any window (about one run in three here): a press that nothing
  // answers within three seconds is made again, at most three times. An Escape that
  // arrived late would show as the question asked below with the panel just closed.
  const auto settings_closed = [&] {
    return driver_->Eval("return document.getElementById('settings').hidden") == true;
  };
  bool closed = false;
  for (int attempt = 0; attempt < 3 && !closed; ++attempt) {
    press_escape(window);
    closed = Eventually(settings_closed, 3);
  }
  EXPECT_TRUE(closed) << "Escape left the settings open";
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_EQ(XdoTool("search --onlyvisible --name '^提示$'"), "") << "asked to quit, panel open";
  ASSERT_TRUE(focus_page());
  press_escape(window);
  std::string question;
  EXPECT_TRUE(Eventually([&] {
    question = XdoTool("search --onlyvisible --name '^提示$'");
    return !question.empty();
  })) << "Escape at rest did not ask to quit";
  if (!question.empty()) {
    // Its own Escape answers No: the program goes on.
    press_escape(question.substr(0, question.find('\n')));
    EXPECT_TRUE(
        Eventually([&] { return XdoTool("search --onlyvisible --name '^提示$'").empty(); }));
  }
  EXPECT_EQ(driver_->Text("#view-title"), "本地文件");

  // An OPDS catalogue of the service added in the settings: listed under 书库, its feeds
  // as tiles, its books as cards paged in (20 a page) as the grid's end comes into view,
  // one of them downloaded into the data folder's downloads (nobody is signed in).
  AddOpdsCatalogue("书库测试", base + "/opds/");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(driver_->Click("#nav .nav-opds"));
  ASSERT_TRUE(Eventually([&] {
    return driver_->Text("#view-title") == "书库测试" && ShowsCard("All books") &&
           ShowsCard("中文图书");
  })) << driver_->Text("#empty");
  ASSERT_TRUE(ClickText("#spacer .card .ctitle", "All books"));
  ASSERT_TRUE(Eventually([&] { return ShowsCard("Silent River 0"); })) << driver_->Text("#empty");
  int listed = 0;
  EXPECT_TRUE(Eventually([&] {
    driver_->Eval("var s = document.getElementById('scroller'); s.scrollTop = s.scrollHeight;");
    std::sscanf(driver_->Text("#view-count").c_str(), "共 %d", &listed);
    return listed > 50;
  })) << driver_->Text("#view-count");
  EXPECT_EQ(listed % 20, 0) << driver_->Text("#view-count");
  Shot("opds-books");
  driver_->Eval("document.getElementById('scroller').scrollTop = 0;");
  ASSERT_TRUE(Eventually([&] { return ClickText("#spacer .card .ctitle", "红楼梦 第2卷"); }));
  ASSERT_TRUE(Eventually([&] { return ClickButton("#drawer .acts", "下载"); }));
  const fs::path downloads = home_ / "data/vellari/downloads";
  std::string arrived;
  EXPECT_TRUE(Eventually([&] {
    std::error_code ec;
    for (const auto& f : fs::directory_iterator(downloads, ec))
      // The finished file under its own name (not the hidden partial file beside it).
      if (const std::string name = f.path().filename().string();
          name[0] != '.' && (name.ends_with("-2.epub") || name.ends_with("-2.pdf")) &&
          f.file_size() >= 4096)
        arrived = name;
    return !arrived.empty();
  })) << driver_->Text("#dl-list");
  // Told as done; no shelf lists it, so not as moved to 已下载.
  EXPECT_TRUE(Eventually([&] {
    return driver_->Text("#toasts").find("下载完成：“红楼梦 第2卷”") != std::string::npos;
  })) << driver_->Text("#toasts");
}

// The bytes the service sends for |path| (empty unless it answers 200).
std::string Fetch(int port, const std::string& path) {
  Client client(port);
  if (!client.Send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"))
    return {};
  bool closed = false;
  std::string raw = client.ReadToEnd(&closed);
  HttpReply reply = ParseReply(std::move(raw), closed);
  return reply.status == 200 ? reply.body : std::string();
}

// The books of an OPDS catalogue with nobody signed in, as a user handles them: a
// download cancelled while it runs, all 24 selected with Ctrl+A and downloaded at once
// (ten listed at most, the others 等待中, one summary), one read in the desktop's
// application for its type, the catalogue searched and deleted. Then catalogues behind
// HTTP Basic while no secret store runs (there is no session bus): with the password
// given in the settings, and with one the program asks for in its form, where a wrong
// one ends in a failure the user sees.
TEST_F(WebDriverTest, OpdsBooksManyAtOnceReadSearchAndDelete) {
  StartVendor({"--opds-entries", "24", "--opds-page-size", "20", "--opds-book-max", "16384"});
  const std::string base = "http://127.0.0.1:" + std::to_string(vendor_->port());
  // The desktop's application for books (by mimeapps.list): a program of the test's that
  // notes what it is asked to open.
  const std::string opened = home_ / "opened.txt";
  const std::string reader = home_ / "reader.sh";
  WriteFile(reader, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + opened + "'\n");
  fs::permissions(reader, fs::perms::owner_all);
  WriteFile(home_ / "data/applications/lumora-test-reader.desktop",
            "[Desktop Entry]\nType=Application\nName=Test Reader\nExec=" + reader +
                " %f\nMimeType=application/epub+zip;application/pdf;\n");
  WriteFile(home_ / "config/mimeapps.list",
            "[Default Applications]\napplication/epub+zip=lumora-test-reader.desktop\n"
            "application/pdf=lumora-test-reader.desktop\n");
  // No session bus, so no secret store, for the program (and only for it).
  const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::string own_bus = bus ? bus : "";
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (home_ / "no-bus")).c_str(), 1);
  StartProgram();
  if (own_bus.empty())
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
  else
    setenv("DBUS_SESSION_BUS_ADDRESS", own_bus.c_str(), 1);
  ASSERT_FALSE(HasFatalFailure());
  AddOpdsCatalogue("小书库", base + "/opds/");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(ClickText("#nav .nav-opds", "小书库", false));
  ASSERT_TRUE(Eventually([&] { return ShowsCard("All books"); })) << driver_->Text("#empty");
  ASSERT_TRUE(ClickText("#spacer .card .ctitle", "All books"));
  ASSERT_TRUE(Eventually([&] {
    driver_->Eval("var s = document.getElementById('scroller'); s.scrollTop = s.scrollHeight;");
    return driver_->Text("#view-count") == "共 24 项";
  })) << driver_->Text("#view-count");
  driver_->Eval("document.getElementById('scroller').scrollTop = 0;");

  // 取消 of a download under way (the service sends it slowly): its row goes, and
  // nothing of the book stays in downloads/, not even its partial file.
  const fs::path downloads = home_ / "data/vellari/downloads";
  const auto files_with = [&](const std::string& part) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& f : fs::directory_iterator(downloads, ec))
      if (f.path().filename().string().find(part) != std::string::npos)
        names.push_back(f.path().filename());
    return names;
  };
  WriteFile(vendor_root_ / "faults.txt", "/opds/files/0.=slow:1024:1000\n");
  ASSERT_TRUE(Eventually([&] { return ClickText("#spacer .card .ctitle", "Silent River 0"); }));
  ASSERT_TRUE(Eventually([&] { return ClickButton("#drawer .acts", "下载"); }));
  driver_->Eval("window.Lumora.item.closeDrawer();");
  ASSERT_TRUE(driver_->Click("#btn-downloads"));
  EXPECT_TRUE(Eventually([&] {
    return driver_->Text("#dl-list .dlrow .state").find("% · 下载中") != std::string::npos &&
           !files_with("-0.epub").empty();
  })) << driver_->Text("#dl-list");
  ASSERT_TRUE(ClickButton("#dl-list .dlrow", "取消"));
  EXPECT_TRUE(Eventually([&] { return driver_->Text("#dl-list .dlrow") == "<none>"; }))
      << driver_->Text("#dl-list");
  EXPECT_TRUE(Eventually([&] { return files_with("-0.epub").empty(); }));
  driver_->Eval("window.Lumora.closePanel('downloads');");

  // Many at once: Ctrl+A selects the 24 books; 下载所选 queues them, at no moment more
  // than ten listed, the others shown as 等待中; all arrive whole, told in one summary.
  WriteFile(vendor_root_ / "faults.txt", "/opds/files/=slow:512:100\n");
  driver_->Eval("document.getElementById('scroller').focus();");
  ASSERT_NO_FATAL_FAILURE(SelectAllAndDownload(24, "已加入下载 24 项"));
  ExpectBatchDownloaded(24, 1, "opds-many");
  EXPECT_EQ(driver_->Eval("return Array.from(document.querySelectorAll('#toasts .toast'))"
                          ".filter(function (t) { return /下载完成|已下载 /.test(t.textContent); })"
                          ".length"),
            1)
      << driver_->Text("#toasts");
  // Each file (NAME-N.EXT) holds what the service sends for its book.
  WriteFile(vendor_root_ / "faults.txt", "");
  std::vector<int> books;
  for (const auto& f : fs::directory_iterator(downloads)) {
    const std::string name = f.path().filename();
    const std::string file = name.substr(name.rfind('-') + 1);
    EXPECT_EQ(ReadFile(f.path()), Fetch(vendor_->port(), "/opds/files/" + file)) << name;
    books.push_back(std::atoi(file.c_str()));
  }
  std::sort(books.begin(), books.end());
  std::vector<int> all(24);
  for (int i = 0; i < 24; ++i) all[i] = i;
  EXPECT_EQ(books, all);
  // 打开 on a finished row, and 阅读 on a downloaded book's card, open its file in the
  // desktop's application.
  ASSERT_TRUE(ClickText("#dl-list .dlrow", "Crimson Lantern 8", false, "button"));
  EXPECT_TRUE(Eventually([&] {
    return ReadFile(opened) == (downloads / "Crimson Lantern 8-8.pdf").string() + "\n";
  })) << ReadFile(opened);
  driver_->Eval("window.Lumora.closePanel('downloads');");
  ASSERT_TRUE(Eventually(
      [&] { return ClickText("#spacer .card", "红楼梦 第2卷", false, ".main-action"); }));
  EXPECT_TRUE(Eventually([&] {
    return ReadFile(opened) == (downloads / "Crimson Lantern 8-8.pdf").string() + "\n" +
                                   (downloads / "红楼梦 第2卷-2.epub").string() + "\n";
  })) << ReadFile(opened);

  // The search box searches the catalogue shown: its books of 卷 only.
  ASSERT_TRUE(driver_->Type("#search-box", std::string("卷") + kEnter));
  std::vector<std::string> found, wanted = {"红楼梦 第2卷", "西游记 第7卷", "三国演义 第12卷",
                                            "水浒传 第17卷", "聊斋志异 第22卷"};
  std::sort(wanted.begin(), wanted.end());
  EXPECT_TRUE(Eventually([&] {
    found = CardTitles();
    std::sort(found.begin(), found.end());
    return GridFilled() && found == wanted;
  })) << ::testing::PrintToString(found);
  EXPECT_NE(driver_->Text("#crumbs").find("搜索“卷”"), std::string::npos)
      << driver_->Text("#crumbs");
  EXPECT_EQ(driver_->Text("#view-count"), "共 5 项");
  Shot("opds-search");

  // 删除 in the settings: the catalogue leaves the navigation and the list file, its
  // pages go, and the view it showed gives way to 杂志.
  const std::string list_file = public_dir_ + "/opds/catalogues.txt";
  ASSERT_NE(ReadFile(list_file).find("\t" + Gbk("小书库") + "\t"), std::string::npos);
  ASSERT_TRUE(fs::exists(public_dir_ + "/opds/o1"));
  ASSERT_TRUE(driver_->Click("#btn-settings"));
  ASSERT_TRUE(Eventually([&] { return ClickText("#opds-list li", "小书库", false, "button"); }));
  EXPECT_TRUE(Eventually([&] { return OpdsNavigation() == Json::array(); }))
      << OpdsNavigation().dump();
  EXPECT_TRUE(Eventually([&] {
    return ReadFile(list_file).find(Gbk("小书库")) == std::string::npos &&
           !fs::exists(public_dir_ + "/opds/o1");
  })) << ReadFile(list_file);
  EXPECT_EQ(driver_->Text("#opds-list"), "");
  ASSERT_TRUE(driver_->Click("#settings-cancel"));
  EXPECT_TRUE(Eventually([&] { return driver_->Text("#view-title") == "杂志"; }))
      << driver_->Text("#view-title");

  // Behind HTTP Basic, the password given in the settings: its books show.
  AddOpdsCatalogue("受保护", base + "/opds-basic/", "reader", "secret");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(ClickText("#nav .nav-opds", "受保护", false));
  ASSERT_TRUE(Eventually([&] { return ShowsCard("All books"); })) << driver_->Text("#empty");
  ASSERT_TRUE(ClickText("#spacer .card .ctitle", "All books"));
  EXPECT_TRUE(Eventually([&] { return ShowsCard("Silent River 0"); })) << driver_->Text("#empty");
  EXPECT_EQ(ReadFile(list_file).find("secret"), std::string::npos);

  // A user and no password: the program asks in its form. The form is answered before
  // the page is asked anything (the program is busy with it while it is open).
  AddOpdsCatalogue("问密码", base + "/opds-basic/", "reader");
  ASSERT_FALSE(HasFatalFailure());
  const auto answer = [&](const std::string& password) {
    std::string form;
    if (!Eventually([&] {
          form = XdoTool("search --onlyvisible --name '^问密码$'");
          return !form.empty();
        }))
      return false;
    form = form.substr(0, form.find('\n'));
    XdoTool("windowfocus --sync " + form);
    XdoTool("key --clearmodifiers Tab");
    XdoTool("type --delay 20 '" + password + "'");
    XdoTool("key --clearmodifiers Return");
    return Eventually([&] { return XdoTool("search --onlyvisible --name '^问密码$'").empty(); });
  };
  ASSERT_TRUE(ClickText("#nav .nav-opds", "问密码", false));
  ASSERT_TRUE(answer("wrong")) << "the form never asked, or stayed";
  // A wrong one: the failure, with the server's word, and 重试.
  EXPECT_TRUE(Eventually([&] { return driver_->Text("#empty-title") == "加载失败"; }))
      << driver_->Text("#empty");
  EXPECT_NE(driver_->Text("#empty-line"), "");
  EXPECT_TRUE(CardTitles().empty());
  Shot("opds-refused");
  ASSERT_TRUE(driver_->Click("#empty-button"));
  ASSERT_TRUE(answer("secret")) << "the form was not asked again";
  EXPECT_TRUE(Eventually([&] { return ShowsCard("All books"); })) << driver_->Text("#empty");
}

// axe-core's findings on the page as it is now: one line "id (impact): target" for each
// element of each violation, of every impact. axe is put into the page on first use.
std::vector<std::string> AxeViolations(Driver& driver) {
  if (driver.Eval("return typeof axe") != "object") {
    const std::string axe = ReadFile(LUMORA_AXE_JS);
    if (axe.empty()) return {"axe-core missing at " LUMORA_AXE_JS " (scripts/setup installs it)"};
    driver.Eval(axe + "\n;return typeof axe;");
  }
  driver.Session("POST", "/timeouts", {{"script", 120000}});
  Json found = driver.Session(
      "POST", "/execute/async",
      {{"script",
        "var done = arguments[0];"
        "if (typeof axe !== 'object') { done(['axe-core could not run in the page']); return; }"
        "axe.run(document, {resultTypes: ['violations']}).then(function (r) {"
        "  var out = r.passes.length ? [] : ['axe passed no rule: it checked nothing'];"
        "  r.violations.forEach(function (v) { v.nodes.forEach(function (n) {"
        "    out.push(v.id + ' (' + v.impact + '): ' + n.target.join(' ')); }); });"
        "  done(out); }, function (e) { done(['axe failed: ' + e]); });"},
       {"args", Json::array()}})["value"];
  if (!found.is_array()) return {"no answer from axe: " + found.dump()};
  return found.get<std::vector<std::string>>();
}

// A reader's way through the page: every state a user meets, checked by axe-core (no
// violation of any impact), with the panels' and the grid's own promises on the way:
// one popover at a time, closed by a click outside, never over the drawer's close
// button nor under a dialog's scrim; dialogs that keep the focus and give it back; a
// skip link to the grid; the grid's active card named by aria-activedescendant.
TEST_F(WebDriverTest, ReadersFindNoViolationInAnyState) {
  StartVendor();
  // One download that runs for a minute, one the service refuses (404).
  WriteFile(vendor_root_ / "faults.txt", "/crawl/=slow:16384:1000\n");
  WriteFile(vendor_root_ / "crawl/m01.pdf", download_bytes_);
  GiveDownloadUrl("maga/maga1.xml", "m01", "/crawl/m01.pdf");
  GiveDownloadUrl("maga/maga1.xml", "m02", "/gone/m02.pdf");
  // The books in two groups, so that their grid has section headers; one paid, with no
  // cover of its own.
  const std::string books = public_dir_ + "/book/book1.xml";
  std::string xml = ReadFile(books);
  const std::size_t end = xml.find(Gbk("</目录>"));
  ASSERT_NE(end, std::string::npos);
  xml.insert(end,
             Gbk("<分类 id=\"经典\" 总数=\"1\" 最大值=\"100\">\r\n<书 id=\"b09\" name=\"红楼梦\" "
                 "photo=\"\" date=\"1791\" pay=\"1\" price=\"6\" DLurl=\"\" RDurl=\"\" "
                 "BYurl=\"\" />\r\n</分类>\r\n"));
  WriteFile(books, xml);
  StartProgram();
  int checked = 0;
  const auto check = [&](const std::string& state) {
    Shot("axe-" + std::to_string(++checked));
    std::string all;
    for (const std::string& v : AxeViolations(*driver_)) all += "\n  " + v;
    EXPECT_EQ(all, "") << state << ": violations:" << all;
  };
  const auto open = [&](const std::string& id) {
    return driver_->Eval("return !document.getElementById(arguments[0]).hidden", {id}) == true;
  };
  const auto focused = [&] { return driver_->Eval("return document.activeElement.id"); };
  const auto show = [&](const std::string& view) {
    EXPECT_TRUE(driver_->Click("#nav button[data-view=\"" + view + "\"]")) << view;
    EXPECT_TRUE(Eventually([&] {
      return driver_->Text("#view-count").rfind("共 ", 0) == 0 || open("empty");
    })) << view;
  };
  const auto keys = [&](const std::vector<std::string>& modifiers, const std::string& key) {
    Json steps = Json::array();
    for (const auto& m : modifiers) steps.push_back({{"type", "keyDown"}, {"value", m}});
    steps.push_back({{"type", "keyDown"}, {"value", key}});
    steps.push_back({{"type", "keyUp"}, {"value", key}});
    for (const auto& m : modifiers) steps.push_back({{"type", "keyUp"}, {"value", m}});
    driver_->Session(
        "POST", "/actions",
        {{"actions", Json::array({{{"type", "key"}, {"id", "keyboard"}, {"actions", steps}}})}});
  };
  const std::string kShift = "\xee\x80\x88", kControl = "\xee\x80\x89",
                    kArrowRight = "\xee\x80\x94";

  // Signed out: a catalogue, and a shelf view that asks for the sign-in.
  show("maga");
  ASSERT_TRUE(Eventually([&] { return ShowsCard("城市旅行 2026年第1期"); }));
  check("杂志, signed out");
  // The first Tab reaches the skip link, which leads past the band to the grid.
  driver_->Eval("document.activeElement.blur();");
  keys({}, kTab);
  EXPECT_EQ(driver_->Eval("var e = document.activeElement, r = e.getBoundingClientRect();"
                          "return [e.className, r.width > 0 && r.top >= 0];"),
            Json({"skip", true}));
  keys({}, kEnter);
  EXPECT_EQ(focused(), "scroller");

  show("fav");
  check("我的收藏, signed out");

  // Sign-in open; downloads open in its stead; a click outside closes them.
  ASSERT_TRUE(driver_->Click("#btn-account"));
  ASSERT_TRUE(open("signin"));
  check("sign-in open");
  ASSERT_TRUE(driver_->Click("#btn-downloads"));
  EXPECT_TRUE(open("downloads"));
  EXPECT_FALSE(open("signin"));
  ASSERT_TRUE(driver_->Click("#view-title"));
  EXPECT_FALSE(open("downloads"));

  ASSERT_TRUE(driver_->Click("#btn-account"));
  ASSERT_TRUE(driver_->Type("#signin-name", "reader"));
  ASSERT_TRUE(driver_->Type("#signin-pass", "secret"));
  ASSERT_TRUE(driver_->Click("#signin-submit"));
  ASSERT_TRUE(Eventually([&] { return driver_->Text("#btn-account") == "reader"; }));
  show("bought");
  check("已购买, signed in");
  for (const char* view : {"maga", "book", "audio", "mics", "video"}) {
    show(view);
    check(std::string("catalogue ") + view);
    // Audio and 杂项 covers are square frames, the others 3:4.
    const bool square = view == std::string("audio") || view == std::string("mics");
    EXPECT_EQ(driver_->Eval("var b = document.querySelector('#spacer .card .cover')"
                            ".getBoundingClientRect(); return Math.round(b.height / b.width * 20)"),
              square ? 20 : 27)
        << view;
    // The books' section headers are rows of their own.
    if (view == std::string("book")) {
      EXPECT_EQ(driver_->Eval("return document.querySelectorAll("
                              "'#spacer [role=row] > [role=rowheader] .sechead').length"),
                2);
    }
  }

  // Search with results and without.
  ASSERT_TRUE(driver_->Type("#search-box", "摄影\xee\x80\x87"));
  EXPECT_TRUE(Eventually([&] { return ShowsCard("摄影之友 第12期"); }));
  check("search with results");
  driver_->Eval("document.getElementById('search-box').value = '';");
  ASSERT_TRUE(driver_->Type("#search-box", "无此书名\xee\x80\x87"));
  EXPECT_TRUE(Eventually([&] { return driver_->Text("#empty-title").rfind("没有找到", 0) == 0; }));
  check("search without results");

  // The grid names its active card to readers.
  show("maga");
  ASSERT_TRUE(Eventually([&] { return ShowsCard("摄影之友 第12期"); }));
  driver_->Eval("document.getElementById('scroller').focus();");
  keys({}, kArrowRight);
  EXPECT_EQ(
      driver_->Eval("var g = document.getElementById('scroller');"
                    "var c = document.getElementById(g.getAttribute('aria-activedescendant'));"
                    "return c && [c.getAttribute('role'), c.getAttribute('data-id')];"),
      Json({"gridcell", "m02"}));

  // The drawer; popovers leave its close button free.
  ASSERT_TRUE(driver_->Click("#spacer .card[data-id=\"m02\"] .ctitle"));
  ASSERT_TRUE(Eventually([&] { return open("drawer"); }));
  check("drawer");
  const char* kCloseFree =
      "var b = document.querySelector('#drawer .close'), r = b.getBoundingClientRect();"
      "return b.contains(document.elementFromPoint(r.left + r.width / 2, r.top + r.height / 2));";
  for (const char* button : {"#btn-account", "#btn-downloads"}) {
    ASSERT_TRUE(driver_->Click(button));
    EXPECT_EQ(driver_->Eval(kCloseFree), true) << button;
  }
  ASSERT_TRUE(driver_->Click("#view-title"));

  // The item menu.
  ASSERT_TRUE(driver_->Click("#spacer .card[data-id=\"m01\"] .more"));
  ASSERT_TRUE(Eventually([&] { return open("menu"); }));
  check("item menu");
  ASSERT_TRUE(driver_->Click("#view-title"));
  EXPECT_FALSE(open("menu"));

  // Downloads with one running and one failed.
  for (const char* id : {"m01", "m02"}) {
    driver_->Eval("window.Lumora.item.closeDrawer();");
    ASSERT_TRUE(driver_->Click(std::string("#spacer .card[data-id=\"") + id + "\"] .ctitle"));
    ASSERT_TRUE(Eventually([&] { return ClickButton("#drawer .acts", "下载"); })) << id;
  }
  driver_->Eval("window.Lumora.item.closeDrawer();");
  ASSERT_TRUE(driver_->Click("#btn-downloads"));
  EXPECT_TRUE(Eventually([&] {
    return driver_->Text("#dl-list .dlrow[data-id=\"m01\"] .state").find("下载中") !=
               std::string::npos &&
           driver_->Text("#dl-list .dlrow[data-id=\"m02\"] .state").rfind("下载失败", 0) == 0;
  })) << driver_->Text("#dl-list");
  check("downloads");
  ASSERT_TRUE(driver_->Click("#view-title"));

  // Settings: the focus stays inside both ways round, and goes back to 设置 on close.
  ASSERT_TRUE(driver_->Click("#btn-settings"));
  ASSERT_TRUE(Eventually([&] { return open("settings"); }));
  check("settings");
  const char* kInside =
      "return document.getElementById('settings').contains(document.activeElement)";
  for (int i = 0; i < 8; ++i) {
    keys({}, kTab);
    EXPECT_EQ(driver_->Eval(kInside), true) << "Tab " << i;
  }
  for (int i = 0; i < 8; ++i) {
    keys({kShift}, kTab);
    EXPECT_EQ(driver_->Eval(kInside), true) << "Shift+Tab " << i;
  }
  // No popover opens under the dialog's scrim.
  keys({kControl}, "j");
  EXPECT_FALSE(open("downloads"));
  ASSERT_TRUE(driver_->Click("#settings-cancel"));
  EXPECT_EQ(focused(), "btn-settings");

  // The welcome (as the host shows it on a first run) starts on its primary button.
  driver_->Eval("lumora.setVariable('FirstRun', 'true');");
  ASSERT_TRUE(open("welcome"));
  EXPECT_EQ(focused(), "welcome-start");
  check("welcome");
}

// The processes of process group |group|, with their command names.
std::vector<std::pair<pid_t, std::string>> GroupMembers(pid_t group) {
  std::vector<std::pair<pid_t, std::string>> members;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string stat = ReadFile(entry.path() / "stat");
    std::size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    std::string state;
    long parent = 0, pgrp = 0;
    rest >> state >> parent >> pgrp;
    if (pgrp == group)
      members.emplace_back(std::stoi(name), stat.substr(open + 1, close - open - 1));
  }
  return members;
}

// Ending the driver ends the program it started and the program's WebKit processes:
// none is left behind to hold the test's output open.
TEST_F(WebDriverTest, EndingTheDriverLeavesNoProcessBehind) {
  StartVendor();
  StartProgram();
  std::vector<std::pair<pid_t, std::string>> members = GroupMembers(driver_->pid());
  std::string names;
  for (const auto& [pid, name] : members) names += name + " ";
  ASSERT_NE(names.find("lumora"), std::string::npos) << names;
  ASSERT_NE(names.find("WebKitWebProces"), std::string::npos) << names;
  driver_.reset();
  for (const auto& [pid, name] : members)
    EXPECT_NE(kill(pid, 0), 0) << name << " (" << pid << ") is still there";
}

// |ascii| in UTF-16 (little-endian), as the page's storage may keep its keys.
std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

// Rectangles of the page as [name, left, top, right, bottom].
bool Inside(const Json& a, double w, double h) {
  return a[1].get<double>() >= 0 && a[2].get<double>() >= 0 && a[3].get<double>() <= w &&
         a[4].get<double>() <= h && a[3].get<double>() > a[1].get<double>() &&
         a[4].get<double>() > a[2].get<double>();
}
bool Within(const Json& a, const Json& box) {
  return a[1].get<double>() >= box[1].get<double>() - 0.5 &&
         a[2].get<double>() >= box[2].get<double>() - 0.5 &&
         a[3].get<double>() <= box[3].get<double>() + 0.5 &&
         a[4].get<double>() <= box[4].get<double>() + 0.5;
}
bool Overlap(const Json& a, const Json& b) {
  double w = std::min(a[3].get<double>(), b[3].get<double>()) -
             std::max(a[1].get<double>(), b[1].get<double>());
  double h = std::min(a[4].get<double>(), b[4].get<double>()) -
             std::max(a[2].get<double>(), b[2].get<double>());
  return w > 0.5 && h > 0.5;
}
void ExpectApart(const Json& list, const std::string& where) {
  for (std::size_t i = 0; i < list.size(); ++i)
    for (std::size_t j = i + 1; j < list.size(); ++j)
      EXPECT_FALSE(Overlap(list[i], list[j]))
          << where << ": " << list[i].dump() << " overlaps " << list[j].dump();
}

// The rectangles of the page's parts, once the layout has settled.
constexpr const char* kLayoutScript = R"(
  function r(name, e) { var b = e.getBoundingClientRect();
    return [name, b.left, b.top, b.right, b.bottom]; }
  function shown(e) { return e.offsetParent !== null; }
  var nav = document.getElementById('nav'), toolbar = document.getElementById('toolbar');
  var main = [r('band', document.getElementById('band')), r('nav', nav),
              r('toolbar', toolbar), r('grid', document.getElementById('scroller'))];
  var band = [r('title', document.getElementById('title')),
              r('search', document.getElementById('search-form'))];
  document.querySelectorAll('#band .band-right button').forEach(function (b) {
    band.push(r(b.id || b.textContent, b)); });
  var tools = Array.from(toolbar.children).filter(function (e) {
    return shown(e) && !e.classList.contains('spacer'); }).map(function (e) {
    return r(e.id || e.textContent, e); });
  var entries = Array.from(nav.children).map(function (e) { return r(e.textContent, e); });
  var cards = Array.from(document.querySelectorAll('#spacer .card')).map(function (c) {
    return r('card ' + c.getAttribute('data-id'), c); });
  return {main: main, band: band, tools: tools, nav: entries, cards: cards,
          navFits: nav.scrollHeight <= nav.clientHeight + 1,
          toolbarFits: toolbar.scrollWidth <= toolbar.clientWidth + 1,
          toolsWhole: Array.from(toolbar.querySelectorAll('button')).filter(shown).every(function (b) {
            return b.scrollWidth <= b.clientWidth + 1; }),
          metaOnOneLine: Array.from(document.querySelectorAll('#spacer .card .meta')).every(function (m) {
            return m.scrollHeight <= m.clientHeight + 1 && m.scrollWidth <= m.clientWidth + 1; }),
          cutDates: Array.from(document.querySelectorAll('#spacer .card .meta .date')).filter(function (d) {
            var b = d.getBoundingClientRect(), m = d.parentNode.getBoundingClientRect();
            return d.scrollWidth > d.clientWidth + 1 || b.right > m.right + 0.5; }).map(function (d) {
            return d.textContent; }),
          twoLineActions: Array.from(document.querySelectorAll('#spacer .main-action')).filter(function (b) {
            return b.getBoundingClientRect().height > parseFloat(getComputedStyle(b).lineHeight) + 8; })
            .map(function (b) { return b.textContent; }),
          smallText: Array.from(document.querySelectorAll('body *')).filter(function (e) {
            return e.getClientRects().length > 0 && Array.from(e.childNodes).some(function (n) {
              return n.nodeType === 3 && n.textContent.trim(); }) &&
              parseFloat(getComputedStyle(e).fontSize) < 12; }).map(function (e) {
            return e.textContent + ' ' + getComputedStyle(e).fontSize; }),
          smallTargets: Array.from(document.querySelectorAll('button, input, a[href]')).filter(function (e) {
            var b = e.getBoundingClientRect();
            return e.getClientRects().length > 0 && (b.width < 24 || b.height < 24); }).map(function (e) {
            var b = e.getBoundingClientRect();
            return (e.id || e.className || e.textContent) + ' ' + b.width + 'x' + b.height; })};
)";

// The window on a desktop whose work area is |width| x |height| (a display of that size of
// the test's own), after the host's "最大化": the top band, the navigation, the toolbar and
// the grid of covers stay inside the window and apart; every navigation entry shows
// whole without scrolling; neither the band's controls, the toolbar's, nor the covers
// overlap.
void WebDriverTest::ExpectLayoutFits(int width, int height, bool dark) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  SCOPED_TRACE(size + (dark ? " dark" : ""));
  XvfbDisplay display(width, height);
  ASSERT_TRUE(display.ready()) << "Xvfb did not start";
  // A desktop that prefers dark: the GTK theme's dark variant, as its settings name it.
  if (dark)
    setenv("GTK_THEME", "Adwaita:dark", 1);
  else
    unsetenv("GTK_THEME");
  StartProgram();
  unsetenv("GTK_THEME");
  ASSERT_TRUE(driver_->Click("#nav button[data-view=\"maga\"]"));
  ASSERT_TRUE(Eventually([&] { return ShowsCard("城市旅行 2026年第1期"); }));
  // The host's "最大化" on that work area: the window and its view take the whole of it.
  ASSERT_TRUE(driver_->Click("#win-max"));
  const std::string w = std::to_string(width), h = std::to_string(height);
  ASSERT_TRUE(Eventually([&] {
    return driver_->Eval("return window.innerWidth === " + w + " && window.innerHeight === " + h +
                         " && lumora.get('StageX') === '" + w + "' && lumora.get('StageY') === '" +
                         h + "'") == true;
  })) << driver_
             ->Eval(
                 "return [window.innerWidth, window.innerHeight,"
                 " lumora.get('StageX'), lumora.get('StageY')]")
             .dump();

  Json page = driver_->Eval(kLayoutScript);
  ASSERT_TRUE(page.is_object()) << page.dump();
  ASSERT_EQ(page["main"].size(), 4u);
  for (const Json& a : page["main"]) EXPECT_TRUE(Inside(a, width, height)) << a.dump();
  ExpectApart(page["main"], "window");
  for (const Json& a : page["band"]) {
    EXPECT_TRUE(Inside(a, width, height)) << a.dump();
    EXPECT_TRUE(Within(a, page["main"][0])) << a.dump();
  }
  ExpectApart(page["band"], "band");
  // Every navigation entry whole inside the navigation, none hidden below its end.
  EXPECT_EQ(page["navFits"], true);
  ASSERT_EQ(page["nav"].size(), 13u) << page["nav"].dump();  // 2 headings, 11 entries
  for (const Json& a : page["nav"]) EXPECT_TRUE(Within(a, page["main"][1])) << a.dump();
  ExpectApart(page["nav"], "navigation");
  // The toolbar's title, count, 排序, 跳到分组 and cover sizes on one line, whole.
  EXPECT_EQ(page["toolbarFits"], true);
  EXPECT_EQ(page["toolsWhole"], true);
  EXPECT_GE(page["tools"].size(), 5u) << page["tools"].dump();
  for (const Json& a : page["tools"]) EXPECT_TRUE(Within(a, page["main"][2])) << a.dump();
  ExpectApart(page["tools"], "toolbar");
  // Every search chip shows whole, on one line, inside the band.
  Json chips = driver_->Eval(
      "var box = document.getElementById('chips').getBoundingClientRect();"
      "return Array.from(document.querySelectorAll('#chips button')).map(function (c) {"
      "  var b = c.getBoundingClientRect();"
      "  return [c.textContent, b.left - box.left, box.right - b.right, b.height,"
      "          c.scrollWidth <= c.clientWidth]; });");
  ASSERT_EQ(chips.size(), 6u) << chips.dump();
  for (const Json& c : chips) {
    EXPECT_GE(c[1].get<double>(), 0) << c.dump();
    EXPECT_GE(c[2].get<double>(), 0) << c.dump();
    EXPECT_LE(c[3].get<double>(), 24) << c.dump();
    EXPECT_EQ(c[4], true) << c.dump();
  }
  // The covers sit in the grid's columns: none reaches past the grid's right edge.
  ASSERT_FALSE(page["cards"].empty());
  const Json& grid = page["main"][3];
  for (const Json& c : page["cards"]) {
    EXPECT_GE(c[1].get<double>(), grid[1].get<double>()) << c.dump();
    EXPECT_LE(c[3].get<double>(), grid[3].get<double>()) << c.dump();
  }
  ExpectApart(page["cards"], "grid");
  // Each card's date and price stay on their one line, inside the card; every date whole,
  // every main action on one line; no text under 12 px, no target under 24 x 24.
  EXPECT_EQ(page["metaOnOneLine"], true);
  EXPECT_EQ(page["cutDates"], Json::array());
  EXPECT_EQ(page["twoLineActions"], Json::array());
  EXPECT_EQ(page["smallText"], Json::array());
  EXPECT_EQ(page["smallTargets"], Json::array());
  // The page follows the desktop's dark preference with its own colours.
  EXPECT_EQ(driver_->Eval("return [matchMedia('(prefers-color-scheme: dark)').matches,"
                          " getComputedStyle(document.body).backgroundColor]"),
            dark ? Json({true, "rgb(28, 23, 19)"}) : Json({false, "rgb(250, 246, 239)"}));
  std::string path = Shot("window-" + size + (dark ? "-dark" : ""));
  EXPECT_TRUE(fs::file_size(path) > 0);

  // The local files' toolbar has one control more, 添加文件: still one line, whole.
  ASSERT_TRUE(driver_->Click("#nav button[data-view=\"local\"]"));
  ASSERT_TRUE(Eventually([&] { return driver_->Text("#view-title") == "本地文件"; }));
  page = driver_->Eval(kLayoutScript);
  ASSERT_TRUE(page.is_object()) << page.dump();
  EXPECT_EQ(page["toolbarFits"], true);
  EXPECT_EQ(page["toolsWhole"], true);
  EXPECT_GE(page["tools"].size(), 6u) << page["tools"].dump();
  for (const Json& a : page["tools"]) EXPECT_TRUE(Within(a, page["main"][2])) << a.dump();
  ExpectApart(page["tools"], "local toolbar");
  driver_.reset();
}

// The smallest window the program allows.
TEST_F(WebDriverTest, SmallWindowKeepsBandNavigationAndGridApart) {
  StartVendor();
  // A magazine to download (its main action on the cover) and a paid one (its price
  // beside its date on the smallest cover).
  GiveDownloadUrl();
  const std::string magazines = public_dir_ + "/maga/maga1.xml";
  std::string xml = ReadFile(magazines);
  const std::size_t paid = xml.find("pay=\"0\" price=\"0\"", xml.find("id=\"m02\""));
  ASSERT_NE(paid, std::string::npos);
  xml.replace(paid, 17, "pay=\"1\" price=\"16\"");
  WriteFile(magazines, xml);
  ExpectLayoutFits(800, 570);
}

// Short and wide, narrow and tall, and the large windows: the layout's steps.
TEST_F(WebDriverTest, LayoutFitsAtEverySizeStep) {
  StartVendor();
  for (auto [width, height] : {std::pair{899, 570}, std::pair{1024, 570}, std::pair{800, 1024},
                               std::pair{1280, 1024}, std::pair{1920, 1080}}) {
    // One step on a desktop that prefers dark.
    ExpectLayoutFits(width, height, width == 1024);
    if (HasFatalFailure()) return;
  }
}

// A book catalogue of ten thousand items in four groups, as the host writes catalogues
// (GB2312, CR LF). Every group holds "书目 N" items dated 2010 to 2024; the first group
// also holds one dated later than all ("late"), and at its end three whose names come
// first in pinyin (阿 a, 白 bai, 茶 cha) though their code points are in another order.
std::string LongCatalogue() {
  const std::pair<const char*, int> groups[] = {
      {"第一辑", 4000}, {"第二辑", 3000}, {"第三辑", 2000}, {"第四辑", 1000}};
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\r\n"
      "<目录 分类=\"图书\" 总数=\"10000\" 最大值=\"20000\">\r\n";
  auto add = [&xml](const std::string& id, const std::string& name, const std::string& date) {
    xml += "<书 id=\"" + id + "\" name=\"" + name + "\" photo=\"\" date=\"" + date +
           "\" pay=\"0\" price=\"0\" DLurl=\"\" RDurl=\"\" BYurl=\"\" />\r\n";
  };
  for (int g = 0; g < 4; ++g) {
    xml += std::string("<分类 id=\"") + groups[g].first + "\" 总数=\"" +
           std::to_string(groups[g].second) + "\" 最大值=\"20000\">\r\n";
    int plain = groups[g].second - (g == 0 ? 4 : 0);
    for (int i = 0; i < plain; ++i) {
      char date[16];
      std::snprintf(date, sizeof date, "%d-%02d", 2010 + i % 15, 1 + i % 12);
      add("g" + std::to_string(g + 1) + "-" + std::to_string(i), "书目 " + std::to_string(i), date);
      if (g == 0 && i == plain / 2) add("late", "新书 最新", "2031-01");
    }
    if (g == 0) {
      add("cha", "茶馆", "1957");
      add("bai", "白鹿原", "1993");
      add("a", "阿房宫赋", "0826");
    }
    xml += "</分类>\r\n";
  }
  xml += "</目录>\r\n";
  return Gbk(xml);
}

// The 图书 catalogue of ten thousand items: sorted through the toolbar's 排序 by mouse
// and keyboard, jumped through 跳到分组, and its order still chosen after a restart,
// while another view keeps its own. The grid makes only the cards in view.
TEST_F(WebDriverTest, SortAndJumpInTenThousandItems) {
  WriteFile(public_dir_ + "/book/book1.xml", LongCatalogue());
  StartVendor();
  StartProgram();
  ASSERT_TRUE(driver_->Click("#nav button[data-view=\"book\"]"));
  ASSERT_TRUE(Eventually([&] { return driver_->Text("#view-count") == "共 10000 项"; }))
      << driver_->Text("#view-count") << " / " << driver_->Text("#empty-title");
  EXPECT_EQ(driver_->Text("#btn-order"), "排序：默认分组");
  EXPECT_EQ(VisibleCards().front(), "g1-0");
  EXPECT_LT(CardCount(), 300) << "the grid made cards out of view";

  // 排序 by mouse: the menu opens on the chosen order; the keyboard picks 名称.
  ASSERT_TRUE(driver_->Click("#btn-order"));
  ASSERT_TRUE(Eventually(
      [&] { return driver_->Eval("return !document.getElementById('menu').hidden") == true; }));
  EXPECT_EQ(
      driver_->Eval(
          "return Array.from(document.querySelectorAll('#menu [role=menuitemradio]'))"
          ".map(function (b) { return b.textContent + ':' + b.getAttribute('aria-checked'); })"),
      Json({"默认分组:true", "日期:false", "名称:false"}));
  EXPECT_EQ(driver_->Eval("return document.activeElement.textContent"), "默认分组");
  EXPECT_EQ(
      driver_->Eval("return document.getElementById('btn-order').getAttribute('aria-expanded')"),
      "true");
  Shot("order-menu");
  ASSERT_TRUE(driver_->Keys({kArrowDown, kArrowDown, kEnter}));
  ASSERT_TRUE(Eventually([&] { return driver_->Text("#btn-order") == "排序：名称"; }));
  EXPECT_EQ(driver_->Eval("return document.getElementById('menu').hidden"), true);
  EXPECT_EQ(driver_->Eval("return document.activeElement.id"), "btn-order");
  std::vector<std::string> first = VisibleCards();
  ASSERT_GE(first.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(first.begin(), first.begin() + 3),
            (std::vector<std::string>{"a", "bai", "cha"}));
  EXPECT_LT(CardCount(), 300);

  // 排序 by keyboard alone: Enter opens it on 名称, up to 日期; the latest comes first.
  ASSERT_TRUE(driver_->Keys({kEnter}));
  ASSERT_TRUE(Eventually(
      [&] { return driver_->Eval("return document.activeElement.textContent") == "名称"; }));
  ASSERT_TRUE(driver_->Keys({kArrowUp, kEnter}));
  ASSERT_TRUE(Eventually([&] { return driver_->Text("#btn-order") == "排序：日期"; }));
  EXPECT_EQ(VisibleCards().front(), "late");
  // And back to 名称, for the restart below.
  ASSERT_TRUE(driver_->Keys({kEnter, kArrowDown, kEnter}));
  ASSERT_TRUE(Eventually([&] { return driver_->Text("#btn-order") == "排序：名称"; }));

  // 跳到分组 by keyboard: Tab reaches it with a visible focus ring; Escape closes its menu
  // and gives the focus back; End and Enter jump to the last group.
  ASSERT_TRUE(driver_->Keys({kTab}));
  ASSERT_EQ(driver_->Eval("return document.activeElement.id"), "btn-jump");
  EXPECT_EQ(driver_->Eval("return getComputedStyle(document.activeElement).outlineStyle"), "solid");
  ASSERT_TRUE(driver_->Keys({kEnter}));
  ASSERT_TRUE(Eventually(
      [&] { return driver_->Eval("return !document.getElementById('menu').hidden") == true; }));
  EXPECT_EQ(driver_->Eval("return Array.from(document.querySelectorAll('#menu [role=menuitem]'))"
                          ".map(function (b) { return b.textContent; })"),
            Json({"第一辑 · 4000 项", "第二辑 · 3000 项", "第三辑 · 2000 项", "第四辑 · 1000 项"}));
  EXPECT_EQ(driver_->Eval("return document.activeElement.textContent"), "第一辑 · 4000 项");
  ASSERT_TRUE(driver_->Keys({kEscape}));
  ASSERT_TRUE(Eventually(
      [&] { return driver_->Eval("return document.getElementById('menu').hidden") == true; }));
  EXPECT_EQ(driver_->Eval("return document.activeElement.id"), "btn-jump");
  EXPECT_EQ(
      driver_->Eval("return document.getElementById('btn-jump').getAttribute('aria-expanded')"),
      "false");
  ASSERT_TRUE(driver_->Keys({kEnter}));
  ASSERT_TRUE(Eventually(
      [&] { return driver_->Eval("return !document.getElementById('menu').hidden") == true; }));
  ASSERT_TRUE(driver_->Keys({kEnd, kEnter}));
  ASSERT_TRUE(Eventually([&] { return HeaderOffset("第四辑") == Json(0); }))
      << HeaderOffset("第四辑").dump();
  std::vector<std::string> last = VisibleCards();
  ASSERT_FALSE(last.empty());
  for (const std::string& id : last) EXPECT_EQ(id.rfind("g4-", 0), 0u) << id;
  EXPECT_LT(CardCount(), 300);
  // The focus went to the grid, on the group's first card.
  EXPECT_EQ(driver_->Eval("return document.activeElement.id"), "scroller");
  EXPECT_EQ(driver_->Eval("var c = document.querySelector('#spacer .card.active');"
                          "return c && c.getAttribute('data-id')"),
            last.front());
  Shot("jumped-last-group");

  // 跳到分组 by mouse, back up to the second group.
  ASSERT_TRUE(driver_->Click("#btn-jump"));
  ASSERT_TRUE(Eventually([&] { return ClickButton("#menu", "第二辑"); }));
  ASSERT_TRUE(Eventually([&] { return HeaderOffset("第二辑") == Json(0); }))
      << HeaderOffset("第二辑").dump();
  EXPECT_EQ(VisibleCards().front().rfind("g2-", 0), 0u);

  // The magazines keep their own order; the one group there has nothing to jump to.
  ASSERT_TRUE(driver_->Click("#nav button[data-view=\"maga\"]"));
  ASSERT_TRUE(Eventually([&] { return ShowsCard("城市旅行 2026年第1期"); }));
  EXPECT_EQ(driver_->Text("#btn-order"), "排序：默认分组");
  EXPECT_EQ(driver_->Eval("return document.getElementById('btn-jump').disabled"), true);

  // After a restart the books are still sorted by name. The page's storage reaches the
  // disk in batches: the program is ended once the choice is there, as a later start
  // by a user would find it.
  const std::string storage = home_ / "data/lumora/localstorage";
  EXPECT_TRUE(Eventually([&] {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(storage, ec)) {
      const std::string bytes = ReadFile(entry.path());
      for (const std::string& key : {std::string("lumora.order.book"), Utf16("lumora.order.book")})
        if (bytes.find(key) != std::string::npos) return true;
    }
    return false;
  })) << "the order never reached "
      << storage;
  driver_.reset();
  StartProgram();
  ASSERT_TRUE(driver_->Click("#nav button[data-view=\"book\"]"));
  // The count comes with the read; in 名称 the cards wait for the order worked out beside it.
  ASSERT_TRUE(Eventually([&] {
    return driver_->Text("#view-count") == "共 10000 项" && GridFilled() &&
           VisibleCards().size() >= 3;
  }));
  EXPECT_EQ(driver_->Text("#btn-order"), "排序：名称");
  first = VisibleCards();
  ASSERT_GE(first.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(first.begin(), first.begin() + 3),
            (std::vector<std::string>{"a", "bai", "cha"}));
  Shot("sorted-after-restart");
}

}  // namespace
