// The body of an http(s) response as a ByteSource, through libcurl.
#ifndef QUARVEL_DOCUMENT_HTTP_SOURCE_H_
#define QUARVEL_DOCUMENT_HTTP_SOURCE_H_

#include <memory>
#include <optional>
#include <string>

#include "document/byte_source.h"
#include "document/parse_error.h"

namespace quarvel {

struct LoadSettings;

// One http(s) transfer, driven by the parser's reads: the body streams into
// the parser and is never held whole. Every failure, before the body or in
// the middle of it, is kCannotFetchLocation.
class HttpSource final : public ByteSource {
 public:
  HttpSource();
  ~HttpSource() override;

  // Starts the transfer of `url` (redirects within http and https only, at
  // most 10; status 2xx only; the timeouts and caps of `settings`; a
  // Transfer-Encoding other than chunked or identity is refused and content
  // encodings are never decoded) and drives it until the final response's
  // status is known and its first body bytes have arrived, or it has ended.
  // A failed transfer and a status other than 2xx fail here, leaving
  // nothing open. Throws std::bad_alloc when memory runs out.
  std::optional<ParseError> start(const std::string& url, const LoadSettings& settings);

 private:
  class Transfer;

  int readSome(char* buffer, int length) noexcept override;
  ParseError why() const override;

  std::unique_ptr<Transfer> transfer_;
};

}  // namespace quarvel

#endif  // QUARVEL_DOCUMENT_HTTP_SOURCE_H_
