// Runs the real quarvel binary on documents written to a temporary directory
// and compares its standard output byte for byte, its standard error as
// text, and its exit code. With QUARVEL_WINDOWS_RUN set (scripts/windows.sh),
// the same cases run against quarvel.exe under wine, with the same expected
// bytes; what Windows does differently is said where it applies.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "test_support/http_server.h"
#include "test_support/process.h"
#include "test_support/utf16.h"

namespace quarvel::testing {
namespace {

const std::string kByteOrderMark = "\xFF\xFE";
const std::string kUsage =
    "Quarvel Ver 0.1\n"
    "usage: quarvel XML_SOURCE_URL >OUTPUT_FILE\n"
    "input and output CES us UTF-16 little endian with BOM\n";

// The whole expected standard output: the byte-order mark, then the rows.
std::string output(std::initializer_list<std::u16string_view> lines) {
  return kByteOrderMark + rows(lines);
}

std::string repeated(const std::string& text, int count) {
  std::string result;
  for (int i = 0; i < count; ++i) result += text;
  return result;
}

std::u16string spaces(int count) { return std::u16string(static_cast<std::size_t>(count), u' '); }

std::string utf16be(std::u16string_view text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit >> 8);
    bytes += static_cast<char>(unit & 0xFF);
  }
  return bytes;
}

::testing::AssertionResult sameBytes(const std::string& expected, const std::string& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "expected " << expected.size() << " bytes:\n"
         << readable(expected) << "\nactual " << actual.size() << " bytes:\n"
         << readable(actual);
}

const bool kOnWindows = windowsProgram() != nullptr;

// The child sees a fixed UTF-8 locale and no proxy settings; sanitizer
// settings of the test run are passed on, and wine's own settings (wine
// reads the arguments in the locale's character set).
std::vector<std::string> childEnvironment(const char* locale = "C.UTF-8") {
  std::vector<std::string> environment{std::string("LC_ALL=") + locale, "PATH=/usr/bin:/bin"};
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "HOME", "WINEPREFIX",
                           "WINEDEBUG", "WINESERVER", "DISPLAY"}) {
    if (const char* value = std::getenv(name))
      environment.push_back(std::string(name) + "=" + value);
  }
  return environment;
}

// Whether `text` is one non-empty line ended by a line feed.
bool isOneLine(std::string_view text) {
  return text.size() >= 2 && text.find('\n') == text.size() - 1;
}

// Whether `message` has the short form `"LOCATION": REASON` and mentions
// `detail` in its reason.
::testing::AssertionResult isShortMessage(const std::string& message, const std::string& location,
                                          std::string_view detail) {
  const std::string prefix = "\"" + location + "\": ";
  if (message.rfind(prefix, 0) == 0 && isOneLine(std::string_view(message).substr(prefix.size())) &&
      message.find(detail, prefix.size()) != std::string::npos) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "message: " << message;
}

// Whether `message` has the long form `"LOCATION" (LINE): positon N: REASON`.
::testing::AssertionResult isLongMessage(const std::string& message, const std::string& location,
                                         int line) {
  const std::string prefix = "\"" + location + "\" (" + std::to_string(line) + "): positon ";
  std::size_t end = prefix.size();
  while (end < message.size() && message[end] >= '0' && message[end] <= '9') ++end;
  if (message.rfind(prefix, 0) == 0 && end > prefix.size() && message.compare(end, 2, ": ") == 0 &&
      isOneLine(std::string_view(message).substr(end + 2))) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "message: " << message;
}

std::string unreadableMessage(const std::string& location, int error) {
  return "\"" + location + "\": " + std::strerror(error) + "\n";
}

// Windows prints text (the usage, help, version and messages) with CR LF
// line ends: `text` with each CR LF as LF, after checking that no line feed
// came without its CR. The Linux build's text is taken as it is.
std::string asText(const std::string& text) {
  if (!kOnWindows) return text;
  std::string lines;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\r\n") == 0)
      ++i;  // the LF is kept
    else
      EXPECT_NE(text[i], '\n') << "a line feed without CR: " << text;
    lines += text[i];
  }
  return lines;
}

// Whether `message` says that `location` cannot be read for `error`. The
// reason is the system's own: strerror's on Linux, on Windows its message
// for the Windows error in its own words, not checked (wine's words are not
// Windows'); the location there is in the ANSI code page (wine's is 1252,
// so that each Japanese character becomes "?").
::testing::AssertionResult isUnreadableMessage(const std::string& message,
                                               const std::string& location, int error) {
  if (!kOnWindows) {
    if (message == unreadableMessage(location, error)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "message: " << message;
  }
  std::string ansi;
  for (std::size_t i = 0; i < location.size(); ++i) {
    const auto byte = static_cast<unsigned char>(location[i]);
    if (byte < 0x80) {
      ansi += location[i];
    } else if (byte >= 0xC0) {
      ansi += '?';
    }
  }
  return isShortMessage(message, ansi, "");
}

class QuarvelBinary : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "quarvel-e2e-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
    directory_ = pattern;
  }
  void TearDown() override {
    if (!directory_.empty()) std::filesystem::remove_all(directory_);
  }

  // Writes `bytes` to `name` in the test's directory and returns its path.
  std::string write(const std::filesystem::path& name, const std::string& bytes) {
    const std::filesystem::path path = directory_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  // Runs the program under test; its messages come back as text.
  ProcessResult run(std::vector<std::string> arguments, ProcessOptions options = {}) {
    if (options.environment.empty()) options.environment = childEnvironment();
    const char* program = kOnWindows            ? windowsProgram()
                          : substituteProgram() ? substituteProgram()
                                                : QUARVEL_BINARY;
    ProcessResult result = runProcess(program, arguments, options);
    result.err = asText(result.err);
    return result;
  }

  // Formats `document` and expects success with nothing on standard error.
  std::string format(const std::string& document) {
    const ProcessResult result = run({write("doc.xml", document)});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
    return result.out;
  }

  std::filesystem::path directory_;
};

// --- Layout through the whole program ------------------------------------

struct LayoutCase {
  const char* name;
  std::string document;
  std::string expected;
};

