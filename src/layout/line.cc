#include "layout/line.h"

namespace quarvel {

void GlyphList::moveTailTo(Glyph* from, int32_t fromWidth, GlyphList& target) {
  assert(runFirst_ != nullptr && fromWidth > 0 && fromWidth <= runWidth_);
  const bool targetAllRun = target.empty() || target.runFirst_ == target.first();
  int32_t fromCount = runCount_;
  for (const ListNode* node = runFirst_; node != from; node = node->next) --fromCount;
  moveTailToFront(from, target);
  count_ -= fromCount;
  target.count_ += fromCount;
  width_ -= fromWidth;
  target.width_ += fromWidth;
  // What stays of the run still starts where it did, unless all of it left.
  if (from == runFirst_) {
    runFirst_ = nullptr;
    runCount_ = 0;
    runWidth_ = 0;
  } else {
    runCount_ -= fromCount;
    runWidth_ -= fromWidth;
  }
  if (targetAllRun) {
    target.runFirst_ = from;
    target.runCount_ += fromCount;
    target.runWidth_ += fromWidth;
  }
  assertRunBounds();
  target.assertRunBounds();
}

bool GlyphList::sumsHold() const {
  int32_t count = 0;
  int32_t width = 0;
  const Glyph* runFirst = nullptr;
  int32_t runCount = 0;
  int32_t runWidth = 0;
  for (const ListNode* node = first(); node != &tail; node = node->next) {
    const Glyph* glyph = static_cast<const Glyph*>(node);
    ++count;
    width += displayWidth(glyph->ch);
    if (!isNoLineEnd(glyph->ch)) {
      runFirst = nullptr;
      runCount = 0;
      runWidth = 0;
    } else {
      if (runFirst == nullptr) runFirst = glyph;
      ++runCount;
      runWidth += displayWidth(glyph->ch);
    }
  }
  return count == count_ && width == width_ && runFirst == runFirst_ && runCount == runCount_ &&
         runWidth == runWidth_;
}

Glyph* Line::lastGlyph() const { return static_cast<Glyph*>(glyphs.last()); }

void Line::dropLastGlyph() {
  Glyph* last = lastGlyph();
  if (last == nullptr) return;
  const int32_t w = unitWidth(last->ch);
  --glyphs.count_;
  glyphs.width_ -= w;
  if (glyphs.runFirst_ != nullptr) {
    --glyphs.runCount_;
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
      ++glyphs.runCount_;
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
