// The XML document layer: a small DOM with just the operations that
// quarvel's walker and entry point call. expat parses, with namespace
// processing and its own checks and error reports (document_parser.h); the
// document is kept in a compact store of our own (document_store.h).
//
// Strings reach callers as UTF-16 code units (characters outside the Basic
// Multilingual Plane as surrogate pairs). Names are qualified names as the
// document spells them ("x:left" is not "left").
#ifndef QUARVEL_DOCUMENT_XML_DOCUMENT_H_
#define QUARVEL_DOCUMENT_XML_DOCUMENT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "document/location_reader.h"
#include "document/parse_error.h"

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

class DocumentStore;

// Where a start tag begins: line and column from 1, as the parser counts
// them (a column counts characters of the decoded text).
struct NodePosition {
  std::uint32_t line;
  std::uint32_t column;
};

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
  // The children in document order, kept blanks (below) left out.
  XmlNode firstChild() const;
  XmlNode nextSibling() const;
  // The same chain with the kept blanks among the children, where they were
  // read; "no node" where firstChild() and nextSibling() give it. Each call
  // costs what those cost. Word-mode layout walks this chain.
  XmlNode firstChildKeepingBlanks() const;
  XmlNode nextSiblingKeepingBlanks() const;
  // True for a kept blank: a text node (nodeType() 3, nodeValue() its white
  // space) of U+0020, TAB, CR and LF only, outside xml:space="preserve".
  // Only the ...KeepingBlanks() calls reach one; it has no children.
  bool isKeptBlank() const;
  // The plain concatenation, in document order, of every text and CDATA
  // descendant as loaded (no trimming), kept blanks left out. Empty for
  // "no node".
  std::u16string text() const;
  // The same text without a copy where it can: a view of the one text or
  // CDATA node that holds all of it, otherwise of `storage`, which then
  // holds text(). Valid while the document and `storage` live unchanged.
  std::u16string_view text(std::u16string& storage) const;
  // The first kAttributeValueReadLimit code units of the value of the
  // attribute whose qualified name is exactly `name`, including defaults
  // declared in the internal DTD subset (first declaration wins). No value
  // when the attribute is absent or its value is empty.
  std::optional<std::u16string> getAttribute(std::u16string_view name) const;
  // The attributes that the element's start tag specifies (namespace
  // declarations included, declared defaults not), in document order: their
  // count, and the qualified name of the i-th (i below the count). 0 and
  // empty for every node that is not an element.
  std::uint32_t attributeCount() const;
  std::u16string_view attributeName(std::uint32_t i) const;
  // Where this element's start tag begins, when the document was loaded with
  // LoadSettings::recordPositions; no value otherwise, and for every node
  // that is not an element. The parser gives no positions of attributes: an
  // attribute is at its element's position. Constant time.
  std::optional<NodePosition> position() const;

 private:
  const DocumentStore* store_ = nullptr;
  std::uint32_t index_ = 0;
};

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
