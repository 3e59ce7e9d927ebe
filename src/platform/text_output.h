// The formatted text on its way out, and the other texts of the program:
// encoders that write UTF-16 code units in one of the output's forms, the
// terminal, standard error's messages.
#ifndef QUARVEL_PLATFORM_TEXT_OUTPUT_H_
#define QUARVEL_PLATFORM_TEXT_OUTPUT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "base/utf16.h"
#include "platform/byte_sink.h"

namespace quarvel {

// Takes the formatted text as UTF-16 code units and row ends and writes it in
// one form. Units wait in a buffer of the encoder's own and are encoded a
// buffer at a time; flush() hands everything on. Failures are sticky, as in
// a ByteSink: later text is dropped and the caller checks once, at the end.
// No call throws.
class TextEncoder {
 public:
  TextEncoder(const TextEncoder&) = delete;
  TextEncoder& operator=(const TextEncoder&) = delete;
  virtual ~TextEncoder() = default;

  // Starts the stream: the byte-order mark, in the forms that have one.
  virtual void start() {}
  void put(char16_t unit) {
    if (used_ == kBufferUnits) drain();
    units_[used_++] = unit;
  }
  // `count` spaces; nothing when `count` is not positive. Gives up once the
  // output has failed, so that an absurd count does not spin.
  void putSpaces(int64_t count);
  // Ends a row: CR LF or LF, as the form has it.
  void endRow() {
    for (char16_t unit : rowEnd_) put(unit);
  }
  // Encodes every waiting unit and hands the result on. Returns false once
  // any write has failed.
  bool flush();
  bool failed() const { return error() != 0; }
  // The errno value of the first failure, 0 while there was none.
  virtual int error() const = 0;

  // The most units that encode() is given at once.
  static constexpr std::size_t kBufferUnits = 2048;

 protected:
  explicit TextEncoder(std::u16string_view rowEnd) : rowEnd_(rowEnd) {}
  // Writes `count` units (at most kBufferUnits) in the encoder's form.
  virtual void encode(const char16_t* units, std::size_t count) = 0;
  // Hands the encoded text on; returns false once any write has failed.
  virtual bool flushEncoded() = 0;

 private:
  void drain() {
    encode(units_, used_);
    used_ = 0;
  }

  std::u16string_view rowEnd_;
  char16_t units_[kBufferUnits];
  std::size_t used_ = 0;
};

// Writes `count` units to `bytes` as UTF-16 little endian.
void writeUtf16le(ByteSink& bytes, const char16_t* units, std::size_t count);

// The normal output: UTF-16 little endian, byte-order mark FF FE, CR LF row
// ends; every unit as it is, unpaired surrogates included. `bytes` must
// outlive the encoder.
class Utf16Encoder : public TextEncoder {
 public:
  explicit Utf16Encoder(ByteSink& bytes) : TextEncoder(u"\r\n"), bytes_(bytes) {}
  void start() override { put(u'\uFEFF'); }
  int error() const override { return bytes_.error(); }

 protected:
  void encode(const char16_t* units, std::size_t count) override {
    writeUtf16le(bytes_, units, count);
  }
  bool flushEncoded() override { return bytes_.flush(); }

 private:
  ByteSink& bytes_;
};

namespace text_output_detail {
// The sink of a MemoryText, a base so that it is built before the encoder.
struct MemoryBytes {
  explicit MemoryBytes(std::size_t limit) : memory(limit) {}
  MemorySink memory;
};
}  // namespace text_output_detail

// The normal output collected in memory, for tests and the fuzzer. With a
// limit, writing past it fails like a full disk (ENOSPC).
class MemoryText final : private text_output_detail::MemoryBytes, public Utf16Encoder {
 public:
  explicit MemoryText(std::size_t limit = SIZE_MAX) : MemoryBytes(limit), Utf16Encoder(memory) {}
  // Everything written so far (flushes first).
  const std::string& bytes() {
    flush();
    return memory.bytes();
  }
};

// The code points of text meant for a person: U+000D is dropped (rows end in
// LF), a surrogate pair becomes its code point and an unpaired surrogate
// U+FFFD. A high surrogate waits for the next unit, across calls; one still
// waiting when the text ends is never given.
class ReadableCodePoints {
 public:
  template <typename Take>
  void read(const char16_t* units, std::size_t count, Take&& take) {
    for (std::size_t i = 0; i < count; ++i) {
      const char16_t unit = units[i];
      if (high_ != 0) {
        const char16_t high = high_;
        high_ = 0;
        if (isLowSurrogate(unit)) {
          take(combineSurrogates(high, unit));
          continue;
        }
        take(char32_t{0xFFFD});
      }
      if (isHighSurrogate(unit)) {
        high_ = unit;
      } else if (isLowSurrogate(unit)) {
        take(char32_t{0xFFFD});
      } else if (unit != u'\r') {
        take(char32_t{unit});
      }
    }
  }

 private:
  char16_t high_ = 0;  // waiting for its low half; 0 when none
};

// --utf-8 and terminals: UTF-8 without a byte-order mark, LF row ends, the
// code points of ReadableCodePoints. For valid text the bytes are what
// `iconv -f UTF-16 -t UTF-8 | tr -d '\r'` makes of the normal output.
// `bytes` must outlive the encoder.
class Utf8Encoder final : public TextEncoder {
 public:
  explicit Utf8Encoder(ByteSink& bytes) : TextEncoder(u"\n"), bytes_(bytes) {}
  int error() const override { return bytes_.error(); }

 protected:
  void encode(const char16_t* units, std::size_t count) override;
  bool flushEncoded() override { return bytes_.flush(); }

 private:
  ByteSink& bytes_;
  ReadableCodePoints codePoints_;
};

// Readies standard output for the formatted bytes, before the first of them:
// on Windows it leaves text mode, which would turn every LF into CR LF.
void prepareStandardOutput();

// Whether a person reads standard output: a terminal on Linux, a console on
// Windows.
bool standardOutputIsTerminal();

// The text for that person: UTF-8 on standard output on Linux; on Windows
// the console itself, written in UTF-16 whatever its code page (with the
// code points of ReadableCodePoints and LF row ends). Lives for the whole
// process.
TextEncoder& terminalOutput();

// Writes the text of a message to `stream` (standard error) and flushes it:
// in the locale's character set on Linux; on Windows to a console as it
// stands, and otherwise in the ANSI code page. A character that the
// character set cannot represent becomes "?".
void writeMessageText(std::FILE* stream, std::u16string_view text);

// Where the full manual is, for the end of --help: a man page on Linux, the
// plain-text manual in the zip on Windows.
extern const char kWhereTheManualIs[];

}  // namespace quarvel

#endif  // QUARVEL_PLATFORM_TEXT_OUTPUT_H_
