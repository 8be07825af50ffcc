// The task queue every main loop keeps its posted tasks in, and the loop of the headless
// program and the tests on top of it.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix_event_loop.h"
#include "platform/task_queue.h"

namespace dovra {
namespace {

TEST(TaskQueue, RunsInOrderOnlyWhatWasQueuedAndGivesBackWhatAThrowLeft) {
  TaskQueue queue;
  std::string ran;
  EXPECT_TRUE(queue.push([&] { ran += 'a'; }));  // the first waiting task wakes the loop
  EXPECT_FALSE(queue.push([&] {
    ran += 'b';
    EXPECT_TRUE(queue.push([&] { ran += 'd'; }));  // posted while running: the next run's
  }));
  EXPECT_FALSE(queue.push([&] { ran += 'c'; }));
  EXPECT_TRUE(queue.runQueued());  // 'd' waits
  EXPECT_EQ(ran, "abc");
  EXPECT_FALSE(queue.runQueued());
  EXPECT_EQ(ran, "abcd");
  EXPECT_TRUE(queue.empty());

  // A throwing task: the ones after it wait at the head, in order, before later posts.
  queue.push([&] { ran += 'e'; });
  queue.push([] { throw std::runtime_error("falhou"); });
  queue.push([&] { ran += 'f'; });
  queue.push([&] { ran += 'g'; });
  EXPECT_THROW(queue.runQueued(), std::runtime_error);
  EXPECT_FALSE(queue.empty());
  queue.push([&] { ran += 'h'; });
  EXPECT_FALSE(queue.runQueued());
  EXPECT_EQ(ran, "abcdefgh");
}

TEST(PosixEventLoop, TasksFromManyThreadsRunOnTheMainThreadEachThreadsInItsOrder) {
  PosixEventLoop loop;
  constexpr int kThreads = 4;
  constexpr int kTasks = 2000;
  std::vector<std::vector<int>> seen(kThreads);
  std::atomic<int> offMain{0};
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kTasks; ++i) {
        loop.post([&, t, i] {
          if (!loop.inMainThread()) ++offMain;
          seen[t].push_back(i);
        });
      }
    });
  }
  const auto all = [&] {
    size_t n = 0;
    for (const auto& s : seen) n += s.size();
    return n == static_cast<size_t>(kThreads * kTasks);
  };
  EXPECT_TRUE(loop.runUntil(all, std::chrono::seconds(30)));
  for (auto& p : posters) p.join();
  EXPECT_EQ(offMain, 0);
  for (const auto& s : seen) {
    ASSERT_EQ(s.size(), static_cast<size_t>(kTasks));
    for (int i = 0; i < kTasks; ++i) ASSERT_EQ(s[i], i);
  }
}

TEST(PosixEventLoop, AWaitingLoopWakesForEveryPostAndEndsWithItsExitCode) {
  // Posted from another thread just as the loop goes to sleep, many times over: a lost
  // wake-up would leave run() waiting for ever (the test's time-out).
  for (int round = 0; round < 300; ++round) {
    PosixEventLoop loop;
    std::thread poster([&] { loop.post([&] { loop.exit(round % 7); }); });
    EXPECT_EQ(loop.run(), round % 7);
    poster.join();
  }
}

}  // namespace
}  // namespace dovra
