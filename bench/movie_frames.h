// What the movie benchmarks measure in the page, shared by them: the frames while the
// grid scrolls, and the wait for the program's first view.
#ifndef LUMORA_BENCH_MOVIE_FRAMES_H_
#define LUMORA_BENCH_MOVIE_FRAMES_H_

#include <chrono>
#include <thread>

#include "support/webdriver_client.h"

namespace movie_bench {

// Put before a script: a 4 ms timer chain that keeps |gap|, the longest stretch in which
// the page's main thread could not run it, and |long|, the stretches over 50 ms as [ms
// after the start, ms], until the script sets |stop|.
inline constexpr const char* kGapWatch = R"JS(
var gap = 0, long = [], stop = false, last = performance.now(), watchStart = last;
(function tick() {
  var now = performance.now();
  if (now - last > 50) long.push([Math.round(last - watchStart), Math.round(now - last)]);
  gap = Math.max(gap, now - last);
  last = now;
  if (!stop) setTimeout(tick, 4);
})();
)JS";

// Frames at rest, then while scrolling at 3,000 px/s for four seconds: {rest, median,
// p95} in ms. The grid's end stops the scrolling where the content ends.
inline constexpr const char* kScroll = R"JS(
var done = arguments[0];
var s = document.getElementById('scroller');
function stats(list) {
  var v = list.slice().sort(function (a, b) { return a - b; });
  return {median: v[Math.floor(v.length / 2)], p95: v[Math.floor(v.length * 0.95)]};
}
var rest = [], moving = [], last = 0, t0 = 0, y0 = s.scrollTop;
function resting(now) {
  if (last) rest.push(now - last);
  last = now;
  if (rest.length < 90) { requestAnimationFrame(resting); return; }
  t0 = now; last = now;
  requestAnimationFrame(scrolling);
}
function scrolling(now) {
  moving.push(now - last);
  last = now;
  s.scrollTop = y0 + 3 * (now - t0);
  if (now - t0 < 4000) { requestAnimationFrame(scrolling); return; }
  var r = stats(rest), m = stats(moving);
  done({rest: r.median, median: m.median, p95: m.p95, frames: moving.length});
}
requestAnimationFrame(resting);
)JS";

// Waits (at most a minute) until the program shows its first view, 杂志, with 图书 in
// the navigation.
inline void WaitForFirstView(webdriver::Driver& driver) {
  using Clock = std::chrono::steady_clock;
  for (auto end = Clock::now() + std::chrono::seconds(60); Clock::now() < end;) {
    if (driver.Eval("return !!document.querySelector('#nav button[data-view=\"book\"]') && "
                    "document.getElementById('view-title').textContent === '杂志'") == true)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace movie_bench

#endif  // LUMORA_BENCH_MOVIE_FRAMES_H_
