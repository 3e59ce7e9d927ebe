#include "markup/walker.h"

#include <gtest/gtest.h>

#include <string>

#include "document/xml_document.h"
#include "layout/allocation.h"
#include "layout/formatter.h"
#include "layout/line_style.h"
#include "markup/integer_rule.h"
#include "markup/vocabulary.h"
#include "platform/text_output.h"
#include "test_support/utf16.h"

namespace quarvel {
namespace {

using testing::readable;
using testing::rows;
using testing::utf16le;

struct DocumentCase {
  const char* name;
  std::string xml;
  std::string expected;
};

void PrintTo(const DocumentCase& c, std::ostream* os) { *os << c.name; }

std::string format(const std::string& xml) {
  XmlDocument document;
  document.loadMemory(xml, "test.xml", LoadSettings{.keepsBlanksWithin = keepsBlanksWithin});
  EXPECT_EQ(document.parseError().errorCode, 0) << xml;
  // One flow with the default settings, finished as the formatting run
  // finishes it.
  MemoryText sink;
  Formatter top;
  LineStyle style;
  style.out = &sink;
  walkNode(FormatState{top, style}, document.documentElement());
  top.finishBlock(style);
  return sink.bytes();
}

class WalkerTest : public ::testing::TestWithParam<DocumentCase> {};

TEST_P(WalkerTest, FormatsDocument) {
  const DocumentCase& c = GetParam();
  EXPECT_EQ(readable(format(c.xml)), readable(c.expected));
}

const std::u16string kWide60 = std::u16string(60, u'x');

INSTANTIATE_TEST_SUITE_P(
    Elements, WalkerTest,
    ::testing::Values(
        DocumentCase{"TypicalRun", "<quarvel><center>Title</center><left>abc</left></quarvel>",
                     rows({std::u16string(32, u' ') + u"Title", u"    abc"})},
        DocumentCase{"RootTextIsFinished", "<quarvel>Hello</quarvel>", rows({u"    Hello"})},
        DocumentCase{"EmptyRoot", "<quarvel/>", ""},
        // The document element's settings hold to its final block end (the
        // trailing space is trimmed); a nested quarvel reads none of them.
        DocumentCase{"RootSettingsHoldToTheEnd", "<QUARVEL wrap='word'>a\n b </QUARVEL>",
                     rows({u"    a b"})},
        // Strict line breaking: the added characters hang as the table's do,
        // and a word does not begin with one; normal keeps the table alone.
        DocumentCase{"StrictSoundMarkHangs",
                     "<quarvel><div width='8' linebreak='strict'>アイスコーヒー</div>"
                     "<div width='8'>アイスコーヒー</div></quarvel>",
                     rows({u"    アイスコー", u"    ヒー", u"    アイスコ", u"    ーヒー"})},
        DocumentCase{"StrictSmallKanaAndLeadersHang",
                     "<quarvel linebreak='strict'><div width='4' rightmargin='2'>ちょっと"
                     "<br/>abc…d<br/>abc〜<br/>abc゠<br/>abcdｯ</div></quarvel>",
                     rows({u"    ちょっ", u"    と", u"    abc…", u"    d", u"    abc〜",
                           u"    abc゠", u"    abcdｯ"})},
        DocumentCase{"StrictWordDoesNotBeginWithLeader",
                     "<quarvel wrap='word' linebreak='strict'><div width='5' rightmargin='0'>"
                     "ab …cd</div><div width='5' rightmargin='0' linebreak='normal'>ab …cd</div>"
                     "</quarvel>",
                     rows({u"    ab …", u"    cd", u"    ab", u"    …cd"})},
        // Unicode widths: one column for most European text, two for wide
        // characters and emoji, none for marks; a cluster is placed whole and
        // carried, hung and kept in a word as its first character is.
        DocumentCase{"UnicodeWidthsAlignAMenu",
                     "<quarvel widths='unicode'><div width='20'><right>Crème brûlée £6.50</right>"
                     "<right>Apple pie £4.00</right></div></quarvel>",
                     rows({u"      Crème brûlée £6.50", u"         Apple pie £4.00"})},
        DocumentCase{"ClusterStaysWhole",
                     "<quarvel widths='unicode'><div width='4'>cafe&#x301;s</div></quarvel>",
                     rows({u"    cafe\u0301", u"    s"})},
        DocumentCase{"FixedWidthsSplitCluster",
                     "<quarvel><div width='4'>cafe&#x301;s</div></quarvel>",
                     rows({u"    cafe", u"    \u0301s"})},
        DocumentCase{"UnicodeWideCharactersAndFlags",
                     "<quarvel widths='unicode'><div width='4' rightmargin='0'>"
                     "&#x1F1EF;&#x1F1F5;&#x1F1EB;&#x1F1F7;x&#x1F600;&#x20BB7;</div></quarvel>",
                     rows({u"    \U0001F1EF\U0001F1F5\U0001F1EB\U0001F1F7", u"    x\U0001F600",
                           u"    \U00020BB7"})},
        DocumentCase{"ClusterCarriedAndKeptInWord",
                     "<quarvel widths='unicode'><div width='3'>ab(&#x301;c</div>"
                     "<div width='4' rightmargin='0' wrap='word'>ab漢&#xFE0F;c</div></quarvel>",
                     rows({u"    ab", u"    (\u0301c", u"    ab漢\uFE0F", u"    c"})},
        DocumentCase{"ZeroWidthGlyphsMakeARow",
                     "<quarvel widths='unicode'><left>&#x200B;</left><underline char='&#x301;'>"
                     "<left>a&#x301;b</left></underline></quarvel>",
                     rows({u"    \u200B", u"    a\u0301b", u"    \uFFFD\uFFFD"})},
        DocumentCase{"NestedRootReadsNoSettings",
                     "<quarvel><quarvel wrap='word'>a\nb</quarvel><div wrap='word'>c\nd</div>"
                     "</quarvel>",
                     rows({u"    ab", u"    c d"})},
        DocumentCase{"NamesIgnoreCaseAttributesDoNot",
                     "<quarvel><CENTER><Div WIDTH='3' width='10'>ab</Div></CENTER></quarvel>",
                     rows({u"        ab"})},
        DocumentCase{"UnderlineDoesNotLeak",
                     "<quarvel><center><underline>ab</underline>cd</center>ef</quarvel>",
                     rows({std::u16string(33, u' ') + u"abcd", std::u16string(33, u' ') + u"--  ",
                           u"    ef"})},
        DocumentCase{"UnderlineCharTakesFirstUnit",
                     "<quarvel><left><underline char='=~'>a<underline char=''>b</underline>"
                     "</underline></left></quarvel>",
                     rows({u"    ab", u"    =-"})},
        // The character is outside the BMP: U+FFFD stands in, 2 columns
        // wide like the half it replaces.
        DocumentCase{"SurrogatePairsStayWholeAndUnderlineWithReplacement",
                     "<quarvel><div width='3' rightmargin='0'>a\U0001F600\U0001F600b</div>"
                     "<underline char='\U0001F600'>xyz</underline></quarvel>",
                     rows({u"    a", u"    \U0001F600", u"    \U0001F600", u"    b", u"    xyz",
                           u"    \uFFFD\uFFFD"})},
        DocumentCase{
            "SpaceRepeat",
            "<quarvel><left>a<space/>b<space repeat=''/>c<space repeat='0'/>"
            "<space repeat='-2'/><space repeat='x'/>d<space repeat=' 3'/>e</left></quarvel>",
            rows({u"    a b cd   e"})},
        DocumentCase{"SpaceWrapsOutsidePreNotInside",
                     "<quarvel><div width='3'>ab<space repeat='3'/>c</div>"
                     "<pre><div width='3'>ab<space repeat='3'/>c</div></pre></quarvel>",
                     rows({u"    ab ", u"      c", u"    ab   c"})},
        DocumentCase{"BreaksInBlock",
                     "<quarvel><left>a<br/></left><left>b<br/><br/></left><left><br/>c</left>"
                     "</quarvel>",
                     rows({u"    a", u"    b", u"", u"", u"    c"})},
        DocumentCase{"BreakCarriesOpeningBracket",
                     "<quarvel><left>abc（<br/>d</left><left>（<br/>e</left></quarvel>",
                     rows({u"    abc", u"    （d", u"    （", u"    e"})},
        DocumentCase{"DivSetsWidthAndMargins",
                     "<quarvel><div width='4' leftmargin='1' rightmargin='0'>abcdef。</div>"
                     "<div width='abc'>xy</div></quarvel>",
                     rows({u" abcd", u" ef。", u"    x", u"    y"})},
        DocumentCase{
            "NestedDivsRestoreWidth",
            "<quarvel><div width='6'>abcdefg<div width='2'>hijk</div>lmnopqrs</div>"
            "</quarvel>",
            rows({u"    abcdef", u"    g", u"    hi", u"    jk", u"    lmnopq", u"    rs"})},
        DocumentCase{"PreKeepsLinesAndIsLeftAligned",
                     "<quarvel><center><pre>\nab  c\r\n\tdefghij</pre></center></quarvel>",
                     rows({u"", u"    ab  c", u"    \tdefghij"})},
        DocumentCase{"SourceLineFeedsVanishOutsidePre",
                     "<quarvel><left>one\n  two\tthree</left></quarvel>",
                     rows({u"    one  twothree"})},
        DocumentCase{"NonbreakFitsUpToTheLimit",
                     "<quarvel><div width='10'>abcdefgh<nonbreak>ABCDEFGH</nonbreak>"
                     "<nonbreak>Z</nonbreak></div></quarvel>",
                     rows({u"    abcdefghABCDEFGH", u"    Z"})},
        DocumentCase{"NonbreakTooLongGoesWholeOnNextLine",
                     "<quarvel><div width='10'>abcdefgh<nonbreak>ABCDEFGHI</nonbreak>j"
                     "<nonbreak>12345678901234567890</nonbreak></div></quarvel>",
                     rows({u"    abcdefgh", u"    ABCDEFGHIj", u"    12345678901234567890"})},
        DocumentCase{"NonbreakIgnoresInnerElements",
                     "<quarvel><left><nonbreak>a<br/><underline>b</underline>&#10;c</nonbreak>"
                     "</left></quarvel>",
                     rows({u"    abc"})},
        // A line end in a nonbreak vanishes in char mode; in word mode a run
        // of white space that holds one is one space, other runs stay.
        DocumentCase{"NonbreakLineEnds",
                     "<quarvel><left><nonbreak>a\r\nb</nonbreak></left><div wrap='word'>"
                     "<nonbreak>a \n\t b\tc  d\ne</nonbreak></div></quarvel>",
                     rows({u"    ab", u"    a b\tc  d e"})},
        DocumentCase{"EmptyNonbreakGivesEmptyLine", "<quarvel><left><nonbreak/></left></quarvel>",
                     rows({u""})},
        DocumentCase{"NonbreakInsidePreBreaksAtLineFeeds",
                     "<quarvel><pre><nonbreak>a&#10;b</nonbreak></pre></quarvel>",
                     rows({u"    a", u"    b"})},
        DocumentCase{"CommentsAndPisContributeNothing",
                     "<quarvel><left>a<!-- x --><?pi y?>b<![CDATA[<c>]]></left></quarvel>",
                     rows({u"    ab<c>"})},
        DocumentCase{"UnknownElementsAreContainers",
                     "<quarvel><left><x:b xmlns:x='u'>a</x:b><left2>b</left2></left></quarvel>",
                     rows({u"    ab"})}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Columns, WalkerTest,
    ::testing::Values(
        DocumentCase{"TwoColumns",
                     "<quarvel><par><div width='5' leftmargin='1' rightmargin='0'>abcdefg</div>"
                     "<div width='4' leftmargin='0' rightmargin='1'>xy</div></par></quarvel>",
                     rows({u" abcdexy", u" fg"})},
        DocumentCase{"NoDivPrintsNothing",
                     "<quarvel><left>a</left><par>text<b>x</b></par>b</quarvel>",
                     rows({u"    a", u"    b"})},
        DocumentCase{"ShorterFirstColumnLeavesItsFieldInSpaces",
                     "<quarvel><par><DIV width='1' leftmargin='0' rightmargin='0'>ab</DIV>"
                     "junk<div width='1' leftmargin='0' rightmargin='0'>wxyz</div></par></quarvel>",
                     rows({u"aw", u"bx", u" y", u" z"})},
        DocumentCase{"PairsStayWholeInNarrowColumns",
                     "<quarvel><par><div width='1' leftmargin='0' rightmargin='0'>\U0001F600a</div>"
                     "<div width='0' leftmargin='0' rightmargin='0'>\U0001F600\U0001F600</div>"
                     "</par></quarvel>",
                     rows({u"\U0001F600\U0001F600", u"a\U0001F600"})},
        DocumentCase{
            "ExhaustedColumnsPadOnlyTheirField",
            "<quarvel><par><div width='1' leftmargin='0' rightmargin='0'>ab</div>"
            "<div width='0' leftmargin='0' rightmargin='0'/>"
            "<div width='0' leftmargin='0' rightmargin='0'>c</div>"
            "<div width='1' leftmargin='0' rightmargin='0'>xyz</div><div/></par></quarvel>",
            rows({u"acx", u"by", u" z"})},
        DocumentCase{"EmptyMiddleColumn",
                     "<quarvel><par><div width='1' leftmargin='0' rightmargin='0'>ab</div>"
                     "<div width='2' leftmargin='0' rightmargin='1'/>"
                     "<div width='1' leftmargin='0' rightmargin='0'>c</div></par></quarvel>",
                     rows({u"a   c", u"b"})},
        DocumentCase{"UnderlinedColumnSitsBesideItsText",
                     "<quarvel><par><div width='3' leftmargin='0' rightmargin='0'>"
                     "<underline>ab</underline></div>"
                     "<div width='3' leftmargin='0' rightmargin='0'>z</div></par></quarvel>",
                     rows({u"ab -- z"})},
        // The last column's underline row starts at its own left margin from
        // the page edge, not under its text.
        DocumentCase{"UnderlinedLastColumnStartsAtItsOwnMargin",
                     "<quarvel><par><div width='3' leftmargin='0' rightmargin='0'>ab</div>"
                     "<div width='3' leftmargin='1' rightmargin='0'>x<underline>yz</underline>"
                     "</div></par></quarvel>",
                     rows({u"ab  xyz", u"  --"})},
        DocumentCase{"InnerParPrintsFirst",
                     "<quarvel><par><div width='3' leftmargin='0' rightmargin='0'>ab"
                     "<par><div width='3' leftmargin='0' rightmargin='0'>in</div></par>cd</div>"
                     "<div width='3' leftmargin='0' rightmargin='0'>z</div></par></quarvel>",
                     rows({u"in", u"ab z", u"cd"})}),
    [](const auto& info) { return std::string(info.param.name); });

// A div of word mode, `width` wide, without margins.
std::string wordDiv(int width, const std::string& body) {
  return "<quarvel><div wrap='word' width='" + std::to_string(width) +
         "' leftmargin='0' rightmargin='0'>" + body + "</div></quarvel>";
}

INSTANTIATE_TEST_SUITE_P(
    WordMode, WalkerTest,
    ::testing::Values(
        // Whole documents: an English notice over indented source lines, and
        // Japanese prose followed by English.
        DocumentCase{
            "EnglishNotice",
            "<quarvel>\n  <div wrap=\"word\" width=\"30\">\n    The water supply to "
            "blocks A and B will be switched off on Tuesday\n    between 9:00 and 13:00 "
            "while the main valve (the old one) is replaced,\n    \"as agreed\".\n  "
            "</div>\n</quarvel>",
            rows({u"    The water supply to blocks A", u"    and B will be switched off on",
                  u"    Tuesday between 9:00 and 13:00", u"    while the main valve (the old",
                  u"    one) is replaced, \"as agreed\"."})},
        DocumentCase{
            "JapaneseThenEnglish",
            "<quarvel><div wrap='word' width='30'>日本語の文章は、単語の区切りがないので一文"
            "字ずつ折り返されます。English words (like these) stay whole.</div></quarvel>",
            rows({u"    日本語の文章は、単語の区切りが", u"    ないので一文字ずつ折り返されま",
                  u"    す。English words (like these)", u"    stay whole."})},
        // A line end between two wide characters is no space: in one node,
        // across elements (a dropped run counts), before a nonbreak, with
        // U+200B on either side; it stays before English, Hangul, a space
        // element and when no line end is in the white space.
        DocumentCase{"LineEndBetweenWideCharactersVanishes",
                     wordDiv(32,
                             "館内の\n写真 English\nwords 日本語\nEnglish あ <b/>\n い"
                             "<br/>あ\n<nonbreak>い</nonbreak>\r\n&#x200B;\nx　\n한<br/>あ\n"
                             "<space/>い う\tえ"),
                     rows({u"館内の写真 English words 日本語", u"English あい", u"あい\u200Bx　 한",
                           u"あ  い う え"})},
        DocumentCase{"JoinedCharacterFitsWithoutTheSpace",
                     "<quarvel><div wrap='word' width='4' rightmargin='0' leftmargin='0'>あ\n"
                     "いう</div></quarvel>",
                     rows({u"あい", u"う"})},
        // White space of text: one space, none at a line's start or after a
        // space, none that would end a line; blank nodes count, but not in
        // pre or nonbreak; spaces of elements stay.
        DocumentCase{"TextWhiteSpaceIsOneSpace",
                     wordDiv(30, "\n  one\t two \r\n three<space/> four <b>five</b>  "),
                     rows({u"one two three four five"})},
        DocumentCase{"SpaceThatDoesNotFitEndsTheLine", wordDiv(7, "abcdefg hij「（ x"),
                     rows({u"abcdefg", u"hij", u"「（x"})},
        DocumentCase{"BlankNodesBetweenElements",
                     wordDiv(20,
                             "<underline>ab</underline> <underline>cd</underline>\n"
                             "<nonbreak>x y</nonbreak> <nonbreak>z</nonbreak>"),
                     rows({u"ab cd x y z", u"-- --      "})},
        DocumentCase{"PreNonbreakAndSpaceElementsAsInCharMode",
                     wordDiv(20,
                             "<pre>a  b <b>x</b> <b>y</b></pre>"
                             "<nonbreak>c <b>d</b> <b>e</b></nonbreak><space repeat='2'/>f"),
                     rows({u"a  b xy", u"c de  f"})},
        // Which units make words: "(word," is one, ideographs and pairs
        // are none.
        DocumentCase{"WordsOfLettersAndPunctuation", wordDiv(7, "xy (word,<br/>日本語abc"),
                     rows({u"xy", u"(word,", u"日本語", u"abc"})},
        DocumentCase{"PairsAndIdeographsBreakAnywhere", wordDiv(6, "ab\U0001F600cd a日本語"),
                     rows({u"ab\U0001F600", u"cd a日", u"本語"})},
        // Breaking: the trailing word moves with the unit that overflows,
        // unless only spaces would stay, it begins with closing punctuation,
        // it and the unit would not fit, or it would reach into a nonbreak.
        DocumentCase{"LongWordBreaksByCharacters", wordDiv(5, "ab cdefghij"),
                     rows({u"ab", u"cdefg", u"hij"})},
        DocumentCase{"OnlySpacesWouldStay", wordDiv(4, "<space/>abcdef"), rows({u" abc", u"def"})},
        DocumentCase{"ClosingPunctuationStaysPut",
                     "<quarvel><div wrap='word' width='6' leftmargin='0'>日本語,x</div></quarvel>",
                     rows({u"日本語,", u"x"})},
        DocumentCase{"WordAndUnitMustFitTheWidth", wordDiv(5, "ｱabcé<br/>ｱabcdé"),
                     rows({u"ｱ", u"abcé", u"ｱabcd", u"é"})},
        DocumentCase{"WordReachesBackToTheEndOfANonbreak",
                     wordDiv(8, "x <nonbreak>a b</nonbreak>cdefg"), rows({u"x a b", u"cdefg"})},
        DocumentCase{"EmptyNonbreakEndsNoWord", wordDiv(5, "x ab<nonbreak/>cde"),
                     rows({u"x", u"abcde"})},
        DocumentCase{"CarriedNonbreakGlyphStaysOutOfWords",
                     wordDiv(6, "xy<nonbreak>(</nonbreak>abcdefg"),
                     rows({u"xy", u"(", u"abcdef", u"g"})},
        DocumentCase{"WordFollowsCarriedBracket", wordDiv(8, "あ「abcde"),
                     rows({u"あ", u"「abcde"})},
        DocumentCase{"NonbreakThatDoesNotFitTakesNoWord",
                     wordDiv(8, "ab cd<nonbreak>efgh</nonbreak>"), rows({u"ab cd", u"efgh"})},
        // Line ends: trailing spaces go, with their underline, before and
        // after carrying; alignment does without them; a line they were
        // all of is still printed.
        DocumentCase{"TrailingSpacesGoAtEveryEnd",
                     "<quarvel><right><div wrap='word' width='10' leftmargin='0'>ab<space "
                     "repeat='3'/><br/>cd <underline>ef </underline></div></right></quarvel>",
                     rows({u"        ab", u"     cd ef", u"        --"})},
        DocumentCase{"TrimCarryAndTrimAgain", wordDiv(6, "ab (( x"), rows({u"ab", u"((x"})},
        DocumentCase{"LineOfSpacesIsAnEmptyRow", wordDiv(6, "<space/><br/>x"), rows({u"", u"x"})},
        // The setting: exact values only, inherited, by the block begun in
        // it, and per column.
        DocumentCase{
            "WrapValuesAndInheritance",
            "<quarvel><div wrap='word' width='4' leftmargin='0'><div wrap='WORD'>ab "
            "cd</div><div wrap=''>ab cd</div>ab <div wrap='char'>ab cd </div>ef "
            "</div><div wrap='Word' width='4' leftmargin='0'>ab cd</div></quarvel>",
            rows({u"ab", u"cd", u"ab", u"cd", u"ab", u"ab c", u"d ", u"ef", u"ab c", u"d"})},
        DocumentCase{"ColumnsFollowTheirOwnDiv",
                     "<quarvel><div wrap='word'><par> <div width='5' leftmargin='0' "
                     "rightmargin='0'>ab cdef</div> <div wrap='char' width='5' leftmargin='0' "
                     "rightmargin='0'>ab cdef</div> </par></div></quarvel>",
                     rows({u"ab   ab cd", u"cdef ef"})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IntegerRule, ReadsLikeTheCLibraryAndSaturates) {
  struct {
    std::u16string_view text;
    int32_t value;
  } cases[] = {{u"12abc", 12},
               {u" \t\n7", 7},
               {u"abc", 0},
               {u"-3", -3},
               {u"+", 0},
               {u"-", 0},
               {u"", 0},
               {u"2147483647", 2147483647},
               {u"-2147483648", INT32_MIN},
               {u"2147483648", INT32_MAX},
               {u"99999999999999999999", INT32_MAX},
               {u"-99999999999999999999", INT32_MIN},
               {u"+-1", 0},
               {u"１２", 0}};
  for (const auto& c : cases)
    EXPECT_EQ(readInteger(c.text).value, c.value) << testing::readable(utf16le(c.text));
}

TEST(Walker, ExtremeWidthsAndMarginsDoNotOverflow) {
  // Sums of margins and widths at the ends of the 32-bit range are computed
  // without overflow (the sanitizer build traps any that is not).
  const std::string out = format(
      "<quarvel><center><div leftmargin='-2147483648' width='2147483647' "
      "rightmargin='2147483647'>ab）<nonbreak>cd</nonbreak></div></center>"
      "<right><div leftmargin='2' width='-2147483648' rightmargin='-2147483648'>x）</div></right>"
      "</quarvel>");
  EXPECT_EQ(readable(out), readable(rows({u"ab）cd", u"  x", u"  ）"})));
}

}  // namespace
}  // namespace quarvel
