// Messages to the user: formatted from UTF-16 and written to a stream in the
// character set of the user's locale (on Windows: to a console as they
// stand, elsewhere in the ANSI code page).
#ifndef QUARVEL_FRONTEND_MESSAGES_H_
#define QUARVEL_FRONTEND_MESSAGES_H_

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace quarvel {

using MessageArgument = std::variant<std::u16string_view, int32_t>;

// Formats `format`, where %s takes the next string argument and %d the next
// integer (%% is a percent sign), and writes the text to `stream` with
// writeMessageText (a character that its character set cannot represent
// becomes "?"). A text longer than 1039 code units is cut to that length inside
// its string arguments: the longest ones are shortened to a length they then
// share (so a long reason is cut inside the reason), a surrogate pair is
// never split, and an argument's final line end is always kept. Returns the
// number of UTF-16 code units written.
int printMessage(std::FILE* stream, std::u16string_view format,
                 std::initializer_list<MessageArgument> arguments);

// The text that printMessage would write, cut the same way, for a caller
// that gathers many messages and writes them together.
std::u16string formatMessage(std::u16string_view format,
                             std::initializer_list<MessageArgument> arguments);

}  // namespace quarvel

#endif  // QUARVEL_FRONTEND_MESSAGES_H_