std::vector<LayoutCase> layoutCases() {
  using namespace std::string_literals;
  const std::u16string ideographs31(31, u'あ');
  const std::u16string letters70(70, u'x');
  const std::u16string run20 = u"abcdefghijklmnopqrst";
  return {
      {"TypicalRun", "<quarvel><center>Title</center><left>abc</left></quarvel>",
       "\xFF\xFE"s + repeated(" \0"s, 32) + "T\0i\0t\0l\0e\0\r\0\n\0"s + repeated(" \0"s, 4) +
           "a\0b\0c\0\r\0\n\0"s},
      {"EmptyRootPrintsOnlyTheByteOrderMark", "<quarvel/>", kByteOrderMark},
      {"RootLevelTextAfterTheLastBlockIsNotLost", "<quarvel>Hello</quarvel>",
       output({u"    Hello"})},
      {"RootLevelTextAfterABlockIsNotLost", "<quarvel><left>one</left>two<br/>three</quarvel>",
       output({u"    one", u"    two", u"    three"})},
      {"ColumnParagraph",
       "<quarvel><par>"
       "<div width='5' leftmargin='1' rightmargin='0'>abcdefg</div>"
       "<div width='4' leftmargin='0' rightmargin='1'>xy</div>"
       "</par></quarvel>",
       output({u" abcdexy", u" fg"})},
      {"ShorterFirstColumnLeavesItsFieldWidthInSpaces",
       "<quarvel><par>"
       "<div width='3' leftmargin='0' rightmargin='1'>abcdef</div>"
       "text outside the columns<left>not a column</left>"
       "<DiV width='2' leftmargin='0' rightmargin='0'>123456</DiV>"
       "</par>after</quarvel>",
       output({u"abc 12", u"def 34", u"    56", u"    after"})},
      {"UnderlinedLineInAColumnBeforeTheLast",
       "<quarvel><par>"
       "<div width='3' leftmargin='0' rightmargin='1'><underline>ab</underline></div>"
       "<div width='2' leftmargin='0' rightmargin='0'>xy</div>"
       "</par></quarvel>",
       output({u"ab  --  xy"})},
      {"UnderlineRows",
       "<quarvel><left>a<underline>日</underline>b</left>"
       "<left><underline char='＿x'>abc</underline></left></quarvel>",
       output({u"    a日b", u"     -- ", u"    abc", u"    ＿＿"})},
      {"UnderlineStaysInsideItsElement",
       "<quarvel><center><underline>ab</underline>cd</center>ef</quarvel>",
       output({spaces(33) + u"abcd", spaces(33) + u"--  ", u"    ef"})},
      {"ClosingPunctuationHangsIntoTheRightMargin",
       "<quarvel><left>" + repeated("あ", 31) + "。い" + repeated("う", 32) + "</left></quarvel>",
       output(
           {u"    " + ideographs31 + u"。", u"    い" + std::u16string(30, u'う'), u"    うう"})},
      {"OpeningBracketsAreCarriedToTheNextLine",
       "<quarvel><div width='10'>あいう「（か</div><left>abc（<br/>d</left></quarvel>",
       output({u"    あいう", u"    「（か", u"    abc", u"    （d"})},
      {"NonbreakRunStaysWholeOnOneLine",
       "<quarvel><div width='10'>abcdefgh<nonbreak>12345678</nonbreak></div>"
       "<div width='10'>abcdefgh<nonbreak>123<br/>456<underline>789</underline></nonbreak></div>"
       "<div width='10'>ab<nonbreak>abcdefghijklmnopqrst</nonbreak>c</div></quarvel>",
       output({u"    abcdefgh12345678", u"    abcdefgh", u"    123456789", u"    ab",
               u"    " + run20, u"    c"})},
      {"PreKeepsLineEndsAndTabsAndIsLeftAligned",
       "<quarvel><center><pre>\n  a\tb&#13;\n" + std::string(70, 'x') +
           "（<space repeat='2'/>|</pre>after</center></quarvel>",
       output({u"", u"      a\tb", u"    " + letters70 + u"（  |", spaces(32) + u"after"})},
      {"IndentedDocumentGivesNoStrayRows",
       "<quarvel>\n"
       "  <center>Title</center>\n"
       "\t<left>abc</left>\r\n"
       "  <par>\n"
       "    <div width='2' leftmargin='0' rightmargin='1'>ab</div>\n"
       "    <div width='2' leftmargin='0' rightmargin='0'>cd</div>\n"
       "  </par>\n"
       "</quarvel>\n",
       output({spaces(32) + u"Title", u"    abc", u"ab cd"})},
      {"PreservedWhitespaceIsPrinted",
       "<quarvel xml:space='preserve'>  <left>abc</left>"
       "<left xml:space='default'> </left></quarvel>",
       output({u"      ", u"    abc"})},
      {"ElementNamesIgnoreCaseAttributeNamesDoNot",
       "<QUARVEL><Center>ab</Center><DIV WIDTH='2'>abc</DIV></QUARVEL>",
       output({spaces(34) + u"ab", u"    abc"})},
  };
}

void PrintTo(const LayoutCase& layoutCase, std::ostream* out) { *out << layoutCase.name; }

class Layout : public QuarvelBinary, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(Layout, PrintsExactBytes) {
  EXPECT_TRUE(sameBytes(GetParam().expected, format(GetParam().document)));
}

