// What the program needs from the operating system around standard output
// and standard error: platform_posix.cc on Linux, platform_windows.cc on
// Windows.
#ifndef QUARVEL_FRONTEND_PLATFORM_H_
#define QUARVEL_FRONTEND_PLATFORM_H_

#include <cstdio>
#include <string_view>

#include "layout/byte_sink.h"

namespace quarvel {

// Readies standard output for the formatted bytes, before the first of them:
// on Windows it leaves text mode, which would turn every LF into CR LF.
void prepareStandardOutput();

// Whether a person reads standard output: a terminal on Linux, a console on
// Windows.
bool standardOutputIsTerminal();

// Where text for that person goes, as UTF-8: standard output on Linux; on
// Windows the console itself, which is written in UTF-16 whatever its code
// page.
ByteSink& terminalOutput();

// Writes the text of a message to `stream` (standard error) and flushes it:
// in the locale's character set on Linux; on Windows to a console as it
// stands, and otherwise in the ANSI code page. A character that the
// character set cannot represent becomes "?".
void writeMessageText(std::FILE* stream, std::u16string_view text);

}  // namespace quarvel

#endif  // QUARVEL_FRONTEND_PLATFORM_H_
