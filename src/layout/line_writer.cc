#include "layout/line_writer.h"

#include <algorithm>
#include <cassert>

#include "layout/text_measure.h"

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

// The unit drawn for the underline `underline` of a line of `widths`, and
// its columns: under unicode widths one that takes no column is drawn as
// U+FFFD.
struct UnderlineCell {
  char16_t unit;
  int32_t width;
};
UnderlineCell underlineCell(char16_t underline, Widths widths) {
  if (widths == Widths::kFixed) return {underline, displayWidth(underline)};
  const int32_t width = unicodeWidth(underline);
  if (width == 0) return {0xFFFD, unicodeWidth(0xFFFD)};
  return {underline, width};
}

}  // namespace

void writeSpaces(int64_t count, TextEncoder& out) { out.putSpaces(count); }

void print(const Line& line, TextEncoder& out, int32_t fieldWidth) {
  // The cached sums are checked against the glyphs here, where every glyph
  // is visited anyway.
  assert(line.glyphs.sumsHold());
  // A line without glyphs is an empty row; one whose glyphs take no column
  // is written like any other.
  const int64_t width = line.lineWidth();
  const bool empty = line.glyphs.empty();
  const int64_t offset = empty ? 0 : alignmentOffset(line.style, width);
  const int64_t indent = empty ? 0 : line.style.leftMargin + offset;
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
  // they stand under; a wide underline unit covers part of the next glyph,
  // and a glyph that takes no column gets no cell.
  int64_t carried = 0;
  const Widths widths = line.style.widths;
  forEachGlyph(line, [&](const Glyph& g) {
    const int32_t w = g.width();
    while (carried < w) {
      if (g.underline == NoUnderline) {
        out.put(u' ');
        ++carried;
      } else {
        const UnderlineCell cell = underlineCell(g.underline, widths);
        out.put(cell.unit);
        carried += cell.width;
      }
    }
    carried -= w;
  });
  endRow(out, fieldWidth, end + carried);
}

}  // namespace quarvel
