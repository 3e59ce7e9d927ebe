// A node of a loaded document (XmlDocument, xml_document.h): the handle the
// walker moves through the tree with, and every query it asks of a node.
// The answers are read from the document's store (document_store.h).
//
// Strings reach callers as UTF-16 code units (characters outside the Basic
// Multilingual Plane as surrogate pairs). Names are qualified names as the
// document spells them ("x:a" is not "a").
#ifndef QUARVEL_DOCUMENT_XML_NODE_H_
#define QUARVEL_DOCUMENT_XML_NODE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "document/node_kinds.h"

namespace quarvel {

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
  // True for the document element, the one element without a parent element.
  bool isDocumentElement() const;
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
  // that is not an element. Constant time.
  std::optional<NodePosition> position() const;
  // Where the name of the i-th attribute (as attributeName) begins in its
  // start tag, under the same conditions; an attribute that the tag does
  // not spell (built by an entity) is at its element's position.
  std::optional<NodePosition> attributePosition(std::uint32_t i) const;

 private:
  const DocumentStore* store_ = nullptr;
  std::uint32_t index_ = 0;
};

}  // namespace quarvel

#endif  // QUARVEL_DOCUMENT_XML_NODE_H_
