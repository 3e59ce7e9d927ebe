// Turns a finished Line into UTF-16LE bytes: a text row and, when some glyph
// is underlined, an underline row beneath it, both shifted right by the
// line's left margin plus its alignment offset.
#ifndef QUARVEL_LAYOUT_LINE_WRITER_H_
#define QUARVEL_LAYOUT_LINE_WRITER_H_

#include <cstdint>

#include "layout/glyph.h"
#include "layout/line.h"
#include "platform/byte_sink.h"

namespace quarvel {

// Writes `line` to `out`. A negative `fieldWidth` ends each row with CR LF;
// zero or more pads each row with spaces to `fieldWidth` columns and leaves it
// open (how columns are set side by side). The line stays the caller's.
void print(const Line& line, ByteSink& out, int32_t fieldWidth);

// The glyph's character, low byte first.
void writeChar(const Glyph& glyph, ByteSink& out);
// One underline cell: the glyph's underline unit, or a space for NoUnderline.
void writeUnderline(const Glyph& glyph, ByteSink& out);
// CR LF.
void writeNewline(ByteSink& out);
// `count` spaces; nothing when `count` is not positive.
void writeSpaces(int64_t count, ByteSink& out);

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_LINE_WRITER_H_
