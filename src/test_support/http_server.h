// The one HTTP/1.1 server on 127.0.0.1 for every test that fetches documents
// over the network: it listens on an ephemeral port from construction to
// destruction and answers every request, one connection at a time, with a
// response chosen by the request path ("Connection: close" each time): a
// canned one, or one of the hostile replies below.
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

// How a request is answered. The endless replies go on until the client
// leaves or the server is destroyed.
enum class Reply {
  kCanned,           // status line, Content-Type, Content-Length, then `body`
  kRaw,              // `body` verbatim as the whole reply (empty: closes at once)
  kSilent,           // reads the request and never answers
  kEndlessTrailers,  // 200 chunked: `body` as one chunk, the last chunk, trailers forever
  kEndlessBody,      // 200 without a length: `body`, then line ends forever
  // 200 with "Transfer-Encoding: gzip": `body` and 128 MiB of spaces,
  // compressed (about 600 KB) when it is set.
  kGzipTransferEncoded,
  kTrickle,  // as kCanned, but the body one byte every 100 ms
};

struct HttpResponse {
  int status = 200;
  std::string body;
  std::string contentType = "application/xml";
  Reply reply = Reply::kCanned;
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
  // Sends all of `bytes`; false once the client is gone or the server stops.
  bool send(int connection, std::string_view bytes) const;
  // Waits up to `ms` for the server to stop; true when it does.
  bool stopping(int ms) const;

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
