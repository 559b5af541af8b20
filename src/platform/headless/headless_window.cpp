#include "platform/headless/headless_window.h"

#include "platform/headless/chosen_path.h"

namespace platform {

using Json = AutomationChannel::Json;

HeadlessWindow::HeadlessWindow(AutomationChannel& channel, const Rect& work_area)
    : channel_(channel), work_area_(work_area), rect_(work_area) {}

void HeadlessWindow::Report() {
  channel_.Emit(Json{{"window",
                      {{"x", rect_.left},
                       {"y", rect_.top},
                       {"width", rect_.Width()},
                       {"height", rect_.Height()},
                       {"state", minimized_ ? "minimized" : "normal"}}}});
}

void HeadlessWindow::Move(const Rect& rect) {
  rect_ = rect;
  minimized_ = false;
  Report();
}

// Start-up has already reported the window where it moved it.
void HeadlessWindow::Show() {}

void HeadlessWindow::Minimize() {
  minimized_ = true;
  Report();
}

void HeadlessWindow::SetCursor(Cursor cursor) {
  if (cursor == current_cursor_) return;
  current_cursor_ = cursor;
  channel_.Emit(Json{{"cursor", CursorName(cursor)}});
}

base::Status HeadlessWindow::HandleMouse(const Json& mouse) {
  if (!mouse.is_object() || !mouse.contains("event") || !mouse["event"].is_string() ||
      !mouse.contains("x") || !mouse["x"].is_number_integer() || !mouse.contains("y") ||
      !mouse["y"].is_number_integer())
    return base::Status::Invalid("\"mouse\" takes {\"event\", \"button\", \"x\", \"y\"}");
  const std::string event = mouse["event"];
  MouseAction action;
  if (event == "down")
    action = MouseAction::kDown;
  else if (event == "move")
    action = MouseAction::kMove;
  else if (event == "up")
    action = MouseAction::kUp;
  else
    return base::Status::Invalid("mouse event must be \"down\", \"move\" or \"up\"");
  MouseButton button = MouseButton::kLeft;
  if (mouse.contains("button")) {
    if (mouse["button"] == "right")
      button = MouseButton::kRight;
    else if (mouse["button"] != "left")
      return base::Status::Invalid("mouse button must be \"left\" or \"right\"");
  }
  // Screen coordinates, within what the desktop can address (an unsigned value above
  // that range is refused before it could wrap into it).
  auto in_range = [](const Json& v) {
    return v.is_number_unsigned() ? v.get<unsigned long long>() <= 32767
                                  : v.get<long long>() >= -32768 && v.get<long long>() <= 32767;
  };
  if (!in_range(mouse["x"]) || !in_range(mouse["y"]))
    return base::Status::Invalid("mouse coordinates must lie from -32768 to 32767");
  const auto x = mouse["x"].get<long long>(), y = mouse["y"].get<long long>();
  cursor_ = Point{static_cast<int>(x), static_cast<int>(y)};
  if (events_) events_->OnPlayerMouse(action, button, cursor_);
  return base::Status::Ok();
}

base::Status HeadlessWindow::HandleKey(const Json& key) {
  if (!key.is_string()) return base::Status::Invalid("\"key\" takes a key name");
  Key which;
  if (key == "Escape")
    which = Key::kEscape;
  else if (key == "Return")
    which = Key::kReturn;
  else if (key == "F1")
    which = Key::kAbout;
  else if (key == "F2")
    which = Key::kUpdates;
  else
    return base::Status::Invalid("unknown key: " + key.get<std::string>());
  if (events_) events_->OnKey(which);
  return base::Status::Ok();
}

base::Status HeadlessWindow::HandleDrop(const Json& files) {
  if (!files.is_array()) return base::Status::Invalid("\"drop\" takes an array of paths");
  std::vector<std::string> paths;
  for (const Json& f : files) {
    if (!f.is_string()) return base::Status::Invalid("\"drop\" takes an array of paths");
    // The desktop drops only existing files, by their full paths.
    if (base::Status refused = CheckChosenPath(f.get<std::string>()); !refused.ok())
      return base::Status::Invalid("\"drop\": " + refused.message());
    paths.push_back(f.get<std::string>());
  }
  if (events_) events_->OnFilesDropped(paths);
  return base::Status::Ok();
}

}  // namespace platform
