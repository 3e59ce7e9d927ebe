// One flow of text and the line builder that fills it.
//
// Characters are filled into the `current` line column by column (a space is
// no preferred break point). In word mode (the style's `wrap`, outside
// `pre`) three things differ:
// - text: each run of U+0020, TAB, LF and CR is one space, not placed where
//   it would begin a line or follow a space; one that does not fit ends the
//   line and is dropped;
// - a word unit that does not fit takes the word that ends the line with it
//   to the next line, when a glyph that is no space stays, the word does not
//   begin with a kNoLineStart character and the word and the unit fit in
//   `width` (a word reaches back no further than the end of the last
//   unbreakable run, GlyphList::closeWordAfterRun);
// - every line that ends loses its trailing spaces, before and after
//   carrying;
// - a space that stands for a line end between two wide characters is
//   taken out before the second is placed (Formatter::textSpace_).
// Under unicode widths (the style's `widths`) the unit placed is a grapheme
// cluster rather than a code unit; everything else stays as it is.
// A line that is ended becomes `pending` and is
// emitted when the next line ends, when the block is finished, or on
// flushPending: printed at once when the style's `direct` is set, appended to
// `kept` (for column paragraphs) when it is not. Every operation takes the
// style in force and never changes it; every new Line copies it.
//
// Allocation failures stop the run through reportOutOfMemory(), which throws
// CaException; the Formatter stays consistent and can be destroyed.
#ifndef QUARVEL_LAYOUT_FORMATTER_H_
#define QUARVEL_LAYOUT_FORMATTER_H_

#include <cstdint>
#include <new>
#include <string_view>

#include "layout/line.h"
#include "layout/line_style.h"
#include "layout/list_node.h"

namespace quarvel {

class Formatter {
 public:
  Formatter() = default;
  // Deletes `current`, then `pending`, then the kept lines, unprinted.
  ~Formatter();
  Formatter(const Formatter&) = delete;
  Formatter& operator=(const Formatter&) = delete;

  // Puts one character. Outside `pre` the line breaks when the character
  // would make it wider than `width` (`width` + `rightMargin` for kNoLineStart
  // characters), in word mode taking the trailing word with it when it may.
  // A surrogate pair is placed whole: its high half is tested with the
  // width of both halves, and a low half that follows a high half at the
  // end of the current line joins it untested. Under unicode widths a
  // character beyond ASCII is measured and placed as a cluster of its own.
  // Under `pre`, CR is ignored and LF ends the line. A space goes through
  // here as any character.
  void putChar(char16_t ch, const LineStyle& style);
  // Puts each code unit up to the first zero unit; outside `pre` units below
  // U+0020 are dropped, and in word mode white space is as above. Under
  // unicode widths each grapheme cluster of the text is placed as one
  // character, as wide as its code points together, classed by its first.
  void putText(std::u16string_view text, const LineStyle& style);
  // Appends one character to the current line: no width test, nothing special.
  void putUnwrapped(char16_t ch, const LineStyle& style);
  // Ends the current line (an empty one when there is none). Outside `pre`,
  // trailing kNoLineEnd glyphs move to the next line while the ended line is
  // 3 columns or wider; the work does not depend on how many move. Word
  // mode trims the ended line before and after.
  void breakLine(const LineStyle& style);
  // Emits the pending line, then the current one (in word mode trimmed);
  // afterwards neither exists.
  void finishBlock(const LineStyle& style);
  // Emits the pending line, if there is one.
  void flushPending(const LineStyle& style);

  // Places `text` as one unbreakable run (the text of a nonbreak element):
  // under `pre` as putText does; otherwise a line end vanishes (in word
  // mode a run of white space that holds one becomes one space), and every
  // other code unit becomes a glyph, control characters too, on the current
  // line when the line then stays within `width` + `rightMargin`, else whole
  // on a new line with no further width test. No trailing word reaches back
  // into the run.
  void putRun(std::u16string_view text, const LineStyle& style);
  // Notes a block laid out with `style` (a "div"): maxWidth becomes at least
  // its leftMargin + width + rightMargin, saturated to 32 bits.
  void noteBlockExtent(const LineStyle& style);

