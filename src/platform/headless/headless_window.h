// The main window without a display: it keeps its rectangle and state and reports
// every change on the automation interface.
#ifndef LUMORA_PLATFORM_HEADLESS_HEADLESS_WINDOW_H_
#define LUMORA_PLATFORM_HEADLESS_HEADLESS_WINDOW_H_

#include "base/status.h"
#include "platform/headless/automation_channel.h"
#include "platform/main_window.h"

namespace platform {

class HeadlessWindow : public MainWindow {
 public:
  HeadlessWindow(AutomationChannel& channel, const Rect& work_area);

  void SetEvents(WindowEvents* events) override { events_ = events; }
  Rect WorkArea() const override { return work_area_; }
  Rect GetRect() const override { return rect_; }
  void Move(const Rect& rect) override;
  void Show() override;
  void Minimize() override;
  void SetPlayerRect(const Rect& rect) override { player_rect_ = rect; }
  void SetCursor(Cursor cursor) override;
  void CaptureMouse(bool capture) override { captured_ = capture; }
  Point CursorPosition() const override { return cursor_; }

  // Input from the automation interface; input that is refused comes back as Invalid,
  // with the error line's text as its message.
  [[nodiscard]] base::Status HandleMouse(const AutomationChannel::Json& mouse);
  [[nodiscard]] base::Status HandleKey(const AutomationChannel::Json& key);
  [[nodiscard]] base::Status HandleDrop(const AutomationChannel::Json& files);

 private:
  void Report();

  AutomationChannel& channel_;
  WindowEvents* events_ = nullptr;
  Rect work_area_;
  Rect rect_;
  Rect player_rect_;
  Point cursor_;
  Cursor current_cursor_ = Cursor::kArrow;
  bool minimized_ = false;
  bool captured_ = false;
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_HEADLESS_HEADLESS_WINDOW_H_