INSTANTIATE_TEST_SUITE_P(Documents, Layout, ::testing::ValuesIn(layoutCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(QuarvelBinary, ManyRowsArriveWhole) {
  const std::string expectedRow = utf16le(u"    " + std::u16string(62, u'a') + u"\r\n");
  std::string expected = kByteOrderMark;
  for (int i = 0; i < 1612; ++i) expected += expectedRow;
  expected += rows({u"    " + std::u16string(56, u'a')});
  EXPECT_TRUE(sameBytes(
      expected, format("<quarvel><left>" + std::string(100000, 'a') + "</left></quarvel>")));
}

// --- Input encodings and locations ------------------------------------------

struct EncodingCase {
  const char* name;
  std::string document;
};

// Each document centres 日本語ｱ。, 9 columns wide (the half-width katakana
// takes one column), so every one must print the same row.
std::vector<EncodingCase> encodingCases() {
  const std::u16string document = u"<quarvel><center>日本語ｱ。</center></quarvel>";
  return {
      {"Utf16LittleEndianWithByteOrderMark", "\xFF\xFE" + utf16le(document)},
      {"Utf16BigEndianWithByteOrderMark", "\xFE\xFF" + utf16be(document)},
      {"Utf8WithByteOrderMark", "\xEF\xBB\xBF<quarvel><center>日本語ｱ。</center></quarvel>"},
      {"ShiftJis",
       "<?xml version='1.0' encoding='Shift_JIS'?><quarvel><center>"
       "\x93\xFA\x96\x7B\x8C\xEA\xB1\x81\x42</center></quarvel>"},
      {"EucJp",
       "<?xml version='1.0' encoding='EUC-JP'?><quarvel><center>"
       "\xC6\xFC\xCB\xDC\xB8\xEC\x8E\xB1\xA1\xA3</center></quarvel>"},
  };
}

void PrintTo(const EncodingCase& encodingCase, std::ostream* out) { *out << encodingCase.name; }

class Encoding : public QuarvelBinary, public ::testing::WithParamInterface<EncodingCase> {};

TEST_P(Encoding, DecodesTheDocument) {
  EXPECT_TRUE(sameBytes(output({spaces(30) + u"日本語ｱ。"}), format(GetParam().document)));
}

INSTANTIATE_TEST_SUITE_P(Documents, Encoding, ::testing::ValuesIn(encodingCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Shift_JIS under any of its names is read as code page 932 and EUC-JP as
// Microsoft's EUC-JP, as Windows reads them: the backslash and the tilde stay
// themselves (not the two-column U+00A5 and U+203E of the strict tables) and
// the vendor extensions such as U+2460 decode.
TEST_F(QuarvelBinary, JapaneseEncodingsAreReadAsWindowsReadsThem) {
  const std::string inCodePage932 = "C:\\dir ~ \x87\x40";
  const std::string inEucJpMs = "C:\\dir ~ \xAD\xA1";
  const std::pair<std::string, const std::string&> cases[] = {
      {"Shift_JIS", inCodePage932},   {"shift_jis", inCodePage932}, {"SJIS", inCodePage932},
      {"x-sjis", inCodePage932},      {"MS_Kanji", inCodePage932},  {"csShiftJIS", inCodePage932},
      {"Windows-31J", inCodePage932}, {"cp932", inCodePage932},     {"MS932", inCodePage932},
      {"EUC-JP", inEucJpMs},          {"euc-jp", inEucJpMs},        {"eucJP", inEucJpMs},
      {"x-euc-jp", inEucJpMs},        {"EUC-JP-MS", inEucJpMs},
  };
  for (const auto& [name, text] : cases) {
    EXPECT_TRUE(sameBytes(output({u"    C:\\dir ~ ①"}),
                          format("<?xml version='1.0' encoding='" + name + "'?><quarvel><left>" +
                                 text + "</left></quarvel>")))
        << name;
  }
  // Long enough to be read and converted in many chunks, with characters
  // cut at every chunk boundary whatever its offset.
  const std::string utf8 = repeated("a①日ｱ", 30000);
  const std::string shiftJis = repeated("a\x87\x40\x93\xFA\xB1", 30000);
  const std::string eucJp = repeated("a\xAD\xA1\xC6\xFC\x8E\xB1", 30000);
  const std::string expected = format("<quarvel><left>" + utf8 + "</left></quarvel>");
  for (const auto& [name, text] :
       {std::pair<std::string, std::string>{"Shift_JIS", shiftJis}, {"EUC-JP", eucJp}}) {
    EXPECT_TRUE(sameBytes(expected, format("<?xml version='1.0' encoding='" + name +
                                           "'?><quarvel><left>" + text + "</left></quarvel>")))
        << name;
  }
}

TEST_F(QuarvelBinary, AcceptsPathsAndFileUrls) {
  const std::string document = "<quarvel><left>abc</left></quarvel>";
  const std::string plain = write("doc.xml", document);
  const std::string spaced = write("with space.xml", document);
  const std::string japanese = write("データ.xml", document);
  const std::string notUtf8 = write("\xFF\xFE.xml", document);
  std::filesystem::path deep = directory_;
  for (int i = 0; i < 3; ++i) deep /= std::string(120, 'd');
  std::filesystem::create_directories(deep);
  const std::string longPath = write((deep / "doc.xml").lexically_relative(directory_), document);
  std::vector<std::string> locations{plain,
                                     spaced,
                                     japanese,
                                     longPath,
                                     "file://" + plain,
                                     "file://" + (directory_ / "with%20space.xml").string()};
  // Windows names files in UTF-16: bytes that are not UTF-8 name nothing there.
  if (!kOnWindows) locations.push_back(notUtf8);
  for (const std::string& location : locations) {
    const ProcessResult result = run({location});
    EXPECT_EQ(result.exitCode, 0) << location;
    EXPECT_EQ(result.err, "") << location;
    EXPECT_TRUE(sameBytes(output({u"    abc"}), result.out)) << location;
  }
}

TEST_F(QuarvelBinary, FetchesHttpUrls) {
  HttpServer server;
  server.setResponse("/doc.xml",
                     {200, "<quarvel><center>Title</center><left>abc</left></quarvel>"});
  const ProcessResult result = run({server.url("/doc.xml")});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(sameBytes(output({spaces(32) + u"Title", u"    abc"}), result.out));
}

TEST_F(QuarvelBinary, HttpErrorStatusIsAFailure) {
  HttpServer server;
  server.setResponse("/missing.xml", {404, "<quarvel><left>not found page</left></quarvel>"});
  const std::string url = server.url("/missing.xml");
  const ProcessResult result = run({url});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(isShortMessage(result.err, url, "404"));
  EXPECT_EQ(server.requestedPaths(), std::vector<std::string>{"/missing.xml"});
}

// Exactly "-" reads standard input, from a pipe or a file, as the same
// document is read from a file; messages name it "-".
TEST_F(QuarvelBinary, DashReadsStandardInput) {
  // Longer than a pipe's buffer, and in an encoding that must be detected.
  const std::string utf8 = "<quarvel><left>" + repeated("abc ", 40000) + "</left></quarvel>";
  const std::string utf16 =
      "\xFF\xFE" + utf16le(u"<quarvel><center>日本</center><left>ｱ</left></quarvel>");
  for (const std::string& document : {utf8, utf16}) {
    const std::string path = write("doc.xml", document);
    const ProcessResult fromFile = run({path});
    ASSERT_EQ(fromFile.exitCode, 0) << fromFile.err;
    ProcessOptions pipe;
    pipe.input = StandardInput::kBytes;
    pipe.inputBytes = document;
    ProcessOptions redirected;
    redirected.input = StandardInput::kFile;
    redirected.inputPath = path;
    for (const ProcessOptions& options : {pipe, redirected}) {
      const ProcessResult result = run({"-"}, options);
      EXPECT_EQ(result.exitCode, 0) << result.err;
      EXPECT_EQ(result.err, "");
      EXPECT_TRUE(sameBytes(fromFile.out, result.out));
    }
  }
  // A slow pipe delivers the XML declaration a few bytes at a time.
  const std::string declared =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<quarvel><left>日本 abc</left></quarvel>\n";
  const ProcessResult fromFile = run({write("declared.xml", declared)});
  ASSERT_EQ(fromFile.exitCode, 0) << fromFile.err;
  ProcessOptions slow;
  slow.input = StandardInput::kBytes;
  slow.inputBytes = declared;
  slow.inputPieceBytes = 3;
  const ProcessResult trickled = run({"-"}, slow);
  EXPECT_EQ(trickled.exitCode, 0) << trickled.err;
  EXPECT_TRUE(sameBytes(fromFile.out, trickled.out));
  ProcessOptions malformed;
  malformed.input = StandardInput::kBytes;
  malformed.inputBytes = "<quarvel>\n<left>abc</right>\n</quarvel>\n";
  const ProcessResult bad = run({"-"}, malformed);
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_EQ(bad.out, "");
  EXPECT_TRUE(isLongMessage(bad.err, "-", 2));
  // A directory cannot be standard input of a Windows program.
  if (!kOnWindows) {
    ProcessOptions directory;
    directory.input = StandardInput::kFile;
    directory.inputPath = directory_.string();
    const ProcessResult unreadable = run({"-"}, directory);
    EXPECT_EQ(unreadable.exitCode, 1);
    EXPECT_EQ(unreadable.err, unreadableMessage("-", EISDIR));
  }
  // A path that starts with "-" is written so that it does not.
  for (const std::string location : {"./-x", "./-"}) {
    const ProcessResult result = run({location});
    EXPECT_EQ(result.exitCode, 1) << location;
    EXPECT_TRUE(isUnreadableMessage(result.err, location, ENOENT));
  }
}

// --- Command line and failures ----------------------------------------------

// Every wrong command line prints the usage with exit code 2. Where an
// argument is an option, one line on standard error says what was wrong.
TEST_F(QuarvelBinary, WrongCommandLinePrintsUsage) {
  const std::string document = write("doc.xml", "<quarvel><left>abc</left></quarvel>");
  const std::string more = "Try 'quarvel --help' for more information.\n";
  const std::string unknown = "quarvel: unrecognised option ";
  const std::string noDocument = "quarvel: no document given\n" + more;
  const struct {
    std::vector<std::string> arguments;
    std::string err;
  } cases[] = {
      {{}, ""},
      {{document, document}, ""},
      {{document, document, document}, ""},
      {{document, "-"}, ""},
      {{"--utf-8"}, noDocument},
      {{"--"}, noDocument},
      {{"--utf-8", "--"}, noDocument},
      {{"--utf8", document}, unknown + "'--utf8'; did you mean '--utf-8'?\n" + more},
      {{document, "--chek"}, unknown + "'--chek'; did you mean '--check'?\n" + more},
      {{"-check", document}, unknown + "'-check'; did you mean '--check'?\n" + more},
      {{"--check=yes", document}, "quarvel: option '--check' takes no value\n" + more},
      {{"-V"}, unknown + "'-V'\n" + more},
      {{"-x", document}, unknown + "'-x'\n" + more},
      {{"--output-file=x", document}, unknown + "'--output-file=x'\n" + more},
      {{"--help", document}, "quarvel: '--help' takes no other argument\n" + more},
      {{"-h", document}, "quarvel: '-h' takes no other argument\n" + more},
      {{"--version", document}, "quarvel: '--version' takes no other argument\n" + more},
      {{"--version", "--help"}, "quarvel: '--version' takes no other argument\n" + more},
      {{"--utf-8", "--help"}, "quarvel: '--help' takes no other argument\n" + more},
      {{"--", document, document}, "quarvel: one document at a time\n" + more},
      {{"--", document, "--utf-8"}, "quarvel: one document at a time\n" + more},
      {{"-o"}, "quarvel: option '-o' needs a file name\n" + more},
      {{"--output", ""}, "quarvel: option '--output' needs a file name\n" + more},
      {{"--output=", document}, "quarvel: option '--output' needs a file name\n" + more},
      {{"-o", "a", "--output=b", document}, "quarvel: one output file at a time\n" + more},
      {{"--check", "-o", "a", document}, "quarvel: --check writes no output for -o\n" + more},
      {{"--check", document, "-oout.txt"}, "quarvel: --check writes no output for -o\n" + more},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& argument : c.arguments) shown += " " + argument;
    const ProcessResult result = run(c.arguments);
    EXPECT_EQ(result.exitCode, 2) << shown;
    EXPECT_EQ(asText(result.out), kUsage) << shown;
    EXPECT_EQ(result.err, c.err) << shown;
  }
}

// --check: no text, one line per finding on standard error, exit 1 when
// there is one; a parse or read error in the same form, as an error.
TEST_F(QuarvelBinary, CheckReportsWhatTheFormatterWouldIgnore) {
  const std::string where = (directory_ / "doc.xml").string() + ":";
  // `count` unknown elements on line 1: the first 1000 are shown, the rest counted.
  auto unknownElements = [&](int count) {
    std::pair<std::string, std::string> documentAndErr{"<quarvel>", ""};
    for (int i = 0; i < count; ++i) {
      documentAndErr.first += "<x/>";
      if (i < 1000) {
        documentAndErr.second +=
            where + "1:" + std::to_string(10 + 4 * i) + ": warning: unknown element 'x'\n";
      }
    }
    documentAndErr.first += "</quarvel>";
    return documentAndErr;
  };
  const auto [thousandAndOne, oneMore] = unknownElements(1001);
  const auto [thousandAndFive, fiveMore] = unknownElements(1005);
  const struct {
    std::string document;
    std::string err;
  } cases[] = {
      {"<quarvel>\n <div width='30' wrap='word'>a\nb</div>\n <pre>a\nb</pre>\n <par><div>x</div> "
       "</par>\n <space repeat='2'/>\n</quarvel>",
       ""},
      // An underline cell holds one code unit.
      {"<quarvel><underline char='&#x1F600;'/></quarvel>",
       where + "1:21: warning: attribute 'char' is a character beyond U+FFFF, which does not fit "
               "an underline cell (drawn as U+FFFD)\n"},
      {"<quarvel>\n  <centre>x</centre></quarvel>",
       where + "2:3: warning: unknown element 'centre'; did you mean 'center'?\n"},
      {"<quarvel><div\n witdh='30'/></quarvel>",
       where + "2:2: warning: element 'div' does not read attribute 'witdh'; did you mean "
               "'width'?\n"},
      {"<quarvel><div width='wide' leftmargin='99999999999'/></quarvel>",
       where + "1:15: warning: attribute 'width' value 'wide' is not an integer (read as 0)\n" +
           where +
           "1:28: warning: attribute 'leftmargin' value '99999999999' is out of range (read as "
           "2147483647)\n"},
      {"<quarvel><underline char='ab'>u</underline></quarvel>",
       where + "1:21: warning: attribute 'char' value 'ab' is more than one character (only the "
               "first is drawn)\n"},
      // What wrecks a layout, each at the place of what it is about.
      {"<quarvel><div leftmargin='2'\n  width='0'/></quarvel>",
       where + "2:3: warning: attribute 'width' value '0' is below 1 (every row then holds one "
               "character)\n"},
      {"<quarvel><div rightmargin='-1'/></quarvel>",
       where +
           "1:15: warning: attribute 'rightmargin' value '-1' is negative (read as 0 columns)\n"},
      {"<quarvel><space repeat='-2'/></quarvel>",
       where + "1:17: warning: attribute 'repeat' value '-2' is negative (no space is put)\n"},
      {"<quarvel><div width='2147483647'><center>x</center></div></quarvel>",
       where + "1:15: warning: attribute 'width' value '2147483647' is more than 10,000 columns "
               "(rows that long, spaces and all, are written)\n"},
      // Measured by the widths in force: under fixed widths the second
      // nonbreak would be 6 columns wide.
      {"<quarvel><par><div width='8' rightmargin='0'><nonbreak>QX-4411-B</nonbreak></div>"
       "<div widths='unicode' width='4' rightmargin='0'><nonbreak>e\xCC\x81\xE6\x97\xA5x</nonbreak>"
       "</div></par></quarvel>",
       where + "1:46: warning: nonbreak text is 9 columns wide, more than its block's 8 (width and "
               "right margin): it runs past the block\n"},
      {"<quarvel><left>Name:\tKenji</left></quarvel>",
       where + "1:10: warning: text holds a tab, which vanishes here (outside pre); use space "
               "repeat=\"N\", or pre\n"},
      {"<quarvel><right>Kenji Sato\n  <br/>Tokyo  </right></quarvel>",
       where +
           "2:3: warning: white space before a br stays as trailing spaces, so the "
           "right-aligned line ends short; end the text right at the tag\n" +
           where +
           "1:10: warning: white space before the block's end stays as trailing spaces, so the "
           "right-aligned line ends short; end the text right at the tag\n"},
      {"<quarvel><nonbreak>a<br/></nonbreak></quarvel>",
       where + "1:21: warning: element 'br' inside a nonbreak has no effect (only its text is "
               "placed)\n"},
      {"<quarvel xmlns:q='u'><q:center>x</q:center><div q:width='9'/></quarvel>",
       where +
           "1:22: warning: element 'q:center' has a prefix, and prefixed names are not read (a "
           "plain container)\n" +
           where +
           "1:49: warning: attribute 'q:width' has a prefix, and prefixed names are not read "
           "(ignored)\n"},
      {"<quarvel><p>a</p><B>b</B><strong/><u/><i/><em/><hr/><table><tr><td/></tr></table>"
       "<div align='right'/></quarvel>",
       where +
           "1:10: warning: unknown element 'p'; a paragraph is 'left' (or 'div' for its own "
           "width and margins)\n" +
           where +
           "1:18: warning: unknown element 'B'; there is no bold; 'underline' marks text\n" +
           where +
           "1:26: warning: unknown element 'strong'; there is no bold; 'underline' marks text\n" +
           where + "1:35: warning: unknown element 'u'; underlined text is 'underline'\n" + where +
           "1:39: warning: unknown element 'i'; there are no italics; 'underline' marks text\n" +
           where +
           "1:43: warning: unknown element 'em'; there are no italics; 'underline' marks text\n" +
           where +
           "1:48: warning: unknown element 'hr'; a rule is an 'underline' of spaces, "
           "<underline><space repeat=\"62\"/></underline>\n" +
           where +
           "1:53: warning: unknown element 'table'; columns side by side are a 'par' holding a "
           "'div' for each column\n" +
           where + "1:60: warning: unknown element 'tr'; a row of columns is a 'par'\n" + where +
           "1:64: warning: unknown element 'td'; a column is a 'div' inside a 'par'\n" + where +
           "1:87: warning: element 'div' does not read attribute 'align'; alignment is an element: "
           "put the text in 'left', 'right' or 'center'\n"},
      {"<quarvel><par>t<left>l</left><div><par/></div></par></quarvel>",
       where + "1:10: warning: par holds text outside its divs (ignored)\n" + where +
           "1:16: warning: par holds element 'left', which is not a div (ignored)\n" + where +
           "1:35: warning: par inside a par: its rows print before the outer par's\n"},
      {"<quarvel><left>one\ntwo</left></quarvel>",
       where + "1:10: warning: text holds line ends, which vanish here (words they alone separate "
               "run together); use pre, or wrap=\"word\" on a div\n"},
      // Parse errors in the form of the findings, with the normal run's reason.
      {"<quarvel>\n<left>a<br>b</left>\n</quarvel>",
       where + "2:15: error: mismatched tag: </left> does not close <br>, opened on line 2\n"},
      {"<quarvel><left>&nbsp;&copy;</left></quarvel>",
       where + "1:16: error: undefined entity 'nbsp', which is HTML's, not XML's: write &#160; or "
               "the character itself\n"},
      {"<quarvel><left>\x93\xFA\x96\x7B</left></quarvel>",
       where + "1:16: error: not well-formed (invalid token): bytes that are not valid in its "
               "encoding, UTF-8 (assumed: it has no encoding declaration); declare the one it is "
               "saved in, for example <?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n"},
      {"\xFF\xFE" + utf16le(u"<?xml version='1.0' encoding='UTF-8'?><quarvel/>"),
       where + "1:1: error: the byte-order mark says UTF-16LE but the declaration says UTF-8; to "
               "mend it, declare encoding=\"UTF-16\" (or leave the encoding out), or save the "
               "document in UTF-8 without the byte-order mark\n"},
      {unknownElements(1000).first, unknownElements(1000).second},
      {thousandAndOne, oneMore + where + " warning: 1 more warning not shown\n"},
      {thousandAndFive, fiveMore + where + " warning: 5 more warnings not shown\n"},
  };
  for (const auto& c : cases) {
    const ProcessResult result = run({"--check", write("doc.xml", c.document)});
    EXPECT_EQ(result.out, "") << c.document;
    EXPECT_EQ(result.err, c.err) << c.document;
    EXPECT_EQ(result.exitCode, c.err.empty() ? 0 : 1) << c.document;
  }
  const std::string missing = (directory_ / "missing.xml").string();
  const ProcessResult unreadable = run({"--check", missing});
  EXPECT_EQ(unreadable.exitCode, 1);
  if (!kOnWindows) {
    EXPECT_EQ(unreadable.err, missing + ": error: " + std::strerror(ENOENT) + "\n");
  }
}

TEST_F(QuarvelBinary, HelpAndVersion) {
  const ProcessResult help = run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.err, "");
  const std::string text = asText(help.out);
  // One text: its own usage, not the three lines of the wrong command line.
  EXPECT_TRUE(text.starts_with("Usage: quarvel [-o FILE] [--utf-8] [--] XML_SOURCE_URL\n")) << text;
  EXPECT_EQ(text.find("usage: quarvel XML_SOURCE_URL"), std::string::npos) << text;
  for (const char* mention :
       {"\n  -o FILE, -oFILE, --output=FILE, --output FILE\n", "-o - ", "\n  --utf-8 ",
        "\n  --check ", "\n  --  ", "\n  -h, --help ", "\n  --version ", "Exit status: "}) {
    EXPECT_NE(text.find(mention), std::string::npos) << "the help lacks " << mention;
  }
  EXPECT_TRUE(text.ends_with(kOnWindows ? ": quarvel.txt, beside quarvel.exe in the zip\n"
                             : substituteProgram() ? ": README.md in the quarvel package\n"
                                                   : ": man quarvel (in the source tree: man -l "
                                                     "man/quarvel.1)\n"))
      << text;
  const ProcessResult shortHelp = run({"-h"});
  EXPECT_EQ(shortHelp.exitCode, 0);
  EXPECT_EQ(shortHelp.out, help.out);
  const ProcessResult version = run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.err, "");
  EXPECT_EQ(asText(version.out), "quarvel " QUARVEL_VERSION "\n");
}

// -o FILE: the bytes a redirect gets, and FILE replaced only by a run that
// succeeded; on any other exit it stays as it was and no temporary file is
// left in its folder.
TEST_F(QuarvelBinary, OutputFileIsReplacedOnlyBySuccess) {
  const std::string document = write("doc.xml", "<quarvel><left>abc</left></quarvel>");
  const std::string bad = write("bad.xml", "<quarvel><left>abc</lef></quarvel>");
  const std::string file = (directory_ / "out.txt").string();
  const std::string old = "old bytes";
  const mode_t umaskNow = ::umask(0);
  ::umask(umaskNow);
  // A folder that not even root may write to; the reason is what the system
  // says when the test tries.
  const std::string unwritable = "/sys/quarvel-out.txt";
  const int probe = ::open(unwritable.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
  const int unwritableError = probe < 0 ? errno : 0;
  if (probe >= 0) {
    ::close(probe);
    ::unlink(unwritable.c_str());
  }
  const std::string missingFolder = (directory_ / "missing" / "out.txt").string();

  enum class Before { kNoFile, kOldFile };
  enum class Binary { kReal, kFirstAllocationFails };
  enum class Where { kAnywhere, kLinuxOnly };
  const struct {
    std::vector<std::string> arguments;
    Before before;
    int exitCode;
    std::string err;
    std::string out;      // standard output
    std::string fileNow;  // FILE's bytes afterwards ("" when it does not exist)
    mode_t mode;          // FILE's permission bits afterwards
    Binary binary = Binary::kReal;
    Where where = Where::kAnywhere;
  } cases[] = {
      {{"-o", file, document}, Before::kNoFile, 0, "", "", output({u"    abc"}), 0666 & ~umaskNow},
      {{"--output=" + file, document}, Before::kOldFile, 0, "", "", output({u"    abc"}), 0640},
      {{"--output", file, "--utf-8", document}, Before::kOldFile, 0, "", "", "    abc\n", 0640},
      // getopt_long's forms: the file in the same argument, a prefix, and
      // options after the document.
      {{"-o" + file, document}, Before::kOldFile, 0, "", "", output({u"    abc"}), 0640},
      {{"--out=" + file, document, "--u"}, Before::kOldFile, 0, "", "", "    abc\n", 0640},
      {{document, "-o", file}, Before::kOldFile, 0, "", "", output({u"    abc"}), 0640},
      {{"-o", file, bad},
       Before::kOldFile,
       1,
       "\"" + bad +
           "\" (1): positon 21: mismatched tag: </lef> does not close <left>, opened on "
           "line 1\n",
       "",
       old,
       0640},
      {{"-o", file, document},
       Before::kOldFile,
       1,
       "kestrown: Out of Memory, Process Terminated\n",
       "",
       old,
       0640,
       Binary::kFirstAllocationFails,
       Where::kLinuxOnly},
      {{"-o", missingFolder, document},
       Before::kNoFile,
       1,
       "quarvel: cannot write \"" + missingFolder + "\": " + std::strerror(ENOENT) + "\n",
       "",
       "",
       0},
      {{"-o", unwritable, document},
       Before::kNoFile,
       1,
       "quarvel: cannot write \"" + unwritable + "\": " + std::strerror(unwritableError) + "\n",
       "",
       "",
       0,
       Binary::kReal,
       Where::kLinuxOnly},
      {{"-o", directory_.string(), document},
       Before::kNoFile,
       1,
       "quarvel: cannot write \"" + directory_.string() + "\": not a regular file\n",
       "",
       "",
       0},
      {{"-o", "-", document}, Before::kNoFile, 0, "", output({u"    abc"}), "", 0},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& argument : c.arguments) shown += " " + argument;
    if (c.where == Where::kLinuxOnly && kOnWindows) continue;
    if (c.arguments[1] == unwritable && unwritableError == 0) continue;  // /sys is writable here
    std::filesystem::remove(file);
    if (c.before == Before::kOldFile) {
      write("out.txt", old);
      ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    }
    ProcessOptions hooked;
    hooked.environment = childEnvironment();
    hooked.environment.push_back("QUARVEL_FAIL_ALLOCATION=1");
    const ProcessResult result = c.binary == Binary::kReal
                                     ? run(c.arguments)
                                     : runProcess(QUARVEL_TEST_HOOKS_BINARY, c.arguments, hooked);
    EXPECT_EQ(result.exitCode, c.exitCode) << shown;
    // Windows' words for system errors are not checked (see isUnreadableMessage).
    const bool systemWords = kOnWindows && c.err.starts_with("quarvel: cannot write \"") &&
                             !c.err.ends_with(": not a regular file\n");
    if (systemWords) {
      EXPECT_TRUE(result.err.starts_with(c.err.substr(0, c.err.find("\": ") + 3))) << result.err;
    } else {
      EXPECT_EQ(result.err, c.err) << shown;
    }
    EXPECT_TRUE(sameBytes(c.out, result.out)) << shown;
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory_)) {
      names.insert(entry.path().filename().string());
    }
    std::set<std::string> expectedNames{"doc.xml", "bad.xml"};
    if (!c.fileNow.empty()) expectedNames.insert("out.txt");
    EXPECT_EQ(names, expectedNames) << shown;
    if (c.fileNow.empty()) continue;
    std::ifstream in(file, std::ios::binary);
    EXPECT_TRUE(sameBytes(c.fileNow, std::string(std::istreambuf_iterator<char>(in), {}))) << shown;
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    if (!kOnWindows) {
      EXPECT_EQ(info.st_mode & 0777, c.mode) << shown;
    }
  }
}

