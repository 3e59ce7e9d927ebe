// A tiny HTTP/1.1 server on 127.0.0.1 for tests that fetch documents over the
// network: it listens on an ephemeral port from construction to destruction
// and answers every request, one connection at a time, with a canned response
// chosen by the request path ("Connection: close" each time).
#ifndef QUARVEL_TEST_SUPPORT_HTTP_SERVER_H_
#define QUARVEL_TEST_SUPPORT_HTTP_SERVER_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quarvel::testing {

struct HttpResponse {
  int status = 200;
  std::string body;
  std::string contentType = "application/xml";
};

class HttpServer {
 public:
  // Starts listening and serving at once. Throws std::runtime_error when no
  // socket can be had.
  HttpServer();
  // Stops accepting and joins the serving thread.
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Requests for `path` (e.g. "/doc.xml", without query) get `response` from
  // now on. Paths never set get a 404 with an empty body.
  void setResponse(const std::string& path, HttpResponse response);

  uint16_t port() const { return port_; }
  // "http://127.0.0.1:PORT" followed by `path`.
  std::string url(std::string_view path) const;
  // The request target of every request served so far, in order.
  std::vector<std::string> requestedPaths() const;

 private:
  void serve();
  void answer(int connection);

  int listener_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  uint16_t port_ = 0;
  mutable std::mutex mutex_;
  std::map<std::string, HttpResponse> responses_;
  std::vector<std::string> requested_;
  std::thread thread_;
};

}  // namespace quarvel::testing

#endif  // QUARVEL_TEST_SUPPORT_HTTP_SERVER_H_
