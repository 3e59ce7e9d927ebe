// How loading a document failed: the codes and the place of the first error.
#ifndef QUARVEL_DOCUMENT_PARSE_ERROR_H_
#define QUARVEL_DOCUMENT_PARSE_ERROR_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "base/utf.h"

namespace quarvel {

// ParseError::errorCode values of locations that yield no bytes to parse and
// of documents without a root element, and of documents that pass a bound of
// the parser driver. Other parse errors use the negated expat error number
// (XML_Error) instead, which stays above -10000.
enum ParseErrorCode : int32_t {
  kCannotReadLocation = -10001,
  kCannotFetchLocation = -10002,
  kUnsupportedLocation = -10003,
  kNoDocumentElement = -10004,
  kParserLimit = -10005,
};

// Why the last load did not give a usable document. `errorCode` is 0 after a
// successful load and negative after a failed one: the negated expat error
// number when the document is not (namespace-)well-formed, cannot be decoded
// or passes expat's amplification limit; kParserLimit when it passes a bound
// of the driver (nesting, declared defaults); kCannotReadLocation when a file, file: URL or
// standard input cannot be read, kCannotFetchLocation when an http(s) transfer fails (before or in
// the middle of the body) or answers with a status other than 2xx,
// kUnsupportedLocation for another URL scheme, kNoDocumentElement for a
// document without a root element. `line` is 0 exactly when the location could not be read
// at all (the short message form applies); otherwise `line` and `linepos`,
// counted from 1, place the first error. `url` is the location as given;
// `reason` ends with a line end.
struct ParseError {
  int32_t errorCode = 0;
  int32_t line = 0;
  int32_t linepos = 0;
  std::u16string url;
  std::u16string reason;
};

// `reason` (UTF-8) as ParseError::reason has it: UTF-16 ending with a line
// end. Throws std::bad_alloc when memory runs out.
inline std::u16string reasonWithLineEnd(std::string_view reason) {
  std::u16string text = toUtf16(reason);
  if (text.empty() || text.back() != u'\n') text.push_back(u'\n');
  return text;
}

// An error at `line` and `column` (from 1) of the document, `url` left empty
// for the caller. Throws std::bad_alloc when memory runs out.
inline ParseError errorAt(int32_t code, int32_t line, int32_t column, std::string_view reason) {
  return {code, line, column, {}, reasonWithLineEnd(reason)};
}

// An error of a location that yields no bytes, or stopped yielding them: the
// short form, `line` 0. Throws std::bad_alloc when memory runs out.
inline ParseError readError(int32_t code, std::string_view reason) {
  return errorAt(code, 0, 0, reason);
}

}  // namespace quarvel

#endif  // QUARVEL_DOCUMENT_PARSE_ERROR_H_