// -o onto the document being read, under any of its names, is refused and
// leaves it as it was.
TEST_F(QuarvelBinary, OutputFileIsNeverTheDocument) {
  const std::string text = "<quarvel><left>abc</left></quarvel>";
  const std::string document = write("doc.xml", text);
  std::vector<std::pair<std::string, std::string>> cases{
      {document, document},  // -o FILE, then the location
      {(directory_ / "." / "doc.xml").string(), document},
      {document, "file://" + document},
  };
  if (!kOnWindows) {
    const std::string soft = (directory_ / "soft.xml").string();
    const std::string hard = (directory_ / "hard.xml").string();
    ASSERT_EQ(::symlink(document.c_str(), soft.c_str()), 0);
    ASSERT_EQ(::link(document.c_str(), hard.c_str()), 0);
    cases.insert(cases.end(), {{document, soft}, {hard, document}});
  }
  for (const auto& [file, location] : cases) {
    const ProcessResult result = run({"-o", file, location});
    EXPECT_EQ(result.exitCode, 1) << file << " " << location;
    EXPECT_EQ(result.err, "quarvel: cannot write \"" + file +
                              "\": it is the document being read (choose another output file)\n");
    std::ifstream in(document, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text) << file;
  }
}

// A signal that ends a run with -o removes the temporary file first: FILE
// stays as it was, and the program ends by that signal. Standard input stays
// open, so the run is still reading when the signal comes.
TEST_F(QuarvelBinary, SignalsLeaveNoTemporaryFile) {
  if (kOnWindows) GTEST_SKIP() << "POSIX signals";
  const std::string file = (directory_ / "out.txt").string();
  const auto temporaryFiles = [&] {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory_)) {
      if (entry.path().filename().string().starts_with(".out.txt.quarvel-"))
        names.push_back(entry.path().filename().string());
    }
    return names;
  };
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) {
    for (const bool oldFile : {false, true}) {
      const std::string shown = std::string(strsignal(signal)) + (oldFile ? ", old file" : "");
      std::filesystem::remove(file);
      if (oldFile) write("out.txt", "old bytes");
      ProcessOptions options;
      options.input = StandardInput::kBytesThenOpen;
      options.inputBytes = "<quarvel><left>more to come";
      options.timeout = std::chrono::seconds(20);
      bool sent = false;
      options.whileRunning = [&](int pid) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
          if (temporaryFiles().size() == 1) {
            sent = ::kill(pid, signal) == 0;
            return;
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
      };
      const ProcessResult result = run({"-o", file, "-"}, options);
      EXPECT_TRUE(sent) << shown;
      EXPECT_FALSE(result.timedOut) << shown;
      EXPECT_EQ(result.exitCode, std::nullopt) << shown;
      EXPECT_EQ(result.signal, signal) << shown;
      EXPECT_EQ(result.err, "") << shown;
      EXPECT_EQ(temporaryFiles(), std::vector<std::string>{}) << shown;
      EXPECT_EQ(std::filesystem::exists(file), oldFile) << shown;
      if (oldFile) {
        std::ifstream in(file, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old bytes") << shown;
      }
    }
  }
}

