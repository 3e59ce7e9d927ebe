#include "base/utf.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/utf16.h"

namespace quarvel {

std::u16string toUtf16(std::string_view utf8, size_t maxUnits) {
  // Never more code units than bytes; written in place, then cut to size.
  std::u16string out(std::min(utf8.size(), maxUnits), u'\0');
  char16_t* unit = out.data();
  char16_t* const end = unit + out.size();
  const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t size = utf8.size();
  size_t i = 0;
  while (i < size && unit != end) {
    const unsigned char lead = bytes[i];
    if (lead < 0x80) {
      *unit++ = lead;
      ++i;
      continue;
    }
    int length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, cp = lead & 0x07, minimum = 0x10000;
    }
    bool valid = length != 0 && i + length <= size;
    for (int k = 1; valid && k < length; ++k) {
      const unsigned char next = bytes[i + k];
      valid = (next & 0xC0) == 0x80;
      cp = (cp << 6) | (next & 0x3F);
    }
    if (!valid || cp < minimum || cp > 0x10FFFF || isSurrogateCodePoint(cp)) {
      *unit++ = u'\uFFFD';
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      if (end - unit < 2) break;
      cp -= 0x10000;
      *unit++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *unit++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      *unit++ = static_cast<char16_t>(cp);
    }
    i += length;
  }
  out.resize(static_cast<size_t>(unit - out.data()));
  return out;
}

size_t writeUtf16(std::string_view utf8, char16_t* out) {
  char16_t* unit = out;
  const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
  const auto* const end = bytes + utf8.size();
  while (bytes != end) {
    // Sixteen ASCII bytes at a time while they last: most text is mostly
    // ASCII.
#if defined(__SSE2__)
    while (end - bytes >= 16) {
      const __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
      if (_mm_movemask_epi8(sixteen) != 0) break;
      const __m128i zero = _mm_setzero_si128();
      _mm_storeu_si128(reinterpret_cast<__m128i*>(unit), _mm_unpacklo_epi8(sixteen, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(unit + 8), _mm_unpackhi_epi8(sixteen, zero));
      unit += 16;
      bytes += 16;
    }
#endif
    if (bytes == end) break;
    const unsigned char lead = *bytes;
    if (lead < 0x80) {
      *unit++ = lead;
      ++bytes;
      continue;
    }
    const size_t rest = static_cast<size_t>(end - bytes);
    if (lead >= 0xC2 && lead <= 0xDF && rest >= 2) {
      *unit++ = static_cast<char16_t>(((lead & 0x1F) << 6) | (bytes[1] & 0x3F));
      bytes += 2;
    } else if (lead >= 0xE0 && lead <= 0xEF && rest >= 3) {
      *unit++ = static_cast<char16_t>(((lead & 0x0F) << 12) | ((bytes[1] & 0x3F) << 6) |
                                      (bytes[2] & 0x3F));
      bytes += 3;
    } else if (lead >= 0xF0 && lead <= 0xF4 && rest >= 4) {
      const char32_t cp = (((lead & 0x07) << 18) | ((bytes[1] & 0x3F) << 12) |
                           ((bytes[2] & 0x3F) << 6) | (bytes[3] & 0x3F)) -
                          0x10000;
      *unit++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *unit++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
      bytes += 4;
    } else {
      // Never from the parser; kept safe all the same.
      *unit++ = u'\uFFFD';
      ++bytes;
    }
  }
  return static_cast<size_t>(unit - out);
}

void appendUtf8(std::string& out, char32_t cp) {
  uint8_t bytes[4];
  out.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(encodeUtf8(cp, bytes)));
}

char32_t nextCodePoint(std::u16string_view utf16, size_t& i) {
  char32_t cp = utf16[i++];
  if (isHighSurrogate(utf16[i - 1]) && i < utf16.size() && isLowSurrogate(utf16[i])) {
    cp = combineSurrogates(static_cast<char16_t>(cp), utf16[i++]);
  }
  return cp;
}

std::optional<std::string> toUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size();) {
    const char32_t cp = nextCodePoint(utf16, i);
    if (isSurrogateCodePoint(cp)) return std::nullopt;
    appendUtf8(out, cp);
  }
  return out;
}

}  // namespace quarvel
