// Moving and resizing the borderless main window with the mouse on the player: a press
// in the top band and a drag moves the window; a press within a few pixels of an edge
// or a corner and a drag resizes it, with the matching cursor. When the button is let
// go the movie is told the window's new size.
#ifndef LUMORA_APP_WINDOW_MOVER_H_
#define LUMORA_APP_WINDOW_MOVER_H_

#include <functional>

#include "platform/main_window.h"

namespace app {

class CWindowMover {
 public:
  static constexpr int kBorder = 5;    // the width of the resize zones
  static constexpr int kTopBand = 80;  // the band that moves the window

  // The zones of the window's edges and corners, tested in this order.
  enum Zone { kNone, kTopLeft, kTop, kTopRight, kRight, kBottomRight, kBottom, kBottomLeft, kLeft };

  // |stage_size| tells the movie the window's size after a drag.
  CWindowMover(platform::MainWindow& window, std::function<void(int, int)> stage_size)
      : window_(window), stage_size_(std::move(stage_size)) {}

  // The zone of |cursor| on |window|: the first of the eight tests that holds, all
  // comparisons strict; kNone when none does.
  static Zone ZoneAt(const platform::Rect& window, platform::Point cursor);
  // The cursor shown over a zone.
  static platform::Cursor CursorOf(Zone zone);

  // A mouse event on the player, in screen coordinates. True when the player must not
  // see it (a right-button press: the player's context menu is never shown).
  [[nodiscard]] bool OnMouse(platform::MouseAction action, platform::MouseButton button,
                             platform::Point cursor);

 private:
  void ZoneTest(platform::Point cursor);
  void OnButtonDown(platform::Point cursor);
  void OnMove(platform::Point cursor);
  void OnButtonUp(platform::Point cursor);

  platform::MainWindow& window_;
  std::function<void(int, int)> stage_size_;
  bool button_down_ = false;
  bool resizing_ = false;
  Zone zone_ = kNone;
  bool moving_ = false;
  platform::Cursor cursor_ = platform::Cursor::kArrow;  // the cursor the window was last given
  // The cursor at the end of the last move; taken at the first move.
  bool has_last_ = false;
  platform::Point last_;
};

}  // namespace app

#endif  // LUMORA_APP_WINDOW_MOVER_H_
