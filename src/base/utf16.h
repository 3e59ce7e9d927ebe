// Facts about UTF-16 code units and the UTF-8 form of a code point, for the
// line builder (which never splits a surrogate pair), the output sink that
// writes UTF-8 and the document layer's conversions.
#ifndef QUARVEL_BASE_UTF16_H_
#define QUARVEL_BASE_UTF16_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quarvel {

// The first and the second half of a surrogate pair.
constexpr bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
constexpr bool isSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }
// A code point that no UTF may encode: one of the surrogates' range.
constexpr bool isSurrogateCodePoint(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// The code point of a surrogate pair, and the pair of a code point above
// U+FFFF.
constexpr char32_t combineSurrogates(char16_t high, char16_t low) {
  return 0x10000 + ((char32_t{high} - 0xD800) << 10) + (char32_t{low} - 0xDC00);
}
constexpr char16_t highSurrogateOf(char32_t cp) {
  return static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
}
constexpr char16_t lowSurrogateOf(char32_t cp) {
  return static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
}

// How many of the first `units` code units of `text` to keep so that no
// surrogate pair is cut in two: `units`, or one fewer when the last one kept
// would be a pair's first half.
constexpr std::size_t keptUnits(std::u16string_view text, std::size_t units) {
  if (units >= text.size()) return text.size();
  return units > 0 && isHighSurrogate(text[units - 1]) ? units - 1 : units;
}

// Writes code point `cp` (at most U+10FFFF; a surrogate is encoded like any
// other code point) as UTF-8 into `out`, which has room for 4 bytes, and
// returns the number of bytes written (1 to 4).
inline int encodeUtf8(char32_t cp, uint8_t* out) {
  if (cp < 0x80) {
    out[0] = static_cast<uint8_t>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<uint8_t>(0xC0 | (cp >> 6));
    out[1] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<uint8_t>(0xE0 | (cp >> 12));
    out[1] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<uint8_t>(0xF0 | (cp >> 18));
  out[1] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
  return 4;
}

}  // namespace quarvel

#endif  // QUARVEL_BASE_UTF16_H_
