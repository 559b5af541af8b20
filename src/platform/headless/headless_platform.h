// The headless face of the platform: the window, the player, the dialogs, the shell and
// the update window of the automation interface, all on one channel.
#ifndef LUMORA_PLATFORM_HEADLESS_HEADLESS_PLATFORM_H_
#define LUMORA_PLATFORM_HEADLESS_HEADLESS_PLATFORM_H_

#include <cstdio>
#include <functional>
#include <string>

#include "base/status.h"
#include "platform/headless/automation_channel.h"
#include "platform/headless/headless_dialogs.h"
#include "platform/headless/headless_player.h"
#include "platform/headless/headless_shell.h"
#include "platform/headless/headless_update_window.h"
#include "platform/headless/headless_window.h"
#include "platform/platform.h"

namespace platform {

class HeadlessPlatform : public Platform {
 public:
  // Reads the input lines from |in_fd| (none below zero: see AutomationChannel::Feed)
  // and writes to |out|.
  HeadlessPlatform(int in_fd, std::FILE* out, const Rect& work_area);

  os::MainLoop& loop() override { return loop_; }
  MainWindow& window() override { return window_; }
  Player& player() override { return player_; }
  Dialogs& dialogs() override { return dialogs_; }
  Shell& shell() override { return shell_; }
  UpdateWindow& update_window() override { return update_window_; }
  AutomationChannel& channel() { return channel_; }

  void Start(std::function<void()> on_end_of_input) override;
  void Finish(int exit_code) override;

 private:
  // Hands one input object to the part it is for; the error is the line sent back.
  base::Status Dispatch(const AutomationChannel::Json& input);

  os::MainLoop loop_;
  AutomationChannel channel_;
  HeadlessWindow window_;
  HeadlessPlayer player_;
  HeadlessDialogs dialogs_;
  HeadlessShell shell_;
  HeadlessUpdateWindow update_window_;
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_HEADLESS_HEADLESS_PLATFORM_H_
