#include "os/main_loop.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

namespace {

TEST(MainLoopTest, PostedMessagesRunOnTheLoopInOrder) {
  os::MainLoop loop;
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
  os::MainLoop loop;
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

TEST(MainLoopTest, ATickCanReplaceItsOwnTimerAndKillTheNewOne) {
  os::MainLoop loop;
  int old_ticks = 0, new_ticks = 0;
  loop.SetTimer(7, 1, [&] {
    ++old_ticks;
    // The running timer goes; the one under its id from now on is this.
    loop.SetTimer(7, 1, [&] {
      if (++new_ticks == 3) loop.KillTimer(7);
    });
  });
  // Ends the test once the timers have had ample time to tick.
  loop.SetTimer(8, 100, [&] { loop.Quit(0); });
  loop.Run();
  EXPECT_EQ(old_ticks, 1);
  EXPECT_EQ(new_ticks, 3);
}

TEST(MainLoopTest, WhatAHandlerThrowsStopsNeitherTheLoopNorTheHandlersAfterIt) {
  os::MainLoop loop;
  int ticks = 0;
  std::vector<int> ran;
  loop.SetTimer(1, 1, [&] {
    if (++ticks < 3) throw std::runtime_error("tick");
    loop.KillTimer(1);
    loop.Post([&] { throw std::runtime_error("message"); });
    loop.Post([&] {
      ran.push_back(2);
      loop.Quit(5);
    });
  });
  EXPECT_EQ(loop.Run(), 5);
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(ran, std::vector<int>{2});
}

TEST(MainLoopTest, TimersLeftRunningGoWithTheLoop) {
  int ticks = 0;
  {
    os::MainLoop loop;
    loop.SetTimer(1, 1, [&] { ++ticks; });
    loop.SetTimer(2, 1, [&] { loop.Quit(0); });
    loop.Run();
  }
  // A tick after the loop is gone would reach a timer that no longer exists.
  const int seen = ticks;
  GMainContext* context = g_main_context_default();
  for (int i = 0; i < 20; ++i) {
    g_usleep(1000);
    while (g_main_context_iteration(context, FALSE)) {
    }
  }
  EXPECT_EQ(ticks, seen);
}

}  // namespace
