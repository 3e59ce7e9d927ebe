#include "layout/text_measure.h"

#include <utf8proc.h>

namespace quarvel {

namespace text_measure_detail {

std::uint8_t bmpFacts[0x10000];

std::uint8_t measure(char32_t c) {
  const auto code = static_cast<utf8proc_int32_t>(c);
  const utf8proc_property_t* property = utf8proc_get_property(code);
  // ASCII is all 1 wide, its controls included.
  const int width = c <= 0x7F ? 1 : utf8proc_charwidth(code);
  auto facts = static_cast<std::uint8_t>(kFactsKnown | (width & kFactsWidth));
  if (property->boundclass == UTF8PROC_BOUNDCLASS_OTHER) facts |= kFactsPlain;
  if (c <= 0xFFFF) bmpFacts[c] = facts;
  return facts;
}

}  // namespace text_measure_detail

bool ClusterBoundaries::beginsClusterSlowly(char32_t c, std::uint8_t facts) {
  const char32_t previous = previous_;
  previous_ = c;
  previousFacts_ = facts;
  if (previous == kNone) {
    state_ = 0;
    return true;
  }
  return utf8proc_grapheme_break_stateful(static_cast<utf8proc_int32_t>(previous),
                                          static_cast<utf8proc_int32_t>(c), &state_);
}

}  // namespace quarvel
