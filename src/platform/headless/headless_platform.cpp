#include <memory>

#include "platform/headless/automation_channel.h"
#include "platform/headless/headless_dialogs.h"
#include "platform/headless/headless_player.h"
#include "platform/headless/headless_shell.h"
#include "platform/headless/headless_update_window.h"
#include "platform/headless/headless_window.h"
#include "platform/platform.h"

namespace platform {
namespace {

class HeadlessPlatform : public Platform {
 public:
  HeadlessPlatform(int in_fd, std::FILE* out, const Rect& work_area)
      : channel_(loop_, in_fd, out),
        window_(channel_, work_area),
        player_(channel_),
        dialogs_(channel_),
        shell_(channel_),
        update_window_(channel_) {}

  MainLoop& loop() override { return loop_; }
  MainWindow& window() override { return window_; }
  Player& player() override { return player_; }
  Dialogs& dialogs() override { return dialogs_; }
  Shell& shell() override { return shell_; }
  UpdateWindow& update_window() override { return update_window_; }

  void Start(std::function<void()> on_end_of_input) override {
    channel_.Start([this](const AutomationChannel::Json& in) { return Dispatch(in); },
                   std::move(on_end_of_input));
  }

  void Finish(int exit_code) override {
    channel_.Emit(AutomationChannel::Json{{"quit", exit_code}});
  }

 private:
  Status Dispatch(const AutomationChannel::Json& input) {
    if (input.contains("fscommand")) return player_.HandleFSCommand(input);
    const std::string& key = input.begin().key();
    const AutomationChannel::Json& value = input.begin().value();
    if (key == "setVariable") return player_.HandleSetVariable(value);
    if (key == "getVariable") return player_.HandleGetVariable(value);
    if (key == "mouse") return window_.HandleMouse(value);
    if (key == "drop") return window_.HandleDrop(value);
    if (key == "key") return window_.HandleKey(value);
    if (key == "updateWindow") return update_window_.Handle(value);
    return Status::Invalid("unknown input: " + key);
  }

  MainLoop loop_;
  AutomationChannel channel_;
  HeadlessWindow window_;
  HeadlessPlayer player_;
  HeadlessDialogs dialogs_;
  HeadlessShell shell_;
  HeadlessUpdateWindow update_window_;
};

}  // namespace

std::unique_ptr<Platform> CreateHeadlessPlatform(int in_fd, std::FILE* out, const Rect& work_area) {
  return std::make_unique<HeadlessPlatform>(in_fd, out, work_area);
}

}  // namespace platform
