#include "layout/line.h"

#include <gtest/gtest.h>

#include <utility>

#include "layout/formatter.h"

namespace quarvel {
namespace {

TEST(DisplayWidth, BoundsOfTheColumnRule) {
  struct {
    char16_t unit;
    int32_t width;
  } cases[] = {{0x0000, 1}, {0x007F, 1}, {0x0080, 2}, {0x00FF, 2}, {0x3000, 2}, {0xD83D, 2},
               {0xFF3F, 2}, {0xFF40, 1}, {0xFF41, 1}, {0xFF9F, 1}, {0xFFA0, 2}, {0xFFFE, 2}};
  for (const auto& c : cases)
    EXPECT_EQ(displayWidth(c.unit), c.width) << std::hex << static_cast<int>(c.unit);
}

TEST(Line, EmptyLineHasNothing) {
  Line line{LineStyle{}};
  EXPECT_EQ(line.lineWidth(), 0);
  EXPECT_EQ(line.lastGlyph(), nullptr);
  EXPECT_TRUE(line.glyphs.empty());
}

TEST(Line, WidthAndLastGlyph) {
  Line line{LineStyle{}};
  line.glyphs.append(newGlyph(u'a', NoUnderline));
  line.glyphs.append(newGlyph(0xD83D, NoUnderline));  // a surrogate half: 2 columns
  line.glyphs.append(newGlyph(u' ', u'-'));
  EXPECT_EQ(line.lineWidth(), 4);
  EXPECT_EQ(line.lastGlyph()->ch, u' ');
}

TEST(Line, TrailingRunFollowsEveryOperation) {
  Line line{LineStyle{}};
  auto run = [&] {
    return std::pair(line.glyphs.trailingRunFirst(), line.glyphs.trailingRunWidth());
  };
  const std::pair<Glyph*, int32_t> noRun(nullptr, 0);
  line.glyphs.append(newGlyph(u'a', NoUnderline));
  EXPECT_EQ(run(), noRun);
  line.glyphs.append(newGlyph(u'(', NoUnderline));
  Glyph* first = line.lastGlyph();
  EXPECT_EQ(run(), std::pair(first, 1));
  line.glyphs.append(newGlyph(u'（', NoUnderline));
  EXPECT_EQ(run(), std::pair(first, 3));
  EXPECT_TRUE(line.glyphs.sumsHold());

  Line next{LineStyle{}};
  next.glyphs.append(newGlyph(u'c', NoUnderline));
  line.glyphs.moveTailTo(static_cast<Glyph*>(first->next), 2, next.glyphs);
  EXPECT_EQ(run(), std::pair(first, 1));
  EXPECT_EQ(next.glyphs.trailingRunFirst(), nullptr);
  EXPECT_EQ(next.lineWidth(), 3);
  EXPECT_EQ(static_cast<Glyph*>(next.glyphs.first())->ch, u'（');
  line.glyphs.moveTailTo(first, 1, next.glyphs);
  EXPECT_EQ(line.lineWidth(), 1);
  EXPECT_EQ(run(), noRun);
  EXPECT_TRUE(line.glyphs.sumsHold());
  EXPECT_TRUE(next.glyphs.sumsHold());

  // Onto a line that is all run, the run grows at the front.
  Line all{LineStyle{}};
  all.glyphs.append(newGlyph(u'[', NoUnderline));
  line.glyphs.append(newGlyph(u'$', NoUnderline));
  line.glyphs.moveTailTo(line.lastGlyph(), 1, all.glyphs);
  EXPECT_EQ(all.glyphs.trailingRunFirst(), all.glyphs.first());
  EXPECT_EQ(all.glyphs.trailingRunWidth(), 2);
  EXPECT_TRUE(all.glyphs.sumsHold());
  EXPECT_TRUE(line.glyphs.sumsHold());
}

TEST(Line, KeepsItsOwnCopyOfTheStyle) {
  LineStyle style;
  Line line(style);
  style.align = kAlignCenter;
  style.width = 3;
  EXPECT_EQ(line.style.align, kAlignLeft);
  EXPECT_EQ(line.style.width, 62);
}

TEST(NodeList, DeletingAnElementRelinksItsNeighbours) {
  NodeList list;
  Glyph* a = newGlyph(u'a', NoUnderline);
  Glyph* b = newGlyph(u'b', NoUnderline);
  Glyph* c = newGlyph(u'c', NoUnderline);
  list.append(a);
  list.append(b);
  list.append(c);
  delete b;
  EXPECT_EQ(a->next, c);
  EXPECT_EQ(c->prev, a);
  delete a;
  delete c;
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.head.next, &list.tail);
  EXPECT_EQ(list.tail.prev, &list.head);
  EXPECT_EQ(list.last(), nullptr);
}

TEST(Glyph, CopyIsFreeAndEqual) {
  NodeList list;
  Glyph* original = newGlyph(u'x', u'_');
  list.append(original);
  Glyph copy(*original);
  EXPECT_EQ(copy.ch, u'x');
  EXPECT_EQ(copy.underline, u'_');
  EXPECT_EQ(copy.prev, nullptr);
  EXPECT_EQ(copy.next, nullptr);
}

}  // namespace
}  // namespace quarvel
