#include "document/japanese_encodings.h"

#include "document/input_encoding.h"

namespace quarvel {

std::optional<JapaneseEncoding> findJapaneseEncoding(std::string_view name) {
  for (const JapaneseEncodingName& entry : kJapaneseEncodingNames) {
    if (sameEncodingName(name, entry.name)) return entry.encoding;
  }
  return std::nullopt;
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

std::size_t eucJpAsCodePage932(std::string_view euc, char* out) {
  std::size_t written = 0;
  for (std::size_t i = 0; i < euc.size(); ++i) {
    const auto lead = static_cast<unsigned char>(euc[i]);
    if (lead < 0x80) {
      out[written++] = static_cast<char>(lead);
      continue;
    }
    if (i + 1 == euc.size()) return kNotEucJp;
    const auto trail = static_cast<unsigned char>(euc[++i]);
    if (lead == 0x8E) {  // half-width katakana, one byte in code page 932
      if (trail < 0xA1 || trail > 0xDF) return kNotEucJp;
      out[written++] = static_cast<char>(trail);
      continue;
    }
    if (lead < 0xA1 || lead > 0xFE || trail < 0xA1 || trail > 0xFE) return kNotEucJp;
    // Row and cell of the JIS X 0208 table, each 0x21 to 0x7E. Two rows
    // share a lead byte; rows from 0x75 on are the user-defined area, which
    // code page 932 keeps from lead byte 0xF0.
    const int row = lead - 0x80;
    const int cell = trail - 0x80;
    int first = row < 0x75 ? ((row - 0x21) >> 1) + 0x81 : ((row - 0x75) >> 1) + 0xF0;
    if (first > 0x9F && row < 0x75) first += 0x40;
    int second = cell + 0x7E;
    if (row % 2 == 1) {
      second = cell + 0x1F;
      if (second >= 0x7F) ++second;
    }
    out[written++] = static_cast<char>(first);
    out[written++] = static_cast<char>(second);
  }
  return written;
}

}  // namespace quarvel
