#include "layout/line_writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>

#include "layout/formatter.h"
#include "test_support/utf16.h"

namespace quarvel {
namespace {

using testing::readable;
using testing::rows;
using testing::utf16le;

// A line of `text` whose glyphs are underlined where `marks` has a non-space
// unit (by that unit).
std::unique_ptr<Line> makeLine(const LineStyle& style, std::u16string_view text,
                               std::u16string_view marks = u"") {
  std::unique_ptr<Line> line(newLine(style));
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t mark = i < marks.size() && marks[i] != u' ' ? marks[i] : NoUnderline;
    line->glyphs.append(newGlyph(text[i], mark));
  }
  return line;
}

struct PrintCase {
  const char* name;
  int32_t align;
  int32_t width;
  int32_t leftMargin;
  std::u16string text;
  std::u16string marks;
  int32_t fieldWidth;
  std::string expected;
};

void PrintTo(const PrintCase& c, std::ostream* os) { *os << c.name; }

class PrintTest : public ::testing::TestWithParam<PrintCase> {};

TEST_P(PrintTest, WritesWholeRows) {
  const PrintCase& c = GetParam();
  LineStyle style;
  style.align = c.align;
  style.width = c.width;
  style.leftMargin = c.leftMargin;
  MemoryText sink;
  print(*makeLine(style, c.text, c.marks), sink, c.fieldWidth);
  EXPECT_EQ(readable(sink.bytes()), readable(c.expected));
  EXPECT_EQ(sink.bytes(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    LineWriter, PrintTest,
    ::testing::Values(
        PrintCase{"LeftPlain", 2, 62, 4, u"Ab", u"", -1, rows({u"    Ab"})},
        PrintCase{"RightWide", 0, 10, 4, u"日本", u"", -1, rows({u"          日本"})},
        PrintCase{"CenterOddSpareFallsRight", 1, 10, 0, u"abc", u"", -1, rows({u"   abc"})},
        PrintCase{"CenterLongerThanWidth", 1, 62, 4, std::u16string(70, u'x'), u"", -1,
                  rows({u"    " + std::u16string(70, u'x')})},
        PrintCase{"CenterOneShort", 1, 62, 0, std::u16string(60, u'x'), u"", -1,
                  rows({u" " + std::u16string(60, u'x')})},
        PrintCase{"RightLongerThanWidth", 0, 3, 2, u"abcd", u"", -1, rows({u"  abcd"})},
        PrintCase{"UnknownAlignIsLeft", 7, 10, 1, u"a", u"", -1, rows({u" a"})},
        PrintCase{"NegativeMarginWritesNoIndent", 2, 10, -3, u"a", u"", -1, rows({u"a"})},
        PrintCase{"EmptyLineIsJustLineEnd", 1, 10, 4, u"", u"", -1, rows({u""})},
        PrintCase{"EmptyLinePadded", 2, 10, 4, u"", u"", 5, utf16le(u"     ")},
        PrintCase{"EmptyLineZeroField", 2, 10, 4, u"", u"", 0, ""},
        PrintCase{"PaddedRowStaysOpen", 2, 62, 4, u"abcdefghij", u"", 20,
                  utf16le(u"    abcdefghij      ")},
        PrintCase{"FieldNarrowerThanRow", 2, 62, 4, u"abcdefghij", u"", 8,
                  utf16le(u"    abcdefghij")},
        PrintCase{"OneColumnUnderWideGlyphTwice", 2, 62, 4, u"a日b", u" - ", -1,
                  rows({u"    a日b", u"     -- "})},
        PrintCase{"WideUnderlineSkipsCoveredGlyph", 2, 62, 4, u"abc", u"＿＿＿", -1,
                  rows({u"    abc", u"    ＿＿"})},
        PrintCase{"OnlyFirstUnderlinedCoversAll", 2, 62, 0, u"ab日", u"=", -1,
                  rows({u"ab日", u"=   "})},
        PrintCase{"UnderlinedSpace", 2, 62, 0, u"a b", u" ~", -1, rows({u"a b", u" ~ "})},
        PrintCase{"PaddedUnderlineRowCountsCarry", 2, 62, 4, u"abc", u"＿＿＿", 10,
                  utf16le(u"    abc   ") + utf16le(u"    ＿＿  ")},
        PrintCase{"CenteredUnderlineShiftsWithText", 1, 8, 1, u"ab", u"--", -1,
                  rows({u"    ab", u"    --"})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineWriter, UnitsGoOutLowByteFirst) {
  MemoryText sink;
  sink.put(0x65E5);
  sink.putSpaces(1);
  sink.put(0xFF3F);
  sink.endRow();
  EXPECT_EQ(sink.bytes(), std::string("\xE5\x65\x20\x00\x3F\xFF\x0D\x00\x0A\x00", 10));
}

TEST(ByteSink, FirstFailureSticksAndLaterWritesAreDropped) {
  MemorySink sink(3);
  sink.put('a');
  sink.put(0);
  EXPECT_TRUE(sink.flush());
  sink.put('b');
  sink.put(0);
  EXPECT_FALSE(sink.flush());
  sink.put('c');
  sink.put(0);
  EXPECT_FALSE(sink.flush());
  EXPECT_EQ(sink.bytes(), std::string("a\0b", 3));
  EXPECT_NE(sink.error(), 0);
}

TEST(Utf8Encoder, TranscodesWhateverTheBlockBoundaries) {
  // A CR LF row end, two- and three-byte characters, a pair, a lone high and
  // a lone low surrogate, a U+FEFF, and a high surrogate that waits in vain
  // at the end.
  const std::u16string units =
      u"a\r\n\u00E9\u65E5\U0001F600\xD800"
      u"b\xDC00\uFEFF\xD800";
  const std::string expected =
      "a\n\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80\xEF\xBF\xBD"
      "b\xEF\xBF\xBD\xEF\xBB\xBF";
  MemorySink whole;
  Utf8Encoder wholeUtf8(whole);
  wholeUtf8.start();
  for (char16_t unit : units) wholeUtf8.put(unit);
  EXPECT_TRUE(wholeUtf8.flush());
  EXPECT_EQ(whole.bytes(), expected);
  // Every unit in a block of its own: pairs arrive in pieces.
  MemorySink split;
  Utf8Encoder splitUtf8(split);
  splitUtf8.start();
  for (char16_t unit : units) {
    splitUtf8.put(unit);
    EXPECT_TRUE(splitUtf8.flush());
  }
  EXPECT_EQ(split.bytes(), expected);
}

TEST(Utf8Encoder, FailureOfTheTargetSticks) {
  MemorySink target(2);
  Utf8Encoder sink(target);
  sink.put(u'a');
  EXPECT_TRUE(sink.flush());
  sink.put(u'\u00E9');
  EXPECT_FALSE(sink.flush());
  EXPECT_EQ(sink.error(), ENOSPC);
  sink.put(u'c');
  EXPECT_FALSE(sink.flush());
  EXPECT_EQ(target.bytes(), "a\xC3");
}

}  // namespace
}  // namespace quarvel
