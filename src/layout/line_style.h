// The layout settings in force for a piece of text. Copied whole wherever it
// is passed on: into every new Line, and from each element to its children.
#ifndef QUARVEL_LAYOUT_LINE_STYLE_H_
#define QUARVEL_LAYOUT_LINE_STYLE_H_

#include <cstdint>

#include "platform/text_output.h"

namespace quarvel {

// The `underline` of a glyph that is not underlined.
inline constexpr char16_t NoUnderline = 0xFFFE;

enum : int32_t { kAlignRight = 0, kAlignCenter = 1, kAlignLeft = 2 };

// How lines are filled outside `pre`: character by character, or in word
// mode, which keeps words whole and treats white space of the text as one
// space that no line begins or ends with (formatter.h).
enum class Wrap : int32_t { kChar = 0, kWord = 1 };

// How many columns a character takes: kFixed counts every code unit outside
// ASCII and the half-width forms as two (displayWidth); kUnicode measures
// each character by its Unicode width and keeps grapheme clusters whole
// (text_measure.h).
enum class Widths : int32_t { kFixed = 0, kUnicode = 1 };

// Which characters may not begin a line: kNormal the kNoLineStart table;
// kStrict adds small kana, prolonged sound marks and a few more
// (line_breaking.h).
enum class LineBreak : int32_t { kNormal = 0, kStrict = 1 };

struct LineStyle {
  // 0 right, 1 center, 2 left; the line writer treats any other value as left.
  int32_t align = kAlignLeft;
  // Underline code unit given to new glyphs.
  char16_t underline = NoUnderline;
  // Text width in columns, margins not included.
  int32_t width = 62;
  // Spaces written before each row of a line.
  int32_t leftMargin = 4;
  // Columns past `width` into which closing punctuation may hang.
  int32_t rightMargin = 6;
  // Nonzero: preformatted text.
  int32_t pre = 0;
  // Char or word mode; no effect under `pre`.
  Wrap wrap = Wrap::kChar;
  Widths widths = Widths::kFixed;
  LineBreak linebreak = LineBreak::kNormal;
  // Nonzero: a finished line is printed at once; 0: it is kept for columns.
  int32_t direct = 1;
  // Where lines are printed. Not owned; set before the first line is printed.
  TextEncoder* out = nullptr;
};

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_LINE_STYLE_H_