// Locations that start with "-", and --utf-8 before some, all naming the
// same document. Run in the test's directory with doc.xml as standard input.
class DashLocations : public QuarvelBinary {
 protected:
  void SetUp() override {
    QuarvelBinary::SetUp();
    for (const char* name : {"-x", "--x", "-h", "--help", "doc.xml"}) write(name, kDocument);
    write("-", "<quarvel><left>dash</left></quarvel>");
  }
  void expectPrints(const std::vector<std::string>& arguments, const std::string& expected) {
    ProcessOptions options;
    options.workingDirectory = directory_.string();
    options.inputPath = (directory_ / "doc.xml").string();
    std::string shown;
    for (const std::string& argument : arguments) shown += " " + argument;
    const ProcessResult result = run(arguments, options);
    EXPECT_EQ(result.exitCode, 0) << shown << "\n" << result.err;
    EXPECT_EQ(result.err, "") << shown;
    EXPECT_TRUE(sameBytes(expected, result.out)) << shown;
  }

  static constexpr const char* kDocument = "<quarvel><left>abc</left></quarvel>";
  const std::string utf16_ = output({u"    abc"});
  const std::string utf8_ = "    abc\n";
};

TEST_F(DashLocations, LoadLikeAnyOtherLocation) {
  const std::vector<std::string> utf16Cases[] = {
      {"./-x"}, {"--", "--x"}, {"./-h"}, {"--", "--help"}, {"--", "-x"},
  };
  for (const auto& arguments : utf16Cases) expectPrints(arguments, utf16_);
  const std::vector<std::string> utf8Cases[] = {{"--utf-8", "doc.xml"},
                                                {"doc.xml", "--utf"},
                                                {"--utf-8", "--utf-8", "doc.xml"},
                                                {"--utf-8", "--", "-h"},
                                                {"--utf-8", "./-x"}};
  for (const auto& arguments : utf8Cases) expectPrints(arguments, utf8_);
  expectPrints({"./-"}, output({u"    dash"}));
}

