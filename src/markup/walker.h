// The element walker: gives the document its meaning by walking the element
// tree depth first, in document order, with the inherited layout settings
// held by value on the call stack.
#ifndef QUARVEL_MARKUP_WALKER_H_
#define QUARVEL_MARKUP_WALKER_H_

#include "document/xml_document.h"
#include "layout/formatter.h"
#include "layout/line_style.h"
#include "markup/vocabulary.h"

namespace quarvel {

// The flow that receives the lines (shared, never copied) and the settings in
// force for one node (each call holds its own copy).
struct FormatState {
  Formatter& formatter;
  LineStyle style;
};

// Interprets `node` (an element's start action, or a text node's characters),
// walks its children each with a fresh copy of the style, then performs the
// element's end action. Nothing a child does to its style reaches its parent.
// May throw CaException (out of memory), leaving the formatter consistent.
void walkNode(FormatState state, XmlNode node);

}  // namespace quarvel

#endif  // QUARVEL_MARKUP_WALKER_H_
