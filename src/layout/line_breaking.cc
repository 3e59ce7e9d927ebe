#include "layout/line_breaking.h"

#include <cstddef>
#include <cstdint>

namespace quarvel {

// Closing brackets and quotes, punctuation, iteration and sound marks, unit
// signs. U+FFE0 stands twice.
constexpr char16_t kNoLineStart[52] = {
    0x0021, 0x0025, 0x0029, 0x002C, 0x002E, 0x003A, 0x003B, 0x003F,  //
    0x005D, 0x007D, 0xFFE0, 0x00B0, 0x2019, 0x201D, 0x2030, 0x2032,  //
    0x2033, 0x2103, 0x3001, 0x3002, 0x3005, 0x3009, 0x300B, 0x300D,  //
    0x300F, 0x3011, 0x3015, 0x309B, 0x309C, 0x309D, 0x309E, 0x30FB,  //
    0x30FD, 0x30FE, 0xFF01, 0xFF05, 0xFF09, 0xFF0C, 0xFF0E, 0xFF1A,  //
    0xFF1B, 0xFF1F, 0xFF3D, 0xFF5D, 0xFF61, 0xFF63, 0xFF64, 0xFF65,  //
    0xFF9E, 0xFF9F, 0xFFE0, 0x0000,
};

// Opening brackets and quotes, currency signs. U+FFE1 stands twice; the
// fourth entry is the reverse solidus itself.
constexpr char16_t kNoLineEnd[22] = {
    0x0024, 0x0028, 0x005B, 0x005C, 0x007B, 0xFFE1, 0x2018, 0x201C,  //
    0x3008, 0x300A, 0x300C, 0x300E, 0x3010, 0x3014, 0xFF04, 0xFF08,  //
    0xFF3B, 0xFF5B, 0xFF62, 0xFFE1, 0xFFE5, 0x0000,
};

// Small kana (hiragana, katakana, the phonetic extensions, half-width),
// prolonged sound marks, the masu mark, leaders, wave dash, double hyphen.
constexpr char16_t kStrictNoLineStart[57] = {
    0x3041, 0x3043, 0x3045, 0x3047, 0x3049, 0x3063, 0x3083, 0x3085, 0x3087, 0x308E,  //
    0x3095, 0x3096, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9, 0x30C3, 0x30E3, 0x30E5,  //
    0x30E7, 0x30EE, 0x30F5, 0x30F6, 0x31F0, 0x31F1, 0x31F2, 0x31F3, 0x31F4, 0x31F5,  //
    0x31F6, 0x31F7, 0x31F8, 0x31F9, 0x31FA, 0x31FB, 0x31FC, 0x31FD, 0x31FE, 0x31FF,  //
    0xFF67, 0xFF68, 0xFF69, 0xFF6A, 0xFF6B, 0xFF6C, 0xFF6D, 0xFF6E, 0xFF6F, 0x30FC,  //
    0xFF70, 0x303B, 0x2025, 0x2026, 0x301C, 0x30A0, 0x0000,                          //
};

constexpr UnitRange kBreakableRanges[11] = {
    {0x1100, 0x115F}, {0x2329, 0x232A}, {0x2E80, 0x303E}, {0x3040, 0xA4CF},
    {0xAC00, 0xD7A3}, {0xD800, 0xDFFF}, {0xF900, 0xFAFF}, {0xFE10, 0xFE19},
    {0xFE30, 0xFE6F}, {0xFF00, 0xFF9F}, {0xFFE0, 0xFFE6},
};

namespace {

// Each unit is written once, a segment at a time: between two boundaries
// (of a breakable range, or where displayWidth changes) neither the width
// nor whether units are word units changes. One pass per unit keeps the
// work within what compilers allow a constant expression.
constexpr std::array<std::uint8_t, 65536> buildUnitClasses() {
  std::array<std::uint8_t, 65536> classes{};
  constexpr std::size_t kWidthBounds[] = {0x0080, 0xFF40, 0xFFA0};
  std::size_t range = 0;
  for (std::size_t c = 0; c < classes.size();) {
    const bool breakable =
        range < std::size(kBreakableRanges) && c >= kBreakableRanges[range].first;
    std::size_t end =
        !breakable
            ? (range < std::size(kBreakableRanges) ? kBreakableRanges[range].first : classes.size())
            : kBreakableRanges[range].last + std::size_t{1};
    for (const std::size_t bound : kWidthBounds)
      if (c < bound && bound < end) end = bound;
    const auto value = static_cast<std::uint8_t>(displayWidth(static_cast<char16_t>(c)) |
                                                 (breakable ? 0 : kUnitWord));
    for (; c < end; ++c) classes[c] = value;
    if (breakable && c > kBreakableRanges[range].last) ++range;
  }
  classes[u' '] &= static_cast<std::uint8_t>(~kUnitWord);
  for (const char16_t* c = kNoLineStart; *c != 0; ++c) classes[*c] |= kUnitNoLineStart;
  for (const char16_t* c = kNoLineEnd; *c != 0; ++c) classes[*c] |= kUnitNoLineEnd;
  for (const char16_t* c = kStrictNoLineStart; *c != 0; ++c) classes[*c] |= kUnitStrictNoLineStart;
  return classes;
}

}  // namespace

alignas(64) constexpr std::array<std::uint8_t, 65536> kUnitClasses = buildUnitClasses();
static_assert(kUnitClasses[u'a'] == (1 | kUnitWord) &&
              kUnitClasses[u'('] == (1 | kUnitWord | kUnitNoLineEnd) && kUnitClasses[u' '] == 1 &&
              kUnitClasses[0x3002] == (2 | kUnitNoLineStart) &&
              kUnitClasses[0xFF61] == (1 | kUnitNoLineStart) &&
              kUnitClasses[0xFFE1] == (2 | kUnitNoLineEnd) &&
              kUnitClasses[0x00E9] == (2 | kUnitWord) && kUnitClasses[0xFFA0] == (2 | kUnitWord) &&
              kUnitClasses[0x30FC] == (2 | kUnitStrictNoLineStart) && kUnitClasses[0xD800] == 2 &&
              kUnitClasses[0xA4D0] == (2 | kUnitWord));

}  // namespace quarvel
