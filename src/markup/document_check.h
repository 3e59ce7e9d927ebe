// The document check behind --check: what the formatter would silently
// ignore, misread or lose in a document, found without laying it out.
#ifndef QUARVEL_MARKUP_DOCUMENT_CHECK_H_
#define QUARVEL_MARKUP_DOCUMENT_CHECK_H_

#include <functional>
#include <string>

#include "document/xml_document.h"

namespace quarvel {

// One finding: where (the element concerned, or an attribute's name; a
// text is at the element that holds it, white space before a br at the br;
// 0:0 when the document was loaded without positions) and what, in one line
// without its end.
struct Finding {
  NodePosition at;
  std::u16string message;
};

// Checks the tree under `root` (the root included), in document order:
// elements outside the vocabulary (prefixed names and HTML's with words of
// their own), what reading an element finds ignored or misread
// (element_reading.h), widths below 1, negative margins and counts and
// those beyond 10,000 columns, a nonbreak wider than its block, elements
// inside a nonbreak (which only places their text), par children that are
// not div, a par inside a par, and text holding line ends or tabs where
// they vanish (not in pre, not word wrapped, not in a nonbreak) or white
// space that stays as trailing spaces before a br or a block's end of a
// right or centred block. Time and memory are linear in the
// document; names and values are quoted cut to a bounded length. Each
// finding goes to `sink` as soon as it is found and is held nowhere else, so
// memory does not grow with their number. The sink returns whether it still
// reads the messages: once it returns false, the findings that follow come
// with an empty message, which is then never made (a hostile document holds
// millions of findings, and the "did you mean" search is the costly part).
// Throws std::bad_alloc when memory runs out, and passes on whatever `sink`
// throws.
using FindingSink = std::function<bool(const Finding&)>;
void checkDocument(XmlNode root, const FindingSink& sink);

}  // namespace quarvel

#endif  // QUARVEL_MARKUP_DOCUMENT_CHECK_H_
