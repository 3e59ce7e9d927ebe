// The XML document layer: a small DOM with just the operations that
// quarvel's walker and entry point call. expat parses, with namespace
// processing and its own checks and error reports (document_parser.h); the
// document is kept in a compact store of our own (document_store.h) and
// read through XmlNode (xml_node.h).
#ifndef QUARVEL_DOCUMENT_XML_DOCUMENT_H_
#define QUARVEL_DOCUMENT_XML_DOCUMENT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "document/location.h"
#include "document/parse_error.h"
#include "document/xml_node.h"

namespace quarvel {

class DocumentStore;

// Owns one parsed document. Nothing outside the named location is ever read:
// no external entities or DTDs, no XInclude, no network access by the parser.
// A reference to an external or undeclared entity is therefore a parse error
// (in content; in an attribute value after declarations that were not read,
// expat drops a reference to an undeclared entity). Whitespace-only text
// nodes are kept aside as kept blanks (XmlNode::isKeptBlank) unless the
// nearest xml:space says "preserve"; internal entities and character
// references are expanded. The first error
// ends the parse (error code and reason in ParseError); besides those of
// expat and of decoding, the parse stops:
// - when elements nest more than kMaxElementDepth (257) deep, also where
//   entities stack them, or entity references more than kMaxEntityDepth
//   (256) deep (kParserLimit);
// - when what entities build takes more store than 1 byte per byte read
//   plus 8 MiB (kParserLimit);
// - when entities expand the document more than expat's amplification
//   limit allows: once the bytes they produce pass 1 MiB, 10 times the
//   document's bytes;
// - when work that no byte pays for as it is done costs more than 8 per
//   byte read plus 1 MiB: the attributes declared for an element type on
//   each of its start tags, their defaults' names and namespace values, the
//   declarations compared with earlier ones, references between entity
//   declarations, long namespace URIs (kParserLimit);
// - when the document uses more distinct element, attribute, target and
//   entity names and attribute declarations than 10,000 plus 1 per 128
//   bytes read (kParserLimit);
// - at a lone or reversed surrogate in UTF-16.
// Memory and time therefore grow linearly with the document's size.
class XmlDocument {
 public:
  XmlDocument();
  ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Loads synchronously from a file path (any bytes, any length), exactly
  // "-" for standard input, a file: URL (host empty or "localhost",
  // percent-decoded, query and fragment ignored) or an http(s):// URL
  // (redirects within http and https only, at most 10; status 2xx only; the
  // timeouts and caps of `settings`; a Transfer-Encoding other than chunked
  // or identity is refused and content encodings are never decoded). Files,
  // standard input and http bodies are streamed into the parser, never held
  // whole. Afterwards parseError() tells whether the document is usable. A
  // previous document is discarded. Throws std::bad_alloc when memory runs
  // out (in expat or here), with nothing loaded and nothing leaked.
  void load(std::string_view location, const LoadSettings& settings = {});
  // Parses `bytes` as a document that came from `url` (used for messages
  // only); the same rules as load(), std::bad_alloc included.
  void loadMemory(std::string_view bytes, std::string_view url, const LoadSettings& settings = {});

  const ParseError& parseError() const { return error_; }
  // Bytes of the loaded document that the parser read; 0 when none is loaded.
  std::uint64_t bytesRead() const;
  // The root element; "no node" when no document is loaded.
  XmlNode documentElement() const;

 private:
  std::unique_ptr<DocumentStore> store_;
  ParseError error_;
};

}  // namespace quarvel

#endif  // QUARVEL_DOCUMENT_XML_DOCUMENT_H_
