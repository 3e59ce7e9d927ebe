// How many columns text takes, and where its characters begin. Under fixed
// widths every code unit has a width of its own (displayWidth); under unicode
// widths each character is measured by its Unicode width and the code units
// of one grapheme cluster are placed together. The answers are libutf8proc's;
// those for the Basic Multilingual Plane are kept once asked for.
#ifndef QUARVEL_LAYOUT_TEXT_MEASURE_H_
#define QUARVEL_LAYOUT_TEXT_MEASURE_H_

#include <cstdint>

namespace quarvel {

// What the line builder asks of a character under unicode widths, in one
// byte: its columns, and whether it is plain: of no grapheme cluster break
// property (neither a mark, a joiner, a control, Hangul, a regional
// indicator nor an emoji), so that a cluster boundary lies between any two
// plain characters.
enum : std::uint8_t {
  kFactsWidth = 3,  // a mask: the columns, 0 to 2
  kFactsPlain = 4,
  kFactsKnown = 8,
};

namespace text_measure_detail {
extern std::uint8_t bmpFacts[0x10000];
std::uint8_t measure(char32_t c);
}  // namespace text_measure_detail

// The facts of the character `c` (a code point up to U+10FFFF). Its columns
// are 1 for the controls below U+0020 and U+007F, otherwise its Unicode
// width: 0 for marks and format characters, 2 for East Asian wide and
// fullwidth ones, 1 for the rest (ambiguous ones included).
inline std::uint8_t charFacts(char32_t c) {
  if (c <= 0xFFFF) {
    const std::uint8_t facts = text_measure_detail::bmpFacts[c];
    if (facts != 0) return facts;
  }
  return text_measure_detail::measure(c);
}
inline int32_t unicodeWidth(char32_t c) { return charFacts(c) & kFactsWidth; }

// Finds the boundaries of extended grapheme clusters in a sequence of
// characters fed one by one.
class ClusterBoundaries {
 public:
  // Whether a cluster begins at `c`, whose facts are `facts`, after the
  // characters fed so far; the first character after construction or
  // reset() always begins one.
  bool beginsCluster(char32_t c, std::uint8_t facts) {
    if ((facts & previousFacts_ & kFactsPlain) != 0) {
      previous_ = c;
      state_ = 0;  // what follows depends on nothing before `c`
      return true;
    }
    return beginsClusterSlowly(c, facts);
  }
  // Forgets the characters fed so far.
  void reset() {
    previous_ = kNone;
    previousFacts_ = 0;
    state_ = 0;
  }

 private:
  bool beginsClusterSlowly(char32_t c, std::uint8_t facts);

  static constexpr char32_t kNone = 0xFFFFFFFF;
  char32_t previous_ = kNone;
  std::uint8_t previousFacts_ = 0;
  int32_t state_ = 0;
};

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_TEXT_MEASURE_H_
