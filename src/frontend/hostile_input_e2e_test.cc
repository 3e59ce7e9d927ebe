// Runs the real quarvel binary on hostile documents and in failing
// surroundings. Each case states its bound: exit code, messages, output,
// and where it matters the time taken and the child's peak memory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "layout/allocation.h"
#include "test_support/http_server.h"
#include "test_support/process.h"
#include "test_support/utf16.h"

namespace quarvel::testing {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

const std::string kByteOrderMark = "\xFF\xFE";
const std::string kOutOfMemory = "kestrown: Out of Memory, Process Terminated\n";

// The layout allocation budget of allocation.h for a document of `bytes`;
// peak memory bounds are stated relative to it.
long budgetKb(std::size_t bytes) { return static_cast<long>(layoutBudgetFor(bytes) / 1024); }

std::string output(std::initializer_list<std::u16string_view> lines) {
  return kByteOrderMark + rows(lines);
}

std::string repeated(const std::string& text, std::size_t count) {
  std::string result;
  result.reserve(text.size() * count);
  for (std::size_t i = 0; i < count; ++i) result += text;
  return result;
}

::testing::AssertionResult sameBytes(const std::string& expected, const std::string& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  auto shown = [](const std::string& bytes) {
    return bytes.size() > 4000 ? readable(bytes.substr(0, 4000)) + "..." : readable(bytes);
  };
  return ::testing::AssertionFailure()
         << "expected " << expected.size() << " bytes:\n"
         << shown(expected) << "\nactual " << actual.size() << " bytes:\n"
         << shown(actual);
}

// Whether `message` is `prefix`, a reason that contains `needle` (any
// reason when it is empty), and a line end.
::testing::AssertionResult isMessage(const std::string& prefix, const std::string& needle,
                                     const std::string& message) {
  const bool ok = message.starts_with(prefix) && message.size() > prefix.size() + 1 &&
                  message.ends_with("\n") &&
                  message.find(needle, prefix.size()) != std::string::npos;
  if (ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "expected " << prefix << "...\"" << needle << "\"...\\n, got: " << message;
}

// The long parse error form for `location`: line at least 1, any position.
::testing::AssertionResult isParseError(const std::string& location, const std::string& needle,
                                        const std::string& message) {
  const std::string head = "\"" + location + "\" (";
  std::size_t at = head.size();
  auto number = [&] {
    const std::size_t start = at;
    while (at < message.size() && message[at] >= '0' && message[at] <= '9') ++at;
    return at > start;
  };
  const bool formed = message.starts_with(head) && number() && message[head.size()] != '0' &&
                      message.compare(at, 11, "): positon ") == 0 && ((at += 11), number()) &&
                      message.compare(at, 2, ": ") == 0;
  if (!formed) return ::testing::AssertionFailure() << "not a parse error message: " << message;
  return isMessage(message.substr(0, at + 2), needle, message);
}

struct Measured {
  ProcessResult result;
  double seconds = 0;
  // The child's peak resident set size.
  long peakKb = 0;
};

class HostileInput : public ::testing::Test {
 protected:
  void SetUp() override {
    if (windowsProgram() != nullptr) {
      GTEST_SKIP() << "Linux only: address-space limits, the test-hooks build, timings";
    }
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quarvel-hostile-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
    directory_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  std::string write(const std::string& name, const std::string& bytes) {
    const std::filesystem::path path = directory_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  // The child sees a fixed UTF-8 locale, the sanitizer settings of the test
  // run, and `extra`.
  static std::vector<std::string> environment(std::vector<std::string> extra = {}) {
    std::vector<std::string> result{"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin"};
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name)) result.push_back(std::string(name) + "=" + value);
    }
    result.insert(result.end(), extra.begin(), extra.end());
    return result;
  }

  // Runs the real program, or with `program` the test build that takes
  // test-only settings from the environment.
  Measured run(const std::string& location, ProcessOptions options = {},
               const std::string& program = QUARVEL_BINARY) {
    if (options.environment.empty()) options.environment = environment();
    Measured run;
    const auto start = std::chrono::steady_clock::now();
    run.result = runProcess(program, {location}, options);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKb = run.result.peakResidentKb;
    return run;
  }

  Measured runToDevFull(const std::string& location) {
    ProcessOptions options;
    options.output = StandardOutput::kFile;
    options.outputPath = "/dev/full";
    return run(location, options);
  }

  std::filesystem::path directory_;
};

// --- Allocation budget and allocation failures --------------------------

TEST_F(HostileInput, AllocationBudgetStopsRunawayLayoutWithBoundedMemory) {
  struct {
    const char* name;
    std::string document;
    std::string out;
  } cases[] = {
      // One preformatted line of two billion spaces.
      {"pre", "<quarvel><pre><space repeat=\"2000000000\"/></pre></quarvel>", kByteOrderMark},
      // A column holds all its lines until the paragraph is printed.
      {"columns",
       "<quarvel><left>before</left><par><div><space repeat=\"2000000000\"/></div>"
       "<div>never printed</div></par></quarvel>",
       output({u"    before"})},
  };
  for (const auto& c : cases) {
    // A few bytes of markup get the smallest budget. The bound adds what the
    // program holds besides (the sanitizer's shadow memory an eighth more).
    const long budget = budgetKb(c.document.size());
    const long boundKb = kSanitized ? budget * 3 / 2 + 64 * 1024 : budget + 32 * 1024;
    ProcessOptions options;
    options.timeout = std::chrono::seconds(kSanitized ? 180 : 90);
    const Measured r = run(write("bomb.xml", c.document), options);
    std::cout << c.name << ": " << r.seconds << " s, peak " << r.peakKb << " KB\n";
    EXPECT_EQ(r.result.exitCode, 1) << c.name;
    EXPECT_EQ(r.result.err, kOutOfMemory) << c.name;
    EXPECT_TRUE(sameBytes(c.out, r.result.out)) << c.name;
    EXPECT_LT(r.peakKb, boundKb) << c.name;
    EXPECT_GT(r.peakKb, budget * 3 / 4) << c.name << ": the budget was not reached";
  }
}

TEST_F(HostileInput, EveryFailedAllocationStopsOnceWithExitOne) {
  const std::string path = write("notice.xml", R"(<quarvel>
  <center><underline>Quarterly notice</underline></center>
  <left>Dear reader, the meeting moves to <nonbreak>Room 4-B</nonbreak>（second floor）. Bring your badge.</left>
  <div width="30" leftmargin="2" rightmargin="2">A narrow block that wraps, with closing punctuation, hanging。<br/>And a forced break.</div>
  <par>
    <div width="12" leftmargin="0" rightmargin="1">Left column text that wraps.</div>
    <div width="10" leftmargin="1" rightmargin="0"><underline char="=">Right</underline> side</div>
  </par>
  <pre>  keep
    this<space repeat="3"/>|</pre>
  <right>signed</right>
</quarvel>
)");
  const Measured full = run(path);
  ASSERT_EQ(full.result.exitCode, 0);
  ASSERT_GT(full.result.out.size(), 800u);

  // Every allocation in turn; a sanitizer build (which also checks for
  // leaks at exit) samples every fifth to stay within the time budget.
  const uint64_t step = kSanitized ? 5 : 1;
  uint64_t failures = 0;
  for (uint64_t n = 1;; n += step) {
    ProcessOptions options;
    options.environment = environment({"QUARVEL_FAIL_ALLOCATION=" + std::to_string(n)});
    const Measured r = run(path, options, QUARVEL_TEST_HOOKS_BINARY);
    if (r.result.exitCode == 0) {
      // Past the run's last allocation: the complete output again.
      EXPECT_EQ(r.result.err, "");
      EXPECT_TRUE(sameBytes(full.result.out, r.result.out));
      break;
    }
    ++failures;
    ASSERT_EQ(r.result.exitCode, 1) << "allocation " << n << ", signal " << r.result.signal << "\n"
                                    << r.result.err;
    EXPECT_EQ(r.result.err, kOutOfMemory) << "allocation " << n;
    // Rows already printed stay, cut at a row boundary.
    const std::string& out = r.result.out;
    EXPECT_EQ(out, full.result.out.substr(0, out.size())) << "allocation " << n;
    EXPECT_TRUE(out.size() == 2 || out.ends_with(std::string("\r\0\n\0", 4)))
        << "allocation " << n << ":\n"
        << readable(out);
  }
  EXPECT_GT(failures * step, 150u);
}

// Memory that runs out outside the layout budget (`ulimit -v`): in loading,
// in string conversions, in the walk. The sanitizer needs terabytes of
// address space for its shadow, so it cannot run under such a limit.
TEST_F(HostileInput, MemoryRunningOutAnywhereIsTheStop) {
  if (kSanitized) GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
  const std::string path = write("huge.xml", "<quarvel><left>first</left><left>" +
                                                 std::string(9'500'000, 'a') + "</left></quarvel>");
  ProcessOptions options;
  // ulimit -v 58000: some 9 MB short of what the run takes.
  options.addressSpaceLimit = 58'000ull * 1024;
  const Measured r = run(path, options);
  EXPECT_EQ(r.result.exitCode, 1) << "signal " << r.result.signal;
  EXPECT_EQ(r.result.err, kOutOfMemory);
  // Memory may run out while loading (nothing printed yet) or in the walk
  // (the first row has been printed and stays).
  const std::string& out = r.result.out;
  EXPECT_TRUE(out.empty() || out.starts_with(output({u"    first"})))
      << readable(out.substr(0, 200));
}

// --- Hostile documents -----------------------------------------------------

TEST_F(HostileInput, DeepNestingIsAParseErrorNotAStackOverflow) {
  const std::string deep =
      "<quarvel>" + repeated("<left>", 100000) + "x" + repeated("</left>", 100000) + "</quarvel>";
  const std::string path = write("deep.xml", deep);
  const Measured r = run(path);
  EXPECT_EQ(r.result.exitCode, 1);
  EXPECT_EQ(r.result.out, "");
  EXPECT_TRUE(isParseError(path, "Elements nest more than 257 deep", r.result.err));

  // The deepest document that loads is walked without trouble.
  const std::string deepest = write("deepest.xml", "<quarvel>" + repeated("<div>", 256) + "x" +
                                                       repeated("</div>", 256) + "</quarvel>");
  const Measured ok = run(deepest);
  EXPECT_EQ(ok.result.exitCode, 0) << ok.result.err;
  EXPECT_TRUE(sameBytes(output({u"    x"}), ok.result.out));
}

TEST_F(HostileInput, EntityBombsAreRefusedQuicklyInLittleMemory) {
  std::string laughs = "<!DOCTYPE quarvel [<!ENTITY a0 'lol'>";
  for (int i = 1; i < 10; ++i) {
    laughs += "<!ENTITY a" + std::to_string(i) + " '" +
              repeated("&a" + std::to_string(i - 1) + ";", 10) + "'>";
  }
  laughs += "]>";
  const std::string big(100000, 'x');
  struct {
    const char* name;
    std::string document;
  } cases[] = {
      {"billion laughs", laughs + "<quarvel>&a9;</quarvel>"},
      {"billion laughs in an attribute", laughs + "<quarvel><div width='&a9;'/></quarvel>"},
      {"quadratic blowup", "<!DOCTYPE quarvel [<!ENTITY big '" + big + "'>]><quarvel>" +
                               repeated("&big;", 100000) + "</quarvel>"},
  };
  // The sanitizer's allocator keeps freed memory in quarantine.
  const double boundSeconds = kSanitized ? 10 : 1;
  const long boundKb = kSanitized ? 512 * 1024 : 100 * 1024;
  for (const auto& c : cases) {
    const std::string path = write("bomb.xml", c.document);
    const Measured r = run(path);
    EXPECT_EQ(r.result.exitCode, 1) << c.name;
    EXPECT_EQ(r.result.out, "") << c.name;
    EXPECT_TRUE(isParseError(path, "", r.result.err)) << c.name;
    EXPECT_LT(r.seconds, boundSeconds) << c.name;
    EXPECT_LT(r.peakKb, boundKb) << c.name;
  }
}

// Attribute values that entities or declared defaults multiply, elements
// with very many attributes and nesting stacked by entities: each is either
// formatted in little memory and time or refused as a parse error.
TEST_F(HostileInput, AttributeAmplificationAndStackedNestingStaySmall) {
  const std::string entity = "<!ENTITY e '" + std::string(10000, 'x') + "'>";
  std::string manyAttributes;
  for (int i = 0; i < 100000; ++i) manyAttributes += " a" + std::to_string(i) + "=''";
  std::string fiftyReferringAttributes;
  for (int i = 0; i < 50; ++i) {
    fiftyReferringAttributes += " a" + std::to_string(i) + "='" + repeated("&e;", 1000) + "'";
  }
  std::string manyDefaults;
  for (int i = 0; i < 900; ++i) manyDefaults += " a" + std::to_string(i) + " CDATA 'v'";
  std::string stacked = "<!ENTITY l0 '" + repeated("<x>", 256) + repeated("</x>", 256) + "'>";
  for (int i = 1; i < 20; ++i) {
    stacked += "<!ENTITY l" + std::to_string(i) + " '" + repeated("<x>", 256) + "&l" +
               std::to_string(i - 1) + ";" + repeated("</x>", 256) + "'>";
  }
  const std::string hi = output({u"    hi"});
  struct {
    const char* name;
    std::string document;
    // Empty: a parse error whose reason holds `needle`.
    std::string out;
    std::string needle;
  } cases[] = {
      // 500 KB once: expat's amplification limit starts at 1 MiB.
      {"a default of 50 references copied into 100,000 elements",
       "<!DOCTYPE quarvel [" + entity + "<!ATTLIST b a CDATA '" + repeated("&e;", 50) +
           "'>]><quarvel>" + repeated("<b/>", 100000) + "hi</quarvel>",
       hi, ""},
      {"a 1 MB literal default on 500 elements",
       "<!DOCTYPE quarvel [<!ATTLIST b a CDATA '" + std::string(1000000, 'y') + "'>]><quarvel>" +
           repeated("<b/>", 500) + "hi</quarvel>",
       hi, ""},
      {"a 1 MB default width read on 100,000 divs",
       "<!DOCTYPE quarvel [<!ATTLIST div width CDATA '3" + std::string(1000000, ' ') +
           "'>]><quarvel>" + repeated("<div>abcdef</div>", 100000) + "</quarvel>",
       kByteOrderMark + repeated(utf16le(u"    abc\r\n    def\r\n"), 100000), ""},
      {"50 attributes of 1,000 references each",
       "<!DOCTYPE quarvel [" + entity + "]><quarvel><b" + fiftyReferringAttributes + "/></quarvel>",
       "", "limit on input amplification factor (from DTD and entities) breached"},
      {"explicit values of 100 references on 1,500 elements",
       "<!DOCTYPE quarvel [" + entity + "]><quarvel>" +
           repeated("<b a='" + repeated("&e;", 100) + "'/>", 1500) + "</quarvel>",
       "", "limit on input amplification factor (from DTD and entities) breached"},
      {"100,000 attributes on one element", "<quarvel><b" + manyAttributes + "/>hi</quarvel>", "",
       "More distinct names and attribute declarations than the document's size allows"},
      {"900 declared defaults on 100,000 elements",
       "<!DOCTYPE quarvel [<!ATTLIST b" + manyDefaults + ">]><quarvel>" + repeated("<b/>", 100000) +
           "</quarvel>",
       "", "Declared attributes at element 'b'"},
      {"20 entities each nesting 256 levels",
       "<!DOCTYPE quarvel [" + stacked + "]><quarvel>&l19;</quarvel>", "",
       "Elements nest more than 257 deep"},
  };
  const double boundSeconds = kSanitized ? 60 : 5;
  const long boundKb = kSanitized ? 512 * 1024 : 100 * 1024;
  for (const auto& c : cases) {
    const std::string path = write("amplified.xml", c.document);
    const Measured r = run(path);
    std::cout << c.name << ": " << r.seconds << " s, peak " << r.peakKb << " KB\n";
    if (c.out.empty()) {
      EXPECT_EQ(r.result.exitCode, 1) << c.name;
      EXPECT_EQ(r.result.out, "") << c.name;
      EXPECT_TRUE(isParseError(path, c.needle, r.result.err)) << c.name;
    } else {
      EXPECT_EQ(r.result.exitCode, 0) << c.name;
      EXPECT_EQ(r.result.err, "") << c.name;
      EXPECT_TRUE(sameBytes(c.out, r.result.out)) << c.name;
    }
    EXPECT_LT(r.seconds, boundSeconds) << c.name;
    EXPECT_LT(r.peakKb, boundKb) << c.name;
  }
}

// The integer rule saturates; every value is taken as read.
TEST_F(HostileInput, IntegerAttributesAtTheEdgesOfTheRule) {
  struct {
    const char* name;
    std::string document;
    std::string out;
  } cases[] = {
      {"repeat",
       "<quarvel><pre>|<space repeat='-2147483648'/>|<space repeat='+'/>|<space repeat='-'/>|"
       "<space repeat=' 7'/>|<space repeat='12abc'/>|</pre></quarvel>",
       output({u"    ||||       |            |"})},
      {"width",
       "<quarvel><div width='2147483647'>abcdefghij</div>"
       "<div width='99999999999999999999'>abcdefghij</div>"
       "<div width='-2147483648'>ab</div><div width='+'>ab</div><div width='-'>ab</div>"
       "<div width=' 7'>abcdefghij</div><div width='12abc'>abcdefghijklmn</div></quarvel>",
       output({u"    abcdefghij", u"    abcdefghij", u"    a", u"    b", u"    a", u"    b",
               u"    a", u"    b", u"    abcdefg", u"    hij", u"    abcdefghijkl", u"    mn"})},
      // Margins this wide are only printed before rows; these divs have none.
      {"leftmargin",
       "<quarvel><div leftmargin='2147483647'/><div leftmargin='99999999999999999999'></div>"
       "<div leftmargin='-2147483648'>a</div><div leftmargin='+'>b</div>"
       "<div leftmargin='-'>c</div><div leftmargin=' 7'>d</div>"
       "<div leftmargin='12abc'>e</div></quarvel>",
       output({u"a", u"b", u"c", u"       d", u"            e"})},
      {"rightmargin",
       "<quarvel><div width='2' rightmargin='2147483647'>ab。。。。c</div>"
       "<div width='2' rightmargin='99999999999999999999'>ab。。</div>"
       "<div width='2' rightmargin='-2147483648'>ab。c</div>"
       "<div width='2' rightmargin='+'>ab。c</div><div width='2' rightmargin='-'>ab。c</div>"
       "<div width='2' rightmargin=' 7'>ab。。。。。c</div>"
       "<div width='2' rightmargin='12abc'>ab。。。。。。。。c</div></quarvel>",
       output({u"    ab。。。。", u"    c", u"    ab。。", u"    ab", u"    。", u"    c",
               u"    ab", u"    。", u"    c", u"    ab", u"    。", u"    c", u"    ab。。。",
               u"    。。", u"    c", u"    ab。。。。。。", u"    。。", u"    c"})},
  };
  for (const auto& c : cases) {
    const Measured r = run(write("edges.xml", c.document));
    EXPECT_EQ(r.result.exitCode, 0) << c.name;
    EXPECT_EQ(r.result.err, "") << c.name;
    EXPECT_TRUE(sameBytes(c.out, r.result.out)) << c.name;
  }
}

// A document may ask for billions of spaces; that output is then what it
// gets. When the output fails, the program stops soon instead of spinning
// through the count.
TEST_F(HostileInput, AbsurdCountsStopSoonOnceTheOutputFails) {
  for (const char* value : {"2147483647", "99999999999999999999"}) {
    const std::string v = value;
    const std::string documents[] = {
        "<quarvel><space repeat='" + v + "'/></quarvel>",
        "<quarvel><div leftmargin='" + v + "'>a</div></quarvel>",
        "<quarvel><center><div width='" + v + "'>a</div></center></quarvel>",
        // The first column's field is leftmargin + width + rightmargin wide.
        "<quarvel><par><div rightmargin='" + v + "'>a</div><div>b</div></par></quarvel>",
    };
    for (const std::string& document : documents) {
      const Measured r = runToDevFull(write("absurd.xml", document));
      EXPECT_EQ(r.result.exitCode, 1) << document;
      EXPECT_EQ(r.result.err,
                std::string("quarvel: cannot write the output: ") + std::strerror(ENOSPC) + "\n")
          << document;
      EXPECT_LT(r.seconds, kSanitized ? 20 : 5) << document;
    }
  }
}

// Shapes that once made layout quadratic: every line break carried nearly a
// whole line of opening characters forward again, and every row of a column
// paragraph visited every column; in word mode, trimming or moving a word at
// every line end. Each took 15 s or far longer; linear
// layout does each in well under a second.
TEST_F(HostileInput, LayoutTimeGrowsLinearlyWhateverTheShape) {
  struct {
    const char* name;
    std::string document;
  } cases[] = {
      {"opening brackets filling a wide div",
       "<quarvel><div width='20000'>" + std::string(80000, '(') + "</div></quarvel>"},
      {"wide opening brackets filling a wide div",
       "<quarvel><div width='20000'>" + repeated("「", 80000) + "</div></quarvel>"},
      {"opening brackets ended by br",
       "<quarvel><div width='1000000'>" + repeated("(((<br/>", 40000) + "</div></quarvel>"},
      {"one long column before many empty ones",
       "<quarvel><par><div width='1'>" + std::string(80000, 'a') + "</div>" +
           repeated("<div/>", 80000) + "</par></quarvel>"},
      {"many columns of no width before a long one",
       "<quarvel><par>" + repeated("<div width='-80'/>", 80000) + "<div width='1'>" +
           std::string(80000, 'a') + "</div></par></quarvel>"},
      // Each line ends in a space after the run (trimmed, then carried), or
      // moves a growing word behind it: neither may walk the run or the word.
      {"word mode: trimming and moving words behind a carried run",
       "<quarvel><div wrap='word' width='160001' rightmargin='0'>" + repeated("「", 80000) +
           repeated(" 「", 40000) + "</div><div wrap='word' width='160000' rightmargin='0'>" +
           repeated("「", 80000) + std::string(160000, 'a') + "</div></quarvel>"},
  };
  for (const auto& c : cases) {
    const Measured r = run(write("shape.xml", c.document));
    std::cout << c.name << ": " << r.seconds << " s\n";
    EXPECT_EQ(r.result.exitCode, 0) << c.name;
    EXPECT_EQ(r.result.err, "") << c.name;
    EXPECT_LT(r.seconds, kSanitized ? 20 : 5) << c.name;
  }
}

// One text node may be of any length: the parser hands it in pieces.
TEST_F(HostileInput, TextNodesOfAnyLengthAreFormatted) {
  const std::string text(12'000'000, 'a');
  const Measured r = run(write("long.xml", "<quarvel><pre>" + text + "</pre></quarvel>"));
  EXPECT_EQ(r.result.exitCode, 0);
  EXPECT_EQ(r.result.err, "");
  EXPECT_TRUE(sameBytes(kByteOrderMark + utf16le(u"    ") +
                            utf16le(std::u16string(text.size(), u'a')) + utf16le(u"\r\n"),
                        r.result.out));
}

TEST_F(HostileInput, GarbageAndEmptyFilesAreParseErrors) {
  std::mt19937 random(20261208);
  std::string noise(65536, '\0');
  for (char& byte : noise) byte = static_cast<char>(random());
  struct {
    const char* name;
    std::string bytes;
    std::string needle;
  } cases[] = {
      {"empty", "", "no element found"},
      {"random bytes", noise, ""},
      {"random bytes after a start tag", "<quarvel><left>" + noise, ""},
      {"NUL bytes", std::string(1000, '\0'), ""},
      {"a byte-order mark only", kByteOrderMark, ""},
      {"UTF-8 after a UTF-16 byte-order mark", kByteOrderMark + "<quarvel/>", ""},
      {"an unknown encoding", "<?xml version='1.0' encoding='x-unknown'?><quarvel/>",
       "Unsupported encoding x-unknown"},
      // Never read again as the declaration says: that gave mojibake, exit 0.
      {"a UTF-8 mark on a document declared Shift_JIS",
       "\xEF\xBB\xBF<?xml version='1.0' encoding='Shift_JIS'?><quarvel>\xE6\x97\xA5</quarvel>",
       "the byte-order mark says UTF-8 but the declaration says Shift_JIS"},
      {"unterminated", "<quarvel><left>abc", ""},
  };
  for (const auto& c : cases) {
    const std::string path = write("garbage.xml", c.bytes);
    const Measured r = run(path);
    EXPECT_EQ(r.result.exitCode, 1) << c.name;
    EXPECT_EQ(r.result.out, "") << c.name;
    EXPECT_TRUE(isParseError(path, c.needle, r.result.err)) << c.name;
  }
}

// --- Failing surroundings ---------------------------------------------------

TEST_F(HostileInput, ReaderThatQuitsEarlyEndsTheRun) {
  const std::string path =
      write("long.xml", "<quarvel><left>" + std::string(500000, 'a') + "</left></quarvel>");
  const std::filesystem::path fifo = directory_ / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
  // Opened before the child so that its open for writing does not block.
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0) << std::strerror(errno);
  std::size_t received = 0;
  std::thread quitter([&] {
    char buffer[4096];
    pollfd fd{reader, POLLIN, 0};
    while (received < 4096 && poll(&fd, 1, 20000) > 0) {
      const ssize_t n = read(reader, buffer, sizeof buffer);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
      if (n > 0) received += static_cast<std::size_t>(n);
    }
    close(reader);
  });
  ProcessOptions options;
  options.output = StandardOutput::kFile;
  options.outputPath = fifo.string();
  const Measured r = run(path, options);
  quitter.join();
  EXPECT_GE(received, 4096u);
  EXPECT_FALSE(r.result.timedOut);
  // Killed by SIGPIPE like other tools, or, where SIGPIPE is ignored, the
  // write error.
  if (r.result.exitCode) {
    EXPECT_EQ(*r.result.exitCode, 1);
    EXPECT_EQ(r.result.err,
              std::string("quarvel: cannot write the output: ") + std::strerror(EPIPE) + "\n");
  } else {
    EXPECT_EQ(r.result.signal, SIGPIPE);
  }
}

