// The first start on a fresh machine under the virtual display, driven through
// WebKitWebDriver: the local vendor service publishes the shelf's own content as
// scripts/run does, the program starts in "auto" mode on its server list with a data
// folder that does not exist yet, and the shelf shows the catalogues the updater has
// installed, with their covers. Screenshots go into the test's temporary folder (kept
// when LUMORA_KEEP_SHOTS names a folder to copy them into).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/command.h"
#include "support/lumora_process.h"
#include "support/temp_dir.h"
#include "support/vendor_process.h"
#include "support/webdriver_client.h"

namespace {

using namespace webdriver;
namespace fs = std::filesystem;

// The number of cards whose cover is the item's own picture of the catalogue of
// arguments[0], decoded; -1 while any cover the grid asked for is still loading.
constexpr const char* kPaintedCovers =
    "var folder = '/public/' + arguments[0] + '/covers/';"
    "var covers = Array.from(document.querySelectorAll('#spacer .card .cover'));"
    "if (covers.some(function (c) { return c.dataset.cover === 'loading'; }))"
    "  return -1;"
    "return covers.filter(function (c) { return c.dataset.cover === 'drawn' &&"
    "  c.dataset.fell !== '1' && (c.dataset.picture || '').indexOf(folder) > 0; }).length;";

class FirstRunWebDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vendor_ = std::make_unique<VendorProcess>(std::vector<std::string>{"--root", root_.path()});
    ASSERT_GT(vendor_->port(), 0);
    host_ = "127.0.0.1:" + std::to_string(vendor_->port());
    const CommandRun published =
        RunCommand({std::string(LUMORA_SOURCE_DIR) + "/tools/shelf/publish", LUMORA_SHELF_DIR,
                    root_.path(), host_, LUMORA_MANIFEST_BINARY});
    ASSERT_EQ(published.exit_code, 0) << published.err;
    for (const char* name : {"LUMORA_SHOP_HOST", "LUMORA_LOGIN_HOST", "LUMORA_SHARE_HOST_1",
                             "LUMORA_SHARE_HOST_2", "LUMORA_SHARE_HOST_3"})
      setenv(name, host_.c_str(), 1);
    setenv("XDG_DATA_HOME", (home_ / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
    program_dir_ = home_ / "program";
    fs::create_directories(program_dir_);
    (void)InstallProgram(program_dir_);  // the program and its desktop module
    fs::create_directories(home_ / "shots");
  }
  void TearDown() override {
    driver_.reset();
    if (vendor_) {
      EXPECT_EQ(vendor_->Stop(), 0) << vendor_->Errors();
    }
  }

  // How many cards of the grid show their own cover of |view|'s catalogue, decoded.
  int PaintedCovers(const std::string& view) {
    const Json count = driver_->Eval(kPaintedCovers, {view});
    return count.is_number_integer() ? count.get<int>() : -1;
  }

  std::string Shot(const std::string& name) { return KeepShot(*driver_, home_ / "shots", name); }

  TempDir home_, root_;
  std::string host_, program_dir_;
  std::unique_ptr<VendorProcess> vendor_;
  std::unique_ptr<Driver> driver_;
};

TEST_F(FirstRunWebDriverTest, TheShelfShowsTheCataloguesTheUpdaterInstalled) {
  ASSERT_FALSE(fs::exists(home_ / "data"));
  driver_ = std::make_unique<Driver>(program_dir_);
  ASSERT_TRUE(driver_->ready()) << "WebKitWebDriver did not answer";
  const Json reply = driver_->NewSession(
      program_dir_ + "/lumora",
      {"--automation", "http://" + host_ + "/Storage/XmlFile/serverlist.txt", "auto"});
  ASSERT_FALSE(driver_->session().empty()) << reply.dump();

  // Every title the view's empty state takes from here on.
  ASSERT_TRUE(Eventually([&] {
    return driver_->Eval("return !!document.getElementById('empty-title') && !!window.Lumora") ==
           true;
  })) << "the movie never loaded";
  driver_->Eval(
      "var t = document.getElementById('empty-title'); window.seenTitles = [t.textContent];"
      "new MutationObserver(function () { seenTitles.push(t.textContent); })"
      ".observe(t, {childList: true, characterData: true, subtree: true});");
  // A first run: the welcome shows, the update banner counts the files coming in, and
  // the view shows the shelf being prepared with the same count.
  ASSERT_TRUE(Eventually([&] {
    return driver_->Eval("return !document.getElementById('welcome').hidden") == true;
  })) << "no welcome on the first run";
  std::string banner, line;
  EXPECT_TRUE(Eventually([&] {
    banner = driver_->Text("#update-text");
    line = driver_->Text("#empty-line");
    return banner.find("正在更新") != std::string::npos &&
           driver_->Eval("return document.getElementById('empty').hidden") == false &&
           driver_->Text("#empty-title") == "正在准备书架" && line.rfind("正在安装 ", 0) == 0;
  })) << banner
      << " / " << driver_->Text("#empty-title") << " / " << line;
  EXPECT_NE(line.find(" / "), std::string::npos) << line;
  Shot("first-run-welcome");
  ASSERT_TRUE(driver_->Click("#welcome-start"));

  // Once the update is over the magazines show with their own covers.
  EXPECT_TRUE(Eventually(
      [&] {
        return driver_->Text("#view-count") == "共 24 项" &&
               driver_->Eval("return document.getElementById('update-banner').hidden") == true &&
               PaintedCovers("maga") >= 6;
      },
      120))
      << driver_->Text("#view-count") << " / " << driver_->Text("#update-text") << " / "
      << PaintedCovers("maga") << " covers painted";
  const Json titles = driver_->Eval(
      "return Array.from(document.querySelectorAll('#spacer .card .ctitle'))"
      ".map(function (e) { return e.textContent; });");
  EXPECT_NE(std::find(titles.begin(), titles.end(), "数码前沿 2026年第1期"), titles.end())
      << titles.dump();
  EXPECT_NE(driver_->Text("#spacer").find("科技数码"), std::string::npos);
  Shot("first-run-magazines");
  // Never a failure while the catalogues were coming.
  const Json seen = driver_->Eval("return seenTitles");
  ASSERT_TRUE(seen.is_array()) << seen.dump();
  EXPECT_EQ(std::find(seen.begin(), seen.end(), "加载失败"), seen.end()) << seen.dump();

  // The other catalogues are there as well.
  const std::vector<std::pair<std::string, std::string>> views = {
      {"book", "共 30 项"}, {"audio", "共 24 项"}, {"mics", "共 24 项"}, {"video", "共 24 项"}};
  for (const auto& [view, count] : views) {
    ASSERT_TRUE(driver_->Click("#nav button[data-view=\"" + view + "\"]")) << view;
    EXPECT_TRUE(Eventually([&, view = view, count = count] {
      return driver_->Text("#view-count") == count && PaintedCovers(view) >= 6;
    })) << view
        << ": " << driver_->Text("#view-count") << ", " << PaintedCovers(view) << " covers painted";
    Shot("first-run-" + view);
  }
  EXPECT_TRUE(fs::is_regular_file(home_ / "data/vellari/public/video/covers/v024.jpg"));
}

}  // namespace
