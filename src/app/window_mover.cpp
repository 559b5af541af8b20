#include "app/window_mover.h"

#include <algorithm>

namespace app {

using platform::Cursor;
using platform::Point;
using platform::Rect;

CWindowMover::Zone CWindowMover::ZoneAt(const Rect& w, Point c) {
  const bool left = c.x<w.left + kBorder, right = c.x> w.right - kBorder;
  const bool top = c.y<w.top + kBorder, bottom = c.y> w.bottom - kBorder;
  const bool across = w.left + kBorder < c.x && c.x < w.right - kBorder;
  const bool down = w.top + kBorder < c.y && c.y < w.bottom - kBorder;
  if (left && top) return kTopLeft;
  if (across && top) return kTop;
  if (right && top) return kTopRight;
  if (down && right) return kRight;
  if (right && bottom) return kBottomRight;
  if (across && bottom) return kBottom;
  if (left && bottom) return kBottomLeft;
  if (down && left) return kLeft;
  return kNone;
}

Cursor CWindowMover::CursorOf(Zone zone) {
  switch (zone) {
    case kTopLeft:
    case kBottomRight:
      return Cursor::kDiagonalNwSe;
    case kTopRight:
    case kBottomLeft:
      return Cursor::kDiagonalNeSw;
    case kRight:
    case kLeft:
      return Cursor::kHorizontal;
    case kTop:
    case kBottom:
      return Cursor::kVertical;
    case kNone:
      break;
  }
  return Cursor::kArrow;
}

bool CWindowMover::OnMouse(platform::MouseAction action, platform::MouseButton button,
                           Point cursor) {
  using platform::MouseAction;
  // A move is a move whatever button is named; presses and releases of the right
  // button are the player's own, except that its context menu never opens.
  if (button == platform::MouseButton::kRight && action != MouseAction::kMove)
    return action == MouseAction::kDown;
  switch (action) {
    case MouseAction::kDown:
      OnButtonDown(cursor);
      break;
    case MouseAction::kMove:
      OnMove(cursor);
      break;
    case MouseAction::kUp:
      OnButtonUp(cursor);
      break;
  }
  return false;  // the movie sees every left click and move
}

void CWindowMover::ZoneTest(Point cursor) {
  // While the button is held the zone of the press stays.
  if (!button_down_) {
    zone_ = ZoneAt(window_.GetRect(), cursor);
    resizing_ = zone_ != kNone;
  }
  // Outside the zones the player's own cursor shows again. The window is told only of
  // a change: every move sets nothing, so the player's cursors are left alone.
  const Cursor shown = resizing_ ? CursorOf(zone_) : Cursor::kArrow;
  if (shown == cursor_) return;
  cursor_ = shown;
  window_.SetCursor(cursor_);
}

void CWindowMover::OnButtonDown(Point cursor) {
  if (cursor.y < window_.GetRect().top + kTopBand) moving_ = true;
  button_down_ = true;
  ZoneTest(cursor);
  window_.CaptureMouse(true);
}

void CWindowMover::OnMove(Point cursor) {
  if (!has_last_) {
    last_ = cursor;
    has_last_ = true;
  }
  ZoneTest(cursor);
  if (button_down_) {
    const int dx = cursor.x - last_.x, dy = cursor.y - last_.y;
    Rect r = window_.GetRect();
    if (resizing_) {
      const bool moves_left = zone_ == kTopLeft || zone_ == kBottomLeft || zone_ == kLeft;
      const bool moves_right = zone_ == kTopRight || zone_ == kRight || zone_ == kBottomRight;
      const bool moves_top = zone_ == kTopLeft || zone_ == kTop || zone_ == kTopRight;
      const bool moves_bottom = zone_ == kBottomRight || zone_ == kBottom || zone_ == kBottomLeft;
      // An edge that follows the mouse never passes the opposite edge.
      if (moves_left) r.left = std::min(r.left + dx, r.right);
      if (moves_right) r.right = std::max(r.right + dx, r.left);
      if (moves_top) r.top = std::min(r.top + dy, r.bottom);
      if (moves_bottom) r.bottom = std::max(r.bottom + dy, r.top);
    } else {
      r = Rect{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
    }
    // A press outside the band and the zones changes nothing.
    if (moving_ || resizing_) window_.Move(r);
  }
  last_ = cursor;
}

void CWindowMover::OnButtonUp(Point cursor) {
  button_down_ = moving_ = resizing_ = false;
  zone_ = kNone;
  ZoneTest(cursor);
  const Rect r = window_.GetRect();
  stage_size_(r.Width(), r.Height());
  window_.CaptureMouse(false);
}

}  // namespace app
