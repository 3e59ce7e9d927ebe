#include "document/xml_document.h"

#include <gtest/gtest.h>

#include "base/utf.h"
#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "document/document_parser.h"
#include "test_support/utf16.h"

#ifndef _WIN32
#include "test_support/http_server.h"
#endif

namespace quarvel {
namespace {

std::u16string widen(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

// Which chain of children describe() follows.
enum class Blanks { kLeftOut, kKept };

// The subtree in one line: elements as name(children...), text quoted (a
// kept blank with a ~ in front), CDATA, comments and processing
// instructions in their markup.
std::u16string describe(XmlNode node, Blanks blanks = Blanks::kLeftOut) {
  const std::u16string value(node.nodeValue().value_or(u""));
  const std::u16string name(node.nodeName().value_or(u"?"));
  switch (node.nodeType()) {
    case kTextNode:
      return (node.isKeptBlank() ? u"~\"" : u"\"") + value + u'"';
    case kCDataSectionNode:
      return u"<![CDATA[" + value + u"]]>";
    case 8:
      return u"<!--" + value + u"-->";
    case 7:
      return u"<?" + name + u" " + value + u"?>";
    default:
      break;
  }
  const bool kept = blanks == Blanks::kKept;
  std::u16string children;
  for (XmlNode child = kept ? node.firstChildKeepingBlanks() : node.firstChild(); child;
       child = kept ? child.nextSiblingKeepingBlanks() : child.nextSibling()) {
    // Appended piecewise: GCC 12's -Wrestrict misreads `u"," + describe(child)`
    // (a pointer inserted in front of a temporary string) as an overlapping copy.
    if (!children.empty()) children += u',';
    children += describe(child, blanks);
  }
  return children.empty() ? name : name + u"(" + children + u")";
}

std::u16string describe(const ParseError& error) {
  return error.url + u" " +
         widen(std::to_string(error.errorCode) + " " + std::to_string(error.line) + ":" +
               std::to_string(error.linepos) + " ") +
         error.reason;
}

std::string repeated(std::string_view text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// `count` attribute names a0, a1, ... each followed by `rest`.
std::string attributes(int count, std::string_view rest = "=''") {
  std::string out;
  for (int i = 0; i < count; ++i) out += " a" + std::to_string(i) + std::string(rest);
  return out;
}

std::u16string outcome(const XmlDocument& document) {
  if (document.parseError().errorCode != 0) return describe(document.parseError());
  return describe(document.documentElement());
}

std::u16string loadedTree(std::string_view bytes) {
  XmlDocument document;
  document.loadMemory(bytes, "doc.xml");
  return outcome(document);
}

struct TreeCase {
  const char* what;
  std::string document;
  const char16_t* tree;
};

// ISO-2022-JP switches between character sets with escapes; Windows has no
// code page that decodes it.
#ifdef _WIN32
constexpr const char16_t* kIso2022JpTree = u"doc.xml -18 1:1 Unsupported encoding ISO-2022-JP\n";
#else
constexpr const char16_t* kIso2022JpTree = uR"(r("日本"))";
#endif

TEST(XmlDocumentTest, LoadsTheTreeAsTheWalkerSeesIt) {
  const TreeCase cases[] = {
      {"indentation leaves no text nodes", "<r>\n  <a>x</a>\n\t<b> \r\n</b>\n</r>",
       uR"(r(a("x"),b))"},
      {"text with other characters keeps its whitespace", "<r>\n  x \n</r>", u"r(\"\n  x \n\")"},
      {"xml:space is inherited; only \"preserve\" preserves",
       R"(<r xml:space="preserve"> <a> </a><b xml:space="default"> <c> </c></b>)"
       R"(<d xml:space="Preserve"> </d></r>)",
       uR"(r(" ",a(" "),b(c),d))"},
      {"xml:space defaulted in the DTD",
       "<!DOCTYPE r [<!ATTLIST p xml:space (default|preserve) 'preserve'>]><r> <p> </p></r>",
       uR"(r(p(" ")))"},
      {"CDATA is never dropped", "<r> <![CDATA[ ]]> <![CDATA[]]></r>",
       u"r(<![CDATA[ ]]>,<![CDATA[]]>)"},
      {"references are judged as expanded", "<r><a>&#32;</a><b>&#160;</b><c>&#x9;x</c></r>",
       u"r(a,b(\"\u00a0\"),c(\"\tx\"))"},
      {"entities expand into the text",
       "<!DOCTYPE r [<!ENTITY e '<b>in</b> tail'><!ENTITY s ' '>]><r>&lt;&amp;&#x1F600;&e;!"
       "<a>&s;</a><a>x&s;</a></r>",
       uR"(r("<&😀",b("in")," tail!",a,a("x ")))"},
      // A parser that marks an entity as open while it expands it must
      // not take the second reference for a loop.
      {"an entity of text and references, twice in another, expands each time",
       "<!DOCTYPE r [<!ENTITY a 'aa'><!ENTITY b 'x" + repeated("&a;", 6) +
           "'><!ENTITY c '&b;&b;'>]><r>&c;</r>",
       uR"(r("xaaaaaaaaaaaaxaaaaaaaaaaaa"))"},
      {"qualified names", "<x:r xmlns:x='urn:x' xmlns='urn:d'><x:a/><b/></x:r>", u"x:r(x:a,b)"},
      {"comments and processing instructions stay", "<r><!--c--><?p d?></r>",
       u"r(<!--c-->,<?p d?>)"},
      {"pieces of character data join into one node; a comment ends a text",
       "<!DOCTYPE r [<!ENTITY s ' '>]><r><a> &s;<!--c--> x&s;</a><![CDATA[a]]><![CDATA[b]]></r>",
       uR"(r(a(<!--c-->," x "),<![CDATA[ab]]>))"},
      {"an external DTD and an unused external entity are not read",
       "<!DOCTYPE r SYSTEM 'r.dtd' [<!ENTITY u SYSTEM '/etc/passwd'>]><r>x</r>", uR"(r("x"))"},
      {"XInclude is not processed",
       "<r xmlns:xi='http://www.w3.org/2001/XInclude'><xi:include href='/etc/passwd'/></r>",
       u"r(xi:include)"},
      {"UTF-16LE with a byte-order mark",
       std::string("\xFF\xFE<\0r\0>\0\xE5\x65\x3D\xD8\x00\xDE<\0/\0r\0>\0", 22), uR"(r("日😀"))"},
      {"UTF-16BE with a byte-order mark", std::string("\xFE\xFF\0<\0r\0>\x65\xE5\0<\0/\0r\0>", 18),
       uR"(r("日"))"},
      {"Shift_JIS", "<?xml version='1.0' encoding='Shift_JIS'?><r>\x93\xfa\x96{\xb1</r>",
       uR"(r("日本ｱ"))"},
      {"EUC-JP", "<?xml version='1.0' encoding='EUC-JP'?><r>\xc6\xfc\xcb\xdc\x8e\xb1</r>",
       uR"(r("日本ｱ"))"},
      {"ISO-2022-JP", "<?xml version='1.0' encoding='ISO-2022-JP'?><r>\x1b$BF|K\\\x1b(B</r>",
       kIso2022JpTree},
  };
  for (const TreeCase& c : cases) {
    EXPECT_EQ(loadedTree(c.document), c.tree) << c.what;
  }
}

TEST(XmlDocumentTest, KeepsBlanksAsideWhereTheyWereRead) {
  const std::pair<std::string, const char16_t*> cases[] = {
      {"<r wrap=''>\n  <a>x</a>\n\t<b> \r\n</b>\n</r>",
       u"r(~\"\n  \",a(\"x\"),~\"\n\t\",b(~\" \n\"),~\"\n\")"},
      {"<r wrap=''> <!--c--> <![CDATA[ ]]> <?p?> </r>",
       uR"(r(~" ",<!--c-->,~" ",<![CDATA[ ]]>,~" ",<?p ?>,~" "))"},
      // A blank after an empty element or after the end of a subtree is the
      // parent's, not the element's nor its last child's.
      {"<r wrap=''><a/> <b><c/></b> <d><e/> </d></r>", uR"(r(a,~" ",b(c),~" ",d(e,~" ")))"},
      {R"(<r xml:space="preserve"> <a> </a></r>)", uR"(r(" ",a(" ")))"},
      // Only word mode reads blanks, and only an element with `wrap` (or one
      // inside it) may ask for it: elsewhere they are dropped at load.
      {"<r> <a> </a> <b wrap='char'> <c/> </b></r>", uR"(r(a,b(~" ",c,~" ")))"},
  };
  // The reader of the document says where it reads them: here, within an
  // element with a `wrap` attribute.
  const LoadSettings settings{
      .keepsBlanksWithin = [](std::string_view name) { return name == "wrap"; }};
  for (const auto& [bytes, tree] : cases) {
    XmlDocument document;
    document.loadMemory(bytes, "doc.xml", settings);
    EXPECT_EQ(describe(document.documentElement(), Blanks::kKept), tree) << bytes;
  }
  // Everything else sees the tree without them.
  XmlDocument document;
  document.loadMemory("<r wrap='word'> <a>x</a> </r>", "doc.xml", settings);
  const XmlNode root = document.documentElement();
  std::u16string storage;
  EXPECT_EQ(root.text(), u"x");
  EXPECT_EQ(root.text(storage).data(), root.firstChild().firstChild().nodeValue()->data());
  EXPECT_FALSE(root.firstChildKeepingBlanks().firstChildKeepingBlanks());
  EXPECT_FALSE(root.isKeptBlank());
}

TEST(XmlDocumentTest, AttributesByExactQualifiedName) {
  XmlDocument document;
  document.loadMemory(
      "<!DOCTYPE r [<!ATTLIST r def CDATA 'dv' set CDATA 'dv' x:d CDATA 'xd' xmlns:y CDATA 'urn:y'"
      " fixed CDATA #FIXED 'f' req CDATA #REQUIRED imp CDATA #IMPLIED tok NMTOKEN '='>"
      "<!ATTLIST r def CDATA 'second' later CDATA 'l'>]>"
      "<r xmlns:x='urn:x' a='1' x:a='2' empty='' set='own' refs='&lt;&#x41;&#x1F600;' long='" +
          std::string(kAttributeValueReadLimit + 1, 'a') + "' pair='" +
          std::string(kAttributeValueReadLimit - 1, 'a') + "\xF0\x9F\x98\x80'/>",
      "doc.xml");
  ASSERT_EQ(outcome(document), u"r");
  const std::u16string prefix(kAttributeValueReadLimit - 1, u'a');
  const std::pair<std::u16string, std::optional<std::u16string>> cases[] = {
      {u"a", u"1"},
      {u"x:a", u"2"},
      {u"A", std::nullopt},
      {u"empty", std::nullopt},
      {u"missing", std::nullopt},
      {u"def", u"dv"},
      {u"set", u"own"},
      {u"refs", u"<A\U0001F600"},
      {u"xmlns:x", u"urn:x"},
      {u"\xD800", std::nullopt},
      // Defaults are read from their declaration; the first one counts.
      {u"x:d", u"xd"},
      {u"xmlns:y", u"urn:y"},
      {u"fixed", u"f"},
      {u"req", std::nullopt},
      {u"imp", std::nullopt},
      {u"later", u"l"},
      // Applied whatever the declared type: a default is not checked against it.
      {u"tok", u"="},
      // Values are read from their first code units, a pair never split.
      {u"long", prefix + u"a"},
      {u"pair", prefix},
  };
  for (const auto& [name, value] : cases) {
    EXPECT_EQ(document.documentElement().getAttribute(name), value)
        << std::string(name.begin(), name.end());
  }
}

TEST(XmlDocumentTest, PositionsOnlyWhenAskedFor) {
  // Line and column (from 1, in characters) of each start tag, in document
  // order; the column after a multi-byte character and after an entity.
  const std::string bytes = "<r>\n  <a x='1'>\xC3\xA9<b/></a>&#65;<c/>\n<d\n/></r>";
  XmlDocument document;
  document.loadMemory(bytes, "doc.xml", LoadSettings{.recordPositions = true});
  ASSERT_EQ(document.parseError().errorCode, 0);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> seen;
  const XmlNode root = document.documentElement();
  auto visit = [&](auto& self, XmlNode node) -> void {
    if (const auto at = node.position()) seen.emplace_back(at->line, at->column);
    for (XmlNode child = node.firstChild(); child; child = child.nextSibling()) self(self, child);
  };
  visit(visit, root);
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
      {1, 1}, {2, 3}, {2, 13}, {2, 26}, {3, 1}};
  EXPECT_EQ(seen, expected);
  EXPECT_FALSE(root.firstChild().firstChild().position()) << "a text node has none";

  document.loadMemory(bytes, "doc.xml");
  EXPECT_FALSE(document.documentElement().position());
  EXPECT_FALSE(XmlNode().position());
}

// Each attribute at its name, counted as the tags are, in any encoding the
// parser reads; namespace declarations too; one an entity built at its tag.
TEST(XmlDocumentTest, AttributesAtTheirNames) {
  const std::string utf8 =
      "<!DOCTYPE r [<!ENTITY t \"<s k='1'/>\">]>\n"
      "<r\r\n\xC3\xA9='1' xmlns:p='u'\r\tp:b = \"x\ny\" c='&lt;>'><e/>&t;</r>";
  for (const std::string& bytes : {utf8, "\xFF\xFE" + testing::utf16le(toUtf16(utf8))}) {
    XmlDocument document;
    document.loadMemory(bytes, "doc.xml", LoadSettings{.recordPositions = true});
    ASSERT_EQ(document.parseError().errorCode, 0);
    const XmlNode root = document.documentElement();
    std::string seen;
    for (std::uint32_t i = 0; i < root.attributeCount(); ++i) {
      const auto at = root.attributePosition(i);
      seen += std::to_string(at->line) + ":" + std::to_string(at->column) + " ";
    }
    const auto built = root.firstChild().nextSibling().attributePosition(0);
    seen += std::to_string(built->line) + ":" + std::to_string(built->column);
    EXPECT_EQ(seen, "3:1 4:2 5:4 3:7 5:18") << bytes.size();
  }
}

TEST(XmlDocumentTest, SubtreeTextIsThePlainConcatenation) {
  XmlDocument document;
  document.loadMemory("<r> a <b>b<![CDATA[ c ]]><!--no--><?pi no?><c>d</c></b>\n<e/>e </r>", "d");
  EXPECT_EQ(document.documentElement().text(), u" a b c de ");
  EXPECT_EQ(document.documentElement().firstChild().text(), u" a ");
  EXPECT_EQ(XmlNode().text(), u"");
}

// A chain of `levels` entities, each naming the one before it: `first` is
// declared first, or last. Used in the root's content.
std::string entityChain(int levels, bool lastFirst = false, const char* kind = "") {
  std::vector<std::string> declarations{std::string("<!ENTITY ") + kind + "e0 'x'>"};
  const char* reference = *kind == '%' ? "&#37;" : "&";
  for (int i = 1; i < levels; ++i) {
    declarations.push_back(std::string("<!ENTITY ") + kind + "e" + std::to_string(i) + " '" +
                           reference + "e" + std::to_string(i - 1) + ";'>");
  }
  if (lastFirst) std::reverse(declarations.begin(), declarations.end());
  std::string all;
  for (const std::string& declaration : declarations) all += declaration;
  const std::string use = "e" + std::to_string(levels - 1) + ";";
  if (*kind == '%') return "<!DOCTYPE r [" + all + "]><r/>";
  return "<!DOCTYPE r [" + all + "]><r>&" + use + "</r>";
}

std::string utf16(std::u16string_view text, bool bigEndian) {
  std::string bytes = testing::utf16le(text);
  if (bigEndian) {
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
  }
  return bytes;
}

TEST(XmlDocumentTest, ParseErrorsGiveTheFirstErrorsPlace) {
  const std::string bigEntity = "<!DOCTYPE r [<!ENTITY e '" + std::string(10'000, 'x') + "'>";
  std::string distinctElements;
  for (int i = 0; i < 20'000; ++i) distinctElements += "<n" + std::to_string(i) + "/>";
  const std::string longUri = "<r xmlns:p='" + std::string(100'000, 'u') + "'>";
  const std::u16string kDeclaredAttributes =
      u" Declared attributes at element 'b' (1 per declaration on every tag, and the bytes of each "
      u"prefixed default's name and each namespace default) cost too much for the document's "
      u"size: more than 8 per byte read plus 1 MiB\n";
  const std::pair<std::string, std::u16string> cases[] = {
      {"<r>\n<a>\n  <b></c>\n</r>",
       u"doc.xml -7 3:8 mismatched tag: </c> does not close <b>, opened on line 3\n"},
      {"", u"doc.xml -3 1:1 no element found\n"},
      {"<r>\n<x:a/>\n</r>", u"doc.xml -27 2:1 unbound prefix\n"},
      {"<r>&nope;</r>", u"doc.xml -11 1:4 undefined entity 'nope'\n"},
      // Reasons that name what went wrong and how to mend it: HTML's entities
      // (in an attribute, at the tag: the first reference to no predefined
      // one), tag names in UTF-16, bytes that the encoding in force does not
      // read.
      {"<r>&nbsp;</r>",
       u"doc.xml -11 1:4 undefined entity 'nbsp', which is HTML's, not XML's: write &#160; or the "
       u"character itself\n"},
      {"<r>\n <a b='&amp;&#38;&copy;'/></r>",
       u"doc.xml -11 2:2 undefined entity 'copy', which is HTML's, not XML's: write &#169; or the "
       u"character itself\n"},
      {"\xFE\xFF" + utf16(u"<r><\u65E5></r></\u65E5>", true),
       u"doc.xml -7 1:9 mismatched tag: </r> does not close <\u65E5>, opened on line 1\n"},
      {"<r>\n\x93\xFA\x96\x7B</r>",
       u"doc.xml -4 2:1 not well-formed (invalid token): bytes that are not valid in its encoding, "
       u"UTF-8 (assumed: it has no encoding declaration); declare the one it is saved in, for "
       u"example <?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n"},
      {"<?xml version='1.0' encoding='US-ASCII'?><r>\xC6\xFC</r>",
       u"doc.xml -4 1:45 not well-formed (invalid token): bytes that are not valid in its "
       u"encoding, US-ASCII (from its XML declaration); declare the one it is saved in, for "
       u"example <?xml version=\"1.0\" encoding=\"EUC-JP\"?>\n"},
      {"<?xml version='1.0' encoding='EUC-JP'?><r>\xC6\xFC\xE6\x97\xA5</r>",
       u"doc.xml -19 1:44 the document holds bytes that are not valid in its encoding, EUC-JP "
       u"(from its XML declaration); declare the one it is saved in, for example <?xml "
       u"version=\"1.0\" encoding=\"UTF-8\"?>\n"},
      // An encoding this platform cannot decode, and one contradicted.
      {"<?xml version='1.0' encoding='x-unknown'?><r/>",
       u"doc.xml -18 1:1 Unsupported encoding x-unknown\n"},
      {"\xEF\xBB\xBF<?xml version='1.0' encoding='Shift_JIS'?><r/>",
       u"doc.xml -19 1:1 the byte-order mark says UTF-8 but the declaration says Shift_JIS; to "
       u"mend it, declare encoding=\"UTF-8\" (or leave the encoding out), or save the document in "
       u"Shift_JIS without the byte-order mark\n"},
      // expat lets this pass, as the external subset might declare it.
      {"<!DOCTYPE r SYSTEM 'r.dtd'>\n<r>&nope;</r>", u"doc.xml -11 2:4 undefined entity 'nope'\n"},
      {"<!DOCTYPE r [\n<!ENTITY e SYSTEM 'e.txt'>\n]>\n<r>&e;</r>",
       u"doc.xml -21 4:4 Entity 'e' is external and is not loaded\n"},
      {"<!DOCTYPE r [\n<!ENTITY e '<b>'>\n]>\n<r>\nxx &e; yy</r>",
       u"doc.xml -13 5:4 asynchronous entity\n"},
      // The first error ends the parse: nothing after it is looked at.
      {"<r>&nope;" + repeated("<a>", 300) + "</r>", u"doc.xml -11 1:4 undefined entity 'nope'\n"},
      {repeated("<a>", 258), u"doc.xml -10005 1:772 Elements nest more than 257 deep\n"},
      // Elements nested through entities count as in a plain document.
      {"<!DOCTYPE r [<!ENTITY d '" + repeated("<a>", 200) + repeated("</a>", 200) + "'>]>\n" +
           repeated("<a>", 58) + "&d;" + repeated("</a>", 58),
       u"doc.xml -10005 2:175 Elements nest more than 257 deep\n"},
      // Expansion in attribute values and in content, references that each
      // copy a large entity, nested references: expat's own limit.
      {bigEntity + "]>\n<r a='" + repeated("&e;", 200) + "'/>",
       u"doc.xml -43 2:1 limit on input amplification factor (from DTD and entities) breached\n"},
      {bigEntity + "]>\n<r>" + repeated("<a>" + repeated("&e;", 100) + "</a>", 3) + "</r>",
       u"doc.xml -43 2:323 limit on input amplification factor (from DTD and entities) breached\n"},
      {bigEntity + "<!ENTITY f '" + repeated("&e;", 10) + "'>]><r>" + repeated("&f;", 30) + "</r>",
       u"doc.xml -43 1:10107 limit on input amplification factor (from DTD and entities) "
       u"breached\n"},
      // Declared defaults that every start tag takes: counted per default
      // applied, and per byte of a namespace default that expat copies.
      {"<!DOCTYPE r [<!ATTLIST b" + attributes(1000, " CDATA 'v'") + ">]><r>" +
           repeated("<b/>", 2000) + "</r>",
       u"doc.xml -10005 1:19617" + kDeclaredAttributes},
      {"<!DOCTYPE r [<!ATTLIST b xmlns:p CDATA '" + std::string(100'000, 'u') + "'>]><r>" +
           repeated("<b/>", 200) + "</r>",
       u"doc.xml -10005 1:100120" + kDeclaredAttributes},
      // Entities that name each other nest as deep as the declarations say,
      // in whatever order they are declared; expat recurses that deep.
      {entityChain(257), u"doc.xml -10005 1:5691 Entity references nest more than 256 deep\n"},
      {entityChain(300, true),
       u"doc.xml -10005 1:5802 Entity references nest more than 256 deep\n"},
      {entityChain(300, false, "% "),
       u"doc.xml -10005 1:7225 Entity references nest more than 256 deep\n"},
      // expat walks every declared attribute on each tag of its type, and
      // compares each ID or default declaration with those before it.
      {"<!DOCTYPE r [<!ATTLIST b" + attributes(500, " CDATA #IMPLIED") + ">]><r>" +
           repeated("<b/>", 5000) + "</r>",
       u"doc.xml -10005 1:19561" + kDeclaredAttributes},
      {"<!DOCTYPE r [<!ATTLIST b" + attributes(20'000, " ID #IMPLIED") + ">]><r/>",
       u"doc.xml -10005 1:95639 More distinct names and attribute declarations than the "
       u"document's size allows: more than 10,000 plus 1 per 128 bytes read\n"},
      // Long names that a default gives every tag, and a long URI in front
      // of every name expanded with it.
      {"<!DOCTYPE r [<!ATTLIST b p:" + std::string(100'000, 'a') + " CDATA 'v'>]>" + longUri +
           repeated("<b/>", 200) + "</r>",
       u"doc.xml -10005 1:200107 Long names or namespace URIs cost too much for the document's "
       u"size: more than 8 per byte read plus 1 MiB\n"},
      {"<!DOCTYPE r [<!ATTLIST b " + std::string(1'000'000, 'a') + " CDATA 'v'>]><r>" +
           repeated("<b/>", 200) + "</r>",
       u"doc.xml -10005 1:1000078 Long names or namespace URIs cost too much for the document's "
       u"size: more than 8 per byte read plus 1 MiB\n"},
      {longUri + repeated("<p:b/>", 200) + "</r>",
       u"doc.xml -10005 1:100123 Long names or namespace URIs cost too much for the document's "
       u"size: more than 8 per byte read plus 1 MiB\n"},
      // Elements that entities build have no bytes of their own to pay for
      // their nodes.
      {"<!DOCTYPE r [<!ENTITY e '<b/><b/><b/><b/><b/><b/>'>]><r>" + repeated("&e;", 60'000) +
           "</r>",
       u"doc.xml -10005 1:160347 Entities build more than the document's size allows: more than "
       u"1 byte of memory per byte read plus 8 MiB\n"},
      // UTF-16 with a lone or reversed surrogate, whatever chose the order.
      {"\xFF\xFE" + utf16(u"<r>\nx\xD800<br/></r>", false),
       u"doc.xml -19 2:2 the document holds bytes that are not valid in its encoding, UTF-16LE "
       u"(from its byte-order mark)\n"},
      {utf16(u"<?xml version='1.0' encoding='UTF-16'?>\n<r>\xDC00\xD800</r>", true),
       u"doc.xml -19 2:4 the document holds bytes that are not valid in its encoding, UTF-16BE "
       u"(from its first characters)\n"},
      {"\xFE\xFF" + utf16(u"<r>\U0001F600</r>\xD83D", true),
       u"doc.xml -19 1:9 the document holds bytes that are not valid in its encoding, UTF-16BE "
       u"(from its byte-order mark)\n"},
      // Each distinct name stays in expat's tables for the whole parse.
      {"<r>" + distinctElements + "</r>",
       u"doc.xml -10005 1:84843 More distinct names and attribute declarations than the "
       u"document's size allows: more than "
       u"10,000 plus 1 per 128 bytes read\n"},
  };
  for (const auto& [document, expected] : cases) {
    EXPECT_EQ(loadedTree(document), expected) << document.substr(0, 60);
  }
  // The limits' edges load, and so do shapes no limit applies to: a text of
  // any length, as one node across references; attributes by the thousand on
  // one element.
  EXPECT_EQ(loadedTree("<!DOCTYPE r [<!ENTITY d '" + repeated("<a>", 200) + repeated("</a>", 200) +
                       "'>]>" + repeated("<a>", 57) + "&d;" + repeated("</a>", 57))
                .substr(0, 6),
            u"a(a(a(");
  EXPECT_EQ(loadedTree("<!DOCTYPE r [<!ATTLIST b" + attributes(1000, " CDATA 'v'") + ">]><r>" +
                       repeated("<b/>", 1000) + "</r>")
                .substr(0, 6),
            u"r(b,b,");
  EXPECT_EQ(loadedTree(entityChain(256)), u"r(\"x\")");
  EXPECT_EQ(loadedTree("<r>" + repeated("<b/>", 600'000) + "</r>").substr(0, 6), u"r(b,b,");
  EXPECT_EQ(loadedTree("\xFF\xFE" + utf16(u"<r>\U0001F600</r>", false)), u"r(\"\U0001F600\")");
  const std::u16string text = loadedTree("<r>" + std::string(6'000'000, 'a') + "&amp;" +
                                         std::string(6'000'000, 'b') + "</r>");
  EXPECT_EQ(text.size(), 12'000'006u);  // r("...")
  EXPECT_EQ(text.substr(6'000'000, 6), u"aaa&bb");
  EXPECT_EQ(loadedTree("<r" + attributes(10'000) + "/>"), u"r");
}

TEST(XmlDocumentTest, EntityExpansionIsBoundedAndFast) {
  std::string laughs = "<!DOCTYPE r [<!ENTITY l0 'lol'>\n";
  for (int i = 1; i <= 9; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " '";
    for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "'>\n";
  }
  laughs += "]>\n<r>&l9;</r>";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(loadedTree(laughs),
            u"doc.xml -43 12:4 limit on input amplification factor (from DTD and entities) "
            u"breached\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// A document handed out at most `piece` bytes a read, whatever the parser
// asks for, that fails once `failAt` bytes have been read.
class PiecewiseSource final : public ByteSource {
 public:
  PiecewiseSource(std::string_view bytes, int piece, std::size_t failAt)
      : rest_(bytes), piece_(piece), failAt_(failAt) {}

 private:
  int readSome(char* buffer, int length) noexcept override {
    if (given_ >= failAt_) return -1;
    const std::size_t count = std::min({rest_.size(), static_cast<std::size_t>(piece_),
                                        static_cast<std::size_t>(length), failAt_ - given_});
    std::copy_n(rest_.data(), count, buffer);
    rest_.remove_prefix(count);
    given_ += count;
    return static_cast<int>(count);
  }
  ParseError why() const override { return readError(kCannotFetchLocation, "cut off"); }

  std::string_view rest_;
  int piece_;
  std::size_t failAt_;
  std::size_t given_ = 0;
};

std::u16string parsedInPieces(std::string_view bytes, int piece, std::size_t failAt) {
  PiecewiseSource source(bytes, piece, failAt);
  const ParseResult result = parseDocument(source);
  if (result.store == nullptr) return describe(result.error);
  return describe(XmlNode(result.store.get(), result.store->root));
}

TEST(XmlDocumentTest, ReadsTheSameWhateverPiecesTheBytesComeIn) {
  // Past the start that tells the encoding, where the bytes come as read.
  const std::string padding = "<!--" + repeated("pad ", 300) + "-->";
  const std::string text = "<r>" + padding + "<a x='\xE6\x97\xA5'>\xF0\x9F\x98\x80\xC3\xA9</a>";
  constexpr std::size_t kNever = SIZE_MAX;
  const struct {
    const char* what;
    std::string document;
    std::size_t failAt;
    const char16_t* error;  // null: the tree of the document read at once
  } cases[] = {
      {"UTF-8, characters cut between pieces", text + "&amp;<![CDATA[c]]></r>", kNever, nullptr},
      {"UTF-16, units and pairs cut between pieces",
       "\xFF\xFE" + utf16(u"<r><!--" + std::u16string(600, u'p') + u"-->\U0001F600x</r>", false),
       kNever, nullptr},
      {"a lone surrogate past the start",
       "\xFF\xFE" + utf16(u"<r><!--" + std::u16string(600, u'p') + u"-->\xD800<b/></r>", false),
       kNever,
       u" -19 1:611 the document holds bytes that are not valid in its encoding, UTF-16LE (from "
       u"its byte-order mark)\n"},
      {"decoded in front of the parser",
       "<?xml version='1.0' encoding='Shift_JIS'?><r>" + padding + "\x93\xFA\x96\x7B</r>", kNever,
       nullptr},
      {"an error past the start", text + "</b></r>", kNever,
       u" -7 1:1228 mismatched tag: </b> does not close <r>, opened on line 1\n"},
      {"a failure before any byte", text + "</r>", 0, u" -10002 0:0 cut off\n"},
      {"a failure part way", text + "</r>", 1100, u" -10002 0:0 cut off\n"},
      {"a failure part way through decoding",
       "<?xml version='1.0' encoding='Shift_JIS'?><r>" + padding + "</r>", 1100,
       u" -10002 0:0 cut off\n"},
  };
  for (const auto& [what, document, failAt, error] : cases) {
    const std::u16string whole = parsedInPieces(document, INT_MAX, failAt);
    // The tree when no error is expected: not an error's description.
    EXPECT_EQ(error != nullptr ? whole : whole.substr(0, 2), error != nullptr ? error : u"r(")
        << what;
    for (const int piece : {1, 7}) {
      EXPECT_EQ(parsedInPieces(document, piece, failAt), whole) << what << ", pieces of " << piece;
    }
  }
}

TEST(XmlDocumentTest, PrintsNothingItself) {
  ::testing::internal::CaptureStderr();
  for (const char* document :
       {"<r>\xff</r>", "<?xml version='1.0' encoding='X-NONE'?><r/>", "<r><a></r>", "<x:r/>",
        "<?xml version='1.0' encoding='Shift_JIS'?><r>\x81</r>"}) {
    loadedTree(document);
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(XmlDocumentTest, NoNodeAnswersEmpty) {
  const XmlNode none;
  EXPECT_EQ(none.nodeType(), 0);
  EXPECT_EQ(none.nodeName(), std::nullopt);
  EXPECT_EQ(none.nodeValue(), std::nullopt);
  EXPECT_FALSE(none.firstChild() || none.nextSibling());
  EXPECT_EQ(none.getAttribute(u"a"), std::nullopt);
  XmlDocument document;
  document.loadMemory("<r/>", "doc.xml");
  document.loadMemory("<r>", "doc.xml");
  EXPECT_FALSE(document.documentElement());
}

// Names beyond ASCII reach the file system as the user wrote them (on
// Windows through its UTF-16 calls), as paths and as file: URLs.
TEST(XmlDocumentTest, OpensFilesByTheirUnicodeNames) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      ("xml_document_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / std::filesystem::path(u8"日本-café.xml"), std::ios::binary) << "<r>x</r>";
  const std::u8string name = dir.generic_u8string() + u8"/日本-café.xml";
  const std::string path(name.begin(), name.end());
  for (const std::string& location :
       {path, "file:///" + path.substr(path.find_first_not_of('/'))}) {
    XmlDocument document;
    document.load(location);
    EXPECT_EQ(outcome(document), uR"(r("x"))") << location;
  }
  XmlDocument missing;
  missing.load(path.substr(0, path.size() - 4) + "-missing.xml");
  EXPECT_EQ(missing.parseError().errorCode, kCannotReadLocation);
  std::filesystem::remove_all(dir);
}

// Linux only from here: these tests limit the address space of a forked
// child, make their files with POSIX calls (long paths through openat) and
// fetch from the test server, which uses POSIX sockets. The Windows build
// runs the parser tests above under wine.
#ifndef _WIN32

std::u16string loadedFrom(const std::string& location) {
  XmlDocument document;
  document.load(location);
  return outcome(document);
}

// Runs out of address space at several points of loading a large text
// node and reading it: each shortage is std::bad_alloc (exit 42 of the
// forked child), never a parse error (1) nor a crash.
TEST(XmlDocumentTest, RunningOutOfMemoryThrowsBadAlloc) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer reserves address space beyond any small limit";
#endif
  const std::string document = "<r>" + std::string(9'500'000, 'a') + "</r>";
  std::vector<int> outcomes;
  for (const long headroomMb : {4, 8, 16, 24, 32, 48, 64, 256}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      long pages = 0;
      std::ifstream("/proc/self/statm") >> pages;
      const rlim_t bytes = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE) + (headroomMb << 20));
      const rlimit limit{bytes, bytes};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(2);
      try {
        XmlDocument loaded;
        loaded.loadMemory(document, "doc.xml");
        if (loaded.parseError().errorCode != 0) _exit(1);
        _exit(loaded.documentElement().text().size() == 9'500'000 ? 0 : 3);
      } catch (const std::bad_alloc&) {
        _exit(42);
      }
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    outcomes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  }
  // The tightest limits stop inside the parser, the loosest load and read it.
  EXPECT_EQ(outcomes.front(), 42);
  EXPECT_EQ(outcomes.back(), 0);
  for (const int outcome : outcomes) EXPECT_TRUE(outcome == 42 || outcome == 0) << outcome;
}

class XmlDocumentFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "xml_document_test.XXXXXX");
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write(const std::string& name, std::string_view content) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  std::string dir_;
};

TEST_F(XmlDocumentFileTest, ReadsPathsAndFileUrls) {
  write("a b\xC3\xA9.xml", "<r>x</r>");
  write("\xFF.xml", "<r>y</r>");
  const std::pair<std::string, std::u16string> cases[] = {
      {dir_ + "/a b\xC3\xA9.xml", uR"(r("x"))"},
      {"file://" + dir_ + "/a%20b%c3%A9.xml", uR"(r("x"))"},
      {"FILE://localhost" + dir_ + "/a%20b\xC3\xA9.xml?query#fragment", uR"(r("x"))"},
      {"file:" + dir_ + "/%FF.xml", uR"(r("y"))"},
      {dir_ + "/\xFF.xml", uR"(r("y"))"},
      {dir_ + "/missing\xFF.xml",
       widen(dir_) + u"/missing\uFFFD.xml -10001 0:0 No such file or directory\n"},
      {dir_, widen(dir_) + u" -10001 0:0 Is a directory\n"},
      {"file://" + dir_ + "/a%00.xml",
       widen("file://" + dir_) + u"/a%00.xml -10001 0:0 the path holds a NUL character\n"},
      {"file://elsewhere/x.xml",
       u"file://elsewhere/x.xml -10003 0:0 file URL names another host: elsewhere\n"},
      {"gopher://host/x.xml", u"gopher://host/x.xml -10003 0:0 unsupported URL scheme: gopher\n"},
  };
  for (const auto& [location, expected] : cases) {
    EXPECT_EQ(loadedFrom(location), expected) << location;
  }
}

TEST_F(XmlDocumentFileTest, ReadsPathsLongerThanPathMax) {
  const std::string component(200, 'd');
  std::string path = dir_;
  int directory = open(dir_.c_str(), O_PATH | O_DIRECTORY);
  while (path.size() <= PATH_MAX + 100) {
    ASSERT_EQ(mkdirat(directory, component.c_str(), 0700), 0);
    const int next = openat(directory, component.c_str(), O_PATH | O_DIRECTORY);
    close(directory);
    directory = next;
    path += "/" + component;
  }
  const int file = openat(directory, "long.xml", O_WRONLY | O_CREAT, 0600);
  ASSERT_EQ(::write(file, "<r>deep</r>", 11), 11);
  close(file);
  close(directory);
  EXPECT_EQ(loadedFrom(path + "/long.xml"), uR"(r("deep"))");
}

TEST_F(XmlDocumentFileTest, ReadsNothingBesideTheDocument) {
  const std::string secret = write("secret.txt", "SECRET");
  const std::string dtd = write("r.dtd", "<!ATTLIST r a CDATA 'from-dtd'><!ENTITY d 'SECRET'>");
  const std::string parameter = "<!ENTITY % p SYSTEM '" + dtd + "'> %p;";
  const std::pair<std::string, std::u16string> cases[] = {
      {"<!DOCTYPE r [<!ENTITY s SYSTEM '" + secret + "'>]>\n<r>[&s;]</r>",
       u"doc.xml -21 2:5 Entity 's' is external and is not loaded\n"},
      {"<!DOCTYPE r [<!ENTITY s SYSTEM 'file://" + secret + "'>]>\n<r a='&s;'/>",
       u"doc.xml -16 2:7 reference to external entity in attribute\n"},
      {"<!DOCTYPE r SYSTEM '" + dtd + "'><r>x</r>", uR"(r("x"))"},
      {"<!DOCTYPE r [" + parameter + "]><r>x</r>", uR"(r("x"))"},
      {"<!DOCTYPE r [" + parameter + "]>\n<r>&d;</r>", u"doc.xml -11 2:4 undefined entity 'd'\n"},
  };
  for (const auto& [document, expected] : cases) {
    EXPECT_EQ(loadedTree(document), expected) << document;
  }
  XmlDocument document;
  document.loadMemory("<!DOCTYPE r SYSTEM '" + dtd + "'><r/>", "doc.xml");
  EXPECT_EQ(document.documentElement().getAttribute(u"a"), std::nullopt);
}

TEST_F(XmlDocumentFileTest, FetchesHttpWithinItsProtocols) {
  setenv("no_proxy", "127.0.0.1", 1);
  const std::string secret = write("secret.xml", "<r>SECRET</r>");
  testing::HttpServer server;
  auto raw = [](std::string reply) {
    return testing::HttpResponse{200, std::move(reply), "", testing::Reply::kRaw};
  };
  server.setResponse("/doc", raw("HTTP/1.1 200 OK\r\nContent-Length: 13\r\n\r\n<r>served</r>"));
  server.setResponse("/moved",
                     raw("HTTP/1.1 301 Moved\r\nLocation: /doc\r\nContent-Length: 0\r\n\r\n"));
  server.setResponse("/to-file", raw("HTTP/1.1 302 Found\r\nLocation: file://" + secret +
                                     "\r\nContent-Length: 0\r\n\r\n"));
  const std::pair<std::string, std::u16string> cases[] = {
      {server.url("/doc"), uR"(r("served"))"},
      {server.url("/moved"), uR"(r("served"))"},
      {server.url("/nothing"), widen(server.url("/nothing")) + u" -10002 0:0 HTTP status 404\n"},
      {server.url("/to-file"),
       widen(server.url("/to-file")) +
           u" -10002 0:0 Protocol \"file\" not supported or disabled in libcurl\n"},
  };
  for (const auto& [location, expected] : cases) {
    EXPECT_EQ(loadedFrom(location), expected) << location;
  }
}

// Bodies stream into the parser whatever their framing; each cap and
// timeout of LoadSettings ends a transfer that passes it, before the body
// or in the middle of it, as a failure without a line.
TEST_F(XmlDocumentFileTest, HttpTransfersEndAtTheirCaps) {
  setenv("no_proxy", "127.0.0.1", 1);
  using testing::Reply;
  LoadSettings settings;
  settings.connectTimeoutMs = 500;
  settings.totalTimeoutMs = 500;
  settings.maxHttpBodyBytes = 300'000;
  settings.maxHttpHeaderBytes = 10'000;
  // Larger than the buffer between transfer and parser, so that the
  // transfer pauses and resumes.
  const std::string large = "<r>" + std::string(299'993, 'a') + "</r>";
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  testing::HttpServer server;
  server.setResponse("/large", {200, large});
  server.setResponse("/larger", {200, large + " "});
  server.setResponse(
      "/chunked", {200, chunked + "3\r\n<r>\r\n4\r\nx</r\r\n1\r\n>\r\n0\r\n\r\n", "", Reply::kRaw});
  server.setResponse(
      "/identity", {200, chunked.substr(0, 17) + "Transfer-Encoding: Identity\r\n\r\n<r>y</r>", "",
                    Reply::kRaw});
  server.setResponse("/big-headers", {200,
                                      "HTTP/1.1 200 OK\r\nX-Big: " + std::string(10'000, 'h') +
                                          "\r\nContent-Length: 4\r\n\r\n<r/>",
                                      "", Reply::kRaw});
  server.setResponse("/trailers", {200, "<r>z</r>", "", Reply::kEndlessTrailers});
  server.setResponse("/endless", {200, "<r/>", "", Reply::kEndlessBody});
  server.setResponse("/gzip", {200, "<r/>", "", Reply::kGzipTransferEncoded});
  server.setResponse(
      "/gzip-chunked",
      {200, chunked.substr(0, 17) + "Transfer-Encoding: gzip, chunked\r\n\r\n", "", Reply::kRaw});
  // "<r>z</r>" gzipped: never asked for, so never undone.
  const std::string gzipped(
      "\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\xb3\x29\xb2\xab\xb2\xd1\x2f\xb2\x03\x00\xf1\x86"
      "\x21\x14\x08\x00\x00\x00",
      28);
  server.setResponse(
      "/content-encoded",
      {200, "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 28\r\n\r\n" + gzipped, "",
       Reply::kRaw});
  server.setResponse("/silent", {200, "", "", Reply::kSilent});
  server.setResponse("/trickle",
                     {200, "<r>" + std::string(100, 'a') + "</r>", "", Reply::kTrickle});
  const std::pair<std::string, std::u16string> cases[] = {
      {"/large", u"r(\"aaa"},
      {"/chunked", uR"(r("x"))"},
      {"/identity", uR"(r("y"))"},
      {"/larger", u" -10002 0:0 the document is larger than 300000 bytes\n"},
      {"/big-headers",
       u" -10002 0:0 the server sent more than 10000 bytes of header and trailer lines\n"},
      {"/trailers",
       u" -10002 0:0 the server sent more than 10000 bytes of header and trailer lines\n"},
      {"/endless", u" -10002 0:0 the document is larger than 300000 bytes\n"},
      {"/gzip", u" -10002 0:0 unsupported transfer encoding: gzip\n"},
      {"/gzip-chunked", u" -10002 0:0 unsupported transfer encoding: gzip\n"},
      {"/content-encoded", u" -4 1:1 not well-formed (invalid token)\n"},
      // libcurl counts the time its own way: "after 499 milliseconds" happens.
      {"/silent", u" -10002 0:0 Operation timed out after "},
      {"/trickle", u" -10002 0:0 Operation timed out after "},
  };
  for (const auto& [path, expected] : cases) {
    XmlDocument document;
    const auto start = std::chrono::steady_clock::now();
    document.load(server.url(path), settings);
    const std::u16string got = outcome(document);
    const std::u16string want = expected[0] == u' ' ? widen(server.url(path)) + expected : expected;
    EXPECT_EQ(got.substr(0, want.size()), want) << path;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << path;
  }
}

#endif  // _WIN32

}  // namespace
}  // namespace quarvel
