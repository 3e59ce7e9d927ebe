// The web build: the host's TextDecoder (the WHATWG Encoding Standard, in
// browsers and in Node) decodes what expat does not read. Its Shift_JIS is
// Windows' code page 932 and its EUC-JP takes the vendor rows as well, so
// the Japanese names keep their meaning; every other name is the host's
// label, and a name the host does not know is unsupported.
#include <emscripten/emscripten.h>

#include <new>

#include "document/input_encoding.h"
#include "document/japanese_encodings.h"

// The decoders live on the JavaScript side, in a table of the module's own,
// by handle. Decoded text waits there until it is taken as UTF-8.
// clang-format off
EM_JS(int, quarvel_decoder_open, (const char* name, int length), {
  const label = UTF8ToString(name, length);
  let decoder;
  try {
    decoder = new TextDecoder(label, {fatal: true});
  } catch (error) {
    return 0;
  }
  const table = Module.quarvelDecoders || (Module.quarvelDecoders = {next: 1});
  const handle = table.next++;
  table[handle] = {decoder: decoder, label: label, text: ""};
  // Node 20 decodes windows-1252 (and every label of it) as ISO-8859-1:
  // there its bytes 0x80 to 0x9F are mapped here, as the standard maps them.
  if (decoder.encoding === "windows-1252" &&
      new TextDecoder("windows-1252").decode(new Uint8Array([0x80])).charCodeAt(0) !== 0x20AC) {
    table[handle].high = String.fromCharCode(
        0x20AC, 0x81, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x8D, 0x017D, 0x8F, 0x90, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013,
        0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D, 0x017E, 0x0178);
  }
  return handle;
});

// Decodes `length` bytes at `data`; returns the UTF-8 length of the text
// decoded, which waits for quarvel_decoder_take. At an invalid sequence, it
// finds the longest prefix that decodes (a fresh decoder on each try, from
// the start of these bytes), keeps its text, and sets *invalidAt to its
// length; otherwise *invalidAt is -1.
EM_JS(int, quarvel_decoder_decode, (int handle, const char* data, int length, int final,
                                     int* invalidAt), {
  const entry = Module.quarvelDecoders[handle];
  const bytes = HEAPU8.subarray(data, data + length);
  HEAP32[invalidAt >> 2] = -1;
  if (entry.high) {
    let text = "";
    for (const byte of bytes) {
      text += byte >= 0x80 && byte < 0xA0 ? entry.high[byte - 0x80] : String.fromCharCode(byte);
    }
    entry.text = text;
    return lengthBytesUTF8(entry.text);
  }
  try {
    entry.text = entry.decoder.decode(bytes, {stream: !final});
  } catch (error) {
    const decodes = (count) => {
      try {
        new TextDecoder(entry.label, {fatal: true}).decode(bytes.subarray(0, count), {stream: true});
        return true;
      } catch (again) {
        return false;
      }
    };
    let good = 0;
    let bad = length;
    while (bad - good > 1) {
      const middle = (good + bad) >>> 1;
      if (decodes(middle)) good = middle; else bad = middle;
    }
    entry.text = new TextDecoder(entry.label).decode(bytes.subarray(0, good), {stream: true});
    HEAP32[invalidAt >> 2] = good;
  }
  return lengthBytesUTF8(entry.text);
});

EM_JS(void, quarvel_decoder_take, (int handle, char* out, int room), {
  const entry = Module.quarvelDecoders[handle];
  stringToUTF8(entry.text, out, room + 1);
  entry.text = "";
});

EM_JS(void, quarvel_decoder_close, (int handle), {
  delete Module.quarvelDecoders[handle];
});
// clang-format on

namespace quarvel {
namespace {

class HostDecoder final : public Decoder {
 public:
  explicit HostDecoder(int handle) : handle_(handle) {}
  ~HostDecoder() override { quarvel_decoder_close(handle_); }
  HostDecoder(const HostDecoder&) = delete;
  HostDecoder& operator=(const HostDecoder&) = delete;

  Result decode(std::string_view in, bool final, std::string& out) override {
    int invalidAt = -1;
    const int length = quarvel_decoder_decode(handle_, in.data(), static_cast<int>(in.size()),
                                              final ? 1 : 0, &invalidAt);
    const std::size_t start = out.size();
    // stringToUTF8 ends the text with a NUL, which the resize makes room for
    // and then drops.
    out.resize(start + static_cast<std::size_t>(length) + 1);
    quarvel_decoder_take(handle_, out.data() + start, length);
    out.resize(start + static_cast<std::size_t>(length));
    if (invalidAt >= 0) return {static_cast<std::size_t>(invalidAt), true};
    return {in.size(), false};
  }

 private:
  int handle_;
};

}  // namespace

std::unique_ptr<Decoder> openDecoder(std::string_view name) {
  std::string_view label = name;
  if (const auto japanese = findJapaneseEncoding(name)) {
    label = *japanese == JapaneseEncoding::kCodePage932 ? "shift_jis" : "euc-jp";
  }
  const int handle = quarvel_decoder_open(label.data(), static_cast<int>(label.size()));
  if (handle == 0) return nullptr;
  return std::make_unique<HostDecoder>(handle);
}

}  // namespace quarvel
