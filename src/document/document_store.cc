#include "document/document_store.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

#include "base/utf.h"

namespace quarvel {

std::string_view keptPrefix(std::string_view utf8, std::size_t limit) {
  if (utf8.size() <= limit) return utf8;
  std::size_t end = limit;
  // Back to the first byte of the character that the cut falls in.
  while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
  return utf8.substr(0, end);
}

// ---------------------------------------------------------------------------
// Names.

std::size_t DocumentStore::slotOf(std::string_view qualifiedName) const {
  assert(!nameIndex_.empty());
  const std::size_t mask = nameIndex_.size() - 1;
  std::size_t slot = std::hash<std::string_view>()(qualifiedName) & mask;
  while (nameIndex_[slot] != kNoNode && nameUtf8(nameIndex_[slot]) != qualifiedName) {
    slot = (slot + 1) & mask;
  }
  return slot;
}

void DocumentStore::growNameIndex() {
  std::vector<std::uint32_t> old(std::max<std::size_t>(64, 2 * nameIndex_.size()), kNoNode);
  old.swap(nameIndex_);
  for (const std::uint32_t name : old) {
    if (name != kNoNode) nameIndex_[slotOf(nameUtf8(name))] = name;
  }
}

std::uint32_t DocumentStore::intern(std::string_view qualifiedName) {
  if (2 * (nameSpans_.size() + 1) > nameIndex_.size()) growNameIndex();
  const std::size_t slot = slotOf(qualifiedName);
  if (nameIndex_[slot] != kNoNode) return nameIndex_[slot];
  if (nameSpans_.size() >= kNoNode - 1 || namesUtf8_.size() > UINT32_MAX - qualifiedName.size()) {
    throw std::bad_alloc();
  }
  if (namesUtf16_.size() > UINT32_MAX - qualifiedName.size()) throw std::bad_alloc();
  // Converted in place: a name may be megabytes long. A failure part way
  // leaves unused units behind, never a span without them.
  const std::size_t utf16Offset = namesUtf16_.size();
  namesUtf16_.resize(utf16Offset + qualifiedName.size());
  const std::size_t utf16Length = writeUtf16(qualifiedName, namesUtf16_.data() + utf16Offset);
  namesUtf16_.resize(utf16Offset + utf16Length);
  const NameSpan span{static_cast<std::uint32_t>(namesUtf8_.size()),
                      static_cast<std::uint32_t>(qualifiedName.size()),
                      static_cast<std::uint32_t>(utf16Offset),
                      static_cast<std::uint32_t>(utf16Length)};
  namesUtf8_.append(qualifiedName);
  nameSpans_.push_back(span);
  const auto index = static_cast<std::uint32_t>(nameSpans_.size() - 1);
  nameIndex_[slot] = index;
  return index;
}

std::uint32_t DocumentStore::find(std::string_view qualifiedName) const {
  if (nameIndex_.empty()) return kNoNode;
  return nameIndex_[slotOf(qualifiedName)];
}

std::string_view DocumentStore::nameUtf8(std::uint32_t name) const {
  const NameSpan& span = nameSpans_[name];
  return std::string_view(namesUtf8_).substr(span.utf8Offset, span.utf8Length);
}

std::u16string_view DocumentStore::nameUtf16(std::uint32_t name) const {
  const NameSpan& span = nameSpans_[name];
  return std::u16string_view(namesUtf16_).substr(span.utf16Offset, span.utf16Length);
}

// ---------------------------------------------------------------------------
// Attributes.

void DocumentStore::addAttribute(std::uint32_t name, std::string_view value) {
  if (attributes.size() >= kNoNode - 1) throw std::bad_alloc();
  const std::string_view kept = keptPrefix(value);
  attributes.push_back({name, static_cast<std::uint32_t>(kept.size()), values.size()});
  values.append(kept);
}

std::optional<std::string_view> DocumentStore::specifiedValue(std::uint32_t first,
                                                              std::uint32_t count,
                                                              std::uint32_t name) const {
  for (std::uint32_t i = first; i != first + count; ++i) {
    const Attribute& attribute = attributes[i];
    if (attribute.name == name) {
      return std::string_view(values).substr(attribute.value, attribute.length);
    }
  }
  return std::nullopt;
}

bool DocumentStore::declareDefault(std::uint32_t element, std::uint32_t attribute,
                                   std::string_view value) {
  const std::string_view kept = keptPrefix(value);
  const auto [where, added] =
      defaults_.try_emplace(defaultKey(element, attribute),
                            Default{values.size(), static_cast<std::uint32_t>(kept.size())});
  if (added) {
    try {
      values.append(kept);
    } catch (...) {
      defaults_.erase(where);
      throw;
    }
  }
  return added;
}

std::optional<std::string_view> DocumentStore::declaredDefault(std::uint32_t element,
                                                               std::uint32_t attribute) const {
  const auto found = defaults_.find(defaultKey(element, attribute));
  if (found == defaults_.end()) return std::nullopt;
  return std::string_view(values).substr(found->second.value, found->second.length);
}

// ---------------------------------------------------------------------------
// Character data.

char16_t* DocumentStore::textRoom(std::size_t units) {
  if (!inLarge_ && units <= room_ - open_) return free_ + open_;
  if (units > SIZE_MAX / 4 - open_) throw std::bad_alloc();
  const std::size_t needed = open_ + units;
  if (needed <= kBlockUnits / 4 && !inLarge_) {
    // A fresh block; the rest of the old one stays unused.
    blocks_.push_back(allocateLargeBlock(kBlockUnits * sizeof(char16_t)));
    auto* block = static_cast<char16_t*>(blocks_.back().get());
    if (open_ != 0) std::memcpy(block, free_, open_ * sizeof(char16_t));
    free_ = block;
    room_ = kBlockUnits;
    return free_ + open_;
  }
  // A large text is kept in blocks of its own, each twice the last, so that
  // it is copied less than once on average; the open block stays open.
  if (needed > largeUnits_) {
    const std::size_t grown = std::max(needed, std::max(2 * largeUnits_, kBlockUnits));
    LargeBlock block = allocateLargeBlock(grown * sizeof(char16_t));
    const char16_t* from = inLarge_ ? static_cast<const char16_t*>(large_.back().get()) : free_;
    if (open_ != 0) std::memcpy(block.get(), from, open_ * sizeof(char16_t));
    if (inLarge_) {
      large_.back() = std::move(block);
    } else {
      large_.push_back(std::move(block));
    }
    largeUnits_ = grown;
    inLarge_ = true;
  }
  return static_cast<char16_t*>(large_.back().get()) + open_;
}

const char16_t* DocumentStore::closeText() {
  const char16_t* kept = nullptr;
  if (inLarge_) {
    kept = static_cast<const char16_t*>(large_.back().get());
    inLarge_ = false;
    largeUnits_ = 0;
  } else if (open_ != 0) {
    kept = free_;
    free_ += open_;
    room_ -= open_;
  }
  open_ = 0;
  return kept;
}

void DocumentStore::dropText() {
  if (inLarge_) large_.pop_back();
  inLarge_ = false;
  largeUnits_ = 0;
  open_ = 0;
}

// ---------------------------------------------------------------------------
// The queries of XmlNode.

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

}  // namespace quarvel
