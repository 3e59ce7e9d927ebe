#include "layout/line_writer.h"

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

void endRow(ByteSink& out, int32_t fieldWidth, int64_t rowColumns) {
  if (fieldWidth < 0)
    writeNewline(out);
  else
    writeSpaces(fieldWidth - rowColumns, out);
}

}  // namespace

void writeChar(const Glyph& glyph, ByteSink& out) { out.putUnit(glyph.ch); }

void writeUnderline(const Glyph& glyph, ByteSink& out) {
  out.putUnit(glyph.underline == NoUnderline ? u' ' : glyph.underline);
}

void writeNewline(ByteSink& out) {
  out.putUnit(u'\r');
  out.putUnit(u'\n');
}

void writeSpaces(int64_t count, ByteSink& out) {
  const Glyph space(u' ', NoUnderline);
  for (int64_t i = 0; i < count; ++i) {
    // An absurd field width must not spin long after the output has failed.
    if ((i & 0xFFFF) == 0 && out.failed()) return;
    writeChar(space, out);
  }
}

void print(const Line& line, ByteSink& out, int32_t fieldWidth) {
  const int64_t width = line.lineWidth();
  if (width == 0) {
    endRow(out, fieldWidth, 0);
    return;
  }
  const int64_t offset = alignmentOffset(line.style, width);
  const int64_t indent = line.style.leftMargin + offset;

  writeSpaces(indent, out);
  bool underlined = false;
  forEachGlyph(line, [&](const Glyph& g) {
    writeChar(g, out);
    underlined |= g.underline != NoUnderline;
  });
  endRow(out, fieldWidth, line.style.leftMargin + offset + width);

  if (!underlined) return;
  writeSpaces(indent, out);
  // carried: columns by which the cells written so far run past the glyphs
  // they stand under; a wide underline unit covers part of the next glyph.
  int64_t carried = 0;
  forEachGlyph(line, [&](const Glyph& g) {
    const int32_t w = displayWidth(g.ch);
    while (carried < w) {
      writeUnderline(g, out);
      carried += g.underline == NoUnderline ? 1 : displayWidth(g.underline);
    }
    carried -= w;
  });
  endRow(out, fieldWidth, line.style.leftMargin + offset + width + carried);
}

}  // namespace quarvel
