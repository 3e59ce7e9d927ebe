// Helpers for tests that compare whole outputs: expected rows are written as
// UTF-16 strings, one per source line, and failures print both sides decoded
// so that a person can read them.
#ifndef QUARVEL_TEST_SUPPORT_UTF16_H_
#define QUARVEL_TEST_SUPPORT_UTF16_H_

#include <initializer_list>
#include <string>
#include <string_view>

namespace quarvel::testing {

// UTF-16LE bytes of `text`, no byte-order mark.
std::string utf16le(std::u16string_view text);
// Each row as UTF-16LE followed by CR LF.
std::string rows(std::initializer_list<std::u16string_view> lines);
// UTF-16LE bytes (an odd trailing byte is shown as such) as UTF-8, with CR
// and LF shown as \r and \n and a line break after each \n.
std::string readable(std::string_view bytes);

}  // namespace quarvel::testing

#endif  // QUARVEL_TEST_SUPPORT_UTF16_H_
