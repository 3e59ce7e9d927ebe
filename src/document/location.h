// Opening a document's location for the parser driver: a file path,
// standard input, a file: URL or an http(s) URL, each a ByteSource that
// streams its bytes in the chunks the parser asks for.
#ifndef QUARVEL_DOCUMENT_LOCATION_H_
#define QUARVEL_DOCUMENT_LOCATION_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "document/byte_source.h"
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
  // The shared library that http(s) loads go through where libcurl is
  // loaded at run time (see loadCurlLibrary); null: the system's libcurl.
  // Tests name one that does not exist.
  const char* httpLibrary = nullptr;
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

// An open location: a source to read, or (source null) why there is none,
// in the short form of ByteSource::failure(): kCannotReadLocation,
// kCannotFetchLocation or kUnsupportedLocation.
struct OpenedLocation {
  std::unique_ptr<ByteSource> source;
  ParseError error;
};

// Opens a file path (any bytes, any length), exactly "-" for standard
// input, a file: URL (host empty or "localhost", percent-decoded, query and
// fragment ignored) or an http(s):// URL (see HttpSource). Nothing outside
// the location is ever read. A failure leaves nothing open. Throws
// std::bad_alloc when memory runs out.
OpenedLocation openLocation(std::string_view location, const LoadSettings& settings);

// The file that `location` names, as openLocation() would open it: a path
// as it stands, a file: URL's path; none for standard input, any other URL
// and a location that names no file.
std::optional<std::string> filePathOf(std::string_view location);

}  // namespace quarvel

#endif  // QUARVEL_DOCUMENT_LOCATION_H_
