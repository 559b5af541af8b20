// OPDS catalogues at scale in the movie, against the shelf's own catalogue in the same
// run. The program is started through WebKitWebDriver with "--automation" on the virtual
// display, with a lumora-vendor on loopback serving its OPDS feeds:
//   - a 图书 catalogue of 5,000 items and an OPDS feed of 5,000 entries paged by 50, each
//     in a session of its own: from the click in the navigation to the first cards, the
//     longest stretch in which the page's main thread ran nothing else (a 4 ms timer
//     chain: its longest gap) until the first listing settled, the frames while the grid
//     scrolls at 3,000 px/s against the frames at rest, and paging to the end (the grid
//     kept at its end until all 5,000 are in): its time, longest gap and frames;
//   - 200 books of an OPDS feed selected (Ctrl+A) and downloaded with 下载所选, nobody
//     signed in: how many arrived, the most downloads listed at once, the longest gap
//     from the click until the summary toast, and the time it took.
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/opds_scale_bench [paged|bulk]
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "book_catalogue.h"
#include "movie_frames.h"
#include "movie_home.h"
#include "support/lumora_process.h"
#include "support/temp_dir.h"
#include "support/vendor_process.h"
#include "support/webdriver_client.h"

namespace {

using namespace webdriver;
namespace fs = std::filesystem;

constexpr int kItems = 5000;
constexpr int kBulk = 200;

// Clicks the navigation's button |arguments[0]| and follows the load until the view
// counts at least |arguments[1]| items (the first page, or the whole catalogue) and two
// seconds more have passed: {first, gap} in ms, |first| when the card titled
// |arguments[2]| is painted.
const char* kLoad = R"JS(
var button = arguments[0], least = arguments[1], title = arguments[2], done = arguments[3];
var first = -1, end = 0;
function count() {
  var m = /共 (\d+) 项/.exec(document.getElementById('view-count').textContent);
  return m ? +m[1] : 0;
}
var t0 = performance.now();
document.querySelector(button).click();
(function frame() {
  var now = performance.now();
  if (first < 0 && Array.from(document.querySelectorAll('#spacer .card .ctitle')).some(
      function (t) { return t.textContent === title; })) first = now - t0;
  if (!end && count() >= least) end = now;
  if (end && now - end > 2000) { stop = true; done({first: first, gap: gap}); return; }
  if (now - t0 > 60000) { stop = true; done({first: first, gap: gap, timeout: true}); return; }
  requestAnimationFrame(frame);
})();
)JS";

// Pages down a view's height every other frame (as far as the grid goes: an OPDS
// listing waits at its end for its next page) until the view counts |arguments[0]| items
// with no page still to come and the end is in view: {ms, gap, median, p95, long}.
const char* kPageThrough = R"JS(
var total = arguments[0], done = arguments[1];
var s = document.getElementById('scroller');
var frames = [], prev = 0, t0 = performance.now();
function stats(list) {
  var v = list.slice().sort(function (a, b) { return a - b; });
  return {median: v[Math.floor(v.length / 2)], p95: v[Math.floor(v.length * 0.95)]};
}
function frame(now) {
  if (prev) frames.push(now - prev);
  prev = now;
  if (frames.length % 2 === 0) s.scrollTop = Math.min(s.scrollTop + s.clientHeight, s.scrollHeight);
  var whole = document.getElementById('view-count').textContent === '共 ' + total + ' 项';
  if ((whole && s.scrollTop + s.clientHeight >= s.scrollHeight - 1) || now - t0 > 120000) {
    stop = true;
    var f = stats(frames);
    done({ms: now - t0, gap: gap, median: f.median, p95: f.p95, whole: whole, long: long});
    return;
  }
  requestAnimationFrame(frame);
}
requestAnimationFrame(frame);
)JS";

// With every card selected (Ctrl+A before) and the downloads panel open, clicks 下载所选
// and follows the panel until the summary toast tells |arguments[0]| downloaded: {ms,
// gap, listed, queued, long}.
const char* kBulkDownload = R"JS(
var total = arguments[0], done = arguments[1];
var listed = 0, queued = 0, t0 = performance.now(), box = document.getElementById('dl-list');
var watch = new MutationObserver(function () {
  var l = 0, q = 0;
  box.querySelectorAll('.dlrow').forEach(function (r) {
    var s = r.getAttribute('data-state');
    if (s === 'waiting' || s === 'running' || s === 'paused') l++;
    if (s === 'queued') q++;
  });
  listed = Math.max(listed, l); queued = Math.max(queued, q);
});
watch.observe(box, {childList: true, subtree: true, attributes: true});
document.getElementById('sel-download').click();
(function check() {
  var toasts = document.getElementById('toasts').textContent;
  var over = toasts.indexOf('已下载 ' + total + ' 项') >= 0 || toasts.indexOf('失败') >= 0;
  if (over || performance.now() - t0 > 300000) {
    stop = true; watch.disconnect();
    done({ms: performance.now() - t0, gap: gap, listed: listed, queued: queued, toasts: toasts,
          long: long});
    return;
  }
  setTimeout(check, 50);
})();
)JS";

