#include "platform/main_window.h"

namespace platform {

const char* CursorName(Cursor cursor) {
  switch (cursor) {
    case Cursor::kDiagonalNeSw:
      return "nesw-resize";
    case Cursor::kDiagonalNwSe:
      return "nwse-resize";
    case Cursor::kHorizontal:
      return "ew-resize";
    case Cursor::kVertical:
      return "ns-resize";
    case Cursor::kArrow:
      break;
  }
  return "default";
}

}  // namespace platform
