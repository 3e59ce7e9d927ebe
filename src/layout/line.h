// A line of output: its glyphs, left to right, and its own copy of the style
// it was begun under, by which it is printed.
#ifndef QUARVEL_LAYOUT_LINE_H_
#define QUARVEL_LAYOUT_LINE_H_

#include <cassert>
#include <cstdint>

#include "layout/glyph.h"
#include "layout/line_breaking.h"
#include "layout/line_style.h"
#include "layout/list_node.h"

namespace quarvel {

// The glyphs of a line, with two sums kept as they come and go: their total
// width, and where the trailing run of kNoLineEnd glyphs (the glyphs that
// carrying may move to the next line) starts and how wide it is.
// Glyphs join only through append, insertFront and moveTailTo and leave only
// through Line::dropLastGlyph, moveTailTo or with the line, so neither sum
// ever has to be found by walking the list.
class GlyphList final : public NodeList {
 public:
  GlyphList() = default;
  // First to last, like every NodeList. The glyphs all go together, so
  // none is unlinked from neighbours that go too: each slot goes straight
  // back to the glyph pool (a Glyph holds nothing else to release).
  ~GlyphList() {
    // The glyph pool chains free slots through the links the glyphs
    // already have, so the whole list goes back at once, untouched.
    if (!empty()) Glyph::pool.giveChain(first(), last(), static_cast<std::size_t>(count_));
    head.next = &tail;
    tail.prev = &head;
  }
  GlyphList(const GlyphList&) = delete;
  GlyphList& operator=(const GlyphList&) = delete;

  void append(Glyph* glyph) {
    NodeList::append(glyph);
    countAppended(*glyph, count_, width_, runFirst_, runCount_, runWidth_);
    assertRunBounds();
  }
  void insertFront(Glyph* glyph) {
    // The run grows at the front only while it is the whole list.
    const bool allRun = runFirst_ != nullptr && runFirst_ == first();
    const bool wasEmpty = empty();
    NodeList::insertFront(glyph);
    ++count_;
    width_ += unitWidth(glyph->ch);
    if (isNoLineEnd(glyph->ch) && (wasEmpty || allRun)) {
      runFirst_ = glyph;
      ++runCount_;
      runWidth_ += unitWidth(glyph->ch);
    }
    assertRunBounds();
  }
  // Moves the glyphs from `from` to the last one, in their order, to the
  // front of `target` (another list), in time proportional to the glyphs of
  // the run before `from` (none or a few when a line is broken), not to
  // those that move. `from` must be an element of the trailing kNoLineEnd
  // run and `fromWidth` the width of the glyphs from it to the end.
  void moveTailTo(Glyph* from, int32_t fromWidth, GlyphList& target);

  // Appends glyphs one after another with the list's links and sums kept in
  // registers; they reach the list when the appender is destroyed, also
  // when an exception passes. Nothing else may touch the list meanwhile.
  class Appender {
   public:
    explicit Appender(GlyphList& list)
        : list_(list),
          last_(list.tail.prev),
          count_(list.count_),
          width_(list.width_),
          runFirst_(list.runFirst_),
          runCount_(list.runCount_),
          runWidth_(list.runWidth_) {}
    ~Appender() {
      last_->next = &list_.tail;
      list_.tail.prev = last_;
      list_.count_ = count_;
      list_.width_ = width_;
      list_.runFirst_ = runFirst_;
      list_.runCount_ = runCount_;
      list_.runWidth_ = runWidth_;
      list_.assertRunBounds();
    }
    Appender(const Appender&) = delete;
    Appender& operator=(const Appender&) = delete;

    // `glyph` is in no list.
    void add(Glyph* glyph) {
      assert(glyph->prev == nullptr && glyph->next == nullptr);
      last_->next = glyph;
      glyph->prev = last_;
      last_ = glyph;
      countAppended(*glyph, count_, width_, runFirst_, runCount_, runWidth_);
    }
    // The list's width with the glyphs added so far.
    int32_t width() const { return width_; }

