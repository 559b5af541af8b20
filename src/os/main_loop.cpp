#include "os/main_loop.h"

#include <glib.h>

#include <utility>
#include <vector>

#include "base/callback_guard.h"

namespace os {

struct MainLoop::Timer {
  MainLoop* owner;
  unsigned id;
  std::function<void()> tick;
  guint source = 0;
  // Killed: its source is destroyed, and the entry goes when the source lets it go.
  bool killed = false;
};

void MainLoop::LoopUnref::operator()(GMainLoop* loop) const noexcept { g_main_loop_unref(loop); }

MainLoop::MainLoop() : loop_(g_main_loop_new(nullptr, FALSE)) {}

MainLoop::~MainLoop() {
  // Outside a tick, destroying a source runs its destroy notify at once, which erases
  // the entry: the sources are gathered first.
  std::vector<guint> sources;
  for (const auto& [source, timer] : timers_)
    if (!timer->killed) sources.push_back(source);
  for (const guint source : sources) g_source_remove(source);
  g_idle_remove_by_data(this);
}

int MainLoop::Run() {
  quitting_ = false;
  g_main_loop_run(loop_.get());
  return exit_code_;
}

void MainLoop::Quit(int code) {
  exit_code_ = code;
  quitting_ = true;
  g_main_loop_quit(loop_.get());
}

void MainLoop::SetTimer(unsigned id, unsigned interval_ms, std::function<void()> tick) {
  KillTimer(id);
  auto timer = std::make_unique<Timer>(Timer{this, id, std::move(tick)});
  Timer* held = timer.get();
  held->source = g_timeout_add_full(G_PRIORITY_DEFAULT, interval_ms, &MainLoop::OnTimer, held,
                                    &MainLoop::OnTimerGone);
  try {
    timers_.emplace(held->source, std::move(timer));
  } catch (...) {
    // The table has no room: the source goes again (its notify finds no entry), and
    // |timer| still owns the timer.
    g_source_remove(held->source);
    throw;
  }
}

void MainLoop::KillTimer(unsigned id) {
  for (auto& [source, timer] : timers_) {
    if (timer->id != id || timer->killed) continue;
    timer->killed = true;
    // Outside the timer's own tick this erases the entry at once: nothing of the
    // iteration is used after it.
    const guint doomed = source;
    g_source_remove(doomed);
    return;
  }
}

int MainLoop::OnTimer(void* data) noexcept {
  auto* timer = static_cast<Timer*>(data);
  // The source holds the timer for the whole of this call, even when the tick kills or
  // replaces it: GLib runs the destroy notify only once the call has returned.
  base::Guarded("timer", [timer] { timer->tick(); });
  return timer->killed ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

void MainLoop::OnTimerGone(void* data) noexcept {
  auto* timer = static_cast<Timer*>(data);
  timer->owner->timers_.erase(timer->source);
}

void MainLoop::Post(std::function<void()> message) {
  std::lock_guard<std::mutex> lock(posted_mutex_);
  posted_.push_back(std::move(message));
  if (!wake_pending_) {
    wake_pending_ = true;
    g_idle_add(&MainLoop::OnPosted, this);
  }
}

int MainLoop::OnPosted(void* data) noexcept {
  base::Guarded("posted messages", [data] { static_cast<MainLoop*>(data)->DrainPosted(); });
  return G_SOURCE_REMOVE;
}

void MainLoop::DrainPosted() {
  for (;;) {
    std::function<void()> message;
    {
      std::lock_guard<std::mutex> lock(posted_mutex_);
      if (posted_.empty()) {
        wake_pending_ = false;
        return;
      }
      message = std::move(posted_.front());
      posted_.pop_front();
    }
    // A message that throws is reported; those after it still run.
    base::Guarded("posted message", message);
  }
}

std::uint64_t MainLoop::TickCount() {
  return static_cast<std::uint64_t>(g_get_monotonic_time() / 1000);
}

}  // namespace os
