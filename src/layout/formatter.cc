#include "layout/formatter.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <limits>
#include <memory>

#include "base/utf16.h"
#include "layout/line_breaking.h"
#include "layout/line_writer.h"
#include "layout/out_of_memory.h"

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
// which does not fit: `ch` is a word unit and a word ends the line; some
// glyph that is no space stays; the word does not begin with a kNoLineStart
// character; the word and `ch` fit in `width`.
bool wordLeavesWith(GlyphList& glyphs, char16_t ch, const LineStyle& style) {
  const GlyphList::Trailing& t = glyphs.trailing();
  return isWordUnit(ch) && t.wordCount > 0 &&
         glyphs.count() - t.wordCount > glyphs.spacesBeforeWord() &&
         !isNoLineStart(t.wordFirst->ch, style.linebreak) &&
         static_cast<int64_t>(t.wordWidth) + unitWidth(ch) <= style.width;
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

  // Carrying moves the last glyph while the pending line is 3 columns or
  // wider and that glyph is a kNoLineEnd one. The glyphs before the trailing
  // run of such glyphs always stay; of the run itself, the longest start that
  // leaves the line narrower than 3 columns stays too. Glyphs are 1 or 2
  // columns wide, so that start is at most two glyphs, and carrying never
  // empties the pending line. The rest of the run moves in one splice.
  GlyphList& glyphs = pending_->glyphs;
  Glyph* from = glyphs.trailingRunFirst();
  int32_t staying = glyphs.width() - glyphs.trailingRunWidth();
  int32_t moving = glyphs.trailingRunWidth();
  while (from != nullptr && staying + unitWidth(from->ch) < 3) {
    staying += unitWidth(from->ch);
    moving -= unitWidth(from->ch);
    from = from->next == &glyphs.tail ? nullptr : static_cast<Glyph*>(from->next);
  }
  if (from != nullptr) {
    if (current_ == nullptr) current_ = newLine(style);
    glyphs.moveTailTo(from, moving, current_->glyphs);
  }
  // What stays is narrower than 3 columns or ends in a glyph that may end a
  // line, and never nothing when something moved.
  assert(from == nullptr || staying > 0);
  assert(glyphs.width() == staying);
  assert(glyphs.width() < 3 || glyphs.trailingRunFirst() == nullptr);
  if (trims) glyphs.dropTrailingSpaces();
}

// In word mode the trailing word starts the next line, after whatever
// carrying moves, when it may; otherwise the line breaks as in char mode.
void Formatter::breakBefore(char16_t ch, const LineStyle& style) {
  if (!wordLeavesWith(current_->glyphs, ch, style)) {
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
  beforeSpace_ = current_->lastGlyph()->ch;
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
      breakBefore(ch, style);
    else
      breakLine(style);
    if (current_ == nullptr) current_ = newLine(style);
  }
  current_->glyphs.append(glyph.release());
}

void Formatter::putUnwrapped(char16_t ch, const LineStyle& style) {
  textSpace_ = false;
  lineEndInSpace_ = false;
  std::unique_ptr<Glyph> glyph(newGlyph(ch, style.underline));
  if (current_ == nullptr) current_ = newLine(style);
  current_->glyphs.append(glyph.release());
}

template <Wrap kMode>
void Formatter::putFilled(const char16_t* next, const char16_t* const end, int64_t certain,
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
    if (current_ != nullptr && !lineEndInSpace_ && current_->lineWidth() <= certain) {
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
            if (ch == 0) return;
            continue;
          }
          appender.add(newGlyph(glyphs, ch, style.underline));
        } while (next != end && appender.width() <= certain);
      }
      // A space placed here for a run without a line end may yet stand for
      // a dropped run with one.
      if (current_->glyphs.count() != countBefore) {
        const Glyph* last = current_->lastGlyph();
        textSpace_ = kMode == Wrap::kWord && last->ch == u' ';
        if (textSpace_) beforeSpace_ = static_cast<const Glyph*>(last->prev)->ch;
      }
      if (next == end || !isTextSpace(*next) || kMode != Wrap::kWord) continue;
    }
    const char16_t ch = *next++;
    if (ch == 0) return;
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
}

void Formatter::putText(std::u16string_view text, const LineStyle& style) {
  const char16_t* next = text.data();
  const char16_t* const end = next + text.size();
  if (style.pre != 0) {
    while (next != end) {
      // Runs of units from U+0020 up are appended without a word: under
      // `pre` only CR and LF (and the zero unit) are special.
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
  if (style.wrap == Wrap::kWord) {
    putFilled<Wrap::kWord>(next, end, certain, style);
  } else {
    putFilled<Wrap::kChar>(next, end, certain, style);
  }
}

void Formatter::putRun(std::u16string_view text, const LineStyle& style) {
  if (style.pre != 0) {
    putText(text, style);
    return;
  }
  // An empty run places no glyph: a standing space stays as it is.
  if (!text.empty()) joinAcrossLineEnd(text[0]);
  int64_t runWidth = 0;
  for (char16_t ch : text) runWidth += displayWidth(ch);
  const int64_t limit = static_cast<int64_t>(style.width) + style.rightMargin;
  if (current_ == nullptr) {
    current_ = newLine(style);
  } else if (current_->lineWidth() + runWidth > limit) {
    breakLine(style);
    if (current_ == nullptr) current_ = newLine(style);
  }
  {
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
