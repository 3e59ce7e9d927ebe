// The parser driver: reads a document's bytes, has expat parse them and
// fills a DocumentStore from expat's callbacks, within the bounds that keep
// memory and time linear in the document's size.
#ifndef QUARVEL_DOCUMENT_DOCUMENT_PARSER_H_
#define QUARVEL_DOCUMENT_DOCUMENT_PARSER_H_

#include <memory>

#include "document/byte_source.h"
#include "document/document_store.h"
#include "document/location.h"
#include "document/parse_error.h"

namespace quarvel {

// The deepest that elements nest, the root counted as 1.
inline constexpr int kMaxElementDepth = 257;

// A store when the document is usable; otherwise no store and the error
// (its `url` left empty for the caller).
struct ParseResult {
  std::unique_ptr<DocumentStore> store;
  ParseError error;
};

// Parses all that `source` yields, read in chunks of the sizes the parser
// asks for; any sizes the source hands out give the same result. The first
// error ends the parse; a read that fails ends it with the source's failure
// (ByteSource::failure()) as the error. Throws std::bad_alloc when memory
// runs out, in expat or here, with nothing leaked. Of `settings`,
// recordPositions (each element's start tag position is kept in
// DocumentStore::positions) and keepsBlanksWithin count.
ParseResult parseDocument(ByteSource& source, const LoadSettings& settings = {});

}  // namespace quarvel

#endif  // QUARVEL_DOCUMENT_DOCUMENT_PARSER_H_
