#include "test_support/utf16.h"

#include <cstdint>

#include "base/utf.h"

namespace quarvel::testing {

std::string utf16le(std::u16string_view text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

std::string rows(std::initializer_list<std::u16string_view> lines) {
  std::string bytes;
  for (std::u16string_view line : lines) bytes += utf16le(line) + utf16le(u"\r\n");
  return bytes;
}

std::string readable(std::string_view bytes) {
  std::string out;
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                                (static_cast<uint8_t>(bytes[i + 1]) << 8));
    if (unit == u'\r') {
      out += "\\r";
    } else if (unit == u'\n') {
      out += "\\n\n";
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      out += "<surrogate>";
    } else {
      appendUtf8(out, unit);
    }
  }
  if (i < bytes.size()) out += "<odd byte>";
  return out;
}

}  // namespace quarvel::testing
