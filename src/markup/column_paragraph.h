// Column paragraphs: each "div" child of a "par" element is formatted into a
// private Formatter, then the columns are printed side by side, one output
// row per line.
#ifndef QUARVEL_MARKUP_COLUMN_PARAGRAPH_H_
#define QUARVEL_MARKUP_COLUMN_PARAGRAPH_H_

#include "document/xml_document.h"
#include "layout/formatter.h"
#include "layout/line_style.h"

namespace quarvel {

// Finishes the enclosing block on `enclosing`, walks every "div" child of
// `par` as a column with `style` (its `direct` cleared), prints the rows to
// `style.out` and frees the columns, also when CaException passes through.
void formatColumnParagraph(Formatter& enclosing, LineStyle style, XmlNode par);

}  // namespace quarvel

#endif  // QUARVEL_MARKUP_COLUMN_PARAGRAPH_H_
