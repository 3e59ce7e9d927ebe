// How a document's bytes reach the parser. expat reads UTF-8, UTF-16 in
// either byte order, ISO-8859-1 and US-ASCII itself; every other encoding is
// decoded to UTF-8 in front of it, by the platform's converters (iconv on
// Linux, the code pages on Windows). The encoding is told by the start of
// the document alone: a byte-order mark, the first characters, and the XML
// declaration's encoding name.
#ifndef QUARVEL_DOCUMENT_INPUT_ENCODING_H_
#define QUARVEL_DOCUMENT_INPUT_ENCODING_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "document/error_reasons.h"

namespace quarvel {

// Decodes one document from an encoding that expat does not read to UTF-8.
// Stateful encodings (ISO-2022-JP) keep their shift state from one call to
// the next.
class Decoder {
 public:
  virtual ~Decoder() = default;

  struct Result {
    std::size_t consumed = 0;  // bytes of `in` decoded
    bool invalid = false;      // stopped at a sequence the encoding does not allow or map
  };

  // Decodes the leading bytes of `in` that form whole characters and appends
  // them to `out` as UTF-8. A character cut short at the end of `in` is left
  // for the next call, with more bytes in front of it; with `final` (no more
  // bytes follow) it is invalid. Stops before the first invalid sequence,
  // with `invalid` set: everything before it has been appended. Throws
  // std::bad_alloc when memory runs out.
  virtual Result decode(std::string_view in, bool final, std::string& out) = 0;
};

// Why the start of a document rules out reading it at all.
enum class EncodingError {
  kNone,
  // A byte-order mark or first characters that contradict the declared
  // encoding, or an XML declaration too long to tell (see
  // kEncodingHeadBytes).
  kIncorrect,
  // An encoding that this platform cannot decode.
  kUnsupported,
};

// What the start of a document says about its encoding.
struct EncodingChoice {
  // The encoding that expat is created with, which overrides what the
  // declaration says: "UTF-8", "UTF-16LE", "UTF-16BE", "ISO-8859-1" or
  // "US-ASCII"; "UTF-8" when `decoder` is set.
  const char* parserEncoding = "UTF-8";
  // Bytes of a byte-order mark at the start, which the parser never sees.
  std::size_t byteOrderMark = 0;
  // Set when the document's bytes are decoded in front of the parser; never
  // with an error.
  std::unique_ptr<Decoder> decoder;
  // Why the document cannot be read at all (kNone when it can), and the
  // message that says so, empty exactly with kNone: printable ASCII, no
  // line end ("Unsupported encoding NAME" for kUnsupported).
  EncodingError errorKind = EncodingError::kNone;
  std::string error;
  // The encoding the document is read in and what told it, for messages.
  EncodingInForce inForce;
};

// The start of a document that chooseEncoding() needs: this many bytes, or
// all of a shorter document; it reads no further. An XML declaration that
// the end of a shorter document cuts short, or whose encoding name breaks
// its syntax, is left for the parser to judge (and the document read as
// UTF-8, or as what its mark or first characters show). One that runs past
// this many bytes before its encoding name is an error: the name could be
// in what follows.
inline constexpr std::size_t kEncodingHeadBytes = 1024;

// Chooses how to read a document whose first bytes are `head` (see
// kEncodingHeadBytes). Names are matched without regard to case. Throws
// std::bad_alloc when memory runs out.
EncodingChoice chooseEncoding(std::string_view head);

// Whether `a` and `b` are the same encoding name, ASCII letters compared
// without regard to case (never as the locale compares them).
bool sameEncodingName(std::string_view a, std::string_view b);

// A decoder from the encoding named `name` (as a document declares it, any
// case) to UTF-8, or null when this platform cannot decode it. Part of
// chooseEncoding(), per platform.
std::unique_ptr<Decoder> openDecoder(std::string_view name);

}  // namespace quarvel

#endif  // QUARVEL_DOCUMENT_INPUT_ENCODING_H_
