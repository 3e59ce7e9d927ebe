// Japanese documents are read as Windows reads them. A document declared
// Shift_JIS, or under any name in kJapaneseEncodingNames, is decoded as code
// page 932 (0x5C is the backslash, 0x7E the tilde, 0x87 0x40 is U+2460 and
// the other vendor extensions decode), and one declared EUC-JP as
// Microsoft's EUC-JP, on every platform: through glibc's "CP932" and
// "EUC-JP-MS" on Linux (decoder_iconv.cc), through code page 932 on Windows,
// EUC-JP respelled for it (decoder_windows.cc). The character boundaries and
// the respelling below are what the Windows decoders need.
#ifndef QUARVEL_DOCUMENT_JAPANESE_ENCODINGS_H_
#define QUARVEL_DOCUMENT_JAPANESE_ENCODINGS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quarvel {

enum class JapaneseEncoding {
  kCodePage932,  // Windows' Shift_JIS
  kEucJpMs,      // Windows' EUC-JP
};

struct JapaneseEncodingName {
  const char* name;  // in upper case
  JapaneseEncoding encoding;
};

// The names a document may declare for each encoding: the names that Windows
// knows for the code page and the aliases that glibc has for its strict
// Shift_JIS and EUC-JP tables (which refuse the vendor rows, and whose
// Shift_JIS decodes 0x5C as the yen sign).
inline constexpr JapaneseEncodingName kJapaneseEncodingNames[] = {
    {"CP932", JapaneseEncoding::kCodePage932},
    {"SHIFT_JIS", JapaneseEncoding::kCodePage932},
    {"SHIFT-JIS", JapaneseEncoding::kCodePage932},
    {"SJIS", JapaneseEncoding::kCodePage932},
    {"X-SJIS", JapaneseEncoding::kCodePage932},
    {"MS_KANJI", JapaneseEncoding::kCodePage932},
    {"CSSHIFTJIS", JapaneseEncoding::kCodePage932},
    {"WINDOWS-31J", JapaneseEncoding::kCodePage932},
    {"CSWINDOWS31J", JapaneseEncoding::kCodePage932},
    {"MS932", JapaneseEncoding::kCodePage932},
    {"X-MS-CP932", JapaneseEncoding::kCodePage932},
    {"EUC-JP-MS", JapaneseEncoding::kEucJpMs},
    {"EUC-JP", JapaneseEncoding::kEucJpMs},
    {"EUCJP", JapaneseEncoding::kEucJpMs},
    {"EUCJP-MS", JapaneseEncoding::kEucJpMs},
    {"X-EUC-JP", JapaneseEncoding::kEucJpMs},
    {"UJIS", JapaneseEncoding::kEucJpMs},
    {"CSEUCPKDFMTJAPANESE", JapaneseEncoding::kEucJpMs},
    {"EXTENDED_UNIX_CODE_PACKED_FORMAT_FOR_JAPANESE", JapaneseEncoding::kEucJpMs},
};

// The encoding that `name` (any case) names in kJapaneseEncodingNames, or
// none.
std::optional<JapaneseEncoding> findJapaneseEncoding(std::string_view name);

// The bytes of the character whose first byte is `lead`, told by that byte
// alone: 1, 2 or 3.
int characterLength(JapaneseEncoding encoding, unsigned char lead);

// How many leading bytes of `bytes` make whole characters, each as long as
// its first byte says: a last character cut short is left out. Whether the
// bytes are a valid character is for the converter to decide.
std::size_t wholeCharactersLength(JapaneseEncoding encoding, std::string_view bytes);

// What eucJpAsCodePage932() returns for bytes that are not EUC-JP.
inline constexpr std::size_t kNotEucJp = SIZE_MAX;

// Spells the EUC-JP characters of `euc` as code page 932 spells the same
// JIS X 0208 characters, the vendor rows and user-defined area included; that
// is how Windows' own EUC-JP decodes. `euc` holds whole characters and none
// of JIS X 0212 (lead byte 0x8F); `out` has room for euc.size() bytes. The
// bytes written, or kNotEucJp when `euc` holds a byte sequence that EUC-JP
// does not allow (whether code page 932 maps the result is its own
// decision).
std::size_t eucJpAsCodePage932(std::string_view euc, char* out);

}  // namespace quarvel

#endif  // QUARVEL_DOCUMENT_JAPANESE_ENCODINGS_H_
