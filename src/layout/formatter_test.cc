#include "layout/formatter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "layout/allocation.h"
#include "layout/line_breaking.h"
#include "layout/out_of_memory.h"
#include "test_support/utf16.h"

namespace quarvel {
namespace {

using testing::readable;
using testing::rows;

// In a script, this unit stands for an explicit breakLine.
constexpr char16_t kBreak = 0xE000;

struct BuildCase {
  const char* name;
  int32_t width;
  int32_t rightMargin;
  int32_t pre;
  std::u16string script;  // put through putChar, then finishBlock
  std::string expected;   // rows printed with leftMargin 0
  Wrap wrap = Wrap::kChar;
};

void PrintTo(const BuildCase& c, std::ostream* os) { *os << c.name; }

class LineBuilderTest : public ::testing::TestWithParam<BuildCase> {};

TEST_P(LineBuilderTest, EmitsExpectedRows) {
  const BuildCase& c = GetParam();
  MemoryText sink;
  LineStyle style;
  style.leftMargin = 0;
  style.width = c.width;
  style.rightMargin = c.rightMargin;
  style.pre = c.pre;
  style.wrap = c.wrap;
  style.out = &sink;
  Formatter f;
  for (char16_t ch : c.script) {
    if (ch == kBreak) {
      f.breakLine(style);
    } else {
      f.putChar(ch, style);
    }
    EXPECT_TRUE(f.current() == nullptr || f.current()->glyphs.sumsHold());
    EXPECT_TRUE(f.pending() == nullptr || f.pending()->glyphs.sumsHold());
  }
  f.finishBlock(style);
  EXPECT_EQ(f.current(), nullptr);
  EXPECT_EQ(f.pending(), nullptr);
  EXPECT_EQ(readable(sink.bytes()), readable(c.expected));
}

const std::u16string k31Ideographs(31, u'字');
const std::u16string k62Letters(62, u'a');

INSTANTIATE_TEST_SUITE_P(
    LineBuilder, LineBuilderTest,
    ::testing::Values(
        BuildCase{"IdeographsFillExactly", 62, 6, 0, k31Ideographs + u"字",
                  rows({k31Ideographs, u"字"})},
        BuildCase{"FullStopHangs", 62, 6, 0, k31Ideographs + u"。」」字",
                  rows({k31Ideographs + u"。」」", u"字"})},
        BuildCase{"FourthClosingCharBreaks", 62, 6, 0, k31Ideographs + u"。」」」",
                  rows({k31Ideographs + u"。」」", u"」"})},
        BuildCase{"LettersFillAndPeriodHangs", 62, 6, 0, k62Letters + u".b",
                  rows({k62Letters + u".", u"b"})},
        BuildCase{"SixtyThirdLetterWraps", 62, 6, 0, k62Letters + u"b", rows({k62Letters, u"b"})},
        BuildCase{"OpeningBracketCarried", 10, 6, 0, u"あいうえ（か", rows({u"あいうえ", u"（か"})},
        BuildCase{"CarriedBracketCountsInWidth", 10, 6, 0, u"あいうえ（かきくけこ",
                  rows({u"あいうえ", u"（かきくけ", u"こ"})},
        BuildCase{"NegativeRightMarginBreaksBeforeClosingChar", 4, -2, 0, u"ab。c",
                  rows({u"ab", u"。c"})},
        BuildCase{"RunOfOpeningCharsKeepsOrder", 10, 6, 0, u"あいう「（か",
                  rows({u"あいう", u"「（か"})},
        BuildCase{"LoneBracketStays", 2, 6, 0, u"（あ", rows({u"（", u"あ"})},
        BuildCase{"ParenAfterTwoLetters", 3, 6, 0, u"ab(c", rows({u"ab", u"(c"})},
        BuildCase{"CarryStopsAtTwoColumns", 3, 0, 0, u"$$$c", rows({u"$$", u"$c"})},
        BuildCase{"ExplicitBreakCarries", 62, 6, 0, u"abc（\uE000def", rows({u"abc", u"（def"})},
        BuildCase{"DoubleBreakGivesEmptyLine", 62, 6, 0, u"ab\uE000\uE000", rows({u"ab", u""})},
        BuildCase{"BreakWithNothingGivesEmptyLine", 62, 6, 0, u"\uE000", rows({u""})},
        BuildCase{"WideCharWiderThanLimit", 1, 0, 0, u"あい", rows({u"あ", u"い"})},
        BuildCase{"SpaceMayBeginALine", 3, 0, 0, u"abc d", rows({u"abc", u" d"})},
        BuildCase{"PreLineEnds", 2, 0, 1, u"abc\r\nd\n\n\te（",
                  rows({u"abc", u"d", u"", u"\te（"})},
        BuildCase{"BlockEndKeepsBracket", 62, 6, 0, u"ab（", rows({u"ab（"})},
        // Carrying a run: what stays is the glyphs before it and, while they
        // are narrower than 3 columns, the first one or two of the run.
        BuildCase{"RunCoveringTheLineLeavesTwoColumns", 5, 0, 0, u"((((((a",
                  rows({u"((", u"((((a"})},
        BuildCase{"WideRunCoveringTheLineLeavesOneGlyph", 6, 0, 0, u"（（（（x",
                  rows({u"（", u"（", u"（（x"})},
        BuildCase{"RunOfMixedWidthsLeavesItsFirstGlyph", 5, 0, 0, u"$（((b",
                  rows({u"$", u"（((b"})},
        BuildCase{"RunAfterALetterLeavesOneOfIt", 5, 0, 0, u"a((((b", rows({u"a(", u"(((b"})},
        BuildCase{"OneColumnRemainderBeforeWideRun", 5, 0, 0, u"a（（b", rows({u"a", u"（（b"})},
        BuildCase{"TwoColumnRemainderKeepsNoneOfTheRun", 5, 0, 0, u"ab(((c",
                  rows({u"ab", u"(((c"})},
        BuildCase{"BreaksAfterALongRunCarryAgain", 62, 6, 0, u"ab(((((((((\uE000\uE000\uE000c",
                  rows({u"ab", u"((", u"((", u"(((((c"})},
        // A surrogate pair goes onto a line whole, 4 columns wide.
        BuildCase{"PairAtTheLimitMovesWhole", 3, 0, 0, u"a\U0001F600b",
                  rows({u"a", u"\U0001F600", u"b"})},
        BuildCase{"PairFillsTheLimitExactly", 5, 0, 0, u"a\U0001F600b",
                  rows({u"a\U0001F600", u"b"})},
        BuildCase{"PairsAtWidthZero", 0, 0, 0, u"\U0001F600\U0001F600",
                  rows({u"\U0001F600", u"\U0001F600"})},
        BuildCase{"PairAtWidthOne", 1, 0, 0, u"a\U0001F600(", rows({u"a", u"\U0001F600", u"("})},
        // Word mode through putChar: every space is placed (as a space
        // element's is), and every line end trims.
        BuildCase{"WordBreakTrimsEveryEnd", 6, 0, 0, u"ab  \uE000  cd ef  ",
                  rows({u"ab", u"  cd", u"ef"}), Wrap::kWord},
        BuildCase{"TrimCarryTrim", 6, 0, 0, u"ab (( x", rows({u"ab", u"((x"}), Wrap::kWord},
        // The word joins the word of the carried glyphs before it, and then
        // is too wide to move with them; after a carried bracket, which no
        // word takes, it moves again.
        BuildCase{"WordJoinsCarriedWordUnits", 8, 0, 0, u"x (( abcdefg",
                  rows({u"x", u"((abcdef", u"g"}), Wrap::kWord},
        BuildCase{"WordLeavesCarriedBracketBehind", 5, 0, 0, u"x「((yzzz",
                  rows({u"x", u"「", u"((yzz", u"z"}), Wrap::kWord}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineBuilder, TablesHoldTheListedEntries) {
  EXPECT_EQ(std::u16string_view(kNoLineStart).size(), 51u);
  EXPECT_EQ(std::u16string_view(kNoLineEnd).size(), 21u);
  EXPECT_TRUE(isNoLineStart(0xFFE0));
  EXPECT_TRUE(isNoLineStart(0xFF9F));
  EXPECT_FALSE(isNoLineStart(u'('));
  EXPECT_TRUE(isNoLineEnd(u'\\'));
  EXPECT_FALSE(isNoLineEnd(0x00A5));
  EXPECT_TRUE(isNoLineEnd(0xFFE5));
  // The table, built a segment at a time, against its definition unit by unit.
  for (uint32_t c = 0; c <= 0xFFFF; ++c) {
    const auto unit = static_cast<char16_t>(c);
    bool breakable = false;
    for (const UnitRange& range : kBreakableRanges)
      breakable = breakable || (unit >= range.first && unit <= range.last);
    ASSERT_EQ(isWordUnit(unit), unit != u' ' && !breakable) << std::hex << c;
    ASSERT_EQ(unitWidth(unit), displayWidth(unit)) << std::hex << c;
  }
}

TEST(LineBuilder, WidthTestUsesTheStyleThatComesWithEachCharacter) {
  MemoryText sink;
  LineStyle narrow;
  narrow.width = 3;
  narrow.leftMargin = 0;
  narrow.out = &sink;
  LineStyle wide = narrow;
  wide.width = 10;
  Formatter f;
  for (char16_t ch : std::u16string_view(u"abc")) f.putChar(ch, narrow);
  for (char16_t ch : std::u16string_view(u"defghijk")) f.putChar(ch, wide);
  f.finishBlock(wide);
  EXPECT_EQ(readable(sink.bytes()), readable(rows({u"abcdefghij", u"k"})));
}

TEST(LineBuilder, CarriedGlyphKeepsUnderlineAndTakesStyleOfTheBreak) {
  LineStyle style;
  style.width = 3;
  style.direct = 0;
  Formatter f;
  style.underline = u'_';
  f.putChar(u'a', style);
  f.putChar(u'b', style);
  f.putChar(u'(', style);
  style.underline = NoUnderline;
  style.align = kAlignRight;
  f.breakLine(style);
  ASSERT_NE(f.current(), nullptr);
  EXPECT_EQ(f.current()->glyphs.first(), f.current()->lastGlyph());
  EXPECT_EQ(f.current()->lastGlyph()->ch, u'(');
  EXPECT_EQ(f.current()->lastGlyph()->underline, u'_');
  EXPECT_EQ(f.current()->style.align, kAlignRight);
  EXPECT_EQ(f.pending()->style.align, kAlignLeft);
}

TEST(LineBuilder, CarriedRunKeepsItsUnderlinesInOrder) {
  MemoryText sink;
  LineStyle style;
  style.width = 5;
  style.rightMargin = 0;
  style.leftMargin = 0;
  style.out = &sink;
  Formatter f;
  const struct {
    char16_t ch;
    char16_t underline;
  } puts[] = {{u'a', u'_'}, {u'(', u'='}, {u'(', u'='},
              {u'(', u'-'}, {u'(', u'-'}, {u'b', NoUnderline}};
  for (const auto& p : puts) {
    style.underline = p.underline;
    f.putChar(p.ch, style);
  }
  f.finishBlock(style);
  EXPECT_EQ(readable(sink.bytes()), readable(rows({u"a(", u"_=", u"(((b", u"=-- "})));
}

TEST(LineBuilder, KeptLinesInOrderWithoutPrinting) {
  MemoryText sink;
  LineStyle style;
  style.width = 2;
  style.direct = 0;
  style.out = &sink;
  Formatter f;
  f.putText(u"ab\ncd\te", style);
  EXPECT_EQ(f.kept().first(), f.kept().last());
  f.finishBlock(style);
  std::u16string seen;
  for (ListNode* n = f.kept().first(); !n->isEnd(); n = n->next) {
    forEachGlyph(*static_cast<Line*>(n), [&](const Glyph& g) { seen += g.ch; });
    seen += u'|';
  }
  EXPECT_EQ(seen, u"ab|cd|e|");
  EXPECT_TRUE(sink.bytes().empty());
}

TEST(LineBuilder, PendingThenCurrentTransitions) {
  LineStyle style;
  style.width = 2;
  style.direct = 0;
  Formatter f;
  f.finishBlock(style);
  EXPECT_TRUE(f.kept().empty());
  f.putText(u"abc", style);
  ASSERT_NE(f.pending(), nullptr);
  ASSERT_NE(f.current(), nullptr);
  EXPECT_EQ(f.pending()->lineWidth(), 2);
  f.flushPending(style);
  EXPECT_EQ(f.pending(), nullptr);
  EXPECT_NE(f.current(), nullptr);
  EXPECT_FALSE(f.kept().empty());
}

// Makes the n-th layout allocation from now fail, and restores the gate.
class FailingAllocation {
 public:
  explicit FailingAllocation(uint64_t n) { AllocationGate::failAt(n); }
  ~FailingAllocation() { AllocationGate::failAt(0); }
};

TEST(OutOfMemory, EveryAllocationFailureStopsCleanlyWithTheMessage) {
  // Each allocation of a small wrapping, carrying run fails in turn, in both
  // modes (word mode moving words); the run must stop with the message,
  // never leak (checked under the sanitizer build) and leave a Formatter
  // that destroys cleanly.
  for (const auto& [wrap, script] :
       {std::pair<Wrap, std::u16string>(Wrap::kChar, u"ab(cdefg（h"),
        std::pair<Wrap, std::u16string>(Wrap::kWord, u"a (bc de f（g")})
    for (uint64_t n = 1;; ++n) {
      MemoryText sink;
      LineStyle style;
      style.width = 3;
      style.wrap = wrap;
      style.out = &sink;
      bool stopped = false;
      {
        Formatter f;
        FailingAllocation fail(n);
        ::testing::internal::CaptureStderr();
        // The stop throws CaException and the one place that catches it
        // writes the message.
        const bool completed = completesOrRunsOut([&] {
          try {
            f.putText(script, style);
            f.finishBlock(style);
          } catch (const CaException&) {
            stopped = true;
            throw;
          }
        });
        EXPECT_EQ(completed, !stopped);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  stopped ? "kestrown: Out of Memory, Process Terminated\n" : "");
      }
      if (!stopped) {
        EXPECT_GT(n, 10u);
        break;
      }
    }
}

TEST(OutOfMemory, BudgetMakesAllocationYieldNothing) {
  // Slots that earlier tests freed are served within the budget; more
  // glyphs than fit in what is already held need a chunk that does not fit.
  AllocationGate::setBudget(AllocationGate::bytesHeld() + 64 * sizeof(Glyph));
  const std::size_t enough = AllocationGate::bytesHeld() / sizeof(Glyph) + 1;
  LineStyle style;
  style.pre = 1;
  style.direct = 0;
  bool stopped = false;
  {
    Formatter f;
    ::testing::internal::CaptureStderr();
    try {
      for (std::size_t i = 0; i < enough; ++i) f.putUnwrapped(u' ', style);
    } catch (const CaException&) {
      stopped = true;
    }
    ::testing::internal::GetCapturedStderr();
  }
  AllocationGate::reset();
  EXPECT_TRUE(stopped);
}

}  // namespace
}  // namespace quarvel
