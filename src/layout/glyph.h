// A glyph is one UTF-16 code unit of output together with the code unit drawn
// under it in the line's underline row, the columns it takes and what the
// line builder asks of it.
#ifndef QUARVEL_LAYOUT_GLYPH_H_
#define QUARVEL_LAYOUT_GLYPH_H_

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <new>

#include "layout/allocation.h"
#include "layout/line_breaking.h"
#include "layout/line_style.h"
#include "layout/list_node.h"

namespace quarvel {

class Glyph final : public ListNode {
 public:
  Glyph() = default;
  // A glyph of fixed widths: the classes and width of its own unit.
  Glyph(char16_t ch, char16_t underline)
      : ch(ch), underline(underline), classes(kUnitClasses[ch]) {}
  Glyph(char16_t ch, char16_t underline, std::uint8_t classes)
      : ch(ch), underline(underline), classes(classes) {}
  // The copy has the same character, underline and classes and is in no list.
  Glyph(const Glyph& other)
      : ListNode(), ch(other.ch), underline(other.underline), classes(other.classes) {}
  Glyph& operator=(const Glyph&) = delete;

  // Glyphs come from a pool of their own: allocating one costs a few
  // instructions, and yields nullptr when memory can't be had.
  static void* operator new([[maybe_unused]] std::size_t size, const std::nothrow_t&) noexcept {
    assert(size <= pool.slotSize());
    return pool.take();
  }
  static void operator delete(void* memory, std::size_t) noexcept { pool.give(memory); }
  static RecordPool pool;

  char16_t ch = NoUnderline;
  char16_t underline = NoUnderline;
  // Columns taken (kUnitWidth): displayWidth(ch) under fixed widths; under
  // unicode widths the character's width on its first unit, 0 on a low
  // surrogate. The other bits are the kUnitClasses bits of the unit, or
  // under unicode widths those of the first unit of the grapheme cluster the
  // glyph belongs to, with kUnitInCluster on every glyph of a cluster but its
  // first: a cluster carries, hangs and belongs to a word as its first
  // character does.
  std::uint8_t classes = 1;

  int32_t width() const { return classes & kUnitWidth; }
};

// Free glyph slots are chained through ListNode::next, so a line's glyphs go
// back to the pool as the list they already form.
inline RecordPool Glyph::pool{poolSlotSize(sizeof(Glyph)), kListNodeNextOffset};

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_GLYPH_H_
