// libxml2 without iconv (Windows): decoders of our own, registered under the
// handler names, convert with the system's code pages, and every other name
// is an alias of them.
//
// Windows' EUC-JP, code page 51932, converts only from UTF-16, not to it, and
// code page 20932 lacks the NEC row (0xAD 0xA1 is U+2460) and maps six
// characters to their JIS forms (0xA1 0xC1 to U+301C, not U+FF5E). So EUC-JP
// is respelled as code page 932 and decoded by it, as 51932 is where it
// decodes at all; only the three-byte characters of JIS X 0212 (0x8F ...),
// which code page 932 lacks, go through 20932. Wine's 20932 decodes those
// wrongly (0x8F as a character of its own), which real Windows may not: the
// tests that run under wine leave them out. The single bytes 0x80 to 0xA0
// other than 0x8E and 0x8F, which glibc's EUC-JP-MS reads as C1 controls,
// are refused here.
#include <libxml/encoding.h>
#include <windows.h>

#include <algorithm>
#include <string_view>

#include "document/japanese_encodings.h"

namespace quarvel {
namespace {

// Bytes converted through one buffer of UTF-16 on the stack.
constexpr int kBlockBytes = 4096;

// No byte decodes to more than one UTF-16 code unit, so to more than three
// bytes of UTF-8.
constexpr int kMaxUtf8PerByte = 3;

// Decodes `length` bytes at `in` in `codePage` into `wide`; the code units
// written, or -1 when a character is invalid or unmapped.
int decodeCodePage(UINT codePage, const char* in, int length, WCHAR* wide, int room) {
  if (length == 0) return 0;
  const int units = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in, length, wide, room);
  return units > 0 ? units : -1;
}

// Decodes `length` bytes at `in` (whole characters, at most kBlockBytes) into
// `wide`, which has room for kBlockBytes units; the units written, or -1
// when a character is invalid or unmapped.
int decodeToUtf16(JapaneseEncoding encoding, const unsigned char* in, int length, WCHAR* wide) {
  const char* bytes = reinterpret_cast<const char*>(in);
  if (encoding == JapaneseEncoding::kCodePage932) {
    return decodeCodePage(932, bytes, length, wide, kBlockBytes);
  }
  char spelled[kBlockBytes];
  int units = 0;
  int done = 0;
  while (done < length) {
    if (in[done] == 0x8F) {
      const int decoded = decodeCodePage(20932, bytes + done, 3, wide + units, kBlockBytes - units);
      if (decoded < 0) return -1;
      units += decoded;
      done += 3;
      continue;
    }
    const int run = static_cast<int>(std::find(in + done, in + length, 0x8F) - (in + done));
    const std::size_t respelled =
        eucJpAsCodePage932(std::string_view(bytes + done, static_cast<std::size_t>(run)), spelled);
    if (respelled == kNotEucJp) return -1;
    const int decoded = decodeCodePage(932, spelled, static_cast<int>(respelled), wide + units,
                                       kBlockBytes - units);
    if (decoded < 0) return -1;
    units += decoded;
    done += run;
  }
  return units;
}

// Converts `length` bytes at `in` (whole characters, at most kBlockBytes) to
// UTF-8 at `out`, which has room for kMaxUtf8PerByte bytes per input byte.
// The bytes written, or -1 when a character is invalid or unmapped.
int convert(JapaneseEncoding encoding, const unsigned char* in, int length, unsigned char* out,
            int room) {
  WCHAR wide[kBlockBytes];
  const int units = decodeToUtf16(encoding, in, length, wide);
  if (units <= 0) return units;
  const int written = WideCharToMultiByte(CP_UTF8, 0, wide, units, reinterpret_cast<char*>(out),
                                          room, nullptr, nullptr);
  return written > 0 ? written : -1;
}

// libxml2's input function: converts whole characters from `in` (*inlen
// bytes) into `out` (*outlen bytes of room) and sets both to the bytes
// consumed and written. A character cut short at the end of the chunk is left
// for the next call, as is one that would not fit; an invalid one stops the
// conversion just before it with -2, for libxml2 to report.
template <JapaneseEncoding kEncoding>
int decode(unsigned char* out, int* outlen, const unsigned char* in, int* inlen) {
  const int available = *inlen;
  const int room = *outlen;
  int consumed = 0;
  int written = 0;
  while (consumed < available) {
    const int block =
        std::min({available - consumed, (room - written) / kMaxUtf8PerByte, kBlockBytes});
    const auto whole = static_cast<int>(wholeCharactersLength(
        kEncoding, std::string_view(reinterpret_cast<const char*>(in + consumed),
                                    static_cast<std::size_t>(block))));
    if (whole == 0) break;
    const int converted = convert(kEncoding, in + consumed, whole, out + written, room - written);
    if (converted < 0) {
      // Converted again up to the first character that does not convert
      // alone; the code pages hold no state from one character to the next.
      int valid = 0;
      while (valid < whole) {
        const int length = characterLength(kEncoding, in[consumed + valid]);
        unsigned char scratch[3 * kMaxUtf8PerByte];
        if (convert(kEncoding, in + consumed + valid, length, scratch, sizeof scratch) < 0) break;
        valid += length;
      }
      const int prefix =
          valid > 0 ? convert(kEncoding, in + consumed, valid, out + written, room - written) : 0;
      *inlen = consumed + (prefix < 0 ? 0 : valid);
      *outlen = written + std::max(prefix, 0);
      return -2;
    }
    consumed += whole;
    written += converted;
  }
  *inlen = consumed;
  *outlen = written;
  return written;
}

}  // namespace

bool registerJapaneseEncodings() {
  // The decoders first: libxml2 resolves aliases in the names it registers.
  // No encoder: quarvel never writes a document.
  if (xmlNewCharEncodingHandler(handlerName(JapaneseEncoding::kCodePage932),
                                decode<JapaneseEncoding::kCodePage932>, nullptr) == nullptr ||
      xmlNewCharEncodingHandler(handlerName(JapaneseEncoding::kEucJpMs),
                                decode<JapaneseEncoding::kEucJpMs>, nullptr) == nullptr) {
    return false;
  }
  return addJapaneseEncodingAliases();
}

}  // namespace quarvel
