// Dialogs without a display: each takes the answer queued on the automation
// interface, or its safe default button when none is queued, and reports itself.
#ifndef LUMORA_PLATFORM_HEADLESS_HEADLESS_DIALOGS_H_
#define LUMORA_PLATFORM_HEADLESS_HEADLESS_DIALOGS_H_

#include "platform/dialogs.h"
#include "platform/headless/automation_channel.h"

namespace platform {

class HeadlessDialogs : public Dialogs {
 public:
  explicit HeadlessDialogs(AutomationChannel& channel) : channel_(channel) {}

  void Message(const std::string& text, const std::string& caption) override;
  bool Question(const std::string& text, const std::string& caption) override;
  void About() override;
  bool OpenFiles(const std::vector<FileFilter>& filters, bool multiple,
                 std::vector<std::string>* paths) override;
  bool Form(FormSpec* form) override;

 private:
  using Json = AutomationChannel::Json;
  // Takes the queued answer if it is one of |accepted| (strings), else |fallback|.
  // Sets |defaulted| when no usable answer was queued.
  Json TakeAnswer(const std::vector<std::string>& accepted, const Json& fallback, bool allow_object,
                  bool* defaulted);
  void Report(Json dialog, const Json& answer, bool defaulted);

  AutomationChannel& channel_;
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_HEADLESS_HEADLESS_DIALOGS_H_
