// The line-breaking classes of code units. A kNoLineStart character may hang
// into the right margin rather than begin a line; a kNoLineEnd character is
// carried to the next line rather than end one. In word mode a word unit
// belongs to the word around it, which breaks only where a word ends.
#ifndef QUARVEL_LAYOUT_LINE_BREAKING_H_
#define QUARVEL_LAYOUT_LINE_BREAKING_H_

#include <array>
#include <cstdint>

#include "layout/line_style.h"

namespace quarvel {

// Columns taken by a code unit under fixed widths: 1 for U+0000-U+007F and
// U+FF40-U+FF9F, 2 for every other unit (each half of a surrogate pair
// included).
constexpr int32_t displayWidth(char16_t c) {
  return (c <= 0x007F || (c >= 0xFF40 && c <= 0xFF9F)) ? 1 : 2;
}

// Zero-terminated tables of whole UTF-16 code units (no folding).
extern const char16_t kNoLineStart[52];
extern const char16_t kNoLineEnd[22];
// The characters that strict line breaking adds to kNoLineStart: small kana,
// prolonged sound marks, U+303B, the two leaders, the wave dash and U+30A0;
// zero-terminated.
extern const char16_t kStrictNoLineStart[57];

// What the line builder asks of a code unit, one byte per unit: its
// displayWidth (kUnitWidth), whether it belongs to either table, and whether
// it is a word unit: every unit but U+0020 and those of the ranges below.
// Built from displayWidth, the tables and the ranges at compile time, so
// that each question about a character costs one load.
enum : std::uint8_t {
  kUnitWidth = 3,  // a mask: the columns, 1 or 2 (0 only on glyphs)
  kUnitNoLineStart = 4,
  kUnitNoLineEnd = 8,
  kUnitWord = 16,
  kUnitStrictNoLineStart = 32,
  // Never in the table: set on a glyph that continues a grapheme cluster
  // (Glyph::classes).
  kUnitInCluster = 64,
};
extern const std::array<std::uint8_t, 65536> kUnitClasses;

// Units that word mode still breaks around one by one, as char mode does:
// the East Asian wide ranges with the half-width forms, and every surrogate
// (a character outside the BMP). Inclusive bounds, ascending.
struct UnitRange {
  char16_t first;
  char16_t last;
};
extern const UnitRange kBreakableRanges[11];

inline bool isNoLineStart(char16_t c) { return (kUnitClasses[c] & kUnitNoLineStart) != 0; }
// The same under the line breaking `linebreak`, which for kStrict adds
// kStrictNoLineStart.
inline bool isNoLineStart(char16_t c, LineBreak linebreak) {
  const std::uint8_t classes = linebreak == LineBreak::kStrict
                                   ? kUnitNoLineStart | kUnitStrictNoLineStart
                                   : kUnitNoLineStart;
  return (kUnitClasses[c] & classes) != 0;
}
inline bool isNoLineEnd(char16_t c) { return (kUnitClasses[c] & kUnitNoLineEnd) != 0; }
inline bool isWordUnit(char16_t c) { return (kUnitClasses[c] & kUnitWord) != 0; }
// displayWidth(c), from the table.
inline int32_t unitWidth(char16_t c) { return kUnitClasses[c] & kUnitWidth; }

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_LINE_BREAKING_H_
