#include "document/xml_node.h"

#include <cassert>

#include "base/utf.h"
#include "document/document_store.h"

namespace quarvel {
namespace {

bool isCharacterData(const DocumentStore::Node& node) {
  return node.type == kTextNode || node.type == kCDataSectionNode;
}

}  // namespace

int XmlNode::nodeType() const {
  return store_ != nullptr ? store_->nodes[index_].type & kDomTypeBits : 0;
}

bool XmlNode::isKeptBlank() const {
  return store_ != nullptr && store_->nodes[index_].type == kKeptBlankType;
}

std::optional<std::u16string_view> XmlNode::nodeName() const {
  if (store_ == nullptr) return std::nullopt;
  const DocumentStore::Node& node = store_->nodes[index_];
  switch (node.type) {
    case kElementNode:
    case kProcessingInstructionNode:
      return store_->nameUtf16(node.name);
    case kTextNode:
    case kKeptBlankType:
      return u"#text";
    case kCDataSectionNode:
      return u"#cdata-section";
    case kCommentNode:
      return u"#comment";
    default:
      return std::nullopt;
  }
}

std::optional<std::u16string_view> XmlNode::nodeValue() const {
  if (store_ == nullptr) return std::nullopt;
  const DocumentStore::Node& node = store_->nodes[index_];
  if (node.type == kElementNode) return std::nullopt;
  return std::u16string_view(node.text, node.length);
}

XmlNode XmlNode::firstChild() const {
  if (store_ == nullptr) return {};
  const DocumentStore::Node& node = store_->nodes[index_];
  if (node.type != kElementNode || node.firstChild == kNoNode) return {};
  return {store_, node.firstChild};
}

XmlNode XmlNode::nextSibling() const {
  if (store_ == nullptr) return {};
  const std::uint32_t next = store_->nodes[index_].nextSibling;
  return next == kNoNode ? XmlNode() : XmlNode(store_, next);
}

XmlNode XmlNode::firstChildKeepingBlanks() const {
  if (store_ == nullptr) return {};
  const auto& nodes = store_->nodes;
  const DocumentStore::Node& node = nodes[index_];
  if (node.type != kElementNode) return {};
  // The node after an element is its first child when the element has any:
  // a kept blank there needs no link of its own to be found.
  if (node.element.end != index_ + 1 && nodes[index_ + 1].type == kKeptBlankType)
    return {store_, index_ + 1};
  return firstChild();
}

XmlNode XmlNode::nextSiblingKeepingBlanks() const {
  if (store_ == nullptr) return {};
  const auto& nodes = store_->nodes;
  const DocumentStore::Node& node = nodes[index_];
  // A kept blank after this node's subtree that names it as its previous
  // sibling is the next sibling; one after a blank never is (text next to
  // text is one node), so a blank's own link serves.
  const std::uint32_t after = node.type == kElementNode ? node.element.end : index_ + 1;
  if (after < nodes.size() && nodes[after].type == kKeptBlankType &&
      nodes[after].previousSibling == index_)
    return {store_, after};
  return nextSibling();
}

std::u16string XmlNode::text() const {
  if (store_ == nullptr) return {};
  const DocumentStore::Node& node = store_->nodes[index_];
  if (node.type != kElementNode) {
    if (!isCharacterData(node)) return {};
    return std::u16string(node.text, node.length);
  }
  // The subtree is the run of nodes up to `end`, in document order; a
  // loaded document has every element closed.
  assert(node.element.end != kNoNode && node.element.end <= store_->nodes.size());
  const auto& nodes = store_->nodes;
  std::size_t length = 0;
  for (std::uint32_t i = index_ + 1; i != node.element.end; ++i)
    if (isCharacterData(nodes[i])) length += nodes[i].length;
  std::u16string text;
  text.reserve(length);
  for (std::uint32_t i = index_ + 1; i != node.element.end; ++i)
    if (isCharacterData(nodes[i])) text.append(nodes[i].text, nodes[i].length);
  return text;
}

std::u16string_view XmlNode::text(std::u16string& storage) const {
  // A subtree whose character data is one node: that node's text itself.
  if (store_ != nullptr && store_->nodes[index_].type == kElementNode) {
    const auto& nodes = store_->nodes;
    const DocumentStore::Node* only = nullptr;
    for (std::uint32_t i = index_ + 1; i != nodes[index_].element.end; ++i) {
      if (!isCharacterData(nodes[i])) continue;
      if (only != nullptr) {
        only = nullptr;  // more than one
        break;
      }
      only = &nodes[i];
    }
    if (only != nullptr) return {only->text, only->length};
  }
  storage = text();
  return storage;
}

std::optional<std::u16string> XmlNode::getAttribute(std::u16string_view name) const {
  if (store_ == nullptr) return std::nullopt;
  const DocumentStore::Node& node = store_->nodes[index_];
  if (node.type != kElementNode) return std::nullopt;
  const std::optional<std::string> wanted = toUtf8(name);
  if (!wanted) return std::nullopt;
  const std::uint32_t id = store_->find(*wanted);
  if (id == kNoNode) return std::nullopt;
  std::optional<std::string_view> value =
      store_->specifiedValue(node.element.firstAttribute, node.length, id);
  if (!value) value = store_->declaredDefault(node.name, id);
  if (!value || value->empty()) return std::nullopt;
  return toUtf16(*value, kAttributeValueReadLimit);
}

std::uint32_t XmlNode::attributeCount() const {
  if (store_ == nullptr || store_->nodes[index_].type != kElementNode) return 0;
  return store_->nodes[index_].length;
}

std::u16string_view XmlNode::attributeName(std::uint32_t i) const {
  if (i >= attributeCount()) return {};
  const DocumentStore::Node& node = store_->nodes[index_];
  return store_->nameUtf16(store_->attributes[node.element.firstAttribute + i].name);
}

std::optional<NodePosition> XmlNode::position() const {
  if (store_ == nullptr || index_ >= store_->positions.size()) return std::nullopt;
  const DocumentStore::Position& at = store_->positions[index_];
  if (at.line == 0 || store_->nodes[index_].type != kElementNode) return std::nullopt;
  return NodePosition{at.line, at.column};
}

std::optional<NodePosition> XmlNode::attributePosition(std::uint32_t i) const {
  if (!position() || i >= attributeCount()) return std::nullopt;
  const std::uint32_t index = store_->nodes[index_].element.firstAttribute + i;
  if (index >= store_->attributePositions.size()) return position();
  const DocumentStore::Position& at = store_->attributePositions[index];
  return NodePosition{at.line, at.column};
}

bool XmlNode::isDocumentElement() const { return store_ != nullptr && store_->root == index_; }

}  // namespace quarvel
