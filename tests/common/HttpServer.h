// A real HTTP server on 127.0.0.1 (ephemeral port) inside the test process,
// for the update and publisher tests: each path answers as the test set it
// up (404 when unset), and every request is counted with its headers kept.
// It also shortens the HTTP client's limits (a 1 s stall, a 100,000-byte
// body, 3 redirects) so failing fetches end in moments. It runs on its own
// threads from construction to destruction, so a test that forks does so
// before building one (common/TestEnv.h); stalled and endless answers are
// released at destruction, which therefore never hangs.
#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "common/ChildProcess.h"
#include "platform/Testing.h"
#include "platform/Utf8.h"

namespace ostrel::test {

class TestHttpServer {
 public:
  enum class Kind { Body, Redirect, Stall, Truncate, Endless, Drip, Pause };

  TestHttpServer() {
    platform::testing::HttpLimits limits;
    limits.stallTimeoutMs = 1000;
    limits.maxBodyBytes = 100000;
    limits.maxRedirects = 3;
    platform::testing::SetHttpLimits(limits);
    m_server.set_keep_alive_max_count(1);
    m_server.Get(".*", [this](const httplib::Request& q, httplib::Response& r) { Handle(q, r); });
    m_port = m_server.bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    Eventually([this] { return m_server.is_running(); });
  }
  ~TestHttpServer() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stopping = true;
    }
    m_released.notify_all();
    m_server.stop();
    m_thread.join();
  }

  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
  }
  std::wstring WideUrl(const std::string& path) const { return platform::FromUtf8(Url(path)); }

  void Serve(const std::string& path, const std::string& body, int status = 200) {
    Answer(path, Kind::Body, body, status);
  }
  // Body: the body with the status. Redirect: to the address in text.
  // Stall: nothing, until the test ends. Truncate: announces `announced`
  // bytes, sends text and drops the connection. Endless: a chunked body
  // without end. Drip: a chunked body of one byte every 0.7 s, without end.
  // Pause: a chunked body that sends text, then nothing until the test ends.
  void Answer(const std::string& path, Kind kind, const std::string& text = {}, int status = 200,
              std::size_t announced = 0) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[path] = {kind, text, status, announced};
  }

  int Count(const std::string& path) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_counts.find(path);
    return it == m_counts.end() ? 0 : it->second;
  }
  std::string LastHeader(const std::string& path, const std::string& name) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_headers.find(path);
    if (it == m_headers.end() || !it->second.count(name)) return std::string();
    return it->second.find(name)->second;
  }

 private:
  struct Route {
    Kind kind;
    std::string text;
    int status;
    std::size_t announced;
  };

  void Handle(const httplib::Request& request, httplib::Response& response) {
    Route route{Kind::Body, {}, 404, 0};
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_counts[request.path];
      m_headers[request.path] = request.headers;
      if (m_routes.count(request.path)) route = m_routes[request.path];
    }
    const std::string type = "application/octet-stream";
    response.status = route.status;
    if (route.kind == Kind::Body) response.set_content(route.text, type);
    if (route.kind == Kind::Redirect) response.set_redirect(route.text, 302);
    if (route.kind == Kind::Stall) {  // bounded, should the test never end it
      std::unique_lock<std::mutex> lock(m_mutex);
      m_released.wait_for(lock, std::chrono::seconds(30), [this] { return m_stopping.load(); });
    }
    if (route.kind == Kind::Truncate) {
      response.set_content_provider(route.announced, type, [text = route.text](size_t, size_t, httplib::DataSink& sink) {
        sink.write(text.data(), text.size());
        return false;  // drops the connection
      });
    }
    if (route.kind == Kind::Drip || route.kind == Kind::Pause) {
      const bool drip = route.kind == Kind::Drip;
      response.set_chunked_content_provider(type, [this, drip, route](size_t offset, httplib::DataSink& sink) {
        if (!drip && offset == 0 && !route.text.empty()) return sink.write(route.text.data(), route.text.size());
        const auto gap = drip ? std::chrono::milliseconds(700) : std::chrono::seconds(30);
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_released.wait_for(lock, gap, [this] { return m_stopping.load(); })) return false;
        lock.unlock();
        return drip && sink.write("d", 1);
      });
    }
    if (route.kind == Kind::Endless) {
      response.set_chunked_content_provider(type, [this](size_t, httplib::DataSink& sink) {
        const std::string chunk(64 * 1024, 'x');
        return !m_stopping && sink.write(chunk.data(), chunk.size());
      });
    }
  }

  httplib::Server m_server;
  int m_port = -1;
  std::thread m_thread;
  mutable std::mutex m_mutex;
  std::condition_variable m_released;
  std::atomic<bool> m_stopping{false};
  std::map<std::string, Route> m_routes;
  std::map<std::string, int> m_counts;
  std::map<std::string, httplib::Headers> m_headers;
};

}  // namespace ostrel::test
