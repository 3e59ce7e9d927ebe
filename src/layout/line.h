// A line of output: its glyphs, left to right, and its own copy of the style
// it was begun under, by which it is printed.
#ifndef QUARVEL_LAYOUT_LINE_H_
#define QUARVEL_LAYOUT_LINE_H_

#include <cstdint>

#include "layout/glyph.h"
#include "layout/line_style.h"
#include "layout/list_node.h"

namespace quarvel {

// The glyphs of a line, with their total width kept as they come and go.
// Glyphs join only through append and insertFront and leave only through
// Line::dropLastGlyph or with the line, so the width never has to be summed.
class GlyphList final : public NodeList {
 public:
  GlyphList() = default;
  // First to last, like every NodeList, without asking each node its kind.
  ~GlyphList() {
    while (head.next != &tail) delete static_cast<Glyph*>(head.next);
  }
  GlyphList(const GlyphList&) = delete;
  GlyphList& operator=(const GlyphList&) = delete;

  void append(Glyph* glyph) {
    NodeList::append(glyph);
    width_ += displayWidth(glyph->ch);
  }
  void insertFront(Glyph* glyph) {
    NodeList::insertFront(glyph);
    width_ += displayWidth(glyph->ch);
  }
  // Sum of displayWidth over the glyphs.
  int32_t width() const { return width_; }

 private:
  friend class Line;
  int32_t width_ = 0;
};

class Line final : public ListNode {
 public:
  // Copies `style`; later changes to the caller's style do not reach the line.
  explicit Line(const LineStyle& style) : style(style) {}

  // Sum of displayWidth over the glyphs; 0 for a line without glyphs.
  int32_t lineWidth() const { return glyphs.width(); }
  // The last glyph, or nullptr when the line has none.
  Glyph* lastGlyph() const;
  // Deletes the last glyph, if there is one.
  void dropLastGlyph();
  // True when some glyph's underline is not NoUnderline.
  bool hasUnderline() const;

  GlyphList glyphs;
  LineStyle style;
};

// Iterates over the glyphs of a line, first to last.
template <typename Fn>
void forEachGlyph(const Line& line, Fn&& fn) {
  for (ListNode* node = line.glyphs.first(); node != &line.glyphs.tail; node = node->next)
    fn(*static_cast<Glyph*>(node));
}

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_LINE_H_
