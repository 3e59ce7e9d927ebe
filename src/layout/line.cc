#include "layout/line.h"

namespace quarvel {

int32_t Line::lineWidth() const {
  int32_t width = 0;
  forEachGlyph(*this, [&](const Glyph& g) { width += displayWidth(g.ch); });
  return width;
}

Glyph* Line::lastGlyph() const { return static_cast<Glyph*>(glyphs.last()); }

void Line::dropLastGlyph() { delete lastGlyph(); }

bool Line::hasUnderline() const {
  for (ListNode* node = glyphs.first(); !node->isEnd(); node = node->next)
    if (static_cast<Glyph*>(node)->underline != NoUnderline) return true;
  return false;
}

}  // namespace quarvel
