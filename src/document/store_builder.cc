#include "document/store_builder.h"

#include <algorithm>
#include <cassert>
#include <new>

#include "base/ascii.h"
#include "base/utf.h"

namespace quarvel {
namespace {

std::uint32_t checkedLength(std::size_t length) {
  if (length >= kNoNode) throw std::bad_alloc();
  return static_cast<std::uint32_t>(length);
}

}  // namespace

StoreBuilder::StoreBuilder(DocumentStore& store) : store_(store) {
  open_.push_back({kNoNode, kNoNode, kNoNode, WhiteSpace{}});
}

std::uint32_t StoreBuilder::startElement(std::uint32_t name, std::uint32_t firstAttribute,
                                         WhiteSpace whiteSpace) {
  completeText();
  DocumentStore::Node node;
  node.type = kElementNode;
  node.name = name;
  node.element.firstAttribute = firstAttribute;
  node.element.end = kNoNode;
  node.length = checkedLength(store_.attributes.size() - firstAttribute);
  const std::uint32_t index = append(node);
  if (open_.size() == 1 && store_.root == kNoNode) store_.root = index;
  open_.push_back({index, kNoNode, kNoNode, whiteSpace});
  return index;
}

void StoreBuilder::endElement() {
  completeText();
  if (open_.size() <= 1) return;
  store_.nodes[open_.back().element].element.end = nodeCount();
  open_.pop_back();
}

void StoreBuilder::characters(std::string_view utf8) {
  const std::uint8_t type = inCdata_ ? kCDataSectionNode : kTextNode;
  if (openText_ == kNoNode || store_.nodes[openText_].type != type) openText(type);
  if (blank_) blank_ = std::all_of(utf8.begin(), utf8.end(), isXmlSpace);
  store_.wrote(writeUtf16(utf8, store_.textRoom(utf8.size())));
}

void StoreBuilder::startCdata() {
  if (openText_ == kNoNode || store_.nodes[openText_].type != kCDataSectionNode) {
    openText(kCDataSectionNode);
  }
  inCdata_ = true;
}

void StoreBuilder::otherNode(std::uint8_t type, std::uint32_t name, std::string_view utf8) {
  if (store_.root == kNoNode) return;
  completeText();
  DocumentStore::Node node;
  node.type = type;
  node.name = name;
  store_.wrote(writeUtf16(utf8, store_.textRoom(utf8.size())));
  node.length = checkedLength(store_.openLength());
  node.text = store_.closeText();
  append(node);
}

// Appends `node` as the last child of the innermost open element; a kept
// blank just before it links to it.
std::uint32_t StoreBuilder::append(const DocumentStore::Node& node) {
  if (store_.nodes.size() >= kNoNode - 1) throw std::bad_alloc();
  const std::uint32_t index = nodeCount();
  store_.nodes.push_back(node);
  Open& parent = open_.back();
  if (parent.blank != kNoNode) {
    store_.nodes[parent.blank].nextSibling = index;
    parent.blank = kNoNode;
  }
  if (parent.lastChild != kNoNode) {
    store_.nodes[parent.lastChild].nextSibling = index;
  } else if (parent.element != kNoNode) {
    store_.nodes[parent.element].firstChild = index;
  }
  parent.lastChild = index;
  return index;
}

// Starts a character data node of `type`, completing the one before.
void StoreBuilder::openText(std::uint8_t type) {
  completeText();
  DocumentStore::Node node;
  node.type = type;
  node.text = nullptr;
  previousOfText_ = open_.back().lastChild;
  openText_ = append(node);
  blank_ = type == kTextNode;
}

// Keeps the character data node being built. One that is only whitespace
// that xml:space does not preserve is taken out of the chain of siblings
// (nothing follows it in the store yet, so it is the last link): dropped,
// or, where blanks are kept, left where it is as a kept blank that records
// its previous sibling.
void StoreBuilder::completeText() {
  if (openText_ == kNoNode) return;
  DocumentStore::Node& node = store_.nodes[openText_];
  Open& parent = open_.back();
  if (node.type == kTextNode && blank_ && !parent.whiteSpace.preserve) {
    assert(openText_ + 1 == store_.nodes.size() && parent.lastChild == openText_);
    assert(parent.blank == kNoNode);
    parent.lastChild = previousOfText_;
    if (previousOfText_ != kNoNode) {
      store_.nodes[previousOfText_].nextSibling = kNoNode;
    } else {
      store_.nodes[parent.element].firstChild = kNoNode;
    }
    if (!parent.whiteSpace.keepBlanks) {
      store_.nodes.pop_back();
      store_.dropText();
      openText_ = kNoNode;
      return;
    }
    node.type = kKeptBlankType;
    node.previousSibling = previousOfText_;
    parent.blank = openText_;
  }
  node.length = checkedLength(store_.openLength());
  node.text = store_.closeText();
  openText_ = kNoNode;
}

}  // namespace quarvel
