#include "windows/LoopbackHttpServer.h"

#include <winsock2.h>

#include <chrono>

namespace ostrel::test {

namespace {

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

bool SendAll(SOCKET socket, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const int n = send(socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// The request's path, from its first line; empty when no whole request
// head arrived.
std::string ReadRequestPath(SOCKET socket) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    const int n = recv(socket, buffer, sizeof buffer, 0);
    if (n <= 0 || head.size() > 65536) return std::string();
    head.append(buffer, static_cast<std::size_t>(n));
  }
  const std::size_t start = head.find(' ');
  const std::size_t end = start == std::string::npos ? start : head.find(' ', start + 1);
  return end == std::string::npos ? std::string() : head.substr(start + 1, end - start - 1);
}

}  // namespace

LoopbackHttpServer::LoopbackHttpServer() : m_listener(INVALID_SOCKET) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  int length = sizeof address;
  if (m_listener == INVALID_SOCKET ||
      bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(m_listener, SOMAXCONN) != 0 ||
      getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return;  // port 0: every request fails, and the tests say so
  m_port = ntohs(address.sin_port);
  m_acceptor = std::thread([this] { AcceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_stopped.notify_all();
  if (m_acceptor.joinable()) m_acceptor.join();
  for (std::thread& handler : m_handlers) handler.join();
  if (m_listener != INVALID_SOCKET) closesocket(m_listener);
  WSACleanup();
}

std::wstring LoopbackHttpServer::Url(const std::string& path) const {
  const std::string url = "http://127.0.0.1:" + std::to_string(m_port) + path;
  return std::wstring(url.begin(), url.end());
}

void LoopbackHttpServer::Answer(const std::string& path, Kind kind, const std::string& text,
                                int status, int delayMs) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_routes[path] = Route{kind, text, status, delayMs};
}

int LoopbackHttpServer::Count(const std::string& path) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto it = m_counts.find(path);
  return it == m_counts.end() ? 0 : it->second;
}

void LoopbackHttpServer::AcceptLoop() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_stopping) return;
    }
    // A short select, so that a stop is seen without closing the listener
    // under a blocked accept.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(m_listener, &readable);
    timeval wait{0, 100000};
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
    const SOCKET client = accept(m_listener, nullptr, nullptr);
    if (client == INVALID_SOCKET) continue;
    m_handlers.emplace_back([this, client] { Handle(client); });
  }
}

void LoopbackHttpServer::WaitForStop(int timeoutMs) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_stopped.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_stopping; });
}

void LoopbackHttpServer::Handle(std::uintptr_t client) {
  const std::string path = ReadRequestPath(client);
  Route route;
  if (!path.empty()) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_counts[path];
    const auto it = m_routes.find(path);
    if (it != m_routes.end()) route = it->second;
  }
  const int stallMs = route.delayMs > 0 ? route.delayMs : 30000;
  if (!path.empty() && route.kind == Kind::Stall) WaitForStop(stallMs);
  if (!path.empty() && route.kind == Kind::Body && route.delayMs > 0) WaitForStop(route.delayMs);
  if (!path.empty() && route.kind != Kind::Stall) {
    const std::size_t announced =
        route.kind == Kind::StallInBody ? 2 * route.text.size() : route.text.size();
    const std::string head = "HTTP/1.1 " + std::to_string(route.status) + " " +
                             Reason(route.status) + "\r\nContent-Type: application/octet-stream" +
                             "\r\nContent-Length: " + std::to_string(announced) +
                             "\r\nConnection: close\r\n\r\n";
    if (SendAll(client, head + route.text) && route.kind == Kind::StallInBody) WaitForStop(stallMs);
  }
  shutdown(client, SD_SEND);
  closesocket(client);
}

}  // namespace ostrel::test
