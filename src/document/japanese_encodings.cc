#include "document/japanese_encodings.h"

#include <libxml/encoding.h>

#include <iterator>

namespace quarvel {

// libxml2 2.9.14 starts its table of aliases with room for 20 and does not
// check the reallocation that grows it.
static_assert(std::size(kJapaneseEncodingNames) - 2 <= 20);

bool addJapaneseEncodingAliases() {
  for (const JapaneseEncodingName& entry : kJapaneseEncodingNames) {
    const char* target = handlerName(entry.encoding);
    if (std::string_view(entry.name) == target) continue;
    if (xmlAddEncodingAlias(target, entry.name) != 0) return false;
  }
  return true;
}

int characterLength(JapaneseEncoding encoding, unsigned char lead) {
  if (encoding == JapaneseEncoding::kCodePage932) {
    return (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC) ? 2 : 1;
  }
  if (lead == 0x8F) return 3;  // JIS X 0212
  return lead == 0x8E || (lead >= 0xA1 && lead <= 0xFE) ? 2 : 1;
}

std::size_t wholeCharactersLength(JapaneseEncoding encoding, std::string_view bytes) {
  // A Shift_JIS trail byte may look like a lead byte, so characters are
  // found from the start, never from the end.
  std::size_t whole = 0;
  while (whole < bytes.size()) {
    const auto length = static_cast<std::size_t>(
        characterLength(encoding, static_cast<unsigned char>(bytes[whole])));
    if (length > bytes.size() - whole) break;
    whole += length;
  }
  return whole;
}

}  // namespace quarvel
