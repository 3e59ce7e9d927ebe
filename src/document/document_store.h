// The store behind XmlDocument and XmlNode: one loaded document in a compact
// form of our own. Every node lives in one array, in document order, linked
// by indices; character data is converted once to UTF-16 and kept in large
// blocks that never move; names are interned; an element's attributes as
// the document specifies them (namespace declarations included) lie in one
// flat array; attribute defaults declared in the internal subset are held
// once, by element and attribute name, and read from there.
//
// The parser driver (document_parser.h) fills a store; XmlNode (xml_node.h)
// reads it.
// Nothing here parses or knows the parser.
#ifndef QUARVEL_DOCUMENT_DOCUMENT_STORE_H_
#define QUARVEL_DOCUMENT_DOCUMENT_STORE_H_

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "document/large_block.h"
#include "document/node_kinds.h"

namespace quarvel {

// "No node" in the store's links, and "no name" from DocumentStore::find().
inline constexpr std::uint32_t kNoNode = UINT32_MAX;

// The store's type for a kept blank: a text node of white space only that
// no xml:space="preserve" keeps. It lies in document order where it was
// read, but out of every firstChild and nextSibling chain, and it is no
// character data to text(); only the ...KeepingBlanks() calls lead to it,
// and nodeType() reports it as text (the low bits).
inline constexpr std::uint8_t kKeptBlankType = 0x80 | kTextNode;
inline constexpr std::uint8_t kDomTypeBits = 0x7F;

// Attribute values are kept from their first this many bytes of UTF-8:
// kAttributeValueReadLimit code units never take more than three bytes each
// (a pair of surrogates four for two units), so these bytes always hold what
// getAttribute reads, and a value of megabytes costs no more than that.
inline constexpr std::size_t kAttributeValueKeptBytes = 3 * kAttributeValueReadLimit + 4;

// The key of an (element name, attribute name) pair, both interned, under
// which declared defaults are filed.
inline std::uint64_t defaultKey(std::uint32_t element, std::uint32_t attribute) {
  return (std::uint64_t{element} << 32) | attribute;
}

class DocumentStore {
 public:
  struct ElementFields {
    std::uint32_t firstAttribute;
    std::uint32_t end;  // one past the last node of the element's subtree
  };
  struct Node {
    union {
      const char16_t* text;  // text, CDATA, comment, processing instruction
      ElementFields element;
    };
    std::uint32_t length = 0;  // code units of `text`; attributes of an element
    union {
      std::uint32_t firstChild = kNoNode;  // an element's
      std::uint32_t previousSibling;       // a kept blank's; kNoNode when it is a first child
    };
    // The next sibling that is no kept blank (a kept blank's own included).
    std::uint32_t nextSibling = kNoNode;
    std::uint32_t name = 0;  // interned: an element's qualified name, a PI's target
    std::uint8_t type = 0;   // a DOM node type, or kKeptBlankType
  };
  static_assert(sizeof(Node) <= 32);

  struct Attribute {
    std::uint32_t name;
    std::uint32_t length;  // bytes of `values` kept, at most kAttributeValueKeptBytes
    std::uint64_t value;   // offset into `values`
  };

  DocumentStore() = default;
  DocumentStore(const DocumentStore&) = delete;
  DocumentStore& operator=(const DocumentStore&) = delete;

  // Where an element's start tag begins, when the load recorded positions:
  // indexed by node, line 0 for a node that is no element (a side array, so
  // that Node stays small and a load without positions pays nothing).
  struct Position {
    std::uint32_t line = 0;
    std::uint32_t column = 0;
  };

  BlockArray<Node> nodes;
  std::vector<Position> positions;
  std::vector<Attribute> attributes;
  // Where each attribute's name begins, indexed as `attributes`, when the
  // load recorded positions (an attribute that the tag does not spell, as
  // one an entity built, is at its element's position).
  std::vector<Position> attributePositions;
  std::string values;  // attribute values as kept, UTF-8
  std::uint32_t root = kNoNode;
  // Bytes of the document that the parser read (after decoding, for an
  // encoding that is decoded in front of it).
  std::uint64_t bytesRead = 0;

