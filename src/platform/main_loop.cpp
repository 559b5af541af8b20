#include "platform/main_loop.h"

#include <glib.h>

namespace platform {

struct MainLoop::Timer {
  MainLoop* owner;
  unsigned id;
  guint source;
  std::function<void()> tick;
};

MainLoop::MainLoop() : loop_(g_main_loop_new(nullptr, FALSE)) {}

MainLoop::~MainLoop() {
  for (auto& [id, timer] : timers_) {
    g_source_remove(timer->source);
    delete timer;
  }
  g_idle_remove_by_data(this);
  g_main_loop_unref(loop_);
}

int MainLoop::Run() {
  quitting_ = false;
  g_main_loop_run(loop_);
  return exit_code_;
}

void MainLoop::Quit(int code) {
  exit_code_ = code;
  quitting_ = true;
  g_main_loop_quit(loop_);
}

void MainLoop::SetTimer(unsigned id, unsigned interval_ms, std::function<void()> tick) {
  KillTimer(id);
  auto* timer = new Timer{this, id, 0, std::move(tick)};
  timer->source = g_timeout_add(interval_ms, &MainLoop::OnTimer, timer);
  timers_[id] = timer;
}

void MainLoop::KillTimer(unsigned id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  g_source_remove(it->second->source);
  delete it->second;
  timers_.erase(it);
}

int MainLoop::OnTimer(void* data) {
  auto* timer = static_cast<Timer*>(data);
  // The tick may kill or replace this very timer: hold the callback meanwhile.
  std::function<void()> tick = timer->tick;
  MainLoop* owner = timer->owner;
  unsigned id = timer->id;
  tick();
  auto it = owner->timers_.find(id);
  return it != owner->timers_.end() && it->second == timer ? G_SOURCE_CONTINUE
                                                           : G_SOURCE_REMOVE;
}

void MainLoop::Post(std::function<void()> message) {
  std::lock_guard<std::mutex> lock(posted_mutex_);
  posted_.push_back(std::move(message));
  if (!wake_pending_) {
    wake_pending_ = true;
    g_idle_add(&MainLoop::OnPosted, this);
  }
}

int MainLoop::OnPosted(void* data) {
  static_cast<MainLoop*>(data)->DrainPosted();
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
    message();
  }
}

std::uint64_t MainLoop::TickCount() {
  return static_cast<std::uint64_t>(g_get_monotonic_time() / 1000);
}

}  // namespace platform
