// The web view paints without compositing unless the machine has a GPU render node.
#include "platform/gtk/paint_mode.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "../support/temp_dir.h"

namespace {

TEST(PaintModeTest, OnlyACharacterDeviceNamedRenderDIsAGpu) {
  TempDir dri;
  EXPECT_FALSE(platform::HasGpuRenderNode(dri / "missing"));
  EXPECT_FALSE(platform::HasGpuRenderNode(dri.path()));
  // A display-only card and a plain file under a render node's name are no GPU to draw with.
  ASSERT_EQ(symlink("/dev/null", (dri / "card0").c_str()), 0);
  dri.Write("renderD128", "");
  EXPECT_FALSE(platform::HasGpuRenderNode(dri.path()));
  // The device itself (here /dev/null, a character device, under the node's name).
  ASSERT_EQ(symlink("/dev/null", (dri / "renderD129").c_str()), 0);
  EXPECT_TRUE(platform::HasGpuRenderNode(dri.path()));
}

}  // namespace
