// Windows: the system's code pages decode the encodings named below, UTF-32,
// which MultiByteToWideChar does not know, is decoded here, and every other
// name is refused. Among them is ISO-2022-JP: its code pages (50220 to
// 50222) refuse MB_ERR_INVALID_CHARS, so they would decode invalid bytes
// without a word, and keep no shift state from one call to the next.
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
#include <windows.h>

#include <algorithm>
#include <array>
#include <optional>

#include "base/utf.h"
#include "base/utf16.h"
#include "document/input_encoding.h"
#include "document/japanese_encodings.h"

namespace quarvel {
namespace {

using namespace std::string_view_literals;

struct CodePageName {
  std::string_view name;
  UINT codePage;
};

// The names of the code pages that decode, besides the Japanese ones.
// EUC-KR is read as code page 949, which extends it as web browsers read it:
// Windows' own EUC-KR, code page 51949, is missing where the tests run
// (wine).
constexpr CodePageName kCodePages[] = {
    {"WINDOWS-1250"sv, 1250}, {"CP1250"sv, 1250},       {"WINDOWS-1251"sv, 1251},
    {"CP1251"sv, 1251},       {"WINDOWS-1252"sv, 1252}, {"CP1252"sv, 1252},
    {"WINDOWS-1253"sv, 1253}, {"CP1253"sv, 1253},       {"WINDOWS-1254"sv, 1254},
    {"CP1254"sv, 1254},       {"WINDOWS-1255"sv, 1255}, {"CP1255"sv, 1255},
    {"WINDOWS-1256"sv, 1256}, {"CP1256"sv, 1256},       {"WINDOWS-1257"sv, 1257},
    {"CP1257"sv, 1257},       {"WINDOWS-1258"sv, 1258}, {"CP1258"sv, 1258},
    {"ISO-8859-1"sv, 28591},  {"LATIN1"sv, 28591},      {"ISO-8859-2"sv, 28592},
    {"ISO-8859-3"sv, 28593},  {"ISO-8859-4"sv, 28594},  {"ISO-8859-5"sv, 28595},
    {"ISO-8859-6"sv, 28596},  {"ISO-8859-7"sv, 28597},  {"ISO-8859-8"sv, 28598},
    {"ISO-8859-9"sv, 28599},  {"ISO-8859-13"sv, 28603}, {"ISO-8859-15"sv, 28605},
    {"KOI8-R"sv, 20866},      {"KOI8-U"sv, 21866},      {"GBK"sv, 936},
    {"GB2312"sv, 936},        {"CP936"sv, 936},         {"BIG5"sv, 950},
    {"BIG-5"sv, 950},         {"CP950"sv, 950},         {"EUC-KR"sv, 949},
    {"CP949"sv, 949},
};

// Input decoded through one buffer of UTF-16 on the stack. No byte decodes
// to more than one UTF-16 code unit.
constexpr int kBlockBytes = 4096;

// A UTF-16 code unit as UTF-8 (a surrogate pair, two units, is four bytes).
constexpr int kMaxUtf8PerUnit = 3;

// Decodes `bytes` in `codePage` into `wide`, which has room for `room`
// units; the units written, or -1 when a character is invalid or unmapped.
int decodeCodePage(UINT codePage, std::string_view bytes, WCHAR* wide, int room) {
  if (bytes.empty()) return 0;
  const int units = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(),
                                        static_cast<int>(bytes.size()), wide, room);
  return units > 0 ? units : -1;
}

class CodePageDecoder final : public Decoder {
 public:
  // `japanese` chooses the Japanese decoding over code page 932; otherwise
  // `codePage` decodes, and `info` tells its characters' lengths.
  CodePageDecoder(UINT codePage, const CPINFO& info, std::optional<JapaneseEncoding> japanese)
      : codePage_(codePage), japanese_(japanese) {
    for (int byte = 0; byte < 256 && info.MaxCharSize == 2; ++byte) {
      lead_[byte] = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(byte)) != FALSE;
    }
  }

  Result decode(std::string_view in, bool final, std::string& out) override {
    Result result;
    while (result.consumed < in.size()) {
      const std::string_view block = in.substr(result.consumed, kBlockBytes);
      const std::size_t whole = wholeLength(block);
      if (whole == 0) {  // one character, cut short at the end of `in`
        result.invalid = final;
        break;
      }
      if (append(block.substr(0, whole), out)) {
        result.consumed += whole;
        continue;
      }
      // The code pages hold no state from one character to the next: the
      // block is decoded again a character at a time, up to the invalid one.
      std::size_t valid = 0;
      while (valid < whole) {
        const std::size_t length = characterBytes(block[valid]);
        if (!append(block.substr(valid, length), out)) break;
        valid += length;
      }
      result.consumed += valid;
      if (valid < whole) {
        result.invalid = true;
        break;
      }
    }
    return result;
  }