// "-" is standard input (here doc.xml), not the document named "-".
TEST_F(DashLocations, DashAloneReadsStandardInput) {
  expectPrints({"-"}, utf16_);
  expectPrints({"--", "-"}, utf16_);
  expectPrints({"--utf-8", "-"}, utf8_);
}

// --utf-8 and a terminal get exactly what the README's recipe makes of the
// normal output: iconv -f UTF-16 -t UTF-8 | tr -d '\r'.
TEST_F(QuarvelBinary, Utf8IsTheConvertedNormalOutput) {
  std::vector<std::string> documents;
  for (const char* name : {"comparison", "japanese", "letter", "listing", "notice", "showcase"}) {
    documents.push_back(std::string(QUARVEL_SOURCE_DIR "/examples/") + name + ".xml");
  }
  // A CR that is a character of a nonbreak run, and characters outside the
  // Basic Multilingual Plane.
  documents.push_back(write("cr.xml",
                            "<quarvel><left>a<nonbreak>b&#13;c\xF0\x9F\x98\x80"
                            "d</nonbreak>"
                            "\xF0\xA0\x80\x8B</left><pre>x&#13;\ny</pre></quarvel>"));
  for (const std::string& document : documents) {
    ProcessOptions toFile;
    toFile.output = StandardOutput::kFile;
    toFile.outputPath = (directory_ / "out.txt").string();
    ASSERT_EQ(run({document}, toFile).exitCode, 0) << document;
    ProcessOptions shell;
    shell.environment = childEnvironment();
    const ProcessResult converted = runProcess(
        "/bin/sh", {"-c", "iconv -f UTF-16 -t UTF-8 \"$1\" | tr -d '\\r'", "sh", toFile.outputPath},
        shell);
    ASSERT_EQ(converted.exitCode, 0) << document << ": " << converted.err;
    ASSERT_GT(converted.out.size(), 10u) << document;

    const ProcessResult utf8 = run({"--utf-8", document});
    EXPECT_EQ(utf8.exitCode, 0) << document;
    EXPECT_EQ(utf8.out, converted.out) << document;
    // A pseudo-terminal is no Windows console; the console is not tested.
    if (kOnWindows) continue;
    ProcessOptions onTerminal;
    onTerminal.output = StandardOutput::kTerminal;
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{document}, {"--utf-8", document}}) {
      const ProcessResult terminal = run(arguments, onTerminal);
      EXPECT_EQ(terminal.exitCode, 0) << document;
      EXPECT_EQ(terminal.out, converted.out) << arguments.size() << " arguments: " << document;
    }
  }
}

