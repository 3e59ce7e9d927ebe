#include <unistd.h>

#include <climits>
#include <cwchar>
#include <string>

#include "document/utf.h"
#include "frontend/platform.h"

namespace quarvel {

void prepareStandardOutput() {}

bool standardOutputIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

ByteSink& terminalOutput() { return standardOutput(); }

// Converts UTF-16 to the locale's multibyte encoding, one code point at a time.
void writeMessageText(std::FILE* stream, std::u16string_view text) {
  std::string result;
  std::mbstate_t state{};
  char bytes[MB_LEN_MAX];
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = nextCodePoint(text, i);
    std::size_t n = (cp >= 0xD800 && cp <= 0xDFFF)
                        ? static_cast<std::size_t>(-1)
                        : std::wcrtomb(bytes, static_cast<wchar_t>(cp), &state);
    if (n == static_cast<std::size_t>(-1)) {
      state = std::mbstate_t{};
      result += '?';
    } else {
      result.append(bytes, n);
    }
  }
  std::fwrite(result.data(), 1, result.size(), stream);
  std::fflush(stream);
}

}  // namespace quarvel