  // --- Names: qualified names as the document spells them, each held once.

  // The name's index, added when new. Throws std::bad_alloc when memory or
  // indices run out.
  std::uint32_t intern(std::string_view qualifiedName);
  std::uint32_t nameCount() const { return static_cast<std::uint32_t>(nameSpans_.size()); }
  // The name's index, or kNoNode when no node, attribute or declaration has it.
  std::uint32_t find(std::string_view qualifiedName) const;
  std::string_view nameUtf8(std::uint32_t name) const;
  // Valid while the store lives and no name is added.
  std::u16string_view nameUtf16(std::uint32_t name) const;

  // --- Attributes.

  // Appends an attribute of the element being built; its value is kept from
  // its first kAttributeValueKeptBytes bytes (cut where a character starts).
  void addAttribute(std::uint32_t name, std::string_view value);
  // The kept value of attribute `name` among the `count` attributes from
  // `first`, or no value when none has that name.
  std::optional<std::string_view> specifiedValue(std::uint32_t first, std::uint32_t count,
                                                 std::uint32_t name) const;

  // Declares the default of attribute `attribute` on elements named
  // `element`; the first declaration of a pair counts, later ones are
  // ignored. The value is kept as addAttribute() keeps one. True when this
  // declaration counts.
  bool declareDefault(std::uint32_t element, std::uint32_t attribute, std::string_view value);
  // The kept default of that pair, or no value when none was declared.
  std::optional<std::string_view> declaredDefault(std::uint32_t element,
                                                  std::uint32_t attribute) const;

  // --- Character data, written straight into blocks that never move, so
  // that nodes keep plain pointers and growing the store never copies text
  // already held. One text is open at a time: the data of the node being
  // built, which grows at its end until closed.

  // Room for `units` more code units right after the open text; wrote()
  // then says how many were written there. May move the open text (not the
  // kept ones). Throws std::bad_alloc when memory runs out.
  char16_t* textRoom(std::size_t units);
  void wrote(std::size_t units) {
    open_ += units;
    written_ += units;
    assert(inLarge_ ? open_ <= largeUnits_ : open_ <= room_);
  }
  std::size_t openLength() const { return open_; }
  // Code units written into the store so far, dropped texts included.
  std::uint64_t textUnitsWritten() const { return written_; }
  // Keeps the open text; its first unit, or nullptr when it is empty.
  const char16_t* closeText();
  // Drops the open text.
  void dropText();

 private:
  // Names, concatenated; `nameSpans_` says where each lies. The index is an
  // open-addressing table of name indices, at most half full.
  struct NameSpan {
    std::uint32_t utf8Offset, utf8Length, utf16Offset, utf16Length;
  };
  std::size_t slotOf(std::string_view qualifiedName) const;
  void growNameIndex();
  std::string namesUtf8_;
  std::u16string namesUtf16_;
  std::vector<NameSpan> nameSpans_;
  std::vector<std::uint32_t> nameIndex_;

  struct Default {
    std::uint64_t value;  // offset into `values`
    std::uint32_t length;
  };
  std::unordered_map<std::uint64_t, Default> defaults_;

  static constexpr std::size_t kBlockUnits = kLargeBlockBytes / sizeof(char16_t);
  std::vector<LargeBlock> blocks_;
  std::vector<LargeBlock> large_;  // large texts, one block each
  std::size_t largeUnits_ = 0;     // units that the open large text's block holds
  char16_t* free_ = nullptr;       // the open text's first unit in the open block
  std::size_t room_ = 0;           // units from free_ to the open block's end
  std::size_t open_ = 0;           // units of the open text
  bool inLarge_ = false;           // the open text is large_.back()
  std::uint64_t written_ = 0;
};

// Where a kept value of `utf8` ends: its first `limit` bytes or fewer, never
// inside a character.
std::string_view keptPrefix(std::string_view utf8, std::size_t limit = kAttributeValueKeptBytes);

}  // namespace quarvel

#endif  // QUARVEL_DOCUMENT_DOCUMENT_STORE_H_