TEST_F(QuarvelBinary, UnreadableLocationGivesTheShortMessage) {
  const std::string missing = (directory_ / "missing.xml").string();
  const std::string missingJapanese = (directory_ / "ない.xml").string();
  const std::pair<std::string, int> cases[] = {
      {missing, ENOENT}, {missingJapanese, ENOENT}, {directory_.string(), EISDIR}};
  for (const auto& [location, error] : cases) {
    const ProcessResult result = run({location});
    EXPECT_EQ(result.exitCode, 1) << location;
    EXPECT_EQ(result.out, "") << location;
    EXPECT_TRUE(isUnreadableMessage(result.err, location, error));
  }
}

TEST_F(QuarvelBinary, MessageCharactersOutsideTheLocaleBecomeQuestionMarks) {
  if (kOnWindows) GTEST_SKIP() << "wine reads the arguments in the locale's character set";
  const std::string missing = (directory_ / "ない.xml").string();
  ProcessOptions options;
  options.environment = childEnvironment("C");
  const ProcessResult result = run({missing}, options);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, unreadableMessage((directory_ / "??.xml").string(), ENOENT));
}

// A system error text arrives in the locale's character set and must be
// decoded from it, not taken for UTF-8.
TEST_F(QuarvelBinary, SystemErrorTextsInALocaleThatIsNotUtf8) {
  if (kOnWindows) GTEST_SKIP() << "glibc's locales; Windows has its own message language";
  const char* name = "ja_JP.eucJP";  // scripts/setup.sh makes it
  const locale_t locale = newlocale(LC_ALL_MASK, name, nullptr);
  if (locale == nullptr) GTEST_SKIP() << name << " is not installed";
  const std::string reason = strerror_l(ENOENT, locale);
  freelocale(locale);
  ASSERT_NE(reason, std::strerror(ENOENT)) << "glibc's Japanese messages are not installed";
  const std::string missing = (directory_ / "missing.xml").string();
  ProcessOptions options;
  options.environment = childEnvironment(name);
  const ProcessResult result = run({missing}, options);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "\"" + missing + "\": " + reason + "\n");
}

