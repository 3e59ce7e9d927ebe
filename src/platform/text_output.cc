#include "platform/text_output.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "base/utf.h"

namespace quarvel {

void TextEncoder::putSpaces(int64_t count) {
  while (count > 0) {
    if (used_ == kBufferUnits) {
      if (failed()) return;
      drain();
    }
    const std::size_t n = static_cast<std::size_t>(
        std::min<int64_t>(count, static_cast<int64_t>(kBufferUnits - used_)));
    std::fill_n(units_ + used_, n, u' ');
    used_ += n;
    count -= static_cast<int64_t>(n);
  }
}

bool TextEncoder::flush() {
  drain();
  return flushEncoded();
}

void writeUtf16le(ByteSink& out, const char16_t* units, std::size_t count) {
  while (count > 0) {
    const std::size_t n = std::min(count, ByteSink::kMaxReserve / 2);
    uint8_t* bytes = out.reserve(2 * n);
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(bytes, units, 2 * n);  // the units' own bytes, low byte first
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        bytes[2 * i] = static_cast<uint8_t>(units[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>(units[i] >> 8);
      }
    }
    out.commit(2 * n);
    units += n;
    count -= n;
  }
}

void Utf8Encoder::encode(const char16_t* units, std::size_t count) {
  // A unit gives at most three bytes, and a pair four for its two units; a
  // high surrogate that waited from before adds at most three more.
  constexpr std::size_t kPiece = (ByteSink::kMaxReserve - 3) / 3;
  while (count > 0) {
    const std::size_t n = std::min(count, kPiece);
    uint8_t* const start = bytes_.reserve(3 * n + 3);
    uint8_t* next = start;
    codePoints_.read(units, n, [&next](char32_t cp) { next += encodeUtf8(cp, next); });
    bytes_.commit(static_cast<std::size_t>(next - start));
    units += n;
    count -= n;
  }
}

}  // namespace quarvel
