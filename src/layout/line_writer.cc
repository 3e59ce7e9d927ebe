#include "layout/line_writer.h"

#include <algorithm>
#include <cassert>

namespace quarvel {
namespace {

// Offset of the line within its width; never negative, so a line longer than
// its width starts right after the left margin whatever its alignment.
int64_t alignmentOffset(const LineStyle& style, int64_t lineWidth) {
  int64_t spare = static_cast<int64_t>(style.width) - lineWidth;
  if (spare <= 0) return 0;
  if (style.align == kAlignCenter) return spare / 2;
  if (style.align == kAlignRight) return spare;
  return 0;
}

// Ends a row: a row end for a negative `fieldWidth`, else spaces up to it.
void endRow(TextEncoder& out, int32_t fieldWidth, int64_t rowColumns) {
  if (fieldWidth < 0)
    out.endRow();
  else
    out.putSpaces(fieldWidth - rowColumns);
}

}  // namespace

void writeSpaces(int64_t count, TextEncoder& out) { out.putSpaces(count); }

void print(const Line& line, TextEncoder& out, int32_t fieldWidth) {
  // The cached sums are checked against the glyphs here, where every glyph
  // is visited anyway.
  assert(line.glyphs.sumsHold());
  const int64_t width = line.lineWidth();
  const int64_t offset = width == 0 ? 0 : alignmentOffset(line.style, width);
  const int64_t indent = width == 0 ? 0 : line.style.leftMargin + offset;
  const int64_t end = indent + width;  // the columns of the text row
  bool underlined = false;
  out.putSpaces(indent);
  forEachGlyph(line, [&](const Glyph& g) {
    out.put(g.ch);
    underlined |= g.underline != NoUnderline;
  });
  endRow(out, fieldWidth, end);
  if (!underlined) return;

  out.putSpaces(indent);
  // carried: columns by which the cells written so far run past the glyphs
  // they stand under; a wide underline unit covers part of the next glyph.
  int64_t carried = 0;
  forEachGlyph(line, [&](const Glyph& g) {
    const int32_t w = unitWidth(g.ch);
    while (carried < w) {
      out.put(g.underline == NoUnderline ? u' ' : g.underline);
      carried += g.underline == NoUnderline ? 1 : unitWidth(g.underline);
    }
    carried -= w;
  });
  endRow(out, fieldWidth, end + carried);
}

}  // namespace quarvel
