// Test helpers: waiting for a condition by polling, instead of fixed sleeps.
#pragma once

#include <chrono>
#include <thread>

namespace sp_test {

using Clock = std::chrono::steady_clock;

// Polls `done` every 2 ms until it holds or the limit passes; its last answer.
template <class Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace sp_test
