#include "layout/text_measure.h"

#include <utf8proc.h>

namespace quarvel {

int32_t unicodeWidth(char32_t c) {
  // ASCII is all 1 wide, its controls included.
  if (c <= 0x7F) return 1;
  return utf8proc_charwidth(static_cast<utf8proc_int32_t>(c));
}

bool ClusterBoundaries::beginsCluster(char32_t c) {
  const char32_t previous = previous_;
  previous_ = c;
  if (previous == kNone) {
    state_ = 0;
    return true;
  }
  return utf8proc_grapheme_break_stateful(static_cast<utf8proc_int32_t>(previous),
                                          static_cast<utf8proc_int32_t>(c), &state_);
}

}  // namespace quarvel
