#include "frontend/formatting_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "frontend/messages.h"
#include "layout/allocation.h"
#include "test_support/utf16.h"

namespace quarvel {
namespace {

using testing::readable;
using testing::rows;

TEST(FormattingRun, WritesByteOrderMarkAndFinishesTextAfterTheLastBlock) {
  // Without the run's own finish, the root's text after its last block
  // element would lose its last two lines.
  XmlDocument document;
  document.loadMemory("<quarvel><left>a</left>bbbbbb<br/>cc<br/>dd</quarvel>", "t.xml");
  ASSERT_EQ(document.parseError().errorCode, 0);
  MemoryText sink;
  ASSERT_EQ(formatDocument(document.documentElement(), sink), RunOutcome::kCompleted);
  EXPECT_EQ(readable(sink.bytes()),
            readable("\xFF\xFE" + rows({u"    a", u"    bbbbbb", u"    cc", u"    dd"})));
}

TEST(FormattingRun, OutOfMemoryKeepsPrintedRowsAndReportsOnce) {
  XmlDocument document;
  document.loadMemory("<quarvel><left>ab</left><left>cd</left><left>ef</left></quarvel>", "t.xml");
  ASSERT_EQ(document.parseError().errorCode, 0);
  // Count the run's allocations, then make each one fail in turn.
  MemoryText full;
  AllocationGate::reset();
  ASSERT_EQ(formatDocument(document.documentElement(), full), RunOutcome::kCompleted);
  const uint64_t total = AllocationGate::allocationCount();
  ASSERT_GT(total, 4u);

  for (uint64_t n = 1; n <= total; ++n) {
    MemoryText sink;
    AllocationGate::reset();
    AllocationGate::failAt(n);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(formatDocument(document.documentElement(), sink), RunOutcome::kOutOfMemory);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "kestrown: Out of Memory, Process Terminated\n");
    // The output is a prefix of the full output, cut at a row boundary.
    const std::string& out = sink.bytes();
    EXPECT_EQ(out, full.bytes().substr(0, out.size())) << n;
    EXPECT_TRUE(out.size() == 2 || out.ends_with(std::string("\r\0\n\0", 4))) << readable(out);
  }
  AllocationGate::reset();
}

TEST(Messages, FormatsStringsAndNumbersAndReplacesTheUnrepresentable) {
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  // The C locale represents ASCII only.
  const int count = printMessage(
      stream, u"\"%s\" (%d): positon %d: %s 100%%",
      {std::u16string_view(u"a.xml"), int32_t{3}, int32_t{-7}, std::u16string_view(u"bad 日本\n")});
  std::rewind(stream);
  char buffer[128] = {};
  const std::size_t read = std::fread(buffer, 1, sizeof buffer - 1, stream);
  std::fclose(stream);
  EXPECT_EQ(std::string(buffer, read), "\"a.xml\" (3): positon -7: bad ??\n 100%");
  EXPECT_EQ(count, 37);
}

// What printMessage writes for a url and a reason, in the C locale.
std::string printedShortMessage(const std::u16string& url, const std::u16string& reason) {
  std::FILE* stream = std::tmpfile();
  if (stream == nullptr) return "(no temporary file)";
  const int count =
      printMessage(stream, u"\"%s\": %s", {std::u16string_view(url), std::u16string_view(reason)});
  std::string bytes(4096, '\0');
  std::rewind(stream);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), stream));
  std::fclose(stream);
  EXPECT_EQ(count, static_cast<int>(bytes.size()));  // ASCII: one byte per unit
  return bytes;
}

// Appends in place: GCC 12's -Wrestrict misreads chains of operator+ on
// strings in optimised builds.
std::string joined(std::initializer_list<std::string> parts) {
  std::string result;
  for (const std::string& part : parts) result += part;
  return result;
}

TEST(Messages, TooLongIsCutInsideTheLongestTextAndKeepsItsLineEnd) {
  const std::u16string pair = u"\U0001F600";
  const std::string r1029(1029, 'r');
  struct {
    std::u16string url;
    std::u16string reason;
    std::string expected;  // 1039 units at most, line end included
  } cases[] = {
      {u"a.xml", std::u16string(2000, u'r') + u"\n", joined({"\"a.xml\": ", r1029, "\n"})},
      {std::u16string(2000, u'u'), u"gone\n", joined({"\"", std::string(1030, 'u'), "\": gone\n"})},
      {std::u16string(2000, u'u'), std::u16string(2000, u'r') + u"\n",
       joined({"\"", std::string(517, 'u'), "\": ", std::string(517, 'r'), "\n"})},
      // The cut would fall between the halves of the 1029th and 1030th unit.
      {u"a.xml", std::u16string(1028, u'r') + pair + pair + u"\n",
       joined({"\"a.xml\": ", std::string(1028, 'r'), "\n"})},
      {u"a.xml", std::u16string(1029, u'r') + u"\n", joined({"\"a.xml\": ", r1029, "\n"})},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(printedShortMessage(c.url, c.reason), c.expected);
  }
}

}  // namespace
}  // namespace quarvel
