// The desktop as the core sees it: one window, its player, dialogs and the shell, all
// running on one main loop. Two faces implement it: the GTK desktop and the headless
// automation interface (JSON Lines on standard input and output).
#ifndef LUMORA_PLATFORM_PLATFORM_H_
#define LUMORA_PLATFORM_PLATFORM_H_

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "base/status.h"
#include "os/main_loop.h"
#include "platform/dialogs.h"
#include "platform/geometry.h"
#include "platform/main_window.h"
#include "platform/player.h"
#include "platform/shell.h"
#include "platform/update_window.h"

namespace platform {

class Platform {
 public:
  virtual ~Platform() = default;
  virtual os::MainLoop& loop() = 0;
  virtual MainWindow& window() = 0;
  virtual Player& player() = 0;
  virtual Dialogs& dialogs() = 0;
  virtual Shell& shell() = 0;
  virtual UpdateWindow& update_window() = 0;
  // Starts taking input (the headless face begins reading its commands here).
  // |on_end_of_input| runs when the input ends; the GTK face never calls it.
  virtual void Start(std::function<void()> on_end_of_input) = 0;
  // Called once the main loop has ended, with its exit code.
  virtual void Finish(int exit_code) = 0;
  // On the desktop the program runs once per user and display. The first start claims
  // that before its window shows, and the window hears of every later start
  // (WindowEvents::OnLaterStart) once it has come forward; a later start hands
  // |command_line| to the first and learns *handed_over. A failure means the command
  // line could not be handed over. The headless face, and the desktop run for
  // WebDriver, claim nothing: each such run is one of its own.
  [[nodiscard]] virtual base::Status ClaimInstance(const std::string& /*command_line*/,
                                                   bool* handed_over) {
    *handed_over = false;
    return base::Status::Ok();
  }
};

// The GTK desktop, made into |platform|; the toolkit takes its own options out of the
// arguments. Unavailable when there is no display.
[[nodiscard]] base::Status CreateGtkPlatform(int* argc, char*** argv,
                                             std::unique_ptr<Platform>* platform);

// The automation interface, reading |in| and writing |out|.
std::unique_ptr<Platform> CreateHeadlessPlatform(int in_fd, std::FILE* out, const Rect& work_area);

}  // namespace platform

#endif  // LUMORA_PLATFORM_PLATFORM_H_
