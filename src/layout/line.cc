#include "layout/line.h"

namespace quarvel {

Glyph* Line::lastGlyph() const { return static_cast<Glyph*>(glyphs.last()); }

void Line::dropLastGlyph() {
  Glyph* last = lastGlyph();
  if (last == nullptr) return;
  glyphs.width_ -= displayWidth(last->ch);
  delete last;
}

bool Line::hasUnderline() const {
  for (ListNode* node = glyphs.first(); node != &glyphs.tail; node = node->next)
    if (static_cast<Glyph*>(node)->underline != NoUnderline) return true;
  return false;
}

}  // namespace quarvel
