// The movie with large catalogues: a 图书 catalogue of 10,000 and of 100,000 items (four
// groups, covers drawn from 240 picture files of 480x640), shown by the program started
// through WebKitWebDriver with "--automation" on the virtual display. Measured in the page:
//   - from the click on 图书 to the first cards painted, and the longest stretch in which
//     the page's main thread ran nothing else (a 4 ms timer chain: its longest gap) from
//     the click until the whole catalogue is in and settled;
//   - the frames while the grid scrolls at 3,000 px/s for four seconds, against the
//     page's frames at rest in the same session (median and 95th percentile);
//   - the web process's resident memory after scrolling the 100,000 items to their end,
//     against the same process showing a catalogue of 24 items.
// A BASELINE program (another build, with its desktop module beside it) is measured in
// the same run, and each figure given for both:
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/movie_scale_bench [BASELINE]
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "book_catalogue.h"
#include "movie_frames.h"
#include "movie_home.h"
#include "support/lumora_process.h"
#include "support/temp_dir.h"
#include "support/webdriver_client.h"

namespace {

using namespace webdriver;
namespace fs = std::filesystem;

// Clicks 图书 and follows the load: {first, gap, count} in ms (first cards painted after
// the click, the longest timer gap until the count shows every item and two seconds
// more have passed).
const char* kLoad = R"JS(
var total = arguments[0], done = arguments[1];
var first = -1, end = 0;
var t0 = performance.now();
document.querySelector('#nav button[data-view="book"]').click();
(function frame() {
  var now = performance.now();
  if (first < 0 && document.querySelector('#spacer .card[data-id="b0"]')) first = now - t0;
  if (!end && document.getElementById('view-count').textContent === '共 ' + total + ' 项') end = now;
  if (end && now - end > 2000) { stop = true; done({first: first, gap: gap, long: long}); return; }
  if (now - t0 > 60000) { stop = true; done({first: first, gap: gap, timeout: true}); return; }
  requestAnimationFrame(frame);
})();
)JS";

// Scrolls to the end in 200 steps, two frames each, then waits for covers to settle.
const char* kToEnd = R"JS(
var done = arguments[0];
var s = document.getElementById('scroller');
var step = 0;
function next() {
  step++;
  s.scrollTop = s.scrollHeight * step / 200;
  if (step < 200) requestAnimationFrame(function () { requestAnimationFrame(next); });
  else setTimeout(function () { done(s.scrollTop); }, 3000);
}
next();
)JS";

// Resident kilobytes of the WebKit web processes in the driver's process group.
long WebProcessKb(pid_t group) {
  long total = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream comm(entry.path() / "comm");
    std::string name;
    std::getline(comm, name);
    if (name.rfind("WebKitWebProces", 0) != 0) continue;
    if (getpgid(std::stoi(pid)) != group) continue;
    std::ifstream status(entry.path() / "status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("VmRSS:", 0) == 0) total += std::atol(line.c_str() + 6);
  }
  return total;
}

struct Figures {
  double first = -1, gap = -1;
  double rest = -1, median = -1, p95 = -1;
  long kb = 0;
  Json long_gaps;  // the stretches over 50 ms while loading: [[ms after the click, ms]]
};

// One session of |program| on a book catalogue of |items|.
Figures Measure(const std::string& home, const std::string& program, int items, bool scroll,
                bool to_end) {
  WriteFile(home + "/data/vellari/public/book/book1.xml", movie_bench::Catalogue(items));
  Figures f;
  Driver driver(home + "/program");
  driver.NewSession(program, {"--automation"});
  if (driver.session().empty()) return f;
  driver.Session("POST", "/timeouts", {{"script", 120000}});
  movie_bench::WaitForFirstView(driver);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  Json load = driver.Session("POST", "/execute/async",
                             {{"script", std::string(movie_bench::kGapWatch) + kLoad},
                              {"args", Json::array({items})}})["value"];
  if (!load.is_object() || load.contains("timeout")) {
    std::fprintf(stderr, "the catalogue of %d never showed whole: %s\n", items,
                 load.dump().c_str());
    return f;
  }
  f.first = load["first"].get<double>();
  f.gap = load["gap"].get<double>();
  f.long_gaps = load["long"];
  if (scroll) {
    Json s = driver.Session("POST", "/execute/async",
                            {{"script", movie_bench::kScroll}, {"args", Json::array()}})["value"];
    if (s.is_object()) {
      f.rest = s["rest"].get<double>();
      f.median = s["median"].get<double>();
      f.p95 = s["p95"].get<double>();
    }
  }
  if (to_end) {
    driver.Session("POST", "/execute/async", {{"script", kToEnd}, {"args", Json::array()}});
    f.kb = WebProcessKb(driver.pid());
  } else {
    std::this_thread::sleep_for(std::chrono::seconds(3));
    f.kb = WebProcessKb(driver.pid());
  }
  return f;
}

void Print(const char* who, int items, const Figures& f) {
  std::printf("  %-9s %6d items: first cards %7.1f ms, longest main-thread gap %7.1f ms", who,
              items, f.first, f.gap);
  if (f.median >= 0)
    std::printf(", frames at rest %5.1f ms, scrolling median %5.1f ms / p95 %5.1f ms", f.rest,
                f.median, f.p95);
  std::printf(", web process %ld MB\n", f.kb / 1024);
  if (f.long_gaps.is_array() && !f.long_gaps.empty())
    std::printf("  %-9s %6d items: gaps over 50 ms [at ms, gap ms]: %s\n", who, items,
                f.long_gaps.dump().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("DISPLAY") == nullptr) {
    std::fprintf(stderr, "movie_scale_bench needs a display: run it under xvfb-run\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  TempDir home;
  movie_bench::WriteCovers(movie_bench::MakeDataFolder(home) + "/book");
  const std::string program = movie_bench::InstallProgramIn(home);
  const std::string baseline = argc > 1 ? movie_bench::InstallBaseline(home, argv[1]) : "";
  movie_bench::UseHome(home);

  int failed = 0;
  std::printf("large catalogues in the movie (one session each)\n");
  std::vector<std::pair<const char*, std::string>> programs = {{"program", program}};
  if (!baseline.empty()) programs.push_back({"baseline", baseline});
  for (const auto& [who, binary] : programs) {
    Figures small = Measure(home.path(), binary, 24, false, false);
    Figures ten = Measure(home.path(), binary, 10000, true, false);
    Figures hundred = Measure(home.path(), binary, 100000, true, true);
    if (small.first < 0 || ten.first < 0 || hundred.first < 0) ++failed;
    Print(who, 24, small);
    Print(who, 10000, ten);
    Print(who, 100000, hundred);
    std::printf(
        "  %-9s ratio of scrolling p95 to the frame at rest: %.2f (10,000), %.2f "
        "(100,000)\n",
        who, ten.rest > 0 ? ten.p95 / ten.rest : 0.0,
        hundred.rest > 0 ? hundred.p95 / hundred.rest : 0.0);
    std::printf("  %-9s ratio of web process memory, 100,000 scrolled to the end / 24: %.2f\n", who,
                small.kb > 0 ? static_cast<double>(hundred.kb) / small.kb : 0.0);
  }
  return failed ? 1 : 0;
}
