#pragma once
// A small HTTP server on 127.0.0.1 for the stream tests: each connection runs on a thread of its
// own and is answered by the handler routed for its path (404 otherwise). Handlers write raw
// bytes, so they can send malformed, stalled or endless answers; a handler that holds a
// connection open waits on Stopped(), which the destructor ends.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class THttpTestServer {
 public:
  struct Connection {
    THttpTestServer* server;
    int fd;
    std::string request;  // the request head as received
    // False once the client has gone.
    bool Send(std::string_view bytes) {
      while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
      }
      return true;
    }
    // Holds the connection open until the server stops or `limit` passes.
    void Hold(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
      server->WaitStopped(limit);
    }
  };
  using Handler = std::function<void(Connection&)>;

  THttpTestServer() {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listen_, 16);
    socklen_t len = sizeof addr;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }

  ~THttpTestServer() {
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
      stop_.notify_all();
    }
    acceptor_.join();
    for (std::thread& t : connections_) t.join();
    ::close(listen_);
  }

  void Route(const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(handler);
  }

  std::string Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
  }

  std::vector<std::string> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

  void WaitStopped(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    stop_.wait_for(lock, limit, [this] { return stopped_; });
  }

 private:
  bool Stopped() {
    std::lock_guard lock(mutex_);
    return stopped_;
  }

  void AcceptLoop() {
    while (!Stopped()) {
      pollfd p{listen_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const int fd = ::accept(listen_, nullptr, nullptr);
      if (fd < 0) continue;
      connections_.emplace_back([this, fd] { Serve(fd); });
    }
  }

  void Serve(int fd) {
    Connection connection{this, fd, {}};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    char buffer[4096];
    while (connection.request.find("\r\n\r\n") == std::string::npos &&
           connection.request.size() < 64 * 1024 && std::chrono::steady_clock::now() < deadline &&
           !Stopped()) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      connection.request.append(buffer, static_cast<std::size_t>(n));
    }
    Handler handler;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(connection.request);
      const std::size_t start = connection.request.find(' ') + 1;
      const std::size_t end = connection.request.find(' ', start);
      auto it = routes_.find(connection.request.substr(start, end - start));
      if (it != routes_.end()) handler = it->second;
    }
    if (handler) {
      handler(connection);
    } else {
      connection.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    }
    ::close(fd);
  }

  int listen_ = -1;
  int port_ = 0;
  std::thread acceptor_;
  std::vector<std::thread> connections_;  // only the acceptor adds, only the destructor joins
  mutable std::mutex mutex_;
  std::condition_variable stop_;
  bool stopped_ = false;
  std::map<std::string, Handler> routes_;
  std::vector<std::string> requests_;
};
