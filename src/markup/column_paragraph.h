// Column paragraphs: each "div" child of a "par" element is formatted into a
// private Formatter, then the columns are printed side by side, one output
// row per line (layout/columns.h).
#ifndef QUARVEL_MARKUP_COLUMN_PARAGRAPH_H_
#define QUARVEL_MARKUP_COLUMN_PARAGRAPH_H_

#include "document/xml_document.h"
#include "layout/formatter.h"
#include "layout/line_style.h"

namespace quarvel {

// Lays out the element `div` into `column` with `style` (the walker).
using ColumnWalk = void (*)(Formatter& column, const LineStyle& style, XmlNode div);

// Finishes the enclosing block on `enclosing`, lays out every "div" child of
// `par` through `walk` as a column with `style` (its `direct` cleared),
// prints the rows to `style.out` and frees the columns, also when
// CaException passes through.
void formatColumnParagraph(Formatter& enclosing, LineStyle style, XmlNode par, ColumnWalk walk);

}  // namespace quarvel

#endif  // QUARVEL_MARKUP_COLUMN_PARAGRAPH_H_
