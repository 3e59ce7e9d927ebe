#include "frontend/messages.h"

#include <climits>
#include <cwchar>
#include <string>

namespace quarvel {
namespace {

constexpr std::size_t kMaxMessageUnits = 1039;

// Converts UTF-16 to the locale's multibyte encoding, one code point at a time.
std::string toLocaleCharset(std::u16string_view text) {
  std::string result;
  std::mbstate_t state{};
  char bytes[MB_LEN_MAX];
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    std::size_t n = (cp >= 0xD800 && cp <= 0xDFFF) ? static_cast<std::size_t>(-1)
                                                    : std::wcrtomb(bytes, static_cast<wchar_t>(cp), &state);
    if (n == static_cast<std::size_t>(-1)) {
      state = std::mbstate_t{};
      result += '?';
    } else {
      result.append(bytes, n);
    }
  }
  return result;
}

}  // namespace

int printMessage(std::FILE* stream, std::u16string_view format,
                 std::initializer_list<MessageArgument> arguments) {
  std::u16string text;
  const MessageArgument* next = arguments.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != u'%' || i + 1 == format.size()) {
      text += format[i];
      continue;
    }
    const char16_t conversion = format[++i];
    if (conversion == u'%') {
      text += u'%';
    } else if (next != arguments.end() && (conversion == u's' || conversion == u'd')) {
      if (const auto* s = std::get_if<std::u16string_view>(next)) {
        text += *s;
      } else {
        for (char c : std::to_string(std::get<int32_t>(*next))) text += static_cast<char16_t>(c);
      }
      ++next;
    }
  }
  if (text.size() > kMaxMessageUnits) text.resize(kMaxMessageUnits);
  const std::string bytes = toLocaleCharset(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::fflush(stream);
  return static_cast<int>(text.size());
}

}  // namespace quarvel
