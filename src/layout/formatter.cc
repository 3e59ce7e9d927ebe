#include "layout/formatter.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "base/utf16.h"
#include "layout/line_breaking.h"
#include "layout/line_writer.h"
#include "layout/out_of_memory.h"
#include "layout/text_measure.h"

namespace quarvel {

namespace {

// Whether a line `needed` columns wide is too wide once `ch` is on it. The
// limit is `width`, or `width` + `rightMargin` for characters that may not
// begin a line under the style's line breaking;
// below both, the character's class does not matter.
bool exceedsLimit(int64_t needed, char16_t ch, const LineStyle& style) {
  const int64_t width = style.width;
  const int64_t hanging = width + style.rightMargin;
  if (needed <= width && needed <= hanging) return false;
  return needed > (isNoLineStart(ch, style.linebreak) ? hanging : width);
}

// Columns that putting `ch` claims on the line: a high surrogate claims its
// pair, whose low half then follows without a test of its own.
int32_t placedWidth(char16_t ch) { return isHighSurrogate(ch) ? 2 * unitWidth(ch) : unitWidth(ch); }

// Whether lines end as word mode ends them.
bool inWordMode(const LineStyle& style) { return style.wrap == Wrap::kWord && style.pre == 0; }

// The white space of text that word mode makes one space of.
bool isTextSpace(char16_t ch) { return ch == u' ' || ch == u'\t' || ch == u'\n' || ch == u'\r'; }

bool isLineEnd(char16_t ch) { return ch == u'\n' || ch == u'\r'; }

// Wide for joining across a line end: a unit word mode breaks around one
// by one (either half of a pair included), Hangul excepted.
bool joinsAcrossLineEnd(char16_t ch) {
  const bool hangul = (ch >= 0x1100 && ch <= 0x115F) || (ch >= 0xAC00 && ch <= 0xD7A3);
  return ch != u' ' && !isWordUnit(ch) && !hangul;
}

// Whether the trailing word of `glyphs` goes to the next line with `ch`,
// `chWidth` columns wide, which does not fit: `ch` is a word unit and a word
// ends the line; some glyph that is no space stays; the word does not begin
// with a kNoLineStart character; the word and `ch` fit in `width`.
bool wordLeavesWith(GlyphList& glyphs, char16_t ch, int32_t chWidth, const LineStyle& style) {
  const GlyphList::Trailing& t = glyphs.trailing();
  return isWordUnit(ch) && t.wordCount > 0 &&
         glyphs.count() - t.wordCount > glyphs.spacesBeforeWord() &&
         !isNoLineStart(t.wordFirst->ch, style.linebreak) &&
         static_cast<int64_t>(t.wordWidth) + chWidth <= style.width;
}

// The glyph after `glyph` in its list, nullptr after the last.
Glyph* nextGlyph(const GlyphList& glyphs, const Glyph* glyph) {
  return glyph->next == &glyphs.tail ? nullptr : static_cast<Glyph*>(glyph->next);
}

// The first code unit of the character or cluster that `glyph` ends or
// belongs to.
char16_t firstUnitOf(const Glyph* glyph) {
  while ((glyph->classes & kUnitInCluster) != 0) glyph = static_cast<const Glyph*>(glyph->prev);
  return glyph->ch;
}

// The code point that begins at `*next` (a unit before `end`), advancing
// `next` past it: a surrogate pair is one, a lone surrogate stands for
// itself.
char32_t takeCodePoint(const char16_t*& next, const char16_t* end) {
  const char16_t unit = *next++;
  if (isHighSurrogate(unit) && next != end && isLowSurrogate(*next))
    return combineSurrogates(unit, *next++);
  return unit;
}

// A glyph's slot taken through `run`; stops the run when memory can't be had.
inline void* takeSlot(RecordPool::Run& run) {
  void* slot = run.take();
  if (slot == nullptr) [[unlikely]]
    stopForMemory();
  return slot;
}

// Appends the glyphs of the units [first, end), which hold whole code
// points, under unicode widths, taking their slots through `run`: each code
// point's width on its first unit. With `oneCluster` they are one grapheme
// cluster: every glyph has the classes of the first unit, all but the first
// with kUnitInCluster; without it each glyph has its own unit's classes.
void appendMeasured(GlyphList::Appender& appender, RecordPool::Run& run, const char16_t* first,
                    const char16_t* end, bool oneCluster, char16_t underline) {
  const auto clusterClasses = static_cast<std::uint8_t>(kUnitClasses[*first] & ~kUnitWidth);
  for (const char16_t* next = first; next != end;) {
    const char16_t* const unit = next;
    const auto width = static_cast<std::uint8_t>(unicodeWidth(takeCodePoint(next, end)));
    for (const char16_t* u = unit; u != next; ++u) {
      std::uint8_t classes = kUnitClasses[*u] & ~kUnitWidth;
      if (oneCluster) classes = u == first ? clusterClasses : clusterClasses | kUnitInCluster;
      if (u == unit) classes |= width;
      appender.add(::new (takeSlot(run)) Glyph(*u, underline, classes));
    }
  }
}
void appendMeasured(GlyphList::Appender& appender, const char16_t* first, const char16_t* end,
                    bool oneCluster, char16_t underline) {
  RecordPool::Run run(Glyph::pool);
  appendMeasured(appender, run, first, end, oneCluster, underline);
}

// Appends the grapheme cluster [first, end), `width` columns wide.
inline void appendCluster(GlyphList::Appender& appender, RecordPool::Run& run,
                          const char16_t* first, const char16_t* end, int32_t width,
                          char16_t underline) {
  if (end - first == 1) {
    const auto classes = static_cast<std::uint8_t>((kUnitClasses[*first] & ~kUnitWidth) | width);
    appender.add(::new (takeSlot(run)) Glyph(*first, underline, classes));
    return;
  }
  appendMeasured(appender, run, first, end, true, underline);
}

}  // namespace

Line* newLine(const LineStyle& style) {
  Line* line = new (std::nothrow) Line(style);
  if (line == nullptr) reportOutOfMemory();
  if (inWordMode(style)) {
    auto* marks = new (std::nothrow) GlyphList::Marks;
    if (marks == nullptr) {
      delete line;
      reportOutOfMemory();
    }
    line->glyphs.keepWords(marks);
  }
  return line;
}

void stopForMemory() { reportOutOfMemory(); }

Formatter::~Formatter() {
  delete current_;
  delete pending_;
  // Kept lines unlink themselves from `kept` as they go; the list deletes
  // whatever remains, first to last.
}

void Formatter::flushPending(const LineStyle& style) {
  if (pending_ == nullptr) return;
  Line* line = pending_;
  pending_ = nullptr;
  if (style.direct != 0) {
    print(*line, *style.out, -1);
    delete line;
  } else {
    kept_.append(line);
  }
}

void Formatter::breakLine(const LineStyle& style) {
  textSpace_ = false;
  lineEndInSpace_ = false;
  flushPending(style);
  if (current_ == nullptr) {
    pending_ = newLine(style);
  } else {
    pending_ = current_;
    current_ = nullptr;
  }
  if (style.pre != 0) return;

  // Word mode drops the spaces that end the line, before carrying and again
  // after it, when carrying uncovered more.
  const bool trims = style.wrap == Wrap::kWord;
  if (trims) pending_->glyphs.dropTrailingSpaces();

  // Carrying moves the last character (a grapheme cluster under unicode
  // widths) while the pending line is 3 columns or wider and that character
  // is a kNoLineEnd one. The glyphs before the trailing run of such glyphs
  // always stay; of the run itself, the longest start of whole characters
  // that leaves the line narrower than 3 columns stays too, and so does the
  // first character of a line that is all run: carrying never empties the
  // pending line. Under fixed widths glyphs are 1 or 2 columns wide, so that
  // start is at most two glyphs; under unicode widths it is a few characters
  // of at most 2 columns and whatever glyphs of width 0 join them. The rest
  // of the run moves in one splice.
  GlyphList& glyphs = pending_->glyphs;
  Glyph* from = glyphs.trailingRunFirst();
  int32_t staying = glyphs.width() - glyphs.trailingRunWidth();
  int32_t moving = glyphs.trailingRunWidth();
  while (from != nullptr) {
    int32_t w = from->width();
    Glyph* after = nextGlyph(glyphs, from);
    for (; after != nullptr && (after->classes & kUnitInCluster) != 0;
         after = nextGlyph(glyphs, after))
      w += after->width();
    if (staying + w >= 3 && from != glyphs.first()) break;
    staying += w;
    moving -= w;
    from = after;
  }
  if (from != nullptr) {
    if (current_ == nullptr) current_ = newLine(style);
    glyphs.moveTailTo(from, moving, current_->glyphs);
  }
  // What stays is narrower than 3 columns, or ends in a glyph that may end a
  // line, or is one character; never nothing when something moved.
  assert(glyphs.width() == staying);
  assert(glyphs.width() < 3 || glyphs.trailingRunFirst() == nullptr ||
         glyphs.trailingRunFirst() == glyphs.first());
  if (trims) glyphs.dropTrailingSpaces();
}

// In word mode the trailing word starts the next line, after whatever
// carrying moves, when it may; otherwise the line breaks as in char mode.
void Formatter::breakBefore(char16_t ch, int32_t chWidth, const LineStyle& style) {
  if (!wordLeavesWith(current_->glyphs, ch, chWidth, style)) {
    breakLine(style);
    return;
  }
  GlyphList::TakenWord word;
  current_->glyphs.takeTrailingWord(word);
  breakLine(style);
  if (current_ == nullptr) current_ = newLine(style);
  current_->glyphs.appendWord(word);
}

// One space, which no line begins with and no space is followed by; a space
// that does not fit ends the line and is dropped.
void Formatter::putTextSpace(bool lineEnd, const LineStyle& style) {
  if (current_ == nullptr || current_->glyphs.empty()) return;
  if (current_->glyphs.trailing().spaces > 0) {
    if (textSpace_ && lineEnd) lineEndInSpace_ = true;
    return;
  }
  if (exceedsLimit(static_cast<int64_t>(current_->lineWidth()) + 1, u' ', style)) {
    breakLine(style);
    return;
  }
  beforeSpace_ = firstUnitOf(current_->lastGlyph());
  current_->glyphs.append(newGlyph(u' ', style.underline));
  textSpace_ = true;
  lineEndInSpace_ = lineEnd;
}

void Formatter::joinIfBothWide(char16_t ch) {
  lineEndInSpace_ = false;
  if (!textSpace_) return;
  const bool join = ch == 0x200B || beforeSpace_ == 0x200B ||
                    (joinsAcrossLineEnd(ch) && joinsAcrossLineEnd(beforeSpace_));
  if (join) current_->glyphs.dropTrailingSpaces();
}

void Formatter::putChar(char16_t ch, const LineStyle& style) {
  if (style.pre != 0) {
    if (ch == u'\r') return;
    if (ch == u'\n') {
      breakLine(style);
      return;
    }
    putUnwrapped(ch, style);
    return;
  }

  if (style.widths == Widths::kUnicode && ch >= 0x80) {
    putCluster(&ch, &ch + 1, unicodeWidth(ch), style);
    return;
  }
  joinAcrossLineEnd(ch);
  std::unique_ptr<Glyph> glyph(newGlyph(ch, style.underline));
  if (current_ == nullptr) {
    // A character that finds no line is never compared with the limit.
    current_ = newLine(style);
  } else if (isLowSurrogate(ch) && current_->lastGlyph() != nullptr &&
             isHighSurrogate(current_->lastGlyph()->ch)) {
    // The second half of a pair joins the first without a test: a pair is
    // placed as one unit, so a row never ends between its halves.
  } else if (exceedsLimit(static_cast<int64_t>(current_->lineWidth()) + placedWidth(ch), ch,
                          style)) {
    if (style.wrap == Wrap::kWord)
      breakBefore(ch, placedWidth(ch), style);
    else
      breakLine(style);
    if (current_ == nullptr) current_ = newLine(style);
  }
  current_->glyphs.append(glyph.release());
}

void Formatter::putCluster(const char16_t* first, const char16_t* end, int32_t width,
                           const LineStyle& style) {
  joinAcrossLineEnd(*first);
  if (current_ == nullptr) {
    current_ = newLine(style);
  } else if (exceedsLimit(static_cast<int64_t>(current_->lineWidth()) + width, *first, style)) {
    if (style.wrap == Wrap::kWord)
      breakBefore(*first, width, style);
    else
      breakLine(style);
    if (current_ == nullptr) current_ = newLine(style);
  }
  GlyphList::Appender appender(current_->glyphs);
  appendMeasured(appender, first, end, true, style.underline);
}

template <Wrap kMode>
const char16_t* Formatter::putClusters(const char16_t* next, const char16_t* const end,
                                       const LineStyle& style) {
  // A cluster that certainly fits joins the line through one appender, as
  // putFilled appends units; any other goes through putCluster. A cluster
  // is placed once the character after it is known to begin another.
  const int64_t fits = std::min<int64_t>(style.width, int64_t{style.width} + style.rightMargin);
  std::optional<GlyphList::Appender> appender;
  std::optional<RecordPool::Run> run;
  auto place = [&](const char16_t* first, const char16_t* last, int32_t width) {
    if (!appender && current_ != nullptr && !lineEndInSpace_ &&
        current_->lineWidth() + width <= fits) {
      textSpace_ = false;
      appender.emplace(current_->glyphs);
      run.emplace(Glyph::pool);
    }
    if (appender) {
      if (appender->width() + width <= fits) {
        appendCluster(*appender, *run, first, last, width, style.underline);
        return;
      }
      run.reset();
      appender.reset();
    }
    putCluster(first, last, width, style);
  };
  ClusterBoundaries boundaries;
  const char16_t* first = next;
  int32_t width = 0;
  while (next != end) {
    const char16_t unit = *next;
    // White space of word mode and the controls that text drops are no
    // part of a cluster.
    if (unit < 0x20 || (kMode == Wrap::kWord && unit == u' ')) break;
    const char16_t* const at = next;
    const char32_t c = takeCodePoint(next, end);
    const std::uint8_t facts = charFacts(c);
    if (boundaries.beginsCluster(c, facts) && at != first) {
      place(first, at, width);
      first = at;
      width = 0;
      // ASCII that begins a cluster goes back to the quick way.
      if (unit < 0x80) {
        next = at;
        break;
      }
    }
    width += facts & kFactsWidth;
  }
  if (next != first) place(first, next, width);
  return next;
}

void Formatter::putUnwrapped(char16_t ch, const LineStyle& style) {
  textSpace_ = false;
  lineEndInSpace_ = false;
  std::unique_ptr<Glyph> glyph(newGlyph(ch, style.underline));
  if (style.widths == Widths::kUnicode)
    glyph->classes = static_cast<std::uint8_t>((glyph->classes & ~kUnitWidth) | unicodeWidth(ch));
  if (current_ == nullptr) current_ = newLine(style);
  current_->glyphs.append(glyph.release());
}

template <Wrap kMode>
bool Formatter::putFilled(const char16_t* next, const char16_t* const end, int64_t certain,
                          const LineStyle& style) {
  // In word mode each run of white space is one space; a space that
  // certainly fits is placed when it begins no line and follows no space.
  // A run that holds a line end goes the slow way, through putTextSpace,
  // and so does the glyph after a space that stands for a line end.
  [[maybe_unused]] auto afterSpaces = [end](const char16_t* p, bool& lineEnd) {
    for (; p != end && isTextSpace(*p); ++p) lineEnd |= isLineEnd(*p);
    return p;
  };
  while (next != end) {
    // Only word mode places spaces that stand for line ends.
    if (current_ != nullptr && (kMode == Wrap::kChar || !lineEndInSpace_) &&
        current_->lineWidth() <= certain) {
      const int32_t countBefore = current_->glyphs.count();
      {
        GlyphList::Appender appender(current_->glyphs);
        RecordPool::Run glyphs(Glyph::pool);
        do {
          const char16_t ch = *next++;
          if constexpr (kMode == Wrap::kWord) {
            if (isTextSpace(ch)) {
              bool lineEnd = isLineEnd(ch);
              const char16_t* const runEnd = afterSpaces(next, lineEnd);
              if (lineEnd) {
                --next;
                break;
              }
              next = runEnd;
              if (appender.count() != 0 && appender.trailingSpaces() == 0)
                appender.add(newGlyph(glyphs, u' ', style.underline));
              continue;
            }
          }
          if (ch < 0x20) {
            if (ch == 0) return false;
            continue;
          }
          appender.add(newGlyph(glyphs, ch, style.underline));
        } while (next != end && appender.width() <= certain);
      }
      // A space placed here for a run without a line end may yet stand for
      // a dropped run with one.
      if (kMode == Wrap::kWord && current_->glyphs.count() != countBefore) {
        const Glyph* last = current_->lastGlyph();
        textSpace_ = last->ch == u' ';
        if (textSpace_) beforeSpace_ = firstUnitOf(static_cast<const Glyph*>(last->prev));
      }
      if (next == end || !isTextSpace(*next) || kMode != Wrap::kWord) continue;
    }
    const char16_t ch = *next++;
    if (ch == 0) return false;
    if constexpr (kMode == Wrap::kWord) {
      if (isTextSpace(ch)) {
        bool lineEnd = isLineEnd(ch);
        next = afterSpaces(next, lineEnd);
        putTextSpace(lineEnd, style);
        continue;
      }
    }
    if (ch >= 0x20) putChar(ch, style);
  }
  return true;
}

void Formatter::putText(std::u16string_view text, const LineStyle& style) {
  const char16_t* next = text.data();
  const char16_t* const end = next + text.size();
  if (style.pre != 0) {
    while (next != end) {
      // Runs of units from U+0020 up are appended without a word: under
      // `pre` only CR and LF (and the zero unit) are special.
      if (style.widths == Widths::kUnicode && *next >= 0x20) {
        const char16_t* const first = next;
        while (next != end && *next >= 0x20) ++next;
        textSpace_ = false;
        lineEndInSpace_ = false;
        if (current_ == nullptr) current_ = newLine(style);
        GlyphList::Appender appender(current_->glyphs);
        appendMeasured(appender, first, next, false, style.underline);
        continue;
      }
      if (current_ != nullptr && *next >= 0x20) {
        textSpace_ = false;
        lineEndInSpace_ = false;
        GlyphList::Appender appender(current_->glyphs);
        RecordPool::Run glyphs(Glyph::pool);
        do {
          appender.add(newGlyph(glyphs, *next++, style.underline));
        } while (next != end && *next >= 0x20);
        continue;
      }
      const char16_t ch = *next++;
      if (ch == 0) return;
      putChar(ch, style);
    }
    return;
  }
  // A unit adds at most 2 columns, and a high surrogate is tested with 4
  // (its pair): while the line is at least 4 columns short of the narrower
  // of the two limits, the next unit certainly fits and is appended without
  // a test. Nearer the limit each unit goes through putChar.
  const int64_t certain =
      std::min<int64_t>(style.width, int64_t{style.width} + style.rightMargin) - 4;
  if (style.widths == Widths::kUnicode) {
    if (style.wrap == Wrap::kWord) {
      putMeasured<Wrap::kWord>(next, end, certain, style);
    } else {
      putMeasured<Wrap::kChar>(next, end, certain, style);
    }
  } else if (style.wrap == Wrap::kWord) {
    putFilled<Wrap::kWord>(next, end, certain, style);
  } else {
    putFilled<Wrap::kChar>(next, end, certain, style);
  }
}

namespace {

// The end of the ASCII that begins [next, end), less its last unit when other
// text follows that may join it in a cluster: one that is no control (nor,
// in word mode, a space).
template <Wrap kMode>
const char16_t* asciiBefore(const char16_t* next, const char16_t* end) {
  const char16_t* ascii = next;
  // Four units at a time while all are ASCII.
  constexpr std::uint64_t kBeyondAscii = 0xFF80FF80FF80FF80;
  for (std::uint64_t units; end - ascii >= 4; ascii += 4) {
    std::memcpy(&units, ascii, sizeof units);
    if ((units & kBeyondAscii) != 0) break;
  }
  while (ascii != end && *ascii < 0x80) ++ascii;
  if (ascii != end && ascii != next && ascii[-1] >= 0x20 &&
      !(kMode == Wrap::kWord && ascii[-1] == u' '))
    --ascii;
  return ascii;
}

}  // namespace

template <Wrap kMode>
void Formatter::putMeasured(const char16_t* next, const char16_t* end, int64_t certain,
                            const LineStyle& style) {
  // ASCII goes the quick way: each unit is 1 column wide and a character of
  // its own, but the last before other text, which a mark may join.
  while (next != end) {
    const char16_t* const quick = asciiBefore<kMode>(next, end);
    if (quick != next) {
      if (!putFilled<kMode>(next, quick, certain, style)) return;
      next = quick;
    }
    if (next == end) return;
    next = putClusters<kMode>(next, end, style);
  }
}

namespace {

// The text of a run as it is placed: a line end vanishes in char mode; in
// word mode each run of white space that holds one is one space. `mended`
// holds the text when it differs.
std::u16string_view withoutLineEnds(std::u16string_view text, bool wordMode,
                                    std::u16string& mended) {
  if (text.find_first_of(u"\n\r") == std::u16string_view::npos) return text;
  mended.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (!wordMode || !isTextSpace(text[i])) {
      if (!isLineEnd(text[i])) mended += text[i];
      ++i;
      continue;
    }
    std::size_t spaceEnd = i;
    bool lineEnd = false;
    for (; spaceEnd < text.size() && isTextSpace(text[spaceEnd]); ++spaceEnd)
      lineEnd |= isLineEnd(text[spaceEnd]);
    if (lineEnd)
      mended += u' ';
    else
      mended.append(text.substr(i, spaceEnd - i));
    i = spaceEnd;
  }
  return mended;
}

// Appends the glyphs of a run's text under unicode widths, cluster by
// cluster; in word mode white space is no part of a cluster.
void appendRunClusters(GlyphList::Appender& appender, std::u16string_view text, bool wordMode,
                       char16_t underline) {
  const char16_t* next = text.data();
  const char16_t* const end = next + text.size();
  const char16_t* clusterFirst = next;
  ClusterBoundaries boundaries;
  while (next != end) {
    const char16_t* const at = next;
    if (wordMode && isTextSpace(*at)) {
      if (at != clusterFirst) appendMeasured(appender, clusterFirst, at, true, underline);
      appendMeasured(appender, at, at + 1, true, underline);
      boundaries.reset();
      clusterFirst = ++next;
      continue;
    }
    const char32_t c = takeCodePoint(next, end);
    if (boundaries.beginsCluster(c, charFacts(c)) && at != clusterFirst) {
      appendMeasured(appender, clusterFirst, at, true, underline);
      clusterFirst = at;
    }
  }
  if (next != clusterFirst) appendMeasured(appender, clusterFirst, next, true, underline);
}

}  // namespace

