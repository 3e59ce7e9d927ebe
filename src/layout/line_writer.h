// Turns a finished Line into code units for an encoder: a text row and, when
// some glyph is underlined, an underline row beneath it, both shifted right
// by the line's left margin plus its alignment offset. Nothing here throws.
#ifndef QUARVEL_LAYOUT_LINE_WRITER_H_
#define QUARVEL_LAYOUT_LINE_WRITER_H_

#include <cstdint>

#include "layout/glyph.h"
#include "layout/line.h"
#include "platform/text_output.h"

namespace quarvel {

// Writes `line` to `out`. A negative `fieldWidth` ends each row (CR LF in
// the normal output); zero or more pads each row with spaces to `fieldWidth`
// columns and leaves it open (how columns are set side by side). The line
// stays the caller's.
void print(const Line& line, TextEncoder& out, int32_t fieldWidth);

// `count` spaces; nothing when `count` is not positive.
void writeSpaces(int64_t count, TextEncoder& out);

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_LINE_WRITER_H_