TEST_F(HostileInput, HttpFailuresEndWithAMessage) {
  const std::string document = "<quarvel><left>never formatted</left></quarvel>";
  HttpServer server;
  server.setResponse("/silent.xml", {200, "", "", Reply::kSilent});
  server.setResponse("/trickle.xml", {200, document, "application/xml", Reply::kTrickle});
  server.setResponse(
      "/truncated.xml",
      {200,
       "HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\nContent-Length: " +
           std::to_string(document.size() + 900) + "\r\nConnection: close\r\n\r\n" + document,
       "", Reply::kRaw});
  server.setResponse("/hangs-up.xml", {200, "", "", Reply::kRaw});
  server.setResponse("/error.xml", {500, document});
  server.setResponse("/trailers.xml", {200, document, "application/xml", Reply::kEndlessTrailers});
  server.setResponse("/endless.xml", {200, "<quarvel/>", "application/xml", Reply::kEndlessBody});
  server.setResponse("/gzip.xml",
                     {200, "<quarvel/>", "application/xml", Reply::kGzipTransferEncoded});
  server.setResponse("/long-header.xml",
                     {200,
                      "HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\nX-Long: " +
                          std::string(300'000, 'h') + "\r\nConnection: close\r\n\r\n" + document,
                      "", Reply::kRaw});
  struct {
    const char* name;
    std::string path;
    std::string needle;
    // The timeouts take the test build with 1 s ones; the rest, the real
    // program with its real caps.
    bool shortTimeouts = false;
  } cases[] = {
      {"never answers", "/silent.xml", "timed out", true},
      {"times out in mid-body", "/trickle.xml", "timed out", true},
      {"truncated body", "/truncated.xml", "transfer closed with 900 bytes remaining"},
      {"closes without answering", "/hangs-up.xml", "Empty reply from server"},
      {"server error", "/error.xml", "HTTP status 500"},
      {"endless trailers", "/trailers.xml", "more than 262144 bytes of header and trailer lines"},
      {"endless body", "/endless.xml", "the document is larger than 67108864 bytes"},
      {"gzip transfer encoding", "/gzip.xml", "unsupported transfer encoding: gzip"},
      {"one long header line", "/long-header.xml",
       "the server sent a header line longer than 102400 bytes"},
  };
  // Past the 64 MiB of the endless body that the parser holds.
  const long boundKb = kSanitized ? 400 * 1024 : 160 * 1024;
  for (const auto& c : cases) {
    ProcessOptions options;
    options.environment = environment({"QUARVEL_HTTP_TIMEOUT_MS=1000"});
    const std::string url = server.url(c.path);
    const Measured r =
        run(url, options, c.shortTimeouts ? QUARVEL_TEST_HOOKS_BINARY : QUARVEL_BINARY);
    std::cout << c.name << ": " << r.seconds << " s, peak " << r.peakKb << " KB\n";
    EXPECT_EQ(r.result.exitCode, 1) << c.name;
    EXPECT_EQ(r.result.out, "") << c.name;
    EXPECT_TRUE(isMessage("\"" + url + "\": ", c.needle, r.result.err)) << c.name;
    EXPECT_LT(r.seconds, kSanitized ? 30 : 10) << c.name;
    EXPECT_LT(r.peakKb, boundKb) << c.name;
  }
}

// libcurl is loaded only for a URL: without it, files are formatted as
// always and a URL fails with a message naming the library.
TEST_F(HostileInput, OnlyUrlsNeedTheHttpLibrary) {
  const std::string path = write("doc.xml", "<quarvel><left>abc</left></quarvel>");
  HttpServer server;
  server.setResponse("/doc.xml", {200, "<quarvel><left>abc</left></quarvel>", "application/xml"});
  const std::string url = server.url("/doc.xml");
  ProcessOptions options;
  options.environment = environment({"QUARVEL_HTTP_LIBRARY=libquarvel-absent.so.4"});
  for (const auto& [location, program] :
       {std::pair{path, QUARVEL_TEST_HOOKS_BINARY}, std::pair{url, QUARVEL_BINARY}}) {
    const Measured r = run(location, options, program);
    EXPECT_EQ(r.result.exitCode, 0) << location << ": " << r.result.err;
    EXPECT_TRUE(sameBytes(output({u"    abc"}), r.result.out)) << location;
  }
  const Measured r = run(url, options, QUARVEL_TEST_HOOKS_BINARY);
  EXPECT_EQ(r.result.exitCode, 1);
  EXPECT_EQ(r.result.out, "");
  EXPECT_TRUE(isMessage("\"" + url + "\": ",
                        "http and https need libquarvel-absent.so.4, which cannot be loaded: "
                        "libquarvel-absent.so.4: cannot open shared object file",
                        r.result.err));
}

// The test-only settings reach only the test build: the program that users
// run ignores them.
TEST_F(HostileInput, TheRealProgramIgnoresTestSettings) {
  const std::string path = write("doc.xml", "<quarvel><left>abc</left></quarvel>");
  HttpServer server;
  server.setResponse("/trickle.xml", {200, "<quarvel><left>abc</left></quarvel>", "application/xml",
                                      Reply::kTrickle});
  ProcessOptions options;
  options.environment = environment({"QUARVEL_FAIL_ALLOCATION=1", "QUARVEL_HTTP_TIMEOUT_MS=1"});
  for (const std::string& location : {path, server.url("/trickle.xml")}) {
    const Measured real = run(location, options);
    EXPECT_EQ(real.result.exitCode, 0) << location << ": " << real.result.err;
    EXPECT_TRUE(sameBytes(output({u"    abc"}), real.result.out)) << location;
    // The same settings do take effect in the test build.
    const Measured hooked = run(location, options, QUARVEL_TEST_HOOKS_BINARY);
    EXPECT_EQ(hooked.result.exitCode, 1) << location;
  }
}

}  // namespace
}  // namespace quarvel::testing
