// The two Japanese line-breaking classes. A kNoLineStart character may hang
// into the right margin rather than begin a line; a kNoLineEnd character is
// carried to the next line rather than end one.
#ifndef QUARVEL_LAYOUT_LINE_BREAKING_H_
#define QUARVEL_LAYOUT_LINE_BREAKING_H_

#include <array>
#include <cstdint>

namespace quarvel {

// Zero-terminated tables of whole UTF-16 code units (no folding).
extern const char16_t kNoLineStart[52];
extern const char16_t kNoLineEnd[22];

// What the line builder asks of a code unit, one byte per unit: its
// displayWidth less one, and whether it belongs to either table. Built from
// displayWidth and the two tables above at compile time, so that each
// question about a character costs one load.
enum : std::uint8_t { kUnitWide = 1, kUnitNoLineStart = 2, kUnitNoLineEnd = 4 };
extern const std::array<std::uint8_t, 65536> kUnitClasses;

inline bool isNoLineStart(char16_t c) { return (kUnitClasses[c] & kUnitNoLineStart) != 0; }
inline bool isNoLineEnd(char16_t c) { return (kUnitClasses[c] & kUnitNoLineEnd) != 0; }
// displayWidth(c), from the table.
inline int32_t unitWidth(char16_t c) { return 1 + (kUnitClasses[c] & kUnitWide); }

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_LINE_BREAKING_H_
