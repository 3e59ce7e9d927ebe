#include "markup/document_check.h"

#include <gtest/gtest.h>

#include <string>

namespace quarvel {
namespace {

// Every finding as "LINE:COLUMN: MESSAGE\n", ASCII only.
std::string findingsOf(const std::string& xml) {
  XmlDocument document;
  document.loadMemory(xml, "doc.xml", LoadSettings{.recordPositions = true});
  EXPECT_EQ(document.parseError().errorCode, 0) << xml;
  std::string text;
  checkDocument(document.documentElement(), [&](const Finding& finding) {
    text += std::to_string(finding.at.line) + ":" + std::to_string(finding.at.column) + ": ";
    for (char16_t c : finding.message) text.push_back(c < 0x80 ? static_cast<char>(c) : '#');
    text += "\n";
    return true;
  });
  return text;
}

// The cases that the end-to-end table leaves out.
TEST(DocumentCheckTest, FindsWhatTheWalkerIgnores) {
  const struct {
    std::string document;
    std::string findings;
  } cases[] = {
      // Names match ignoring case; suggestions too; a far name gets none.
      {"<QUARVEL><Left/><CENTRE/><table/><xy/></QUARVEL>",
       "1:17: unknown element 'CENTRE'; did you mean 'center'?\n"
       "1:26: unknown element 'table'; columns side by side are a 'par' holding a 'div' for each "
       "column\n"
       "1:34: unknown element 'xy'\n"},
      // Attribute names are exact, each at its own place; xml:space and
      // namespace declarations are fine; a prefixed name is not read.
      {"<quarvel xml:space='preserve' xmlns='u' xmlns:q='v'><div Width='1' q:w='2'/></quarvel>",
       "1:58: element 'div' does not read attribute 'Width'; did you mean 'width'?\n"
       "1:68: attribute 'q:w' has a prefix, and prefixed names are not read (ignored)\n"},
      {"<quarvel><div wrap='words'/><space repeat=' +12 '/><space repeat='12px'/></quarvel>",
       "1:15: attribute 'wrap' value 'words' is neither 'word' nor 'char' (ignored)\n"
       "1:59: attribute 'repeat' value '12px' is not an integer (read as 12)\n"},
      // The document element reads the block settings; a nested quarvel none.
      {"<quarvel widths='wide' linebreak='strict'><div linebreak='loose'/>"
       "<quarvel wrap='word' q='1'/></quarvel>",
       "1:10: attribute 'widths' value 'wide' is neither 'fixed' nor 'unicode' (ignored)\n"
       "1:48: attribute 'linebreak' value 'loose' is neither 'normal' nor 'strict' (ignored)\n"
       "1:76: attribute 'wrap' is read only on the document element (ignored on a nested "
       "'quarvel')\n"
       "1:88: element 'quarvel' does not read attribute 'q'\n"},
      {"<quarvel><space repeat='-2147483648'/><space repeat='-2147483649'/></quarvel>",
       "1:17: attribute 'repeat' value '-2147483648' is negative (no space is put)\n"
       "1:46: attribute 'repeat' value '-2147483649' is out of range (read as -2147483648)\n"},
      // A lone surrogate half is not a character of its own: two units.
      {"<quarvel><underline char='&#x1F600;x'/><underline char='&#xE9;'/></quarvel>",
       "1:21: attribute 'char' value '##x' is more than one character (only the first is "
       "drawn)\n"},
      // Line ends: word mode until char mode; CDATA counts; pre and its content never.
      {"<quarvel><div wrap='word'>a\nb<div wrap='char'><![CDATA[c\nd]]></div></div>"
       "<pre><left>e\nf</left></pre>\n</quarvel>",
       "2:2: text holds line ends, which vanish here (words they alone separate run together); use "
       "pre, "
       "or wrap=\"word\" on a div\n"},
      // A nonbreak keeps its line ends: its text is placed as it stands.
      {"<quarvel><nonbreak>ab\ncd</nonbreak><left>e\nf</left></quarvel>",
       "2:14: text holds line ends, which vanish here (words they alone separate run together); "
       "use pre, or wrap=\"word\" on a div\n"},
      // The walker never walks the elements inside a nonbreak, however deep.
      {"<quarvel><nonbreak>ab<br/>c<left q='1'><br/></left></nonbreak></quarvel>",
       "1:22: element 'br' inside a nonbreak has no effect (only its text is placed)\n"
       "1:28: element 'left' inside a nonbreak has no effect (only its text is placed)\n"
       "1:40: element 'br' inside a nonbreak has no effect (only its text is placed)\n"},
      // Trailing white space: centred and in char mode only; at the br it
      // stands before, or at the block whose end it stands before.
      {"<quarvel><center>a <br/>b\n </center><div wrap='word'><center>c <br/></center></div>"
       "<left>d <br/></left></quarvel>",
       "1:20: white space before a br stays as trailing spaces, so the centred line sits left of "
       "the centre; end the text right at the tag\n"
       "1:10: white space before the block's end stays as trailing spaces, so the centred line "
       "sits left of the centre; end the text right at the tag\n"},
      // Tabs vanish in char mode only; a nonbreak is measured with the
      // width and right margin in force.
      {"<quarvel><left>a\tb</left><div wrap='word'>c\td</div>"
       "<div width='3' rightmargin='1'><nonbreak>abcd</nonbreak><nonbreak>abcde</nonbreak></div>"
       "</quarvel>",
       "1:10: text holds a tab, which vanishes here (outside pre); use space repeat=\"N\", or "
       "pre\n"
       "1:108: nonbreak text is 5 columns wide, more than its block's 4 (width and right margin): "
       "it runs past the block\n"},
      // A long name is quoted cut, and compared with nothing.
      {"<quarvel><" + std::string(100, 'c') + "/></quarvel>",
       "1:10: unknown element '" + std::string(40, 'c') + "...'\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(findingsOf(c.document), c.findings) << c.document;
}

// A sink that stops reading the messages still gets every finding, in place.
TEST(DocumentCheckTest, FindingsGoOnWithoutTheirMessages) {
  XmlDocument document;
  document.loadMemory("<quarvel><x/><div q='1'/>\n<y/></quarvel>", "doc.xml",
                      LoadSettings{.recordPositions = true});
  std::string text;
  checkDocument(document.documentElement(), [&](const Finding& finding) {
    text += std::to_string(finding.at.line) + ":" + std::to_string(finding.at.column) + ":" +
            std::to_string(finding.message.size()) + " ";
    return false;
  });
  EXPECT_EQ(text, "1:10:19 1:19:0 2:1:0 ");
}

}  // namespace
}  // namespace quarvel