struct Figures {
  double first = -1, gap = -1;
  double rest = -1, median = -1, p95 = -1;
  Json through;  // paging to the end
};

// |j|[key] as a number; -1 when it is none.
double Number(const Json& j, const char* key) {
  return j.is_object() && j.contains(key) && j[key].is_number() ? j[key].get<double>() : -1;
}

// Runs |script| (whose last argument is the function it calls with its result) in the
// page, after the timer chain of kGapWatch unless |watch| is false (the chain runs until
// the script sets |stop|: a script that does not would leave it running), and waits for that
// result, at most five minutes; null when none came. The result is fetched by polling: the driver's
// answer to one long script would outlast the client's wait for it.
Json RunAsync(Driver& driver, const char* script, const Json& args, bool watch = true) {
  driver.Eval(std::string("var a = Array.from(arguments); window.benchResult = undefined;"
                          "a.push(function (r) { window.benchResult = {value: r}; });"
                          "(function () {") +
                  (watch ? movie_bench::kGapWatch : "") + script + "}).apply(null, a);",
              args);
  for (auto end = std::chrono::steady_clock::now() + std::chrono::minutes(5);
       std::chrono::steady_clock::now() < end;) {
    Json result = driver.Eval("return window.benchResult || null;");
    if (result.is_object() && result.contains("value")) return result["value"];
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return nullptr;
}

// One session: opens the view of navigation button |button| and measures it.
Figures Measure(const std::string& home, const std::string& program, const std::string& button,
                int first_listing, const std::string& first_title) {
  Figures f;
  Driver driver(home + "/program");
  driver.NewSession(program, {"--automation"});
  if (driver.session().empty()) return f;
  movie_bench::WaitForFirstView(driver);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  Json load = RunAsync(driver, kLoad, Json::array({button, first_listing, first_title}));
  if (!load.is_object() || load.contains("timeout")) {
    std::fprintf(stderr, "%s never showed %d items: %s\n", button.c_str(), first_listing,
                 load.dump().c_str());
    return f;
  }
  f.first = Number(load, "first");
  f.gap = Number(load, "gap");
  Json s = RunAsync(driver, movie_bench::kScroll, Json::array(), false);
  if (s.is_object()) {
    f.rest = Number(s, "rest");
    f.median = Number(s, "median");
    f.p95 = Number(s, "p95");
  }
  f.through = RunAsync(driver, kPageThrough, Json::array({kItems}));
  if (!f.through.is_object() || !f.through.contains("whole")) {
    std::fprintf(stderr, "%s: paging to the end answered %s\n", button.c_str(),
                 f.through.dump().c_str());
    f.through = {{"whole", false}};
  }
  return f;
}

void Print(const char* who, const Figures& f) {
  std::printf(
      "  %-8s first cards %6.1f ms, longest main-thread gap %6.1f ms; frames at rest %4.1f ms, "
      "scrolling median %4.1f / p95 %4.1f ms\n",
      who, f.first, f.gap, f.rest, f.median, f.p95);
  if (f.through.is_object() && f.through["whole"] == true)
    std::printf(
        "  %-8s to the end of %d: %7.0f ms, longest main-thread gap %6.1f ms, frames median "
        "%4.1f / p95 %4.1f ms\n",
        who, kItems, Number(f.through, "ms"), Number(f.through, "gap"), Number(f.through, "median"),
        Number(f.through, "p95"));
  if (f.through.is_object() && f.through["whole"] == true && !f.through["long"].empty())
    std::printf("  %-8s gaps over 50 ms [at ms, gap ms]: %s\n", who,
                f.through["long"].dump().c_str());
  else if (!f.through.is_object() || f.through["whole"] != true)
    std::printf("  %-8s never reached the end of %d: %s\n", who, kItems, f.through.dump().c_str());
}

// Files of |folder| that are not hidden (partial files are).
int FinishedFiles(const fs::path& folder) {
  int count = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.path().filename().string()[0] != '.') ++count;
  return count;
}

