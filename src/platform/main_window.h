// The program's one main window: borderless, covering the work area, holding the
// player. The core moves it, minimises it, sets its cursor and captures the mouse;
// the window reports keys, close requests, dropped files and the mouse on the player.
#ifndef LUMORA_PLATFORM_MAIN_WINDOW_H_
#define LUMORA_PLATFORM_MAIN_WINDOW_H_

#include <string>
#include <vector>

#include "platform/geometry.h"

namespace platform {

// kUpdates brings the update window forward.
enum class Key { kEscape, kReturn, kAbout, kUpdates };
enum class MouseAction { kDown, kMove, kUp };
enum class MouseButton { kLeft, kRight };
// The resize cursors of the program (the ids are those of its cursor resources).
// kArrow is none of them: the player's own cursor shows (a hand over a link, say).
enum class Cursor {
  kArrow = 0,
  kDiagonalNeSw = 172,
  kDiagonalNwSe = 173,
  kHorizontal = 174,
  kVertical = 175
};

const char* CursorName(Cursor cursor);

class WindowEvents {
 public:
  virtual ~WindowEvents() = default;
  virtual void OnKey(Key key) = 0;
  // The desktop asked to close the window (its close button or command).
  virtual void OnCloseRequest() = 0;
  // Files dropped on the window, in the order the desktop reports them (UTF-8 paths).
  virtual void OnFilesDropped(const std::vector<std::string>& paths) = 0;
  // Files are being dragged over the window (true), or no longer are: they left it or
  // were dropped. Told once per change.
  virtual void OnDragOver(bool over) { (void)over; }
  // A mouse event on the player, in screen coordinates, before the player sees it.
  // Returning true swallows it.
  virtual bool OnPlayerMouse(MouseAction action, MouseButton button, Point screen) = 0;
  // The program was started again on this desktop with |command_line| (UTF-8), and the
  // window has come forward (see Platform::ClaimInstance).
  virtual void OnLaterStart(const std::string& command_line) = 0;
};

class MainWindow {
 public:
  virtual ~MainWindow() = default;

  virtual void SetEvents(WindowEvents* events) = 0;
  // The desktop area not covered by panels.
  virtual Rect WorkArea() const = 0;
  virtual Rect GetRect() const = 0;
  virtual void Move(const Rect& rect) = 0;
  virtual void Show() = 0;
  virtual void Minimize() = 0;
  // The player's rectangle, in coordinates inside the window.
  virtual void SetPlayerRect(const Rect& rect) = 0;
  // Shows |cursor| over the player; kArrow gives the player back its own cursor.
  virtual void SetCursor(Cursor cursor) = 0;
  virtual void CaptureMouse(bool capture) = 0;
  virtual Point CursorPosition() const = 0;
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_MAIN_WINDOW_H_
