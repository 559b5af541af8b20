// The shell without a desktop: reports what would be opened and launches nothing.
#ifndef LUMORA_PLATFORM_HEADLESS_HEADLESS_SHELL_H_
#define LUMORA_PLATFORM_HEADLESS_HEADLESS_SHELL_H_

#include "platform/headless/automation_channel.h"
#include "platform/shell.h"

namespace platform {

class HeadlessShell : public Shell {
 public:
  explicit HeadlessShell(AutomationChannel& channel) : channel_(channel) {}
  void Open(const std::string& target, const std::string& parameters) override {
    channel_.Emit(
        AutomationChannel::Json{{"shell", {{"target", target}, {"parameters", parameters}}}});
  }

 private:
  AutomationChannel& channel_;
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_HEADLESS_HEADLESS_SHELL_H_
