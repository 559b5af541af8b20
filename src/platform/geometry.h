// Rectangles and points in screen pixels, as the window code speaks of them.
#ifndef LUMORA_PLATFORM_GEOMETRY_H_
#define LUMORA_PLATFORM_GEOMETRY_H_

namespace platform {

struct Point {
  int x = 0;
  int y = 0;
};

// left/top inclusive, right/bottom exclusive, like the desktop's own rectangles.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const Rect&) const = default;
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_GEOMETRY_H_
