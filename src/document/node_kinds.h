// What every part of the document layer shares about a loaded document's
// nodes: their kinds, numbered as the DOM numbers them, and how much of an
// attribute value a reader gets.
#ifndef QUARVEL_DOCUMENT_NODE_KINDS_H_
#define QUARVEL_DOCUMENT_NODE_KINDS_H_

#include <cstddef>

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

}  // namespace quarvel

#endif  // QUARVEL_DOCUMENT_NODE_KINDS_H_
