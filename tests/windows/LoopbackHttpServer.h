// A small HTTP/1.1 server on 127.0.0.1 (a port the system picks) inside a
// Windows test program, over Winsock: each path answers as the test set it
// up (404 with an empty body when unset), every request is counted by path,
// and an answer can stall (nothing after the request, or the headers and
// part of the body, then nothing) until the server is destroyed or 30 s
// (or the answer's delay) have passed, then drop the connection. One connection per request (Connection: close). It serves
// on threads of its own from construction to destruction; destruction
// releases stalled answers and joins every thread. Setting up and counting
// are thread-safe.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ostrel::test {

class LoopbackHttpServer {
 public:
  enum class Kind {
    Body,         // the status and the whole body
    Stall,        // reads the request, then sends nothing
    StallInBody,  // the status, a Content-Length of twice the text, the text, then nothing
  };

  LoopbackHttpServer();
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  std::wstring Url(const std::string& path) const;
  // The answer comes delayMs after the request (sooner when the server
  // stops); a stall lasts delayMs when given.
  void Serve(const std::string& path, const std::string& body, int status = 200,
             int delayMs = 0) {
    Answer(path, Kind::Body, body, status, delayMs);
  }
  void Answer(const std::string& path, Kind kind, const std::string& text = {}, int status = 200,
              int delayMs = 0);
  int Count(const std::string& path) const;

 private:
  struct Route {
    Kind kind = Kind::Body;
    std::string text;
    int status = 404;
    int delayMs = 0;
  };

  void AcceptLoop();
  void Handle(std::uintptr_t client);  // a SOCKET
  // Waits until the server stops, at most timeoutMs.
  void WaitForStop(int timeoutMs = 30000);

  std::uintptr_t m_listener;  // a SOCKET (Winsock stays out of this header)
  int m_port = 0;
  std::thread m_acceptor;
  std::vector<std::thread> m_handlers;  // the acceptor's only
  mutable std::mutex m_mutex;
  std::condition_variable m_stopped;
  bool m_stopping = false;
  std::map<std::string, Route> m_routes;
  std::map<std::string, int> m_counts;
};

}  // namespace ostrel::test
