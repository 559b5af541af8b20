// The update window on the automation interface: every log entry goes out as
// {"log": TEXT}; {"updateWindow": "state"} is answered with the window's state, and the
// user's actions come in as {"updateWindow": "manual" | "install" | "close" | "show"}
// or {"updateWindow": {"server": ITEM}}.
#ifndef LUMORA_PLATFORM_HEADLESS_HEADLESS_UPDATE_WINDOW_H_
#define LUMORA_PLATFORM_HEADLESS_HEADLESS_UPDATE_WINDOW_H_

#include "base/status.h"
#include "platform/headless/automation_channel.h"
#include "platform/update_window.h"

namespace platform {

class HeadlessUpdateWindow : public UpdateWindow {
 public:
  explicit HeadlessUpdateWindow(AutomationChannel& channel) : channel_(channel) {}

  void SetEvents(UpdateWindowEvents* events) override { events_ = events; }
  void Show() override { visible_ = true; }
  void Hide() override { visible_ = false; }
  void ClearLog() override { log_size_ = 0; }
  void AddLog(const std::string& entry) override;
  void SetServers(const std::vector<std::string>& labels, int selected) override;
  void SetOverallProgress(int percent) override { overall_ = percent; }
  void SetCurrentProgress(int percent) override { current_ = percent; }
  void EnableChoice(bool enabled) override { enabled_ = enabled; }

  // Input from the automation interface; input that is refused comes back as Invalid,
  // with the error line's text as its message.
  [[nodiscard]] base::Status Handle(const AutomationChannel::Json& input);

 private:
  AutomationChannel& channel_;
  UpdateWindowEvents* events_ = nullptr;
  bool visible_ = false;
  std::size_t log_size_ = 0;
  std::vector<std::string> servers_;
  int selected_ = -1;
  int overall_ = 0;
  int current_ = 0;
  bool enabled_ = true;
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_HEADLESS_HEADLESS_UPDATE_WINDOW_H_
