// The two Japanese line-breaking classes. A kNoLineStart character may hang
// into the right margin rather than begin a line; a kNoLineEnd character is
// carried to the next line rather than end one.
#ifndef QUARVEL_LAYOUT_LINE_BREAKING_H_
#define QUARVEL_LAYOUT_LINE_BREAKING_H_

namespace quarvel {

// Zero-terminated tables of whole UTF-16 code units (no folding).
extern const char16_t kNoLineStart[52];
extern const char16_t kNoLineEnd[22];

bool isNoLineStart(char16_t c);
bool isNoLineEnd(char16_t c);

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_LINE_BREAKING_H_