 private:
  std::size_t characterBytes(char lead) const {
    const auto byte = static_cast<unsigned char>(lead);
    if (japanese_) return static_cast<std::size_t>(characterLength(*japanese_, byte));
    return lead_[byte] ? 2 : 1;
  }

  // How many leading bytes of `bytes` make whole characters.
  std::size_t wholeLength(std::string_view bytes) const {
    if (japanese_) return wholeCharactersLength(*japanese_, bytes);
    // A trail byte may look like a lead byte: characters are found from the
    // start.
    std::size_t whole = 0;
    while (whole < bytes.size()) {
      const std::size_t length = characterBytes(bytes[whole]);
      if (length > bytes.size() - whole) break;
      whole += length;
    }
    return whole;
  }

  // Decodes `bytes` (whole characters, at most kBlockBytes) into `wide`,
  // which has room for kBlockBytes units; the units written, or -1 when a
  // character is invalid or unmapped.
  int decodeToUtf16(std::string_view bytes, WCHAR* wide) const {
    if (japanese_ != JapaneseEncoding::kEucJpMs) {
      return decodeCodePage(codePage_, bytes, wide, kBlockBytes);
    }
    char spelled[kBlockBytes];
    int units = 0;
    while (!bytes.empty()) {
      const bool jisX0212 = bytes.front() == '\x8F';
      const std::string_view run = bytes.substr(0, jisX0212 ? 3 : bytes.find('\x8F'));
      int decoded = 0;
      if (jisX0212) {
        decoded = decodeCodePage(20932, run, wide + units, kBlockBytes - units);
      } else {
        const std::size_t respelled = eucJpAsCodePage932(run, spelled);
        if (respelled == kNotEucJp) return -1;
        decoded = decodeCodePage(932, std::string_view(spelled, respelled), wide + units,
                                 kBlockBytes - units);
      }
      if (decoded < 0) return -1;
      units += decoded;
      bytes.remove_prefix(run.size());
    }
    return units;
  }

  // Appends `bytes` (whole characters, at most kBlockBytes) to `out` as
  // UTF-8; false, with nothing appended, when a character is invalid or
  // unmapped.
  bool append(std::string_view bytes, std::string& out) const {
    WCHAR wide[kBlockBytes];
    const int units = decodeToUtf16(bytes, wide);
    if (units <= 0) return units == 0;
    const std::size_t start = out.size();
    const int room = units * kMaxUtf8PerUnit;
    out.resize(start + static_cast<std::size_t>(room));
    const int written = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, units,
                                            out.data() + start, room, nullptr, nullptr);
    out.resize(start + static_cast<std::size_t>(std::max(written, 0)));
    return written > 0;
  }

  UINT codePage_;
  std::optional<JapaneseEncoding> japanese_;
  std::array<bool, 256> lead_{};  // the lead bytes of a double-byte code page
};

// UTF-32 in either byte order.
class Utf32Decoder final : public Decoder {
 public:
  explicit Utf32Decoder(bool bigEndian) : bigEndian_(bigEndian) {}

  Result decode(std::string_view in, bool final, std::string& out) override {
    Result result;
    const std::size_t whole = in.size() - in.size() % 4;
    for (; result.consumed < whole; result.consumed += 4) {
      char32_t cp = 0;
      for (std::size_t k = 0; k < 4; ++k) {
        const std::size_t at = result.consumed + (bigEndian_ ? k : 3 - k);
        cp = cp << 8 | static_cast<unsigned char>(in[at]);
      }
      if (cp > 0x10FFFF || isSurrogateCodePoint(cp)) {
        result.invalid = true;
        return result;
      }
      appendUtf8(out, cp);
    }
    result.invalid = final && whole < in.size();
    return result;
  }

 private:
  bool bigEndian_;
};

}  // namespace

std::unique_ptr<Decoder> openDecoder(std::string_view name) {
  if (sameEncodingName(name, "UTF-32LE") || sameEncodingName(name, "UTF-32BE")) {
    return std::make_unique<Utf32Decoder>(sameEncodingName(name, "UTF-32BE"));
  }
  const std::optional<JapaneseEncoding> japanese = findJapaneseEncoding(name);
  UINT codePage = 932;
  if (!japanese) {
    const auto entry =
        std::find_if(std::begin(kCodePages), std::end(kCodePages),
                     [&](const CodePageName& known) { return sameEncodingName(name, known.name); });
    if (entry == std::end(kCodePages)) return nullptr;
    codePage = entry->codePage;
  }
  CPINFO info;
  if (!GetCPInfo(codePage, &info)) return nullptr;  // not installed
  return std::make_unique<CodePageDecoder>(codePage, info, japanese);
}

}  // namespace quarvel
