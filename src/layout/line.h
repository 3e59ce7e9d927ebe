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

// The glyphs of a line, with sums kept as they come and go: their count and
// total width, and what ends the list (Trailing): the run of kNoLineEnd
// glyphs that carrying may move, the word that word mode may move to the
// next line, and the spaces that word mode drops at a line's end. Each of
// these is found in constant time, never by walking the whole list:
// - glyphs that join at the end (append, Appender, appendWord) update the
//   sums; where a word or a run of spaces begins, the list keeps a mark,
//   a copy of the Trailing before it, so that the word (takeTrailingWord)
//   and the spaces (dropTrailingSpaces) leave again in constant time;
// - moveTailTo takes glyphs from the end of the trailing run, as carrying
//   does when a line has ended.
// Whether a glyph came from an unbreakable run is not in the glyph: the
// list learns it from closeWordAfterRun, and a trailing word never reaches
// into such a run. A word may therefore be shorter than the word units that
// end the list, never longer. Only lists of word mode (keepWords) keep
// words, spaces and marks, the marks in a record of their own; the others
// keep the run alone, which costs char mode next to nothing.
class GlyphList final : public NodeList {
 public:
  // What ends the list, read from the end back.
  struct Trailing {
    // The longest run of kNoLineEnd glyphs that ends the list: its first
    // glyph (nullptr for none), count and width.
    Glyph* runFirst = nullptr;
    int32_t runCount = 0;
    int32_t runWidth = 0;
    // The trailing word: the word units (isWordUnit) after the last glyph
    // that is none and after the end of the last unbreakable run; nullptr
    // and 0 when there is none.
    Glyph* wordFirst = nullptr;
    int32_t wordCount = 0;
    int32_t wordWidth = 0;
    // The U+0020 glyphs that end the list.
    int32_t spaces = 0;
  };

