// What the program needs from the operating system around standard output,
// standard error and the output file of -o: platform_posix.cc on Linux,
// platform_windows.cc on Windows.
#ifndef QUARVEL_PLATFORM_PLATFORM_H_
#define QUARVEL_PLATFORM_PLATFORM_H_

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "platform/byte_sink.h"

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

// Where the full manual is, for the end of --help: a man page on Linux, the
// plain-text manual in the zip on Windows.
extern const char kWhereTheManualIs[];

// A file replaced whole or not at all: the bytes go to a temporary file of
// its own beside it, which takes its place only when the run succeeded.
struct ReplacementFile {
  int descriptor = -1;    // the C runtime's descriptor of the temporary file
  std::string path;       // the file to replace (UTF-8)
  std::string temporary;  // the temporary file's name (UTF-8)
};

// The reason given when the file to replace exists but is not a regular file
// (a directory, a device, a link): it is never replaced.
inline constexpr const char kNotARegularFile[] = "not a regular file";

// Creates the temporary file for replacing `path` (UTF-8), exclusively and
// under a name of its own beside `path`, and fills `file`. It gets the
// permission bits of `path` when that exists, and 0666 less the umask
// otherwise (on Windows the folder's defaults). Returns the reason, in UTF-8
// without a line end, when it cannot be created; nothing is left behind then.
// On Linux, until endReplacement, SIGINT, SIGTERM, SIGHUP and SIGPIPE (those
// not ignored) remove the temporary file and then end the program by the
// same signal; one replacement at a time.
std::optional<std::string> beginReplacement(const std::string& path, ReplacementFile& file);

enum class Replacement { kCommit, kDiscard };

// Ends what beginReplacement began. kCommit flushes the temporary file to
// the disk, closes it and renames it over `path` (on Windows, replacing it);
// kDiscard closes and removes it. When committing fails, the temporary file
// is removed, `path` is as it was, and the reason is returned. Either way the
// signals' dispositions are back as they were before beginReplacement.
std::optional<std::string> endReplacement(ReplacementFile& file, Replacement how);

}  // namespace quarvel

#endif  // QUARVEL_PLATFORM_PLATFORM_H_