void Formatter::putRun(std::u16string_view text, const LineStyle& style) {
  if (style.pre != 0) {
    putText(text, style);
    return;
  }
  std::u16string mended;
  text = withoutLineEnds(text, style.wrap == Wrap::kWord, mended);
  const bool unicode = style.widths == Widths::kUnicode;
  // An empty run places no glyph: a standing space stays as it is.
  if (!text.empty()) joinAcrossLineEnd(text[0]);
  int64_t runWidth = 0;
  if (unicode) {
    for (const char16_t *next = text.data(), *end = next + text.size(); next != end;)
      runWidth += unicodeWidth(takeCodePoint(next, end));
  } else {
    for (char16_t ch : text) runWidth += displayWidth(ch);
  }
  const int64_t limit = static_cast<int64_t>(style.width) + style.rightMargin;
  if (current_ == nullptr) {
    current_ = newLine(style);
  } else if (current_->lineWidth() + runWidth > limit) {
    breakLine(style);
    if (current_ == nullptr) current_ = newLine(style);
  }
  if (unicode) {
    GlyphList::Appender appender(current_->glyphs);
    appendRunClusters(appender, text, style.wrap == Wrap::kWord, style.underline);
  } else {
    GlyphList::Appender appender(current_->glyphs);
    RecordPool::Run glyphs(Glyph::pool);
    for (char16_t ch : text) appender.add(newGlyph(glyphs, ch, style.underline));
  }
  current_->glyphs.closeWordAfterRun(
      static_cast<int32_t>(std::min<std::size_t>(text.size(), INT32_MAX)));
}

void Formatter::noteBlockExtent(const LineStyle& style) {
  const int64_t extent = static_cast<int64_t>(style.leftMargin) + style.width + style.rightMargin;
  maxWidth_ =
      std::max(maxWidth_,
               static_cast<int32_t>(std::clamp<int64_t>(extent, std::numeric_limits<int32_t>::min(),
                                                        std::numeric_limits<int32_t>::max())));
}

void Formatter::finishBlock(const LineStyle& style) {
  textSpace_ = false;
  lineEndInSpace_ = false;
  flushPending(style);
  pending_ = current_;
  current_ = nullptr;
  if (pending_ != nullptr && inWordMode(style)) pending_->glyphs.dropTrailingSpaces();
  flushPending(style);
}

}  // namespace quarvel
