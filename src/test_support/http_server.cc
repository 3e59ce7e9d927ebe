#include "test_support/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

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

// A gzip stream of `prefix` followed by `spaces` spaces: a small reply that
// a client which decodes it would have to hold as a large one.
std::string gzipped(const std::string& prefix, std::size_t spaces) {
  z_stream stream{};
  // 15 + 16: a gzip header and trailer around the deflate data.
  if (deflateInit2(&stream, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  std::string out;
  std::vector<unsigned char> buffer(1 << 16);
  const std::string filler(1 << 20, ' ');
  auto feed = [&](const std::string& input, int flush) {
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    stream.avail_in = static_cast<uInt>(input.size());
    do {
      stream.next_out = buffer.data();
      stream.avail_out = static_cast<uInt>(buffer.size());
      deflate(&stream, flush);
      out.append(reinterpret_cast<char*>(buffer.data()), buffer.size() - stream.avail_out);
    } while (stream.avail_out == 0);
  };
  feed(prefix, Z_NO_FLUSH);
  for (std::size_t left = spaces; left > 0; left -= std::min(left, filler.size())) {
    feed(filler.substr(0, std::min(left, filler.size())), Z_NO_FLUSH);
  }
  feed("", Z_FINISH);
  deflateEnd(&stream);
  return out;
}

std::string head(int status, const std::string& headers) {
  return "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n" + headers +
         "Connection: close\r\n\r\n";
}

std::string hex(std::size_t n) {
  char text[32];
  std::snprintf(text, sizeof text, "%zx", n);
  return text;
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
  // Compressed here, while no client waits for it.
  if (response.reply == Reply::kGzipTransferEncoded) {
    response.body = gzipped(response.body, std::size_t{128} << 20);
  }
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

bool HttpServer::stopping(int ms) const {
  pollfd wake{wakeRead_, POLLIN, 0};
  return poll(&wake, 1, ms) > 0;
}

bool HttpServer::send(int connection, std::string_view bytes) const {
  while (!bytes.empty()) {
    pollfd fds[2] = {{connection, POLLOUT, 0}, {wakeRead_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[1].revents != 0 || (fds[0].revents & (POLLERR | POLLHUP)) != 0) return false;
    const ssize_t n = ::send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
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
  const std::string& body = response.body;
  const std::string type = "Content-Type: " + response.contentType + "\r\n";
  switch (response.reply) {
    case Reply::kCanned:
      send(connection,
           head(response.status, type + "Content-Length: " + std::to_string(body.size()) + "\r\n") +
               body);
      return;
    case Reply::kRaw:
      send(connection, body);
      return;
    case Reply::kSilent: {
      // Until the client closes its end (or the server stops).
      char buffer[4096];
      for (;;) {
        pollfd fds[2] = {{connection, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno == EINTR) continue;
        if (fds[1].revents != 0 || recv(connection, buffer, sizeof buffer, 0) <= 0) return;
      }
    }
    case Reply::kEndlessTrailers: {
      if (!send(connection, head(200, type + "Transfer-Encoding: chunked\r\n") + hex(body.size()) +
                                "\r\n" + body + "\r\n0\r\n")) {
        return;
      }
      std::string trailers;
      for (int i = 0; i < 1000; ++i) {
        trailers += "X-Trailer-" + std::to_string(i) + ": " + std::string(100, 't') + "\r\n";
      }
      while (send(connection, trailers)) {
      }
      return;
    }
    case Reply::kEndlessBody: {
      if (!send(connection, head(200, type) + body)) return;
      const std::string lineEnds(1 << 16, '\n');
      while (send(connection, lineEnds)) {
      }
      return;
    }
    case Reply::kGzipTransferEncoded:
      send(connection, head(200, type + "Transfer-Encoding: gzip\r\n") + body);
      return;
    case Reply::kTrickle:
      if (!send(connection, head(response.status, type + "Content-Length: " +
                                                      std::to_string(body.size()) + "\r\n"))) {
        return;
      }
      for (const char byte : body) {
        if (!send(connection, std::string_view(&byte, 1)) || stopping(100)) return;
      }
      return;
  }
}

}  // namespace quarvel::testing
