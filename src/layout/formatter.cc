#include "layout/formatter.h"

#include <algorithm>
#include <cassert>
#include <memory>

#include "layout/line_breaking.h"
#include "layout/line_writer.h"
#include "layout/out_of_memory.h"
#include "layout/utf_units.h"

namespace quarvel {

namespace {

// Whether a line `needed` columns wide is too wide once `ch` is on it. The
// limit is `width`, or `width` + `rightMargin` for kNoLineStart characters;
// below both, the character's class does not matter.
bool exceedsLimit(int64_t needed, char16_t ch, const LineStyle& style) {
  const int64_t width = style.width;
  const int64_t hanging = width + style.rightMargin;
  if (needed <= width && needed <= hanging) return false;
  return needed > (isNoLineStart(ch) ? hanging : width);
}

// Columns that putting `ch` claims on the line: a high surrogate claims its
// pair, whose low half then follows without a test of its own.
int32_t placedWidth(char16_t ch) { return isHighSurrogate(ch) ? 2 * unitWidth(ch) : unitWidth(ch); }

}  // namespace

Line* newLine(const LineStyle& style) {
  Line* line = new (std::nothrow) Line(style);
  if (line == nullptr) reportOutOfMemory();
  return line;
}

void stopForMemory() { reportOutOfMemory(); }

Formatter::~Formatter() {
  delete current;
  delete pending;
  // Kept lines unlink themselves from `kept` as they go; the list deletes
  // whatever remains, first to last.
}

void Formatter::flushPending(const LineStyle& style) {
  if (pending == nullptr) return;
  Line* line = pending;
  pending = nullptr;
  if (style.direct != 0) {
    print(*line, *style.out, -1);
    delete line;
  } else {
    kept.append(line);
  }
}

void Formatter::breakLine(const LineStyle& style) {
  flushPending(style);
  if (current == nullptr) {
    pending = newLine(style);
  } else {
    pending = current;
    current = nullptr;
  }
  if (style.pre != 0) return;

  // Carrying moves the last glyph while the pending line is 3 columns or
  // wider and that glyph is a kNoLineEnd one. The glyphs before the trailing
  // run of such glyphs always stay; of the run itself, the longest start that
  // leaves the line narrower than 3 columns stays too. Glyphs are 1 or 2
  // columns wide, so that start is at most two glyphs, and carrying never
  // empties the pending line. The rest of the run moves in one splice.
  GlyphList& glyphs = pending->glyphs;
  Glyph* from = glyphs.trailingRunFirst();
  int32_t staying = glyphs.width() - glyphs.trailingRunWidth();
  int32_t moving = glyphs.trailingRunWidth();
  while (from != nullptr && staying + unitWidth(from->ch) < 3) {
    staying += unitWidth(from->ch);
    moving -= unitWidth(from->ch);
    from = from->next == &glyphs.tail ? nullptr : static_cast<Glyph*>(from->next);
  }
  if (from != nullptr) {
    if (current == nullptr) current = newLine(style);
    glyphs.moveTailTo(from, moving, current->glyphs);
  }
  // What stays is narrower than 3 columns or ends in a glyph that may end a
  // line, and never nothing when something moved.
  assert(from == nullptr || staying > 0);
  assert(glyphs.width() == staying);
  assert(glyphs.width() < 3 || glyphs.trailingRunFirst() == nullptr);
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

  std::unique_ptr<Glyph> glyph(newGlyph(ch, style.underline));
  if (current == nullptr) {
    // A character that finds no line is never compared with the limit.
    current = newLine(style);
  } else if (isLowSurrogate(ch) && current->lastGlyph() != nullptr &&
             isHighSurrogate(current->lastGlyph()->ch)) {
    // The second half of a pair joins the first without a test: a pair is
    // placed as one unit, so a row never ends between its halves.
  } else if (exceedsLimit(static_cast<int64_t>(current->lineWidth()) + placedWidth(ch), ch,
                          style)) {
    breakLine(style);
    if (current == nullptr) current = newLine(style);
  }
  current->glyphs.append(glyph.release());
}

void Formatter::putUnwrapped(char16_t ch, const LineStyle& style) {
  std::unique_ptr<Glyph> glyph(newGlyph(ch, style.underline));
  if (current == nullptr) current = newLine(style);
  current->glyphs.append(glyph.release());
}

void Formatter::putText(std::u16string_view text, const LineStyle& style) {
  const char16_t* next = text.data();
  const char16_t* const end = next + text.size();
  if (style.pre != 0) {
    while (next != end) {
      // Runs of units from U+0020 up are appended without a word: under
      // `pre` only CR and LF (and the zero unit) are special.
      if (current != nullptr && *next >= 0x20) {
        GlyphList::Appender appender(current->glyphs);
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
  while (next != end) {
    if (current != nullptr && current->lineWidth() <= certain) {
      GlyphList::Appender appender(current->glyphs);
      RecordPool::Run glyphs(Glyph::pool);
      do {
        const char16_t ch = *next++;
        if (ch < 0x20) {
          if (ch == 0) return;
          continue;
        }
        appender.add(newGlyph(glyphs, ch, style.underline));
      } while (next != end && appender.width() <= certain);
      continue;
    }
    const char16_t ch = *next++;
    if (ch == 0) return;
    if (ch >= 0x20) putChar(ch, style);
  }
}

void Formatter::finishBlock(const LineStyle& style) {
  flushPending(style);
  pending = current;
  current = nullptr;
  flushPending(style);
}

}  // namespace quarvel
