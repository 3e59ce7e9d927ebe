// The XML document layer: a small DOM with just the operations that
// quarvel's walker and entry point call. libxml2 parses (through its SAX2
// interface, with its own checks, entity and attribute-default semantics and
// error reports); the document is kept in a compact store of our own.
//
// Strings reach callers as UTF-16 code units (characters outside the Basic
// Multilingual Plane as surrogate pairs). Names are qualified names as the
// document spells them ("x:left" is not "left").
#ifndef QUARVEL_FRONTEND_XML_DOCUMENT_H_
#define QUARVEL_FRONTEND_XML_DOCUMENT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>


namespace quarvel {

// Attribute values are read from their first this many UTF-16 code units
// (fewer when a surrogate pair would not fit whole): what the walker needs
// of a value is a prefix, and a value may be megabytes long.
inline constexpr std::size_t kAttributeValueReadLimit = 1024;

// DOM node types, numbered as the DOM numbers them. A loaded document holds
// these kinds only.
enum : int {
  kElementNode = 1,
  kTextNode = 3,
  kCDataSectionNode = 4,
  kProcessingInstructionNode = 7,
  kCommentNode = 8,
};

// ParseError::errorCode values of locations that yield no bytes to parse and
// of documents without a root element. Parse errors use the negated libxml2
// error number instead, which stays above -10000.
enum ParseErrorCode : int32_t {
  kCannotReadLocation = -10001,
  kCannotFetchLocation = -10002,
  kUnsupportedLocation = -10003,
  kNoDocumentElement = -10004,
};

class DocumentStore;

// A non-owning handle to a node of a loaded XmlDocument. Valid while the
// document lives (and so are the views it hands out). A default-constructed
// handle is "no node": every query on it answers empty / no node / 0. Every
// query that returns a std::u16string throws std::bad_alloc when memory runs
// out.
class XmlNode {
 public:
  XmlNode() = default;
  XmlNode(const DocumentStore* store, std::uint32_t index) : store_(store), index_(index) {}

  explicit operator bool() const { return store_ != nullptr; }

  // 1 element, 3 text, 4 CDATA section, 7 processing instruction, 8 comment;
  // 0 for "no node".
  int nodeType() const;
  // Qualified name for elements, the target for processing instructions;
  // "#text", "#cdata-section" and "#comment" for the others. No value for
  // "no node".
  std::optional<std::u16string_view> nodeName() const;
  // Character data of text, CDATA, comment and processing instruction
  // nodes; no value for elements and "no node".
  std::optional<std::u16string_view> nodeValue() const;
  XmlNode firstChild() const;
  XmlNode nextSibling() const;
  // The plain concatenation, in document order, of every text and CDATA
  // descendant as loaded (no trimming). Empty for "no node".
  std::u16string text() const;
  // The first kAttributeValueReadLimit code units of the value of the
  // attribute whose qualified name is exactly `name`, including defaults
  // declared in the internal DTD subset (first declaration wins). No value
  // when the attribute is absent or its value is empty.
  std::optional<std::u16string> getAttribute(std::u16string_view name) const;

 private:
  const DocumentStore* store_ = nullptr;
  std::uint32_t index_ = 0;
};

// Why the last load did not give a usable document. `errorCode` is 0 after a
// successful load and negative after a failed one: the negated libxml2 error
// number when the document is not (namespace-)well-formed or passes a parser
// limit; kCannotReadLocation when a file, file: URL or standard input cannot
// be read, kCannotFetchLocation when an http(s) transfer fails (before or in
// the middle of the body) or answers with a status other than 2xx,
// kUnsupportedLocation for another URL scheme, kNoDocumentElement for a
// document without a root element. `line` is 0 exactly when the location could not be read
// at all (the short message form applies); otherwise `line` and `linepos`,
// counted from 1, place the first error. `url` is the location as given;
// `reason` ends with a line end.
struct ParseError {
  int32_t errorCode = 0;
  int32_t line = 0;
  int32_t linepos = 0;
  std::u16string url;
  std::u16string reason;
};

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
};

// Owns one parsed document. Nothing outside the named location is ever read:
// no external entities or DTDs, no XInclude, no network access by the parser.
// A reference to an external or undeclared entity is therefore a parse error.
// Whitespace-only text nodes are dropped at load unless the nearest xml:space
// says "preserve"; internal entities and character references are expanded.
// Parse errors also stop (error code and reason in ParseError):
// - elements nested more than 257 deep, also where entities stack them;
// - a text node of more than 10,000,000 bytes in UTF-8;
// - entity expansion beyond libxml2's own checks, and in any case once the
//   replacement text of all entity lookups passes 10 times the bytes read so
//   far plus 1 MiB (-89);
// - an element with more than 1,000 attributes, defaults declared for it
//   included, and start tags whose attribute counts squared add up to more
//   than 1,000 per byte read plus 1,000,000 (-1).
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
  // out (in libxml2 or here), with nothing loaded and nothing leaked;
  // libxml2's "huge text node" stop is a parse error, not that.
  void load(std::string_view location, const LoadSettings& settings = {});
  // Parses `bytes` as a document that came from `url` (used for messages
  // only); the same rules as load(), std::bad_alloc included.
  void loadMemory(std::string_view bytes, std::string_view url);

  const ParseError& parseError() const { return error_; }
  // The root element; "no node" when no document is loaded.
  XmlNode documentElement() const;

 private:
  std::unique_ptr<DocumentStore> store_;
  ParseError error_;
};

}  // namespace quarvel

#endif  // QUARVEL_FRONTEND_XML_DOCUMENT_H_
