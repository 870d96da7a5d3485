// A real HTTP server on 127.0.0.1 (ephemeral port) inside the test process,
// for the update and publisher tests: each path answers as the test set it
// up, and every request is counted with its headers kept. It runs on its
// own threads from construction to destruction, so a test that forks does
// so before building one (common/TestEnv.h). Stalled and endless answers
// are released at destruction, which therefore never hangs.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "common/ChildProcess.h"
#include "platform/Utf8.h"

namespace ostrel::test {

class TestHttpServer {
 public:
  TestHttpServer() {
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

  int Port() const { return m_port; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
  }
  std::wstring WideUrl(const std::string& path) const { return platform::FromUtf8(Url(path)); }

  void Serve(const std::string& path, const std::string& body, int status = 200) {
    Set(path, {Kind::Body, body, status, 0});
  }
  void Redirect(const std::string& path, const std::string& to) { Set(path, {Kind::Redirect, to, 302, 0}); }
  void Stall(const std::string& path) { Set(path, {Kind::Stall, {}, 200, 0}); }
  // Announces `announced` bytes, sends `body` and drops the connection.
  void Truncate(const std::string& path, const std::string& body, std::size_t announced) {
    Set(path, {Kind::Truncate, body, 200, announced});
  }
  void Endless(const std::string& path) { Set(path, {Kind::Endless, {}, 200, 0}); }

  int Count(const std::string& path) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_counts.find(path);
    return it == m_counts.end() ? 0 : it->second;
  }
  std::string LastHeader(const std::string& path, const std::string& name) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_headers.find(path);
    if (it == m_headers.end()) return std::string();
    const auto header = it->second.find(name);
    return header == it->second.end() ? std::string() : header->second;
  }

 private:
  enum class Kind { Body, Redirect, Stall, Truncate, Endless };
  struct Route {
    Kind kind;
    std::string body;  // or the redirect target
    int status;
    std::size_t announced;
  };

  void Set(const std::string& path, Route route) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[path] = std::move(route);
  }

  void Handle(const httplib::Request& request, httplib::Response& response) {
    Route route{Kind::Body, {}, 404, 0};
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_counts[request.path];
      m_headers[request.path] = request.headers;
      const auto it = m_routes.find(request.path);
      if (it != m_routes.end()) route = it->second;
    }
    const std::string type = "application/octet-stream";
    switch (route.kind) {
      case Kind::Body:
        response.status = route.status;
        response.set_content(route.body, type);
        break;
      case Kind::Redirect:
        response.set_redirect(route.body, route.status);
        break;
      case Kind::Stall: {  // until the test ends (bounded, should it never)
        std::unique_lock<std::mutex> lock(m_mutex);
        m_released.wait_for(lock, std::chrono::seconds(30), [this] { return m_stopping; });
        break;
      }
      case Kind::Truncate:
        response.set_content_provider(route.announced, type,
                                      [body = route.body](size_t, size_t, httplib::DataSink& sink) {
                                        sink.write(body.data(), body.size());
                                        return false;  // drops the connection
                                      });
        break;
      case Kind::Endless:
        response.set_chunked_content_provider(type, [this](size_t, httplib::DataSink& sink) {
          const std::string chunk(64 * 1024, 'x');
          return !Stopping() && sink.write(chunk.data(), chunk.size());
        });
        break;
    }
  }

  bool Stopping() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stopping;
  }

  httplib::Server m_server;
  int m_port = -1;
  std::thread m_thread;
  mutable std::mutex m_mutex;
  std::condition_variable m_released;
  bool m_stopping = false;
  std::map<std::string, Route> m_routes;
  std::map<std::string, int> m_counts;
  std::map<std::string, httplib::Headers> m_headers;
};

}  // namespace ostrel::test