  // Where a list of word mode keeps its marks: the Trailing just before the
  // first of the spaces that end the list, or that end it before the
  // trailing word (its spaces are 0), and the Trailing just before the first
  // glyph of the trailing word (its word is empty). Trimming spaces uncovers
  // a word whose mark a later word took; that mark is found again, by
  // walking back from the word, only if it is asked for (never on a line
  // the builder is filling).
  struct Marks {
    Trailing beforeSpaces;
    Trailing beforeWord;
    bool beforeWordKnown = true;
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
      return allocateRecord(size);
    }
    static void operator delete(void* memory, std::size_t size) noexcept {
      releaseRecord(memory, size);
    }
  };
  // A word taken from the end of a list (takeTrailingWord): its glyphs, which
  // it owns, and what ends them (the word is all of them).
  struct TakenWord {
    NodeList glyphs;
    Trailing trailing;
  };

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
    delete marks_;
  }
  GlyphList(const GlyphList&) = delete;
  GlyphList& operator=(const GlyphList&) = delete;

  // From now on the list keeps its trailing word and spaces, with their
  // marks in `marks`, which it owns. The list must be empty and keep no
  // marks yet.
  void keepWords(Marks* marks) {
    assert(empty() && marks_ == nullptr && marks != nullptr);
    marks_ = marks;
  }

  void append(Glyph* glyph) {
    NodeList::append(glyph);
    countAppended(*glyph, glyph->classes, count_, width_, trailing_, marks_);
    assertTrailingBounds();
  }
  // Moves the glyphs from `from` to the last one, in their order, to the
  // front of `target` (another list), in time proportional to the glyphs of
  // the run before `from` (none or a few when a line is broken), not to
  // those that move, plus the glyphs already in `target` (none when it is a
  // new line, as when a line is broken; otherwise proportional to them too). `from`
  // must be an element of the trailing kNoLineEnd run and `fromWidth` the
  // width of the glyphs from it to the end. The list keeps its trailing
  // word only where part of it stays; spaces that moving uncovers are
  // found by walking back over them and the run before them.
  void moveTailTo(Glyph* from, int32_t fromWidth, GlyphList& target);
  // The last `runCount` glyphs were just placed as one unbreakable run: no
  // trailing word reaches into them. 0 changes nothing.
  void closeWordAfterRun(int32_t runCount);
  // Moves the trailing word, which must not be empty, into `word`, whose
  // glyphs are none; this list ends as it did before the word began.
  void takeTrailingWord(TakenWord& word);
  // Appends the glyphs of `word` and empties it. The word joins a trailing
  // word that ends this list, which keeps words.
  void appendWord(TakenWord& word);
  // Deletes the trailing spaces; the list then ends as it did before them.
  void dropTrailingSpaces();

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
          trailing_(list.trailing_),
          marks_(list.marks_) {}
    ~Appender() {
      last_->next = &list_.tail;
      list_.tail.prev = last_;
      list_.count_ = count_;
      list_.width_ = width_;
      list_.trailing_ = trailing_;
      list_.assertTrailingBounds();
    }
    Appender(const Appender&) = delete;
    Appender& operator=(const Appender&) = delete;

    // `glyph` is in no list.
    void add(Glyph* glyph) {
      assert(glyph->prev == nullptr && glyph->next == nullptr);
      // Read before the links are written, which might alias it: the
      // compiler then knows it from the glyph just made.
      const std::uint8_t classes = glyph->classes;
      last_->next = glyph;
      glyph->prev = last_;
      last_ = glyph;
      countAppended(*glyph, classes, count_, width_, trailing_, marks_);
    }
    // The list's width, glyphs and trailing spaces with the glyphs added so
    // far.
    int32_t width() const { return width_; }
    int32_t count() const { return count_; }
    int32_t trailingSpaces() const { return trailing_.spaces; }

   private:
    GlyphList& list_;
    ListNode* last_;
    int32_t count_;
    int32_t width_;
    Trailing trailing_;
    Marks* const marks_;
  };

  // Sum of the glyphs' widths.
  int32_t width() const { return width_; }
  // The number of glyphs.
  int32_t count() const { return count_; }
  const Trailing& trailing() const { return trailing_; }
  // The first glyph of the trailing kNoLineEnd run, or nullptr when the last
  // glyph is not one (or there is none), and the run's width (0 for none).
  Glyph* trailingRunFirst() const { return trailing_.runFirst; }
  int32_t trailingRunWidth() const { return trailing_.runWidth; }
  // The spaces just before the trailing word; 0 when there is no word.
  int32_t spacesBeforeWord() {
    if (trailing_.wordCount == 0) return 0;
    markWordStart();
    return marks_->beforeWord.spaces;
  }
  // Whether the sums and marks agree with the glyphs, found by walking them
  // all (a word may be shorter than the glyphs show, as above); for tests
  // and debugging.
  bool sumsHold() const;

 private:
  // Adds a glyph just appended to the sums: its width, and what it extends,
  // begins or ends of the trailing run, and of the word and spaces when the
  // list keeps them (`marks`, the list's, not null).
  static void countAppended(Glyph& glyph, std::uint8_t unit, int32_t& count, int32_t& width,
                            Trailing& trailing, Marks* marks) {
    const int32_t w = unit & kUnitWidth;
    ++count;
    width += w;
    if (marks != nullptr) countWord(glyph, unit, w, trailing, *marks);
    if ((unit & kUnitNoLineEnd) == 0) {
      trailing.runFirst = nullptr;
      trailing.runCount = 0;
      trailing.runWidth = 0;
    } else {
      if (trailing.runFirst == nullptr) trailing.runFirst = &glyph;
      ++trailing.runCount;
      trailing.runWidth += w;
    }
  }
  static void countWord(Glyph& glyph, std::uint8_t unit, int32_t w, Trailing& trailing,
                        Marks& marks) {
    if ((unit & kUnitWord) != 0) {
      if (trailing.wordCount == 0) {
        marks.beforeWord = trailing;
        marks.beforeWordKnown = true;
        trailing.wordFirst = &glyph;
      }
      ++trailing.wordCount;
      trailing.wordWidth += w;
      trailing.spaces = 0;
      return;
    }
    if (glyph.ch != u' ') {
      trailing.spaces = 0;
    } else if (trailing.spaces++ == 0) {
      marks.beforeSpaces = trailing;
      marks.beforeSpaces.spaces = 0;
    }
    trailing.wordFirst = nullptr;
    trailing.wordCount = 0;
    trailing.wordWidth = 0;
  }
  // Makes the mark of the trailing word, which must not be empty, known.
  void markWordStart();
  // Walks back from `node` (inclusive) over U+0020 glyphs when `spaces` is
  // given (counting them there), then over the kNoLineEnd run before them,
  // and files that run where it belongs: in the spaces' mark when there were
  // spaces, otherwise in `into`.
  void walkBackSpacesAndRun(ListNode* node, int32_t* spaces, Trailing& into);
  // Sums everything again from the first glyph; no word is kept.
  void recount();
  // After glyphs left the end other than through a mark, the trailing word
  // having gone: finds the trailing spaces and the run before them by
  // walking back over them.
  void findTrailingSpaces();
  // What can be checked without walking the list.
  void assertTrailingBounds() const {
    const Trailing& t = trailing_;
    assert(t.runWidth >= 0 && t.runWidth <= width_ && t.runCount >= 0 && t.runCount <= count_);
    assert((t.runFirst == nullptr) == (t.runWidth == 0) && (t.runWidth == 0) == (t.runCount == 0));
    assert((count_ == 0) == empty());
    auto classes = [](const ListNode* node) { return static_cast<const Glyph*>(node)->classes; };
    assert(t.runFirst == nullptr || (t.runFirst->classes & kUnitNoLineEnd) != 0);
    assert((t.runFirst != nullptr) == (!empty() && (classes(last()) & kUnitNoLineEnd) != 0));
    assert(t.wordCount >= 0 && t.wordCount <= count_ && t.wordWidth >= 0);
    assert((t.wordFirst == nullptr) == (t.wordCount == 0));
    assert(t.wordFirst == nullptr || (classes(last()) & kUnitWord) != 0);
    assert(t.spaces >= 0 && t.spaces <= count_ && (t.spaces == 0 || t.wordCount == 0));
    assert(t.spaces == 0 || static_cast<Glyph*>(last())->ch == u' ');
    assert(marks_ != nullptr || (t.wordCount == 0 && t.spaces == 0));
    (void)t;
    (void)classes;
  }

  int32_t count_ = 0;
  int32_t width_ = 0;
  Trailing trailing_;
  Marks* marks_ = nullptr;  // owned; nullptr: the run alone is kept
};

class Line final : public ListNode {
 public:
  // Copies `style`; later changes to the caller's style do not reach the line.
  explicit Line(const LineStyle& style) : style(style) {}

  // Sum of the glyphs' widths; 0 for a line without glyphs (and for one
  // whose glyphs are all of width 0).
  int32_t lineWidth() const { return glyphs.width(); }
  // The last glyph, or nullptr when the line has none.
  Glyph* lastGlyph() const;

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
