// A line of output: its glyphs, left to right, and its own copy of the style
// it was begun under, by which it is printed.
#ifndef QUARVEL_LAYOUT_LINE_H_
#define QUARVEL_LAYOUT_LINE_H_

#include <cstdint>

#include "layout/glyph.h"
#include "layout/line_style.h"
#include "layout/list_node.h"

namespace quarvel {

class Line final : public ListNode {
 public:
  // Copies `style`; later changes to the caller's style do not reach the line.
  explicit Line(const LineStyle& style) : style(style) {}

  // Sum of displayWidth over the glyphs; 0 for a line without glyphs.
  int32_t lineWidth() const;
  // The last glyph, or nullptr when the line has none.
  Glyph* lastGlyph() const;
  // Deletes the last glyph, if there is one.
  void dropLastGlyph();
  // True when some glyph's underline is not NoUnderline.
  bool hasUnderline() const;

  NodeList glyphs;
  LineStyle style;
};

// Iterates over the glyphs of a line, first to last.
template <typename Fn>
void forEachGlyph(const Line& line, Fn&& fn) {
  for (ListNode* node = line.glyphs.first(); !node->isEnd(); node = node->next)
    fn(*static_cast<Glyph*>(node));
}

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_LINE_H_
