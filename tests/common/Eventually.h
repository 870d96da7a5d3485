// Bounded waits and elapsed time for tests: a condition that another
// thread or process reaches, polled until it holds or a limit passes.
// Header-only and portable; no state.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace ostrel::test {

// Waits (bounded) until a condition holds; for states another thread or
// process reaches, such as a number of waiters blocking on an object.
inline bool Eventually(const std::function<bool()>& condition, int timeoutMs = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

using Clock = std::chrono::steady_clock;

inline long MillisecondsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

}  // namespace ostrel::test
