#include "base/wait_lock.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace mailsheaf {
namespace {

// Threads that each wait for their own turn, as the compressors and the archive's writer do: a
// wake that reached no one, or a wait that missed its wake, hangs the test.
TEST(WaitLock, ThreadsTakingTurnsNeverMissAWake) {
  constexpr int kThreads = 3;
  constexpr int kRounds = 2000;
  WaitLock lock;
  int turn = 0;
  std::vector<int> seen;
  std::vector<std::thread> threads;
  for (int me = 0; me < kThreads; ++me) {
    threads.emplace_back([&, me] {
      for (int round = 0; round < kRounds; ++round) {
        WaitLock::Held held(lock);
        while (turn % kThreads != me) lock.Wait();
        seen.push_back(me);
        ++turn;
        lock.WakeAll();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_EQ(seen.size(), static_cast<size_t>(kThreads * kRounds));
  for (size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i], static_cast<int>(i % kThreads));
}

}  // namespace
}  // namespace mailsheaf
