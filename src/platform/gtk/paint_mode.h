// How the movie's web view paints: composited by the GPU where the machine has one, and
// painted whole by the web process where it has none. The movie is a flat page; without
// a GPU its compositing runs on a software GL renderer, which makes every frame of a
// scrolled grid cost the CPU twice (painted, then composited) and holds a third more
// memory. Needs no display.
#ifndef LUMORA_PLATFORM_GTK_PAINT_MODE_H_
#define LUMORA_PLATFORM_GTK_PAINT_MODE_H_

#include <string>

namespace platform {

// True when |dri_dir| (the kernel's "/dev/dri" in the program) holds a render node
// ("renderD..."), the device through which a process draws with a GPU.
[[nodiscard]] bool HasGpuRenderNode(const std::string& dri_dir);

}  // namespace platform

#endif  // LUMORA_PLATFORM_GTK_PAINT_MODE_H_
