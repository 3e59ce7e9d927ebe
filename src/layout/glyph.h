// A glyph is one UTF-16 code unit of output together with the code unit drawn
// under it in the line's underline row; displayWidth is the column rule on
// which every width in quarvel rests.
#ifndef QUARVEL_LAYOUT_GLYPH_H_
#define QUARVEL_LAYOUT_GLYPH_H_

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <new>

#include "layout/allocation.h"
#include "layout/list_node.h"

namespace quarvel {

// The `underline` of a glyph that is not underlined.
inline constexpr char16_t NoUnderline = 0xFFFE;

// Columns taken by a code unit: 1 for U+0000-U+007F and U+FF40-U+FF9F, 2 for
// every other unit (each half of a surrogate pair included).
constexpr int32_t displayWidth(char16_t c) {
  return (c <= 0x007F || (c >= 0xFF40 && c <= 0xFF9F)) ? 1 : 2;
}

class Glyph final : public ListNode {
 public:
  Glyph() = default;
  Glyph(char16_t ch, char16_t underline) : ch(ch), underline(underline) {}
  // The copy has the same character and underline and is in no list.
  Glyph(const Glyph& other) : ListNode(), ch(other.ch), underline(other.underline) {}
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
};

// Free glyph slots are chained through ListNode::next, so a line's glyphs go
// back to the pool as the list they already form.
inline RecordPool Glyph::pool{poolSlotSize(sizeof(Glyph)), kListNodeNextOffset};

}  // namespace quarvel

#endif  // QUARVEL_LAYOUT_GLYPH_H_
