#include "layout/line_writer.h"

#include <algorithm>
#include <cassert>

namespace quarvel {
namespace {

// Offset of the line within its width; never negative, so a line longer than
// its width starts right after the left margin whatever its alignment.
int64_t alignmentOffset(const LineStyle& style, int64_t lineWidth) {
  int64_t spare = static_cast<int64_t>(style.width) - lineWidth;
  if (spare <= 0) return 0;
  if (style.align == kAlignCenter) return spare / 2;
  if (style.align == kAlignRight) return spare;
  return 0;
}

// Writes code units straight into the sink's buffer, a reserved piece at a
// time, so that a unit costs two byte stores and a bounds test rather than
// a call on the sink. Commits what it wrote when destroyed.
class UnitWriter {
 public:
  // `expected`: the bytes the caller is about to write, if it knows; the
  // first piece is reserved at that size when it fits one piece.
  UnitWriter(ByteSink& out, int64_t expected) : out_(out) {
    reserve(static_cast<std::size_t>(std::clamp<int64_t>(expected, 2, ByteSink::kMaxReserve)));
  }
  ~UnitWriter() { out_.commit(static_cast<std::size_t>(next_ - start_)); }
  UnitWriter(const UnitWriter&) = delete;
  UnitWriter& operator=(const UnitWriter&) = delete;

  void unit(char16_t u) {
    if (next_ == end_) refill();
    next_[0] = static_cast<uint8_t>(u & 0xFF);
    next_[1] = static_cast<uint8_t>(u >> 8);
    next_ += 2;
  }
  void spaces(int64_t count) {
    while (count > 0) {
      if (next_ == end_) {
        // An absurd field width must not spin long after the output failed.
        if (out_.failed()) return;
        refill();
      }
      const int64_t room = (end_ - next_) / 2;
      const int64_t n = std::min(count, room);
      for (int64_t i = 0; i < n; ++i) {
        next_[2 * i] = ' ';
        next_[2 * i + 1] = 0;
      }
      next_ += 2 * n;
      count -= n;
    }
  }
  void newline() {
    unit(u'\r');
    unit(u'\n');
  }
  // Ends a row: CR LF for a negative `fieldWidth`, else spaces up to it.
  void endRow(int32_t fieldWidth, int64_t rowColumns) {
    if (fieldWidth < 0)
      newline();
    else
      spaces(fieldWidth - rowColumns);
  }

 private:
  void reserve(std::size_t bytes) {
    start_ = next_ = out_.reserve(bytes);
    end_ = start_ + bytes;
  }
  void refill() {
    out_.commit(static_cast<std::size_t>(next_ - start_));
    reserve(ByteSink::kMaxReserve);
  }

  ByteSink& out_;
  uint8_t* start_;
  uint8_t* next_;
  uint8_t* end_;
};

}  // namespace

void writeChar(const Glyph& glyph, ByteSink& out) { out.putUnit(glyph.ch); }

void writeUnderline(const Glyph& glyph, ByteSink& out) {
  out.putUnit(glyph.underline == NoUnderline ? u' ' : glyph.underline);
}

void writeNewline(ByteSink& out) {
  out.putUnit(u'\r');
  out.putUnit(u'\n');
}

void writeSpaces(int64_t count, ByteSink& out) {
  if (count <= 0) return;
  UnitWriter(out, 2 * count).spaces(count);
}

void print(const Line& line, ByteSink& out, int32_t fieldWidth) {
  // The cached sums are checked against the glyphs here, where every glyph
  // is visited anyway.
  assert(line.glyphs.sumsHold());
  const int64_t width = line.lineWidth();
  const int64_t offset = width == 0 ? 0 : alignmentOffset(line.style, width);
  const int64_t indent = width == 0 ? 0 : line.style.leftMargin + offset;
  const int64_t end = indent + width;  // the columns of the text row
  // A row holds at most one unit per column, and CR LF or the padding.
  const int64_t rowBytes =
      2 * (std::max<int64_t>(indent, 0) + width + std::max<int64_t>(fieldWidth - end, 2));
  bool underlined = false;
  {
    UnitWriter row(out, rowBytes);
    row.spaces(indent);
    forEachGlyph(line, [&](const Glyph& g) {
      row.unit(g.ch);
      underlined |= g.underline != NoUnderline;
    });
    row.endRow(fieldWidth, end);
  }
  if (!underlined) return;

  UnitWriter row(out, rowBytes + 2);
  row.spaces(indent);
  // carried: columns by which the cells written so far run past the glyphs
  // they stand under; a wide underline unit covers part of the next glyph.
  int64_t carried = 0;
  forEachGlyph(line, [&](const Glyph& g) {
    const int32_t w = unitWidth(g.ch);
    while (carried < w) {
      row.unit(g.underline == NoUnderline ? u' ' : g.underline);
      carried += g.underline == NoUnderline ? 1 : unitWidth(g.underline);
    }
    carried -= w;
  });
  row.endRow(fieldWidth, end + carried);
}

}  // namespace quarvel
