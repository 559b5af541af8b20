#include "platform/headless/headless_platform.h"

#include <memory>

namespace platform {

HeadlessPlatform::HeadlessPlatform(int in_fd, std::FILE* out, const Rect& work_area)
    : channel_(loop_, in_fd, out),
      window_(channel_, work_area),
      player_(channel_),
      dialogs_(channel_),
      shell_(channel_),
      update_window_(channel_) {}

void HeadlessPlatform::Start(std::function<void()> on_end_of_input) {
  channel_.Start([this](const AutomationChannel::Json& in) { return Dispatch(in); },
                 std::move(on_end_of_input));
}

void HeadlessPlatform::Finish(int exit_code) {
  channel_.Emit(AutomationChannel::Json{{"quit", exit_code}});
}

base::Status HeadlessPlatform::Dispatch(const AutomationChannel::Json& input) {
  if (input.contains("fscommand")) return player_.HandleFSCommand(input);
  const std::string& key = input.begin().key();
  const AutomationChannel::Json& value = input.begin().value();
  if (key == "setVariable") return player_.HandleSetVariable(value);
  if (key == "getVariable") return player_.HandleGetVariable(value);
  if (key == "mouse") return window_.HandleMouse(value);
  if (key == "drop") return window_.HandleDrop(value);
  if (key == "key") return window_.HandleKey(value);
  if (key == "updateWindow") return update_window_.Handle(value);
  return base::Status::Invalid("unknown input: " + key);
}

std::unique_ptr<Platform> CreateHeadlessPlatform(int in_fd, std::FILE* out, const Rect& work_area) {
  return std::make_unique<HeadlessPlatform>(in_fd, out, work_area);
}

}  // namespace platform