// 200 books selected and downloaded; false when they did not all arrive.
bool MeasureBulk(const TempDir& home, const std::string& program) {
  Driver driver(home / "program");
  driver.NewSession(program, {"--automation"});
  if (driver.session().empty()) return false;
  movie_bench::WaitForFirstView(driver);
  Json load = RunAsync(
      driver, kLoad, Json::array({"#nav button[data-view=\"opds-o2\"]", kBulk, "Silent River 0"}));
  if (!load.is_object() || load.contains("timeout")) {
    std::fprintf(stderr, "the feed of %d never showed: %s\n", kBulk, load.dump().c_str());
    return false;
  }
  driver.Eval("document.getElementById('scroller').focus();");
  if (!driver.Chord(kControlKey, "a") ||
      driver.Text("#sel-count") != "已选 " + std::to_string(kBulk) + " 项") {
    std::fprintf(stderr, "Ctrl+A selected: %s\n", driver.Text("#sel-count").c_str());
    return false;
  }
  if (!driver.Click("#btn-downloads")) return false;
  Json bulk = RunAsync(driver, kBulkDownload, Json::array({kBulk}));
  if (!bulk.is_object()) return false;
  // The summary is told when the last download ends; its file is in place by then.
  const int arrived = FinishedFiles(home / "data/vellari/downloads");
  std::printf(
      "  bulk     %d selected: %d arrived in %.1f s, at most %d listed and %d waiting, longest "
      "main-thread gap %.1f ms (goal 50: ratio %.2f)\n",
      kBulk, arrived, Number(bulk, "ms") / 1000, static_cast<int>(Number(bulk, "listed")),
      static_cast<int>(Number(bulk, "queued")), Number(bulk, "gap"), Number(bulk, "gap") / 50);
  if (bulk.contains("long") && !bulk["long"].empty())
    std::printf("  bulk     gaps over 50 ms [at ms, gap ms]: %s\n", bulk["long"].dump().c_str());
  if (arrived != kBulk || static_cast<int>(Number(bulk, "listed")) > 10) {
    std::fprintf(stderr, "toasts: %s\n", bulk["toasts"].dump().c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // "paged" or "bulk" runs that part alone.
  const std::string only = argc > 1 ? argv[1] : "";
  if (std::getenv("DISPLAY") == nullptr) {
    std::fprintf(stderr, "opds_scale_bench needs a display: run it under xvfb-run\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  TempDir home, paged_root, bulk_root;
  const std::string public_dir = movie_bench::MakeDataFolder(home);
  movie_bench::WriteCovers(public_dir + "/book");
  WriteFile(public_dir + "/book/book1.xml", movie_bench::Catalogue(kItems));
  const std::string program = movie_bench::InstallProgramIn(home);
  movie_bench::UseHome(home);
  // Two services: the feed of 5,000 paged by 50, and one page of 200 books.
  VendorProcess paged({"--root", paged_root.path(), "--opds-entries", std::to_string(kItems),
                       "--opds-page-size", "50"});
  VendorProcess bulk({"--root", bulk_root.path(), "--opds-entries", std::to_string(kBulk),
                      "--opds-page-size", std::to_string(kBulk), "--opds-book-max", "65536"});
  if (paged.port() <= 0 || bulk.port() <= 0) return 1;
  WriteFile(public_dir + "/opds/catalogues.txt",
            "#next=3\no1\t分页目录\thttp://127.0.0.1:" + std::to_string(paged.port()) +
                "/opds/books\t\no2\t批量目录\thttp://127.0.0.1:" + std::to_string(bulk.port()) +
                "/opds/books\t\n");

  if (only == "bulk") return MeasureBulk(home, program) ? 0 : 1;
  std::printf("OPDS feeds in the movie against the shelf's own catalogue (one session each)\n");
  const Figures shelf =
      Measure(home.path(), program, "#nav button[data-view=\"book\"]", kItems, "书目 第0号");
  const Figures feed =
      Measure(home.path(), program, "#nav button[data-view=\"opds-o1\"]", 50, "Silent River 0");
  Print("图书", shelf);
  Print("OPDS", feed);
  const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
  std::printf(
      "  ratios OPDS / 图书: first cards %.2f, longest gap %.2f, scrolling p95 %.2f (p95 / frame "
      "at rest: %.2f and %.2f)\n",
      ratio(feed.first, shelf.first), ratio(feed.gap, shelf.gap), ratio(feed.p95, shelf.p95),
      ratio(feed.p95, feed.rest), ratio(shelf.p95, shelf.rest));
  int failed = shelf.first < 0 || feed.first < 0 || feed.through["whole"] != true;
  if (only != "paged" && !MeasureBulk(home, program)) ++failed;
  return failed ? 1 : 0;
}
