// Conversions between UTF-8 and UTF-16, shared by the document layer, the
// messages and the tests.
#ifndef QUARVEL_BASE_UTF_H_
#define QUARVEL_BASE_UTF_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarvel {

// `utf8` as UTF-16. Invalid UTF-8 becomes U+FFFD, one per offending byte,
// so any bytes convert. Stops before the code unit after `maxUnits`, and
// before a surrogate pair that would not fit whole.
std::u16string toUtf16(std::string_view utf8, std::size_t maxUnits = SIZE_MAX);

// Writes `utf8` as UTF-16 to `out`, which has room for utf8.size() units,
// and returns the units written: the fast path for text that is known to be
// valid, as the parser hands it out. An invalid byte still becomes U+FFFD.
std::size_t writeUtf16(std::string_view utf8, char16_t* out);

// Appends code point `cp` (at most U+10FFFF; a surrogate is written like any
// other code point) to `out` as UTF-8.
void appendUtf8(std::string& out, char32_t cp);

// The code point that starts at utf16[i] (i < utf16.size()), a surrogate pair
// taken whole; an unpaired surrogate is returned as itself. Advances `i`
// past it.
char32_t nextCodePoint(std::u16string_view utf16, std::size_t& i);

// `utf16` as UTF-8; no value when it holds an unpaired surrogate.
std::optional<std::string> toUtf8(std::u16string_view utf16);

}  // namespace quarvel

#endif  // QUARVEL_BASE_UTF_H_
