#include "document/japanese_encodings.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#if !defined(_WIN32)
#include <iconv.h>
#endif

namespace quarvel {
namespace {

using enum JapaneseEncoding;

// Each case cuts a chunk where a decoder may receive it; `whole` bytes of it
// are the characters it can convert now.
TEST(JapaneseEncodingsTest, WholeCharactersEndWhereTheLastOneIsComplete) {
  struct Case {
    JapaneseEncoding encoding;
    std::string_view bytes;
    std::size_t whole;
  };
  const Case cases[] = {
      {kCodePage932, "", 0},
      {kCodePage932, "C:\\dir ~", 8},
      {kCodePage932, "a\x87", 1},
      {kCodePage932, "a\x87\x40", 3},
      // Trail bytes that are lead bytes too: only counting from the start tells.
      {kCodePage932, "\x81\x81\x81", 2},
      {kCodePage932, "\x93\xFA\x96", 2},
      // The edges of the lead byte ranges; half-width katakana and the
      // bytes outside both ranges are one byte each.
      {kCodePage932, "\x80\xA0\xB1\xDF\xFD\xFF", 6},
      {kCodePage932, "\x81\x40\x9F\x40\xE0\x40\xFC\x40", 8},
      {kCodePage932, "\x9F", 0},
      {kCodePage932, "\xE0", 0},
      {kCodePage932, "\xFC", 0},
      {kEucJpMs, "C:\\dir ~", 8},
      {kEucJpMs, "\xC6\xFC\xAD", 2},
      {kEucJpMs, "\xAD\xA1\xFE\xFE", 4},
      {kEucJpMs, "\x8E", 0},
      {kEucJpMs, "\x8E\xB1", 2},
      {kEucJpMs, "\x8F\xB0", 0},
      {kEucJpMs, "a\x8F\xB0\xA1", 4},
      {kEucJpMs, "\x80\x8D\x90\xA0\xFF", 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(wholeCharactersLength(c.encoding, c.bytes), c.whole)
        << static_cast<int>(c.encoding) << " " << ::testing::PrintToString(c.bytes);
  }
}

#if !defined(_WIN32)
// `bytes` decoded by glibc as `encoding`; empty when it refuses them.
std::u16string glibcDecoded(const char* encoding, std::string bytes) {
  const iconv_t converter = iconv_open("UTF-16LE", encoding);
  EXPECT_NE(converter, reinterpret_cast<iconv_t>(-1)) << encoding;
  char16_t units[8];
  char* in = bytes.data();
  size_t inLeft = bytes.size();
  char* out = reinterpret_cast<char*>(units);
  size_t outLeft = sizeof units;
  const size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
  iconv_close(converter);
  if (result == static_cast<size_t>(-1) || inLeft != 0) return {};
  return std::u16string(units, (sizeof units - outLeft) / sizeof(char16_t));
}

// Every two-byte EUC-JP character and every near miss, respelled for code
// page 932, decodes as glibc's EUC-JP-MS decodes it (or is refused by both).
TEST(JapaneseEncodingsTest, EucJpRespelledForCodePage932DecodesAsEucJpMs) {
  int compared = 0;
  for (int lead = 0x80; lead <= 0xFF; ++lead) {
    // glibc takes the other bytes from 0x80 to 0xA0 for C1 controls;
    // respelled, they are refused.
    if (lead != 0x8E && lead < 0xA1) continue;
    for (int trail = 0x80; trail <= 0xFF; ++trail) {
      const std::string euc{static_cast<char>(lead), static_cast<char>(trail)};
      char spelled[2];
      const std::size_t length = eucJpAsCodePage932(euc, spelled);
      const std::u16string expected = glibcDecoded("EUC-JP-MS", euc);
      const std::u16string actual =
          length == kNotEucJp ? u"" : glibcDecoded("CP932", std::string(spelled, length));
      EXPECT_EQ(actual, expected) << std::hex << lead << " " << trail;
      compared += expected.empty() ? 0 : 1;
    }
  }
  EXPECT_GT(compared, 7000);
  char spelled[4];
  EXPECT_EQ(eucJpAsCodePage932("a\xC6", spelled), kNotEucJp);
  EXPECT_EQ(eucJpAsCodePage932("a\xC6\xFC", spelled), 3u);
}
#endif

}  // namespace
}  // namespace quarvel
