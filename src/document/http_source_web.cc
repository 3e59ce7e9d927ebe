// The web build reads no URLs: a browser's page or a Node program fetches
// the document itself, with the host's own means, and hands over its bytes
// (or pipes them into the command's standard input). HttpSource refuses
// every URL with a message that says so.
#include "document/http_source.h"

namespace quarvel {

// Never created: start() fails before a transfer could begin.
class HttpSource::Transfer {};

HttpSource::HttpSource() = default;

HttpSource::~HttpSource() = default;

std::optional<ParseError> HttpSource::start(const std::string&, const LoadSettings&) {
  return readError(kCannotFetchLocation,
                   "this build of quarvel reads no URLs; fetch the document and give its bytes "
                   "(or pipe them to -)");
}

int HttpSource::readSome(char*, int) noexcept { return -1; }

ParseError HttpSource::why() const {
  return readError(kCannotFetchLocation, "the transfer cannot go on");
}

}  // namespace quarvel
