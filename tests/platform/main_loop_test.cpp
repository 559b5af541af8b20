#include "platform/main_loop.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(MainLoopTest, PostedMessagesRunOnTheLoopInOrder) {
  platform::MainLoop loop;
  std::vector<int> seen;
  const auto loop_thread = std::this_thread::get_id();
  bool all_on_loop = true;
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i)
      loop.Post([&, i] {
        seen.push_back(i);
        all_on_loop &= std::this_thread::get_id() == loop_thread;
        if (i == 99) loop.Quit(7);
      });
  });
  EXPECT_EQ(loop.Run(), 7);
  worker.join();
  ASSERT_EQ(seen.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[i], i);
  EXPECT_TRUE(all_on_loop);
}

TEST(MainLoopTest, TimersTickUntilKilledAndCanBeReplaced) {
  platform::MainLoop loop;
  int first = 0, second = 0;
  loop.SetTimer(1000, 5, [&] {
    if (++first == 3) loop.KillTimer(1000);
  });
  loop.SetTimer(1001, 5, [&] { ++second; });
  loop.SetTimer(1001, 5, [&] {  // replaces the one above
    second += 100;
    if (first >= 3) {
      loop.KillTimer(1001);
      loop.Quit(0);
    }
  });
  loop.Run();
  EXPECT_EQ(first, 3);
  EXPECT_EQ(second % 100, 0);
  EXPECT_GE(second, 100);
}

}  // namespace
