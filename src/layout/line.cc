#include "layout/line.h"

namespace quarvel {

void GlyphList::moveTailTo(Glyph* from, int32_t fromWidth, GlyphList& target) {
  assert(runFirst_ != nullptr && fromWidth > 0 && fromWidth <= runWidth_);
  const bool targetAllRun = target.empty() || target.runFirst_ == target.first();
  moveTailToFront(from, target);
  width_ -= fromWidth;
  target.width_ += fromWidth;
  // What stays of the run still starts where it did, unless all of it left.
  if (from == runFirst_) {
    runFirst_ = nullptr;
    runWidth_ = 0;
  } else {
    runWidth_ -= fromWidth;
  }
  if (targetAllRun) {
    target.runFirst_ = from;
    target.runWidth_ += fromWidth;
  }
  assertRunBounds();
  target.assertRunBounds();
}

bool GlyphList::sumsHold() const {
  int32_t width = 0;
  const Glyph* runFirst = nullptr;
  int32_t runWidth = 0;
  for (const ListNode* node = first(); node != &tail; node = node->next) {
    const Glyph* glyph = static_cast<const Glyph*>(node);
    width += displayWidth(glyph->ch);
    if (!isNoLineEnd(glyph->ch)) {
      runFirst = nullptr;
      runWidth = 0;
    } else {
      if (runFirst == nullptr) runFirst = glyph;
      runWidth += displayWidth(glyph->ch);
    }
  }
  return width == width_ && runFirst == runFirst_ && runWidth == runWidth_;
}

Glyph* Line::lastGlyph() const { return static_cast<Glyph*>(glyphs.last()); }

void Line::dropLastGlyph() {
  Glyph* last = lastGlyph();
  if (last == nullptr) return;
  const int32_t w = unitWidth(last->ch);
  glyphs.width_ -= w;
  if (glyphs.runFirst_ != nullptr) {
    glyphs.runWidth_ -= w;
    if (last == glyphs.runFirst_) glyphs.runFirst_ = nullptr;
    delete last;
  } else {
    delete last;
    // The glyphs before it may end in a run that its arrival had closed.
    for (ListNode* node = glyphs.last(); node != nullptr && node != &glyphs.head;
         node = node->prev) {
      Glyph* glyph = static_cast<Glyph*>(node);
      if (!isNoLineEnd(glyph->ch)) break;
      glyphs.runFirst_ = glyph;
      glyphs.runWidth_ += unitWidth(glyph->ch);
    }
  }
  glyphs.assertRunBounds();
}

bool Line::hasUnderline() const {
  for (ListNode* node = glyphs.first(); node != &glyphs.tail; node = node->next)
    if (static_cast<Glyph*>(node)->underline != NoUnderline) return true;
  return false;
}

}  // namespace quarvel
