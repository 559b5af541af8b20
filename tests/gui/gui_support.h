// Helpers of the window tests: running the GLib main loop until something happens.
#ifndef LUMORA_TESTS_GUI_GUI_SUPPORT_H_
#define LUMORA_TESTS_GUI_GUI_SUPPORT_H_

#include <glib.h>

#include <chrono>
#include <functional>

// Runs the main loop until |done| holds or |seconds| pass; false on time-out.
inline bool SpinUntil(const std::function<bool()>& done, double seconds = 20) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(1000);
  }
  return true;
}

#endif  // LUMORA_TESTS_GUI_GUI_SUPPORT_H_
