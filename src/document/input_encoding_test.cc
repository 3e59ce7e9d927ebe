#include "document/input_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "base/utf.h"

namespace quarvel {
namespace {

using namespace std::string_literals;

// `text` in code units of `unitBytes` (1: UTF-8; 2: the text is all in the
// BMP), in the given byte order.
std::string encoded(std::u32string_view text, std::size_t unitBytes, bool bigEndian) {
  std::string bytes;
  for (const char32_t cp : text) {
    if (unitBytes == 1) {
      appendUtf8(bytes, cp);
      continue;
    }
    for (std::size_t k = 0; k < unitBytes; ++k) {
      const std::size_t shift = 8 * (bigEndian ? unitBytes - 1 - k : k);
      bytes.push_back(static_cast<char>(cp >> shift & 0xFF));
    }
  }
  return bytes;
}

std::string utf16le(std::u32string_view text) { return encoded(text, 2, false); }
std::string utf16be(std::u32string_view text) { return encoded(text, 2, true); }
std::string utf32le(std::u32string_view text) { return encoded(text, 4, false); }
std::string utf32be(std::u32string_view text) { return encoded(text, 4, true); }

std::u32string declaring(std::u32string_view name) {
  return U"<?xml encoding=\"" + std::u32string(name) + U"\"?><r/>";
}

// What chooseEncoding() makes of `head`, in one line: the parser's encoding,
// the mark's length and, with a decoder, the whole head after the mark as it
// decodes.
std::string chosen(std::string_view head) {
  const EncodingChoice choice = chooseEncoding(head);
  if (!choice.error.empty()) return "error: " + choice.error;
  std::string line = choice.parserEncoding + " mark "s + std::to_string(choice.byteOrderMark);
  if (choice.decoder == nullptr) return line;
  std::string decoded;
  const Decoder::Result result =
      choice.decoder->decode(head.substr(choice.byteOrderMark), true, decoded);
  return line + " decoded " + decoded + (result.invalid ? " (invalid)" : "");
}

TEST(InputEncodingTest, ChoosesByMarkFirstCharactersAndDeclaration) {
  const std::string spaces(1100, ' ');
  const std::string longDeclaration = "<?xml encoding='Shift_JIS'" + spaces + "?>";
  struct Case {
    const char* what;
    std::string head;
    std::string chosen;
  };
  const Case cases[] = {
      {"nothing", "", "UTF-8 mark 0"},
      {"no mark, no declaration", "<r/>", "UTF-8 mark 0"},
      {"UTF-8 mark", "\xEF\xBB\xBF<r/>", "UTF-8 mark 3"},
      {"UTF-8 mark, declared", "\xEF\xBB\xBF" + encoded(declaring(U"utf-8"), 1, false),
       "UTF-8 mark 3"},
      {"UTF-16LE mark", "\xFF\xFE" + utf16le(U"<r/>"), "UTF-16LE mark 2"},
      {"UTF-16BE mark, UTF-16 declared", "\xFE\xFF" + utf16be(declaring(U"UTF-16")),
       "UTF-16BE mark 2"},
      {"UTF-16LE mark, UCS-2 declared", "\xFF\xFE" + utf16le(declaring(U"ISO-10646-UCS-2")),
       "UTF-16LE mark 2"},
      {"UTF-16LE first characters", utf16le(declaring(U"UTF-16")), "UTF-16LE mark 0"},
      {"UTF-16BE first characters", utf16be(U"<?pi?><r/>"), "UTF-16BE mark 0"},
      {"UTF-32BE mark", "\0\0\xFE\xFF"s + utf32be(U"<r>\U0001F600</r>"),
       "UTF-8 mark 4 decoded <r>😀</r>"},
      {"UTF-32LE mark, UTF-32 declared", "\xFF\xFE\0\0"s + utf32le(declaring(U"UTF-32")),
       "UTF-8 mark 4 decoded <?xml encoding=\"UTF-32\"?><r/>"},
      {"UTF-32LE first characters", utf32le(U"<r/>"), "UTF-8 mark 0 decoded <r/>"},
      {"UTF-32BE first characters, UCS-4 declared", utf32be(declaring(U"ucs-4")),
       "UTF-8 mark 0 decoded <?xml encoding=\"ucs-4\"?><r/>"},
      {"double quotes", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "ISO-8859-1 mark 0"},
      {"single quotes, any case, spaces", "<?xml version='1.0'\r\n encoding = 'us-ascii'\t?>",
       "US-ASCII mark 0"},
      {"Shift_JIS as Windows reads it", "<?xml encoding='Shift_JIS'?>\\~\x87\x40\x93\xFA",
       "UTF-8 mark 0 decoded <?xml encoding='Shift_JIS'?>\\~①日"},
      {"EUC-JP as Windows reads it", "<?xml encoding='x-euc-jp'?>\xC6\xFC\xAD\xA1",
       "UTF-8 mark 0 decoded <?xml encoding='x-euc-jp'?>日①"},
      {"a code page", "<?xml encoding='Windows-1252'?>\x80",
       "UTF-8 mark 0 decoded <?xml encoding='Windows-1252'?>€"},
#ifdef _WIN32
      {"ISO-2022-JP", "<?xml encoding='ISO-2022-JP'?>\x1B$BF|\x1B(B",
       "error: Unsupported encoding ISO-2022-JP"},
#else
      {"ISO-2022-JP", "<?xml encoding='ISO-2022-JP'?>\x1B$BF|\x1B(B",
       "UTF-8 mark 0 decoded <?xml encoding='ISO-2022-JP'?>日"},
#endif
      {"unknown", "<?xml encoding='x-unknown'?>", "error: Unsupported encoding x-unknown"},
      {"an encoding name before the end of the head", longDeclaration,
       "UTF-8 mark 0 decoded " + longDeclaration},
      {"an encoding name past the head", "<?xml version='1.0'" + spaces + "encoding='Shift_JIS'?>",
       "error: the XML declaration does not end within the first 1024 bytes"},
      // What the parser refuses or does not take for the declaration.
      {"unquoted", "<?xml encoding=Shift_JIS?>", "UTF-8 mark 0"},
      {"iconv's options", "<?xml encoding='SHIFT_JIS//IGNORE'?>", "UTF-8 mark 0"},
      {"a processing instruction", "<?xml-model encoding='Shift_JIS'?>", "UTF-8 mark 0"},
      {"not at the start", " <?xml encoding='Shift_JIS'?>", "UTF-8 mark 0"},
      {"after the declaration", "<?xml version='1.0'?><r encoding='Shift_JIS'/>", "UTF-8 mark 0"},
      {"cut short by the end of the document", "<?xml encoding='Shift_JIS", "UTF-8 mark 0"},
      {"U+0127 is not a quote", utf16le(U"<?xml encoding='UTF-8\u0127?>"), "UTF-16LE mark 0"},
      // Contradictions.
      {"UTF-8 mark, Shift_JIS declared", "\xEF\xBB\xBF<?xml encoding='Shift_JIS'?>",
       "error: the byte-order mark says UTF-8 but the declaration says Shift_JIS; to mend it, "
       "declare encoding=\"UTF-8\" (or leave the encoding out), or save the document in Shift_JIS "
       "without the byte-order mark"},
      {"UTF-16LE mark, UTF-8 declared", "\xFF\xFE" + utf16le(declaring(U"UTF-8")),
       "error: the byte-order mark says UTF-16LE but the declaration says UTF-8; to mend it, "
       "declare encoding=\"UTF-16\" (or leave the encoding out), or save the document in UTF-8 "
       "without the byte-order mark"},
      {"UTF-16LE mark, UTF-16BE declared", "\xFF\xFE" + utf16le(declaring(U"UTF-16BE")),
       "error: the byte-order mark says UTF-16LE but the declaration says UTF-16BE; to mend it, "
       "declare encoding=\"UTF-16\" (or leave the encoding out), or save the document in UTF-16BE "
       "without the byte-order mark"},
      {"UTF-32LE mark, UTF-16 declared", "\xFF\xFE\0\0"s + utf32le(declaring(U"UTF-16")),
       "error: the byte-order mark says UTF-32LE but the declaration says UTF-16; to mend it, "
       "declare encoding=\"UTF-32\" (or leave the encoding out), or save the document in UTF-16 "
       "without the byte-order mark"},
      // expat would read the characters by their look, whatever the mark.
      {"UTF-8 mark, UTF-16LE characters", "\xEF\xBB\xBF" + utf16le(U"<r/>"),
       "error: the byte-order mark says UTF-8 but the first characters are in UTF-16LE; to mend "
       "it, save the document again in one encoding"},
      {"UTF-16LE mark, UTF-16BE characters", "\xFF\xFE" + utf16be(U"<r/>"),
       "error: the byte-order mark says UTF-16LE but the first characters are in UTF-16BE; to mend "
       "it, save the document again in one encoding"},
      {"UTF-16BE first characters, ISO-8859-1 declared", utf16be(declaring(U"ISO-8859-1")),
       "error: the first characters are in UTF-16BE but the declaration says ISO-8859-1; to mend "
       "it, declare encoding=\"UTF-16\" (or leave the encoding out), or save the document in "
       "ISO-8859-1"},
      {"one-byte units, UTF-16 declared", "<?xml encoding='utf-16'?>",
       "error: the first characters are one byte each but the declaration says utf-16; to mend it, "
       "declare the encoding the document is saved in (UTF-8 when unsure), or save it in utf-16"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(chosen(c.head), c.chosen) << c.what;
  }
}

// `bytes` decoded by a new decoder of `encoding` in two calls, the first
// ending at `cut`: the UTF-8, and where an invalid sequence stopped it.
std::string decodedInTwo(const char* encoding, std::string_view bytes, std::size_t cut) {
  const std::unique_ptr<Decoder> decoder = openDecoder(encoding);
  if (decoder == nullptr) return "no decoder";
  std::string out;
  const Decoder::Result first = decoder->decode(bytes.substr(0, cut), false, out);
  if (first.invalid) return out + " | invalid at " + std::to_string(first.consumed);
  const Decoder::Result second = decoder->decode(bytes.substr(first.consumed), true, out);
  if (second.invalid) {
    return out + " | invalid at " + std::to_string(first.consumed + second.consumed);
  }
  return out;
}

std::string repeated(std::string_view text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

TEST(InputEncodingTest, DecodesTheSameWhereverTheInputIsCut) {
  struct Case {
    const char* encoding;
    std::string bytes;
    std::string decoded;
  };
  const Case cases[] = {
      {"SHIFT_JIS", "C:\\dir ~ \x87\x40\x93\xFA\x96\x7B\xB1", "C:\\dir ~ ①日本ｱ"},
      {"EUC-JP", "\\~\xC6\xFC\xCB\xDC\x8E\xB1\xAD\xA1", "\\~日本ｱ①"},
      {"UTF-32LE", utf32le(U"a\U0001F600"), "a😀"},
      {"UTF-32BE", utf32be(U"a\U0001F600"), "a😀"},
      {"GBK", "a\xC8\xD5\xB1\xBE", "a日本"},
      {"BIG5", "a\xA4\xE9\xA5\xBB", "a日本"},
      {"EUC-KR", "a\xEC\xED\xDC\xE2", "a日本"},
      {"KOI8-R", "\xF0\xD2\xC9", "При"},
      {"ISO-8859-15", "\xA4", "€"},
      // Blocks of input and of output end within it.
      {"CP932", repeated("\x93\xFA", 7000), repeated("日", 7000)},
      // An invalid sequence keeps what precedes it.
      {"SHIFT_JIS", "ab\x85\x40", "ab | invalid at 2"},
      {"SHIFT_JIS", "a\x93", "a | invalid at 1"},
      {"EUC-JP", "a\xA0z", "a | invalid at 1"},
      {"UTF-32LE", utf32le(U"a") + "\0\0\x11\0"s, "a | invalid at 4"},
      {"UTF-32BE", utf32be(U"a") + "\0\0"s, "a | invalid at 4"},
      {"CP932", repeated("\x93\xFA", 7000) + "\x85\x40",
       repeated("日", 7000) + " | invalid at 14000"},
#ifndef _WIN32
      // Wine's code page 20932 misreads JIS X 0212; Windows reads no ISO-2022-JP.
      {"EUC-JP", "a\x8F\xB0\xA1", "a丂"},
      {"ISO-2022-JP", "\x1B$BF|K\\\x1B(Ba", "日本a"},
      {"ISO-2022-JP", "a\x1B$Bx", "a | invalid at 4"},
#endif
  };
  for (const Case& c : cases) {
    // Long inputs are cut at fewer places, some of them within a character.
    const std::size_t step = c.bytes.size() < 100 ? 1 : 101;
    for (std::size_t cut = 0; cut <= c.bytes.size(); cut += step) {
      EXPECT_EQ(decodedInTwo(c.encoding, c.bytes, cut), c.decoded) << c.encoding << " cut " << cut;
    }
  }
}

TEST(InputEncodingTest, OpensDecodersByPlainNamesOnly) {
  // glibc takes options after "/", drops the characters that its names lack
  // and reads the empty name as the locale's encoding.
  struct Case {
    std::string name;
    bool opens;
  };
  const Case cases[] = {
      {"shift_jis", true},
      {"SHIFT_JIS//IGNORE", false},
      {"SHIFT_JIS//TRANSLIT", false},
      {"SHIFT_JIS/", false},
      {"(SHIFT_JIS)", false},
      {"SHIFT_JIS\x01", false},
      {"SHIFT_JIS" + std::string(56, ' '), false},
      {"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(openDecoder(c.name) != nullptr, c.opens) << ::testing::PrintToString(c.name);
  }
}

}  // namespace
}  // namespace quarvel