   private:
    GlyphList& list_;
    ListNode* last_;
    int32_t count_;
    int32_t width_;
    Glyph* runFirst_;
    int32_t runCount_;
    int32_t runWidth_;
  };

  // Sum of displayWidth over the glyphs.
  int32_t width() const { return width_; }
  // The first glyph of the longest run of kNoLineEnd glyphs that ends the
  // list, or nullptr when the last glyph is not one (or there is none).
  Glyph* trailingRunFirst() const { return runFirst_; }
  // Sum of displayWidth over that run; 0 when there is none.
  int32_t trailingRunWidth() const { return runWidth_; }
  // The number of glyphs.
  int32_t count() const { return count_; }
  // Whether the sums and counts agree with the glyphs, found by walking them all; for
  // tests and debugging.
  bool sumsHold() const;

 private:
  friend class Line;
  // Adds a glyph just appended to the sums: its width, and the trailing run,
  // which it extends or ends.
  static void countAppended(Glyph& glyph, int32_t& count, int32_t& width, Glyph*& runFirst,
                            int32_t& runCount, int32_t& runWidth) {
    const std::uint8_t unit = kUnitClasses[glyph.ch];
    const int32_t w = 1 + (unit & kUnitWide);
    ++count;
    width += w;
    if ((unit & kUnitNoLineEnd) == 0) {
      runFirst = nullptr;
      runCount = 0;
      runWidth = 0;
    } else {
      if (runFirst == nullptr) runFirst = &glyph;
      ++runCount;
      runWidth += w;
    }
  }
  // What can be checked without walking the list.
  void assertRunBounds() const {
    assert(runWidth_ >= 0 && runWidth_ <= width_ && runCount_ >= 0 && runCount_ <= count_);
    assert((runFirst_ == nullptr) == (runWidth_ == 0) && (runWidth_ == 0) == (runCount_ == 0));
    assert((count_ == 0) == empty());
    assert(runFirst_ == nullptr || isNoLineEnd(runFirst_->ch));
    assert((runFirst_ != nullptr) == (!empty() && isNoLineEnd(static_cast<Glyph*>(last())->ch)));
  }

  int32_t count_ = 0;
  int32_t width_ = 0;
  Glyph* runFirst_ = nullptr;
  int32_t runCount_ = 0;
  int32_t runWidth_ = 0;
};

class Line final : public ListNode {
 public:
  // Copies `style`; later changes to the caller's style do not reach the line.
  explicit Line(const LineStyle& style) : style(style) {}

  // Sum of displayWidth over the glyphs; 0 for a line without glyphs.
  int32_t lineWidth() const { return glyphs.width(); }
  // The last glyph, or nullptr when the line has none.
  Glyph* lastGlyph() const;
  // Deletes the last glyph, if there is one. When that glyph is no kNoLineEnd
  // glyph, the run that it ended is found by walking back over it.
  void dropLastGlyph();
  // True when some glyph's underline is not NoUnderline.
  bool hasUnderline() const;

  // Lines come from a pool of their own, like glyphs.
  static void* operator new([[maybe_unused]] std::size_t size, const std::nothrow_t&) noexcept {
    assert(size <= pool.slotSize());
    return pool.take();
  }
  static void operator delete(void* memory, std::size_t) noexcept { pool.give(memory); }
  static RecordPool pool;

  GlyphList glyphs;
  LineStyle style;
};

inline RecordPool Line::pool{poolSlotSize(sizeof(Line))};

// Iterates over the glyphs of a line, first to last.
template <typename Fn>
void forEachGlyph(const Line& line, Fn&& fn) {
  for (ListNode* node = line.glyphs.first(); node != &line.glyphs.tail; node = node->next)
    fn(*static_cast<Glyph*>(node));
}

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_LINE_H_
