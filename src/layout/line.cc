#include "layout/line.h"

namespace quarvel {

void GlyphList::moveTailTo(Glyph* from, int32_t fromWidth, GlyphList& target) {
  Trailing& t = trailing_;
  assert(t.runFirst != nullptr && fromWidth > 0 && fromWidth <= t.runWidth);
  int32_t fromCount = t.runCount;
  for (const ListNode* node = t.runFirst; node != from; node = node->next) --fromCount;
  // The moving glyphs are all run; of the trailing word they hold all or its
  // end, and a glyph before the word's first closes it there as here.
  Trailing moved;
  moved.runFirst = from;
  moved.runCount = fromCount;
  moved.runWidth = fromWidth;
  Trailing movedBeforeWord;
  if (t.wordCount >= fromCount) {
    moved.wordFirst = from;
    moved.wordCount = fromCount;
    moved.wordWidth = fromWidth;
  } else if (t.wordCount > 0) {
    moved.wordFirst = t.wordFirst;
    moved.wordCount = t.wordCount;
    moved.wordWidth = t.wordWidth;
    movedBeforeWord.runFirst = from;
    movedBeforeWord.runCount = fromCount - t.wordCount;
    movedBeforeWord.runWidth = fromWidth - t.wordWidth;
  }
  const bool wholeRun = from == t.runFirst;
  const bool targetWasEmpty = target.empty();
  moveTailToFront(from, target);
  count_ -= fromCount;
  width_ -= fromWidth;
  if (t.wordCount > fromCount) {
    t.wordCount -= fromCount;
    t.wordWidth -= fromWidth;
  } else {
    t.wordFirst = nullptr;
    t.wordCount = 0;
    t.wordWidth = 0;
  }
  if (!wholeRun) {
    // What stays of the run still starts where it did.
    t.runCount -= fromCount;
    t.runWidth -= fromWidth;
  } else {
    t.runFirst = nullptr;
    t.runCount = 0;
    t.runWidth = 0;
    if (t.wordCount == 0) findTrailingSpaces();
  }
  if (targetWasEmpty) {
    target.count_ = fromCount;
    target.width_ = fromWidth;
    target.trailing_ = moved;
    if (target.marks_ != nullptr) {
      target.marks_->beforeWord = movedBeforeWord;
      target.marks_->beforeWordKnown = true;
    } else {
      target.trailing_.wordFirst = nullptr;
      target.trailing_.wordCount = 0;
      target.trailing_.wordWidth = 0;
    }
  } else {
    target.recount();
  }
  assertTrailingBounds();
  target.assertTrailingBounds();
}

void GlyphList::closeWordAfterRun(int32_t runCount) {
  if (runCount == 0) return;
  Trailing& t = trailing_;
  t.wordFirst = nullptr;
  t.wordCount = 0;
  t.wordWidth = 0;
  // Spaces that began within the run follow glyphs of the run, which no
  // word takes either; spaces that began before it keep the word before
  // them.
  if (t.spaces > 0 && t.spaces < runCount) {
    marks_->beforeSpaces.wordFirst = nullptr;
    marks_->beforeSpaces.wordCount = 0;
    marks_->beforeSpaces.wordWidth = 0;
  }
  assertTrailingBounds();
}

void GlyphList::takeTrailingWord(TakenWord& word) {
  const Trailing& t = trailing_;
  assert(t.wordCount > 0 && word.glyphs.empty());
  markWordStart();
  Trailing taken;
  taken.wordFirst = t.wordFirst;
  taken.wordCount = t.wordCount;
  taken.wordWidth = t.wordWidth;
  if (t.runCount >= t.wordCount) {
    taken.runFirst = t.wordFirst;
    taken.runCount = t.wordCount;
    taken.runWidth = t.wordWidth;
  } else {
    taken.runFirst = t.runFirst;
    taken.runCount = t.runCount;
    taken.runWidth = t.runWidth;
  }
  moveTailToFront(t.wordFirst, word.glyphs);
  word.trailing = taken;
  count_ -= t.wordCount;
  width_ -= t.wordWidth;
  trailing_ = marks_->beforeWord;
  assertTrailingBounds();
}

void GlyphList::appendWord(TakenWord& word) {
  const Trailing& w = word.trailing;
  assert(marks_ != nullptr && w.wordCount > 0 && !word.glyphs.empty());
  const Trailing before = trailing_;
  Trailing& t = trailing_;
  if (w.runCount == w.wordCount && before.runCount > 0) {
    t.runCount += w.runCount;
    t.runWidth += w.runWidth;
  } else {
    t.runFirst = w.runFirst;
    t.runCount = w.runCount;
    t.runWidth = w.runWidth;
  }
  if (before.wordCount > 0) {
    t.wordCount += w.wordCount;
    t.wordWidth += w.wordWidth;
  } else {
    marks_->beforeWord = before;
    marks_->beforeWordKnown = true;
    t.wordFirst = w.wordFirst;
    t.wordCount = w.wordCount;
    t.wordWidth = w.wordWidth;
  }
  t.spaces = 0;
  count_ += w.wordCount;
  width_ += w.wordWidth;
  word.glyphs.moveAllToBack(*this);
  word.trailing = Trailing{};
  assertTrailingBounds();
}

void GlyphList::dropTrailingSpaces() {
  const int32_t spaces = trailing_.spaces;
  if (spaces == 0) return;
  for (int32_t i = 0; i < spaces; ++i) delete static_cast<Glyph*>(tail.prev);
  count_ -= spaces;
  width_ -= spaces;
  trailing_ = marks_->beforeSpaces;
  if (trailing_.wordCount > 0) marks_->beforeWordKnown = false;
  assertTrailingBounds();
}

void GlyphList::markWordStart() {
  assert(trailing_.wordCount > 0);
  if (marks_->beforeWordKnown) return;
  // Only a trimmed line, which has ended, lacks the mark: the builder never
  // asks this of it, so the walk (over the spaces and run before the word,
  // not the word) costs a run nothing.
  Trailing before;
  walkBackSpacesAndRun(trailing_.wordFirst->prev, &before.spaces, before);
  marks_->beforeWord = before;
  marks_->beforeWordKnown = true;
}

void GlyphList::recount() {
  count_ = 0;
  width_ = 0;
  trailing_ = Trailing{};
  for (ListNode* node = first(); node != &tail; node = node->next)
    countAppended(*static_cast<Glyph*>(node), static_cast<Glyph*>(node)->classes, count_, width_,
                  trailing_, marks_);
  // The glyphs do not tell where unbreakable runs ended.
  trailing_.wordFirst = nullptr;
  trailing_.wordCount = 0;
  trailing_.wordWidth = 0;
  if (marks_ != nullptr) {
    marks_->beforeSpaces.wordFirst = nullptr;
    marks_->beforeSpaces.wordCount = 0;
    marks_->beforeSpaces.wordWidth = 0;
  }
}

void GlyphList::findTrailingSpaces() {
  Trailing& t = trailing_;
  assert(t.wordCount == 0);
  t.spaces = 0;
  // Lists of char mode keep no spaces: their run ends the list.
  walkBackSpacesAndRun(tail.prev, marks_ != nullptr ? &t.spaces : nullptr, t);
}

void GlyphList::walkBackSpacesAndRun(ListNode* node, int32_t* spaces, Trailing& into) {
  if (spaces != nullptr) {
    for (; node != &head && static_cast<Glyph*>(node)->ch == u' '; node = node->prev) ++*spaces;
  }
  Trailing run;
  for (; node != &head && (static_cast<Glyph*>(node)->classes & kUnitNoLineEnd) != 0;
       node = node->prev) {
    run.runFirst = static_cast<Glyph*>(node);
    ++run.runCount;
    run.runWidth += run.runFirst->width();
  }
  if (spaces != nullptr && *spaces > 0) {
    marks_->beforeSpaces = run;
  } else {
    into.runFirst = run.runFirst;
    into.runCount = run.runCount;
    into.runWidth = run.runWidth;
  }
}

bool GlyphList::sumsHold() const {
  // The width and Trailing of the first `n` glyphs, appended one by one.
  auto replay = [this](int32_t n, int32_t& width) {
    int32_t count = 0;
    width = 0;
    Trailing trailing;
    Marks marks;
    for (ListNode* node = first(); count < n && node != &tail; node = node->next)
      countAppended(*static_cast<Glyph*>(node), static_cast<Glyph*>(node)->classes, count, width,
                    trailing, marks_ != nullptr ? &marks : nullptr);
    return trailing;
  };
  auto glyphAt = [this](int32_t index) {
    const ListNode* node = first();
    for (; index > 0; --index) node = node->next;
    return node;
  };
  // Whether `t` tells what ends the first `n` glyphs: the run and the spaces
  // as appending gives them, and a word that is the end of that word.
  auto tellsEnd = [&](const Trailing& t, int32_t n) {
    int32_t width = 0;
    const Trailing r = replay(n, width);
    if (t.runFirst != r.runFirst || t.runCount != r.runCount || t.runWidth != r.runWidth ||
        t.spaces != r.spaces || t.wordCount > r.wordCount)
      return false;
    if (t.wordCount == 0) return t.wordFirst == nullptr && t.wordWidth == 0;
    int32_t widthBefore = 0;
    replay(n - t.wordCount, widthBefore);
    return t.wordFirst == glyphAt(n - t.wordCount) && t.wordWidth == width - widthBefore;
  };
  int32_t count = 0;
  for (const ListNode* node = first(); node != &tail; node = node->next) ++count;
  int32_t width = 0;
  replay(count, width);
  if (count != count_ || width != width_ || !tellsEnd(trailing_, count_)) return false;
  if (marks_ == nullptr) return true;
  const Trailing& t = trailing_;
  const Marks& m = *marks_;
  const bool wordMarked = t.wordCount > 0 && m.beforeWordKnown;
  if (wordMarked && (m.beforeWord.wordCount != 0 || !tellsEnd(m.beforeWord, count_ - t.wordCount)))
    return false;
  const int32_t spacesFrom = t.spaces > 0 ? count_ - t.spaces
                             : wordMarked && m.beforeWord.spaces > 0
                                 ? count_ - t.wordCount - m.beforeWord.spaces
                                 : -1;
  return spacesFrom < 0 || (m.beforeSpaces.spaces == 0 && tellsEnd(m.beforeSpaces, spacesFrom));
}

Glyph* Line::lastGlyph() const { return static_cast<Glyph*>(glyphs.last()); }

}  // namespace quarvel
