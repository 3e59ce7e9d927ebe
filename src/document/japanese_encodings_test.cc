#include "document/japanese_encodings.h"

#include <gtest/gtest.h>

#include <string_view>

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

}  // namespace
}  // namespace quarvel
