// Fills a DocumentStore in document order from the events of a parse:
// elements opened and closed, character data, comments and processing
// instructions. Knows nothing of the parser that reports them.
//
// Pieces of character data that follow each other form one node: text with
// text (across entity references), CDATA with CDATA. A node is judged once
// complete: a text node that is only whitespace, where xml:space does not
// say "preserve", is dropped, or, within an element that the load's
// LoadSettings::keepsBlanksWithin picks (by an attribute it has), kept as a
// blank out of the chains of siblings (XmlNode::nextSiblingKeepingBlanks).
#ifndef QUARVEL_DOCUMENT_STORE_BUILDER_H_
#define QUARVEL_DOCUMENT_STORE_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "document/document_store.h"

namespace quarvel {

// How whitespace-only text is kept within an element, inherited by the
// elements inside it unless they say otherwise.
struct WhiteSpace {
  bool preserve = false;    // xml:space="preserve" in force: kept as text
  bool keepBlanks = false;  // otherwise kept aside as a blank, not dropped
};

class StoreBuilder {
 public:
  explicit StoreBuilder(DocumentStore& store);
  StoreBuilder(const StoreBuilder&) = delete;
  StoreBuilder& operator=(const StoreBuilder&) = delete;

  // Elements open now; 0 at the document level.
  std::size_t depth() const { return open_.size() - 1; }
  // What a new element's content inherits.
  WhiteSpace whiteSpace() const { return open_.back().whiteSpace; }
  bool hasRoot() const { return store_.root != kNoNode; }

  // Opens an element named `name` (interned) whose attributes are the ones
  // added to the store since `firstAttribute`; returns its node index.
  // Every call of this class may throw std::bad_alloc, and then leaves the
  // store unusable.
  std::uint32_t startElement(std::uint32_t name, std::uint32_t firstAttribute,
                             WhiteSpace whiteSpace);
  void endElement();
  // Character data of the kind in force: CDATA between startCdata() and
  // endCdata(), text otherwise. `utf8` is valid UTF-8.
  void characters(std::string_view utf8);
  // A CDATA section that follows another with nothing between joins it; an
  // empty one is a node all the same.
  void startCdata();
  void endCdata() { inCdata_ = false; }
  // A comment (name 0) or processing instruction (its target interned)
  // within the root element or after it; one before the root is no part of
  // the tree and is ignored.
  void otherNode(std::uint8_t type, std::uint32_t name, std::string_view utf8);

 private:
  struct Open {
    std::uint32_t element;    // kNoNode for the document level
    std::uint32_t lastChild;  // kNoNode before the first; never a kept blank
    std::uint32_t blank;      // a kept blank after lastChild, or kNoNode
    WhiteSpace whiteSpace;    // in force for the element's content
  };

  std::uint32_t nodeCount() const { return static_cast<std::uint32_t>(store_.nodes.size()); }
  std::uint32_t append(const DocumentStore::Node& node);
  void openText(std::uint8_t type);
  void completeText();

  DocumentStore& store_;
  std::vector<Open> open_;
  // The character data node being built (the last node) and whether it is
  // whitespace only so far.
  std::uint32_t openText_ = kNoNode;
  std::uint32_t previousOfText_ = kNoNode;
  bool blank_ = true;
  bool inCdata_ = false;
};

}  // namespace quarvel

#endif  // QUARVEL_DOCUMENT_STORE_BUILDER_H_
