// Reading a document's bytes from where it is: a file, standard input, a
// file: URL or an http(s) URL, streamed in the chunks the parser asks for.
#ifndef QUARVEL_DOCUMENT_LOCATION_READER_H_
#define QUARVEL_DOCUMENT_LOCATION_READER_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "document/parse_error.h"

namespace quarvel {

// How load() reaches http(s) locations. The defaults are the program's
// limits; tests may lower them to stay quick.
struct LoadSettings {
  long connectTimeoutMs = 10'000;
  long totalTimeoutMs = 60'000;
  // Bytes of the response body handed to the parser: a larger document is a
  // read failure. The document store takes up to about 8 times the markup it
  // holds (4 bytes of "<b/>" become a node of 32), so 64 MiB keeps a hostile
  // document's store near 512 MiB, far above any real document.
  uint64_t maxHttpBodyBytes = 64ull << 20;
  // Header and trailer lines of every response of one load (redirects
  // included), status lines counted: generous for real servers, a small
  // bound on a server that sends header lines forever.
  uint64_t maxHttpHeaderBytes = 256ull << 10;
  // Whether each element keeps the line and column where its start tag
  // begins (XmlNode::position). Off, a load pays nothing for them.
  bool recordPositions = false;
  // Which attributes ask, by being on an element, that the white space
  // between its tags be kept (as kept blanks, read through the
  // ...KeepingBlanks() calls of XmlNode) for the element and those inside it,
  // rather than dropped: the reader of the document knows where it reads
  // them. Called with an attribute's qualified name. None: every blank that
  // xml:space does not preserve is dropped.
  using BlankPolicy = bool (*)(std::string_view qualifiedAttributeName);
  BlankPolicy keepsBlanksWithin = nullptr;
};

// Why a location yields no bytes, or stopped before its end. `code` is a
// ParseErrorCode; `reason` is UTF-8, without a line end.
struct ReadFailure {
  int32_t code = 0;
  std::string reason;
};

// The bytes of one location. Nothing outside it is ever read.
class LocationReader {
 public:
  LocationReader();
  ~LocationReader();
  LocationReader(const LocationReader&) = delete;
  LocationReader& operator=(const LocationReader&) = delete;

  // Opens a file path (any bytes, any length), exactly "-" for standard
  // input, a file: URL (host empty or "localhost", percent-decoded, query and
  // fragment ignored) or an http(s):// URL (redirects within http and https
  // only, at most 10; status 2xx only; the timeouts and caps of `settings`; a
  // Transfer-Encoding other than chunked or identity is refused and content
  // encodings are never decoded). An http transfer has its status and first
  // body bytes when this returns. A failure leaves nothing open.
  std::optional<ReadFailure> open(std::string_view location, const LoadSettings& settings);
  // Reads `bytes`, which must outlive the reading, instead of a location.
  void openMemory(std::string_view bytes);

  // Copies up to `length` next bytes into `buffer`, waiting for a server as
  // needed: the count, 0 at the end, -1 when reading failed (failure() says
  // why). Never throws.
  int read(char* buffer, int length);
  // Why the bytes stopped before their end, if they did.
  std::optional<ReadFailure> failure() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quarvel

#endif  // QUARVEL_DOCUMENT_LOCATION_READER_H_
