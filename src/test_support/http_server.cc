#include "test_support/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace quarvel::testing {
namespace {

// A client that sends nothing for this long is dropped, so that a broken
// client cannot hang the test that owns the server.
constexpr int kReadTimeoutMs = 5000;

[[noreturn]] void fail(const char* what) {
  throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

const char* reasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

// The request head up to and including the blank line, or what arrived
// before the client stopped sending.
std::string readRequestHead(int connection) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    pollfd fd{connection, POLLIN, 0};
    if (poll(&fd, 1, kReadTimeoutMs) <= 0) break;
    const ssize_t n = recv(connection, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    head.append(buffer, static_cast<std::size_t>(n));
  }
  return head;
}

// "GET /a/b?x HTTP/1.1" gives "/a/b?x".
std::string requestTarget(const std::string& head) {
  const std::size_t start = head.find(' ');
  if (start == std::string::npos) return {};
  const std::size_t end = head.find(' ', start + 1);
  if (end == std::string::npos) return {};
  return head.substr(start + 1, end - start - 1);
}

void sendAll(int connection, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(connection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

}  // namespace

HttpServer::HttpServer() {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) fail("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) fail("bind");
  if (listen(listener_, 16) != 0) fail("listen");
  socklen_t length = sizeof address;
  if (getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    fail("getsockname");
  }
  port_ = ntohs(address.sin_port);
  int wake[2];
  if (pipe2(wake, O_CLOEXEC) != 0) fail("pipe");
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  thread_ = std::thread([this] { serve(); });
}

HttpServer::~HttpServer() {
  const char stop = 's';
  while (write(wakeWrite_, &stop, 1) < 0 && errno == EINTR) {
  }
  thread_.join();
  close(wakeWrite_);
  close(wakeRead_);
  close(listener_);
}

void HttpServer::setResponse(const std::string& path, HttpResponse response) {
  std::lock_guard<std::mutex> lock(mutex_);
  responses_[path] = std::move(response);
}

std::string HttpServer::url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<std::string> HttpServer::requestedPaths() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requested_;
}

void HttpServer::serve() {
  for (;;) {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if (fds[0].revents == 0) continue;
    const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    answer(connection);
    close(connection);
  }
}

void HttpServer::answer(int connection) {
  const std::string target = requestTarget(readRequestHead(connection));
  const std::string path = target.substr(0, target.find('?'));
  HttpResponse response{404, "", "text/plain"};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requested_.push_back(target);
    if (auto found = responses_.find(path); found != responses_.end()) response = found->second;
  }
  sendAll(connection, "HTTP/1.1 " + std::to_string(response.status) + " " +
                          reasonPhrase(response.status) +
                          "\r\nContent-Type: " + response.contentType +
                          "\r\nContent-Length: " + std::to_string(response.body.size()) +
                          "\r\nConnection: close\r\n\r\n" + response.body);
}

}  // namespace quarvel::testing
