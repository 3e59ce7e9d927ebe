// How many columns text takes, and where its characters begin. Under fixed
// widths every code unit has a width of its own (displayWidth); under unicode
// widths each character is measured by its Unicode width and the code units
// of one grapheme cluster are placed together.
#ifndef QUARVEL_LAYOUT_TEXT_MEASURE_H_
#define QUARVEL_LAYOUT_TEXT_MEASURE_H_

#include <cstdint>

namespace quarvel {

// Columns of the character `c` (a code point up to U+10FFFF) under unicode
// widths: 1 for the controls below U+0020 and U+007F, otherwise its Unicode
// width: 0 for marks and format characters, 2 for East Asian wide and
// fullwidth ones, 1 for the rest (ambiguous ones included).
int32_t unicodeWidth(char32_t c);

// Finds the boundaries of extended grapheme clusters in a sequence of
// characters fed one by one.
class ClusterBoundaries {
 public:
  // Whether a cluster begins at `c`, which follows the characters fed so
  // far; the first character after construction or reset() always begins one.
  bool beginsCluster(char32_t c);
  // Forgets the characters fed so far.
  void reset() {
    previous_ = kNone;
    state_ = 0;
  }

 private:
  static constexpr char32_t kNone = 0xFFFFFFFF;
  char32_t previous_ = kNone;
  int32_t state_ = 0;
};

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_TEXT_MEASURE_H_
