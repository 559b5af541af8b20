// Time from start to the first catalogue painted: the program, started by WebKitWebDriver
// with "--automation" on a magazine catalogue of kItems items, each with a cover file of
// its own, against a bare WebKitGTK view (the MiniBrowser of the same WebKitGTK, started
// by the same driver) loading a static page of the same covers and titles. Each run
// counts from the request for the session to the moment the page has every card, every
// cover decoded, and two animation frames after that. Needs a display (run it under
// xvfb-run), WebKitWebDriver and the MiniBrowser:
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/movie_bench [RUNS [BASELINE]]
// BASELINE, another build of the program (with its desktop module beside it, if it has
// one), is timed in the same rounds, and the ratio program / baseline printed too.
#include <arpa/inet.h>
#include <glib.h>
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

#include "movie_home.h"
#include "support/lumora_process.h"
#include "support/temp_dir.h"
#include "support/vendor_process.h"
#include "support/webdriver_client.h"

namespace {

using namespace webdriver;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kItems = 48;

// True once the grid holds |count| cards whose covers are all decoded; then waits two
// animation frames, so that what was laid out has been painted.
const char* kPainted =
    "var done = arguments[1];"
    "var cards = document.querySelectorAll('#spacer .card');"
    "if (cards.length < arguments[0]) { done(false); return; }"
    "var imgs = document.querySelectorAll('#spacer .card .cover img, #spacer .card "
    ".cover[data-cover]');"
    "for (var i = 0; i < imgs.length; ++i)"
    "  if (imgs[i].tagName === 'IMG' ? !imgs[i].complete || imgs[i].naturalWidth === 0"
    "                                : imgs[i].dataset.cover !== 'drawn') { done(false); return; }"
    "if (imgs.length < arguments[0]) { done(false); return; }"
    "requestAnimationFrame(function () { requestAnimationFrame(function () { done(true); }); });";

// Milliseconds from the session's request to the first painted catalogue; negative when
// it never came.
double TimeToPainted(const std::string& cwd, const std::string& binary,
                     const std::vector<std::string>& args, const std::string& url, int visible) {
  Driver driver(cwd);
  Clock::time_point start = Clock::now();
  driver.NewSession(binary, args);
  if (driver.session().empty()) return -1;
  if (!url.empty()) driver.Session("POST", "/url", {{"url", url}});
  Clock::time_point end = start + std::chrono::seconds(60);
  while (Clock::now() < end) {
    Json v = driver.Session("POST", "/execute/async",
                            {{"script", kPainted}, {"args", Json::array({visible})}})["value"];
    if (v == true) return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }
  return -1;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  if (std::getenv("DISPLAY") == nullptr) {
    std::fprintf(stderr, "movie_bench needs a display: run it under xvfb-run\n");
    return 2;
  }
  TempDir home;
  const fs::path res = fs::path(LUMORA_SOURCE_DIR) / "res";
  const std::string public_dir = movie_bench::MakeDataFolder(home);
  for (const auto& entry : fs::directory_iterator(res / "local"))
    if (entry.path().extension() == ".jpg")
      fs::copy(entry.path(), public_dir + "/local/" + entry.path().filename().string(),
               fs::copy_options::skip_existing);

  // The catalogue: kItems magazines, each cover a file of its own.
  std::string items;
  std::vector<std::string> cards;
  for (int i = 0; i < kItems; ++i) {
    const std::string id = "b" + std::to_string(100 + i);
    const std::string cover = "cover" + std::to_string(i) + ".jpg";
    fs::copy_file(res / "local" / "LocalDefaultPic.jpg", public_dir + "/local/" + cover);
    const std::string name = "杂志 第" + std::to_string(i + 1) + "期";
    items += "        <书 id=\"" + id + "\" name=\"" + name + "\" photo=\"/public/local/" + cover +
             "\" date=\"2026-01\" pay=\"0\" price=\"0\" DLurl=\"\" RDurl=\"\" BYurl=\"\" />\n";
    cards.push_back(
        "<div class=\"card\" data-id=\"" + id +
        "\"><div class=\"cover\"><img alt=\"\" src=\"file://" + public_dir + "/local/" + cover +
        "\"></div><div class=\"ctitle\">" + name +
        "</div><div class=\"meta\"><span>2026-01</span><span>免费</span></div></div>\n");
  }
  WriteFile(
      public_dir + "/maga/maga1.xml",
      Gbk("<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<目录 分类=\"杂志\" 总数=\"" +
          std::to_string(kItems) + "\" 最大值=\"1000\">\n    <分类 id=\"杂志精选\" 总数=\"" +
          std::to_string(kItems) + "\" 最大值=\"100\">\n" + items + "    </分类>\n</目录>\n"));
  const std::string program_dir = home / "program";
  const std::string program = movie_bench::InstallProgramIn(home);
  const std::string baseline = argc > 2 ? movie_bench::InstallBaseline(home, argv[2]) : "";
  movie_bench::UseHome(home);

  // The program's grid builds only the rows in view: the cards of its first layout are
  // counted once, and the static page holds as many.
  const std::string mini = MINIBROWSER_BINARY;
  std::vector<double> movie, bare, base, ratios;
  int in_view = 0;
  {
    Driver probe(program_dir);
    probe.NewSession(program, {"--automation"});
    if (!probe.session().empty()) {
      auto end = Clock::now() + std::chrono::seconds(60);
      while (Clock::now() < end && in_view == 0) {
        Json v =
            probe.Session("POST", "/execute/sync",
                          {{"script", "return document.querySelectorAll('#spacer .card').length"},
                           {"args", Json::array()}})["value"];
        if (v.is_number() && v.get<int>() > 0) in_view = v.get<int>();
      }
    }
  }
  if (in_view == 0) {
    std::fprintf(stderr, "the program never showed its catalogue\n");
    return 1;
  }
  // The static page: the same covers and titles as the cards the program shows.
  std::string shown;
  for (int i = 0; i < in_view && i < kItems; ++i) shown += cards[i];
  const std::string page = home / "static/covers.html";
  WriteFile(
      page,
      "<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><style>"
      "body{margin:0;font:14px sans-serif}#spacer{display:grid;gap:16px;padding:24px;"
      "grid-template-columns:repeat(auto-fill,minmax(140px,1fr))}"
      ".cover{height:186px;background:#eee}.cover img{width:100%;height:100%;object-fit:cover}"
      "</style></head><body><div id=\"spacer\">\n" +
          shown + "</div></body></html>\n");

  for (int i = 0; i < runs + 1; ++i) {  // the first pair warms the caches and is dropped
    double m = TimeToPainted(program_dir, program, {"--automation"}, "", in_view);
    double b = TimeToPainted(program_dir, mini, {"--automation"}, "file://" + page, in_view);
    double o =
        baseline.empty() ? 0 : TimeToPainted(program_dir, baseline, {"--automation"}, "", in_view);
    if (m < 0 || b < 0 || o < 0) {
      std::fprintf(stderr,
                   "a run never painted (program %.0f ms, bare view %.0f ms, baseline %.0f ms)\n",
                   m, b, o);
      return 1;
    }
    if (i == 0) continue;
    movie.push_back(m);
    bare.push_back(b);
    if (!baseline.empty()) {
      base.push_back(o);
      ratios.push_back(m / o);
    }
  }
  const double m = Median(movie), b = Median(bare);
  std::printf("start to first catalogue painted, median of %d runs\n", runs);
  std::printf("  program (%d covers in view of %d): %8.1f ms\n", in_view, kItems, m);
  std::printf("  bare WebKitGTK view, static page (%d covers): %8.1f ms\n", in_view, b);
  std::printf("  ratio program / bare view: %.2f\n", b > 0 ? m / b : 0.0);
  if (!baseline.empty()) {
    std::printf("  baseline %s: %8.1f ms\n", argv[2], Median(base));
    std::printf("  ratio program / baseline, median of the rounds' ratios: %.3f\n", Median(ratios));
  }
  return 0;
}