TEST_F(QuarvelBinary, OverlongMessageIsCutBeforeItsLineEnd) {
  // The reason names the 3,000-letter entity, which the unread external
  // subset might have declared.
  const std::string path = write("long.xml", "<!DOCTYPE quarvel SYSTEM 'q.dtd'><quarvel>&" +
                                                 std::string(3000, 'n') + ";</quarvel>\n");
  const ProcessResult result = run({path});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(isLongMessage(result.err, path, 1));
  EXPECT_EQ(result.err.size(), 1039u);
}

TEST_F(QuarvelBinary, MalformedDocumentGivesTheLongMessage) {
  const std::string path = write("bad.xml",
                                 "<quarvel>\n"
                                 "  <left>abc</left>\n"
                                 "  <left>abc</right>\n"
                                 "</quarvel>\n");
  const ProcessResult result = run({path});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(isLongMessage(result.err, path, 3));
}

TEST_F(QuarvelBinary, EntityExpansionStaysBounded) {
  std::string document = "<!DOCTYPE quarvel [<!ENTITY a0 'aaaaaaaaaa'>";
  for (int i = 1; i < 10; ++i) {
    document += "<!ENTITY a" + std::to_string(i) + " '" +
                repeated("&a" + std::to_string(i - 1) + ";", 10) + "'>";
  }
  document += "]><quarvel><left>&a9;</left></quarvel>";
  const std::string path = write("laughs.xml", document);
  ProcessOptions options;
  options.timeout = std::chrono::seconds(10);
  const ProcessResult result = run({path}, options);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(isLongMessage(result.err, path, 1));
}

TEST_F(QuarvelBinary, ReadsNothingOutsideTheNamedLocation) {
  HttpServer server;
  server.setResponse("/secret.txt", {200, "TOPSECRET", "text/plain"});
  server.setResponse("/secret.dtd", {200, "<!ENTITY leak 'TOPSECRET'>", "application/xml-dtd"});
  const std::string secret = write("secret.txt", "TOPSECRET");
  const std::string secretDtd = write("secret.dtd", "<!ENTITY leak 'TOPSECRET'>");
  const std::string documents[] = {
      "<!DOCTYPE quarvel [<!ENTITY s SYSTEM 'secret.txt'>]>\n"
      "<quarvel><left>a&s;b</left></quarvel>",
      "<!DOCTYPE quarvel [<!ENTITY s SYSTEM 'file://" + secret +
          "'>]>\n"
          "<quarvel><left>a&s;b</left></quarvel>",
      "<!DOCTYPE quarvel [<!ENTITY s SYSTEM '" + server.url("/secret.txt") +
          "'>]>\n"
          "<quarvel><left>a&s;b</left></quarvel>",
      "<!DOCTYPE quarvel SYSTEM 'secret.dtd'>\n<quarvel><left>a&leak;b</left></quarvel>",
      "<!DOCTYPE quarvel SYSTEM '" + server.url("/secret.dtd") +
          "'>\n"
          "<quarvel><left>a&leak;b</left></quarvel>",
      "<!DOCTYPE quarvel [<!ENTITY % p SYSTEM '" + secretDtd +
          "'> %p;]>\n"
          "<quarvel><left>a&leak;b</left></quarvel>",
      "<quarvel xmlns:xi='http://www.w3.org/2001/XInclude'><left>a"
      "<xi:include href='secret.txt' parse='text'/>b</left></quarvel>",
  };
  // The first document once more, fetched over HTTP: its relative entity
  // would resolve against the server.
  server.setResponse("/entity.xml", {200, documents[0]});
  std::vector<std::string> locations;
  for (const std::string& document : documents) {
    locations.push_back(write("doc" + std::to_string(locations.size()) + ".xml", document));
  }
  locations.push_back(server.url("/entity.xml"));
  for (const std::string& location : locations) {
    const ProcessResult result = run({location});
    ASSERT_TRUE(result.exitCode.has_value()) << location;
    EXPECT_EQ(result.out.find(utf16le(u"TOPSECRET")), std::string::npos) << location;
    EXPECT_EQ(result.out.find("TOPSECRET"), std::string::npos) << location;
    EXPECT_EQ(result.err.find("TOPSECRET"), std::string::npos) << location;
    if (result.exitCode == 0) {
      EXPECT_TRUE(sameBytes(output({u"    ab"}), result.out)) << location;
    } else {
      EXPECT_EQ(result.out, "") << location;
    }
  }
  EXPECT_EQ(server.requestedPaths(), std::vector<std::string>{"/entity.xml"});
}

TEST_F(QuarvelBinary, WriteErrorsAreReported) {
  const std::string small = write("small.xml", "<quarvel><left>abc</left></quarvel>");
  const std::string large =
      write("large.xml", "<quarvel><left>" + std::string(200000, 'a') + "</left></quarvel>");
  struct {
    StandardOutput output;
    std::vector<std::string> arguments;
    int error;
  } cases[] = {
      {StandardOutput::kFile, {small}, ENOSPC},
      {StandardOutput::kFile, {large}, ENOSPC},
      {StandardOutput::kClosed, {small}, EBADF},
      {StandardOutput::kFile, {"--utf-8", large}, ENOSPC},
      {StandardOutput::kFile, {"--help"}, ENOSPC},
      {StandardOutput::kClosed, {"--version"}, EBADF},
  };
  for (const auto& c : cases) {
    ProcessOptions options;
    options.output = c.output;
    options.outputPath = "/dev/full";
    const ProcessResult result = run(c.arguments, options);
    EXPECT_EQ(result.exitCode, 1) << c.arguments.back();
    EXPECT_EQ(result.err,
              std::string("quarvel: cannot write the output: ") + std::strerror(c.error) + "\n")
        << c.arguments.back();
  }
}

}  // namespace
}  // namespace quarvel::testing
