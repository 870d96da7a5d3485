// The thread of one browser window: everything done to the window and its
// helpers runs here, one task at a time, in the order asked. Call runs a
// task and waits for its result, so the caller sees the window's answers in
// order. The destructor finishes the queued tasks and joins the thread.
// Call and the destructor may be used from any one other thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

namespace ostrel::host {

class CWindowThread {
 public:
  CWindowThread() : m_thread([this] { Run(); }) {}
  CWindowThread(const CWindowThread&) = delete;
  CWindowThread& operator=(const CWindowThread&) = delete;
  ~CWindowThread() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stopping = true;
    }
    m_ready.notify_one();
    m_thread.join();
  }

  template <typename Task>
  auto Call(Task task) -> decltype(task()) {
    std::packaged_task<decltype(task())()> job(std::move(task));
    auto result = job.get_future();
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_tasks.emplace_back([&job] { job(); });
    }
    m_ready.notify_one();
    return result.get();
  }

 private:
  void Run() {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
        if (m_tasks.empty()) return;
        task = std::move(m_tasks.front());
        m_tasks.pop_front();
      }
      task();
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_ready;
  std::deque<std::function<void()>> m_tasks;
  bool m_stopping = false;
  std::thread m_thread;  // last: starts once the rest is built
};

}  // namespace ostrel::host
