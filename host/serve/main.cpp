// ostrel-serve: a small static file server on 127.0.0.1, with which a
// publisher tries a database, metadata and warning pages before putting
// them on a real server (and with which the main-job script and the
// end-to-end tests serve theirs).
//
//   ostrel-serve DIR [--port N]
//
// Serves the files under DIR (never above it: a name that resolves outside
// DIR, through ".." or a link, is not found) at http://127.0.0.1:N/ (N 8080
// unless given; 0 picks a free port). The first line on standard output
// names the address; after it, one line per request: method, path and
// query, status and body size, with bytes outside printable ASCII (and "\")
// written as \xHH (and "\\"), so a request cannot drive the terminal.
// Runs until it is stopped (a signal).
// Exit status: 2 for a wrong command line, 3 when it cannot serve.
#include <httplib.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: ostrel-serve DIR [--port N]\n"
    "  Serves the files under DIR at http://127.0.0.1:N/ (N 8080 unless\n"
    "  given; 0 picks a free port) and logs each request on one line.\n";

bool ParsePort(const std::string& text, int* port) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *port = std::stoi(text);
  return *port <= 65535;
}

// True when path, its links resolved, is root or under it; root is
// canonical. Compared by whole components, so /srv/site-old is not under
// /srv/site. A path that does not resolve (missing, a link loop) is not.
bool InsideFolder(const fs::path& root, const fs::path& path) {
  std::error_code ec;
  const fs::path real = fs::canonical(path, ec);
  if (ec) return false;
  auto at = real.begin();
  for (const fs::path& part : root) {
    if (at == real.end() || *at != part) return false;
    ++at;
  }
  return true;
}

// The file a GET of this (decoded) path reads, as the mount point finds it.
fs::path Target(const fs::path& root, std::string path) {
  if (path.empty() || path.back() == '/') path += "index.html";
  return root / fs::path(path).relative_path();
}

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c >= 0x7F) {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  int port = 8080;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--port" && i + 1 < argc) {
      if (!ParsePort(argv[++i], &port)) {
        std::cerr << "ostrel-serve: not a port: " << argv[i] << "\n";
        return 2;
      }
    } else if (dir.empty() && !arg.empty() && arg[0] != '-') {
      dir = arg;
    } else {
      std::cerr << "ostrel-serve: unexpected argument " << arg << "\n" << kUsage;
      return 2;
    }
  }
  std::error_code ec;
  if (dir.empty() || !std::filesystem::is_directory(dir, ec)) {
    std::cerr << (dir.empty() ? std::string(kUsage) : "ostrel-serve: not a folder: " + dir + "\n");
    return 2;
  }

  const fs::path root = fs::canonical(dir, ec);
  httplib::Server server;
  if (ec || !server.set_mount_point("/", root.string())) {
    std::cerr << "ostrel-serve: cannot serve " << dir << "\n";
    return 3;
  }
  // Before the mount point serves a file: refused when it lies elsewhere.
  server.set_pre_routing_handler([root](const httplib::Request& request, httplib::Response& response) {
    if (request.path.find('\0') == std::string::npos &&
        InsideFolder(root, Target(root, request.path)))
      return httplib::Server::HandlerResponse::Unhandled;
    response.status = 404;
    return httplib::Server::HandlerResponse::Handled;
  });
  server.set_logger([](const httplib::Request& request, const httplib::Response& response) {
    // The request target as it came (path and query, still escaped).
    std::cout << Printable(request.method) << ' '
              << Printable(request.target.empty() ? request.path : request.target) << ' '
              << response.status << ' ' << response.body.size() << std::endl;
  });
  const int bound = port == 0 ? server.bind_to_any_port("127.0.0.1")
                              : (server.bind_to_port("127.0.0.1", port) ? port : -1);
  if (bound < 0) {
    std::cerr << "ostrel-serve: cannot listen on 127.0.0.1:" << port << "\n";
    return 3;
  }
  std::cout << "ostrel-serve: serving " << std::filesystem::absolute(dir).string()
            << " at http://127.0.0.1:" << bound << "/" << std::endl;
  return server.listen_after_bind() ? 0 : 3;
}