  // Finished lines kept for later printing (filled only while `direct` is 0),
  // first to last; they stay the formatter's.
  const NodeList& kept() const { return kept_; }
  // The line being filled and the line ended but not yet emitted; nullptr
  // for none.
  const Line* current() const { return current_; }
  const Line* pending() const { return pending_; }
  // Largest leftMargin + width + rightMargin of any block noted here.
  int32_t maxWidth() const { return maxWidth_; }

 private:
  // putText's text outside `pre`, filled in mode `kMode` (word mode makes
  // each run of white space one space); `certain` as putText has it.
  // Returns false when it stopped at a zero unit.
  template <Wrap kMode>
  bool putFilled(const char16_t* next, const char16_t* end, int64_t certain,
                 const LineStyle& style);
  // putText's text outside `pre` under unicode widths.
  template <Wrap kMode>
  void putMeasured(const char16_t* next, const char16_t* end, int64_t certain,
                   const LineStyle& style);
  // Places the grapheme clusters that begin at `next`, up to white space of
  // word mode, a control or ASCII that begins a cluster; returns where it
  // stopped.
  template <Wrap kMode>
  const char16_t* putClusters(const char16_t* next, const char16_t* end, const LineStyle& style);
  // Places the grapheme cluster [first, end), `width` columns wide, as
  // putChar places a character.
  void putCluster(const char16_t* first, const char16_t* end, int32_t width,
                  const LineStyle& style);
  // Ends the current line before `ch`, `chWidth` columns wide, which does
  // not fit, in word mode.
  void breakBefore(char16_t ch, int32_t chWidth, const LineStyle& style);
  // A run of white space of text in word mode; `lineEnd` when it holds
  // U+000A or U+000D.
  void putTextSpace(bool lineEnd, const LineStyle& style);
  // Before a glyph `ch` is placed: takes out the space that stands for a
  // line end between two wide characters (below), then forgets that space.
  void joinAcrossLineEnd(char16_t ch) {
    if (lineEndInSpace_) joinIfBothWide(ch);
    textSpace_ = false;
  }
  void joinIfBothWide(char16_t ch);

  NodeList kept_;
  Line* current_ = nullptr;
  Line* pending_ = nullptr;
  int32_t maxWidth_ = 0;
  // In word mode a space placed for a run of white space of text stands
  // for that run and for the runs dropped after it. While it is the current
  // line's last glyph `textSpace_` is set and `beforeSpace_` is the glyph
  // before it; `lineEndInSpace_` is set once one of those runs holds a line
  // end. When the next glyph placed and `beforeSpace_` are both wide (word
  // mode's break-anywhere units but Hangul), or either is U+200B, the space
  // is taken out first: a line end between Japanese characters is no space.
  bool textSpace_ = false;
  bool lineEndInSpace_ = false;
  char16_t beforeSpace_ = 0;
};

// Stops the run for want of memory for a layout record: reportOutOfMemory.
[[noreturn]] void stopForMemory();

// Allocate a Line or a Glyph, stopping the run when memory can't be had. A
// line of word mode (outside `pre`) keeps words (GlyphList::keepWords).
Line* newLine(const LineStyle& style);
// Inline: it is on the path of every character.
inline Glyph* newGlyph(char16_t ch, char16_t underline) {
  Glyph* glyph = new (std::nothrow) Glyph(ch, underline);
  if (glyph == nullptr) [[unlikely]]
    stopForMemory();
  return glyph;
}
// The same for one of many glyphs put in a row, taken through `run`.
inline Glyph* newGlyph(RecordPool::Run& run, char16_t ch, char16_t underline) {
  void* slot = run.take();
  if (slot == nullptr) [[unlikely]]
    stopForMemory();
  return ::new (slot) Glyph(ch, underline);
}

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_FORMATTER_H_
